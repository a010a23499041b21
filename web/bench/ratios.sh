#!/usr/bin/env bash
# The web app's speed and weight figures (web/bench/measure.mjs), from one run:
# builds the site and the native baseline (the same decoder sources, optimised
# as the release build is), draws the responsiveness pictures with the
# project's own encoder, then measures in this run.
#   bash web/bench/ratios.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
bash scripts/web.sh --build-only >/dev/null
mkdir -p build/web-bench
g++ -std=c++20 -O3 -DNDEBUG -I. web/bench/native_decode.cpp pdt/*.cpp pdt/*/*.cpp \
  -o build/web-bench/native_decode
if [[ ! -f build/web-bench/pictures/big_4000x4000.pdt ]]; then
  g++ -std=c++20 -O2 -I. web/bench/make_pictures.cpp devtools/pdt_encoder.cpp devtools/sample_art.cpp \
    -o build/web-bench/make_pictures
  build/web-bench/make_pictures build/web-bench/pictures 1000
fi
node web/bench/measure.mjs build/web/site build/web-bench/native_decode ../shared/bench-pictures \
  build/web-bench/pictures
