#!/usr/bin/env bash
# Runs the real viewer on a virtual X display in a folder of generated
# pictures: picks files with the keyboard, checks the painted picture and the
# window's size on a screenshot, then closes the window and expects status 0.
# Then starts it again on a picture's path from another folder and saves the
# proposed name there.
#
#   desktop_smoke.sh QUILLON SMOKE_PICTURES XWD_CHECK OUT_DIR
#
# Exits 77 (reported as skipped) when the virtual display cannot be had.
set -uo pipefail

quillon=$1
make_pictures=$2
xwd_check=$3
out_dir=$4

shot_name=smoke_screen.xwd
source "$(dirname "$0")/xvfb_session.sh"

"$make_pictures" "$work/pictures" || fail "cannot write the test pictures"

# The help and the version need no display.
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$quillon" --version >"$work/out" 2>&1 ||
  fail "quillon --version failed: $(cat "$work/out")"
grep -qx 'quillon (Quillon) [0-9.]*' "$work/out" || fail "unexpected version line: $(cat "$work/out")"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$quillon" --help >"$work/out" 2>&1 ||
  fail "quillon --help failed: $(cat "$work/out")"
grep -q '^usage: quillon \[PATH\]$' "$work/out" || fail "no usage line in: $(cat "$work/out")"
echo "ok: --help and --version answer without a display"

start_xvfb -screen 0 1024x768x24
export DISPLAY=$display

(cd "$work/pictures" && exec "$quillon") >"$work/quillon.log" 2>&1 &
app_pid=$!

find_window() {
  wid=$(timeout 15 xdotool search --sync --onlyvisible --name '^Quillon$' 2>/dev/null | head -n 1)
  [[ -n $wid ]] || fail "the window did not appear"
}
find_window

design_size() {
  for _ in $(seq 30); do
    read -r win_x win_y win_w win_h < <(geometry)
    [[ "$win_w x $win_h" == "327 x 462" ]] && break
    sleep 0.1
  done
  [[ "$win_w x $win_h" == "327 x 462" ]] || fail "client area is $win_w x $win_h, expected 327 x 462"
}
design_size

# Expected colours inside the picture box's interior, (2,2)-(322,242): the
# picture's quadrants stretched to 160 x 120 each.
first=(42:32:E02020 282:32:20C040 42:212:2040E0 282:212:F0D020 150:110:E02020 174:134:F0D020)
second=(42:32:F0D020 282:32:2040E0 42:212:20C040 282:212:E02020)
# The third file is named with the Shift-JIS bytes of 背景.PDT; it sorts last.
third=(42:32:2040E0 282:32:E02020 42:212:F0D020 282:212:20C040)

# Waits until the screen shows the expected pixels (painting follows the key
# press asynchronously).
expect_picture() {
  local what=$1
  shift
  local report=""
  for _ in $(seq 50); do
    xwd -root -silent -out "$work/screen.xwd" || fail "xwd could not take a screenshot"
    if report=$("$xwd_check" "$work/screen.xwd" "$win_x" "$win_y" "$@"); then
      echo "ok: $what"
      return 0
    fi
    sleep 0.1
  done
  fail "$what: $report"
}

# Focus the file list by clicking below its entries (selects nothing), then
# choose files with the keyboard only.
xdotool mousemove --window "$wid" 243 430 click 1
xdotool key Down
expect_picture "Down selects A.PDT and shows it" "${first[@]}"
xdotool key Down
expect_picture "Down selects b.pdt and shows it" "${second[@]}"
xdotool key End
expect_picture "End selects the Shift-JIS named 背景.PDT and shows it" "${third[@]}"
xdotool key Home
expect_picture "Home returns to A.PDT" "${first[@]}"
cp "$work/screen.xwd" "$out_dir/smoke_screen.xwd"

# The close button "閉じる" at (80,432), 81 x 25, ends the program.
close_window() {
  xdotool mousemove --window "$wid" 120 444 click 1
  for _ in $(seq 50); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -0 "$app_pid" 2>/dev/null && fail "the program still runs after its window was closed"
  wait "$app_pid"
  local status=$?
  app_pid=""
  [[ $status -eq 0 ]] || fail "the program ended with status $status"
}
close_window
echo "ok: closing the window ends the program with status 0"

# Started on a picture's relative path from another folder: the picture shows
# at once, and the save button "BMP保存" at (0,432), 73 x 25, writes the
# proposed name into the folder the program was started from.
mkdir -p "$work/start"
(cd "$work/start" && exec "$quillon" ../pictures/b.pdt) >"$work/quillon.log" 2>&1 &
app_pid=$!
find_window
design_size
expect_picture "quillon PATH shows b.pdt" "${second[@]}"
xdotool mousemove --window "$wid" 36 444 click 1
bmp=$work/start/b.bmp
for _ in $(seq 50); do
  [[ $(stat -c %s "$bmp" 2>/dev/null) == 4858 ]] && break
  sleep 0.1
done
[[ $(stat -c %s "$bmp" 2>/dev/null) == 4858 ]] || fail "saving did not write the proposed b.bmp (40 x 30) into the start folder"
[[ -e $work/pictures/b.bmp ]] && fail "b.bmp was written into the picture's folder"
grep -q "^quillon:" "$work/quillon.log" && fail "unexpected complaint: $(cat "$work/quillon.log")"
close_window
echo "ok: quillon PATH shows the picture and proposes its name"
