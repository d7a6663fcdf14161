#!/usr/bin/env bash
# README's first command on a machine without a display: scripts/run itself,
# on the built tree (VORSK_BUILT=1, so nothing is installed or built), with
# DISPLAY and WAYLAND_DISPLAY removed. Its first line names the address to
# open; the picture is served there, and SIGTERM ends it with 0.
#
# Usage: run_without_display.sh <source folder> <build folder>
# Exit status: 0 passed, 1 failed, 77 skipped (a needed tool is missing).
set -euo pipefail

source_dir=${1:?usage: run_without_display.sh <source folder> <build folder>}
build_dir=${2:?usage: run_without_display.sh <source folder> <build folder>}
readonly WAIT_SECONDS=20

# shellcheck source=session_lib.sh
source "$(dirname "$0")/session_lib.sh"
need curl curl
need djpeg libjpeg-turbo-progs

work=$(mktemp -d "${TMPDIR:-/tmp}/vorsk-run.XXXXXX")
run_pid=
cleanup() {
  end_process "$run_pid"
  rm -rf "$work"
}
trap cleanup EXIT

port=$(free_port)
mkdir -p "$work/home/.config/Vorsk" "$work/tmp"
printf '[prefs]\nport=%s\nwidth=64\nheight=48\n' "$port" >"$work/home/.config/Vorsk/Vorsk.conf"

env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_CONFIG_HOME \
  HOME="$work/home" TMPDIR="$work/tmp" VORSK_CAMERA=test VORSK_BUILT=1 BUILD_DIR="$build_dir" \
  "$source_dir/scripts/run" >"$work/out" 2>"$work/err" &
run_pid=$!

wait_until "the first line" test -s "$work/out"
first=$(head -n 1 "$work/out")
note "$first"
address=$(grep -o 'http://[^ ]*' <<<"$first") || fail "no address in: $first"
[[ "$address" == *":$port/" ]] || fail "the address $address does not name port $port"
grep -q "stops it" <<<"$first" || fail "the first line does not say how to stop it: $first"

# Asked of this machine by the port printed; the address's host is one of its own.
fetch() { curl -s --http0.9 --max-time 5 -o "$work/picture.jpg" "$address" && [ -s "$work/picture.jpg" ]; }
wait_until "the picture at $address" fetch
djpeg -pnm -outfile "$work/picture.pnm" "$work/picture.jpg" || fail "the answer is no JPEG picture"
size=$(sed -n 2p "$work/picture.pnm" | tr -d '\r')
[ "$size" = "64 48" ] || fail "the picture is $size, not 64 48"
grep -q "serving on port $port" "$work/out" || fail "vorsk --headless did not say it serves: $(cat "$work/out" "$work/err")"

kill -TERM "$run_pid"
status=0
wait "$run_pid" || status=$?
run_pid=
[ "$status" -eq 0 ] || fail "SIGTERM ended it with $status: $(cat "$work/err")"
echo "PASS"
