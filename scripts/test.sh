#!/usr/bin/env bash
# Builds everything and runs every test: the unit and window tests (optimised
# build), the same unit tests under AddressSanitizer + UndefinedBehaviorSanitizer,
# a bounded fuzzing run of the PDT loader, and the desktop smoke test.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

JOBS=$(nproc)
FUZZ_SECONDS=${QUILLON_FUZZ_SECONDS:-60}
export QT_QPA_PLATFORM=offscreen

echo "== release build and tests"
cmake -S . -B build/release -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/release -j"$JOBS"
ctest --test-dir build/release --output-on-failure -j"$JOBS"

echo "== sanitizer build (ASan + UBSan) and tests"
cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_COMPILER=clang++ \
  -DQUILLON_SANITIZE=ON -DQUILLON_BENCH=OFF -DQUILLON_FUZZ=ON >/dev/null
cmake --build build/asan -j"$JOBS"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build/asan --output-on-failure -j"$JOBS" -LE smoke

echo "== fuzzing the PDT loader for ${FUZZ_SECONDS}s"
bash fuzz/run.sh build/asan "$FUZZ_SECONDS"
