#!/usr/bin/env bash
# Peak memory (maximum resident set, from /usr/bin/time -v) of the viewer on a
# virtual 1600 × 1200 screen: once with no picture, once showing PICTURE in
# the standard view, then in the actual-size view scrolled to its far corner.
#
#   bench/viewer/peak_memory.sh QUILLON PICTURE
#
# Make a large picture with the screen tests' generator, for example
#   build/dev/tests/smoke/screen_pictures /tmp/huge.pdt 10000 10000
set -euo pipefail
quillon=$1
picture=$2
work=$(mktemp -d)
xvfb_pid=""
trap '[[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null; rm -rf "$work"' EXIT

Xvfb -displayfd 3 -screen 0 1600x1200x24 -nolisten tcp 3>"$work/display" 2>/dev/null &
xvfb_pid=$!
for _ in $(seq 100); do [[ -s $work/display ]] && break; sleep 0.1; done
export DISPLAY=":$(head -n 1 "$work/display")" QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY

# run NAME ACTIONS ARGS...: starts the viewer, does ACTIONS once its window is
# up, ends it and prints its peak resident set in MiB.
run() {
  local name=$1 actions=$2
  shift 2
  /usr/bin/time -v -o "$work/$name.time" "$quillon" "$@" 2>/dev/null &
  local pid=$!
  local wid
  wid=$(timeout 60 xdotool search --sync --onlyvisible --name '^Quillon$' | head -n 1)
  sleep 2
  eval "$actions"
  sleep 2
  local size
  size=$(xwininfo -id "$wid" | awk '/^ *Width:/ {w = $NF} /^ *Height:/ {h = $NF} END {print w "x" h}')
  xdotool key --window "$wid" Escape 2>/dev/null || true
  kill "$(pgrep -P "$pid" -x quillon)" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
  local kib
  kib=$(awk -F': ' '/Maximum resident set size/ {print $2}' "$work/$name.time")
  printf '%-24s window %-10s peak %6d MiB\n' "$name" "$size" $((kib / 1024))
}

# The right click also gives the picture the focus, which the scroll keys need.
actual_size='xdotool mousemove --window "$wid" 100 100 click 3; sleep 1; xdotool key j; sleep 3
  for _ in $(seq 10); do xdotool key Next Right Right Right Right Right; done'
run "no picture" ":"
run "standard view" ":" "$picture"
run "actual size, scrolled" "$actual_size" "$picture"
