# shellcheck shell=bash
# What private_pulse_server.sh and private_pipewire_server.sh share: the
# commands, the process bookkeeping, sources, sinks and feeding. Sourced by
# them, never run. Both speak the PulseAudio protocol to their clients and
# print the same output; the sourcing script supplies
#   SCRIPT_NAME            its own name, for messages
#   DIR_PREFIX             prefix of the directories start makes
#   START_TIMEOUT_SECONDS  how long start may take before it gives up
#   PIPE_SOURCE_ANY_CHANNELS  1 when a pipe source takes any channel count
#   start_processes DIR OPTION...  starts the server's processes with
#                          launch_process, waits for them with wait_until,
#                          and refuses options it does not know
#   check_description TEXT dies when the server cannot carry TEXT unchanged
#
# Commands (DIR is the server's directory; the others need the variables that
# start prints):
#   start [--owner PID] [DIR]
#       Starts a server in DIR (a new directory under ${TMPDIR:-/tmp} when
#       omitted; DIR must not exist yet or be empty), waits until it answers and
#       prints shell "export" lines for PULSE_SERVER, HOME, XDG_RUNTIME_DIR,
#       DBUS_SESSION_BUS_ADDRESS (PipeWire) and PRIVATE_PULSE_DIR:
#       eval "$(SCRIPT start)". Clients reach it at unix:DIR/pulse.sock.
#       With --owner the server is stopped once process PID has ended, even if
#       PID was killed without a chance to clean up.
#   stop DIR
#       Stops the server and removes DIR (if start made it).
#   kill DIR
#       Kills the server's processes outright (SIGKILL), as a crash would; the
#       directory stays until stop.
#   env DIR
#       Prints the export lines again.
#   add-source NAME DESCRIPTION CHANNELS [RATE]
#       Adds a source named NAME (s16le, RATE default 48000) whose description
#       (friendly name) is DESCRIPTION, fed through the FIFO DIR/NAME.fifo;
#       prints the FIFO's path. Sources appear in the order they are added.
#   add-sink NAME DESCRIPTION CHANNELS [RATE]
#       Adds a null sink; its monitor source is NAME.monitor.
#   remove NAME
#       Removes a source or sink added above.
#   feed [--realtime] NAME PATTERN FRAMES [VALUE]
#       Writes FRAMES frames of s16le samples into the FIFO of source NAME, or
#       plays them through sink NAME with pacat (paced by the sink itself;
#       should pacat fall behind, the server plays silence and drops what
#       comes too late).
#       Sample k of frame f, channel c (k = f * CHANNELS + c) is:
#         ramp      (VALUE + k) modulo 65536, as signed 16 bits; VALUE defaults to 0
#         tagged    VALUE * 100 + c: each channel tells which feed and which
#                   channel it is (VALUE 0..326)
#         counted   ((VALUE + c) << 11) | (f modulo 2048), as signed 16 bits:
#                   the top 5 bits tag the channel (VALUE + c must stay within
#                   1..31), the low 11 bits count frames
#         silence   0
#       --realtime paces the writes at the source's rate, 480 frames at a time.
#       The feed process is the writer itself: killing it stops the feed at once.
#   clean-leftovers
#       Stops servers of earlier runs whose owner has gone (start does this too).

die() {
  echo "$SCRIPT_NAME: $*" >&2
  exit 1
}

temp_root() { echo "${TMPDIR:-/tmp}"; }

usage() {
  {
    sed -n '2,/^set -euo/p' "$0" | sed '$d'
    echo "#"
    sed -n '/^# Commands/,/^$/p' "${BASH_SOURCE[0]}"
  } | sed 's/^# \{0,1\}//' >&2
  exit 2
}

# ---- The server's processes ----

# Each process of a server carries PRIVATE_AUDIO_SERVER_DIR=DIR in its
# environment, so that a recorded pid is only ever taken for one of ours.
is_server_pid() {
  local dir=$1 pid=$2
  [[ $pid =~ ^[0-9]+$ ]] && [[ -r /proc/$pid/environ ]] &&
    { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF -- "PRIVATE_AUDIO_SERVER_DIR=$dir"
}

# The recorded pids of the server in $1 that are still its processes.
live_server_pids() {
  local dir=$1 pid
  [[ -r $dir/pids ]] || return 0
  while read -r pid; do
    if is_server_pid "$dir" "$pid"; then echo "$pid"; fi
  done <"$dir/pids"
}

# launch_process DIR LOG COMMAND [ARG...]: starts one server process in the
# background, with its output in DIR/LOG, and records its pid. Its environment
# is its own: nothing of the caller's session (its D-Bus, display, audio
# servers or configuration) leaks in; the array EXTRA_SERVER_ENVIRONMENT adds
# variables. Every descriptor is redirected so that a caller reading our
# output through a pipe is not held open.
launch_process() {
  local dir=$1 log=$2
  shift 2
  local environment=("PATH=$PATH" "HOME=$dir/home" "XDG_RUNTIME_DIR=$dir/run"
    "XDG_CONFIG_HOME=$dir/home/.config" "XDG_STATE_HOME=$dir/home/.local/state"
    "XDG_DATA_HOME=$dir/home/.local/share" "XDG_CACHE_HOME=$dir/home/.cache"
    "PULSE_SERVER=unix:$dir/pulse.sock" "PRIVATE_AUDIO_SERVER_DIR=$dir"
    ${EXTRA_SERVER_ENVIRONMENT[@]+"${EXTRA_SERVER_ENVIRONMENT[@]}"})
  (cd "$dir" && exec env -i "${environment[@]}" "$@") </dev/null >"$dir/$log" 2>&1 &
  echo "$!" >>"$dir/pids"
}

# Until a process launched by the subshell has exec'ed, its pid does not carry
# our environment yet; only its end means it failed.
all_launched_alive() {
  local pid
  while read -r pid; do kill -0 "$pid" 2>/dev/null || return 1; done <"$1/pids"
}

# wait_until DIR WHAT COMMAND [ARG...]: polls COMMAND until it succeeds; fails
# the start when a server process ended or START_TIMEOUT_SECONDS have passed.
wait_until() {
  local dir=$1 what=$2 waited=0 log
  shift 2
  until "$@" >/dev/null 2>&1; do
    if ! all_launched_alive "$dir" || ((waited >= START_TIMEOUT_SECONDS * 100)); then
      echo "$SCRIPT_NAME: the server did not come up ($what); its logs:" >&2
      for log in "$dir"/*.log; do
        [[ -r $log ]] && { echo "== $log" && tail -n 20 "$log"; } >&2
      done
      stop_server "$dir"
      exit 1
    fi
    sleep 0.01
    waited=$((waited + 1))
  done
}

# pactl against the server in $1, bounded in time.
pactl_in() {
  local dir=$1
  shift
  PULSE_SERVER="unix:$dir/pulse.sock" HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" \
    timeout 5 pactl "$@"
}

signal_server() {
  local dir=$1 signal=$2 pid
  for pid in $(live_server_pids "$dir"); do kill "-$signal" "$pid" 2>/dev/null || true; done
}

stop_server() {
  local dir=$1
  signal_server "$dir" TERM
  for _ in $(seq 50); do
    [[ -z $(live_server_pids "$dir") ]] && break
    sleep 0.1
  done
  signal_server "$dir" KILL
  if [[ -e $dir/.made-by-start ]]; then rm -rf -- "$dir"; fi
}

clean_leftovers() {
  local dir owner
  for dir in "$(temp_root)/$DIR_PREFIX".*; do
    [[ -e $dir/.made-by-start && -e $dir/pids ]] || continue
    owner=$(cat "$dir/owner.pid" 2>/dev/null || true)
    if [[ -n $owner ]] && kill -0 "$owner" 2>/dev/null; then continue; fi
    # No owner recorded: a server someone started by hand; only a dead one goes.
    if [[ -z $owner && -n $(live_server_pids "$dir") ]]; then continue; fi
    stop_server "$dir"
  done
}

# The environment a client of the server in $1 needs.
print_env() {
  local dir=$1
  printf 'export PULSE_SERVER=%q\n' "unix:$dir/pulse.sock"
  printf 'export HOME=%q\n' "$dir/home"
  printf 'export XDG_RUNTIME_DIR=%q\n' "$dir/run"
  if [[ -r $dir/dbus.address ]]; then
    printf 'export DBUS_SESSION_BUS_ADDRESS=%q\n' "$(head -n 1 "$dir/dbus.address")"
  fi
  printf 'export PRIVATE_PULSE_DIR=%q\n' "$dir"
}

start_server() {
  local owner="" dir="" options=()
  while [[ $# -gt 0 ]]; do
    case $1 in
      --owner)
        [[ $# -ge 2 && $2 =~ ^[0-9]+$ ]] || die "--owner needs a process id"
        owner=$2
        shift 2
        ;;
      --*) options+=("$1"); shift ;;
      *) dir=$1; shift ;;
    esac
  done
  # Clients take PULSE_SERVER as a blank-separated list of servers.
  [[ $dir != *[[:space:]]* && $(temp_root) != *[[:space:]]* ]] ||
    die "the server's directory cannot hold blanks: ${dir:-$(temp_root)}"
  clean_leftovers
  if [[ -z $dir ]]; then
    dir=$(mktemp -d "$(temp_root)/$DIR_PREFIX.XXXXXX")
    touch "$dir/.made-by-start"
  else
    mkdir -p "$dir"
    [[ -z $(ls -A "$dir") ]] || die "$dir is not empty"
  fi
  dir=$(cd "$dir" && pwd)
  mkdir -p "$dir/home/.config" "$dir/run" "$dir/modules"
  chmod 700 "$dir/run"
  : >"$dir/pids"
  [[ -z $owner ]] || echo "$owner" >"$dir/owner.pid"

  start_processes "$dir" "${options[@]}"

  if [[ -n $owner ]]; then
    # The watchdog: stops the server once the owner has gone, however it ended.
    (
      while kill -0 "$owner" 2>/dev/null && [[ -n $(live_server_pids "$dir") ]]; do
        sleep 1
      done
      stop_server "$dir"
    ) </dev/null >/dev/null 2>&1 &
  fi
  print_env "$dir"
}

# ---- Sources, sinks and feeds ----

require_server_env() {
  [[ -n ${PRIVATE_PULSE_DIR:-} && -n ${PULSE_SERVER:-} ]] ||
    die "PRIVATE_PULSE_DIR and PULSE_SERVER are not set (eval the output of start)"
}

check_name() {
  [[ $1 =~ ^[A-Za-z0-9_.-]+$ ]] || die "invalid source or sink name: $1"
}

check_count() {
  if ! [[ $2 =~ ^[0-9]+$ ]] || (($2 < $3 || $2 > $4)); then die "$1 must be $3..$4: $2"; fi
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

# Checks the arguments of a source or sink about to be added: NAME DESCRIPTION
# CHANNELS RATE.
check_new_endpoint() {
  check_name "$1"
  check_description "$2"
  check_count channels "$3" 1 32
  check_count rate "$4" 1 384000
  [[ ! -e $PRIVATE_PULSE_DIR/modules/$1 ]] || die "$1 was already added"
}

# What feed needs of an endpoint: "CHANNELS PIPE_CHANNELS RATE KIND".
record_layout() {
  printf '%s %s %s %s\n' "$2" "$3" "$4" "$5" >"$PRIVATE_PULSE_DIR/modules/$1.layout"
}

add_source() {
  [[ $# -ge 3 ]] || die "add-source NAME DESCRIPTION CHANNELS [RATE]"
  require_server_env
  local name=$1 description=$2 channels=$3 rate=${4:-48000}
  check_new_endpoint "$name" "$description" "$channels" "$rate"
  local fifo=$PRIVATE_PULSE_DIR/$name.fifo pipe_channels=$channels
  if ((PIPE_SOURCE_ANY_CHANNELS == 0)); then
    pipe_channels=1
    while ((pipe_channels < channels)); do pipe_channels=$((pipe_channels * 2)); done
  fi
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
  record_layout "$name" "$channels" "$pipe_channels" "$rate" source
  echo "$fifo"
}

add_sink() {
  [[ $# -ge 3 ]] || die "add-sink NAME DESCRIPTION CHANNELS [RATE]"
  require_server_env
  local name=$1 description=$2 channels=$3 rate=${4:-48000}
  check_new_endpoint "$name" "$description" "$channels" "$rate"
  load_module "$name" module-null-sink "sink_name=$name" format=s16le "rate=$rate" \
    "channels=$channels" \
    "sink_properties=\"device.description=$(quoted_description "$description")\""
  record_layout "$name" "$channels" "$channels" "$rate" sink
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

# The samples of a feed on standard output: pattern_writer PATTERN CHANNELS
# PIPE_CHANNELS FRAMES VALUE REALTIME RATE. perl-base is part of every
# Debian-like system; pack "s<" is signed 16-bit little-endian.
pattern_writer() {
  exec perl -MTime::HiRes=time,sleep -e '
    use strict; use warnings;
    my ($pattern, $channels, $pipe_channels, $frames, $value, $realtime, $rate) = @ARGV;
    binmode STDOUT; $| = 1;
    my $chunk = 480;  # frames per write
    my $start = time;
    my $k = 0;
    for (my $done = 0; $done < $frames; $done += $chunk) {
      my $n = $frames - $done < $chunk ? $frames - $done : $chunk;
      my @samples;
      for my $f ($done .. $done + $n - 1) {
        for my $channel (0 .. $channels - 1) {
          my $v = $pattern eq "ramp" ? ($value + $k) % 65536
                : $pattern eq "tagged" ? $value * 100 + $channel
                : $pattern eq "counted" ? (($value + $channel) << 11) | ($f % 2048) : 0;
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
  ' "$@"
}

feed() {
  local realtime=0
  if [[ ${1:-} == --realtime ]]; then realtime=1; shift; fi
  [[ $# -ge 3 ]] || die "feed [--realtime] NAME PATTERN FRAMES [VALUE]"
  require_server_env
  local name=$1 pattern=$2 frames=$3 value=${4:-0}
  check_name "$name"
  local layout=$PRIVATE_PULSE_DIR/modules/$name.layout channels pipe_channels rate kind
  [[ -r $layout ]] || die "no source or sink $name was added"
  read -r channels pipe_channels rate kind <"$layout"
  [[ $frames =~ ^[0-9]+$ ]] || die "frames must be a number: $frames"
  [[ $value =~ ^-?[0-9]+$ ]] || die "value must be a number: $value"
  case $pattern in
    ramp | silence) ;;
    tagged) check_count "tagged value" "$value" 0 326 ;;
    counted) check_count "counted value" "$value" 1 $((32 - channels)) ;;
    *) die "unknown pattern: $pattern" ;;
  esac
  local arguments=("$pattern" "$channels" "$pipe_channels" "$frames" "$value" "$realtime" "$rate")
  if [[ $kind == sink ]]; then
    # pacat is the feed process; the writer dies of a broken pipe with it.
    exec pacat --playback --raw "--device=$name" --format=s16le "--rate=$rate" \
      "--channels=$channels" --client-name="feed $name" < <(pattern_writer "${arguments[@]}")
  fi
  pattern_writer "${arguments[@]}" >"$PRIVATE_PULSE_DIR/$name.fifo"
}

# ---- Entry ----

main() {
  local command=${1:-}
  [[ $# -gt 0 ]] && shift
  case $command in
    start) start_server "$@" ;;
    stop)
      [[ $# -eq 1 ]] || die "stop DIR"
      stop_server "$(cd "$1" && pwd)"
      ;;
    kill)
      [[ $# -eq 1 ]] || die "kill DIR"
      signal_server "$(cd "$1" && pwd)" KILL
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
    *) usage ;;
  esac
}
