#!/usr/bin/env bash
# Every user-visible string of the sources is translated: a copy of each .ts is
# brought up to date with the sources by lupdate, as the update_translations
# target does, and nothing in it may be left unfinished.
# Usage: translations_complete.sh LUPDATE SOURCE_ROOT WORK_DIR
set -euo pipefail
lupdate=$1
root=$2
work=$3
rm -rf "$work"
mkdir -p "$work"
status=0
for ts in "$root"/translations/*.ts; do
  copy="$work/$(basename "$ts")"
  cp "$ts" "$copy"
  "$lupdate" -silent -locations none -no-obsolete "$root/src" -ts "$copy"
  unfinished=$(grep -c 'type="unfinished"' "$copy" || true)
  if [ "$unfinished" -ne 0 ]; then
    echo "FAIL: $(basename "$ts") lacks $unfinished translation(s):" >&2
    grep -B1 'type="unfinished"' "$copy" | sed -n 's/.*<source>\(.*\)<\/source>.*/  \1/p' >&2
    status=1
  fi
done
[ "$status" -ne 0 ] || echo "PASS: every string has its translation"
exit "$status"
