# Sourced by the checks that run the real viewer on a virtual X display, after
# they have set $out_dir and $shot_name (the screenshot kept when a check
# fails). Gives a scratch folder $work removed at exit with the viewer and the
# display; skip and fail; stop_app, which ends the viewer started as $app_pid;
# start_xvfb, which sets $display; and geometry, the client area of $wid.

skip() {
  echo "SKIPPED: $*"
  exit 77
}

for tool in Xvfb xdotool xwd xwininfo; do
  command -v "$tool" >/dev/null || skip "$tool is not installed (scripts/setup.sh installs it)"
done

work=$(mktemp -d)
xvfb_pid=""
app_pid=""

stop_app() {
  if [[ -n $app_pid ]] && kill -0 "$app_pid" 2>/dev/null; then
    kill "$app_pid" 2>/dev/null
    wait "$app_pid" 2>/dev/null
  fi
  app_pid=""
}

cleanup() {
  stop_app
  if [[ -n $xvfb_pid ]] && kill -0 "$xvfb_pid" 2>/dev/null; then
    kill "$xvfb_pid" 2>/dev/null
    wait "$xvfb_pid" 2>/dev/null
  fi
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAILED: $*" >&2
  if [[ -f $work/screen.xwd ]]; then
    cp "$work/screen.xwd" "$out_dir/$shot_name"
    echo "last screenshot: $out_dir/$shot_name" >&2
  fi
  if [[ -n $xvfb_pid ]] && ! kill -0 "$xvfb_pid" 2>/dev/null; then
    echo "Xvfb ended: $(cat "$work/xvfb.log")" >&2
  fi
  [[ -f $work/quillon.log ]] && sed 's/^/quillon: /' "$work/quillon.log" >&2
  exit 1
}

# start_xvfb ARGS...: a virtual display with those screens. Xvfb picks a free
# display itself and names it on descriptor 3 once it is ready.
start_xvfb() {
  Xvfb -displayfd 3 "$@" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
  xvfb_pid=$!
  for _ in $(seq 100); do
    [[ -s $work/display ]] && break
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  [[ -s $work/display ]] || skip "Xvfb could not start: $(tail -n 3 "$work/xvfb.log" | tr '\n' ' ')"
  display=":$(head -n 1 "$work/display")"
  export QT_QPA_PLATFORM=xcb
  unset WAYLAND_DISPLAY
}

# Client area on the screen: without a window manager the window is its
# client area.
geometry() {
  xwininfo -id "$wid" | awk '
    /Absolute upper-left X:/ {x = $NF} /Absolute upper-left Y:/ {y = $NF}
    /^ *Width:/ {w = $NF} /^ *Height:/ {h = $NF}
    END {print x, y, w, h}'
}
