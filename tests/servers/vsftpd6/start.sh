#!/usr/bin/env bash
# Starts a second loopback vsftpd that listens on ::1 only (EPSV and EPRT over IPv6), built from the
# IPv4 instance's configuration with the listen lines swapped. Same test user and password; its own
# root. Prints the export lines for env.sh on stdout and nothing else. Usage: start.sh STATE_DIR (root).
set -euo pipefail
state=${1:?usage: start.sh STATE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$state"
state=$(cd "$state" && pwd)
port=${BW_VSFTPD6_PORT:-2141}
user=${BW_VSFTPD_USER:-bwftp}
password=bellwick-test
root="$state/root"

"$here/stop.sh" "$state" >&2 || true

if ! id -u "$user" >/dev/null 2>&1; then
    useradd --no-create-home --home-dir / --shell /bin/bash "$user" >&2
fi
echo "$user:$password" | chpasswd >&2

port_in_use() { (exec 3<>"/dev/tcp/::1/$1") 2>/dev/null; }
for _ in $(seq 1 20); do
    port_in_use "$port" || break
    port=$((port + 1))
done

mkdir -p "$root" "$state/empty"
chmod 0711 "$state"
chown "$user:" "$root"
chmod 0777 "$root"
chown root: "$state/empty"
chmod 0755 "$state/empty"

conf="$state/vsftpd.conf"
sed -e "s|@PORT@|$port|" -e "s|@PASV_MIN@|40200|" -e "s|@PASV_MAX@|40399|" \
    -e "s|@EMPTY@|$state/empty|" -e "s|@ROOT@|$root|" -e "s|@LOG@|$state/vsftpd.log|" \
    -e "s|^listen=YES|listen=NO|" -e "s|^listen_ipv6=NO|listen_ipv6=YES|" \
    -e "s|^listen_address=.*|listen_address6=::1|" -e "/^pasv_address=/d" \
    "$here/../vsftpd/vsftpd.conf.in" > "$conf"
chown root: "$conf"
chmod 0600 "$conf"

setsid /usr/sbin/vsftpd "$conf" </dev/null >>"$state/vsftpd.out" 2>&1 &
echo $! > "$state/vsftpd.pid"

for _ in $(seq 1 100); do
    if port_in_use "$port"; then
        echo "export BW_TEST_FTP6_HOST=::1"
        echo "export BW_TEST_FTP6_PORT=$port"
        echo "export BW_TEST_FTP6_ROOT=$root"
        exit 0
    fi
    if ! kill -0 "$(cat "$state/vsftpd.pid")" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
echo "vsftpd (::1) did not start on port $port:" >&2
cat "$state/vsftpd.out" >&2 || true
exit 1
