#!/usr/bin/env bash
# Runs the recorder benchmarks against a private sound server and prints their tables.
#
#   bench/run.sh [--build-dir DIR] [recorder_bench options...]
#
# Builds the benchmark (and tamsu-record) in DIR (default: build, configured with the default
# preset when it is not there yet), starts a private PulseAudio server of its own under
# DIR/bench-sound (never the tests' server, never the user's), runs recorder_bench with the
# remaining options and stops the server again, also when the benchmark fails.
# Options of recorder_bench: --sections silent,capture,offset --seconds N --short-seconds N --repeats N
# --latency-runs N --offset-seconds N --offset-repeats N --keep (see recorder_bench --help).
set -euo pipefail

top=$(cd "$(dirname "$0")/.." && pwd)
build="$top/build"
if [ "${1:-}" = "--build-dir" ]; then
  [ $# -ge 2 ] || { echo "usage: $0 [--build-dir DIR] [recorder_bench options...]" >&2; exit 2; }
  build=$(realpath -m "$2")
  shift 2
fi

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

server_dir="$build/bench-sound"
stop_server() { "$top/scripts/sound-server.sh" stop "$server_dir" >/dev/null 2>&1 || true; }
trap stop_server EXIT
eval "$("$top/scripts/sound-server.sh" start "$server_dir")"

"$build/bench/recorder/recorder_bench" "$@"
