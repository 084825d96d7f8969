# shellcheck shell=bash
# Drives the real QUELTOR window from outside, as a person would: a virtual X
# server (Xvfb) with its own D-Bus session and accessibility bus, the simulated
# device on pseudo-terminals, xdotool for mouse and keyboard. Sourced by
# scripts/run (the demo) and by the gui tests.
#
# Nothing here knows the layout. Windows are found by their X properties,
# controls and menu entries by their names in the panel's accessibility tree
# (scripts/panel-tree), and every click goes where the tree says the control
# is, so a larger font, a status bar or a scale factor moves the clicks along.

driver_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# ---------------------------------------------------------------- processes

driver_pids=()
driver_dirs=()

# Ends one process we started: TERM, then KILL if it lingers.
stop_pid() {
  local pid=$1 i
  kill -0 "$pid" 2>/dev/null || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < 60; i++)); do
    kill -0 "$pid" 2>/dev/null || { wait "$pid" 2>/dev/null || true; return 0; }
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  wait "$pid" 2>/dev/null || true
}

# Ends everything started through this file, the newest first.
stop_started() {
  local i
  for ((i = ${#driver_pids[@]} - 1; i >= 0; i--)); do
    stop_pid "${driver_pids[i]}"
  done
  driver_pids=()
  for i in "${driver_dirs[@]}"; do rm -rf "$i"; done
  driver_dirs=()
}

# process_ended PID: true once a child has exited, reaped or not.
process_ended() {
  # (|| true: a caller's ERR trap would otherwise report the ended process as a failure.)
  case $(ps -o stat= -p "$1" 2>/dev/null || true) in
    "" | Z*) return 0 ;;
    *) return 1 ;;
  esac
}

# xdotool, never waiting for ever: --sync and searches give up after 10 s.
xdo() { timeout 10 xdotool "$@"; }

# The tools this file runs; prints the missing ones on one line.
driver_missing_tools() {
  local tool
  for tool in Xvfb xdotool xprop xwininfo import dbus-daemon dbus-send ps timeout "$atspi_launcher"; do
    command -v "$tool" >/dev/null || printf '%s ' "$tool"
  done
  "$driver_dir/panel-tree" --help >/dev/null 2>&1 || printf '%s ' "python3-pyatspi (for scripts/panel-tree)"
}

# ------------------------------------------------------------------ waiting

# wait_until SECONDS COMMAND...: true as soon as COMMAND succeeds.
wait_until() {
  local limit=$1 start=$SECONDS
  shift
  until "$@"; do
    ((SECONDS - start < limit)) || return 1
    sleep 0.05
  done
}

# ---------------------------------------------------------------- X server

# Starts Xvfb on a free display and exports DISPLAY.
start_xserver() {
  local dir=$1 number=""
  mkdir -p "$dir"
  rm -f "$dir/display"
  # -displayfd picks a free display number and reports it once the server listens.
  # -noreset: the server would otherwise reset whenever its last client leaves,
  # and a client connecting just then (the panel, after a short-lived xdotool) fails.
  Xvfb -displayfd 3 -dpi 96 -nolisten tcp -noreset 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  XVFB_PID=$!
  driver_pids+=("$XVFB_PID")
  wait_until 15 test -s "$dir/display" || { echo "Xvfb did not start; see $dir/xvfb.log" >&2; return 1; }
  number=$(head -n1 "$dir/display")
  export DISPLAY=":$number"
  unset WAYLAND_DISPLAY
}

# ------------------------------------------------------------------- buses

atspi_launcher=/usr/libexec/at-spi-bus-launcher

# start_buses DIR: a private D-Bus session for the X server started before,
# and on it the accessibility bus, where the panel's toolkit publishes its
# controls and scripts/panel-tree reads them. Exports DBUS_SESSION_BUS_ADDRESS;
# nothing reaches the user's own session or another case's.
start_buses() {
  local dir=$1 runtime
  mkdir -p "$dir"
  rm -f "$dir/session-bus"
  dbus-daemon --session --nofork --nosyslog --print-address=3 3>"$dir/session-bus" >"$dir/dbus.log" 2>&1 &
  driver_pids+=("$!")
  wait_until 10 test -s "$dir/session-bus" || { echo "dbus-daemon did not start; see $dir/dbus.log" >&2; return 1; }
  DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$dir/session-bus")
  export DBUS_SESSION_BUS_ADDRESS
  unset AT_SPI_BUS_ADDRESS # a desktop's own accessibility bus would win over ours
  # The launcher puts the accessibility bus's socket in XDG_RUNTIME_DIR; a
  # short private one keeps it apart and within the length a socket path may have.
  runtime=$(mktemp -d "${TMPDIR:-/tmp}/queltor-a11y.XXXXXX")
  driver_dirs+=("$runtime")
  # --a11y=1 tells every toolkit that assistive technology is on.
  XDG_RUNTIME_DIR=$runtime "$atspi_launcher" --launch-immediately --a11y=1 >"$dir/a11y.log" 2>&1 &
  driver_pids+=("$!")
  wait_until 10 accessibility_bus_up || { echo "the accessibility bus did not start; see $dir/a11y.log" >&2; return 1; }
}

# Asks the session bus who owns the name: a call to org.a11y.Bus itself would
# have the bus start a second launcher, outside our control, while ours starts.
accessibility_bus_up() {
  dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
    org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus 2>/dev/null | grep 'boolean true' >/dev/null
}

# ------------------------------------------------------------------- device

# start_device BINARY PORTS_DIR LOG: the simulated device with COM1 and COM2.
# Its standard input is the FIFO DEVICE_INPUT (device.in beside the log),
# opened for reading and writing so that it never blocks: device_command
# writes its commands there.
start_device() {
  local binary=$1 ports=$2 log=$3
  DEVICE_LOG=$log
  DEVICE_COM1=$ports/COM1
  DEVICE_COM2=$ports/COM2
  DEVICE_INPUT=$(dirname "$log")/device.in
  rm -f "$DEVICE_INPUT"
  mkfifo "$DEVICE_INPUT"
  : >"$log"
  "$binary" --port "COM1=$DEVICE_COM1" --port "COM2=$DEVICE_COM2" <>"$DEVICE_INPUT" >"$log" 2>&1 &
  DEVICE_PID=$!
  driver_pids+=("$DEVICE_PID")
  wait_until 10 device_ready || { echo "the simulated device did not start:" >&2; cat "$log" >&2; return 1; }
}

device_ready() { [ "$(grep -c ' ready at ' "$DEVICE_LOG")" -ge 2 ]; }

# device_command WORD...: one command to the device, such as "unplug COM1" or "replug COM1".
device_command() { printf '%s\n' "$*" >"$DEVICE_INPUT"; }

# device_lock_file PORT: the lock file a program that opens the port's
# pseudo-terminal takes (/run/lock/LCK..pts_N), from where the device last said it is.
device_lock_file() {
  local pts
  pts=$(sed -nE "s/^[0-9:.]+ $1 (ready|replugged) at .* \(\/dev\/(pts\/[0-9]+)\)\$/\2/p" "$DEVICE_LOG" | tail -n1)
  [ -n "$pts" ] && echo "/run/lock/LCK..${pts//\//_}"
}

# The commands the device received, one "COM1 07" a line.
device_commands() { sed -nE 's/^[0-9:.]+ (COM[0-9]+) channel ([0-9]{2})$/\1 \2/p' "$DEVICE_LOG"; }
device_command_count() { device_commands | wc -l; }
device_errors() { grep -E '^[0-9:.]+ COM[0-9]+ error: ' "$DEVICE_LOG" || true; }
device_has() { grep -qE "$1" "$DEVICE_LOG"; }

commands_at_least() { [ "$(device_command_count)" -ge "$1" ]; }

# wait_for_commands COUNT [SECONDS]: until the device has received COUNT commands in all.
wait_for_commands() { wait_until "${2:-5}" commands_at_least "$1"; }

# wait_for_quiet SECONDS [LIMIT]: until no command has arrived for SECONDS;
# false if the line is still busy after LIMIT seconds. Shows that nothing
# more comes, which no event can tell.
wait_for_quiet() {
  local quiet=$1 limit=${2:-10} start=$SECONDS count last
  last=$(device_command_count)
  while :; do
    sleep "$quiet"
    count=$(device_command_count)
    [ "$count" != "$last" ] || return 0
    last=$count
    ((SECONDS - start < limit)) || return 1
  done
}

# Stops the device; its summary is the end of its log.
stop_device() { stop_pid "$DEVICE_PID"; }

# -------------------------------------------------------------------- panel

# write_panel_settings CONFIG_HOME [KEY=VALUE...]: a fresh settings file whose
# port map points at the simulated device; extra keys go to group Settings.
write_panel_settings() {
  local home=$1 pair
  shift
  mkdir -p "$home/QUELTOR"
  {
    printf '[Ports]\nCOM1=%s\nCOM2=%s\n' "$DEVICE_COM1" "$DEVICE_COM2"
    if [ $# -gt 0 ]; then
      printf '\n[Settings]\n'
      for pair in "$@"; do printf '%s\n' "$pair"; done
    fi
  } >"$home/QUELTOR/QUELTOR.conf"
}

# start_panel BINARY CONFIG_HOME LOG: the real panel on the virtual display,
# its accessibility bridge on. QT_SCALE_FACTOR passes through; the language is
# PANEL_LANG's (C.UTF-8, English, unless set): control names follow it.
start_panel() {
  PANEL_BINARY=$1 PANEL_HOME=$2
  local log=$3
  mkdir -p "$PANEL_HOME/runtime"
  chmod 700 "$PANEL_HOME/runtime"
  panel_command
  "${PANEL_COMMAND[@]}" >"$log" 2>&1 &
  PANEL_PID=$!
  PANEL_SCALE=1
  driver_pids+=("$PANEL_PID")
}

# panel_command: sets PANEL_COMMAND to the panel's binary with the environment start_panel gives it.
panel_command() {
  PANEL_COMMAND=(env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG="${PANEL_LANG:-C.UTF-8}"
    XDG_CONFIG_HOME="$PANEL_HOME" XDG_RUNTIME_DIR="$PANEL_HOME/runtime" QT_QPA_PLATFORM=xcb
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ENABLE_HIGHDPI_SCALING=0 QT_SCALE_FACTOR="${QT_SCALE_FACTOR:-1}"
    "$PANEL_BINARY")
}

# start_again: the panel started once more with the same settings, as a user
# would from the menu; its exit status. The first is to come forward and this one to end.
start_again() {
  panel_command
  timeout 20 "${PANEL_COMMAND[@]}"
}

# panel_ctl ARGS...: queltor-ctl, beside the panel's binary, as a script of the
# same user with the same settings runs it.
panel_ctl() {
  XDG_CONFIG_HOME=$PANEL_HOME XDG_RUNTIME_DIR=$PANEL_HOME/runtime timeout 20 "$(dirname "$PANEL_BINARY")/queltor-ctl" "$@"
}

# panel_tree [OPTION...] COMMAND [ARG] STEP...: scripts/panel-tree on the running panel.
panel_tree() { "$driver_dir/panel-tree" --pid "$PANEL_PID" --scale "$PANEL_SCALE" "$@"; }

# ----------------------------------------------------------------- windows

# window_property WINDOW NAME: a property's value as xprop shows it; empty if unset.
window_property() { xprop -id "$1" "$2" 2>/dev/null | sed -nE 's/^[^=#]*[=#] ?//p'; }

window_x() { xdo getwindowgeometry --shell "$1" 2>/dev/null | sed -n 's/^X=//p'; }
window_y() { xdo getwindowgeometry --shell "$1" 2>/dev/null | sed -n 's/^Y=//p'; }
window_width() { xdo getwindowgeometry --shell "$1" 2>/dev/null | sed -n 's/^WIDTH=//p'; }
window_height() { xdo getwindowgeometry --shell "$1" 2>/dev/null | sed -n 's/^HEIGHT=//p'; }
window_shown() { xwininfo -id "$1" 2>/dev/null | grep 'Map State: IsViewable' >/dev/null; }

# The panel's windows of class QUELTOR; --onlyvisible for those on screen.
panel_windows() { xdo search --all "$@" --pid "$PANEL_PID" --class '^QUELTOR$' 2>/dev/null || true; }

# is_main_window WINDOW: titled QUELTOR and transient for no other window
# (menus and dialogs are), on screen or not.
is_main_window() {
  [ -z "$(window_property "$1" WM_TRANSIENT_FOR)" ] && [ "$(xdo getwindowname "$1" 2>/dev/null)" = QUELTOR ] &&
    panel_windows | grep -x "$1" >/dev/null
}

find_main_window() {
  local w
  for w in $(panel_windows --onlyvisible); do
    is_main_window "$w" && { echo "$w"; return 0; }
  done
  return 1
}

# find_message_box: a dialog of the panel, transient for its main window
# (which need not be on screen yet).
find_message_box() {
  local w owner
  for w in $(panel_windows --onlyvisible); do
    [[ $(window_property "$w" _NET_WM_WINDOW_TYPE) == *_NET_WM_WINDOW_TYPE_DIALOG* ]] || continue
    owner=$(window_property "$w" WM_TRANSIENT_FOR)
    [ -n "$owner" ] && is_main_window $((owner)) && { echo "$w"; return 0; }
  done
  return 1
}

# wait_for_panel: until the main window is on screen and its controls are in
# the tree; sets PANEL_WINDOW, and PANEL_SCALE from the window's width on
# screen over its width in the tree (they differ under QT_SCALE_FACTOR).
wait_for_panel() {
  local tree_width
  wait_until 20 find_main_window >/dev/null || { echo "the panel's window did not appear" >&2; return 1; }
  PANEL_WINDOW=$(find_main_window)
  read -r tree_width _ < <(panel_tree --timeout 20 size) ||
    { echo "the panel's window is not in the accessibility tree" >&2; return 1; }
  PANEL_SCALE="$(window_width "$PANEL_WINDOW")/$tree_width"
}

# wait_for_message_box [SECONDS]: until a message box of the panel shows; sets MESSAGE_BOX.
wait_for_message_box() {
  wait_until "${1:-20}" find_message_box >/dev/null || return 1
  MESSAGE_BOX=$(find_message_box)
}

# answer_message_box [KEY]: KEY (Return) to the box, then until it has gone.
answer_message_box() {
  press_in "$MESSAGE_BOX" "${1:-Return}"
  wait_until 10 message_box_gone
}

message_box_gone() { ! window_shown "$MESSAGE_BOX"; }

# ---------------------------------------------------------------- controls

# control_path NAME: the steps that lead to NAME in the panel's tree, one a
# line. Controls go by their accessible names ("CH 07", "Start CH", "Scan
# Term"); where a frame shares its option button's name, or the display its
# frame's, the role tells them apart; the status bar's line is "Connection".
# The one place names map to controls.
control_path() {
  case $1 in
    "Auto" | "Manual") echo "@radio button=$1" ;;
    "Channel display") echo "@label=Channel" ;;
    "Connection") printf '%s\n' "@status bar" "@label" ;;
    *) echo "$1" ;;
  esac
}

# on_control [OPTION...] COMMAND [ARG] NAME [STEP...]: scripts/panel-tree's
# COMMAND on the control NAME, or on a part of it that STEPs lead to.
on_control() {
  local args=() steps
  while [[ $1 == -* ]]; do
    case $1 in
      --timeout) args+=("$1" "$2") && shift 2 ;;
      *) args+=("$1") && shift ;;
    esac
  done
  case $1 in
    wait-text | wait-state) args+=("$1" "$2") && shift 2 ;;
    *) args+=("$1") && shift ;;
  esac
  mapfile -t steps < <(control_path "$1")
  shift
  panel_tree "${args[@]}" "${steps[@]}" "$@"
}

channel_button() { printf 'CH %02d' "$1"; }

# click_at X Y: a left click at a point on the screen. (No --sync: it would
# wait for ever when the pointer is there already; the server keeps the order.)
click_at() { xdo mousemove "$1" "$2" click 1; }

# click NAME: a click on the control's centre, wherever the tree shows it,
# enabled or not (a click on a disabled control must do nothing).
click() {
  local x y
  read -r x y < <(on_control where "$1") || { echo "cannot click $1" >&2; return 1; }
  click_at "$x" "$y"
}

# click_enabled NAME: a click on the control once it is shown and enabled.
click_enabled() {
  local x y
  read -r x y < <(on_control --enabled where "$1") || { echo "$1 is not enabled" >&2; return 1; }
  click_at "$x" "$y"
}

click_channel() { click "$(channel_button "$1")"; }

# spot_in_window NAME: "X Y" of the control's centre from the main window's corner.
spot_in_window() {
  local x y
  read -r x y < <(on_control where "$1") || return 1
  echo $((x - $(window_x "$PANEL_WINDOW"))) $((y - $(window_y "$PANEL_WINDOW")))
}

# click_in_window "X Y": a click at a spot taken with spot_in_window, wherever the window is now.
click_in_window() {
  local x y
  read -r x y <<<"$1"
  click_at $(($(window_x "$PANEL_WINDOW") + x)) $(($(window_y "$PANEL_WINDOW") + y))
}

# control_text NAME: what the control shows.
control_text() { on_control text "$1"; }

# The status bar's line about the port: "COM1 · /dev/ttyUSB0 · connected"
# (a long path is shortened in its middle, the rest never).
status_text() { control_text Connection; }
status_ends_with() { [[ $(status_text 2>/dev/null) == *"$1" ]]; }

# wait_status ENDING [SECONDS]: until the status line ends with ENDING.
wait_status() { wait_until "${2:-10}" status_ends_with "$1"; }

# wait_control STATE NAME: until the control is shown, hidden, not-shown,
# enabled, disabled, checked, unchecked, selected or unselected.
wait_control() { on_control wait-state "$1" "$2"; }

# wait_text NAME TEXT: until the control shows TEXT.
wait_text() { on_control wait-text "$2" "$1"; }

# choose_menu ENTRY...: opens each menu on the path and clicks its last entry,
# e.g. choose_menu Set "Channel Count" 40. Entries are clicked once enabled.
choose_menu() {
  local path=() entry x y
  for entry in "$@"; do
    path+=("$entry")
    read -r x y < <(panel_tree --enabled where "${path[@]}") || { echo "no menu entry ${path[*]}" >&2; return 1; }
    click_at "$x" "$y"
  done
}

# choose_in_list NAME VALUE: picks VALUE in a drop-down list with the arrow
# keys, counted from the list's own entries. The click goes to the list's
# edit field, which takes the focus without dropping the list down.
choose_in_list() {
  local current entries=() keys=() i from=-1 to=-1 x y
  read -r x y < <(on_control --enabled where "$1" @text) || { echo "$1 is not enabled" >&2; return 1; }
  click_at "$x" "$y"
  current=$(control_text "$1")
  mapfile -t entries < <(on_control items "$1")
  for i in "${!entries[@]}"; do
    [ "${entries[i]}" != "$current" ] || from=$i
    [ "${entries[i]}" != "$2" ] || to=$i
  done
  ((from >= 0 && to >= 0)) || { echo "$1 shows \"$current\" and has no entry \"$2\"" >&2; return 1; }
  for ((i = from; i < to; i++)); do keys+=(Down); done
  for ((i = from; i > to; i--)); do keys+=(Up); done
  [ ${#keys[@]} -eq 0 ] || xdo key --delay 30 "${keys[@]}"
  wait_text "$1" "$2"
}

# type_into NAME TEXT: replaces the text of an edit field.
type_into() {
  click_enabled "$1" || return 1
  xdo key ctrl+a
  xdo type --delay 40 "$2"
  wait_text "$1" "$2"
}

# choose_channel_count COUNT: Set > Channel Count > COUNT, then until the
# buttons show up to the last channel and no further.
choose_channel_count() {
  choose_menu Set "Channel Count" "$1" &&
    wait_control shown "$(channel_button $(($1 - 1)))" &&
    wait_control not-shown "$(channel_button "$1")"
}

# press_in WINDOW KEY...: keys to a window, such as a message box.
press_in() {
  local window=$1
  shift
  xdo windowfocus --sync "$window" 2>/dev/null || true
  xdo key --delay 60 "$@"
}

# screenshot FILE [WINDOW]: the whole screen, or one window.
screenshot() {
  import -window "${2:-root}" "$1" 2>/dev/null
}
