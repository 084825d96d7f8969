# shellcheck shell=bash
# Drives the real QUELTOR window from outside, as a person would: a virtual X
# server (Xvfb), the simulated device on pseudo-terminals, xdotool for mouse
# and keyboard. Sourced by scripts/run (the demo) and by the gui tests.
#
# Click positions come from the window's layout, drawn up in twips (15 to a
# pixel) and measured from the client area, which starts below the menu bar.

# ---------------------------------------------------------------- processes

driver_pids=()

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
}

# process_ended PID: true once a child has exited, reaped or not.
process_ended() {
  case $(ps -o stat= -p "$1" 2>/dev/null) in
    "" | Z*) return 0 ;;
    *) return 1 ;;
  esac
}

# xdotool, never waiting for ever: --sync and searches give up after 10 s.
xdo() { timeout 10 xdotool "$@"; }

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
  Xvfb -displayfd 3 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 3>"$dir/display" >"$dir/xvfb.log" 2>&1 &
  XVFB_PID=$!
  driver_pids+=("$XVFB_PID")
  wait_until 15 test -s "$dir/display" || { echo "Xvfb did not start; see $dir/xvfb.log" >&2; return 1; }
  number=$(head -n1 "$dir/display")
  export DISPLAY=":$number"
  unset WAYLAND_DISPLAY
}

# ------------------------------------------------------------------- device

# start_device BINARY PORTS_DIR LOG: the simulated device with COM1 and COM2.
start_device() {
  local binary=$1 ports=$2 log=$3
  DEVICE_LOG=$log
  DEVICE_COM1=$ports/COM1
  DEVICE_COM2=$ports/COM2
  : >"$log"
  "$binary" --port "COM1=$DEVICE_COM1" --port "COM2=$DEVICE_COM2" >"$log" 2>&1 &
  DEVICE_PID=$!
  driver_pids+=("$DEVICE_PID")
  wait_until 10 device_ready || { echo "the simulated device did not start:" >&2; cat "$log" >&2; return 1; }
}

device_ready() { [ "$(grep -c ' ready at ' "$DEVICE_LOG")" -ge 2 ]; }

# The commands the device received, one "COM1 07" a line.
device_commands() { sed -nE 's/^[0-9:.]+ (COM[0-9]+) channel ([0-9]{2})$/\1 \2/p' "$DEVICE_LOG"; }
device_command_count() { device_commands | wc -l; }
device_errors() { grep -E '^[0-9:.]+ COM[0-9]+ error: ' "$DEVICE_LOG" || true; }
device_has() { grep -qE "$1" "$DEVICE_LOG"; }

commands_at_least() { [ "$(device_command_count)" -ge "$1" ]; }

# wait_for_commands COUNT [SECONDS]: until the device has received COUNT commands in all.
wait_for_commands() { wait_until "${2:-5}" commands_at_least "$1"; }

# wait_for_quiet SECONDS [LIMIT]: until no command has arrived for SECONDS;
# false if the line is still busy after LIMIT seconds.
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

# start_panel BINARY CONFIG_HOME LOG: the real panel on the virtual display.
start_panel() {
  local binary=$1 home=$2 log=$3
  mkdir -p "$home/runtime"
  chmod 700 "$home/runtime"
  XDG_CONFIG_HOME=$home XDG_RUNTIME_DIR=$home/runtime QT_QPA_PLATFORM=xcb \
    QT_ENABLE_HIGHDPI_SCALING=0 QT_SCALE_FACTOR=1 "$binary" >"$log" 2>&1 &
  PANEL_PID=$!
  driver_pids+=("$PANEL_PID")
}

# Visible top-level windows titled exactly QUELTOR: the main window and its message boxes.
queltor_windows() { xdo search --onlyvisible --name '^QUELTOR$' 2>/dev/null || true; }

window_width() { xdo getwindowgeometry --shell "$1" 2>/dev/null | sed -n 's/^WIDTH=//p'; }
window_height() { xdo getwindowgeometry --shell "$1" 2>/dev/null | sed -n 's/^HEIGHT=//p'; }

# The main window is the one as wide as the client area: 9195 twips.
find_main_window() {
  local w
  for w in $(queltor_windows); do
    if [ "$(window_width "$w")" = "$(twips_to_pixels 9195)" ]; then
      echo "$w"
      return 0
    fi
  done
  return 1
}

# find_message_box: a window titled QUELTOR that is not the main window.
find_message_box() {
  local w
  for w in $(queltor_windows); do
    if [ "$(window_width "$w")" != "$(twips_to_pixels 9195)" ]; then
      echo "$w"
      return 0
    fi
  done
  return 1
}

# wait_for_panel BANK_INDEX: finds the main window and learns the menu bar's
# height from the client height the bank gives (bank index 1 = 20 channels).
wait_for_panel() {
  local bank=$1
  wait_until 20 find_main_window >/dev/null || { echo "the panel's window did not appear" >&2; return 1; }
  PANEL_WINDOW=$(find_main_window)
  PANEL_MENU_HEIGHT=$(($(window_height "$PANEL_WINDOW") - $(client_height "$bank")))
}

# ------------------------------------------------------------------- layout

# Rounds like the panel: halves away from zero, for the positive lengths here.
twips_to_pixels() { echo $((($1 * 2 + 15) / 30)); }

# Height of the client area for a bank index (0..9): the button frame's top,
# the frame down to the last visible row plus its margin, and the bottom margin.
client_height() {
  local bank=$1
  twips_to_pixels $((1200 + (270 + 330 * bank + 345 + 160) + 90))
}

# The window height a bank gives, with the menu bar learnt at start-up.
expected_window_height() { echo $(($(client_height "$1") + PANEL_MENU_HEIGHT)); }

# control_box NAME: container left/top, then left, top, width, height, all in twips.
control_box() {
  local name=$1 i
  case $name in
    optAuto) echo 0 0 210 60 675 225 ;;
    optMan) echo 0 0 210 1200 945 225 ;;
    cboStart) echo 90 60 1050 240 645 300 ;;
    cboEnd) echo 90 60 1050 630 645 300 ;;
    txtTerm) echo 90 60 3150 240 525 270 ;;
    cmdAuto) echo 90 60 6210 240 1275 735 ;;
    lblCH) echo 90 60 7590 120 1245 885 ;; # the display's frame, fraCh
    "cmdCH("*")")
      i=${name#cmdCH(}
      i=${i%)}
      echo 90 1200 $((150 + 870 * (i % 10))) $((270 + 330 * (i / 10))) 885 345
      ;;
    *) echo "no control named $name" >&2; return 1 ;;
  esac
}

# control_centre NAME: "x y" in pixels from the window's top-left corner.
control_centre() {
  local cl ct left top width height
  read -r cl ct left top width height < <(control_box "$1")
  echo $(($(twips_to_pixels "$cl") + $(twips_to_pixels "$left") + $(twips_to_pixels "$width") / 2)) \
    $((PANEL_MENU_HEIGHT + $(twips_to_pixels "$ct") + $(twips_to_pixels "$top") + $(twips_to_pixels "$height") / 2))
}

# ----------------------------------------------------------------- actions

click_control() {
  local x y
  read -r x y < <(control_centre "$1")
  xdo mousemove --window "$PANEL_WINDOW" "$x" "$y" click 1
  sleep 0.1
}

click_channel() { click_control "cmdCH($1)"; }

# press KEY...: keys to the panel, one after another, as a person types them.
press() {
  xdo windowfocus --sync "$PANEL_WINDOW" 2>/dev/null || true
  xdo key --delay 60 "$@"
  sleep 0.2
}

# press_in WINDOW KEY...: keys to another window, such as a message box.
press_in() {
  local window=$1
  shift
  xdo windowfocus --sync "$window" 2>/dev/null || true
  xdo key --delay 60 "$@"
  sleep 0.2
}

# type_into NAME TEXT: replaces the text of an edit field.
type_into() {
  click_control "$1"
  xdo key ctrl+a
  xdo type --delay 40 "$2"
  sleep 0.1
}

# step_list NAME Up|Down COUNT: moves a list's choice with the arrow keys.
step_list() {
  local keys=() i
  click_control "$1"
  for ((i = 0; i < $3; i++)); do keys+=("$2"); done
  [ ${#keys[@]} -eq 0 ] || xdo key --delay 30 "${keys[@]}"
  sleep 0.1
}

# Set > Channel Count > COUNT (10..100). The submenu opens on its first entry.
choose_channel_count() {
  local keys=(alt+s c) i
  for ((i = 10; i < $1; i += 10)); do keys+=(Down); done
  press "${keys[@]}" Return
}

# Set > Serial Port > comN.
choose_port() {
  local keys=(alt+s p) i
  for ((i = 1; i < $1; i++)); do keys+=(Down); done
  press "${keys[@]}" Return
}

choose_exit() { press alt+f x; }

# screenshot FILE [WINDOW]: the whole screen, or one window.
screenshot() {
  import -window "${2:-root}" "$1" 2>/dev/null
}
