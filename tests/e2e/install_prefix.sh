#!/usr/bin/env bash
# README's install without a package: cmake --install into a prefix of the
# test's own. The service units there start the program installed beside them,
# systemd's own reader takes them, and the user's service's command, run as
# written, serves the picture from the installed files alone.
#
# Usage: install_prefix.sh <build folder>
# Exit status: 0 passed, 1 failed, 77 skipped (a needed tool is missing).
set -euo pipefail

build_dir=${1:?usage: install_prefix.sh <build folder>}
readonly WAIT_SECONDS=20

# shellcheck source=session_lib.sh
source "$(dirname "$0")/session_lib.sh"
need curl curl

work=$(mktemp -d "${TMPDIR:-/tmp}/vorsk-install.XXXXXX")
vorsk_pid=
cleanup() {
  end_process "$vorsk_pid"
  rm -rf "$work"
}
trap cleanup EXIT

prefix=$work/prefix
cmake --install "$build_dir" --prefix "$prefix" >"$work/install.log" 2>&1 ||
  { cat "$work/install.log"; fail "cmake --install failed"; }

units=("$prefix/lib/systemd/user/vorsk.service" "$prefix/lib/systemd/user/vorsk.socket"
       "$prefix/lib/systemd/system/vorsk@.service" "$prefix/lib/systemd/system/vorsk@.socket")
for unit in "${units[@]}"; do
  [ -f "$unit" ] || fail "$unit is not installed"
done
for unit in "${units[@]:0:1}" "${units[2]}"; do
  start=$(sed -n 's/^ExecStart=//p' "$unit")
  [ "$start" = "$prefix/bin/vorsk --headless" ] || fail "$unit starts '$start', not the installed $prefix/bin/vorsk"
done
if command -v systemd-analyze >/dev/null; then
  bash "$(dirname "$0")/verify_units.sh" "${units[@]}" || fail "systemd-analyze verify refuses the installed units"
fi

# The user's service's own command, with the test pattern and a settings file
# in a home of the test's own; port 0 lets the system choose one.
mkdir -p "$work/home/.config/Vorsk" "$work/tmp"
printf '[prefs]\nport=0\nwidth=64\nheight=48\n\n[server]\nheaders=True\n' >"$work/home/.config/Vorsk/Vorsk.conf"
read -ra command <<<"$(sed -n 's/^ExecStart=//p' "${units[0]}")"
env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM -u XDG_CONFIG_HOME -u XDG_RUNTIME_DIR \
  HOME="$work/home" TMPDIR="$work/tmp" VORSK_CAMERA=test "${command[@]}" >"$work/out" 2>"$work/err" &
vorsk_pid=$!
serving() { grep -q 'serving on port [1-9]' "$work/out"; }
wait_until "the installed vorsk to serve ($(cat "$work/err" 2>/dev/null))" serving
port=$(sed -n 's/.*serving on port \([0-9]*\).*/\1/p' "$work/out" | head -n 1)
fetch() { curl -sf --max-time 5 -o "$work/picture.jpg" "http://127.0.0.1:$port/" && [ -s "$work/picture.jpg" ]; }
wait_until "the picture from the installed vorsk" fetch
[ "$(head -c 2 "$work/picture.jpg" | od -An -tx1 | tr -d ' ')" = ffd8 ] || fail "the answer is no JPEG picture"
kill -TERM "$vorsk_pid"
wait "$vorsk_pid" || fail "the installed vorsk ended with $? on SIGTERM: $(cat "$work/err")"
vorsk_pid=
echo "PASS: the units in $prefix start $prefix/bin/vorsk, which serves"
