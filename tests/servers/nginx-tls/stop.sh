#!/usr/bin/env bash
# Stops the nginx that start.sh started in STATE_DIR.
state=${1:?usage: stop.sh STATE_DIR}
pidfile="$state/nginx.pid"
[ -f "$pidfile" ] || exit 0
pid=$(cat "$pidfile" 2>/dev/null || true)
if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -QUIT "$pid" 2>/dev/null || true
    # Bounded wait for the master to leave.
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -TERM "$pid" 2>/dev/null
fi
rm -f "$pidfile"
exit 0
