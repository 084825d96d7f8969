# Shared by the packaging checks. The tests give QUELTOR_APP_ID, QUELTOR_BINARIES
# and QUELTOR_VERSION in the environment.
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
      echo "FAIL: $tool is not installed (scripts/common.sh lists the packages)" >&2
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

# The value of key in the [Desktop Entry] group of a desktop file.
desktop_value() {
  sed -n '/^\[Desktop Entry\]/,/^\[/{s/^'"$2"'=//p}' "$1" | head -n 1
}

# Checks an installed tree: root is where it was unpacked, prefix what it was installed for.
check_tree() {
  local root=$1 prefix=$2
  local top=$root$prefix
  local desktop=$top/share/applications/$QUELTOR_APP_ID.desktop
  local metainfo=$top/share/metainfo/$QUELTOR_APP_ID.metainfo.xml
  local binary

  for binary in $QUELTOR_BINARIES; do
    if [ ! -x "$top/bin/$binary" ]; then
      fail "bin/$binary is missing or not executable"
    elif ! file -b "$top/bin/$binary" | grep -q '^ELF'; then
      fail "bin/$binary is not a program: $(file -b "$top/bin/$binary")"
    fi
  done

  if [ ! -f "$desktop" ]; then
    fail "the desktop entry is missing: ${desktop#"$root"}"
  else
    desktop-file-validate "$desktop" || fail "the installed desktop entry does not validate"
    local exec icon
    exec=$(desktop_value "$desktop" Exec)
    exec=${exec%% *}
    [ -x "$top/bin/$exec" ] || fail "the desktop entry starts '$exec', which is not in bin"
    icon=$(desktop_value "$desktop" Icon)
    local png=$top/share/icons/hicolor/32x32/apps/$icon.png
    if [ ! -f "$png" ]; then
      fail "the desktop entry's icon '$icon' is not in the hicolor theme"
    elif ! file -b "$png" | grep -q '^PNG image data, 32 x 32'; then
      fail "the icon is not a 32x32 PNG: $(file -b "$png")"
    fi
  fi

  if [ ! -f "$metainfo" ]; then
    fail "the AppStream metainfo is missing: ${metainfo#"$root"}"
  else
    grep -q "<launchable type=\"desktop-id\">$QUELTOR_APP_ID.desktop</launchable>" "$metainfo" \
      || fail "the metainfo does not launch $QUELTOR_APP_ID.desktop"
    grep -q "<release version=\"$QUELTOR_VERSION\"" "$metainfo" \
      || fail "the metainfo has no release $QUELTOR_VERSION"
  fi

  # Metainfo, desktop entry and icon as software centres read them together.
  local report
  report=$(appstreamcli validate-tree --no-net "$top" 2>&1)
  local status=$?
  echo "$report"
  [ "$status" -eq 0 ] || fail "appstreamcli validate-tree rejects the tree"
  ! grep -qE '^[EWI]: ' <<<"$report" || fail "appstreamcli validate-tree reports issues"

  [ -f "$top/share/doc/queltor/copyright" ] || fail "share/doc/queltor/copyright is missing"
}
