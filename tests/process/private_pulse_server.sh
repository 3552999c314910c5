#!/usr/bin/env bash
# A private PulseAudio server for tests: its own directory, socket, HOME and
# XDG_RUNTIME_DIR, anonymous access, no D-Bus, no autospawn, and it runs as root
# as well as any other user. Sources are module-pipe-source FIFOs that tests feed
# with known sample patterns; the commands are those of
# private_server_common.sh (run without arguments to see them).
#
# PulseAudio 16's pipe source aborts the server on a frame that straddles its
# 4096-byte reads, so only 1, 2, 4, 8, 16 or 32 channels are a plain pipe
# source. Any other count is a remap source over a hidden pipe source
# "NAME.pipe" (description "Pipe of DESCRIPTION") of the next such count, taking
# its first CHANNELS channels unchanged; feed pads the frames.
# A pipe source drains its FIFO only while some stream records from it, and
# then as fast as it is written: a feed written before capture starts waits in
# the FIFO, and blocks once the FIFO's 64 KiB are full.
set -euo pipefail

readonly SCRIPT_NAME=private_pulse_server.sh
readonly DIR_PREFIX=velmoravad-pulse
readonly START_TIMEOUT_SECONDS=10
readonly PIPE_SOURCE_ANY_CHANNELS=0

# PulseAudio's property parser takes escapes: any description comes through.
check_description() { :; }

# Not daemonised, so that the recorded pid is the server. As root PulseAudio
# only warns. No realtime scheduling: that would ask RealtimeKit over D-Bus.
start_processes() {
  local dir=$1
  shift
  [[ $# -eq 0 ]] || die "unknown start option: $1"
  printf 'load-module module-native-protocol-unix auth-anonymous=1 socket=%s\n' \
    "$dir/pulse.sock" >"$dir/pa.pa"
  launch_process "$dir" pa.log pulseaudio -n -F "$dir/pa.pa" --exit-idle-time=-1 \
    --daemonize=no --realtime=no --high-priority=no --log-target=stderr
  wait_until "$dir" "no answer on $dir/pulse.sock" pactl_in "$dir" info
}

# shellcheck source=private_server_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/private_server_common.sh"
main "$@"
