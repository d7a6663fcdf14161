# Helpers of the end-to-end sessions with the real window on a private X
# display, sourced by each session script. They read the session's globals:
# WAIT_SECONDS, work, port, window, vorsk_pid and settings.

fail() { echo "FAIL: $*" >&2; exit 1; }
note() { echo "-- $*"; }

need() {
  command -v "$1" >/dev/null || { echo "SKIP: $1 is not installed (Debian package $2); scripts/setup installs it"; exit 77; }
}

# Ends one process of ours: politely first, then for good.
end_process() {
  local pid=$1
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 50); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# Repeats a command every tenth of a second until it succeeds or the wait is over.
wait_until() {
  local what=$1
  shift
  for _ in $(seq $((WAIT_SECONDS * 10))); do
    "$@" && return 0
    sleep 0.1
  done
  fail "waited ${WAIT_SECONDS} s for $what"
}

# A port below the kernel's range for outgoing connections that nothing holds
# now, and not the one given.
free_port() {
  local other=${1:-0}
  local -A used=([$other]=1)
  local table _slot local_address _rest candidate
  for table in /proc/net/tcp /proc/net/tcp6; do
    [ -r "$table" ] || continue
    while read -r _slot local_address _rest; do
      [[ "$local_address" == *:* ]] && used[$((16#${local_address##*:}))]=1
    done < <(tail -n +2 "$table")
  done
  for _ in $(seq 100); do
    candidate=$((20000 + RANDOM % 12000))
    [ -z "${used[$candidate]:-}" ] && { echo "$candidate"; return 0; }
  done
  fail "found no free port"
}

listening_on() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

vorsk_alive() { kill -0 "$vorsk_pid" 2>/dev/null; }
vorsk_ended() { ! vorsk_alive; }

press() {
  note "pressing $1"
  vorsk_alive || fail "vorsk ended before $1 was pressed"
  timeout "$WAIT_SECONDS" xdotool windowfocus --sync "$window" || fail "could not focus the window"
  xdotool key --clearmodifiers "$1"
}

# The [prefs] written back: all 21 keys, the port, and each line matching a
# pattern given.
check_settings() {
  local prefs keys pattern
  prefs=$(awk '/^\[/ { inside = ($0 == "[prefs]"); next } inside && /=/' "$settings")
  for pattern in "port=$port" "$@"; do
    grep -qx "$pattern" <<<"$prefs" || fail "the saved settings lack $pattern: $prefs"
  done
  keys=$(cut -d= -f1 <<<"$prefs" | sort -u | wc -l)
  [ "$keys" -eq 21 ] || fail "the saved settings hold $keys keys, expected 21: $prefs"
  note "settings written back: $keys keys"
}

# A private X display; its Xvfb's process id in xvfb_pid.
start_xvfb() {
  mkfifo "$work/displayfd"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/displayfd" >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  read -r -t "$WAIT_SECONDS" display_number <"$work/displayfd" || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
  export DISPLAY=":$display_number"
  note "display $DISPLAY"
}
