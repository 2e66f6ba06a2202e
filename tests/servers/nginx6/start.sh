#!/usr/bin/env bash
# Starts a second loopback nginx that listens on [::1], with the IPv4 instance's locations and a
# document root of its own. Prints the export lines for env.sh on stdout and nothing else.
set -euo pipefail
state=${1:?usage: start.sh STATE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$state"
state=$(cd "$state" && pwd)
root="$state/root"
mkdir -p "$root/files" "$state/tmp"
if [ ! -f "$root/files/a.bin" ]; then
    head -c 100000 /dev/urandom > "$root/files/a.bin"
fi

"$here/stop.sh" "$state" >/dev/null 2>&1 || true

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
if [ ! -x "$nginx_bin" ]; then
    echo "nginx: not installed (Debian: apt-get install nginx-light)" >&2
    exit 1
fi
user_line=""
if [ "$(id -u)" = 0 ]; then
    user_line="user root;"
fi

port_open() { (exec 3<>"/dev/tcp/::1/$1") 2>/dev/null; }

started=""
for port in $(seq 8181 8280); do
    port_open "$port" && continue
    sed -e "s|listen 127.0.0.1:@PORT@;|listen [::1]:$port;|" -e "s|@STATE@|$state|g" -e "s|@ROOT@|$root|g" \
        -e "s|@USER@|$user_line|g" "$here/../nginx/nginx.conf.in" > "$state/nginx.conf"
    if "$nginx_bin" -p "$state" -c "$state/nginx.conf" -e "$state/error.log" >/dev/null 2>>"$state/start.log"; then
        started=$port
        break
    fi
done
if [ -z "$started" ]; then
    echo "nginx (::1): could not start; see $state/error.log and $state/start.log" >&2
    exit 1
fi

for _ in $(seq 1 100); do
    if port_open "$started"; then
        echo "export BW_TEST_HTTP6_HOST=::1"
        echo "export BW_TEST_HTTP6_PORT=$started"
        echo "export BW_TEST_HTTP6_ROOT=$root"
        exit 0
    fi
    sleep 0.1
done
echo "nginx (::1): port $started does not accept connections; see $state/error.log" >&2
"$here/stop.sh" "$state" >/dev/null 2>&1 || true
exit 1
