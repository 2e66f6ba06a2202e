#!/usr/bin/env bash
# Stops the proxies start.sh started for STATE_DIR (a pid file each, as the vsftpd instances have).
exec "$(cd "$(dirname "$0")" && pwd)/../vsftpd/stop.sh" "$@"
