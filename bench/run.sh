#!/usr/bin/env bash
# Builds the benchmarks (optimised) and runs them all; each prints its figures
# as ratios against a baseline measured in the same run. The benchmarks'
# context lines and Qt's offscreen notices (stderr) are left out.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup.sh
build=build/dev
cmake --preset dev >/dev/null
cmake --build --preset dev -j"$(nproc)" --target quillon_bench_core quillon_kernel_ratios quillon_bench_pdt2bmp quillon_bench_thumbnail pdt2bmp viewer_bench lists_bench
export QT_QPA_PLATFORM=offscreen

echo "== LoadPdt (the best kernel) against the reference decoder, the in-memory loader and memcpy"
bash bench/core/ratios.sh "$build/bench/core/quillon_bench_core" 5
echo "== every kernel this processor runs against the reference decoder, in one run"
"$build/bench/core/quillon_kernel_ratios" ../shared/bench-pictures 9
echo "== pdt2bmp -o DIR on the benchmark pictures against cp of the same BMP files"
"$build/bench/tools/quillon_bench_pdt2bmp" 2>/dev/null | tail -n 1
echo "== pdt2bmp --format png against ImageMagick's convert of the same BMP files"
bash bench/formats/png_ratio.sh "$build/cli/pdt2bmp"
echo "== the thumbnailer at 256 against LoadPdt, 1920 x 1080 pictures"
"$build/bench/formats/quillon_bench_thumbnail" 2>/dev/null | tail -n 1
echo "== SelectFile to the painted picture (x_LoadPdt: ratio to LoadPdt alone)"
"$build/bench/viewer/viewer_bench" --benchmark_repetitions=10 --benchmark_report_aggregates_only=true 2>/dev/null |
  grep -E '_median'
echo "== Filling the lists for 10,000 files against a plain directory scan"
"$build/bench/platform/lists_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null |
  grep -E '_median'
