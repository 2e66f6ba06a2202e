#!/usr/bin/env bash
# Stops the test servers that start.sh started.
state=${1:?usage: stop.sh STATE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
for server in "$here"/*/stop.sh; do
    [ -x "$server" ] || continue
    name=$(basename "$(dirname "$server")")
    "$server" "$state/$name" || true
done
exit 0
