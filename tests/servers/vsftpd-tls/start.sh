#!/usr/bin/env bash
# Starts two loopback vsftpd instances with TLS over one root: explicit (AUTH TLS) and implicit (TLS
# from the first byte), both requiring TLS for logins and data with the session resumed. Uses the
# certificate ../ca made and the test user of the plain vsftpd. Prints the export lines for env.sh
# on stdout and nothing else. Usage: start.sh STATE_DIR (run as root).
set -euo pipefail
state=${1:?usage: start.sh STATE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$state"
state=$(cd "$state" && pwd)
certs="$state/../ca"
user=${BW_VSFTPD_USER:-bwftp}
password=bellwick-test
root="$state/root"
if [ ! -f "$certs/server.pem" ]; then
    echo "vsftpd-tls: no test certificate in $certs (the ca server makes it first)" >&2
    exit 1
fi
"$here/stop.sh" "$state" >&2 || true

if ! id -u "$user" >/dev/null 2>&1; then
    useradd --no-create-home --home-dir / --shell /bin/bash "$user" >&2
fi
echo "$user:$password" | chpasswd >&2

mkdir -p "$root" "$state/empty"
chmod 0711 "$state"
chown "$user:" "$root"
chmod 0777 "$root"
chown root: "$state/empty"
chmod 0755 "$state/empty"
# vsftpd reads the key as root before it drops privileges.
cp "$certs/server.pem" "$certs/server.key" "$state/"
chmod 0600 "$state/server.key"

port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
free_port() {
    local port=$1
    for _ in $(seq 1 50); do
        port_in_use "$port" || break
        port=$((port + 1))
    done
    echo "$port"
}

# start_instance NAME PORT IMPLICIT PASV_MIN PASV_MAX
start_instance() {
    local name=$1 port=$2 implicit=$3 conf="$state/$1.conf"
    sed -e "s|@PORT@|$port|" -e "s|@PASV_MIN@|$4|" -e "s|@PASV_MAX@|$5|" -e "s|@IMPLICIT@|$implicit|" \
        -e "s|@EMPTY@|$state/empty|" -e "s|@ROOT@|$root|" -e "s|@LOG@|$state/$name.log|" \
        -e "s|@CERT@|$state/server.pem|" -e "s|@KEY@|$state/server.key|" "$here/vsftpd.conf.in" > "$conf"
    chown root: "$conf"
    chmod 0600 "$conf"
    setsid /usr/sbin/vsftpd "$conf" </dev/null >>"$state/$name.out" 2>&1 &
    echo $! > "$state/$name.pid"
    for _ in $(seq 1 100); do
        port_in_use "$port" && return 0
        kill -0 "$(cat "$state/$name.pid")" 2>/dev/null || break
        sleep 0.1
    done
    echo "vsftpd-tls: $name did not start on port $port:" >&2
    cat "$state/$name.out" >&2 || true
    return 1
}

explicit_port=$(free_port "${BW_VSFTPD_TLS_PORT:-2990}")
start_instance explicit "$explicit_port" NO 40400 40499
implicit_port=$(free_port "${BW_VSFTPD_IMPLICIT_PORT:-9990}")
start_instance implicit "$implicit_port" YES 40500 40599
echo "export BW_TEST_FTPES_PORT=$explicit_port"
echo "export BW_TEST_FTPS_PORT=$implicit_port"
echo "export BW_TEST_FTPS_ROOT=$root"
