#!/usr/bin/env bash
# Starts two loopback vsftpd instances with TLS over one root: explicit (AUTH TLS) and implicit (TLS
# from the first byte), both requiring TLS for logins and data with the session resumed. Uses the
# certificate ../ca made and the test user of the plain vsftpd. Prints the export lines for env.sh
# on stdout and nothing else. Usage: start.sh STATE_DIR (run as root).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
source "$here/../common.sh"
use_state "${1:?usage: start.sh STATE_DIR}"
need_test_certificate vsftpd-tls
prepare_vsftpd
# vsftpd reads the key as root before it drops privileges.
cp "$certs/server.pem" "$certs/server.key" "$state/"
chmod 0600 "$state/server.key"

# start_instance NAME PORT IMPLICIT PASV_MIN PASV_MAX
start_instance() {
    local name=$1 port=$2
    sed -e "s|@PORT@|$port|" -e "s|@PASV_MIN@|$4|" -e "s|@PASV_MAX@|$5|" -e "s|@IMPLICIT@|$3|" \
        -e "s|@EMPTY@|$state/empty|" -e "s|@ROOT@|$root|" -e "s|@LOG@|$state/$name.log|" \
        -e "s|@CERT@|$state/server.pem|" -e "s|@KEY@|$state/server.key|" "$here/vsftpd.conf.in" > "$state/$name.conf"
    start_vsftpd "vsftpd-tls: $name" "$name" 127.0.0.1 "$port"
}

explicit_port=$(free_port 127.0.0.1 "${BW_VSFTPD_TLS_PORT:-2990}")
start_instance explicit "$explicit_port" NO 40400 40499
implicit_port=$(free_port 127.0.0.1 "${BW_VSFTPD_IMPLICIT_PORT:-9990}")
start_instance implicit "$implicit_port" YES 40500 40599
echo "export BW_TEST_FTPES_PORT=$explicit_port"
echo "export BW_TEST_FTPS_PORT=$implicit_port"
echo "export BW_TEST_FTPS_ROOT=$root"
