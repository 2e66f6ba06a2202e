#!/usr/bin/env bash
# Starts a loopback nginx with a TLS port (and a plain one for redirects) in STATE_DIR, with the
# certificate that ../ca made. Prints the export lines for env.sh on stdout and nothing else.
set -euo pipefail
state=${1:?usage: start.sh STATE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$state"
state=$(cd "$state" && pwd)
certs="$state/../ca"
if [ ! -f "$certs/server.pem" ]; then
    echo "nginx-tls: no test certificate in $certs (the ca server makes it first)" >&2
    exit 1
fi
root="$state/root"
mkdir -p "$root/files" "$state/tmp"
if [ ! -f "$root/files/a.bin" ]; then
    head -c 100000 /dev/urandom > "$root/files/a.bin"
fi
"$here/stop.sh" "$state" >/dev/null 2>&1 || true

nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
user_line=""
[ "$(id -u)" = 0 ] && user_line="user root;"
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

started=""
for port in $(seq 8443 2 8641); do
    tls_port=$((port + 1))
    port_open "$port" && continue
    port_open "$tls_port" && continue
    sed -e "s|@PORT@|$port|g" -e "s|@TLS_PORT@|$tls_port|g" -e "s|@STATE@|$state|g" -e "s|@ROOT@|$root|g" \
        -e "s|@USER@|$user_line|g" -e "s|@CERT@|$certs/server.pem|g" -e "s|@KEY@|$certs/server.key|g" \
        "$here/nginx.conf.in" > "$state/nginx.conf"
    if "$nginx_bin" -p "$state" -c "$state/nginx.conf" -e "$state/error.log" >/dev/null 2>>"$state/start.log"; then
        started=$port
        break
    fi
done
if [ -z "$started" ]; then
    echo "nginx-tls: could not start; see $state/error.log and $state/start.log" >&2
    exit 1
fi
for _ in $(seq 1 100); do
    if port_open "$((started + 1))"; then
        echo "export BW_TEST_HTTPS_PORT=$((started + 1))"
        echo "export BW_TEST_HTTPS_PLAIN_PORT=$started"
        echo "export BW_TEST_HTTPS_ROOT=$root"
        exit 0
    fi
    sleep 0.1
done
echo "nginx-tls: port $((started + 1)) does not accept connections; see $state/error.log" >&2
"$here/stop.sh" "$state" >/dev/null 2>&1 || true
exit 1
