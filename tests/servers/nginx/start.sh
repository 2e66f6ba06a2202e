#!/usr/bin/env bash
# Starts a loopback nginx for the HTTP tests in STATE_DIR (config, pid, logs, document root) and prints
# the export lines for the tests' environment, and nothing else, on stdout.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
source "$here/../common.sh"
use_state "${1:?usage: start.sh STATE_DIR}"
prepare_nginx

# The checksum tests' file, whose SHA-256 and MD5 the /digest/ locations send.
seq 1 30000 > "$root/files/digest.bin"
sha256=$(openssl dgst -sha256 -binary "$root/files/digest.bin" | base64)
md5=$(openssl dgst -md5 -binary "$root/files/digest.bin" | base64)

nginx_conf() {
    sed -e "s|@PORT@|$1|g" -e "s|@DIGEST@|$sha256|g" -e "s|@MD5@|$md5|g" -e "s|@STATE@|$state|g" -e "s|@ROOT@|$root|g" -e "s|@USER@|$user_line|g" \
        "$here/nginx.conf.in"
}
start_nginx nginx 127.0.0.1 8081 8180 1
echo "export BW_TEST_HTTP_PORT=$started"
echo "export BW_TEST_HTTP_ROOT=$root"
