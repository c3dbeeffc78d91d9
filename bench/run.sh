#!/usr/bin/env bash
# Runs the recorder benchmarks against a private sound server and prints their tables.
#
#   bench/run.sh [--build-dir DIR] [--pipewire] [recorder_bench options...]
#
# Builds the benchmark (and tamsu-record) in DIR (default: build, configured with the default
# preset when it is not there yet), starts a private sound server of its own under DIR/bench-sound
# (PulseAudio, or PipeWire with --pipewire; never the tests' server, never the user's), runs
# recorder_bench with the remaining options and stops the server again, also when the benchmark
# fails.
# Options of recorder_bench: --sections silent,capture,offset,latency,drift,echo,programs --seconds N
# --short-seconds N --repeats N --latency-runs N --offset-seconds N --offset-repeats N --keep
# (see recorder_bench --help).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
server_kind=--pulseaudio
while [ $# -gt 0 ]; do
  case "$1" in
    --build-dir)
      [ $# -ge 2 ] || { echo "usage: $0 [--build-dir DIR] [--pipewire] [recorder_bench options...]" >&2; exit 2; }
      build=$(realpath -m "$2")
      shift 2 ;;
    --pipewire) server_kind=--pipewire; shift ;;
    *) break ;;
  esac
done

# Two cores are shared with whatever else runs: the build uses both, the benchmark itself then
# measures CPU time, which other load disturbs less than wall time.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$top" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
case "$build_type" in
  Release|RelWithDebInfo) ;;
  *) echo "bench: warning: $build is a '$build_type' build; figures of an optimised build compare better" >&2 ;;
esac
cmake --build "$build" --target recorder_bench -j 2 >/dev/null
# The figures belong to the engine as built: its commit, and whether the tree differed from it.
changes=$(git -C "$top" status --porcelain -- recorder devices tools 2>/dev/null | wc -l)
echo "engine built from: $(git -C "$top" log -1 --format='%h (%cd)' --date=format:'%F %R')," \
  "$changes uncommitted change(s) in recorder/ devices/ tools/"

server_dir="$build/bench-sound"
stop_server() { "$top/scripts/sound-server.sh" stop "$server_dir" "$server_kind" >/dev/null 2>&1 || true; }
trap stop_server EXIT
eval "$("$top/scripts/sound-server.sh" start "$server_dir" "$server_kind")"

"$build/bench/recorder/recorder_bench" "$@"
