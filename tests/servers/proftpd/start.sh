#!/usr/bin/env bash
# Starts a loopback proftpd with HASH, RANG and XSHA256/XSHA1/XMD5 for the checksum tests: one user
# with a password whose writable home is "/" after login. Prints the export lines for env.sh on
# stdout and nothing else. Usage: start.sh STATE_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
source "$here/../common.sh"
use_state "${1:?usage: start.sh STATE_DIR}"
"$here/stop.sh" "$state" >/dev/null 2>&1 || true
prefix=$("$here/install.sh")
root="$state/root"
mkdir -p "$root"
user=bwhash
password=hash-$(od -An -N6 -tx1 /dev/urandom | tr -d ' \n')
uid=$(id -u)
gid=$(id -g)
printf '%s:%s:%s:%s::%s:/bin/false\n' "$user" "$(openssl passwd -6 "$password")" "$uid" "$gid" "$root" \
    > "$state/passwd"
printf '%s:x:%s:\n' "$(id -gn)" "$gid" > "$state/group"
chmod 600 "$state/passwd"
port=$(free_port 127.0.0.1 "${BW_PROFTPD_PORT:-2321}")
sed -e "s|@PORT@|$port|" -e "s|@STATE@|$state|g" -e "s|@USER@|$(id -un)|" -e "s|@GROUP@|$(id -gn)|" \
    -e "s|@PASV_MIN@|${BW_PROFTPD_PASV_MIN:-40400}|" -e "s|@PASV_MAX@|${BW_PROFTPD_PASV_MAX:-40599}|" \
    -e "s|@MODULES@|$prefix/usr/lib/proftpd|" "$here/proftpd.conf.in" > "$state/proftpd.conf"
LD_LIBRARY_PATH="$prefix/usr/lib/x86_64-linux-gnu" "$prefix/usr/sbin/proftpd" -c "$state/proftpd.conf" \
    -n >>"$state/start.log" 2>&1 &
echo $! > "$state/proftpd.pid.start"
for _ in $(seq 1 100); do
    port_open 127.0.0.1 "$port" && break
    if ! kill -0 "$(cat "$state/proftpd.pid.start")" 2>/dev/null; then
        echo "proftpd: did not start; see $state/start.log and $state/proftpd.log" >&2
        exit 1
    fi
    sleep 0.1
done
port_open 127.0.0.1 "$port" || { echo "proftpd: not listening on $port" >&2; exit 1; }
echo "export BW_TEST_PROFTPD_PORT=$port"
echo "export BW_TEST_PROFTPD_USER=$user"
echo "export BW_TEST_PROFTPD_PASSWORD=$password"
echo "export BW_TEST_PROFTPD_ROOT=$root"
