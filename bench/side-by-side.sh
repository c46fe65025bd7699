#!/bin/sh
# Several builds' codec speed against the same peers in one run, one build
# after the other within every case: first the benchmarks' in-process ratios
# (bench-ratios.py), then the whole-process ones of velmora-codec
# (codec-vs-peers.py), with medians and the load average. For comparing a
# tree before a change with one after it on the same machine and load.
#   bench/side-by-side.sh label=build-dir ...     (RUNS=n repeats, default 3 and 5)
set -eu
here=$(dirname "$0")
python3 "$here/bench-ratios.py" --runs "${RUNS:-3}" "$@"
python3 "$here/codec-vs-peers.py" --runs "${RUNS:-5}" "$@"
