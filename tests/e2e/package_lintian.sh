#!/usr/bin/env bash
# The Debian package of this build, made by CPack into a folder of its own,
# passes lintian with no error and no warning.
#
# Usage: package_lintian.sh <build folder>
# Exit status: 0 passed, 1 failed, 77 skipped (lintian is missing).
set -euo pipefail

build_dir=${1:?usage: package_lintian.sh <build folder>}
command -v lintian >/dev/null || { echo "SKIP: lintian is not installed (Debian package lintian); scripts/setup installs it"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/vorsk-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

cpack -G DEB --config "$build_dir/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; echo "FAIL: cpack made no package"; exit 1; }
package=$(find "$work" -maxdepth 1 -name 'vorsk_*.deb')
[ -n "$package" ] || { echo "FAIL: no package in $work"; exit 1; }
# Infos and pedantic notes are let be; an error or a warning fails.
if ! lintian --fail-on error,warning --tag-display-limit 0 "$package" 2>"$work/lintian.err"; then
  grep -v 'root privileges' "$work/lintian.err" || true
  echo "FAIL: lintian found errors or warnings"
  exit 1
fi
echo "PASS"
