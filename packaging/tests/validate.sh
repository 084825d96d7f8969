#!/usr/bin/env bash
# validate.sh desktop|metainfo FILE: the freedesktop validators, with warnings counted as failures.
source "$(dirname "$0")/lib.sh" || exit 1

kind=$1 file=$2
[ -f "$file" ] || { echo "FAIL: $file does not exist" >&2; exit 1; }

case $kind in
  desktop)
    need desktop-file-validate
    report=$(desktop-file-validate "$file" 2>&1)
    status=$?
    echo "$report"
    [ "$status" -eq 0 ] || fail "desktop-file-validate rejects $file"
    [ -z "$report" ] || fail "desktop-file-validate has remarks on $file"
    ;;
  metainfo)
    need appstreamcli
    report=$(appstreamcli validate --no-net --pedantic "$file" 2>&1)
    status=$?
    echo "$report"
    [ "$status" -eq 0 ] || fail "appstreamcli rejects $file"
    ! grep -qE '^[EWIP]: ' <<<"$report" || fail "appstreamcli has remarks on $file"
    ;;
  *)
    echo "usage: validate.sh desktop|metainfo FILE" >&2
    exit 2
    ;;
esac
finish
