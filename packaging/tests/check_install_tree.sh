#!/usr/bin/env bash
# check_install_tree.sh BUILD_DIR SCRATCH_DIR: installs the build into a scratch
# DESTDIR and checks what a desktop needs of it.
source "$(dirname "$0")/lib.sh" || exit 1
need cmake file desktop-file-validate appstreamcli

build=$1 scratch=$2
rm -rf "$scratch"
mkdir -p "$scratch"

if ! DESTDIR="$scratch/root" cmake --install "$build" --prefix /usr >"$scratch/install.log" 2>&1; then
  cat "$scratch/install.log"
  echo "FAIL: cmake --install failed" >&2
  exit 1
fi
check_tree "$scratch/root" /usr

# Everything lands under the prefix; nothing escapes DESTDIR.
outside=$(cd "$scratch/root" && find . -mindepth 1 -maxdepth 1 ! -name usr)
[ -z "$outside" ] || fail "installed outside the prefix: $outside"
finish
