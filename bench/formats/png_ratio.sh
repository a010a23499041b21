#!/usr/bin/env bash
# pdt2bmp --format png -o DIR over the bench pictures against ImageMagick's
# convert turning the same pictures' BMP files into PNG one file at a time.
# Prints the time ratio (best of 3 runs each) and the ratio of total sizes.
#
#   png_ratio.sh PDT2BMP [PICTURE_DIR]
set -euo pipefail
pdt2bmp=$1
pictures=${2:-$(dirname "$0")/../../../shared/bench-pictures}
if ! compgen -G "$pictures/*.pdt" >/dev/null; then
  echo "skipped: no pictures in $pictures"
  exit 0
fi
command -v convert >/dev/null || { echo "skipped: ImageMagick is not installed"; exit 0; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$pdt2bmp" -q -o "$work/bmp" "$pictures"

best() { # COMMAND... -> best wall time of 3 runs, in seconds
  local best_time=
  for _ in 1 2 3; do
    local start end
    start=$(date +%s.%N)
    "$@"
    end=$(date +%s.%N)
    best_time=$(awk -v a="$start" -v b="$end" -v c="$best_time" \
      'BEGIN { t = b - a; if (c == "" || t < c) print t; else print c }')
  done
  echo "$best_time"
}
ours() { rm -rf "$work/png"; "$pdt2bmp" -q --format png -o "$work/png" "$pictures"; }
theirs() {
  rm -rf "$work/im" && mkdir "$work/im"
  for f in "$work"/bmp/*.bmp; do convert "$f" "$work/im/$(basename "${f%.bmp}").png"; done
}
t_ours=$(best ours)
t_theirs=$(best theirs)
s_ours=$(cat "$work"/png/*.png | wc -c)
s_theirs=$(cat "$work"/im/*.png | wc -c)
n=$(ls "$work"/png | wc -l)
awk -v n="$n" -v a="$t_ours" -v b="$t_theirs" -v c="$s_ours" -v d="$s_theirs" 'BEGIN {
  printf "%d pictures: pdt2bmp --format png %.2f s, convert one by one %.2f s\n", n, a, b
  printf "speed: convert / pdt2bmp = %.2fx (goal >= 2x)\n", b / a
  printf "size: pdt2bmp %d bytes, convert %d bytes, ratio %.3f (goal <= 1)\n", c, d, c / d
}'
