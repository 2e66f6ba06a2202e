#!/usr/bin/env bash
# run.sh COMMAND [ARG...]: runs COMMAND on a private session bus (dbus-run-session) beside a GNOME
# Keyring unlocked with a throw-away password, in a throw-away HOME and XDG folders, so the user's own
# bus and keyring are never touched. ctest runs the keyring tests through it; the test servers' other
# variables (env.sh) pass through.
set -euo pipefail
for tool in dbus-run-session gnome-keyring-daemon; do
    command -v "$tool" > /dev/null || { echo "run.sh: $tool is missing (scripts/deps.sh installs it)" >&2; exit 1; }
done
home=$(mktemp -d /tmp/bw-keyring-XXXXXX)
trap 'rm -rf "$home"' EXIT
mkdir -m 700 "$home/run"
export HOME=$home XDG_DATA_HOME=$home/data XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache
export XDG_RUNTIME_DIR=$home/run
# The keyring daemon ends with the bus, when the command has ended.
dbus-run-session -- bash -c '
    printf "%s" "bellwick-test-$$" | gnome-keyring-daemon --unlock --components=secrets > /dev/null
    exec "$@"' run.sh "$@"
