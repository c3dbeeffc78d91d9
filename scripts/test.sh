#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test (default build, its PipeWire pass, then the
# sanitizer builds). Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/setup.sh

jobs=$(nproc 2>/dev/null || echo 2)
status=0

cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"

# The sound tests talk to a private sound server, never to the user's own; with CI set they fail
# (instead of skipping) when that server is missing.
export CI=${CI:-1}
server_env=""
stop_server() { "$top/scripts/sound-server.sh" stop build >/dev/null 2>&1 || true; }
# The sanitizer builds below run in the background: a run that ends early (an error of this
# script's own, an interrupt) stops them with their compilers.
builds=""
kill_tree() { local child; for child in $(pgrep -P "$1"); do kill_tree "$child"; done; kill "$1" 2>/dev/null || true; }
cleanup() {
  if [ -n "$builds" ] && kill -0 "$builds" 2>/dev/null; then kill_tree "$builds"; fi
  stop_server
}
trap cleanup EXIT
if [ -x scripts/sound-server.sh ]; then
  server_env=$(scripts/sound-server.sh start build)
  eval "$server_env"
fi

run_ctest() { # build-dir label-regex
  local dir=$1; shift
  ctest --test-dir "$dir" --output-on-failure --no-tests=ignore "$@" || status=1
}

# The sanitizer builds build only the tests they run (and what those tests start), not the rest.
# They compile at the lowest priority while the default build's tests run: most of those wait on
# the sound server's clock, and the tests take the processors whenever they want them.
sanitizer_log="$top/build/sanitizer-builds.log"
(
  renice -n 19 "$BASHPID" >/dev/null
  cmake --preset asan >/dev/null &&
    cmake --build --preset asan -j "$jobs" --target tamsu_tests_unit tamsu_tests_net &&
    cmake --preset tsan >/dev/null &&
    cmake --build --preset tsan -j "$jobs" --target tamsu_tests_unit tamsu_tests_audio tamsu_tests_net
) >"$sanitizer_log" 2>&1 &
builds=$!

echo "== tests (default build) (at ${SECONDS} s)"
run_ctest build -j 1

# The audio tests labelled "pipewire" once more, against a private PipeWire server (pipewire-pulse
# serves them through the same libpulse calls). Its environment stays inside the subshell: the
# sanitizer runs below talk to the PulseAudio server again.
echo "== sound tests on PipeWire (default build) (at ${SECONDS} s)"
if pipewire_env=$(scripts/sound-server.sh start build --pipewire); then
  ( eval "$pipewire_env"; ctest --test-dir build --output-on-failure --no-tests=ignore -L pipewire -j 1 ) || status=1
else
  status=1
fi
scripts/sound-server.sh stop build --pipewire

echo "== sanitizer builds (at ${SECONDS} s)"
if ! wait "$builds"; then
  tail -n 40 "$sanitizer_log"
  echo "The sanitizer builds failed (all of it: $sanitizer_log)."
  exit 1
fi

echo "== address and undefined-behaviour sanitizers (at ${SECONDS} s)"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_ctest build-asan -L 'unit|net' -j 1

echo "== thread sanitizer (at ${SECONDS} s)"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$top/scripts/tsan.supp" \
  run_ctest build-tsan -L 'unit|audio|net' -j 1

echo "== done in ${SECONDS} s"
if [ $status -ne 0 ]; then echo "Some tests failed."; else echo "All tests passed."; fi
exit $status
