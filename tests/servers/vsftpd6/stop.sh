#!/usr/bin/env bash
# Stops the ::1 vsftpd that start.sh started for STATE_DIR (the same way as the IPv4 instance).
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../vsftpd/stop.sh" "$@"
