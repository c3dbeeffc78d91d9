#!/usr/bin/env bash
# Builds the Debian packages tamsu-recorder and tamsu-service (Release build for the /usr prefix in
# build-pkg/; dependencies computed by dpkg-shlibdeps) and prints where they are.
# Usage: scripts/package.sh [OUTPUT_DIR]   (default: build-pkg/packages)
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
out=$(realpath -m "${1:-$top/build-pkg/packages}")
scripts/setup.sh
# The release signing public key the packaged program verifies installers with (see the file).
key_file=${TAMSU_RELEASE_PUBLIC_KEY_FILE:-data/release-public-key}
release_key=$(grep -v -e '^[[:space:]]*#' -e '^[[:space:]]*$' "$key_file" | head -n 1 | tr -d '[:space:]' || true)
echo "Release public key: ${release_key:-none (installers are checked by size and SHA-256 only)}"
cmake -S . -B build-pkg -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DTAMSU_RELEASE_PUBLIC_KEY="$release_key" >/dev/null
cmake --build build-pkg --target tamsu-recorder tamsu-record tamsu-service tamsu_man_pages -j "$(nproc 2>/dev/null || echo 2)"
mkdir -p "$out"
cpack --config build-pkg/CPackConfig.cmake -B "$out"
rm -rf "$out/_CPack_Packages"
echo "Packages:"
ls -1 "$out"/*.deb
echo "Install with: sudo apt install $out/tamsu-recorder_*.deb   (the service: $out/tamsu-service_*.deb)"
