#!/usr/bin/env bash
# Checks that the test servers started in STATE_DIR really serve: logs in to vsftpd as the test user,
# uploads a file, lists and downloads it; fetches a file from nginx; does the same with the TLS instances.
# Exits non-zero with the server's own answer when one of them does not work, so no test starts against
# a server that cannot serve.
set -uo pipefail
state=${1:?usage: check.sh STATE_DIR}
# shellcheck disable=SC1091
source "$state/env.sh" || { echo "check: no $state/env.sh (start the servers first)" >&2; exit 1; }
failed=0
probe="bellwick-check-$$"
work=$(mktemp -d) || exit 1
trap 'rm -rf "$work"' EXIT
printf 'check %s\n' "$probe" > "$work/$probe.txt"

ftp="ftp://127.0.0.1:$BW_TEST_FTP_PORT"
login=(--user "$BW_TEST_FTP_USER:$BW_TEST_FTP_PASSWORD")
if ! curl -sS --max-time 10 "${login[@]}" -T "$work/$probe.txt" "$ftp/$probe.txt" 2>"$work/ftp.err" \
    || ! curl -sS --max-time 10 "${login[@]}" -o "$work/back.txt" "$ftp/$probe.txt" 2>>"$work/ftp.err" \
    || ! cmp -s "$work/$probe.txt" "$work/back.txt"; then
    echo "check: vsftpd on port $BW_TEST_FTP_PORT does not let $BW_TEST_FTP_USER log in and transfer:" >&2
    cat "$work/ftp.err" >&2
    tail -n 5 "$(dirname "$BW_TEST_FTP_ROOT")/vsftpd.log" >&2 2>/dev/null
    failed=1
fi
rm -f "$BW_TEST_FTP_ROOT/$probe.txt"

cp "$work/$probe.txt" "$BW_TEST_HTTP_ROOT/$probe.txt"
if ! curl -sS --fail --max-time 10 -o "$work/http.txt" "http://127.0.0.1:$BW_TEST_HTTP_PORT/$probe.txt" \
        2>"$work/http.err" \
    || ! cmp -s "$work/$probe.txt" "$work/http.txt"; then
    echo "check: nginx on port $BW_TEST_HTTP_PORT does not serve $BW_TEST_HTTP_ROOT:" >&2
    cat "$work/http.err" >&2
    failed=1
fi
rm -f "$BW_TEST_HTTP_ROOT/$probe.txt"

# The TLS instances, trusted through the test CA only; without it their certificate must be refused.
tls=(--cacert "$BW_TEST_CA_FILE")
cp "$work/$probe.txt" "$BW_TEST_HTTPS_ROOT/$probe.txt"
if ! curl -sS --fail --max-time 10 "${tls[@]}" -o "$work/https.txt" \
        "https://127.0.0.1:$BW_TEST_HTTPS_PORT/$probe.txt" 2>"$work/https.err" \
    || ! cmp -s "$work/$probe.txt" "$work/https.txt" \
    || curl -sS --max-time 10 -o /dev/null --cacert /dev/null \
        "https://127.0.0.1:$BW_TEST_HTTPS_PORT/$probe.txt" 2>/dev/null; then
    echo "check: nginx TLS port $BW_TEST_HTTPS_PORT does not serve with the test certificate:" >&2
    cat "$work/https.err" >&2
    failed=1
fi
rm -f "$BW_TEST_HTTPS_ROOT/$probe.txt"

for form in "ftp://127.0.0.1:$BW_TEST_FTPES_PORT --ssl-reqd" "ftps://127.0.0.1:$BW_TEST_FTPS_PORT"; do
    read -r base flags <<<"$form"
    # shellcheck disable=SC2086
    if ! curl -sS --max-time 10 "${tls[@]}" $flags "${login[@]}" -T "$work/$probe.txt" "$base/$probe.txt" \
            2>"$work/ftps.err" \
        || ! curl -sS --max-time 10 "${tls[@]}" $flags "${login[@]}" -o "$work/back.txt" "$base/$probe.txt" \
            2>>"$work/ftps.err" \
        || ! cmp -s "$work/$probe.txt" "$work/back.txt"; then
        echo "check: vsftpd with TLS at $base does not let $BW_TEST_FTP_USER log in and transfer:" >&2
        cat "$work/ftps.err" >&2
        failed=1
    fi
    rm -f "$BW_TEST_FTPS_ROOT/$probe.txt" "$work/back.txt"
done

# The private sshd: OpenSSH's sftp logs in with the test key, checking the host key, and fetches a file.
cp "$work/$probe.txt" "$BW_TEST_SFTP_ROOT/$probe.txt"
if ! printf 'get %s %s\n' "$probe.txt" "$work/sftp.txt" | sftp -q -b - -P "$BW_TEST_SFTP_PORT" -i "$BW_TEST_SFTP_KEY" \
        -o BatchMode=yes -o StrictHostKeyChecking=yes -o "UserKnownHostsFile=$BW_TEST_SFTP_KNOWN_HOSTS" \
        "$BW_TEST_SFTP_USER@127.0.0.1" >"$work/sftp.err" 2>&1 \
    || ! cmp -s "$work/$probe.txt" "$work/sftp.txt"; then
    echo "check: sshd on port $BW_TEST_SFTP_PORT does not serve SFTP to $BW_TEST_SFTP_USER:" >&2
    cat "$work/sftp.err" >&2
    failed=1
fi
rm -f "$BW_TEST_SFTP_ROOT/$probe.txt"
exit $failed
