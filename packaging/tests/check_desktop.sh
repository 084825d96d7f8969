#!/usr/bin/env bash
# check_desktop.sh DEBS SCRATCH: the desktop entry and the AppStream metadata
# in the queltor package, through the freedesktop validators and through
# appstreamcli compose, which builds the index the software centres read.
source "$(dirname "$0")/lib.sh" || exit 1
need dpkg-deb desktop-file-validate appstreamcli

debs=$1 scratch=$2
queltor=$(deb "$debs" queltor) || exit 1
rm -rf "$scratch"
mkdir -p "$scratch"
tree=$scratch/tree
dpkg-deb -x "$queltor" "$tree"

desktop=$(find "$tree/usr/share/applications" -name '*.desktop')
metainfo=$(find "$tree/usr/share/metainfo" -name '*.metainfo.xml')
[ "$(wc -w <<<"$desktop")" -eq 1 ] || fail "expected one desktop entry, found: ${desktop#"$tree"}"
[ "$(wc -w <<<"$metainfo")" -eq 1 ] || fail "expected one metainfo file, found: ${metainfo#"$tree"}"
[ "$failures" -eq 0 ] || finish

report=$(desktop-file-validate "$desktop" 2>&1)
status=$?
echo "desktop-file-validate: ${report:-no remarks}"
[ "$status" -eq 0 ] && [ -z "$report" ] || fail "desktop-file-validate has remarks"
[ -n "$(desktop_value "$desktop" StartupWMClass)" ] || fail "the desktop entry has no StartupWMClass"
# The panel speaks Korean: so do its menu entry and its software-centre page.
for key in 'Name\[ko\]' 'GenericName\[ko\]' 'Comment\[ko\]'; do
  [ -n "$(desktop_value "$desktop" "$key")" ] || fail "the desktop entry has no ${key//\\/}"
done
for element in name summary; do
  grep -q "<$element xml:lang=\"ko\">" "$metainfo" || fail "the metainfo has no Korean $element"
done

report=$(appstreamcli validate --no-net --no-color --pedantic "$metainfo" 2>&1)
status=$?
echo "appstreamcli validate --pedantic: $report"
[ "$status" -eq 0 ] || fail "appstreamcli validate rejects the metainfo"
! grep -qE '^[EWIP]: ' <<<"$report" || fail "appstreamcli validate has remarks"

# compose reports each problem as an indented "E:", "W:" or "I:" line.
report=$(appstreamcli compose --no-net --no-color --print-report=full --origin=queltor \
  --result-root="$scratch/compose" --hints-dir="$scratch/compose/hints" "$tree" 2>&1)
status=$?
echo "appstreamcli compose:"
echo "$report"
[ "$status" -eq 0 ] || fail "appstreamcli compose failed"
! grep -qE '^ +[EWI]: ' <<<"$report" || fail "appstreamcli compose has remarks"
catalog=$(zcat "$scratch"/compose/usr/share/swcatalog/xml/queltor.xml.gz 2>/dev/null)
id=$(basename "$metainfo" .metainfo.xml)
grep -q "<id>$id</id>" <<<"$catalog" || fail "the catalog lacks the component $id"
for size in 64 128; do
  grep -q "<icon type=\"cached\" width=\"$size\" height=\"$size\">" <<<"$catalog" \
    || fail "the catalog has no ${size}x$size icon"
done
finish
