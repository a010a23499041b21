#!/usr/bin/env bash
# Builds everything and runs every test: the unit, window and desktop tests
# (developer build, warnings as errors), the core tests on an x86 processor
# without AVX, built for AArch64 and built for WebAssembly (each under an
# emulator), the web app in headless Chromium, pdt2bmp.exe under wine, the
# same unit tests under AddressSanitizer + UndefinedBehaviorSanitizer, and a
# bounded fuzzing run of the PDT loader and the image readers.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh

JOBS=$(nproc)
FUZZ_SECONDS=${QUILLON_FUZZ_SECONDS:-60}

echo "== developer build and tests"
cmake --preset dev >/dev/null
cmake --build --preset dev -j"$JOBS"
ctest --preset dev -j"$JOBS"

echo "== the core tests on a processor without AVX (qemu-x86_64 -cpu Nehalem)"
for t in pdt_header pdt_stream pdt_load pdt_differential pdt_small_window bmp_writer round_trip; do
  qemu-x86_64 -cpu Nehalem "build/dev/tests/core/${t}_test" --gtest_brief=1
done

echo "== the core tests built for AArch64 (NEON), under qemu-aarch64"
cmake --preset aarch64 >/dev/null
cmake --build --preset aarch64 -j"$JOBS" --target quillon_core_tests
ctest --preset aarch64 -j"$JOBS"

echo "== the core tests and the web app built for WebAssembly (SIMD128)"
# web.sh installs the pinned npm packages the web preset needs, then builds
# the site; the core tests run under node, the page in headless Chromium.
bash scripts/web.sh --build-only
cmake --build --preset web -j"$JOBS" --target quillon_core_tests
ctest --preset web -j"$JOBS" -LE browser
ctest --preset web -L browser

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
