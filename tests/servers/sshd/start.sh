#!/usr/bin/env bash
# Starts a private loopback sshd for the SFTP tests: its own configuration, host keys (ed25519 and
# ECDSA) and pid file in the state folder, on one free port of 127.0.0.1 and ::1, serving only the
# internal SFTP server. The test user (bwsftp, password set with chpasswd) logs in with its password or
# with the keys made here; its start folder is STATE_DIR/root. Never touches a system sshd.
# Prints the export lines for env.sh on stdout and nothing else. Usage: start.sh STATE_DIR (as root).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
source "$here/../common.sh"
use_state "${1:?usage: start.sh STATE_DIR}"
"$here/stop.sh" "$state" >&2 || true

sshd_bin=/usr/sbin/sshd
if [ ! -x "$sshd_bin" ] || ! command -v ssh-keygen >/dev/null; then
    echo "sshd: not installed (Debian: apt-get install openssh-server openssh-client)" >&2
    exit 1
fi
user=${BW_SSHD_USER:-bwsftp}
password=bellwick-sftp
passphrase=bellwick-key
root="$state/root"

# The test user: "/" as home so that state folders of several runs can serve side by side.
if ! id -u "$user" >/dev/null 2>&1; then
    useradd --no-create-home --home-dir / --shell /bin/bash "$user" >&2
fi
echo "$user:$password" | chpasswd >&2

mkdir -p "$root" "$state/keys"
chmod 0711 "$state"
chown "$user:" "$root"
chmod 0777 "$root"
# sshd refuses to start without its privilege separation folder.
mkdir -p /run/sshd
chmod 0755 /run/sshd

for type in ed25519 ecdsa; do
    [ -f "$state/keys/host_$type" ] || ssh-keygen -q -t "$type" -N '' -C "bellwick-test-host" \
        -f "$state/keys/host_$type" >&2
done
[ -f "$state/keys/client_ed25519" ] || ssh-keygen -q -t ed25519 -N '' -C bellwick-test \
    -f "$state/keys/client_ed25519" >&2
[ -f "$state/keys/locked_ed25519" ] || ssh-keygen -q -t ed25519 -N "$passphrase" -C bellwick-locked \
    -f "$state/keys/locked_ed25519" >&2
cat "$state/keys/client_ed25519.pub" "$state/keys/locked_ed25519.pub" > "$state/authorized_keys"
chmod 0644 "$state/authorized_keys"
chmod 0600 "$state/keys/"*
chmod 0644 "$state/keys/"*.pub

port=$(free_port 127.0.0.1 "${BW_SSHD_PORT:-2222}")
while port_open ::1 "$port"; do port=$(free_port 127.0.0.1 $((port + 1))); done
cat > "$state/sshd_config" <<CONF
Port $port
ListenAddress 127.0.0.1
ListenAddress ::1
HostKey $state/keys/host_ed25519
HostKey $state/keys/host_ecdsa
PidFile none
UsePAM no
PermitRootLogin no
AllowUsers $user
PasswordAuthentication yes
KbdInteractiveAuthentication no
PubkeyAuthentication yes
AuthorizedKeysFile $state/authorized_keys
StrictModes no
MaxStartups 100
MaxSessions 50
MaxAuthTries 20
LogLevel VERBOSE
Subsystem sftp internal-sftp
ForceCommand internal-sftp -d $root
CONF
chmod 0600 "$state/sshd_config"
"$sshd_bin" -t -f "$state/sshd_config" >&2
setsid "$sshd_bin" -D -f "$state/sshd_config" -E "$state/sshd.log" </dev/null >>"$state/sshd.out" 2>&1 &
echo $! > "$state/sshd.pid"
for _ in $(seq 1 100); do
    port_open 127.0.0.1 "$port" && port_open ::1 "$port" && break
    kill -0 "$(cat "$state/sshd.pid")" 2>/dev/null || { cat "$state/sshd.log" "$state/sshd.out" >&2; exit 1; }
    sleep 0.1
done
port_open 127.0.0.1 "$port" || { echo "sshd did not start on port $port" >&2; exit 1; }

# The server's keys as known_hosts lines for both addresses, as OpenSSH writes them for a port not 22.
: > "$state/known_hosts"
for type in ed25519 ecdsa; do
    key=$(cut -d' ' -f1,2 "$state/keys/host_$type.pub")
    echo "[127.0.0.1]:$port,[::1]:$port $key" >> "$state/known_hosts"
done
echo "export BW_TEST_SFTP_PORT=$port"
echo "export BW_TEST_SFTP6_HOST=::1"
echo "export BW_TEST_SFTP_USER=$user"
echo "export BW_TEST_SFTP_PASSWORD=$password"
echo "export BW_TEST_SFTP_KEY=$state/keys/client_ed25519"
echo "export BW_TEST_SFTP_LOCKED_KEY=$state/keys/locked_ed25519"
echo "export BW_TEST_SFTP_KEY_PASSPHRASE=$passphrase"
echo "export BW_TEST_SFTP_KNOWN_HOSTS=$state/known_hosts"
echo "export BW_TEST_SFTP_HOST_KEYS=$state/keys"
echo "export BW_TEST_SFTP_ROOT=$root"
