#!/usr/bin/env bash
# Builds and runs every test: the plain suite, the suite under
# AddressSanitizer + UndefinedBehaviorSanitizer, the concurrency tests under
# ThreadSanitizer, and each fuzz target for a short, bounded time.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-$(nproc)}
FUZZ_SECONDS=${FUZZ_SECONDS:-20}

bash scripts/install-deps.sh

stage() { printf '\n==== %s (at %ds) ====\n' "$*" "$SECONDS"; }

configure_build() {   # dir, cmake options...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j "$JOBS" 2>&1 | grep -E 'error|warning|Error' || true
  cmake --build "$dir" -j "$JOBS" >/dev/null   # fails the script on a build error
}

run_ctest() {         # dir, ctest options...
  local dir=$1; shift
  ctest --test-dir "$dir" -j "$JOBS" --output-on-failure --timeout 300 "$@"
}

stage "build and test"
configure_build build/release
run_ctest build/release

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
configure_build build/asan -DTELHID_SANITIZE=address,undefined -DTELHID_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_ctest build/asan

stage "ThreadSanitizer (concurrency tests)"
configure_build build/tsan -DTELHID_SANITIZE=thread -DTELHID_BENCH=OFF
# TSan needs a low-entropy address space layout on kernels with large mmap_rnd_bits.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
  setarch "$(uname -m)" -R ctest --test-dir build/tsan -j "$JOBS" --output-on-failure \
  --timeout 300 -L concurrency

stage "fuzzing (${FUZZ_SECONDS}s per target)"
CC=clang-14 CXX=clang++-14 cmake -S "$ROOT" -B build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DTELHID_FUZZ=ON -DTELHID_TESTS=OFF -DTELHID_BENCH=OFF >/dev/null
# Only the fuzz targets (and what they link) are built here.
mapfile -t targets < <(cmake --build build/fuzz --target help | sed -n 's/^\.\.\. \(fuzz_[A-Za-z0-9_]*\).*/\1/p')
if ((${#targets[@]})); then
  cmake --build build/fuzz -j "$JOBS" --target "${targets[@]}" >/dev/null
fi
mapfile -t fuzzers < <(find build/fuzz/fuzz -type f -executable -name 'fuzz_*' | sort)
for f in "${fuzzers[@]}"; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus=$(mktemp -d)
  [ -d "fuzz/corpus/$name" ] && cp -r "fuzz/corpus/$name/." "$corpus/"
  echo "fuzzing $name"
  "$f" "$corpus" -max_total_time="$FUZZ_SECONDS" -rss_limit_mb=2048 -print_final_stats=0 2>"$corpus.log" \
    || { tail -n 60 "$corpus.log"; echo "fuzz target $name failed"; exit 1; }
  rm -rf "$corpus" "$corpus.log"
done
echo "fuzz targets run: ${#fuzzers[@]}"

stage "all stages passed"
