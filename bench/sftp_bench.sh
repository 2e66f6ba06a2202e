#!/usr/bin/env bash
# Times a large SFTP download and upload against the private loopback sshd with Bellwick's SftpSession
# (bench/sftp_transfer_driver) and OpenSSH's sftp (its default cipher and aes128-gcm), side by side in
# one run: best wall seconds of N runs, the ratio sftp/Bellwick (above 1: Bellwick is faster) and the
# peak memory (RSS) of each client. Every copy is compared with its source.
# Usage: bench/sftp_bench.sh [BUILD_DIR]   (BW_BENCH_SIZE_MIB=1024, BW_BENCH_RUNS=3)
# Starts the test servers itself when BW_TEST_SFTP_PORT is not set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/sftp-bench}
size_mib=${BW_BENCH_SIZE_MIB:-1024}
runs=${BW_BENCH_RUNS:-3}

if [ ! -x "$build/bench/sftp_transfer_driver" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBW_ENGINE_ONLY=ON -DBW_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target sftp_transfer_driver -j2 >/dev/null
fi
driver="$build/bench/sftp_transfer_driver"

if [ -z "${BW_TEST_SFTP_PORT:-}" ]; then
    state=$(mktemp -d /tmp/bw-sftp-bench-XXXX)
    chmod 0711 "$state"
    mkdir -p "$state/sshd"
    "$root/tests/servers/sshd/start.sh" "$state/sshd" > "$state/env.sh"
    # shellcheck disable=SC1091
    source "$state/env.sh"
fi

# A private home: the server's host keys and the test key, for both clients.
home=$(mktemp -d)
out=$(mktemp -d)
cleanup() {
    rm -rf "$home" "$out" "${dir:-/nonexistent}"
    if [ -n "${state:-}" ]; then
        "$root/tests/servers/sshd/stop.sh" "$state/sshd"
        rm -rf "$state"
    fi
}
trap cleanup EXIT
mkdir -m 0700 "$home/.ssh"
cp "$BW_TEST_SFTP_KNOWN_HOSTS" "$home/.ssh/known_hosts"
cp "$BW_TEST_SFTP_KEY" "$home/.ssh/id_ed25519"
cp "$BW_TEST_SFTP_KEY.pub" "$home/.ssh/id_ed25519.pub"
chmod 0600 "$home/.ssh/id_ed25519"

dir="$BW_TEST_SFTP_ROOT/bench_big"
mkdir -p "$dir"
chmod 0777 "$dir"
source_file="$out/source.bin"
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$source_file"
cp "$source_file" "$dir/big.bin"
chmod 0644 "$dir/big.bin"

sftp_cmd=(sftp -q -b - -P "$BW_TEST_SFTP_PORT" -o BatchMode=yes -o "UserKnownHostsFile=$home/.ssh/known_hosts"
    -i "$home/.ssh/id_ed25519")
target="$BW_TEST_SFTP_USER@127.0.0.1"

# run_best LABEL CHECK_FILE COMMAND...: prints "seconds peak_kib" of the fastest of $runs runs, after
# checking that CHECK_FILE equals the source each time.
run_best() {
    local label=$1 check=$2 best="" line seconds
    shift 2
    for _ in $(seq 1 "$runs"); do
        rm -f "$check"
        HOME="$home" env -u SSH_AUTH_SOCK /usr/bin/time -o "$out/time" -f "%e %M" "$@" >/dev/null 2>"$out/err" \
            </dev/null || true
        line=$(tail -1 "$out/time")
        cmp -s "$source_file" "$check" || { echo "$label: the copy differs from the source" >&2; cat "$out/err" >&2; exit 1; }
        seconds=${line%% *}
        if [ -z "$best" ] || awk -v a="$seconds" -v b="${best%% *}" 'BEGIN{exit !(a < b)}'; then
            best=$line
        fi
    done
    echo "$best"
}

sftp_get() { printf 'get bench_big/big.bin %s\n' "$out/down.bin" | "${sftp_cmd[@]}" "$@" "$target"; }
sftp_put() { printf 'put %s bench_big/up.bin\n' "$source_file" | "${sftp_cmd[@]}" "$@" "$target"; }
export -f sftp_get sftp_put
export out source_file target
declare -p sftp_cmd > "$out/sftp_cmd.sh"

rows=()
for direction in download upload; do
    if [ "$direction" = download ]; then
        check="$out/down.bin"
        bellwick=$(run_best bellwick "$check" "$driver" get bench_big/big.bin "$check")
        openssh=$(run_best sftp "$check" bash -c "source $out/sftp_cmd.sh; sftp_get")
        gcm=$(run_best sftp-gcm "$check" bash -c "source $out/sftp_cmd.sh; sftp_get -c aes128-gcm@openssh.com")
    else
        check="$dir/up.bin"
        bellwick=$(run_best bellwick "$check" "$driver" put "$source_file" bench_big/up.bin)
        openssh=$(run_best sftp "$check" bash -c "source $out/sftp_cmd.sh; sftp_put")
        gcm=$(run_best sftp-gcm "$check" bash -c "source $out/sftp_cmd.sh; sftp_put -c aes128-gcm@openssh.com")
    fi
    rows+=("$direction ${bellwick% *} ${bellwick#* } ${openssh% *} ${openssh#* } ${gcm% *} ${gcm#* }")
done

echo "SFTP, $size_mib MiB over loopback, best of $runs (seconds; peak RSS in MiB; ratio = sftp / Bellwick)"
printf '%-9s %10s %8s %10s %8s %8s %12s %8s %8s\n' direction bellwick rss sftp rss ratio sftp-gcm rss ratio
for row in "${rows[@]}"; do
    read -r name bw bw_rss os os_rss gc gc_rss <<<"$row"
    awk -v n="$name" -v bw="$bw" -v br="$bw_rss" -v os="$os" -v orss="$os_rss" -v gc="$gc" -v gr="$gc_rss" \
        'BEGIN{printf "%-9s %10.2f %8.1f %10.2f %8.1f %8.2f %12.2f %8.1f %8.2f\n", n, bw, br/1024, os, orss/1024, os/bw, gc, gr/1024, gc/bw}'
done
