#!/usr/bin/env bash
# A meeting point for browser online matches on a LAN or a private site:
# Debian's mosquitto (installed first if missing) with a WebSocket listener on
# PORT (default 8083, all interfaces), which the pages reach; mosquitto 2.0
# also needs a plain MQTT listener to start at all: it gets PORT + 1, on
# 127.0.0.1 only. Prints the &signal= to add to the game's address, then runs
# until Ctrl-C. One broker serves any number of rooms.
#   ./tools/signal-server.sh [PORT]
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

KORRIN_PACKAGES=(mosquitto)
korrin_install_packages

port="${1:-8083}"
if ! [[ "$port" =~ ^[0-9]+$ ]] || [ "$port" -lt 1 ] || [ "$port" -gt 65534 ]; then
  echo "usage: $0 [PORT]  (1 to 65534)" >&2
  exit 2
fi
config="$(mktemp --suffix=.conf)"
trap 'rm -f "$config"' EXIT
cat >"$config" <<CONF
# Anonymous clients: the rooms' offers are encrypted by the pages themselves.
listener $((port + 1)) 127.0.0.1
allow_anonymous true
listener $port
protocol websockets
allow_anonymous true
CONF

address="$(hostname -I 2>/dev/null | awk '{print $1}')"
echo "Add to the game's address: &signal=ws://${address:-127.0.0.1}:$port"
echo "(for example http://SITE/index.html?host&signal=ws://${address:-127.0.0.1}:$port)"
/usr/sbin/mosquitto -c "$config"
