#!/usr/bin/env bash
# Wall time of bellwick-cli (its default settings) against the loopback vsftpd, side by side with
# curl for one large file and with lftp's mirror on one connection for a tree of small files; then one
# large file over HTTP (nginx) and FTP side by side with lftp's get: the median wall time of
# BENCH_ROUNDS alternating rounds, the CPU seconds and the peak memory of each program. Bellwick's
# transfer threads run at nice 19, so lftp runs at the same niceness there (BENCH_OTHER_NICE): on a busy
# machine a program at nice 0 would otherwise win on scheduling alone. The disk is synced before each
# run, so no run pays for the previous one's writes.
# Usage: bench/cli_bench.sh [BELLWICK_CLI]   (needs the BW_TEST_FTP_* and BW_TEST_HTTP_* variables of
# tests/servers)
# Environment: BENCH_FILE_MIB (default 1024), BENCH_TREE_DIRS (40), BENCH_TREE_FILES (2000),
# BENCH_ROUNDS (5).
set -euo pipefail
cli=$(realpath "${1:-$(cd "$(dirname "$0")/.." && pwd)/build/release/src/app/bellwick-cli}")
: "${BW_TEST_FTP_PORT:?start the test servers first (tests/servers/start.sh) and source their env.sh}"
: "${BW_TEST_HTTP_PORT:?start the test servers first (tests/servers/start.sh) and source their env.sh}"
file_mib=${BENCH_FILE_MIB:-1024}
rounds=${BENCH_ROUNDS:-5}
other_nice=${BENCH_OTHER_NICE:-19}
dirs=${BENCH_TREE_DIRS:-40}
files=${BENCH_TREE_FILES:-2000}
host=127.0.0.1
login="$BW_TEST_FTP_USER:$BW_TEST_FTP_PASSWORD"
name="bench-$$"
remote="$BW_TEST_FTP_ROOT/$name"
work=$(mktemp -d)
home=$(mktemp -d) # no user settings: bellwick-cli runs with its defaults
web="$BW_TEST_HTTP_ROOT/$name"
trap 'rm -rf "$remote" "$work" "$home" "$web"' EXIT

mkdir -p "$remote/tree"
head -c $((file_mib * 1024 * 1024)) /dev/urandom > "$remote/big.bin"
for ((i = 0; i < files; i++)); do
    d="$remote/tree/d$((i % dirs))"
    mkdir -p "$d"
    head -c $((1000 + (i * 37) % 3000)) /dev/urandom > "$d/f$i.bin"
done
chmod -R a+rwX "$remote"
mkdir -p "$web"
ln "$remote/big.bin" "$web/big.bin" 2>/dev/null || cp "$remote/big.bin" "$web/big.bin"
chmod -R a+rX "$web"
cat "$remote/big.bin" > /dev/null # warm the page cache, so every client reads from memory

seconds() { # command...: runs it, prints its wall time in seconds
    local start end
    start=$(date +%s.%N)
    "$@" >"$work/last.log" 2>&1
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}
same() { cmp -s "$1" "$2" || { echo "MISMATCH: $1 $2" >&2; tail -5 "$work/last.log" >&2; exit 1; }; }
same_tree() { diff -r "$1" "$2" >/dev/null || { echo "MISMATCH: $1 $2" >&2; exit 1; }; }

url="ftp://$login@$host:$BW_TEST_FTP_PORT/$name"
mkdir -p "$work/bw" "$work/curl" "$work/bwtree" "$work/lftp"

t_bw_file=$(cd "$work/bw" && HOME=$home seconds "$cli" "$url/big.bin")
same "$work/bw/big.bin" "$remote/big.bin"
t_curl=$(cd "$work/curl" && seconds curl -s -o big.bin "$url/big.bin")
same "$work/curl/big.bin" "$remote/big.bin"

t_bw_tree=$(cd "$work/bwtree" && HOME=$home seconds "$cli" "$url/tree")
same_tree "$work/bwtree/tree" "$remote/tree"
t_lftp=$(cd "$work/lftp" && seconds lftp -u "$login" -p "$BW_TEST_FTP_PORT" \
    -e "set net:max-retries 1; set ftp:passive-mode off; mirror --parallel=1 $name/tree tree; quit" "$host")
same_tree "$work/lftp/tree" "$remote/tree"

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
printf '%-32s %10s %10s %8s\n' "case" "bellwick" "other" "ratio"
printf '%-32s %9.2fs %9.2fs %7sx  (curl)\n' "${file_mib} MiB file" "$t_bw_file" "$t_curl" "$(ratio "$t_bw_file" "$t_curl")"
printf '%-32s %9.2fs %9.2fs %7sx  (lftp mirror, 1 connection)\n' "$files files in $dirs folders" \
    "$t_bw_tree" "$t_lftp" "$(ratio "$t_bw_tree" "$t_lftp")"

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
echo
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
