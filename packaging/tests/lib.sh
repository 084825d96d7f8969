# shellcheck shell=bash
# Shared by the packaging checks.
set -uo pipefail

failures=0

fail() {
  echo "FAIL: $*" >&2
  failures=$((failures + 1))
}

# CI installs these tools; a missing one is a broken setup, not a reason to skip.
need() {
  local tool
  for tool in "$@"; do
    if ! command -v "$tool" >/dev/null; then
      echo "FAIL: $tool is not installed (Build-Depends in debian/control lists the packages)" >&2
      exit 1
    fi
  done
}

finish() {
  if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed" >&2
    exit 1
  fi
  echo "all checks passed"
}

# deb DIR NAME: the one package NAME that scripts/package left in DIR.
deb() {
  local found=("$1/$2"_*.deb)
  if [ ${#found[@]} -ne 1 ] || [ ! -f "${found[0]}" ]; then
    echo "FAIL: no single $2 package in $1: ${found[*]}" >&2
    exit 1
  fi
  echo "${found[0]}"
}

# The value of key in the [Desktop Entry] group of a desktop file.
desktop_value() {
  sed -n '/^\[Desktop Entry\]/,/^\[/{s/^'"$2"'=//p}' "$1" | head -n 1
}
