#!/usr/bin/env bash
# A private PulseAudio server for tests: its own directory, socket, HOME and
# XDG_RUNTIME_DIR, anonymous access, no D-Bus, no autospawn, and it runs as root
# as well as any other user. Sources are module-pipe-source FIFOs that tests feed
# with known sample patterns.
#
#   private_pulse_server.sh start [--owner PID] [DIR]
#       Starts a server in DIR (a new directory under ${TMPDIR:-/tmp} when
#       omitted; DIR must not exist yet or be empty), waits until it answers and
#       prints shell "export" lines for PULSE_SERVER, HOME, XDG_RUNTIME_DIR and
#       PRIVATE_PULSE_DIR: eval "$(private_pulse_server.sh start)".
#       With --owner the server is stopped once process PID has ended, even if
#       PID was killed without a chance to clean up.
#   private_pulse_server.sh stop DIR
#       Stops the server and removes DIR (if start made it).
#   private_pulse_server.sh env DIR
#       Prints the export lines again.
#   private_pulse_server.sh add-source NAME DESCRIPTION CHANNELS [RATE]
#       Adds a source named NAME (s16le, RATE default 48000) whose description
#       (friendly name) is DESCRIPTION, which may hold any characters, fed
#       through the FIFO DIR/NAME.fifo; prints the FIFO's path. Sources appear in
#       the order they are added. Needs the variables that start prints.
#       PulseAudio 16's pipe source aborts the server on a frame that straddles
#       its 4096-byte reads, so only 1, 2, 4, 8, 16 or 32 channels are a plain
#       pipe source. Any other count is a remap source over a hidden pipe source
#       "NAME.pipe" (description "Pipe of DESCRIPTION") of the next such count,
#       taking its first CHANNELS channels unchanged; feed pads the frames.
#   private_pulse_server.sh add-sink NAME DESCRIPTION CHANNELS [RATE]
#       Adds a null sink; its monitor source is NAME.monitor.
#   private_pulse_server.sh remove NAME
#       Removes a source or sink added above.
#   private_pulse_server.sh feed [--realtime] NAME PATTERN FRAMES [VALUE]
#       Writes FRAMES frames of s16le samples into the FIFO of source NAME.
#       Sample k of the source (k = frame * CHANNELS + channel) is:
#         ramp      (VALUE + k) modulo 65536, as signed 16 bits; VALUE defaults to 0
#         tagged    VALUE * 100 + channel: each channel tells which feed and
#                   which channel it is (VALUE 0..326)
#         silence   0
#       --realtime paces the writes at the source's rate, 480 frames at a time.
#       A pipe source drains its FIFO only while some stream records from it,
#       and then as fast as it is written: a feed written before capture starts
#       waits in the FIFO, and blocks once the FIFO's 64 KiB are full.
#   private_pulse_server.sh clean-leftovers
#       Stops servers of earlier runs whose owner has gone (start does this too).
set -euo pipefail

readonly DIR_PREFIX=velmoravad-pulse
readonly START_TIMEOUT_SECONDS=10

die() {
  echo "private_pulse_server.sh: $*" >&2
  exit 1
}

temp_root() { echo "${TMPDIR:-/tmp}"; }

# The environment a client of the server in $1 needs.
print_env() {
  local dir=$1
  printf 'export PULSE_SERVER=%q\n' "unix:$dir/pulse.sock"
  printf 'export HOME=%q\n' "$dir/home"
  printf 'export XDG_RUNTIME_DIR=%q\n' "$dir/run"
  printf 'export PRIVATE_PULSE_DIR=%q\n' "$dir"
}

# pactl against the server in $1, bounded in time.
pactl_in() {
  local dir=$1
  shift
  PULSE_SERVER="unix:$dir/pulse.sock" HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" \
    timeout 5 pactl "$@"
}

# Whether $2 is the pid of the server of directory $1 (guards against pid reuse).
is_server_pid() {
  local dir=$1 pid=$2
  [[ -n $pid ]] && [[ -r /proc/$pid/cmdline ]] &&
    tr '\0' ' ' <"/proc/$pid/cmdline" | grep -qF -- "-F $dir/pa.pa"
}

server_pid() { cat "$1/server.pid" 2>/dev/null || true; }

stop_server() {
  local dir=$1 pid
  pid=$(server_pid "$dir")
  if is_server_pid "$dir" "$pid"; then
    pactl_in "$dir" exit >/dev/null 2>&1 || true
    for _ in $(seq 50); do
      is_server_pid "$dir" "$pid" || break
      sleep 0.1
    done
    if is_server_pid "$dir" "$pid"; then kill -TERM "$pid" 2>/dev/null || true; sleep 0.5; fi
    if is_server_pid "$dir" "$pid"; then kill -KILL "$pid" 2>/dev/null || true; fi
  fi
  if [[ -e $dir/.made-by-start ]]; then rm -rf -- "$dir"; fi
}

clean_leftovers() {
  local dir owner
  for dir in "$(temp_root)/$DIR_PREFIX".*; do
    [[ -e $dir/.made-by-start ]] || continue
    owner=$(cat "$dir/owner.pid" 2>/dev/null || true)
    if [[ -n $owner ]] && kill -0 "$owner" 2>/dev/null; then continue; fi
    # No owner recorded: a server someone started by hand; only a dead one goes.
    if [[ -z $owner ]] && is_server_pid "$dir" "$(server_pid "$dir")"; then continue; fi
    stop_server "$dir"
  done
}

start_server() {
  local owner="" dir=""
  while [[ $# -gt 0 ]]; do
    case $1 in
      --owner) owner=$2; shift 2 ;;
      *) dir=$1; shift ;;
    esac
  done
  clean_leftovers
  if [[ -z $dir ]]; then
    dir=$(mktemp -d "$(temp_root)/$DIR_PREFIX.XXXXXX")
    touch "$dir/.made-by-start"
  else
    mkdir -p "$dir"
    [[ -z $(ls -A "$dir") ]] || die "$dir is not empty"
  fi
  dir=$(cd "$dir" && pwd)
  mkdir -p "$dir/home" "$dir/run" "$dir/modules"
  chmod 700 "$dir/run"
  [[ -z $owner ]] || echo "$owner" >"$dir/owner.pid"
  printf 'load-module module-native-protocol-unix auth-anonymous=1 socket=%s\n' \
    "$dir/pulse.sock" >"$dir/pa.pa"

  # Not daemonised, so that $! is the server; every descriptor is redirected so
  # that a caller reading our output through a pipe is not held open. As root
  # PulseAudio only warns. No realtime scheduling: that would ask RealtimeKit
  # over D-Bus.
  (
    cd "$dir"
    export PULSE_SERVER="unix:$dir/pulse.sock" HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run"
    exec pulseaudio -n -F "$dir/pa.pa" --exit-idle-time=-1 --daemonize=no \
      --realtime=no --high-priority=no --log-target="file:$dir/pa.log"
  ) </dev/null >/dev/null 2>&1 &
  local pid=$!
  echo "$pid" >"$dir/server.pid"

  local waited=0
  until pactl_in "$dir" info >/dev/null 2>&1; do
    # Until the subshell has exec'ed the server, the pid does not look like the
    # server's yet; only its end means the server failed.
    if ! kill -0 "$pid" 2>/dev/null || ((waited >= START_TIMEOUT_SECONDS * 10)); then
      echo "private_pulse_server.sh: the server did not come up; its log:" >&2
      cat "$dir/pa.log" >&2 2>/dev/null || true
      stop_server "$dir"
      exit 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done

  if [[ -n $owner ]]; then
    # The watchdog: stops the server once the owner has gone, however it ended.
    (
      while kill -0 "$owner" 2>/dev/null && is_server_pid "$dir" "$(server_pid "$dir")"; do
        sleep 1
      done
      stop_server "$dir"
    ) </dev/null >/dev/null 2>&1 &
  fi
  print_env "$dir"
}

require_server_env() {
  [[ -n ${PRIVATE_PULSE_DIR:-} && -n ${PULSE_SERVER:-} ]] ||
    die "PRIVATE_PULSE_DIR and PULSE_SERVER are not set (eval the output of start)"
}

check_name() {
  [[ $1 =~ ^[A-Za-z0-9_.-]+$ ]] || die "invalid source or sink name: $1"
}

check_count() {
  [[ $2 =~ ^[0-9]+$ ]] && (($2 >= $3 && $2 <= $4)) || die "$1 must be $3..$4: $2"
}

# The description as a single-quoted property value: PulseAudio's property
# parser takes backslash escapes, and an escaped double quote also keeps the
# module-argument parser from ending the value there.
quoted_description() {
  local text=$1
  text=${text//\\/\\\\}
  text=${text//\'/\\\'}
  text=${text//\"/\\\"}
  printf "'%s'" "$text"
}

# Loads a module for the source or sink NAME; the indices are kept so that remove
# can unload them, newest first.
load_module() {
  local name=$1
  shift
  local index
  index=$(timeout 5 pactl load-module "$@") || die "could not load $1 for $name"
  echo "$index" >>"$PRIVATE_PULSE_DIR/modules/$name"
}

# "aux0,aux1,...,aux<N-1>"
aux_channel_map() {
  local map="" channel
  for ((channel = 0; channel < $1; channel++)); do map+="${map:+,}aux$channel"; done
  echo "$map"
}

# Checks the arguments of a source or sink about to be added: NAME CHANNELS RATE.
check_new_endpoint() {
  check_name "$1"
  check_count channels "$2" 1 32
  check_count rate "$3" 1 384000
  [[ ! -e $PRIVATE_PULSE_DIR/modules/$1 ]] || die "$1 was already added"
}

add_source() {
  [[ $# -ge 3 ]] || die "add-source NAME DESCRIPTION CHANNELS [RATE]"
  require_server_env
  local name=$1 description=$2 channels=$3 rate=${4:-48000}
  check_new_endpoint "$name" "$channels" "$rate"
  local fifo=$PRIVATE_PULSE_DIR/$name.fifo pipe_channels=1
  while ((pipe_channels < channels)); do pipe_channels=$((pipe_channels * 2)); done
  if ((pipe_channels == channels)); then
    load_module "$name" module-pipe-source "source_name=$name" "file=$fifo" format=s16le \
      "rate=$rate" "channels=$channels" \
      "source_properties=\"device.description=$(quoted_description "$description")\""
  else
    load_module "$name" module-pipe-source "source_name=$name.pipe" "file=$fifo" format=s16le \
      "rate=$rate" "channels=$pipe_channels" "channel_map=$(aux_channel_map "$pipe_channels")" \
      "source_properties=\"device.description=$(quoted_description "Pipe of $description")\""
    load_module "$name" module-remap-source "source_name=$name" "master=$name.pipe" \
      "channels=$channels" "master_channel_map=$(aux_channel_map "$channels")" \
      "channel_map=$(aux_channel_map "$channels")" remix=no \
      "source_properties=\"device.description=$(quoted_description "$description")\""
  fi
  printf '%s %s %s\n' "$channels" "$pipe_channels" "$rate" >"$PRIVATE_PULSE_DIR/modules/$name.layout"
  echo "$fifo"
}

add_sink() {
  [[ $# -ge 3 ]] || die "add-sink NAME DESCRIPTION CHANNELS [RATE]"
  require_server_env
  local name=$1 description=$2 channels=$3 rate=${4:-48000}
  check_new_endpoint "$name" "$channels" "$rate"
  load_module "$name" module-null-sink "sink_name=$name" format=s16le "rate=$rate" \
    "channels=$channels" \
    "sink_properties=\"device.description=$(quoted_description "$description")\""
}

remove_endpoint() {
  [[ $# -eq 1 ]] || die "remove NAME"
  require_server_env
  check_name "$1"
  local record=$PRIVATE_PULSE_DIR/modules/$1 index
  [[ -r $record ]] || die "no source or sink $1 was added"
  for index in $(tac "$record"); do timeout 5 pactl unload-module "$index"; done
  rm -f -- "$record" "$record.layout"
}

feed() {
  local realtime=0
  if [[ ${1:-} == --realtime ]]; then realtime=1; shift; fi
  [[ $# -ge 3 ]] || die "feed [--realtime] NAME PATTERN FRAMES [VALUE]"
  require_server_env
  local name=$1 pattern=$2 frames=$3 value=${4:-0}
  check_name "$name"
  local layout=$PRIVATE_PULSE_DIR/modules/$name.layout channels pipe_channels rate
  [[ -r $layout ]] || die "no source $name was added"
  read -r channels pipe_channels rate <"$layout"
  [[ $frames =~ ^[0-9]+$ ]] || die "frames must be a number: $frames"
  [[ $value =~ ^-?[0-9]+$ ]] || die "value must be a number: $value"
  case $pattern in
    ramp | silence) ;;
    tagged) check_count "tagged value" "$value" 0 326 ;;
    *) die "unknown pattern: $pattern" ;;
  esac
  # perl-base is part of every Debian-like system; pack "s<" is signed 16-bit LE.
  perl -MTime::HiRes=time,sleep -e '
    use strict; use warnings;
    my ($pattern, $channels, $pipe_channels, $frames, $value, $realtime, $rate) = @ARGV;
    binmode STDOUT; $| = 1;
    my $chunk = 480;  # frames per write
    my $start = time;
    my $k = 0;
    for (my $done = 0; $done < $frames; $done += $chunk) {
      my $n = $frames - $done < $chunk ? $frames - $done : $chunk;
      my @samples;
      for (1 .. $n) {
        for my $channel (0 .. $channels - 1) {
          my $v = $pattern eq "ramp" ? ($value + $k) % 65536
                : $pattern eq "tagged" ? $value * 100 + $channel : 0;
          push @samples, $v >= 32768 ? $v - 65536 : $v;
          $k++;
        }
        push @samples, (0) x ($pipe_channels - $channels);
      }
      print pack("s<*", @samples);
      if ($realtime) {
        my $due = $start + ($done + $n) / $rate;
        my $now = time;
        sleep($due - $now) if $due > $now;
      }
    }
  ' "$pattern" "$channels" "$pipe_channels" "$frames" "$value" "$realtime" "$rate" \
    >"$PRIVATE_PULSE_DIR/$name.fifo"
}

command=${1:-}
[[ $# -gt 0 ]] && shift
case $command in
  start) start_server "$@" ;;
  stop)
    [[ $# -eq 1 ]] || die "stop DIR"
    stop_server "$(cd "$1" && pwd)"
    ;;
  env)
    [[ $# -eq 1 ]] || die "env DIR"
    print_env "$(cd "$1" && pwd)"
    ;;
  add-source) add_source "$@" ;;
  add-sink) add_sink "$@" ;;
  remove) remove_endpoint "$@" ;;
  feed) feed "$@" ;;
  clean-leftovers) clean_leftovers ;;
  *)
    sed -n '2,/^set -euo/p' "$0" | sed '$d' | sed 's/^# \{0,1\}//' >&2
    exit 2
    ;;
esac
