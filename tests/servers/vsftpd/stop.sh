#!/usr/bin/env bash
# Stops every vsftpd instance that a start.sh started for STATE_DIR (one pid file each), with its
# sessions. The ::1 and TLS instances use it too.
state=${1:?usage: stop.sh STATE_DIR}
for pidfile in "$state"/*.pid; do
    [ -f "$pidfile" ] || continue
    pid=$(cat "$pidfile")
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM -- "-$pid" 2>/dev/null || kill -TERM "$pid" 2>/dev/null
        for _ in $(seq 1 50); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL -- "-$pid" 2>/dev/null || true
    fi
    rm -f "$pidfile"
done
exit 0
