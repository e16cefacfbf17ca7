#!/usr/bin/env bash
# Installs every package needed to build, test, fuzz and demo this project.
# Idempotent: when everything is present it only runs dpkg-query and exits.
set -euo pipefail

PACKAGES=(
  build-essential g++ cmake pkg-config git
  libhidapi-dev libudev-dev libjsoncpp-dev libusb-1.0-0-dev
  libasound2-dev libasound2-plugins libmp3lame-dev
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  alsa-utils sox lame python3 procps
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [ "$(id -u)" != 0 ]; then SUDO=sudo; fi
  export DEBIAN_FRONTEND=noninteractive
  $SUDO apt-get update -qq
  $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
