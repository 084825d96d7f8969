#!/usr/bin/env bash
# check_installed.sh DEBS SCRATCH: installs the three packages with dpkg into a
# scratch root whose database holds this machine's copies of their
# dependencies, then runs the installed programs: --version and --help with no
# display, and the window under Xvfb, whose class must be the desktop entry's
# StartupWMClass. The panel must link no network library. Purging them must
# leave nothing behind.
source "$(dirname "$0")/lib.sh" || exit 1
source "$(dirname "$0")/../../scripts/panel-driver.sh" || exit 1
need dpkg dpkg-deb dpkg-query Xvfb xdotool xprop

debs=$1 scratch=$2
queltor=$(deb "$debs" queltor) || exit 1
devsim=$(deb "$debs" queltor-devsim) || exit 1
web=$(deb "$debs" queltor-web) || exit 1
version=$(dpkg-deb --field "$queltor" Version)
rm -rf "$scratch"
root=$scratch/root
admin=$root/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates" "$admin/triggers"
touch "$admin/available"
trap stop_started EXIT

# Each dependency as this machine has it installed; dpkg checks the versions.
for package in "$queltor" "$devsim" "$web"; do
  dpkg-deb --field "$package" Depends Pre-Depends
done | sed 's/^[A-Za-z-]*: //' | tr ',' '\n' | sed -E 's/\|.*//; s/\(.*\)//; s/[[:space:]]//g' \
  | sed '/^$/d' | sort -u >"$scratch/depends"
while read -r name; do
  dpkg-query --status "$name" || { fail "the dependency $name is not installed here"; continue; }
  echo
  touch "$admin/info/$(dpkg-query --show --showformat='${binary:Package}' "$name").list"
done <"$scratch/depends" >"$admin/status"

dpkg_root=(dpkg --root="$root" --log=/dev/null)
[ "$(id -u)" -eq 0 ] || dpkg_root+=(--force-not-root)
"${dpkg_root[@]}" --install "$queltor" "$devsim" "$web" || fail "dpkg could not install the packages"
for name in queltor queltor-devsim queltor-web; do
  state=$("${dpkg_root[@]}" --status "$name" 2>/dev/null | sed -n 's/^Status: //p')
  [ "$state" = "install ok installed" ] || fail "$name is '$state' after dpkg --install"
done

# No display of any kind: --help and --version must not need one.
bare=(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM)
expect_output() { # expect_output WANTED COMMAND...: stdout starts with WANTED, status 0, stderr empty
  local wanted=$1 out err status
  shift
  out=$("$@" 2>"$scratch/stderr")
  status=$?
  err=$(cat "$scratch/stderr")
  echo "\$ ${*#"$root"}: $(head -n 1 <<<"$out")"
  [ "$status" -eq 0 ] || fail "$* exited with $status: $err"
  [ -z "$err" ] || fail "$* wrote to standard error: $err"
  [[ $out == "$wanted"* ]] || fail "$* printed '$out', expected it to start with '$wanted'"
}
expect_output "queltor $version" "${bare[@]}" "$root/usr/bin/queltor" --version
expect_output "Usage: queltor" "${bare[@]}" "$root/usr/bin/queltor" --help
expect_output "Usage: queltor" "${bare[@]}" "$root/usr/bin/queltor" -h
expect_output "queltor $version" "${bare[@]}" "$root/usr/bin/queltor" -platform offscreen -style Fusion --version
expect_output "queltor-ctl $version" "${bare[@]}" "$root/usr/bin/queltor-ctl" --version
expect_output "Usage: queltor-ctl" "${bare[@]}" "$root/usr/bin/queltor-ctl" --help
expect_output "queltor-devsim $version" "${bare[@]}" "$root/usr/bin/queltor-devsim" --version
expect_output "Usage: queltor-devsim" "${bare[@]}" "$root/usr/bin/queltor-devsim" --help
expect_output "queltor-web $version" "${bare[@]}" "$root/usr/bin/queltor-web" --version
expect_output "Usage: queltor-web" "${bare[@]}" "$root/usr/bin/queltor-web" --help

# The network is queltor-web's alone: the panel and queltor-ctl load no network library.
for program in queltor queltor-ctl; do
  networked=$(ldd "$root/usr/bin/$program" | grep -E 'libQt6(Network|HttpServer|WebSockets)' || true)
  [ -z "$networked" ] || fail "$program links a network library: $networked"
done
ldd "$root/usr/bin/queltor-web" | grep libQt6HttpServer >/dev/null || fail "queltor-web does not link Qt HttpServer"

# Shell completion where bash-completion looks for it, for each program.
for program in queltor queltor-ctl queltor-devsim queltor-web; do
  [ -f "$root/usr/share/bash-completion/completions/$program" ] || fail "no bash completion for $program"
done

# Qt still reads its own arguments: an unknown platform stops the panel.
# Qt aborts; the outer braces keep bash's own "Aborted" notice out of the log.
{ (ulimit -c 0; "${bare[@]}" "$root/usr/bin/queltor" -platform no-such-platform) >/dev/null 2>"$scratch/stderr"; } 2>/dev/null
status=$?
[ "$status" -ne 0 ] && grep -q 'no-such-platform' "$scratch/stderr" \
  || fail "queltor -platform no-such-platform did not reach Qt (status $status): $(cat "$scratch/stderr")"

# The window's class, as a dock sees it, against the installed desktop entry.
desktop=$(find "$root/usr/share/applications" -name '*.desktop' | head -n 1)
wanted=$(desktop_value "$desktop" StartupWMClass)
start_xserver "$scratch/x" || exit 1
mkdir -p "$scratch/config/QUELTOR" && mkdir -m 700 "$scratch/runtime"
printf '[Ports]\nCOM1=%s\n' "$scratch/no-device" >"$scratch/config/QUELTOR/QUELTOR.conf"
# On the X server, whatever platform the tests around it use.
QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch/runtime \
  "$root/usr/bin/queltor" >"$scratch/queltor.log" 2>&1 &
panel=$!
driver_pids+=("$panel")
windows=""
shown() { windows=$(xdotool search --onlyvisible --pid "$panel" 2>/dev/null); }
wait_until 20 shown || fail "the panel showed no window: $(cat "$scratch/queltor.log")"
for window in $windows; do
  class=$(xprop -id "$window" WM_CLASS | sed -n 's/^WM_CLASS(STRING) = "[^"]*", "\(.*\)"$/\1/p')
  echo "window $window: WM_CLASS class '$class', StartupWMClass '$wanted'"
  [ -n "$class" ] && [ "$class" = "$wanted" ] || fail "window class '$class' is not StartupWMClass '$wanted'"
done
stop_started

"${dpkg_root[@]}" --purge queltor queltor-devsim queltor-web || fail "dpkg could not purge the packages"
left=$(cd "$root" && find . -path ./var -prune -o ! -type d -print)
[ -z "$left" ] || fail "purging left files behind: $left"
finish
