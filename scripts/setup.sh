#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, when any is missing.
#
# The sound tests run on both sound servers (scripts/sound-server.sh), so both are installed side by
# side with --no-install-recommends; pipewire-alsa and pipewire-audio are never installed (they
# conflict with pulseaudio and would remove it). The tests start the servers' programs themselves,
# so a login's sound server stays what it was: the login units a newly installed server enables for
# every user (which would start both servers at the next login, racing for the same socket) are
# disabled again.
set -euo pipefail

packages=(
  cmake ninja-build pkg-config g++ lld
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-qpa-plugins libqt6uitools6 libqt6opengl6-dev libgl-dev
  qt6-translations-l10n
  fonts-noto-cjk
  libavcodec-dev libavformat-dev libavdevice-dev libavfilter-dev libswresample-dev libavutil-dev
  libpulse-dev libpipewire-0.3-dev libwebrtc-audio-processing-dev libgoogle-glog-dev libcurl4-openssl-dev libjsoncpp-dev
  libgtest-dev libgmock-dev
  pulseaudio pulseaudio-utils pipewire pipewire-pulse wireplumber dbus sox libsox-fmt-mp3 ffmpeg espeak-ng
  xvfb xauth x11-utils imagemagick xcompmgr trayer
  libcpp-httplib-dev libsqlite3-dev libsodium-dev libssl-dev openssl curl
  libpq-dev postgresql
  desktop-file-utils appstream dpkg-dev file procps
)
# Login units of the sound servers (systemd user units, enabled globally by their packages).
sound_units=(pulseaudio.socket pulseaudio.service pipewire.socket pipewire.service
  pipewire-pulse.socket pipewire-pulse.service wireplumber.service)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

enabled_sound_units() {
  command -v systemctl >/dev/null || return 0
  local u
  for u in "${sound_units[@]}"; do
    if systemctl --global is-enabled -q "$u" 2>/dev/null; then echo "$u"; fi
  done
}
enabled_before=$(enabled_sound_units)

$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"

for u in $(enabled_sound_units); do
  if ! grep -qxF "$u" <<<"$enabled_before"; then
    echo "Keeping the login's sound server as it was: disabling $u for new logins"
    $SUDO systemctl --global disable -q "$u" || true
  fi
done
