#!/usr/bin/env bash
# Installs what is missing, builds the program (default preset) and starts it. Arguments go to
# the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tamsu-recorder
exec build/app/tamsu-recorder "$@"
