#!/usr/bin/env bash
# Stops the two TLS vsftpd instances that start.sh started in STATE_DIR (the same way as the others).
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../vsftpd/stop.sh" "$@"
