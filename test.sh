#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test through CTest.
#   ./test.sh              normal build in build/
#   ./test.sh --sanitize   ASan + UBSan build in build-sanitize/
#   ./test.sh --tsan       ThreadSanitizer build in build-tsan/
set -euo pipefail
cd "$(dirname "$0")"
dir=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_WERROR=ON)
stations=4  # program tests at once (see tests/CMakeLists.txt)
case "${1:-}" in
  --sanitize)
    # clang, so that the libFuzzer targets build and run here too.
    dir=build-sanitize
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=ON -DVELMORA_BENCH=OFF -DVELMORA_WERROR=ON
           -DVELMORA_FUZZ=ON -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++)
    stations=3 ;;
  --tsan)
    dir=build-tsan; stations=3
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_TSAN=ON -DVELMORA_BENCH=OFF -DVELMORA_WERROR=ON) ;;
  "") ;;
  *) echo "usage: $0 [--sanitize|--tsan]" >&2; exit 2 ;;
esac
./tools/setup-debian.sh
# A compiler cache makes the second and later runs of each build type quick.
if command -v ccache > /dev/null; then
  flags+=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  # The test programs' shared headers are precompiled; the cache takes those compiles only so.
  export CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
fi
cmake -S . -B "$dir" -G Ninja "${flags[@]}"
cmake --build "$dir" -j "$(nproc)"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export LSAN_OPTIONS="suppressions=$PWD/tools/lsan-suppressions.txt:print_suppressions=0"
export TSAN_OPTIONS="suppressions=$PWD/tools/tsan-suppressions.txt"
# The window tests need a display; Xvfb gives them one. Without -noreset the
# server resets whenever its last client leaves, and a test that connects just
# then finds no display.
# A case that fails once is a failing case: nothing is run again.
printf '{"version": {"major": 1, "minor": 0}, "local": [{"stations": [{"id": "0", "slots": %d}]}]}\n' "$stations" \
  > "$dir/stations.json"
run=(ctest --test-dir "$dir" --output-on-failure -j "$(nproc)" --timeout 300 --resource-spec-file "$PWD/$dir/stations.json")
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then
  xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "${run[@]}"
else
  "${run[@]}"
fi
