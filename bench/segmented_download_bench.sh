#!/usr/bin/env bash
# A file from a server that limits each connection (nginx's /limited/ location, limit_rate 4m, as many
# servers on the internet do): bellwick-cli on one connection, on four (--segments 4 --per-site 4) and
# aria2c -x4 -s4, side by side in the same run, BENCH_ROUNDS alternating rounds, median wall times.
# Four connections must take at most 0.35x of one connection's time and at most 1.0x aria2c's.
# Usage: bench/segmented_download_bench.sh [BELLWICK_CLI]   (needs tests/servers' BW_TEST_HTTP_*)
# Environment: BENCH_FILE_MIB (default 100), BENCH_ROUNDS (3).
set -euo pipefail
source "$(dirname "$0")/common.sh"
cli=$(bench_cli "${1:-}")
need_servers BW_TEST_HTTP_PORT BW_TEST_HTTP_ROOT
file_mib=${BENCH_FILE_MIB:-100}
rounds=${BENCH_ROUNDS:-3}
name="segbench-$$"
web="$BW_TEST_HTTP_ROOT/$name"
work=$(mktemp -d)
home=$(mktemp -d) # no user settings: bellwick-cli runs with its defaults and the options below
trap 'rm -rf "$web" "$work" "$home"' EXIT

mkdir -p "$web"
head -c $((file_mib * 1024 * 1024)) /dev/urandom > "$web/big.bin"
chmod -R a+rX "$web"
cat "$web/big.bin" > /dev/null # every client reads from the page cache
url="http://127.0.0.1:$BW_TEST_HTTP_PORT/limited/$name/big.bin"

measure() { # command...: the wall seconds of one download into a fresh folder, checked byte for byte
    rm -rf "$work/r" && mkdir -p "$work/r"
    sync
    (cd "$work/r" && HOME=$home /usr/bin/time -f "%e" -o "$work/time.txt" "$@" >"$work/last.log" 2>&1) \
        || { echo "FAILED: $*" >&2; tail -5 "$work/last.log" >&2; exit 1; }
    cmp -s "$work/r/big.bin" "$web/big.bin" || { echo "MISMATCH: $*" >&2; exit 1; }
    cat "$work/time.txt"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }'; }

: > "$work/one" ; : > "$work/four" ; : > "$work/aria"
for ((r = 0; r < rounds; r++)); do
    measure "$cli" --quiet --segments 1 --per-site 1 "$url" >> "$work/one"
    measure "$cli" --quiet --segments 4 --per-site 4 "$url" >> "$work/four"
    measure aria2c -q -x4 -s4 --file-allocation=none --allow-overwrite=true -o big.bin "$url" >> "$work/aria"
done
one=$(median < "$work/one")
four=$(median < "$work/four")
aria=$(median < "$work/aria")
echo "${file_mib} MiB at 4 MB/s per connection, median of $rounds rounds (load: $(cut -d' ' -f1-3 /proc/loadavg))"
printf '%-28s %8s %8s\n' run wall "vs one"
printf '%-28s %7.2fs %7sx\n' "bellwick, one connection" "$one" "1.00"
printf '%-28s %7.2fs %7sx\n' "bellwick, four connections" "$four" "$(ratio "$four" "$one")"
printf '%-28s %7.2fs %7sx\n' "aria2c -x4 -s4" "$aria" "$(ratio "$aria" "$one")"
echo "four connections / aria2c: $(ratio "$four" "$aria")x (goals: <= 0.35x of one, <= 1.00x of aria2c)"
