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

echo "== pdt2bmp.exe for Windows (MinGW-w64) and its tests under wine"
# One wine session for every test: started once and kept while they run.
export WINEPREFIX="$PWD/build/windows/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
wineserver -p
trap 'wineserver -k 2>/dev/null || true' EXIT
wine wineboot -i >/dev/null 2>&1
cmake --preset windows >/dev/null
cmake --build --preset windows -j"$JOBS"
ctest --preset windows -j"$JOBS"

echo "== sanitizer build (ASan + UBSan) and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j"$JOBS"
ctest --preset asan -j"$JOBS"

echo "== fuzzing the PDT loader (${FUZZ_SECONDS}s) and the image plugin"
bash fuzz/run.sh build/asan "$FUZZ_SECONDS"
