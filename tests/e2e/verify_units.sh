#!/usr/bin/env bash
# Checks the service units with systemd's own reader: every key known, every
# value valid, the program they start present, memory bounded.
#
# Usage: verify_units.sh <unit file>...
# Exit status: 0 passed, 1 failed, 77 skipped (systemd-analyze is missing).
set -euo pipefail

command -v systemd-analyze >/dev/null || { echo "SKIP: systemd-analyze is not installed (Debian package systemd)"; exit 77; }
[ $# -gt 0 ] || { echo "usage: verify_units.sh <unit file>..." >&2; exit 1; }

status=0
for unit in "$@"; do
  case "$unit" in
    *.service) grep -q '^ExecStart=/.*/vorsk --headless$' "$unit" || { echo "FAIL: $unit does not start vorsk --headless"; status=1; }
               grep -q '^MemoryMax=[0-9]' "$unit" || { echo "FAIL: $unit leaves memory unbounded"; status=1; } ;;
    *.socket) grep -q '^ListenStream=[0-9]' "$unit" || { echo "FAIL: $unit listens on no port"; status=1; } ;;
  esac
  # Unknown keys are only warnings to systemd; here they fail.
  if ! output=$(systemd-analyze verify --man=no "$unit" 2>&1) || [ -n "$output" ]; then
    echo "FAIL: $unit"
    echo "$output"
    status=1
  fi
done
exit $status
