#!/usr/bin/env bash
# Fuzzes the service reply reader, the version parser, the stored credentials' decoding and the
# login reply reader with libFuzzer: builds the "fuzz" preset
# (clang, address + undefined sanitizers) in build-fuzz/ and runs each target 1,000,000 times.
# Not part of the tests. Usage: scripts/fuzz.sh [runs]
set -euo pipefail
cd "$(dirname "$0")/.."
runs="${1:-1000000}"

if ! command -v clang++ >/dev/null 2>&1; then
  SUDO=""
  if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
  $SUDO apt-get install -y --no-install-recommends clang
fi
scripts/setup.sh

[ -f build-fuzz/CMakeCache.txt ] || cmake --preset fuzz >/dev/null
cmake --build build-fuzz --target tamsu_fuzz_service_reply tamsu_fuzz_version \
  tamsu_fuzz_credentials tamsu_fuzz_login_reply -j "$(nproc)"

corpus=build-fuzz/fuzz-corpus
mkdir -p "$corpus/reply" "$corpus/version" "$corpus/credentials" "$corpus/login"
printf '%s' '{"ret":0,"data":{"app_version":"1.5.0","download_url":"http://127.0.0.1:8417/download/a.deb","force_upgrade":"1","sha256":"","size":10}}' \
  > "$corpus/reply/upgrade.json"
printf '%s' '{"ret":0,"data":"127.0.0.1"}' > "$corpus/reply/address.json"
printf '%s' '[1]' > "$corpus/reply/array.json"
printf '%s' '1.4.10|1.4.2' > "$corpus/version/pair"
printf '%s' '1..4.2' > "$corpus/version/empty-part"
printf '%s' 'kgI3majCyfanOXZfNq+E0LIZiW34ZoFjT4KUmfocKA+AdKqyfD3SAjquDSLzof1ECTfhqiudAh+cAiNlBYL/Qw==' \
  > "$corpus/credentials/local.dat"
printf '%s' '{"ret":0,"data":{"id":1,"mobilephone":"13800138000","last_login_ip":"127.0.0.1","last_login_time":1700000000,"register_time":"1600000000"}}' \
  > "$corpus/login/signed-in.json"
printf '%s' '{"ret":400003}' > "$corpus/login/refused.json"

status=0
build-fuzz/fuzz/tamsu_fuzz_service_reply -runs="$runs" -max_len=4096 "$corpus/reply" || status=1
build-fuzz/fuzz/tamsu_fuzz_version -runs="$runs" -max_len=64 "$corpus/version" || status=1
build-fuzz/fuzz/tamsu_fuzz_credentials -runs="$runs" -max_len=1024 "$corpus/credentials" || status=1
build-fuzz/fuzz/tamsu_fuzz_login_reply -runs="$runs" -max_len=4096 "$corpus/login" || status=1
exit $status
