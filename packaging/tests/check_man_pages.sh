#!/usr/bin/env bash
# check_man_pages.sh PAGE...: each page renders with man, as lintian runs it,
# and with groff's warnings all on, without a single remark.
source "$(dirname "$0")/lib.sh" || exit 1
need man groff

for page in "$@"; do
  remarks=$(LC_ALL=C.UTF-8 MANROFFSEQ='' MANWIDTH=80 man --warnings -E UTF-8 -l -Tutf8 -Z "$page" 2>&1 >/dev/null)
  [ -z "$remarks" ] || fail "man has remarks on $page: $remarks"
  remarks=$(groff -ww -man -z "$page" 2>&1)
  [ -z "$remarks" ] || fail "groff has remarks on $page: $remarks"
  text=$(LC_ALL=C.UTF-8 MANWIDTH=80 man -l "$page" 2>/dev/null)
  for section in NAME SYNOPSIS DESCRIPTION FILES "EXIT STATUS" EXAMPLES "SEE ALSO"; do
    grep -qx "$section" <<<"$text" || fail "$page has no $section section"
  done
  echo "$(basename "$page"): $(wc -l <<<"$text") lines"
done
finish
