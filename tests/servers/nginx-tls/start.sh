#!/usr/bin/env bash
# Starts a loopback nginx with a TLS port (and a plain one for redirects, just below it) in STATE_DIR,
# with the certificate that ../ca made. Prints the export lines for env.sh on stdout and nothing else.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
source "$here/../common.sh"
use_state "${1:?usage: start.sh STATE_DIR}"
need_test_certificate nginx-tls
prepare_nginx

nginx_conf() {
    sed -e "s|@PORT@|$1|g" -e "s|@TLS_PORT@|$(($1 + 1))|g" -e "s|@STATE@|$state|g" -e "s|@ROOT@|$root|g" \
        -e "s|@USER@|$user_line|g" -e "s|@CERT@|$certs/server.pem|g" -e "s|@KEY@|$certs/server.key|g" \
        "$here/nginx.conf.in"
}
start_nginx nginx-tls 127.0.0.1 8443 8641 2
echo "export BW_TEST_HTTPS_PORT=$((started + 1))"
echo "export BW_TEST_HTTPS_PLAIN_PORT=$started"
echo "export BW_TEST_HTTPS_ROOT=$root"
