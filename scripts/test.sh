#!/usr/bin/env bash
# Builds everything and runs every test: the unit, window and desktop tests
# (developer build, warnings as errors), the same unit tests under
# AddressSanitizer + UndefinedBehaviorSanitizer, and a bounded fuzzing run of
# the PDT loader.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

JOBS=$(nproc)
FUZZ_SECONDS=${QUILLON_FUZZ_SECONDS:-60}

echo "== developer build and tests"
cmake --preset dev >/dev/null
cmake --build --preset dev -j"$JOBS"
ctest --preset dev -j"$JOBS"

echo "== sanitizer build (ASan + UBSan) and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$JOBS"
ctest --preset asan -j"$JOBS"

echo "== fuzzing the PDT loader (${FUZZ_SECONDS}s) and the image plugin"
bash fuzz/run.sh build/asan "$FUZZ_SECONDS"

echo "== the web app: built for WebAssembly, tested in headless Chromium"
bash scripts/web.sh --build-only
ctest --preset web -L browser
