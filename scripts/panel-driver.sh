# shellcheck shell=bash
# The processes around the real QUELTOR window: a virtual X server (Xvfb) with
# its own D-Bus session and accessibility bus, the simulated device on
# pseudo-terminals, the panel, and the session's scripts/panel-tree, which
# finds the controls and acts on them (`tree COMMAND ...`; its commands are
# listed at its top). Sourced by scripts/run (the demo), scripts/screenshots,
# the gui tests and the install check.

driver_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# ---------------------------------------------------------------- processes

driver_pids=()
driver_dirs=()

# Ends one process we started: TERM, then KILL if it lingers.
stop_pid() {
  kill -TERM "$1" 2>/dev/null || return 0
  wait_until 3 process_ended "$1" || kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}

# Ends everything started through this file, the newest first.
stop_started() {
  local i
  if [ -n "${TREE_IN:-}" ]; then
    exec {TREE_IN}>&- {TREE_OUT}<&-
    TREE_IN=
  fi
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

# The tools this file runs; prints the missing ones on one line.
driver_missing_tools() {
  local tool
  for tool in Xvfb xdotool xprop xwininfo import identify dbus-daemon dbus-send ps timeout "$atspi_launcher"; do
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

# The name a user's USB adapter has, for the pictures.
by_id_name=usb-FTDI_FT232R_USB_UART_A1B2C3-if00-port0

# start_device BINARY PORTS_DIR LOG: the simulated device with COM1 and COM2
# in PORTS_DIR; with a /dev of its own (scripts/private-dev), COM1 is
# /dev/serial/by-id/$by_id_name instead, as a user's adapter would be.
# Its standard input is the FIFO DEVICE_INPUT (device.in beside the log),
# opened for reading and writing so that it never blocks: device_command
# writes its commands there.
start_device() {
  local binary=$1 ports=$2 log=$3
  DEVICE_LOG=$log
  DEVICE_COM1=$ports/COM1
  [ "${QUELTOR_PRIVATE_DEV:-}" != 1 ] || DEVICE_COM1=/dev/serial/by-id/$by_id_name
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

# start_panel BINARY CONFIG_HOME LOG [OPTION...]: the real panel on the virtual
# display, with these options, its accessibility bridge on, and the session's
# panel-tree driving it. QT_SCALE_FACTOR passes through; the language is
# PANEL_LANG's (C.UTF-8, English, unless set): control names follow it.
start_panel() {
  PANEL_BINARY=$1 PANEL_HOME=$2
  local log=$3
  shift 3
  mkdir -p "$PANEL_HOME/runtime"
  chmod 700 "$PANEL_HOME/runtime"
  panel_command
  "${PANEL_COMMAND[@]}" "$@" >"$log" 2>&1 &
  PANEL_PID=$!
  driver_pids+=("$PANEL_PID")
  [ -n "${TREE_IN:-}" ] || start_tree "$(dirname "$log")"
  tree panel "$PANEL_PID"
}

# panel_command: sets PANEL_COMMAND to the panel's binary with the environment start_panel gives it.
panel_command() {
  PANEL_COMMAND=(env -u LC_ALL -u LC_MESSAGES -u LANGUAGE LANG="${PANEL_LANG:-C.UTF-8}"
    XDG_CONFIG_HOME="$PANEL_HOME" XDG_RUNTIME_DIR="$PANEL_HOME/runtime" QT_QPA_PLATFORM=xcb
    QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ENABLE_HIGHDPI_SCALING=0 QT_SCALE_FACTOR="${QT_SCALE_FACTOR:-1}"
    "$PANEL_BINARY")
}

# panel_ctl ARGS...: queltor-ctl, beside the panel's binary, as a script of the
# same user with the same settings runs it.
panel_ctl() {
  XDG_CONFIG_HOME=$PANEL_HOME XDG_RUNTIME_DIR=$PANEL_HOME/runtime timeout 20 "$(dirname "$PANEL_BINARY")/queltor-ctl" "$@"
}

# wait_for_panel: until the main window is on screen with its controls in the tree; sets PANEL_WINDOW.
wait_for_panel() { PANEL_WINDOW=$(tree within 20 window) && tree within 20 wait @frame shown; }

# ------------------------------------------------------------------ driving

# start_tree DIR: the session's scripts/panel-tree, talked to through two FIFOs in DIR.
start_tree() {
  rm -f "$1/tree.in" "$1/tree.out"
  mkfifo "$1/tree.in" "$1/tree.out"
  "$driver_dir/panel-tree" <"$1/tree.in" >"$1/tree.out" 2>"$1/tree.log" &
  driver_pids+=("$!")
  exec {TREE_IN}>"$1/tree.in" {TREE_OUT}<"$1/tree.out"
}

# tree COMMAND [WORD...]: one command to panel-tree (its commands are listed at
# its top). Prints the answer's value; fails with panel-tree's reason.
tree() {
  local word line="" reply
  [ -n "${TREE_IN:-}" ] || { echo "no panel-tree runs: start_panel starts it" >&2 && return 1; }
  for word in "$@"; do
    word=${word//\\/\\\\}
    line+="\"${word//\"/\\\"}\" "
  done
  printf '%s\n' "$line" >&"$TREE_IN"
  # panel-tree answers every command within its own time limits; this one is for its crash.
  IFS= read -r -t 300 -u "$TREE_OUT" reply || { echo "panel-tree gave no answer to: $*" >&2; return 1; }
  case $reply in
    ok) ;;
    "ok "*) printf '%s\n' "${reply#ok }" ;;
    *) echo "panel-tree: ${reply#error }" >&2 && return 1 ;;
  esac
}

# report_failure DIR: a screenshot of the screen and the panel's tree into DIR.
report_failure() {
  [ -n "${XVFB_PID:-}" ] && screenshot "$1/failure.png" && echo "screenshot: $1/failure.png" >&2
  [ -n "${TREE_IN:-}" ] && [ -n "${PANEL_PID:-}" ] && ! process_ended "$PANEL_PID" && tree within 2 dump "$1/tree.txt" &&
    echo "accessibility tree: $1/tree.txt" >&2
  return 0
}

# screenshot FILE [WINDOW]: the whole screen, or one window, once two pictures
# in a row have the same pixels: no paint was pending (or 20 tries were made).
screenshot() {
  local i last="" now
  for ((i = 0; i < 20; i++)); do
    import -window "${2:-root}" "$1" 2>/dev/null || return 1
    now=$(identify -format '%#' "$1") && [ "$now" != "$last" ] || return 0
    last=$now
  done
}
