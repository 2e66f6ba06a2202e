#!/usr/bin/env bash
# Times a large download over TLS with bellwick-cli and with curl side by side in one run: HTTPS from
# the loopback nginx, and FTP with AUTH TLS (ftpes, passive) from the loopback vsftpd. Rounds alternate
# which client goes first; prints the median wall time of each, the ratio bellwick/curl, and whether
# the kernel took over the TLS record layer (/proc/net/tls_stat). Every download is compared with the
# source.
# Usage: bench/tls_vs_curl.sh [BUILD_DIR]   (BW_BENCH_SIZE_MIB=1024, BW_BENCH_ROUNDS=5)
# Starts the test servers itself when BW_TEST_HTTPS_PORT is not set (as root, like scripts/test).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/tls-bench}
size_mib=${BW_BENCH_SIZE_MIB:-1024}
rounds=${BW_BENCH_ROUNDS:-5}
[ "$rounds" -ge 1 ] || { echo "BW_BENCH_ROUNDS must be at least 1" >&2; exit 2; }

cli="$build/src/app/bellwick-cli"
if [ ! -x "$cli" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBW_ENGINE_ONLY=ON \
        -DBW_BUILD_BENCH=OFF >/dev/null
    cmake --build "$build" --target bellwick-cli -j2 >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/bw-tls-bench.XXXXXX")
state=""
cleanup() {
    [ -n "$state" ] && "$root/tests/servers/stop.sh" "$state" >/dev/null
    [ -n "$state" ] && rm -rf "$state"
    rm -rf "$work"
}
trap cleanup EXIT
if [ -z "${BW_TEST_HTTPS_PORT:-}" ]; then
    state=$(mktemp -d /tmp/bw-servers.XXXXXX)
    chmod 0711 "$state"
    "$root/tests/servers/start.sh" "$state" >/dev/null
    # shellcheck disable=SC1091
    source "$state/env.sh"
fi

# Kernel TLS needs the tls module; loading it may not be allowed here, and then both run without it.
if [ ! -e /proc/net/tls_stat ] && command -v modprobe >/dev/null; then
    modprobe tls 2>/dev/null || true
fi
ktls_count() { # TLS records sessions the kernel carried so far (0 when it has no kernel TLS)
    [ -r /proc/net/tls_stat ] || { echo 0; return; }
    awk '$1 ~ /^Tls(Tx|Rx)(Sw|Device)$/ {n += $2} END {print n + 0}' /proc/net/tls_stat
}

# One source file served by both servers (a hard link when they share a file system).
bytes=$((size_mib * 1024 * 1024))
web="$BW_TEST_HTTPS_ROOT/bench_tls"
ftp="$BW_TEST_FTPS_ROOT/bench_tls"
mkdir -p "$web" "$ftp"
chmod 0777 "$ftp"
source_file="$web/big.bin"
if [ "$(stat -c %s "$source_file" 2>/dev/null || echo 0)" != "$bytes" ]; then
    head -c "$bytes" /dev/urandom > "$source_file"
fi
ln -f "$source_file" "$ftp/big.bin" 2>/dev/null || cp "$source_file" "$ftp/big.bin"
chmod 0644 "$source_file" "$ftp/big.bin"
cat "$source_file" > /dev/null # from the page cache for every client

# Downloads land in memory when /dev/shm has room, so the disk does not add its noise.
out="$work/out"
if [ -d /dev/shm ] && [ "$(df -k --output=avail /dev/shm | tail -1)" -gt $((size_mib * 2048)) ]; then
    out=$(mktemp -d /dev/shm/bw-tls-bench.XXXXXX)
    trap 'rm -rf "$out"; cleanup' EXIT
fi
mkdir -p "$out" "$work/home"

https_url="https://127.0.0.1:$BW_TEST_HTTPS_PORT/bench_tls/big.bin"
ftp_login="$BW_TEST_FTP_USER:$BW_TEST_FTP_PASSWORD"
ftpes_url="ftpes://$ftp_login@127.0.0.1:$BW_TEST_FTPES_PORT/bench_tls/big.bin"
ftp_url="ftp://127.0.0.1:$BW_TEST_FTPES_PORT/bench_tls/big.bin"

bellwick() { # URL
    HOME="$work/home" SSL_CERT_FILE="$BW_TEST_CA_FILE" "$cli" --quiet --passive --tries 1 --retry-time -1 \
        --dir "$out" "$1"
}
curl_https() { curl -sS --fail --cacert "$BW_TEST_CA_FILE" -o "$out/big.bin" "$https_url"; }
curl_ftpes() { curl -sS --ssl-reqd --cacert "$BW_TEST_CA_FILE" -u "$ftp_login" -o "$out/big.bin" "$ftp_url"; }

# Runs one download and prints its wall seconds; the file must equal the source.
timed() {
    rm -f "$out/big.bin"
    local start end
    start=$(date +%s.%N)
    "$@" >/dev/null
    end=$(date +%s.%N)
    cmp -s "$source_file" "$out/big.bin" || { echo "the download by '$*' differs from the source" >&2; exit 1; }
    awk -v a="$start" -v b="$end" 'BEGIN{printf "%.3f\n", b - a}'
}

median() { sort -n | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'; }

declare -A times
ktls_before=$(ktls_count)
for round in $(seq 1 "$rounds"); do
    for kind in https ftpes; do
        # Odd rounds start with bellwick, even ones with curl: neither always gets the warmer start.
        if [ $((round % 2)) -eq 1 ]; then order="bellwick curl"; else order="curl bellwick"; fi
        for client in $order; do
            if [ "$client" = bellwick ]; then
                url=$https_url
                [ "$kind" = ftpes ] && url=$ftpes_url
                t=$(timed bellwick "$url")
            else
                t=$(timed "curl_$kind")
            fi
            times[$kind-$client]+="$t "
        done
    done
done
ktls_after=$(ktls_count)

if [ ! -e /proc/net/tls_stat ]; then
    ktls="not available (no /proc/net/tls_stat: the tls module is not loaded and could not be loaded)"
elif [ "$ktls_after" -gt "$ktls_before" ]; then
    ktls="in use ($((ktls_after - ktls_before)) kernel TLS sessions during the run)"
else
    ktls="available but not used"
fi

echo "Download of $size_mib MiB over loopback TLS, median of $rounds alternating rounds (wall seconds):"
printf '%-8s %10s %10s %14s %10s\n' form bellwick curl "bellwick/curl" "MiB/s"
for kind in https ftpes; do
    b=$(tr ' ' '\n' <<<"${times[$kind-bellwick]}" | grep . | median)
    c=$(tr ' ' '\n' <<<"${times[$kind-curl]}" | grep . | median)
    awk -v k="$kind" -v b="$b" -v c="$c" -v m="$size_mib" \
        'BEGIN{printf "%-8s %10.3f %10.3f %13.2fx %10.0f\n", k, b, c, b / c, m / b}'
done
echo "rounds: https bellwick ${times[https-bellwick]}| curl ${times[https-curl]}"
echo "rounds: ftpes bellwick ${times[ftpes-bellwick]}| curl ${times[ftpes-curl]}"
echo "kernel TLS: $ktls"
