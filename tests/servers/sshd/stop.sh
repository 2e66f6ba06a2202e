#!/usr/bin/env bash
# Stops the sshd that start.sh started for STATE_DIR, with its sessions (its process group).
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../vsftpd/stop.sh" "${1:?usage: stop.sh STATE_DIR}"
