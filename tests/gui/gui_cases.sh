#!/usr/bin/env bash
# End-to-end cases in a real X window: the real queltor binary on its own Xvfb,
# COM1 and COM2 mapped to the simulated device, driven from outside with the
# mouse and the keyboard as a person would. scripts/panel-driver.sh starts the
# processes; scripts/panel-tree's commands (`tree COMMAND ...`, listed at its
# top) drive the window, as in the demo.
#
# A case is a function case_NAME below and NAME in the list of CMakeLists.txt.
#
# Usage: gui_cases.sh CASE PANEL_BINARY DEVSIM_BINARY WORK_DIR
# On failure WORK_DIR keeps failure.png, the device's log and the panel's log.
set -eEuo pipefail
trap 'echo "FAIL: line $LINENO: \"$BASH_COMMAND\" ended with status $?" >&2' ERR

case_name=$1
panel=$2
devsim=$3
work=$4
source "$(cd "$(dirname "$0")/../.." && pwd)/scripts/panel-driver.sh"

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# CI installs these; a machine without them must not pass by skipping.
missing=$(driver_missing_tools)
[ -z "$missing" ] || fail "missing: $missing; scripts/setup-deps installs them"

rm -rf "$work"
mkdir -p "$work"

on_exit() {
  local status=$?
  if [ "$status" -ne 0 ]; then
    report_failure "$work"
    echo "--- what the device printed" >&2
    cat "$work/device.log" >&2 2>/dev/null || true
    echo "--- what the panel printed" >&2
    cat "$work/panel.log" >&2 2>/dev/null || true
  fi
  stop_started
  exit "$status"
}
trap on_exit EXIT
trap 'fail "stopped from outside: the case ran out of time"' TERM INT

# ------------------------------------------------------------ case helpers

# start_session [KEY=VALUE...]: X server and buses, device, settings (extra
# keys go to group Settings) and panel.
start_session() {
  start_xserver "$work/x"
  start_buses "$work/x"
  start_device "$devsim" "$work/ports" "$work/device.log"
  write_panel_settings "$work/config" "$@"
  start_panel "$panel" "$work/config" "$work/panel.log"
}

# wait_ready: the window is up and COM1 was opened right.
wait_ready() {
  wait_for_panel
  wait_until 10 port_opened COM1 || fail "the panel did not open COM1 at 9600 baud"
}

# expect_commands "COM1 07" ...: exactly these commands so far, and no garbage.
expect_commands() {
  local want got
  want=$(printf '%s\n' "$@")
  got=$(device_commands)
  [ "$got" = "$want" ] || fail "the device received [$(echo $got)], expected [$(echo $want)]"
  [ -z "$(device_errors)" ] || fail "the device received malformed bytes: $(device_errors)"
}

# xdotool, never waiting for ever.
xdo() { timeout 10 xdotool "$@"; }

channel() { printf 'CH %02d' "$1"; }

window_height() { tree size | cut -d' ' -f2; }

# height_changed BEFORE grew|shrank: the window's height moved that way from BEFORE.
height_changed() {
  case $2 in
    grew) [ "$(window_height)" -gt "$1" ] ;;
    shrank) [ "$(window_height)" -lt "$1" ] ;;
  esac
}

# choose_bank COUNT grew|shrank: Set > Channel Count > COUNT; the buttons show
# up to the last channel and no further, and the window's height changed that way.
choose_bank() {
  local before
  before=$(window_height)
  tree menu Set "Channel Count" "$1"
  tree wait "$(channel $(($1 - 1)))" shown && tree wait "$(channel "$1")" not-shown ||
    fail "after choosing $1 channels the buttons up to $(channel $(($1 - 1))) do not show, or more do"
  wait_until 5 height_changed "$before" "$2" ||
    fail "after choosing $1 channels the window is $(window_height) px high, was $before: it should have $2"
}

# The port chosen in the menu was opened right.
port_opened() { device_has " $1 opened at 9600 baud, 1 stop bit: ok\$"; }

# scan_cycle FIRST LAST COUNT: the channels a scan from FIRST to LAST selects, as "COM1 nn" lines.
scan_cycle() {
  local first=$1 last=$2 count=$3 i
  for ((i = 0; i < count; i++)); do
    printf 'COM1 %02d\n' $((first + i % (last - first + 1)))
  done
}

# Milliseconds between the first and the last command, over the gaps between them.
mean_gap_ms() {
  sed -nE 's/^([0-9]+):([0-9]+):([0-9.]+) COM[0-9]+ channel .*/\1 \2 \3/p' "$DEVICE_LOG" | tail -n "$1" |
    awk '{ t = ($1 * 3600 + $2 * 60 + $3) * 1000; if (NR == 1) first = t; last = t }
         END { if (NR > 1) printf "%d\n", (last - first) / (NR - 1); else print 0 }'
}

# device_lock_file PORT: the lock file a program that opens the port's
# pseudo-terminal takes (/run/lock/LCK..pts_N), from where the device last said it is.
device_lock_file() {
  local pts
  pts=$(sed -nE "s/^[0-9:.]+ $1 (ready|replugged) at .* \(\/dev\/(pts\/[0-9]+)\)\$/\2/p" "$DEVICE_LOG" | tail -n1)
  [ -n "$pts" ] && echo "/run/lock/LCK..${pts//\//_}"
}

# start_again: the panel started once more with the same settings, as a user
# would from the menu; its exit status. The first is to come forward and this one to end.
start_again() {
  panel_command
  timeout 20 "${PANEL_COMMAND[@]}"
}

ended_with_status() {
  local status=0
  wait_until 10 process_ended "$PANEL_PID" || fail "the panel still runs 10 s after it was told to end"
  wait "$PANEL_PID" || status=$?
  [ "$status" -eq "$1" ] || fail "the panel ended with status $status, expected $1"
}

# ------------------------------------------------------------------ cases

# Each click puts exactly its command on the wire, on the port chosen.
case_clicks() {
  start_session ChNum=9 # 100 channels
  wait_ready
  local ch
  for ch in 0 9 10 55 99 42 42; do tree click "$(channel "$ch")"; done
  wait_for_commands 7 || true

  tree menu Set "Serial Port" com2
  wait_until 5 port_opened COM2 || fail "Set > Serial Port > com2 did not open COM2 at 9600 baud"
  device_has ' COM1 closed$' || fail "COM1 was not closed when COM2 was chosen"
  tree click "CH 05"
  wait_for_commands 8 || true
  wait_for_quiet 0.3 || fail "commands went on arriving"
  expect_commands "COM1 00" "COM1 09" "COM1 10" "COM1 55" "COM1 99" "COM1 42" "COM1 42" "COM2 05"
  grep -q '^ComPort=2$' "$work/config/QUELTOR/QUELTOR.conf" || fail "the port choice was not saved"
}

# A bank change reshapes the window; a click where a hidden button was sends nothing.
case_bank_change() {
  start_session ChNum=9
  wait_ready
  local row1 row6 row9 # where buttons of these rows are while all show
  read -ra row1 < <(tree spot "CH 15")
  read -ra row6 < <(tree spot "CH 65")
  read -ra row9 < <(tree spot "CH 95")
  tree click "CH 95"
  wait_for_commands 1 || true

  choose_bank 10 shrank # rows 1 to 9 hidden
  tree click-spot "${row1[@]}" # on the frame below the last row now
  tree click-spot "${row9[@]}" # beyond the window now
  tree click "CH 05"
  wait_for_commands 2 || true

  choose_bank 60 grew # rows up to 5 back
  tree click-spot "${row6[@]}"
  tree click "CH 55"
  wait_for_commands 3 || true
  wait_for_quiet 0.3 || fail "commands went on arriving"
  expect_commands "COM1 95" "COM1 05" "COM1 55"
  grep -q '^ChNum=5$' "$work/config/QUELTOR/QUELTOR.conf" || fail "the channel count was not saved"
}

# Auto: start 3, end 5, 0.2 s a channel; it cycles until Stop Scan and not after.
case_auto_scan() {
  start_session # 20 channels
  wait_ready
  tree click Auto
  tree choose "Start CH" 3
  tree choose "End CH" 5
  tree type "Scan Term" 0.2
  tree click "Start Scan"
  wait_for_commands 7 10 || fail "the scan sent $(device_command_count) commands in 10 s, expected 7"
  tree click "CH 10" # the channel buttons are disabled while scanning
  tree click "Stop Scan"
  wait_for_quiet 1 5 || fail "the scan went on after Stop Scan" # five terms without a command
  local count
  count=$(device_command_count)

  mapfile -t expected < <(scan_cycle 3 5 "$count")
  expect_commands "${expected[@]}"
  local gap
  gap=$(mean_gap_ms "$count")
  [ "$gap" -ge 150 ] && [ "$gap" -le 400 ] || fail "the scan stepped every $gap ms on average, expected about 200"
}

# File > Exit, even in the middle of a scan: status 0, the port closed, nothing after.
case_file_exit() {
  start_session
  wait_ready
  tree click "CH 07"
  wait_for_commands 1 || true
  tree click Auto
  tree type "Scan Term" 0.2
  tree click "Start Scan" # scan 0 to 19
  wait_for_commands 3 10 || fail "the scan did not start"
  tree menu File Exit
  ended_with_status 0
  wait_until 5 device_has ' COM1 closed$' || fail "COM1 was not closed"
  wait_for_quiet 1 5 || fail "commands went on arriving after the panel ended"
  local count
  count=$(device_command_count)
  [ "$(grep -E '^[0-9:.]+ COM1 ' "$DEVICE_LOG" | tail -n1 | cut -d' ' -f3-)" = "closed" ] ||
    fail "something reached COM1 after it was closed"

  mapfile -t expected < <(scan_cycle 0 19 $((count - 1)))
  expect_commands "COM1 07" "${expected[@]}"
}

# COM1 leads nowhere: the window comes up with the message box over it, and works on with COM2.
case_missing_port() {
  start_xserver "$work/x"
  start_buses "$work/x"
  start_device "$devsim" "$work/ports" "$work/device.log"
  DEVICE_COM1=$work/absent/COM1 write_panel_settings "$work/config"
  start_panel "$panel" "$work/config" "$work/panel.log"

  tree box >/dev/null || fail "no message box of the panel appeared"
  tree within 0 window >/dev/null 2>&1 || fail "the message box showed without the main window under it"
  tree answer || fail "the message box did not close on Return"
  wait_for_panel
  process_ended "$PANEL_PID" && fail "the panel ended after the message box"

  tree menu Set "Serial Port" com2
  wait_until 5 port_opened COM2 || fail "Set > Serial Port > com2 did not open COM2"
  tree click "CH 03"
  wait_for_commands 1 || true
  wait_for_quiet 0.3 || fail "commands went on arriving"
  expect_commands "COM2 03"
}

# At QT_SCALE_FACTOR=2 the window is twice as large on screen, every click
# lands on its control, and no control is cut off by the one it stands in.
case_high_dpi() {
  QT_SCALE_FACTOR=2 start_session ChNum=9
  wait_ready
  local scale cut
  scale=$(tree scale)
  [ "$scale" = 2 ] || fail "the window on screen is $scale times its size in the tree, not twice"
  cut=$(tree clipped)
  [ -z "$cut" ] || fail "controls cut off: $cut"
  tree click "CH 00"
  tree click "CH 99"
  tree click Auto
  tree choose "End CH" 2
  tree type "Scan Term" 0.2
  tree click "Start Scan"
  wait_for_commands 5 10 || fail "the scan sent $(device_command_count) commands in all, expected 5"
  tree click "Stop Scan"
  wait_for_quiet 1 5 || fail "the scan went on after Stop Scan"
  local count
  count=$(device_command_count)
  mapfile -t expected < <(scan_cycle 0 2 $((count - 2)))
  expect_commands "COM1 00" "COM1 99" "${expected[@]}"
}

# What a screen reader finds in the real window over AT-SPI: the names, the
# selected channel as selected, and the keyboard alone selecting channels.
case_screen_reader() {
  start_session ChNum=9
  wait_ready
  local name
  for name in "Start CH" "End CH" "Scan Term" "@panel=Auto" "@panel=Manual" "@label=Channel"; do
    tree wait "$name" shown || fail "no control named $name"
  done
  [ "$(tree text "Start CH")" = 0 ] && [ "$(tree text "End CH")" = 99 ] ||
    fail "the lists show $(tree text "Start CH") and $(tree text "End CH"), expected 0 and 99"
  tree click "CH 07" # the click gives the button the focus, too
  tree wait "CH 07" selected || fail "CH 07 is not exposed as selected"
  tree wait-text Channel 07 || fail "the display does not read 07"
  tree keys 4 2
  tree wait "CH 42" selected || fail "typing 4, 2 did not select CH 42"
  tree wait "CH 07" unselected || fail "CH 07 stays selected after CH 42"
  tree keys Return
  wait_for_commands 3 || true
  wait_for_quiet 0.3 || fail "commands went on arriving"
  expect_commands "COM1 07" "COM1 42" "COM1 42"
}

# Under a Korean locale the menus and names are Korean; the window title, the
# channel captions and the bytes are not translated.
case_korean() {
  PANEL_LANG=ko_KR.UTF-8 start_session
  wait_ready # finds the window by its title, QUELTOR
  tree wait "@panel=자동" shown || fail "the Auto frame is not named 자동"
  tree wait "시작" shown || fail "the start list is not named 시작"
  tree menu "설정(S)" "채널 수(C)" 40
  tree wait "CH 39" shown || fail "Set > Channel Count > 40 did not show CH 39"
  tree click "CH 35"
  wait_for_commands 1 || true
  wait_for_quiet 0.3 || fail "commands went on arriving"
  expect_commands "COM1 35"
}

# The device is pulled out and plugged back in: the status bar follows, one
# message tells of it, a click meanwhile is refused, and the panel reconnects
# by itself; the next click reaches the new pseudo-terminal.
case_unplug() {
  start_session
  wait_ready
  tree wait-status "* · connected" || fail "the status bar does not say connected"
  tree click "CH 04"
  wait_for_commands 1 || true

  device_command unplug COM1
  wait_until 5 device_has ' COM1 unplugged$' || fail "the device did not unplug COM1"
  tree box >/dev/null || fail "no message told of the unplugged device"
  tree wait-status "* · not connected: unplugged; reconnects when it is back" ||
    fail "the status bar does not tell of the unplug"
  tree answer || fail "the message box did not close on Return"
  tree click "CH 05" # refused, and not kept for later
  tree box >/dev/null || fail "a click while unplugged gave no message"
  tree answer || fail "the message box did not close on Return"

  device_command replug COM1
  wait_until 5 device_has ' COM1 replugged at ' || fail "the device did not replug COM1"
  tree wait-status "* · connected" || fail "the panel did not reconnect"
  # The device judges the line settings once they have stood 0.1 s: after the status changed.
  opened_twice() { [ "$(grep -c ' COM1 opened at 9600 baud, 1 stop bit: ok$' "$DEVICE_LOG")" -eq 2 ]; }
  wait_until 5 opened_twice || fail "COM1 was not opened again at 9600 baud"
  tree click "CH 06"
  wait_for_commands 2 || true
  wait_for_quiet 0.3 || fail "commands went on arriving"
  expect_commands "COM1 04" "COM1 06"
}

# The X server goes away under the panel: the toolkit ends the program, and
# the port is closed on the way out, lock file and all.
case_x_lost() {
  start_session
  wait_ready
  local lock
  lock=$(device_lock_file COM1) || fail "the device did not say where COM1 is"
  [ -e "$lock" ] || fail "no lock file $lock while COM1 is open"
  stop_pid "$XVFB_PID"
  wait_until 10 process_ended "$PANEL_PID" || fail "the panel still runs 10 s after the X server ended"
  wait_until 5 device_has ' COM1 closed$' || fail "COM1 was not closed"
  [ ! -e "$lock" ] || fail "the lock file $lock was left behind"
  PANEL_PID= # ended, by the toolkit's own exit status
}

# A script's select takes the click's way in the real window, and its refusal
# leaves no box; a second start brings the window forward over another
# window and gives it the focus, and ends with status 0.
case_scripting() {
  command -v xmessage >/dev/null || fail "missing: xmessage (x11-utils)"
  start_session # 20 channels
  wait_ready
  tree click "CH 03"
  wait_for_commands 1 || true
  panel_ctl select 12 || fail "queltor-ctl select 12 ended with status $?"
  tree wait-text Channel 12 || fail "the display does not read 12 after queltor-ctl select 12"
  tree wait "CH 12" selected || fail "CH 12 is not selected after queltor-ctl select 12"
  tree wait "CH 03" unselected || fail "CH 03 stays selected after queltor-ctl select 12"
  [[ $(panel_ctl status) == *'"channel":12,'* ]] || fail "queltor-ctl status does not report channel 12"
  local said status=0
  said=$(panel_ctl select 30 2>&1) || status=$?
  [ "$status" -eq 1 ] && [ "$said" = "queltor-ctl: channel: channel 30 is not in the bank of 20 channels, 00 to 19" ] ||
    fail "queltor-ctl select 30 on 20 channels ended with $status, saying: $said"
  ! tree within 1 box 2>/dev/null || fail "a message box was left for a script's request"

  # Another window over the panel.
  xmessage -geometry 1000x700+0+0 "over the panel" &
  driver_pids+=("$!")
  local cover=""
  covering() { cover=$(xdo search --onlyvisible --class '^Xmessage$' | head -n 1) && [ -n "$cover" ] && on_top "$cover"; }
  wait_until 10 covering || fail "no window came over the panel"

  start_again || fail "the second start ended with status $?"
  forward() { on_top "$PANEL_WINDOW" && [ "$(xdo getwindowfocus 2>/dev/null)" = "$PANEL_WINDOW" ]; }
  wait_until 10 forward || fail "the second start did not bring the window forward with the focus"
  tree window >/dev/null || fail "the panel's one main window is not on screen"
  wait_for_quiet 0.3 || fail "commands went on arriving"
  expect_commands "COM1 03" "COM1 12"
}

# Two switchers on one desk: a panel per settings file named with --config,
# each in its own window on its own device, and queltor-ctl --config reaching
# the panel of the file it names and no other.
case_two_panels() {
  start_xserver "$work/x"
  start_buses "$work/x"
  start_device "$devsim" "$work/ports" "$work/device.log"
  local desk1=$work/config/desk1.conf desk2=$work/config/desk2.conf
  mkdir -p "$work/config/QUELTOR"
  printf '[Ports]\nCOM1=%s\n' "$DEVICE_COM1" >"$desk1"
  printf '[Ports]\nCOM1=%s\n' "$DEVICE_COM2" >"$desk2"
  # The user's own file leads nowhere: a request that strays there reaches no device.
  printf '[Ports]\nCOM1=%s\n' "$work/no-device" >"$work/config/QUELTOR/QUELTOR.conf"
  cp "$work/config/QUELTOR/QUELTOR.conf" "$work/own.conf"
  start_panel "$panel" "$work/config" "$work/panel.log" --config "$desk1"
  wait_ready
  "${PANEL_COMMAND[@]}" --config "$desk2" >"$work/panel2.log" 2>&1 &
  local second=$! windows
  driver_pids+=("$second")
  both_shown() {
    windows=$( (xdo search --onlyvisible --pid "$PANEL_PID" --name '^QUELTOR$'
      xdo search --onlyvisible --pid "$second" --name '^QUELTOR$') | sort -u | wc -l)
    [ "$windows" -eq 2 ]
  }
  wait_until 20 both_shown || fail "two panels did not show two windows ($windows)"
  wait_until 10 port_opened COM2 || fail "the second panel did not open its device"
  # Both start at the centre of the screen: the second goes below the first, where clicks miss it.
  xdo windowmove "$(xdo search --onlyvisible --pid "$second" --name '^QUELTOR$' | head -n 1)" 0 720 ||
    fail "the second window could not be moved"

  panel_ctl --config "$desk2" select 09 || fail "queltor-ctl --config desk2.conf select 09 ended with status $?"
  wait_for_commands 1 || true
  tree click "CH 03"
  wait_for_commands 2 || true
  wait_for_quiet 0.3 || fail "commands went on arriving"
  expect_commands "COM2 09" "COM1 03"
  [[ $(panel_ctl --config "$desk1" status) == *'"channel":3,'* ]] || fail "the first panel does not show channel 3"
  [[ $(panel_ctl --config "$desk2" status) == *'"channel":9,'* ]] || fail "the second panel does not show channel 9"
  cmp -s "$work/own.conf" "$work/config/QUELTOR/QUELTOR.conf" || fail "the user's own settings file changed"
  kill -TERM "$second"
  wait_until 10 process_ended "$second" || fail "the second panel still runs 10 s after SIGTERM"
}

# on_top WINDOW: of the panel's main window and the xmessage window, WINDOW is the upper one.
on_top() {
  # xwininfo lists the top-most window first.
  local top
  top=$(xwininfo -root -children | grep -E '"(QUELTOR|xmessage)": \("' | head -n 1 | awk '{ print $1 }')
  [ -n "$top" ] && [ $((top)) -eq "$1" ]
}

"case_$case_name"

# Every case ends the panel as a logout does: SIGTERM, then status 0. In the
# sanitizer build that exit is a normal one, so LeakSanitizer checks it too.
if [ -n "${PANEL_PID:-}" ] && ! process_ended "$PANEL_PID"; then
  kill -TERM "$PANEL_PID"
  ended_with_status 0
fi
if grep -E 'ERROR: [A-Za-z]+Sanitizer|runtime error:' "$work/panel.log" >&2; then
  fail "the sanitizers reported on the panel"
fi
echo "PASS: $case_name"
