#!/usr/bin/env bash
# check_deb.sh BUILD_DIR SCRATCH_DIR: builds the Debian package with CPack and
# checks its control fields, its file list and the tree it unpacks to.
source "$(dirname "$0")/lib.sh" || exit 1
need cpack dpkg-deb dpkg-shlibdeps dpkg-query file ldd desktop-file-validate appstreamcli

build=$1 scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch/out"

if ! (cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out") >"$scratch/cpack.log" 2>&1; then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack could not build the package" >&2
  exit 1
fi
debs=("$scratch"/out/*.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "FAIL: expected one .deb, found: ${debs[*]}" >&2
  exit 1
fi
deb=${debs[0]}
echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
dpkg-deb -I "$deb"

field() { dpkg-deb -f "$deb" "$1"; }
[ "$(field Package)" = queltor ] || fail "Package is '$(field Package)'"
[ "$(field Version)" = "$QUELTOR_VERSION" ] || fail "Version is '$(field Version)', the project is $QUELTOR_VERSION"
[ "$(field Architecture)" = "$(dpkg --print-architecture)" ] || fail "Architecture is '$(field Architecture)'"
[ "$(field Section)" = utils ] || fail "Section is '$(field Section)'"
grep -qE '^.+ <[^@ ]+@[^> ]+>$' <<<"$(field Maintainer)" || fail "Maintainer is '$(field Maintainer)'"
[ "$(field Description | wc -l)" -ge 3 ] || fail "Description has no long text"

# Depends as package names, one a line.
depends=$(field Depends | tr ',|' '\n\n' | sed -E 's/\(.*\)//; s/:any//; s/^ +//; s/ +$//' | sed '/^$/d' | sort -u)
for pkg in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libqt6serialport6 qt6-qpa-plugins; do
  grep -qx "$pkg" <<<"$depends" || fail "Depends lacks $pkg: $(field Depends)"
done
# Every dependency must be a real package: this machine runs the same binaries.
for pkg in $depends; do
  dpkg-query -W "$pkg" >/dev/null 2>&1 || fail "Depends names $pkg, which is not a package here"
done

contents=$(dpkg-deb -c "$deb")
echo "$contents"
paths=$(awk '{print $6}' <<<"$contents")
for binary in $QUELTOR_BINARIES; do
  grep -qx "./usr/bin/$binary" <<<"$paths" || fail "the package lacks /usr/bin/$binary"
done
for path in ./usr/share/applications/"$QUELTOR_APP_ID".desktop \
            ./usr/share/icons/hicolor/32x32/apps/queltor.png \
            ./usr/share/metainfo/"$QUELTOR_APP_ID".metainfo.xml \
            ./usr/share/doc/queltor/copyright; do
  grep -qx "$path" <<<"$paths" || fail "the package lacks ${path#.}"
done
strays=$(grep -vE '^\./(usr(/.*)?)?$' <<<"$paths")
[ -z "$strays" ] || fail "files outside /usr: $strays"
owners=$(awk '$2 != "root/root" {print $6 " " $2}' <<<"$contents")
[ -z "$owners" ] || fail "not owned by root: $owners"

dpkg-deb -x "$deb" "$scratch/root"
check_tree "$scratch/root" /usr
for binary in $QUELTOR_BINARIES; do
  program=$scratch/root/usr/bin/$binary
  [ -f "$program" ] || continue
  file -b "$program" | grep -q ', stripped' || fail "$binary is not stripped: $(file -b "$program")"
  missing=$(ldd "$program" | grep 'not found')
  [ -z "$missing" ] || fail "$binary needs libraries that are not found: $missing"
done
finish
