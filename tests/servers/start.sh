#!/usr/bin/env bash
# Starts the loopback test servers (each folder below with a start.sh: vsftpd, nginx) and writes
# STATE_DIR/env.sh with the variables the tests read (BW_TEST_FTP_*, BW_TEST_HTTP_*).
set -euo pipefail
state=${1:?usage: start.sh STATE_DIR}
here=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$state"
: > "$state/env.sh"
for server in "$here"/*/start.sh; do
    [ -x "$server" ] || continue
    name=$(basename "$(dirname "$server")")
    mkdir -p "$state/$name"
    # Each server's start.sh prints export lines for env.sh on stdout.
    "$server" "$state/$name" >> "$state/env.sh"
done
