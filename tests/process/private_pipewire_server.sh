#!/usr/bin/env bash
# A private PipeWire server for tests, as desktops run it: pipewire, the
# wireplumber session manager and pipewire-pulse, which serves PulseAudio
# clients. Everything is its own: directory, HOME and configuration,
# XDG_RUNTIME_DIR, a session bus from dbus-daemon, and the socket
# unix:DIR/pulse.sock. It runs as root as well as any other user, with no
# systemd. The commands and their output are those of private_pulse_server.sh
# (see private_server_common.sh, or run without arguments); start also takes
#   --no-session-manager   no wireplumber: nothing links streams to sources, so
#                          a record stream is set up but never runs.
#
# Differences from PulseAudio (pipewire-pulse 0.3.65), all seen on Debian 12:
# - A pipe source takes any channel count, so every source is a plain pipe
#   source. It reads its FIFO at the graph's pace, in real time, like a sound
#   card, and plays silence while the FIFO is empty.
# - Module arguments keep their backslashes, so a description can hold no
#   quote and no backslash; add-source and add-sink refuse those.
# - The device monitors (ALSA, Bluetooth, cameras) are off, so the server never
#   touches the machine's own devices, and pipewire-pulse's stand-in sink
#   (module-always-sink) is unloaded: there is no sink until one is added.
set -euo pipefail

readonly SCRIPT_NAME=private_pipewire_server.sh
readonly DIR_PREFIX=velmoravad-pipewire
readonly START_TIMEOUT_SECONDS=10
readonly PIPE_SOURCE_ANY_CHANNELS=1

check_description() {
  [[ $1 != *[\'\"\\]* ]] || die "pipewire-pulse cannot carry quotes or backslashes: $1"
}

# A path as D-Bus addresses spell it: bytes other than [-0-9A-Za-z_/.\] as %XX.
dbus_escaped() {
  local LC_ALL=C text=$1 escaped="" index character
  for ((index = 0; index < ${#text}; index++)); do
    character=${text:index:1}
    if [[ $character == [-0-9A-Za-z_/.\\] ]]; then
      escaped+=$character
    else
      escaped+=$(printf '%%%02X' "'$character")
    fi
  done
  echo "$escaped"
}

write_configuration() {
  local config=$1/home/.config
  mkdir -p "$config/pipewire/pipewire-pulse.conf.d" "$config/wireplumber/main.lua.d" \
    "$config/wireplumber/bluetooth.lua.d"
  cat >"$config/pipewire/pipewire-pulse.conf.d/private.conf" <<CONF
pulse.properties = {
    server.address = [ "unix:$1/pulse.sock" ]
}
CONF
  # After the 50-*-config.lua files that enable the monitors.
  printf '%s_monitor.enabled = false\n' alsa v4l2 libcamera \
    >"$config/wireplumber/main.lua.d/51-private.lua"
  echo 'bluez_monitor.enabled = false' >"$config/wireplumber/bluetooth.lua.d/51-private.lua"
}

# Whether wireplumber has connected to pipewire and set up its policy.
session_manager_ready() {
  XDG_RUNTIME_DIR="$1/run" HOME="$1/home" timeout 5 pw-cli ls Metadata | grep -q '"default"'
}

start_processes() {
  local dir=$1 session_manager=1
  shift
  while [[ $# -gt 0 ]]; do
    case $1 in
      --no-session-manager) session_manager=0; shift ;;
      *) die "unknown start option: $1" ;;
    esac
  done
  write_configuration "$dir"
  launch_process "$dir" dbus.log dbus-daemon --session --nofork --nopidfile \
    "--address=unix:path=$(dbus_escaped "$dir/bus")" --print-address=1
  wait_until "$dir" "no session bus" grep -q . "$dir/dbus.log"
  head -n 1 "$dir/dbus.log" >"$dir/dbus.address"
  local EXTRA_SERVER_ENVIRONMENT
  EXTRA_SERVER_ENVIRONMENT=("DBUS_SESSION_BUS_ADDRESS=$(cat "$dir/dbus.address")")
  launch_process "$dir" pipewire.log pipewire
  wait_until "$dir" "no PipeWire socket" test -S "$dir/run/pipewire-0"
  if ((session_manager)); then launch_process "$dir" wireplumber.log wireplumber; fi
  launch_process "$dir" pipewire-pulse.log pipewire-pulse
  wait_until "$dir" "no answer on $dir/pulse.sock" pactl_in "$dir" info
  pactl_in "$dir" unload-module module-always-sink >/dev/null 2>&1 || true
  if ((session_manager)); then
    wait_until "$dir" "wireplumber made no default metadata" session_manager_ready "$dir"
  fi
}

# shellcheck source=private_server_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/private_server_common.sh"
main "$@"
