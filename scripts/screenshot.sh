#!/usr/bin/env bash
# Runs the preview window in a virtual X server with an example report and
# writes a screenshot of the screen.
#   scripts/screenshot.sh [REPORT] [OUT.png] [SWITCH...]
# Defaults: examples/statement.txt, out/screenshot.png. Builds the program
# first when it is missing. QT_SCALE_FACTOR=2 takes the window on a screen
# scaled twice (the screen is then 2560x2048); KEYS="alt+f s" sends those
# keys (xdotool's names) to the window once its page shows, to open a menu
# or a dialog for the picture; SIZE=640x480 gives the window that size
# first (it is maximised otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
report=${1:-examples/statement.txt}
out=${2:-out/screenshot.png}
shift $(( $# > 2 ? 2 : $# ))

need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v import >/dev/null || need+=(imagemagick)
command -v xdotool >/dev/null || need+=(xdotool)
if [ ${#need[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi
[ -x build/quillard ] || bash scripts/setup.sh

# A free display number.
display=99
while [ -e "/tmp/.X${display}-lock" ]; do display=$((display + 1)); done
scale=${QT_SCALE_FACTOR:-1}
width=$(( 1280 * ${scale%%.*} )); height=$(( 1024 * ${scale%%.*} ))
Xvfb ":$display" -screen 0 "${width}x${height}x24" -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
app=
cleanup() {
  [ -n "$app" ] && kill "$app" 2>/dev/null || true
  kill "$xvfb" 2>/dev/null || true
}
trap cleanup EXIT
export DISPLAY=":$display"
up=
for _ in $(seq 200); do
  if xdotool getdisplaygeometry >/dev/null 2>&1; then up=1; break; fi
  sleep 0.1
done
[ -n "$up" ] || { echo "Xvfb did not start on :$display" >&2; exit 1; }

unset QT_QPA_PLATFORM
export XDG_CONFIG_HOME=${XDG_CONFIG_HOME:-$(mktemp -d)}
build/quillard "$report" "$@" 2>"${out%.png}.log" &
app=$!

# The program's messages go to OUT.log. Wait for the preview; answer message boxes (such as the missing-printer
# warning) with Enter on the way.
for _ in $(seq 100); do
  if xdotool search --name -- "-- Quillard" >/dev/null 2>&1; then
    break
  fi
  box=$(xdotool search --name "Printer Error|No Printers Installed" 2>/dev/null | head -n1 || true)
  if [ -n "$box" ]; then
    xdotool windowfocus --sync "$box" key Return >/dev/null 2>&1 || true
  fi
  kill -0 "$app" 2>/dev/null || { echo "quillard ended before its window appeared; see ${out%.png}.log" >&2; exit 1; }
  sleep 0.2
done
sleep 2.5   # the page is drawn and the progress window hides itself
if [ -n "${SIZE:-}" ]; then
  window=$(xdotool search --name -- "-- Quillard" | head -n1)
  xdotool windowstate --remove MAXIMIZED_VERT,MAXIMIZED_HORZ "$window" >/dev/null 2>&1 || true
  xdotool windowsize --sync "$window" "${SIZE%x*}" "${SIZE#*x}" windowmove "$window" 0 0 >/dev/null 2>&1 || true
  sleep 1
fi
if [ -n "${KEYS:-}" ]; then
  window=$(xdotool search --name -- "-- Quillard" | head -n1)
  # shellcheck disable=SC2086
  xdotool windowfocus --sync "$window" key --delay 300 $KEYS >/dev/null 2>&1 || true
  sleep 1.5   # the dialog opens
fi

mkdir -p "$(dirname "$out")"
import -window root "$out"
echo "$out"
