#!/usr/bin/env bash
# The installer's window as a user meets it, on a virtual X server: its
# place and size, a screenshot with the white client area and the banner,
# Escape (nothing), Enter (Install, which has the focus), the message boxes
# answered with Enter, Alt+C (Close), and a mouse click on Close; Close ends
# the program. PROGRAM is the linked program without a payload (so Install
# ends in an error box and the window stays); INSTALLER, when given, is the
# program with its payload, whose Install runs to the end and closes itself.
#   main_window_test.sh PROGRAM [INSTALLER]   (exit 77: skipped, a tool is missing)
# Screenshots stay in $VELMORA_SCREENSHOTS when that is set.
set -euo pipefail

program=${1:?usage: main_window_test.sh PROGRAM [INSTALLER]}
installer=${2:-}
for tool in Xvfb xdotool xwininfo import convert python3; do
  if ! command -v "$tool" >/dev/null; then
    echo "SKIP: $tool is missing (scripts/bootstrap.sh installs it)"
    exit 77
  fi
done

work=$(mktemp -d)
shots=${VELMORA_SCREENSHOTS:-$work}
mkdir -p "$shots"
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  [ -s "$work/out.log" ] && sed 's/^/  program: /' "$work/out.log" >&2
  exit 1
}

# A display of our own: Xvfb picks a free number and writes it to fd 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"

export VELMORA_UI=x11
# In a sanitized build: what the X libraries keep until exit is not ours.
export LSAN_OPTIONS="suppressions=$(dirname "$0")/x11_leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export VELMORA_PREFIX="$work/prefix"
export VELMORA_SHELL_OPEN=true   # folders and documents open nowhere

# Polls until COMMAND succeeds, for at most 20 seconds (wait_briefly: 5).
poll() {
  local tries=$1
  shift
  for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
wait_for() { poll 200 "$@"; }
wait_briefly() { poll 50 "$@"; }
window_named() { xdotool search --name "^$1\$" | head -n1; }
has_window() { [ -n "$(window_named "$1")" ]; }
running() { kill -0 "$1" 2>/dev/null; }
# The colour at X,Y of a screenshot as "R G B".
colour() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:
}
# Without a window manager the keyboard follows the pointer: put both there.
focus_on() {
  xdotool mousemove --window "$1" 5 5
  xdotool windowfocus --sync "$1" 2>/dev/null || true
}
gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
geometry() { xwininfo -id "$1" | awk -v k="$2" -F: '$1 ~ k {gsub(/ /, "", $2); print $2}'; }

start() {
  "$1" >"$work/out.log" 2>&1 &
  app=$!
  pids+=("$app")
  wait_for has_window Velmora || fail "the window did not appear: $(cat "$work/out.log")"
  main=$(window_named Velmora)
}

# ---- 1: geometry, screenshot, Escape, Enter, boxes, Alt+C ----
start "$program"
[ "$(geometry "$main" Width)" = 394 ] || fail "client width $(geometry "$main" Width)"
[ "$(geometry "$main" Height)" = 142 ] || fail "client height $(geometry "$main" Height)"
left=$(geometry "$main" "Absolute upper-left X")
top=$(geometry "$main" "Absolute upper-left Y")
[ "$left" = $(((1024 - 394) / 2)) ] && [ "$top" = $(((768 - 142) / 2)) ] ||
  fail "not centred: $left,$top"

sleep 0.5  # let the first paint reach the server
import -window root "$shots/main_window.png"
is_white() { [ "$(colour "$shots/main_window.png" "$1" "$2")" = "255 255 255" ]; }
for spot in "4 60" "390 138" "60 138" "200 45"; do
  # shellcheck disable=SC2086
  is_white $((left + ${spot% *})) $((top + ${spot#* })) ||
    fail "client area not white at $spot: $(colour "$shots/main_window.png" $((left + ${spot% *})) $((top + ${spot#* })))"
done
read -r r g b <<<"$(colour "$shots/main_window.png" $((left + 385)) $((top + 20)))"
{ [ "$r" -lt 200 ] && [ "$r" -gt 100 ] && [ $((r - b)) -lt 30 ] && [ $((b - r)) -lt 30 ]; } ||
  fail "no grey bar at the banner's right end: $r $g $b"
read -r r g b <<<"$(colour "$shots/main_window.png" $((left + 10)) $((top + 25)))"
{ [ "$b" -gt "$r" ] && [ "$r" -lt 120 ]; } || fail "no logo emblem at the banner's left: $r $g $b"

focus_on "$main"
xdotool key Escape
sleep 0.5
running "$app" && has_window Velmora || fail "Escape closed the window"

# Enter presses Install. The procedure's boxes ("Velmora - Server") are
# answered with Enter, one after the other, until it closes the window or
# only the window is left after its error box.
xdotool key Return
boxes=0
wait_for has_window "Velmora - Server" || fail "Enter did not press Install (no box appeared)"
while wait_briefly has_window "Velmora - Server"; do
  box=$(window_named "Velmora - Server")
  boxes=$((boxes + 1))
  [ "$boxes" -le 5 ] || fail "too many boxes"
  sleep 0.3
  import -window root "$shots/box_$boxes.png"
  focus_on "$box"
  xdotool key Return
  wait_for gone "$box" || fail "Enter did not answer box $boxes"
  running "$app" || break
done
echo "Install showed $boxes box(es)"

if running "$app"; then
  # The window stays usable after an error: Alt+C presses Close.
  focus_on "$main"
  xdotool key alt+c
  wait_for bash -c "! kill -0 $app" || fail "Alt+C did not end the program"
fi
wait "$app" || fail "the program ended with status $?"

# ---- 2: a mouse click on Close ends the program ----
start "$program"
xdotool mousemove --window "$main" $((208 + 37)) $((84 + 15)) click 1
wait_for bash -c "! kill -0 $app" || fail "Close did not end the program"
wait "$app" || fail "the program ended with status $?"

# ---- 2b: the window's close box (WM_DELETE_WINDOW, as a window manager
# sends it) ends the program too ----
start "$program"
python3 - "$main" <<'PY' || fail "could not send WM_DELETE_WINDOW"
import ctypes, sys
x11 = ctypes.CDLL("libX11.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XInternAtom.restype = ctypes.c_ulong
x11.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong), ("send_event", ctypes.c_int),
                ("display", ctypes.c_void_p), ("window", ctypes.c_ulong),
                ("message_type", ctypes.c_ulong), ("format", ctypes.c_int),
                ("l", ctypes.c_long * 5)]
class Event(ctypes.Union):
    _fields_ = [("xclient", ClientMessage), ("pad", ctypes.c_long * 24)]
x11.XSendEvent.argtypes = [ctypes.c_void_p, ctypes.c_ulong, ctypes.c_int, ctypes.c_long,
                           ctypes.POINTER(Event)]
x11.XFlush.argtypes = [ctypes.c_void_p]
display = x11.XOpenDisplay(None)
event = Event()
event.xclient.type = 33  # ClientMessage
event.xclient.window = int(sys.argv[1])
event.xclient.message_type = x11.XInternAtom(display, b"WM_PROTOCOLS", 0)
event.xclient.format = 32
event.xclient.l[0] = x11.XInternAtom(display, b"WM_DELETE_WINDOW", 0)
x11.XSendEvent(display, event.xclient.window, 0, 0, ctypes.byref(event))
x11.XFlush(display)
PY
wait_for bash -c "! kill -0 $app" || fail "the close box did not end the program"
wait "$app" || fail "the program ended with status $?"

# ---- 3: the whole installation, started with a click on Install ----
if [ -n "$installer" ]; then
  export VELMORA_PREFIX="$work/prefix3"
  start "$installer"
  xdotool mousemove --window "$main" $((111 + 37)) $((84 + 15)) click 1
  wait_for has_window "Velmora - Server" || fail "no instruction box after Install"
  box=$(window_named "Velmora - Server")
  sleep 0.3
  import -window root "$shots/instruction_box.png"
  # The box's OK button, clicked: it sits at the right of the grey strip.
  width=$(geometry "$box" Width)
  height=$(geometry "$box" Height)
  xdotool mousemove --window "$box" $((width - 12 - 37)) $((height - 21)) click 1
  wait_for bash -c "! kill -0 $app" || fail "the installation did not close the window"
  wait "$app" || fail "the installer ended with status $?"
  grep -q "VelmoraVirtualPrinter.exe /VERYSILENT /DISABLEPOPS" "$VELMORA_PREFIX/standins.log" ||
    fail "the virtual printer installer did not run: $(cat "$VELMORA_PREFIX/standins.log" 2>&1)"
  [ -f "$VELMORA_PREFIX/drive_c/Program Files/Velmora/Client/Readme.txt" ] ||
    fail "no readme in the client folder"
fi

echo "PASS (screenshots in $shots)"
