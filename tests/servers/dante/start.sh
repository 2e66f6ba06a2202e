#!/usr/bin/env bash
# Starts two loopback SOCKS5 proxies (dante) for the tests: one open, one that wants the login of the
# FTP test user (RFC 1929, checked against the system's passwords). Prints the export lines for env.sh
# on stdout and nothing else. Usage: start.sh STATE_DIR (run as root, after vsftpd made its user).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
source "$here/../common.sh"
use_state "${1:?usage: start.sh STATE_DIR}"
"$here/stop.sh" "$state" >/dev/null 2>&1 || true
danted=$(command -v danted || echo /usr/sbin/danted)
if [ ! -x "$danted" ]; then
    echo "dante: not installed (Debian: apt-get install dante-server)" >&2
    exit 1
fi

# start_dante NAME FIRST METHOD: one instance on a free port from FIRST; prints the port.
start_dante() {
    local name=$1 port
    port=$(free_port 127.0.0.1 "$2")
    : > "$state/$name.log"
    sed -e "s|@PORT@|$port|" -e "s|@LOG@|$state/$name.log|" -e "s|@METHOD@|$3|" \
        "$here/danted.conf.in" > "$state/$name.conf"
    setsid "$danted" -f "$state/$name.conf" -N 1 </dev/null >>"$state/$name.out" 2>&1 &
    echo $! > "$state/$name.pid"
    for _ in $(seq 1 100); do
        port_open 127.0.0.1 "$port" && { echo "$port"; return 0; }
        kill -0 "$(cat "$state/$name.pid")" 2>/dev/null || break
        sleep 0.1
    done
    echo "dante $name did not start on port $port:" >&2
    cat "$state/$name.out" "$state/$name.log" >&2 || true
    exit 1
}

open_port=$(start_dante open "${BW_DANTE_PORT:-1080}" none)
login_port=$(start_dante login $((open_port + 1)) pam.username)
echo "export BW_TEST_SOCKS_PORT=$open_port"
echo "export BW_TEST_SOCKS_LOG=$state/open.log"
echo "export BW_TEST_SOCKS_LOGIN_PORT=$login_port"
echo "export BW_TEST_SOCKS_LOGIN_LOG=$state/login.log"
