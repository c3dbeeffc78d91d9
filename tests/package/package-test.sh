#!/usr/bin/env bash
# Install layout and Debian packages of a built tree:
#  1. the desktop entry and the AppStream metadata pass their validators;
#  2. cmake --install into a temporary DESTDIR holds every file a desktop needs, and the unit names
#     the installed service;
#  3. the installed window program starts from there with the installed skin and shows its window
#     (offscreen);
#  4. cpack builds both packages once: their file lists, dependencies and maintainer scripts.
# Usage: package-test.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
# has LIST PATH...: each path is a line of LIST (a file list with leading "./" removed).
has() {
  local list=$1; shift
  local p
  for p in "$@"; do
    grep -qxF "$p" "$list" || fail "$(basename "$list") lacks $p"
  done
}

id=cn.tamsu.Recorder
icons=()
for s in 16 22 24 32 48 64 128 256; do icons+=("usr/share/icons/hicolor/${s}x${s}/apps/$id.png"); done
icons+=("usr/share/icons/hicolor/scalable/apps/$id.svg")
recorder_files=(usr/bin/tamsu-recorder usr/bin/tamsu-record
  usr/share/tamsu-recorder/skin/res.xml usr/share/tamsu-recorder/skin/MainWindow.xml
  usr/share/applications/$id.desktop usr/share/metainfo/$id.metainfo.xml "${icons[@]}"
  usr/share/man/man1/tamsu-recorder.1.gz usr/share/man/man1/tamsu-record.1.gz)
service_files=(usr/bin/tamsu-service usr/lib/systemd/system/tamsu-service.service
  usr/share/man/man1/tamsu-service.1.gz)

echo "== 1. validators"
desktop-file-validate "$source/data/$id.desktop" || fail "desktop-file-validate"
appstreamcli validate --no-net "$source/data/$id.metainfo.xml" || fail "appstreamcli validate"

echo "== 2. cmake --install into DESTDIR"
root=$tmp/root
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
(cd "$root" && find . -type f | sed 's|^\./||' | sort) > "$tmp/installed.txt"
has "$tmp/installed.txt" "${recorder_files[@]}" "${service_files[@]}"
grep -qxF "ExecStart=/usr/bin/tamsu-service --data /var/lib/tamsu-service \$TAMSU_SERVICE_OPTS" \
  "$root/usr/lib/systemd/system/tamsu-service.service" || fail "the unit does not start /usr/bin/tamsu-service"
for f in "$root"/usr/share/man/man1/*.1.gz; do
  gzip -t "$f" || fail "$f is no gzip file"
done

echo "== 3. the installed program starts with the installed skin"
mkdir -p "$tmp/home" "$tmp/data" "$tmp/run"
chmod 700 "$tmp/run"
out=$(env -u TAMSU_SKIN_DIR HOME="$tmp/home" XDG_DATA_HOME="$tmp/data" XDG_RUNTIME_DIR="$tmp/run" \
  XDG_CONFIG_HOME="$tmp/home/.config" QT_QPA_PLATFORM=offscreen \
  timeout 120 "$root/usr/bin/tamsu-recorder" --quit-after-show 2>&1) || fail "tamsu-recorder exited with $?: $out"
grep -q "^main window shown" <<<"$out" || fail "no window shown: $out"
grep -rqF "skin folder \"$root/usr/share/tamsu-recorder/skin/\"" "$tmp/data/TamsuAudioRecorder/Log" \
  || fail "the installed skin was not used: $(grep -rh 'skin folder' "$tmp/data/TamsuAudioRecorder/Log" || true)"

echo "== 4. cpack"
cpack --config "$build/CPackConfig.cmake" -B "$tmp/pkg" >"$tmp/cpack.log" 2>&1 || { cat "$tmp/cpack.log"; fail "cpack"; }
rec=$(ls "$tmp"/pkg/tamsu-recorder_*.deb 2>/dev/null || true)
svc=$(ls "$tmp"/pkg/tamsu-service_*.deb 2>/dev/null || true)
if [ -z "$rec" ] || [ -z "$svc" ]; then
  fail "packages missing: $(ls "$tmp/pkg")"
else
  for deb in "$rec" "$svc"; do
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' | sort > "$tmp/$(basename "$deb").txt"
  done
  has "$tmp/$(basename "$rec").txt" "${recorder_files[@]}"
  has "$tmp/$(basename "$svc").txt" "${service_files[@]}"
  grep -q "tamsu-service" "$tmp/$(basename "$rec").txt" && fail "tamsu-recorder carries service files"
  grep -q "usr/share/tamsu-recorder\|usr/bin/tamsu-record" "$tmp/$(basename "$svc").txt" \
    && fail "tamsu-service carries recorder files"
  # Dependencies come from dpkg-shlibdeps (the libraries the programs link) plus the declared ones.
  rec_depends=$(dpkg-deb -f "$rec" Depends)
  for dep in libqt6widgets6 libavcodec libpulse0 libsodium qt6-qpa-plugins; do
    grep -q "$dep" <<<"$rec_depends" || fail "tamsu-recorder Depends lacks $dep: $rec_depends"
  done
  svc_depends=$(dpkg-deb -f "$svc" Depends)
  for dep in libsqlite3 libpq5 libsodium passwd; do
    grep -q "$dep" <<<"$svc_depends" || fail "tamsu-service Depends lacks $dep: $svc_depends"
  done
  # Maintainer scripts only where needed: the service's system user.
  dpkg-deb -e "$rec" "$tmp/rec-control"
  dpkg-deb -e "$svc" "$tmp/svc-control"
  ls "$tmp/rec-control" | grep -qE '^(pre|post)(inst|rm)$' && fail "tamsu-recorder has maintainer scripts"
  grep -q "useradd --system" "$tmp/svc-control/postinst" || fail "tamsu-service postinst creates no user"
  for s in postinst prerm postrm; do
    [ -x "$tmp/svc-control/$s" ] || fail "tamsu-service $s is not executable"
  done
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all package checks passed"
