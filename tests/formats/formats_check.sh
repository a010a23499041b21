#!/usr/bin/env bash
# The thumbnailer run exactly as its .thumbnailer entry says, and pdt2bmp's PNG
# output read back by ImageMagick against the BMP of the same picture.
#
#   formats_check.sh MAKE_PICTURES PDT2BMP THUMBNAILER_BIN_DIR THUMBNAILER_ENTRY
set -uo pipefail

make_pictures=$1 pdt2bmp=$2 bin_dir=$3 entry=$4
source "$(dirname "$0")/../support/check.sh"
command -v convert >/dev/null || { echo "ImageMagick is not installed" >&2; exit 77; }

"$make_pictures" "$work/in" || { echo "cannot make the pictures" >&2; exit 1; }
"$pdt2bmp" -q -o "$work/bmp" "$work/in/art.pdt" "$work/in/small.PDT" "$work/in/tall.pdt" \
  "$work/in/noise.pdt" || fail "pdt2bmp could not write the reference BMP files"

# --- the thumbnailer, through its entry's Exec line
exec_line=$(sed -n 's/^Exec=//p' "$entry")
grep -qx 'MimeType=image/x-pdt;' "$entry" || fail "the entry does not name image/x-pdt"
thumbnail() { # SIZE IN OUT -> runs the Exec line; stderr in $work/err
  local cmd=${exec_line//%s/$1}
  cmd=${cmd//%i/\'$2\'}
  cmd=${cmd//%o/\'$3\'}
  PATH="$bin_dir:$PATH" bash -c "$cmd" 2>"$work/err"
}
size_of() { identify -format '%wx%h' "$1" 2>/dev/null; }

thumbnail 256 "$work/in/art.pdt" "$work/art.png" || fail "thumbnail of art.pdt: $(cat "$work/err")"
[[ $(size_of "$work/art.png") == 256x144 ]] || fail "art 640x360 at 256 gave $(size_of "$work/art.png")"
# Smooth: close to ImageMagick's area-averaging resize of the same picture
# (picking every 2.5th pixel instead differs by about 0.04).
convert "$work/bmp/art.bmp" -scale '256x144!' "$work/art_ref.png"
mae=$(compare -metric MAE "$work/art.png" "$work/art_ref.png" null: 2>&1 | sed 's/.*(\(.*\))/\1/')
awk -v e="$mae" 'BEGIN { exit !(e < 0.004) }' || fail "art thumbnail differs from an area average (MAE $mae)"

thumbnail 64 "$work/in/tall.pdt" "$work/tall.png" || fail "thumbnail of tall.pdt: $(cat "$work/err")"
[[ $(size_of "$work/tall.png") == 10x64 ]] || fail "tall 30x200 at 64 gave $(size_of "$work/tall.png")"

# A small picture is not enlarged: its thumbnail holds exactly its pixels.
thumbnail 256 "$work/in/small.PDT" "$work/small.png" || fail "thumbnail of small.PDT: $(cat "$work/err")"
[[ $(size_of "$work/small.png") == 40x30 ]] || fail "small 40x30 at 256 gave $(size_of "$work/small.png")"
cmp -s <(convert "$work/small.png" rgb:-) <(convert "$work/bmp/small.bmp" rgb:-) ||
  fail "the small picture's thumbnail differs from its pixels"

# A bad input: one line, no output, and the reason in the words pdt2bmp uses.
mkfifo "$work/in/pipe.pdt" && mkdir "$work/in/folder.pdt"
for bad in broken text missing pipe folder; do
  thumbnail 128 "$work/in/$bad.pdt" "$work/$bad.png" && fail "$bad.pdt: exit status 0"
  [[ $(wc -l <"$work/err") -eq 1 && -s $work/err ]] || fail "$bad.pdt: not one line of reason: $(cat "$work/err")"
  [[ -e $work/$bad.png ]] && fail "$bad.pdt: an output file was left"
  reason=$(sed "s|^quillon-thumbnailer: $work/in/$bad.pdt: ||" "$work/err")
  if [[ $bad == folder ]]; then
    [[ $reason == "is a folder" ]] || fail "a folder: $reason"
  else
    "$pdt2bmp" -q -o "$work/x" "$work/in/$bad.pdt" 2>"$work/err2"
    [[ $(cat "$work/err2") == "pdt2bmp: $work/in/$bad.pdt: $reason" ]] ||
      fail "$bad.pdt: the thumbnailer says '$reason', pdt2bmp '$(cat "$work/err2")'"
  fi
done
rm "$work/in/pipe.pdt" && rmdir "$work/in/folder.pdt"
leftovers=$(find "$work" -maxdepth 1 -name '*.png*' ! -name '*.png' | wc -l)
[[ $leftovers -eq 0 ]] || fail "temporary files were left beside the thumbnails"

# --- PNG output from pdt2bmp
"$pdt2bmp" -q --format png -o "$work/png" "$work/in" 2>"$work/err"
[[ $? -eq 1 ]] || fail "a folder with two bad files did not exit with 1"
[[ $(wc -l <"$work/err") -eq 2 ]] || fail "expected one line per bad file: $(cat "$work/err")"
for name in art small tall noise; do
  png=$work/png/$name.png
  [[ -f $png ]] || { fail "$name.png was not written"; continue; }
  # 8-bit RGB without alpha: IHDR's bit depth and colour type bytes.
  [[ $(od -An -tu1 -j24 -N2 "$png" | tr -s ' ') == " 8 2" ]] || fail "$name.png is not 8-bit RGB"
  cmp -s <(convert "$png" rgb:-) <(convert "$work/bmp/$name.bmp" rgb:-) ||
    fail "$name.png holds other pixels than $name.bmp"
done

# The output name's extension decides; nothing is replaced without -f.
"$pdt2bmp" -q "$work/in/noise.pdt" "$work/explicit.png" || fail "pdt2bmp IN OUT.png failed"
cmp -s <(convert "$work/explicit.png" rgb:-) <(convert "$work/bmp/noise.bmp" rgb:-) ||
  fail "OUT.png holds other pixels than the BMP"
cp "$work/png/small.png" "$work/keep.png"
"$pdt2bmp" -q "$work/in/art.pdt" "$work/keep.png" 2>"$work/err"
[[ $? -eq 1 && $(wc -l <"$work/err") -eq 1 ]] || fail "an existing PNG without -f: not one failure"
cmp -s "$work/keep.png" "$work/png/small.png" || fail "an existing PNG was replaced without -f"
"$pdt2bmp" -q -f "$work/in/art.pdt" "$work/keep.png" || fail "-f did not replace the PNG"
[[ $(size_of "$work/keep.png") == 640x360 ]] || fail "-f left the old PNG"
"$pdt2bmp" -q --format gif -o "$work/x" "$work/in" 2>/dev/null
[[ $? -eq 2 ]] || fail "--format gif is not a usage error"

if ((failures > 0)); then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "ok: thumbnailer entry, thumbnails, PNG output"
