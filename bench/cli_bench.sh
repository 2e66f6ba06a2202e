#!/usr/bin/env bash
# Wall time of bellwick-cli (its default settings) against the loopback vsftpd, side by side with
# curl for one large file and with lftp's mirror for trees of small files: a download on one
# connection (active and passive) and on four, and an upload on one. Each case runs BENCH_ROUNDS
# times, the two programs alternating, and the medians are compared.
# Usage: bench/cli_bench.sh [BELLWICK_CLI]   (needs the BW_TEST_FTP_* variables of tests/servers)
# Environment: BENCH_FILE_MIB (default 1024; 0 leaves the large file out), BENCH_TREE_DIRS (40),
# BENCH_TREE_FILES (2000), BENCH_UP_FILES (500), BENCH_ROUNDS (5), BENCH_SETTLE (0, see below).
set -euo pipefail
source "$(dirname "$0")/common.sh"
cli=$(bench_cli "${1:-}")
need_servers BW_TEST_FTP_PORT
file_mib=${BENCH_FILE_MIB:-1024}
dirs=${BENCH_TREE_DIRS:-40}
files=${BENCH_TREE_FILES:-2000}
up_files=${BENCH_UP_FILES:-500}
rounds=${BENCH_ROUNDS:-5}
host=127.0.0.1
login="$BW_TEST_FTP_USER:$BW_TEST_FTP_PASSWORD"
name="bench-$$"
remote="$BW_TEST_FTP_ROOT/$name"
work=$(mktemp -d)
home=$(mktemp -d) # no user settings: bellwick-cli runs with its defaults
trap 'rm -rf "$remote" "$work" "$home"' EXIT

# A tree of small files (1-4 KB) in `dirs` folders.
make_tree() { # folder count
    local i d
    for ((i = 0; i < $2; i++)); do
        d="$1/d$((i % dirs))"
        mkdir -p "$d"
        head -c $((1000 + (i * 37) % 3000)) /dev/urandom > "$d/f$i.bin"
    done
}

mkdir -p "$remote/tree" "$remote/up"
[ "$file_mib" -gt 0 ] && head -c $((file_mib * 1024 * 1024)) /dev/urandom > "$remote/big.bin"
make_tree "$remote/tree" "$files"
make_tree "$work/upsrc" "$up_files"
chmod -R a+rwX "$remote"

seconds() { # command...: runs it, prints its wall time in seconds
    local start end
    start=$(date +%s.%N)
    "$@" >"$work/last.log" 2>&1
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }'
}
fail() { echo "MISMATCH: $*" >&2; tail -5 "$work/last.log" >&2; exit 1; }
same() { cmp -s "$1" "$2" || fail "$1 $2"; }
same_tree() { diff -r "$1" "$2" >/dev/null || fail "$1 $2"; }
median() { tr ' ' '\n' | sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
fresh() { rm -rf "$work/run"; mkdir -p "$work/run"; echo "$work/run"; }
lftp_run() { # lftp commands (active mode, as bellwick-cli's default)
    lftp -u "$login" -p "$BW_TEST_FTP_PORT" -e "set net:max-retries 1; set ftp:passive-mode off; $1; quit" "$host"
}
lftp_passive() { # lftp commands in passive mode
    lftp -u "$login" -p "$BW_TEST_FTP_PORT" -e "set net:max-retries 1; set ftp:passive-mode on; $1; quit" "$host"
}
# In active mode the server connects to us for every file and each connection leaves a socket in
# TIME_WAIT; thousands of them slow every later connect on this machine, for both programs alike, and
# make the active figures wobble. Passive mode is hit far less: it is measured too.
time_wait() { ss -tan state time-wait | tail -n +2 | wc -l; }
# BENCH_SETTLE=S: before each active one-connection run, wait up to S seconds for those sockets to
# time out, so that every run of either program starts from the same state.
settle=${BENCH_SETTLE:-0}
settle() {
    local waited=0
    while [ "$waited" -lt "$settle" ] && [ "$(time_wait)" -gt 100 ]; do
        sleep 1
        waited=$((waited + 1))
    done
}

url="ftp://$login@$host:$BW_TEST_FTP_PORT/$name"
tree_run() { # key command...: a download of the tree into a fresh folder, timed and checked
    local key=$1 d
    shift
    d=$(fresh)
    add_time "$key" "$(cd "$d" && seconds "$@")"
    same_tree "$d/tree" "$remote/tree"
}
load_before=$(cut -d' ' -f1-3 /proc/loadavg)
time_wait_before=$(time_wait)
declare -A times
add_time() { times[$1]="${times[$1]:-} $2"; }

for ((round = 1; round <= rounds; round++)); do
    if [ "$file_mib" -gt 0 ]; then
        d=$(fresh)
        add_time bw_file "$(cd "$d" && HOME=$home seconds "$cli" "$url/big.bin")"
        same "$d/big.bin" "$remote/big.bin"
        d=$(fresh)
        add_time curl "$(cd "$d" && seconds curl -s -o big.bin "$url/big.bin")"
        same "$d/big.bin" "$remote/big.bin"
    fi

    settle
    tree_run bw_tree1 env HOME="$home" "$cli" "$url/tree"
    settle
    tree_run lftp_tree1 lftp_run "mirror --parallel=1 $name/tree tree"

    tree_run bw_tree1p env HOME="$home" "$cli" --passive "$url/tree"
    tree_run lftp_tree1p lftp_passive "mirror --parallel=1 $name/tree tree"

    tree_run bw_tree4 env HOME="$home" "$cli" --per-site 4 --max-threads 4 "$url/tree"
    tree_run lftp_tree4 lftp_run "mirror --parallel=4 $name/tree tree"

    rm -rf "$remote/up/upsrc"
    add_time bw_up "$(cd "$work" && HOME=$home seconds "$cli" "ftpu://$login@$host:$BW_TEST_FTP_PORT/$name/up/upsrc")"
    same_tree "$work/upsrc" "$remote/up/upsrc"
    rm -rf "$remote/up/upsrc"
    add_time lftp_up "$(cd "$work" && seconds lftp_run "mirror -R --parallel=1 upsrc $name/up/upsrc")"
    same_tree "$work/upsrc" "$remote/up/upsrc"
done

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }
row() { # label bellwick-key other-key other-name
    local a b
    a=$(echo ${times[$2]} | median)
    b=$(echo ${times[$3]} | median)
    printf '%-40s %9.2fs %9.2fs %7sx  (%s)\n' "$1" "$a" "$b" "$(ratio "$a" "$b")" "$4"
    printf '%-40s %s | %s\n' "  rounds" "$(echo ${times[$2]})" "$(echo ${times[$3]})"
}
echo "medians of $rounds rounds; load average before: $load_before, after: $(cut -d' ' -f1-3 /proc/loadavg);" \
    "sockets in TIME_WAIT before: $time_wait_before, after: $(time_wait)"
printf '%-40s %10s %10s %8s\n' "case" "bellwick" "other" "ratio"
[ "$file_mib" -gt 0 ] && row "${file_mib} MiB file" bw_file curl "curl"
row "$files files in $dirs folders, 1 connection" bw_tree1 lftp_tree1 "lftp mirror --parallel=1"
row "$files files in $dirs folders, 1 conn., passive" bw_tree1p lftp_tree1p "lftp mirror, passive"
row "$files files in $dirs folders, 4 connections" bw_tree4 lftp_tree4 "lftp mirror --parallel=4"
row "$up_files files uploaded, 1 connection" bw_up lftp_up "lftp mirror -R"
