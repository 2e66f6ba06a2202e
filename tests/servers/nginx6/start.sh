#!/usr/bin/env bash
# Starts a second loopback nginx that listens on [::1], with the IPv4 instance's locations and a
# document root of its own. Prints the export lines for env.sh on stdout and nothing else.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
source "$here/../common.sh"
use_state "${1:?usage: start.sh STATE_DIR}"
prepare_nginx

nginx_conf() {
    sed -e "s|listen 127.0.0.1:@PORT@;|listen [::1]:$1;|" -e "s|@STATE@|$state|g" -e "s|@ROOT@|$root|g" \
        -e "s|@USER@|$user_line|g" "$here/../nginx/nginx.conf.in"
}
start_nginx "nginx (::1)" ::1 8181 8280 1
echo "export BW_TEST_HTTP6_HOST=::1"
echo "export BW_TEST_HTTP6_PORT=$started"
echo "export BW_TEST_HTTP6_ROOT=$root"
