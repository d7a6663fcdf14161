#!/usr/bin/env bash
# The real window on a private X display keeps answering while its camera
# stalls. The camera is a GStreamer sender on a local TCP port; once vorsk
# serves its picture, the sender is stopped with SIGSTOP: its connection stays
# open but no frame comes, so every grab waits out its whole time. Viewers keep
# asking for the picture all the while, so the capture is always busy. Then:
#  - the window answers X selection requests at once, ten times over the stall;
#  - "Exit" and "Yes" to the question that comes while the server runs end the
#    program soon, with status 0 and the settings written back.
#
# Usage: stalled_camera.sh <path to vorsk>
# Exit status: 0 passed, 1 failed, 77 skipped (a needed tool is missing).
set -euo pipefail

vorsk=${1:?usage: stalled_camera.sh <path to vorsk>}
readonly WIDTH=320 HEIGHT=240 INTERVAL=0.2
# Upper bound for every wait, so a fault shows up as a failure instead of a hang.
readonly WAIT_SECONDS=20
# A grab waits 1.5 s for a frame; a window that waited for it would answer a
# selection request a good part of that late, nearly always over half of it.
# A window left free answers within milliseconds, so half a grab's wait is a
# bound that no slow machine reaches by accident.
readonly ANSWER_BOUND_MS=750
readonly MEASURES=10 SPACING_MS=1000
# Ending may wait for the grab under way, not for more.
readonly END_BOUND_SECONDS=10

# shellcheck source=session_lib.sh
source "$(dirname "$0")/session_lib.sh"
need Xvfb xvfb
need xdotool xdotool
need xclip xclip
need djpeg libjpeg-turbo-progs
need gst-launch-1.0 gstreamer1.0-tools
[ -x "$vorsk" ] || fail "no program at $vorsk"

work=$(mktemp -d "${TMPDIR:-/tmp}/vorsk-e2e.XXXXXX")
xvfb_pid=
sender_pid=
vorsk_pid=
viewers_pid=

cleanup() {
  end_process "$viewers_pid"
  # A stopped sender would not see SIGTERM until it runs again.
  [ -n "$sender_pid" ] && kill -CONT "$sender_pid" 2>/dev/null
  end_process "$sender_pid"
  end_process "$vorsk_pid"
  end_process "$xvfb_pid"
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

listening() { listening_on "$port"; }

# Asks for the picture and keeps everything the server answers until it closes
# (header-less: the JPEG bytes alone).
fetch_picture() {
  local out=$1
  # shellcheck disable=SC2016  # the inner script takes its values as arguments
  timeout "$WAIT_SECONDS" bash -c '
    exec 3<>"/dev/tcp/127.0.0.1/$1" || exit 1
    printf "GET / HTTP/1.0\r\n\r\n" >&3
    cat <&3 >"$2"' fetch "$port" "$out"
}

# Viewers asking for the picture every tenth of a second: each request sets the
# capture timer going again, so a new cycle starts as soon as one ends.
keep_asking() {
  while :; do
    fetch_picture "$work/viewer.jpg" 2>/dev/null && echo >>"$work/answers"
    sleep 0.1
  done
}

now_ms() { local t=${EPOCHREALTIME/[.,]/}; echo $((t / 1000)); }

# The owner of the PRIMARY selection is asked for its text; xclip prints it.
primary_text() { timeout 5 xclip -o -selection primary 2>/dev/null; }
primary_is_ours() { [ "$(primary_text)" = "$INTERVAL" ]; }

# --- a private display -------------------------------------------------------
start_xvfb

# --- a network camera: a sender of raw frames on a local port -----------------
camera_port=$(free_port)
gst-launch-1.0 -q videotestsrc is-live=true \
  ! video/x-raw,format=I420,width=$WIDTH,height=$HEIGHT,framerate=15/1 \
  ! tcpserversink host=127.0.0.1 port="$camera_port" >"$work/sender.log" 2>&1 &
sender_pid=$!
sender_listening() { listening_on "$camera_port"; }
wait_until "the camera's sender to listen on port $camera_port" sender_listening
note "camera sender $sender_pid on port $camera_port"

# --- a fresh user: home, settings, temporary folder ----------------------------
port=$(free_port "$camera_port")
export HOME="$work/home" XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp" XDG_RUNTIME_DIR="$work/runtime"
mkdir -p "$HOME" "$XDG_CONFIG_HOME/Vorsk" "$TMPDIR" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
settings="$XDG_CONFIG_HOME/Vorsk/Vorsk.conf"
# An empty address service: no lookup goes out to the internet.
printf '[prefs]\nport=%s\nipserver=\nwidth=%s\nheight=%s\ninterval=%s\n[server]\nheaders=False\n' \
  "$port" "$WIDTH" "$HEIGHT" "$INTERVAL" >"$settings"
unset DBUS_SESSION_BUS_ADDRESS SESSION_MANAGER
export QT_QPA_PLATFORM=xcb
export VORSK_CAMERA="gst:tcpclientsrc host=127.0.0.1 port=$camera_port ! rawvideoparse width=$WIDTH height=$HEIGHT format=i420 framerate=15/1"

note "starting $vorsk on port $port"
"$vorsk" >"$work/vorsk.log" 2>&1 &
vorsk_pid=$!
window=$(timeout "$WAIT_SECONDS" xdotool search --sync --onlyvisible --name '^ Vorsk Server$' | head -n 1) ||
  fail "the window never showed; vorsk said: $(cat "$work/vorsk.log")"
note "window $window"

# --- Start server (on the status page, where alt+s means nothing else) ------------
press alt+s
wait_until "the server to listen on port $port" listening
fetch_picture "$work/answer.jpg" || fail "no complete answer to the first picture request"
djpeg -pnm -outfile "$work/answer.ppm" "$work/answer.jpg" || fail "the first picture does not decode"
size=$(head -n 2 "$work/answer.ppm" | tail -n 1)
[ "$size" = "$WIDTH $HEIGHT" ] || fail "the picture is $size, expected $WIDTH $HEIGHT"
note "serving: a JPEG of $size"

# --- the window takes the PRIMARY selection ----------------------------------------
# The settings page puts the focus in the interval box; select-all there makes
# vorsk's window the owner of the PRIMARY selection. A request for its text then
# goes from the X server to that window and is answered by the window's own
# event loop (no clipboard manager runs here to answer in its place), so the
# time xclip takes is the time the window takes to answer.
press ctrl+Tab
press ctrl+a
wait_until "vorsk to own the PRIMARY selection" primary_is_ours
note "vorsk owns the PRIMARY selection: '$(primary_text)'"

# --- the camera stalls --------------------------------------------------------------
kill -STOP "$sender_pid"
note "camera sender stopped"
keep_asking &
viewers_pid=$!
# The frames already on their way are used up first; the first grab that found
# none is told on stderr, and from then on every cycle waits out its grab.
grab_failed() { grep -q 'No picture from the camera' "$work/vorsk.log"; }
wait_until "a grab to fail while the camera stalls" grab_failed
note "a grab failed: $(grep -m 1 'No picture from the camera' "$work/vorsk.log")"

# Sleeps until the clock reads the given millisecond, if it does not yet.
sleep_until_ms() {
  local left=$(($1 - $(now_ms)))
  [ "$left" -le 0 ] || sleep "$(printf '%d.%03d' $((left / 1000)) $((left % 1000)))"
}

# The requests go out on a clock of their own, one a second: sent a fixed while
# after each answer instead, they would fall in step with a window that answers
# only between grabs and always meet it at the same point of its wait.
slow=0
times=()
first=$(now_ms)
for i in $(seq "$MEASURES"); do
  sleep_until_ms $((first + (i - 1) * SPACING_MS))
  start=$(now_ms)
  text=$(primary_text) || fail "the window did not answer selection request $i within 5 s (so far: ${times[*]})"
  elapsed=$(($(now_ms) - start))
  [ "$text" = "$INTERVAL" ] || fail "selection request $i was answered with '$text', not '$INTERVAL'"
  times+=("$elapsed")
  [ "$elapsed" -le "$ANSWER_BOUND_MS" ] || slow=$((slow + 1))
done
note "selection answers while the camera stalls (ms): ${times[*]}"
[ "$slow" -eq 0 ] || fail "$slow of $MEASURES selection answers took over $ANSWER_BOUND_MS ms: ${times[*]}"
# Measured against a camera that truly stalled all along, not one that came back.
! grep -q 'The camera gives pictures again' "$work/vorsk.log" || fail "the camera gave pictures again during the stall"
note "viewers answered during the stall: $(wc -l <"$work/answers" 2>/dev/null || echo 0)"

# --- Exit while the camera still stalls -----------------------------------------------
press alt+e
other_window() { xdotool search --onlyvisible --name '^ Vorsk Server$' 2>/dev/null | grep -vx "$window" | head -n 1; }
question_shown() { [ -n "$(other_window)" ]; }
wait_until "the question whether to quit while serving" question_shown
question=$(other_window)
note "question $question; answering Yes"
timeout "$WAIT_SECONDS" xdotool windowfocus --sync "$question" || fail "could not focus the question"
start=$(now_ms)
xdotool key --clearmodifiers alt+y
status=0
for _ in $(seq $((END_BOUND_SECONDS * 10))); do
  vorsk_ended && break
  sleep 0.1
done
vorsk_ended || fail "vorsk still ran ${END_BOUND_SECONDS} s after Exit was confirmed; it said: $(cat "$work/vorsk.log")"
ended_after=$(($(now_ms) - start))
wait "$vorsk_pid" || status=$?
vorsk_pid=
[ "$status" -eq 0 ] || fail "vorsk ended with status $status after Exit; it said: $(cat "$work/vorsk.log")"
note "vorsk ended ${ended_after} ms after Exit was confirmed"

check_settings "interval=$INTERVAL"
echo "PASS"
