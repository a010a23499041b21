#!/usr/bin/env bash
# The web app's speed and weight figures (web/bench/measure.mjs), from one run:
# builds the site and the native baseline (the same decoder sources, optimised
# as the release build is), then measures both in this run.
#   bash web/bench/ratios.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/web.sh --build-only >/dev/null
mkdir -p build/web-bench
g++ -std=c++20 -O3 -DNDEBUG -I. web/bench/native_decode.cpp pdt/*.cpp pdt/*/*.cpp \
  -o build/web-bench/native_decode
node web/bench/measure.mjs build/web/site build/web-bench/native_decode ../shared/bench-pictures
