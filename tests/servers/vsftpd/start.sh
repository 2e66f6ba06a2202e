#!/usr/bin/env bash
# Starts a loopback vsftpd for the tests: a local user with a password whose writable home is "/"
# after login, passive ports on 127.0.0.1 and active mode allowed. Prints the export lines for env.sh
# on stdout and nothing else. Usage: start.sh STATE_DIR (run as root).
set -euo pipefail
state=${1:?usage: start.sh STATE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$state"
state=$(cd "$state" && pwd)
port=${BW_VSFTPD_PORT:-2121}
pasv_min=${BW_VSFTPD_PASV_MIN:-40000}
pasv_max=${BW_VSFTPD_PASV_MAX:-40199}
user=${BW_VSFTPD_USER:-bwftp}
password=bellwick-test
root="$state/root"

# A server left over from an earlier run of this state folder goes first.
"$here/stop.sh" "$state" >&2 || true

# The test user, with a valid shell for PAM's pam_shells. Its "/" after login is local_root in the
# configuration, not its home, so servers of several state folders can run side by side.
if ! id -u "$user" >/dev/null 2>&1; then
    useradd --no-create-home --home-dir / --shell /bin/bash "$user" >&2
elif [ "$(getent passwd "$user" | cut -d: -f6)" != / ]; then
    usermod --home / "$user" >&2
fi
echo "$user:$password" | chpasswd >&2

# The first free port from the preferred one on (another state folder's server may hold it).
port_in_use() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
for _ in $(seq 1 20); do
    port_in_use "$port" || break
    port=$((port + 1))
done

mkdir -p "$root" "$state/empty"
# The test user passes through the state folder to its root but lists nothing else in it.
chmod 0711 "$state"
chown "$user:" "$root"
chmod 0777 "$root"
# Every folder above the root must let the test user through, or every login ends in
# "500 OOPS: cannot change directory" (a checkout in a 0700 home, for instance).
if ! runuser -u "$user" -- test -x "$root"; then
    echo "vsftpd: the test user $user cannot enter $root; a folder above it is closed to others." >&2
    echo "Use a state folder others may pass through (scripts/test makes one with mktemp -d)." >&2
    exit 1
fi
chown root: "$state/empty"
chmod 0755 "$state/empty"

conf="$state/vsftpd.conf"
sed -e "s|@PORT@|$port|" -e "s|@PASV_MIN@|$pasv_min|" -e "s|@PASV_MAX@|$pasv_max|" \
    -e "s|@EMPTY@|$state/empty|" -e "s|@ROOT@|$root|" -e "s|@LOG@|$state/vsftpd.log|" "$here/vsftpd.conf.in" > "$conf"
chown root: "$conf"
chmod 0600 "$conf"

# Standalone in the foreground of its own process group, so stop.sh ends it and its sessions.
setsid /usr/sbin/vsftpd "$conf" </dev/null >>"$state/vsftpd.out" 2>&1 &
echo $! > "$state/vsftpd.pid"

# Ready when the port accepts connections (bounded).
for _ in $(seq 1 100); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
        echo "export BW_TEST_FTP_PORT=$port"
        echo "export BW_TEST_FTP_USER=$user"
        echo "export BW_TEST_FTP_PASSWORD=$password"
        echo "export BW_TEST_FTP_ROOT=$root"
        exit 0
    fi
    if ! kill -0 "$(cat "$state/vsftpd.pid")" 2>/dev/null; then
        break
    fi
    sleep 0.1
done
echo "vsftpd did not start on port $port:" >&2
cat "$state/vsftpd.out" >&2 || true
exit 1
