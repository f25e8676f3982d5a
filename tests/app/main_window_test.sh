#!/usr/bin/env bash
# The installer's window as a user meets it, on a virtual X server: its
# place and size, a screenshot with the white client area and the banner,
# Escape (nothing), Enter (Install, which has the focus), the message boxes
# answered with Enter, Alt+C (Close), and a mouse click on Close; Close ends
# the program. PROGRAM is the linked program without a payload (so Install
# ends in an error box and the window stays); INSTALLER, when given, is the
# program with its payload, whose Install runs to the end and closes itself;
# then, under a window manager when openbox is there, the information box is
# gone and the window repainted while the virtual printer installer runs.
#   main_window_test.sh PROGRAM [INSTALLER]   (exit 77: skipped, a tool is missing)
# Screenshots stay in $VELMORA_SCREENSHOTS when that is set.
#
# Nothing here sleeps and hopes: every step waits for what it needs (a
# window, a paint, a process's end) for up to a minute, so a loaded machine
# only makes it slower. Each run has an X server of its own (-displayfd).
set -euo pipefail

program=${1:?usage: main_window_test.sh PROGRAM [INSTALLER]}
installer=${2:-}
for tool in Xvfb xdotool xwininfo xprop import convert python3; do
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
  # A held stand-in is let go first (opening the FIFO read-write never
  # blocks), so nothing of ours stays behind.
  if [ -p "$work/hold" ]; then exec 8<>"$work/hold"; exec 8>&-; fi
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

fail() {
  echo "FAIL: $*" >&2
  [ -s "$work/out.log" ] && sed 's/^/  program: /' "$work/out.log" >&2
  exit 1
}

# Polls until COMMAND succeeds, for at most 60 seconds (wait_briefly: 5,
# used only where the answer may rightly be no).
poll() {
  local tries=$1
  shift
  for _ in $(seq "$tries"); do "$@" >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
wait_for() { poll 600 "$@"; }
wait_briefly() { poll 50 "$@"; }
# An X client's action, tried again while the server is too busy to take it.
x() { poll 100 "$@" || fail "$* failed"; }

# A display of our own: Xvfb picks a free number and writes it to fd 3 once
# it listens.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for test -s "$work/display" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=":$(head -n1 "$work/display")"
# The programs retry a display that VELMORA_UI=x11 asks for; so does x().
export VELMORA_UI=x11
wait_for xprop -root -len 0 _NET_SUPPORTED || fail "cannot talk to the X server"

# In a sanitized build: what the X libraries keep until exit is not ours.
export LSAN_OPTIONS="suppressions=$(dirname "$0")/x11_leaks.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export VELMORA_PREFIX="$work/prefix"
# Folders and documents open nowhere; the opener records the environment it
# was given, which must be the one the installer was started with.
printf '#!/bin/sh\nenv >"%s/opener_env.$$"\n' "$work" >"$work/opener"
chmod +x "$work/opener"
export VELMORA_SHELL_OPEN="$work/opener"
unset FLTK_SCHEME
# The toolkit keeps its preferences to itself: no ~/.fltk, no /etc/fltk.
export HOME="$work/home"
etc_fltk_before=$([ -e /etc/fltk ] && echo yes || echo no)

# A window counts once it is on the screen: found by name among the
# viewable ones, so one still being made (or a manager's twin) is not taken.
window_named() { xdotool search --onlyvisible --name "^$1\$" | head -n1; }
has_window() { [ -n "$(window_named "$1")" ]; }
running() { kill -0 "$1" 2>/dev/null; }
# The colour at X,Y of a screenshot as "R G B".
colour() {
  convert "$1" -format "%[fx:int(255*p{$2,$3}.r)] %[fx:int(255*p{$2,$3}.g)] %[fx:int(255*p{$2,$3}.b)]" info:
}
# Without a window manager the keyboard follows the pointer: put both there.
focus_on() {
  x xdotool mousemove --window "$1" 5 5
  xdotool windowfocus --sync "$1" 2>/dev/null || true
}
gone() { ! xwininfo -id "$1" 2>/dev/null | grep -q IsViewable; }
geometry() { xwininfo -id "$1" | awk -v k="$2" -F: '$1 ~ k {gsub(/ /, "", $2); print $2}'; }
# A screenshot of the whole screen as it is now: $shots/NAME.png.
shoot() { import -window root "$shots/$1.png"; }
# Whether screenshot NAME shows the main window, at LEFT,TOP, painted: the
# white client area, the banner's grey bar at the right and the logo's
# emblem at the left.
window_painted() {
  local shot="$shots/$1.png" left=$2 top=$3 spot r g b
  for spot in "4 60" "390 138" "60 138" "200 45"; do
    [ "$(colour "$shot" $((left + ${spot% *})) $((top + ${spot#* })))" = "255 255 255" ] ||
      return 1
  done
  read -r r g b <<<"$(colour "$shot" $((left + 385)) $((top + 20)))"
  { [ "$r" -lt 200 ] && [ "$r" -gt 100 ] && [ $((r - b)) -lt 30 ] && [ $((b - r)) -lt 30 ]; } ||
    return 1
  read -r r g b <<<"$(colour "$shot" $((left + 10)) $((top + 25)))"
  [ "$b" -gt "$r" ] && [ "$r" -lt 120 ]
}
shows_painted_window() { shoot "$1" && window_painted "$1" "$2" "$3"; }
# Whether screenshot NAME shows box BOX_ID's grey button strip at the
# bottom corners of where the box is (or was: pass its geometry).
strip_at() {
  [ "$(colour "$shots/$1.png" $(($2 + 4)) $(($3 + $5 - 4)))" = "240 240 240" ] &&
    [ "$(colour "$shots/$1.png" $(($2 + $4 - 4)) $(($3 + $5 - 4)))" = "240 240 240" ]
}
box_geometry() {
  echo "$(geometry "$1" "Absolute upper-left X") $(geometry "$1" "Absolute upper-left Y")" \
       "$(geometry "$1" Width) $(geometry "$1" Height)"
}
# shellcheck disable=SC2046
shows_box() { shoot "$1" && strip_at "$1" $(box_geometry "$2"); }

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
# The first paint reaches the server in its own time: look until it has.
wait_for shows_painted_window main_window "$left" "$top" ||
  fail "the window is not painted as designed (white, grey bar, logo): see $shots/main_window.png"

# Escape does nothing. Return, sent after it, presses Install: the box that
# brings proves that the Escape before it has been handled.
focus_on "$main"
x xdotool key Escape
x xdotool key Return
wait_for has_window "Velmora - Server" ||
  fail "Escape closed the window, or Enter did not press Install (no box appeared)"
running "$app" && has_window Velmora || fail "Escape closed the window"

# The procedure's boxes ("Velmora - Server") are answered with Enter, one
# after the other, until it closes the window or only the window is left
# after its error box.
boxes=0
while wait_briefly has_window "Velmora - Server"; do
  box=$(window_named "Velmora - Server")
  boxes=$((boxes + 1))
  [ "$boxes" -le 5 ] || fail "too many boxes"
  wait_for shows_box "box_$boxes" "$box" || fail "box $boxes was not painted"
  focus_on "$box"
  x xdotool key Return
  wait_for gone "$box" || fail "Enter did not answer box $boxes"
  running "$app" || break
done
echo "Install showed $boxes box(es)"

if running "$app"; then
  # The window stays usable after an error: Alt+C presses Close.
  focus_on "$main"
  x xdotool key alt+c
  wait_for bash -c "! kill -0 $app" || fail "Alt+C did not end the program"
fi
wait "$app" || fail "the program ended with status $?"

# ---- 2: a mouse click on Close ends the program ----
start "$program"
x xdotool mousemove --window "$main" $((208 + 37)) $((84 + 15)) click 1
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
display = None
for _ in range(100):  # a busy server may refuse a while
    display = x11.XOpenDisplay(None)
    if display:
        break
    __import__("time").sleep(0.1)
if not display:
    sys.exit(1)
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
click_ok() {  # the box's OK button, at the right of its grey strip
  local width height
  width=$(geometry "$1" Width)
  height=$(geometry "$1" Height)
  x xdotool mousemove --window "$1" $((width - 12 - 37)) $((height - 21)) click 1
}
if [ -n "$installer" ]; then
  export VELMORA_PREFIX="$work/prefix3"
  start "$installer"
  x xdotool mousemove --window "$main" $((111 + 37)) $((84 + 15)) click 1
  wait_for has_window "Velmora - Server" || fail "no instruction box after Install"
  box=$(window_named "Velmora - Server")
  wait_for shows_box instruction_box "$box" || fail "the instruction box was not painted"
  click_ok "$box"
  wait_for bash -c "! kill -0 $app" || fail "the installation did not close the window"
  wait "$app" || fail "the installer ended with status $?"
  grep -q "VelmoraVirtualPrinter.exe /VERYSILENT /DISABLEPOPS" "$VELMORA_PREFIX/standins.log" ||
    fail "the virtual printer installer did not run: $(cat "$VELMORA_PREFIX/standins.log" 2>&1)"
  [ -f "$VELMORA_PREFIX/drive_c/Program Files/Velmora/Client/Readme.txt" ] ||
    fail "no readme in the client folder"
fi

# ---- 4: under a window manager, the information box leaves the screen
# before the virtual printer installer runs, and the window it covered is
# repainted while that runs (the stand-in is held until released) ----
if [ -n "$installer" ] && command -v openbox >/dev/null; then
  export VELMORA_PREFIX="$work/prefix4"
  mkfifo "$work/hold"
  # Managing windows: its check window and the work area, which openbox
  # sets late in its start-up, are both on the root window. Like any X
  # client it may find the server too busy to take it (it then ends at
  # once: "Failed to open the display"); it is started again, as x() does.
  openbox=
  wm_running() {
    if [ -z "$openbox" ] || ! kill -0 "$openbox" 2>/dev/null; then
      openbox --sm-disable >"$work/openbox.log" 2>&1 &
      openbox=$!
      pids+=("$openbox")
    fi
    xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id" &&
      xprop -root _NET_WORKAREA | grep -q "="
  }
  wait_for wm_running || fail "openbox did not start: $(cat "$work/openbox.log")"
  VELMORA_STAND_IN_HOLD="$work/hold" start "$installer"
  wait_for bash -c "xwininfo -id $main | grep -q IsViewable" || fail "the window was not mapped"
  left=$(geometry "$main" "Absolute upper-left X")
  top=$(geometry "$main" "Absolute upper-left Y")
  wait_for shows_painted_window wm_main_window "$left" "$top" ||
    fail "the window is not painted under the window manager: see $shots/wm_main_window.png"
  x xdotool mousemove --window "$main" $((111 + 37)) $((84 + 15)) click 1
  wait_for has_window "Velmora - Server" || fail "no instruction box after Install"
  box=$(window_named "Velmora - Server")
  wait_for shows_box wm_instruction_box "$box" || fail "the instruction box was not painted"
  read -r bl bt bw bh <<<"$(box_geometry "$box")"
  click_ok "$box"
  printer_runs() { grep -q "VelmoraVirtualPrinter.exe" "$VELMORA_PREFIX/standins.log"; }
  wait_for printer_runs || fail "the virtual printer installer did not start"
  running "$app" || fail "the installer did not wait for the virtual printer installer"
  # While it runs: the box is off the screen and the window it covered is
  # painted again.
  wait_for shows_painted_window while_printer_runs "$left" "$top" ||
    fail "the window is not repainted while the virtual printer installer runs: see $shots/while_printer_runs.png"
  ! has_window "Velmora - Server" || fail "the information box is still there"
  ! strip_at while_printer_runs "$bl" "$bt" "$bw" "$bh" ||
    fail "the information box is still on the screen: see $shots/while_printer_runs.png"
  # A click meanwhile is dropped, not acted on afterwards.
  x xdotool mousemove --window "$main" $((111 + 37)) $((84 + 15)) click 1
  exec 7>"$work/hold"
  exec 7>&-
  wait_for bash -c "! kill -0 $app" || fail "the installation did not end after the virtual printer installer"
  wait "$app" || fail "the installer ended with status $?"
  [ "$(cat "$VELMORA_PREFIX/standins.log")" = "VelmoraVirtualPrinter.exe /VERYSILENT /DISABLEPOPS" ] ||
    fail "the virtual printer installer ran other than once: $(cat "$VELMORA_PREFIX/standins.log")"
fi

# ---- the programs' side effects ----
if [ -n "$installer" ]; then
  ls "$work"/opener_env.* >/dev/null 2>&1 || fail "the opener was never started"
  ! grep -l "^FLTK_SCHEME=" "$work"/opener_env.* || fail "a child was given FLTK_SCHEME"
fi
[ ! -e "$HOME/.fltk" ] || fail "the toolkit wrote ~/.fltk"
[ "$etc_fltk_before" = yes ] || [ ! -e /etc/fltk ] || fail "the toolkit made /etc/fltk"

echo "PASS (screenshots in $shots)"
