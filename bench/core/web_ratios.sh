#!/usr/bin/env bash
# quillon_kernel_ratios built for WebAssembly (SIMD128) with emscripten and run
# under node: the simd128 and portable kernels against the reference decoder,
# all three compiled the same way, in one run.
#
# usage: bench/core/web_ratios.sh [PICTURE_DIR] [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/../.."
pictures=$(realpath "${1:-../shared/bench-pictures}")
rounds=${2:-7}
out=build/web-bench
mkdir -p "$out"
NODE_PATH=/usr/share/nodejs em++ -std=c++20 -O3 -msimd128 -DNDEBUG -I. \
  -DQUILLON_BENCH_PICTURES="\"$pictures\"" \
  bench/core/kernel_ratios.cpp devtools/reference_decoder.cpp \
  pdt/{mdl_pdt,pixels,stream,decode,portable}.cpp pdt/x86/*.cpp pdt/wasm/simd128.cpp pdt/arm/neon.cpp \
  -sNODERAWFS=1 -sALLOW_MEMORY_GROWTH=1 -sEXIT_RUNTIME=1 -o "$out/quillon_kernel_ratios.js"
node --no-experimental-fetch "$out/quillon_kernel_ratios.js" "$pictures" "$rounds"
