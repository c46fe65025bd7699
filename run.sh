#!/usr/bin/env bash
# Installs what is missing, builds, and starts Velmora.
set -euo pipefail
cd "$(dirname "$0")"
./tools/setup-debian.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
mkdir -p run
cd run
exec ../build/app/Velmora "$@"
