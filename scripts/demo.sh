#!/usr/bin/env bash
# Installs what is needed, builds, and shows the system working on virtual
# hardware: two virtual telephones under libtelhid, telsnd on a virtual sound
# card. Run as root (the virtual telephones' hot-plug messages need it).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
BUILD=${BUILD:-build/release}
LOG=$(mktemp /tmp/telhid-demo-build.XXXXXX)
echo "building the library, telsnd, the virtual hardware and the demo (a few minutes on a fresh machine)..."
if ! { cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo &&
       cmake --build "$BUILD" -j "$(nproc)" --target telhid telsnd telhid-monitor telhid-demo; } >"$LOG" 2>&1; then
  tail -n 40 "$LOG"
  echo "build failed; full log: $LOG"
  exit 1
fi
rm -f "$LOG"
if [ "$(id -u)" != 0 ]; then
  echo "note: not running as root; the telephones' hot-plug messages may not reach the library"
fi
echo
exec "$BUILD/tools/demo/telhid-demo" --telsnd "$PWD/$BUILD/audio/telsnd" \
  --vsnd "$PWD/$BUILD/tools/vsnd/libasound_module_pcm_vsnd.so"
