#!/usr/bin/env bash
# Starts a loopback nginx for the HTTP tests in STATE_DIR (config, pid, logs, document root) and prints
# the export lines for the tests' environment, and nothing else, on stdout.
set -euo pipefail
state=${1:?usage: start.sh STATE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$state"
state=$(cd "$state" && pwd)
root="$state/root"
mkdir -p "$root/files" "$state/tmp"
# Served by the fixed redirects: 100000 bytes that are not all alike.
if [ ! -f "$root/files/a.bin" ]; then
    head -c 100000 /dev/urandom > "$root/files/a.bin"
fi

# Stop an nginx left running from an earlier start in the same folder.
"$here/stop.sh" "$state" >/dev/null 2>&1 || true

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
if [ ! -x "$nginx_bin" ]; then
    echo "nginx: not installed (Debian: apt-get install nginx-light)" >&2
    exit 1
fi

user_line=""
if [ "$(id -u)" = 0 ]; then
    # The workers read files that the tests (running as root) write into the root.
    user_line="user root;"
fi

port_open() {
    (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

started=""
for port in $(seq 8081 8180); do
    port_open "$port" && continue
    sed -e "s|@PORT@|$port|g" -e "s|@STATE@|$state|g" -e "s|@ROOT@|$root|g" -e "s|@USER@|$user_line|g" \
        "$here/nginx.conf.in" > "$state/nginx.conf"
    if "$nginx_bin" -p "$state" -c "$state/nginx.conf" -e "$state/error.log" >/dev/null 2>>"$state/start.log"; then
        started=$port
        break
    fi
done
if [ -z "$started" ]; then
    echo "nginx: could not start; see $state/error.log and $state/start.log" >&2
    exit 1
fi

# Bounded wait until the port accepts connections.
for _ in $(seq 1 100); do
    if port_open "$started"; then
        echo "export BW_TEST_HTTP_PORT=$started"
        echo "export BW_TEST_HTTP_ROOT=$root"
        exit 0
    fi
    sleep 0.1
done
echo "nginx: port $started does not accept connections; see $state/error.log" >&2
"$here/stop.sh" "$state" >/dev/null 2>&1 || true
exit 1
