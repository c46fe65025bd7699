#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the peers need, when missing.
set -euo pipefail
packages=(
  cmake ninja-build ccache g++ clang libclang-rt-14-dev pkg-config python3
  libgtest-dev libgmock-dev libbenchmark-dev
  libasound2-dev libwxgtk3.2-dev
  xvfb xauth
  sox libsox-fmt-mp3 ffmpeg mpg123 twolame lame dante-server espeak-ng
  jackd2 libjack-jackd2-dev pulseaudio pulseaudio-utils libpulse-dev libasound2-plugins alsa-utils
  iproute2 imagemagick xdotool valgrind linux-perf gdb
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  # jackd2 asks whether to allow real-time priority; the default answer is fine.
  echo "jackd2 jackd/tweak_rt_limits boolean false" | debconf-set-selections 2>/dev/null || true
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
