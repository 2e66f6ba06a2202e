#!/usr/bin/env bash
# Starts a second loopback vsftpd that listens on ::1 only (EPSV and EPRT over IPv6), built from the
# IPv4 instance's configuration with the listen lines swapped. Same test user and password; its own
# root. Prints the export lines for env.sh on stdout and nothing else. Usage: start.sh STATE_DIR (root).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck disable=SC1091
source "$here/../common.sh"
use_state "${1:?usage: start.sh STATE_DIR}"
prepare_vsftpd

port=$(free_port ::1 "${BW_VSFTPD6_PORT:-2141}")
sed -e "s|@PORT@|$port|" -e "s|@PASV_MIN@|40200|" -e "s|@PASV_MAX@|40399|" \
    -e "s|@EMPTY@|$state/empty|" -e "s|@ROOT@|$root|" -e "s|@LOG@|$state/vsftpd.log|" \
    -e "s|^listen=YES|listen=NO|" -e "s|^listen_ipv6=NO|listen_ipv6=YES|" \
    -e "s|^listen_address=.*|listen_address6=::1|" -e "/^pasv_address=/d" \
    "$here/../vsftpd/vsftpd.conf.in" > "$state/vsftpd.conf"
start_vsftpd "vsftpd (::1)" vsftpd ::1 "$port"
echo "export BW_TEST_FTP6_HOST=::1"
echo "export BW_TEST_FTP6_PORT=$port"
echo "export BW_TEST_FTP6_ROOT=$root"
