#!/usr/bin/env bash
# Stops the [::1] nginx that start.sh started in STATE_DIR (the same way as the IPv4 instance).
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../nginx/stop.sh" "$@"
