#!/usr/bin/env bash
# One large file over HTTP (nginx) and FTP (vsftpd) on loopback, bellwick-cli side by side with lftp's
# get: the median wall time of BENCH_ROUNDS alternating rounds, the CPU seconds and the peak memory of
# each program. Bellwick's transfer threads run at nice 19; BENCH_OTHER_NICE sets lftp's niceness
# (default 0, as a user runs it; on a busy machine 19 compares like with like). The disk is synced
# before each run, so no run pays for the previous one's writes.
# Usage: bench/big_file_bench.sh [BELLWICK_CLI]   (needs the BW_TEST_FTP_* and BW_TEST_HTTP_* variables
# of tests/servers)
# Environment: BENCH_FILE_MIB (default 1024), BENCH_ROUNDS (5), BENCH_OTHER_NICE (0).
set -euo pipefail
source "$(dirname "$0")/common.sh"
cli=$(bench_cli "${1:-}")
need_servers BW_TEST_FTP_PORT BW_TEST_HTTP_PORT
file_mib=${BENCH_FILE_MIB:-1024}
rounds=${BENCH_ROUNDS:-5}
other_nice=${BENCH_OTHER_NICE:-0}
host=127.0.0.1
login="$BW_TEST_FTP_USER:$BW_TEST_FTP_PASSWORD"
name="bench-$$"
remote="$BW_TEST_FTP_ROOT/$name"
work=$(mktemp -d)
home=$(mktemp -d) # no user settings: bellwick-cli runs with its defaults
web="$BW_TEST_HTTP_ROOT/$name"
trap 'rm -rf "$remote" "$work" "$home" "$web"' EXIT

mkdir -p "$remote"
head -c $((file_mib * 1024 * 1024)) /dev/urandom > "$remote/big.bin"
chmod -R a+rwX "$remote"
mkdir -p "$web"
ln "$remote/big.bin" "$web/big.bin" 2>/dev/null || cp "$remote/big.bin" "$web/big.bin"
chmod -R a+rX "$web"
cat "$remote/big.bin" > /dev/null # warm the page cache, so every client reads from memory

same() { cmp -s "$1" "$2" || { echo "MISMATCH: $1 $2" >&2; tail -5 "$work/last.log" >&2; exit 1; }; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
url="ftp://$login@$host:$BW_TEST_FTP_PORT/$name"

# One large file, each program alternately, $rounds rounds: "wall peak-KiB" of every run.
measure() { # output-folder command...
    local dir=$1
    shift
    rm -rf "$dir" && mkdir -p "$dir"
    sync
    (cd "$dir" && HOME=$home /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" >"$work/last.log" 2>&1) \
        || { echo "FAILED: $*" >&2; tail -5 "$work/last.log" >&2; exit 1; }
    same "$dir/big.bin" "$remote/big.bin"
    cat "$work/time.txt"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
http_url="http://$host:$BW_TEST_HTTP_PORT/$name/big.bin"
: > "$work/bw-http" ; : > "$work/lftp-http" ; : > "$work/bw-ftp" ; : > "$work/lftp-ftp"
for ((r = 0; r < rounds; r++)); do
    measure "$work/r" "$cli" --quiet "$http_url" >> "$work/bw-http"
    measure "$work/r" nice -n "$other_nice" lftp -e "set net:max-retries 1; get $http_url -o big.bin; quit" \
        >> "$work/lftp-http"
    measure "$work/r" "$cli" --quiet "$url/big.bin" >> "$work/bw-ftp"
    measure "$work/r" nice -n "$other_nice" lftp -u "$login" -p "$BW_TEST_FTP_PORT" \
        -e "set net:max-retries 1; get $name/big.bin -o big.bin; quit" "$host" >> "$work/lftp-ftp"
done
rm -rf "$work/r"
wall() { cut -d' ' -f1 "$1" | median; }
cpu() { awk '{ print $3 + $4 }' "$1" | median; }
peak() { cut -d' ' -f2 "$1" | sort -n | tail -1; }

echo "${file_mib} MiB file, median of $rounds alternating rounds, lftp at nice $other_nice (load: $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-6s %9s %9s %6s %9s %9s %6s %14s %14s\n' proto "bw wall" "lftp wall" ratio "bw cpu" "lftp cpu" ratio \
    "bellwick peak" "lftp peak"
for proto in http ftp; do
    b=$(wall "$work/bw-$proto")
    l=$(wall "$work/lftp-$proto")
    bc=$(cpu "$work/bw-$proto")
    lc=$(cpu "$work/lftp-$proto")
    printf '%-6s %8.2fs %8.2fs %5sx %8.2fs %8.2fs %5sx %10s KiB %10s KiB\n' "$proto" "$b" "$l" "$(ratio "$b" "$l")" \
        "$bc" "$lc" "$(ratio "$bc" "$lc")" "$(peak "$work/bw-$proto")" "$(peak "$work/lftp-$proto")"
done
