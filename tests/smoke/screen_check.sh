#!/usr/bin/env bash
# Runs the real viewer on virtual X screens of 1600 × 1200 and 1024 × 768
# pixels and checks the actual-size view of pictures larger than the screen
# (the window stays on the screen and scrolling shows the picture's last
# pixels exactly as in its BMP file) and on a 2× screen (one picture pixel per
# screen pixel, exactly). The view menu is opened from the keyboard: the menu
# key, and Shift+F10.
#
#   screen_check.sh QUILLON SCREEN_PICTURES PDT2BMP XWD_CHECK OUT_DIR
#
# Exits 77 (reported as skipped) when the virtual display cannot be had.
set -uo pipefail

quillon=$1
make_pictures=$2
pdt2bmp=$3
xwd_check=$4
out_dir=$5

shot_name=screen_check.xwd
source "$(dirname "$0")/xvfb_session.sh"

"$make_pictures" "$work/pictures" || fail "cannot write the test pictures"
for name in wide tall even; do
  "$pdt2bmp" -q "$work/pictures/$name.pdt" "$work/$name.bmp" || fail "pdt2bmp $name.pdt failed"
done

# -noreset: Xvfb with two screens crashes when it resets after its last client.
start_xvfb -screen 0 1600x1200x24 -screen 1 1024x768x24 -noreset

# start SCREEN SCALE PICTURE: the viewer on that screen at that scale,
# started on the picture, in its design size (327 × 462 layout pixels).
start() {
  export DISPLAY=$display.$1
  (cd "$work/pictures" && QT_SCALE_FACTOR=$2 exec "$quillon" "$3") >"$work/quillon.log" 2>&1 &
  app_pid=$!
  wid=$(timeout 15 xdotool search --sync --onlyvisible --name '^Quillon$' 2>/dev/null | head -n 1)
  [[ -n $wid ]] || fail "the window did not appear"
  local design="$((327 * $2)) $((462 * $2))"
  for _ in $(seq 30); do
    read -r x y w h < <(geometry)
    [[ "$w $h" == "$design" ]] && return 0
    sleep 0.1
  done
  fail "client area is $w x $h, expected $design"
}

# actual_size KEY: a left click on the picture gives it the focus (and keeps
# the standard view); KEY opens the view menu, whose J chooses the actual size.
# Tried again after Escape if the menu was not up in time for the J.
actual_size() {
  xdotool mousemove --window "$wid" 60 60 click 1
  for _ in 1 2 3; do
    sleep 0.3
    xdotool key "$1"
    sleep 0.5
    xdotool key j
    for _ in $(seq 30); do
      read -r x y w h < <(geometry)
      [[ "$w $h" != "$design_now" ]] && return 0
      sleep 0.1
    done
    xdotool key Escape
  done
  fail "$1 and J did not switch to the actual-size view"
}

# on_screen SW SH: the window (x, y, w, h) lies within an SW × SH screen.
on_screen() {
  ((x >= 0 && y >= 0 && x + w <= $1 && y + h <= $2)) ||
    fail "the window ($w x $h at $x,$y) does not lie within the $1 x $2 screen"
}

# corner PICTURE W H X0 Y0 X1 Y1: waits until the picture's bottom-right
# W × H pixels show exactly, their last pixel within X0…X1 × Y0…Y1; sets cx, cy.
corner() {
  local found=""
  for _ in $(seq 50); do
    xwd -root -silent -out "$work/screen.xwd" || fail "xwd could not take a screenshot"
    if found=$("$xwd_check" "$work/screen.xwd" --corner "$work/$1.bmp" "${@:2}"); then
      read -r cx cy <<<"$found"
      return 0
    fi
    sleep 0.1
  done
  fail "$1: $found"
}

# A 1920 × 1080 picture on a 1600 × 1200 screen: the window is as wide as the
# screen, the picture scrolls sideways to its last column.
start 0 1 wide.pdt
design_now="327 462"
actual_size Menu
on_screen 1600 1200
((w == 1600 && h > 1084)) || fail "expected a 1600-pixel-wide window with a scroll bar, got $w x $h"
xdotool key --repeat 120 --delay 0 Right
corner wide 64 64 "$x" "$y" $((x + w - 1)) $((y + h - 1))
echo "ok: 1920 x 1080 on 1600 x 1200: window $w x $h, scrolled to the last pixel at $cx,$cy"
stop_app

# A 200 × 900 picture on a 768-pixel-high screen, the window placed low: it
# moves up to stay on the screen and the picture scrolls down to its last row.
start 1 1 tall.pdt
xdotool windowmove "$wid" 300 300
sleep 0.2
actual_size shift+F10
on_screen 1024 768
((h == 768 && w > 204)) || fail "expected a 768-pixel-high window with a scroll bar, got $w x $h"
xdotool key --repeat 10 --delay 0 Next
corner tall 64 64 "$x" "$y" $((x + w - 1)) $((y + h - 1))
echo "ok: 200 x 900 on 1024 x 768: window $w x $h at $x,$y, scrolled to the last pixel at $cx,$cy"
stop_app

# A 300 × 200 picture at scale 2: the interior is the picture's size in screen
# pixels (the 2-pixel border is 4 screen pixels), and every pixel is exact.
start 0 2 even.pdt
design_now="654 924"
actual_size shift+F10
[[ "$w $h" == "308 208" ]] || fail "at scale 2 the client area is $w x $h, expected 308 x 208"
corner even 300 200 "$x" "$y" $((x + w - 1)) $((y + h - 1))
[[ "$cx $cy" == "$((x + 303)) $((y + 203))" ]] ||
  fail "at scale 2 the picture ends at $cx,$cy, expected $((x + 303)),$((y + 203))"
echo "ok: scale 2: client area 308 x 208 screen pixels, the picture 1:1 inside the border"
stop_app
