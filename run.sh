#!/usr/bin/env bash
# Installs what is missing, builds, and starts Velmora.
set -euo pipefail
cd "$(dirname "$0")"
./tools/setup-debian.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build
# The station's own files (settings, phonebook, logs) live in station/,
# which git ignores: a first run leaves the checkout clean.
mkdir -p station
cd station
exec ../build/app/Velmora "$@"
