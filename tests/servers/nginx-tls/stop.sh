#!/usr/bin/env bash
# Stops the TLS nginx that start.sh started in STATE_DIR (the same way as the plain one).
here=$(cd "$(dirname "$0")" && pwd)
exec "$here/../nginx/stop.sh" "$@"
