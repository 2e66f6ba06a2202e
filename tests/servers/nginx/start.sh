#!/usr/bin/env bash
# Starts a loopback nginx for the HTTP tests in STATE_DIR (config, pid, logs, document root) and prints
# the export lines for the tests' environment, and nothing else, on stdout.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
source "$here/../common.sh"
use_state "${1:?usage: start.sh STATE_DIR}"
prepare_nginx

nginx_conf() {
    sed -e "s|@PORT@|$1|g" -e "s|@STATE@|$state|g" -e "s|@ROOT@|$root|g" -e "s|@USER@|$user_line|g" \
        "$here/nginx.conf.in"
}
start_nginx nginx 127.0.0.1 8081 8180 1
echo "export BW_TEST_HTTP_PORT=$started"
echo "export BW_TEST_HTTP_ROOT=$root"
