#!/usr/bin/env bash
# Stops the proftpd that start.sh started for STATE_DIR, with its sessions.
state=${1:?usage: stop.sh STATE_DIR}
pidfile="$state/proftpd.pid.start"
[ -f "$pidfile" ] || exit 0
pid=$(cat "$pidfile")
if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 1 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
fi
rm -f "$pidfile"
exit 0
