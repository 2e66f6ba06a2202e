#!/usr/bin/env bash
# Starts two loopback tinyproxy instances for the tests (HTTP requests and CONNECT): one open, one that
# wants a login. Prints the export lines for env.sh on stdout and nothing else.
# Usage: start.sh STATE_DIR (run as root).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
source "$here/../common.sh"
use_state "${1:?usage: start.sh STATE_DIR}"
"$here/stop.sh" "$state" >/dev/null 2>&1 || true
if ! command -v tinyproxy >/dev/null; then
    echo "tinyproxy: not installed (Debian: apt-get install tinyproxy)" >&2
    exit 1
fi
# The proxy runs as nobody: it may pass through the state folder and write its log.
chmod 0711 "$state"
user=bwproxy
password=proxy-secret

# start_tinyproxy NAME FIRST AUTH_LINE: one instance on a free port from FIRST; prints the port.
start_tinyproxy() {
    local name=$1 port
    port=$(free_port 127.0.0.1 "$2")
    : > "$state/$name.log"
    chmod 0666 "$state/$name.log"
    sed -e "s|@PORT@|$port|" -e "s|@LOG@|$state/$name.log|" -e "s|@PID@|$state/$name.tinypid|" \
        -e "s|@AUTH@|$3|" "$here/tinyproxy.conf.in" > "$state/$name.conf"
    setsid tinyproxy -d -c "$state/$name.conf" </dev/null >>"$state/$name.out" 2>&1 &
    echo $! > "$state/$name.pid"
    for _ in $(seq 1 100); do
        port_open 127.0.0.1 "$port" && { echo "$port"; return 0; }
        kill -0 "$(cat "$state/$name.pid")" 2>/dev/null || break
        sleep 0.1
    done
    echo "tinyproxy $name did not start on port $port:" >&2
    cat "$state/$name.out" >&2 || true
    exit 1
}

open_port=$(start_tinyproxy open "${BW_TINYPROXY_PORT:-3128}" "")
login_port=$(start_tinyproxy login $((open_port + 1)) "BasicAuth $user $password")
echo "export BW_TEST_HTTP_PROXY_PORT=$open_port"
echo "export BW_TEST_HTTP_PROXY_LOG=$state/open.log"
echo "export BW_TEST_HTTP_PROXY_LOGIN_PORT=$login_port"
echo "export BW_TEST_HTTP_PROXY_LOGIN_LOG=$state/login.log"
echo "export BW_TEST_PROXY_USER=$user"
echo "export BW_TEST_PROXY_PASSWORD=$password"
