#!/usr/bin/env bash
# A private PulseAudio server for the sound tests.
#
#   scripts/sound-server.sh start [build-dir]   start it, print the environment that points a process at it
#   scripts/sound-server.sh env   [build-dir]   print that environment again (fails when it is not running)
#   scripts/sound-server.sh stop  [build-dir]   stop it and remove its folder (harmless when not running)
#
# Everything lives in <build-dir>/pulse (default build dir "build"): runtime folder, socket, home,
# configuration, log. No real sound card is opened: the server loads only null sinks —
# "speaker" (the default sink) and "mic-feed" — and "mic", a remap of "mic-feed"'s monitor that is the
# default source ("Virtual Microphone"). It never touches the user's own sound server or session bus,
# and works as root and as a normal user.
set -euo pipefail

usage() { echo "usage: $0 start|stop|env [build-dir]" >&2; exit 2; }
[ $# -ge 1 ] || usage
command=$1
build_dir=${2:-build}

build_dir=$(realpath -m "$build_dir")
dir="$build_dir/pulse"
script_file="$dir/server.pa"
log_file="$dir/server.log"

# A unix socket path holds at most 107 bytes; deep build folders get a short link in /tmp.
kMaxSocketPath=100
sock="$dir/run/native"
short_link=""
if [ ${#sock} -gt $kMaxSocketPath ]; then
  short_link="${TMPDIR:-/tmp}/tamsu-pulse-$(printf '%s' "$dir" | md5sum | cut -c1-12)"
  sock="$short_link/native"
fi

# How long start waits for the server to answer (the server needs well under a second here).
kStartWaitTenths=100
# How long stop waits for the server to end after SIGTERM before it sends SIGKILL.
kStopWaitTenths=50

print_env() {
  echo "export PULSE_SERVER=unix:$sock"
  echo "export XDG_RUNTIME_DIR=$dir/run"
  echo "export PULSE_RUNTIME_PATH=$dir/run/pulse"
  echo "export PULSE_COOKIE=$dir/cookie"
  echo "export PULSE_CLIENTCONFIG=$dir/client.conf"
}

# The pids of this folder's server: every pulseaudio process started with this folder's script file,
# also one left over from an earlier run whose folder was removed meanwhile.
server_pids() {
  local p cmd
  for p in /proc/[0-9]*; do
    p=${p#/proc/}
    cmd=$({ tr '\0' ' ' <"/proc/$p/cmdline"; } 2>/dev/null || true)
    case "$cmd" in
      *pulseaudio*" --file=$script_file "*) echo "$p" ;;
    esac
  done
}

stop_server() {
  local pids p i
  pids=$(server_pids)
  if [ -n "$pids" ]; then
    for p in $pids; do kill -TERM "$p" 2>/dev/null || true; done
    for ((i = 0; i < kStopWaitTenths; i++)); do
      [ -z "$(server_pids)" ] && break
      sleep 0.1
    done
    for p in $(server_pids); do kill -KILL "$p" 2>/dev/null || true; done
  fi
  rm -rf "$dir"
  [ -n "$short_link" ] && rm -f "$short_link"
  return 0
}

answers() {
  PULSE_SERVER="unix:$sock" PULSE_CLIENTCONFIG="$dir/client.conf" PULSE_COOKIE="$dir/cookie" \
    HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" XDG_RUNTIME_DIR="$dir/run" \
    timeout 2 pactl info >/dev/null 2>&1
}

start_server() {
  stop_server
  mkdir -p "$dir/run/pulse" "$dir/home" "$dir/config" "$dir/state"
  chmod 700 "$dir" "$dir/run" "$dir/run/pulse" "$dir/home" "$dir/config" "$dir/state"
  [ -n "$short_link" ] && ln -sfn "$dir/run" "$short_link"
  printf 'autospawn = no\n' >"$dir/client.conf"

  cat >"$script_file" <<EOF
.fail
load-module module-native-protocol-unix socket=$sock auth-anonymous=1
load-module module-null-sink sink_name=speaker rate=44100 channels=2 sink_properties='device.description="Speaker"'
load-module module-null-sink sink_name=mic-feed rate=44100 channels=2 sink_properties='device.description="Microphone feed"'
load-module module-remap-source master=mic-feed.monitor source_name=mic source_properties='device.description="Virtual Microphone"'
set-default-sink speaker
set-default-source mic
EOF

  # A bus address that cannot be reached keeps the server off the user's session bus.
  (
    cd "$dir"
    exec env HOME="$dir/home" XDG_RUNTIME_DIR="$dir/run" XDG_CONFIG_HOME="$dir/config" \
      PULSE_RUNTIME_PATH="$dir/run/pulse" PULSE_STATE_PATH="$dir/state" PULSE_COOKIE="$dir/cookie" \
      PULSE_CLIENTCONFIG="$dir/client.conf" DBUS_SESSION_BUS_ADDRESS="unix:path=$dir/no-bus" \
      DISPLAY= \
      setsid pulseaudio -n --file="$script_file" --daemonize=no --system=false --fail=yes \
        --exit-idle-time=-1 --disallow-exit=yes --use-pid-file=no --realtime=no --high-priority=no \
        --log-target="file:$log_file" --log-level=notice
  ) </dev/null >>"$dir/stderr.log" 2>&1 &

  local i
  for ((i = 0; i < kStartWaitTenths; i++)); do
    if answers; then
      print_env
      return 0
    fi
    [ -n "$(server_pids)" ] || break
    sleep 0.1
  done
  {
    echo "sound-server: the private PulseAudio server did not come up (folder $dir)"
    tail -n 20 "$log_file" "$dir/stderr.log" 2>/dev/null || true
  } >&2
  stop_server
  return 1
}

case "$command" in
  start) start_server ;;
  stop) stop_server ;;
  env)
    if [ -n "$(server_pids)" ] && answers; then
      print_env
    else
      echo "sound-server: no private server is running for $build_dir" >&2
      exit 1
    fi
    ;;
  *) usage ;;
esac
