#!/usr/bin/env bash
# Installs the Debian packages the build, the program and the tests need, when any is missing.
set -euo pipefail

packages=(
  cmake ninja-build pkg-config g++
  qt6-base-dev qt6-tools-dev qt6-tools-dev-tools qt6-qpa-plugins libqt6uitools6 libqt6opengl6-dev libgl-dev
  fonts-noto-cjk
  libavcodec-dev libavformat-dev libavdevice-dev libavfilter-dev libswresample-dev libavutil-dev
  libpulse-dev libwebrtc-audio-processing-dev libgoogle-glog-dev libcurl4-openssl-dev libjsoncpp-dev
  libgtest-dev libgmock-dev
  pulseaudio pulseaudio-utils sox libsox-fmt-mp3 ffmpeg
  xvfb xauth x11-utils imagemagick dbus xcompmgr
)

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
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
