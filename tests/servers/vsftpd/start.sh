#!/usr/bin/env bash
# Starts a loopback vsftpd for the tests: a local user with a password whose writable home is "/"
# after login, passive ports on 127.0.0.1 and active mode allowed. Prints the export lines for env.sh
# on stdout and nothing else. Usage: start.sh STATE_DIR (run as root).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
source "$here/../common.sh"
use_state "${1:?usage: start.sh STATE_DIR}"
prepare_vsftpd

port=$(free_port 127.0.0.1 "${BW_VSFTPD_PORT:-2121}")
sed -e "s|@PORT@|$port|" -e "s|@PASV_MIN@|${BW_VSFTPD_PASV_MIN:-40000}|" \
    -e "s|@PASV_MAX@|${BW_VSFTPD_PASV_MAX:-40199}|" -e "s|@EMPTY@|$state/empty|" -e "s|@ROOT@|$root|" \
    -e "s|@LOG@|$state/vsftpd.log|" "$here/vsftpd.conf.in" > "$state/vsftpd.conf"
start_vsftpd vsftpd vsftpd 127.0.0.1 "$port"
echo "export BW_TEST_FTP_PORT=$port"
echo "export BW_TEST_FTP_USER=$user"
echo "export BW_TEST_FTP_PASSWORD=$password"
echo "export BW_TEST_FTP_ROOT=$root"
