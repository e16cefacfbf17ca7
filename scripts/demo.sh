#!/usr/bin/env bash
# Installs what is needed, builds, and shows the system working on virtual hardware.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j "$(nproc)" >/dev/null
if [ -x build/release/tools/telhid-demo ]; then
  exec build/release/tools/telhid-demo
fi
echo "built: $(ls build/release/lib/manager/libtelhid.so* build/release/audio/telsnd 2>/dev/null | tr '\n' ' ')"
