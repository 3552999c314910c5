#!/usr/bin/env bash
# with_private_pulse_server.sh [--pipewire] COMMAND [ARG...]
#
# Runs COMMAND against a private PulseAudio server of its own (see
# private_pulse_server.sh), or with --pipewire against a private PipeWire
# server (private_pipewire_server.sh), and exits with COMMAND's status. COMMAND
# sees PULSE_SERVER, HOME, XDG_RUNTIME_DIR, PRIVATE_PULSE_DIR (the server's
# directory, where the FIFOs of added sources live), DBUS_SESSION_BUS_ADDRESS
# (PipeWire's own session bus) and PRIVATE_PULSE_SCRIPT,
# the path of the server's script for adding sources and feeding them. The
# server is stopped when COMMAND ends, when this script is interrupted, and
# (through the server's watchdog) even when this script is killed outright.
set -uo pipefail

server=pulse
if [[ ${1:-} == --pipewire ]]; then
  server=pipewire
  shift
fi
if [[ $# -eq 0 ]]; then
  echo "usage: with_private_pulse_server.sh [--pipewire] COMMAND [ARG...]" >&2
  exit 2
fi

script=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/private_${server}_server.sh
child=""

stop_everything() {
  if [[ -n $child ]] && kill -0 "$child" 2>/dev/null; then
    kill -TERM "$child" 2>/dev/null
    wait "$child" 2>/dev/null
  fi
  if [[ -n ${PRIVATE_PULSE_DIR:-} ]]; then
    "$script" stop "$PRIVATE_PULSE_DIR" || true
  fi
}
trap stop_everything EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

server_env=$("$script" start --owner $$) || exit 1
eval "$server_env"
export PRIVATE_PULSE_SCRIPT=$script

# In the background so that a signal to this script is handled at once; an
# explicit stdin, because a background command would otherwise read /dev/null.
"$@" <&0 &
child=$!
wait "$child"
status=$?
child=""
if [[ $status -ne 0 ]]; then
  echo "with_private_pulse_server.sh: command failed ($status); server logs:" >&2
  for log in "$PRIVATE_PULSE_DIR"/*.log; do
    [[ -r $log ]] || continue
    echo "== $log" >&2
    grep -v '^W: ' "$log" | tail -n 20 >&2 || true
  done
fi
exit "$status"
