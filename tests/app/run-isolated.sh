#!/usr/bin/env bash
# Runs one program test with an X display and a registry of its own and,
# where we may make one, a network of its own (loopback only), so that program
# tests can run side by side: none finds or closes another's windows or reads
# another's registry, and every station may listen on its default ports.
# A test still running after VELMORA_STACKS_AFTER_S seconds (default 240, below
# CTest's limit) has the stacks of its processes printed, so a hang says where.
#   run-isolated.sh <test program> [arguments...]
set -euo pipefail

if [ "${VELMORA_OWN_NETWORK:-}" != done ] && unshare --net true 2>/dev/null; then
  export VELMORA_OWN_NETWORK=done
  exec unshare --net "$0" "$@"
fi
if [ "${VELMORA_OWN_NETWORK:-}" = done ]; then
  ip link set lo up
fi

scratch=$(mktemp -d)
server=""
cleanUp() {
  if [ -n "$server" ]; then
    kill "$server" 2>/dev/null || true
    wait "$server" 2>/dev/null || true
  fi
  rm -rf "$scratch"
}
trap cleanUp EXIT
export VELMORA_REGISTRY_FILE="$scratch/registry"
if ! command -v Xvfb >/dev/null; then
  "$@"  # the tests skip without a display
  exit
fi
numberFile="$scratch/display"
# The display number is chosen here, not by the server: a server in a network
# of its own cannot see another's abstract socket and would take the same
# number, and stations in further namespaces reach the display only by its
# socket file. A lock of ours per number keeps our own starts apart; the
# server's lock file keeps us from any other server.
display=""
for n in $(seq 200 999); do
  [ -e "/tmp/.X$n-lock" ] && continue
  exec 8>"/tmp/.velmora-display-$n.lock"
  if ! flock -n 8; then
    exec 8>&-
    continue
  fi
  : >"$numberFile"
  # -noreset: a server that resets as its last client leaves turns the next one away.
  Xvfb ":$n" -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$numberFile" >"$scratch/xvfb.log" 2>&1 8>&- &
  server=$!
  for _ in $(seq 600); do
    [ -s "$numberFile" ] && break
    kill -0 "$server" 2>/dev/null || break
    sleep 0.1
  done
  if [ -s "$numberFile" ]; then
    display=$n
    break
  fi
  kill "$server" 2>/dev/null || true
  wait "$server" 2>/dev/null || true
  server=""
  exec 8>&-
done
if [ -z "$display" ]; then
  echo "run-isolated.sh: no display server could be started:" >&2
  cat "$scratch/xvfb.log" >&2
  exit 1
fi
export DISPLAY=":$display"
unset XAUTHORITY

"$@" &
test=$!
(
  for _ in $(seq "${VELMORA_STACKS_AFTER_S:-240}"); do
    sleep 1
    kill -0 "$test" 2>/dev/null || exit 0
  done
  echo "run-isolated.sh: still running after ${VELMORA_STACKS_AFTER_S:-240} s; the stacks:" >&2
  for pid in "$test" $(pgrep -P "$test"); do
    echo "--- process $pid: $(tr '\0' ' ' <"/proc/$pid/cmdline" 2>/dev/null)" >&2
    gdb -p "$pid" -batch -ex "thread apply all bt" 2>&1 | grep -v '^\[New LWP\|^\[Thread debugging' >&2 || true
  done
) &
watcher=$!
status=0
wait "$test" || status=$?
kill "$watcher" 2>/dev/null || true
exit "$status"
