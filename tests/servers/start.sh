#!/usr/bin/env bash
# Starts the loopback test servers and writes STATE_DIR/env.sh with their addresses.
set -euo pipefail
state=${1:?usage: start.sh STATE_DIR}
mkdir -p "$state"
: > "$state/env.sh"
