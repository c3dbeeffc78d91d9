#!/usr/bin/env bash
# Installs what is missing, builds the program and its web service (default preset), starts a
# local tamsu-service in the background unless a service already answers at TAMSU_SERVICE_URL
# (default http://127.0.0.1:8417), and starts the program pointed at it. Arguments go to the program.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake --preset default >/dev/null
cmake --build --preset default --target tamsu-recorder tamsu-service

export TAMSU_SERVICE_URL="${TAMSU_SERVICE_URL:-http://127.0.0.1:8417}"
data="${XDG_DATA_HOME:-$HOME/.local/share}/tamsu-service"
answers() {
  curl -fsS --max-time 2 ${TAMSU_CA_FILE:+--cacert "$TAMSU_CA_FILE"} "${TAMSU_SERVICE_URL%/}/get_user_ip" >/dev/null 2>&1
}
if answers; then
  echo "tamsu-service answers at $TAMSU_SERVICE_URL"
elif [[ "$TAMSU_SERVICE_URL" =~ ^http://(127\.0\.0\.1|localhost)(:([0-9]+))?/?$ ]]; then
  mkdir -p "$data/logs"
  nohup build/service/tamsu-service --listen "127.0.0.1:${BASH_REMATCH[3]:-80}" --data "$data" \
    >/dev/null 2>>"$data/logs/stderr.log" &
  pid=$!
  for _ in $(seq 100); do answers && break; kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
  if answers; then
    echo "started tamsu-service (pid $pid) at $TAMSU_SERVICE_URL; data in $data"
    echo "  stop it with: kill $pid"
  else
    echo "tamsu-service did not start; see $data/logs/stderr.log" >&2
  fi
else
  echo "no service answers at $TAMSU_SERVICE_URL (not a local address, so none is started)" >&2
fi
echo "SMS verification codes of the local service are written to $data/sms-outbox.log"
exec build/app/tamsu-recorder "$@"
