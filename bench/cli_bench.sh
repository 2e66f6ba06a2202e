#!/usr/bin/env bash
# Wall time of bellwick-cli (its default settings) against the loopback vsftpd, side by side with
# curl for one large file and with lftp's mirror on one connection for a tree of small files.
# Usage: bench/cli_bench.sh [BELLWICK_CLI]   (needs the BW_TEST_FTP_* variables of tests/servers)
# Environment: BENCH_FILE_MIB (default 1024), BENCH_TREE_DIRS (40), BENCH_TREE_FILES (2000).
set -euo pipefail
cli=$(realpath "${1:-$(cd "$(dirname "$0")/.." && pwd)/build/release/src/app/bellwick-cli}")
: "${BW_TEST_FTP_PORT:?start the test servers first (tests/servers/start.sh) and source their env.sh}"
file_mib=${BENCH_FILE_MIB:-1024}
dirs=${BENCH_TREE_DIRS:-40}
files=${BENCH_TREE_FILES:-2000}
host=127.0.0.1
login="$BW_TEST_FTP_USER:$BW_TEST_FTP_PASSWORD"
name="bench-$$"
remote="$BW_TEST_FTP_ROOT/$name"
work=$(mktemp -d)
home=$(mktemp -d) # no user settings: bellwick-cli runs with its defaults
trap 'rm -rf "$remote" "$work" "$home"' EXIT

mkdir -p "$remote/tree"
head -c $((file_mib * 1024 * 1024)) /dev/urandom > "$remote/big.bin"
for ((i = 0; i < files; i++)); do
    d="$remote/tree/d$((i % dirs))"
    mkdir -p "$d"
    head -c $((1000 + (i * 37) % 3000)) /dev/urandom > "$d/f$i.bin"
done
chmod -R a+rwX "$remote"

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
