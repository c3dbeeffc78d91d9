#!/usr/bin/env bash
# A private sound server for the sound tests: PulseAudio (the default) or PipeWire.
#
#   scripts/sound-server.sh start [build-dir] [--pipewire]   start it, print the environment that points a
#                                                            process at it
#   scripts/sound-server.sh env   [build-dir] [--pipewire]   print that environment again (fails when it is
#                                                            not running; without --pipewire: the PulseAudio
#                                                            server, else the PipeWire one, whichever runs)
#   scripts/sound-server.sh stop  [build-dir] [--pipewire]   stop it and remove its folder (harmless when not
#                                                            running; without --pipewire: both kinds)
#
# --pulseaudio names the default kind explicitly. Both kinds offer the same layout and are reached the
# same way (PULSE_SERVER and friends, through libpulse): null sinks "speaker" ("Speaker", the default
# sink) and "mic-feed" ("Microphone feed"), and "mic" ("Virtual Microphone", the default source), a
# remap of "mic-feed"'s monitor, so what is played into "mic-feed" is heard on "mic". No real sound card
# is opened. Neither touches the user's own sound server or session bus, and both work as root and as a
# normal user.
#
# PulseAudio: everything lives in <build-dir>/pulse (default build dir "build"): runtime folder, socket,
# home, configuration, log; the layout comes from the server's start-up script.
#
# PipeWire: everything lives in <build-dir>/pipewire. Four processes, each with that folder's runtime,
# home, configuration and state folders: a dbus-daemon serving a private session bus (WirePlumber needs
# one; no service activation), pipewire, wireplumber (ALSA, Bluetooth, V4L2 and libcamera monitors and
# the portal off) and pipewire-pulse. The configuration files are our own (written at start), so
# neither the system's nor the user's PipeWire settings apply. The graph runs at 44100 Hz, the rate of
# the layout's sinks (as a desktop's graph runs at its sound card's rate: nothing is resampled between
# a sink and its monitor), with the stock processing block (quantum 1024, limits 16..2048) and
# pipewire-pulse's stock buffer rules, without real-time scheduling. The layout is
# loaded through pactl (pipewire-pulse emulates module-null-sink and module-remap-source), so tests
# can unload and reload it as on PulseAudio. `env` adds PIPEWIRE_RUNTIME_DIR, so pw-top, pw-dump and
# pw-metadata reach the private server too. Its logs: <build-dir>/pipewire/*.log.
# What differs from PulseAudio for a test: "mic" stays at 44100 Hz whatever rate "mic-feed" has; a
# stream aimed at a device that is not there plays into (records from) the default one instead of
# failing; module indexes are large numbers, and `pactl list modules` also lists PipeWire's own
# modules ("libpipewire-module-..."), which cannot be unloaded.
set -euo pipefail

usage() { echo "usage: $0 start|stop|env [build-dir] [--pipewire|--pulseaudio]" >&2; exit 2; }
[ $# -ge 1 ] || usage
command=$1
shift
build_dir=""
kind="" # pulseaudio | pipewire; empty: see the header for each command
for arg in "$@"; do
  case "$arg" in
    --pipewire) kind=pipewire ;;
    --pulseaudio) kind=pulseaudio ;;
    -*) usage ;;
    *) [ -z "$build_dir" ] || usage; build_dir=$arg ;;
  esac
done
build_dir=${build_dir:-build}

build_dir=$(realpath -m "$build_dir")

# ---------------------------------------------------------------------------------------------------
# PulseAudio

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

# Ends the processes a lister names: SIGTERM, up to kStopWaitTenths for them to go, then SIGKILL.
end_processes() { # pid-lister
  local lister=$1 pids p i
  pids=$($lister)
  [ -n "$pids" ] || return 0
  for p in $pids; do kill -TERM "$p" 2>/dev/null || true; done
  for ((i = 0; i < kStopWaitTenths; i++)); do
    [ -z "$($lister)" ] && break
    sleep 0.1
  done
  for p in $($lister); do kill -KILL "$p" 2>/dev/null || true; done
}

stop_server() {
  end_processes server_pids
  rm -rf "$dir"
  [ -n "$short_link" ] && rm -f "$short_link"
  return 0
}

# pactl against one of our servers, bounded in time.
pactl_at() { # socket folder runtime-folder pactl-args...
  local at=$1 folder=$2 run=$3
  shift 3
  PULSE_SERVER="unix:$at" PULSE_CLIENTCONFIG="$folder/client.conf" PULSE_COOKIE="$folder/cookie" \
    HOME="$folder/home" XDG_CONFIG_HOME="$folder/config" XDG_RUNTIME_DIR="$run" \
    timeout 2 pactl "$@"
}

answers() { pactl_at "$sock" "$dir" "$dir/run" info >/dev/null 2>&1; }

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

# ---------------------------------------------------------------------------------------------------
# PipeWire

pw_dir="$build_dir/pipewire"
pw_run="$pw_dir/run"
pw_short_link=""
pw_socket_tail="/pulse/native"
if [ $((${#pw_run} + ${#pw_socket_tail})) -gt $kMaxSocketPath ]; then
  pw_short_link="${TMPDIR:-/tmp}/tamsu-pipewire-$(printf '%s' "$pw_dir" | md5sum | cut -c1-12)"
  pw_run="$pw_short_link"
fi
pw_sock="$pw_run$pw_socket_tail"
# Every process of this folder's PipeWire server carries this in its environment: stop finds them by
# it, also ones left over from an earlier run whose folder was removed meanwhile.
pw_mark="TAMSU_PRIVATE_SOUND_SERVER=$pw_dir"

pw_print_env() {
  echo "export PULSE_SERVER=unix:$pw_sock"
  echo "export XDG_RUNTIME_DIR=$pw_run"
  echo "export PULSE_RUNTIME_PATH=$pw_run/pulse"
  echo "export PULSE_COOKIE=$pw_dir/cookie"
  echo "export PULSE_CLIENTCONFIG=$pw_dir/client.conf"
  echo "export PIPEWIRE_RUNTIME_DIR=$pw_run"
}

pw_server_pids() {
  local f
  for f in $(grep -lzxF "$pw_mark" /proc/[0-9]*/environ 2>/dev/null || true); do
    f=${f#/proc/}
    echo "${f%/environ}"
  done
}

pw_stop() {
  end_processes pw_server_pids
  rm -rf "$pw_dir"
  [ -n "$pw_short_link" ] && rm -f "$pw_short_link"
  return 0
}

pw_pactl() { pactl_at "$pw_sock" "$pw_dir" "$pw_run" "$@"; }

pw_answers() { pw_pactl info >/dev/null 2>&1; }

# Runs one of the server's processes in the background with the folder's private environment only
# (nothing of the caller's PIPEWIRE_*, WIREPLUMBER_*, DBUS_* or XDG_* settings reaches it).
pw_spawn() { # log-name command...
  local log="$pw_dir/$1.log"
  shift
  (
    cd "$pw_dir"
    exec env -i PATH="$PATH" LANG=C.UTF-8 "$pw_mark" HOME="$pw_dir/home" \
      XDG_RUNTIME_DIR="$pw_run" PIPEWIRE_RUNTIME_DIR="$pw_run" PULSE_RUNTIME_PATH="$pw_run/pulse" \
      XDG_CONFIG_HOME="$pw_dir/config" XDG_STATE_HOME="$pw_dir/state" XDG_DATA_HOME="$pw_dir/data" \
      DBUS_SESSION_BUS_ADDRESS="unix:path=$pw_run/bus" PIPEWIRE_LOG_SYSTEMD=false \
      setsid "$@"
  ) </dev/null >>"$log" 2>&1 &
  pw_spawned+=($!) # setsid execs in place: not a group leader, so it does not fork
}

# Every process pw_spawn started still runs (a dead one is gone or a zombie).
pw_alive() {
  local p state
  for p in "${pw_spawned[@]}"; do
    state=$(sed -n 's/^State:[[:space:]]*\(.\).*/\1/p' "/proc/$p/status" 2>/dev/null || true)
    case "$state" in "" | Z | X) return 1 ;; esac
  done
}

# Waits until the check passes; false when it does not within kStartWaitTenths or a process died.
pw_wait() { # check...
  local i
  for ((i = 0; i < kStartWaitTenths; i++)); do
    "$@" && return 0
    pw_alive || return 1
    sleep 0.1
  done
  return 1
}

pw_defaults_set() {
  local info
  info=$(pw_pactl info 2>/dev/null) || return 1
  grep -qx "Default Sink: speaker" <<<"$info" && grep -qx "Default Source: mic" <<<"$info"
}

pw_write_config() {
  # The plugins every process of ours loads: format conversion and the support nodes (no device ones).
  local pw_spa_libs='context.spa-libs = {
    audio.convert.* = audioconvert/libspa-audioconvert
    support.*       = support/libspa-support
}'
  mkdir -p "$pw_dir/config/pipewire" "$pw_dir/config/wireplumber/main.lua.d"
  printf 'autospawn = no\n' >"$pw_dir/client.conf"

  # Session bus for WirePlumber alone: no service directories, so nothing is ever activated on it.
  cat >"$pw_dir/bus.conf" <<EOF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:path=$pw_run/bus</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
EOF

  # The stock pipewire.conf less the device plugins, real-time module, portal and bell, and less its
  # "vm.overrides" (which raise the smallest block to 1024 inside virtual machines): the processing
  # block behaves as on a desktop, on any machine the tests run on. The rate is the sinks' (44100 Hz):
  # at the stock 48000 Hz every sink of the layout would be resampled on its way to its monitor.
  cat >"$pw_dir/config/pipewire/pipewire.conf" <<EOF
context.properties = {
    core.daemon                 = true
    core.name                   = pipewire-0
    link.max-buffers            = 16
    default.clock.rate          = 44100
    default.clock.allowed-rates = [ 44100 ]
    default.clock.quantum       = 1024
    default.clock.min-quantum   = 16
    default.clock.max-quantum   = 2048
}
$pw_spa_libs
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-profiler }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-spa-device-factory }
    { name = libpipewire-module-spa-node-factory }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-client-device }
    { name = libpipewire-module-access }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-link-factory }
    { name = libpipewire-module-session-manager }
]
context.objects = [
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Dummy-Driver
               node.group = pipewire.dummy priority.driver = 20000 } }
    { factory = spa-node-factory
      args = { factory.name = support.node.driver node.name = Freewheel-Driver
               node.group = pipewire.freewheel priority.driver = 19000 node.freewheel = true } }
]
EOF

  # The stock pipewire-pulse.conf with the socket in the private folder, without real-time module,
  # "vm.overrides" and the stand-in sink it adds when none exists (a test that removes every sink
  # wants none).
  cat >"$pw_dir/config/pipewire/pipewire-pulse.conf" <<EOF
$pw_spa_libs
context.modules = [
    { name = libpipewire-module-protocol-native }
    { name = libpipewire-module-client-node }
    { name = libpipewire-module-adapter }
    { name = libpipewire-module-metadata }
    { name = libpipewire-module-protocol-pulse }
]
pulse.properties = {
    server.address = [ "unix:$pw_sock" ]
}
EOF

  # WirePlumber's stock components less Bluetooth; its stock scripts from the system, with the device
  # monitors and the portal switched off by a fragment that runs before they are enabled. Nor does it
  # restore stored volumes and mutes: a sink or source the tests load again starts at 100 %, unmuted,
  # as on PulseAudio.
  cat >"$pw_dir/config/wireplumber/wireplumber.conf" <<EOF
context.properties = {
  log.level = 2
  wireplumber.script-engine = lua-scripting
}
$pw_spa_libs
context.modules = [
  { name = libpipewire-module-protocol-native }
  { name = libpipewire-module-client-node }
  { name = libpipewire-module-client-device }
  { name = libpipewire-module-adapter }
  { name = libpipewire-module-metadata }
  { name = libpipewire-module-session-manager }
]
wireplumber.components = [
  { name = libwireplumber-module-lua-scripting, type = module }
  { name = main.lua, type = config/lua }
  { name = policy.lua, type = config/lua }
]
EOF
  cat >"$pw_dir/config/wireplumber/main.lua.d/60-private-test-server.lua" <<'EOF'
alsa_monitor.enabled = false
v4l2_monitor.enabled = false
libcamera_monitor.enabled = false
default_access.properties["enable-flatpak-portal"] = false
stream_defaults.enabled = false
EOF
}

pw_start() {
  pw_stop
  mkdir -p "$pw_dir/run/pulse" "$pw_dir/home" "$pw_dir/config" "$pw_dir/state" "$pw_dir/data"
  chmod 700 "$pw_dir" "$pw_dir/run" "$pw_dir/run/pulse" "$pw_dir/home" "$pw_dir/config" "$pw_dir/state" \
    "$pw_dir/data"
  [ -n "$pw_short_link" ] && ln -sfn "$pw_dir/run" "$pw_short_link"
  pw_write_config

  local conf="$pw_dir/config/pipewire"
  pw_spawned=()
  if pw_spawn dbus dbus-daemon --config-file="$pw_dir/bus.conf" --nofork --nopidfile \
    && pw_wait test -S "$pw_run/bus" \
    && pw_spawn pipewire pipewire -c "$conf/pipewire.conf" \
    && pw_wait test -S "$pw_run/pipewire-0" \
    && pw_spawn wireplumber wireplumber \
    && pw_spawn pipewire-pulse pipewire -c "$conf/pipewire-pulse.conf" \
    && pw_wait pw_answers \
    && pw_pactl load-module module-null-sink sink_name=speaker rate=44100 channels=2 \
      sink_properties='device.description="Speaker"' >/dev/null \
    && pw_pactl load-module module-null-sink sink_name=mic-feed rate=44100 channels=2 \
      sink_properties='device.description="Microphone feed"' >/dev/null \
    && pw_pactl load-module module-remap-source master=mic-feed.monitor source_name=mic \
      source_properties='device.description="Virtual Microphone"' >/dev/null \
    && pw_pactl set-default-sink speaker && pw_pactl set-default-source mic \
    && pw_wait pw_defaults_set; then
    pw_print_env
    return 0
  fi
  {
    echo "sound-server: the private PipeWire server did not come up (folder $pw_dir)"
    tail -n 20 "$pw_dir"/*.log 2>/dev/null || true
  } >&2
  pw_stop
  return 1
}

pw_running() { [ -n "$(pw_server_pids)" ] && pw_answers; }
pulse_running() { [ -n "$(server_pids)" ] && answers; }

case "$command" in
  start)
    if [ "$kind" = pipewire ]; then pw_start; else start_server; fi
    ;;
  stop)
    [ "$kind" = pipewire ] || stop_server
    [ "$kind" = pulseaudio ] || pw_stop
    ;;
  env)
    if [ "$kind" != pipewire ] && pulse_running; then
      print_env
    elif [ "$kind" != pulseaudio ] && pw_running; then
      pw_print_env
    else
      echo "sound-server: no private ${kind:-sound} server is running for $build_dir" >&2
      exit 1
    fi
    ;;
  *) usage ;;
esac
