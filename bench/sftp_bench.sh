#!/usr/bin/env bash
# SFTP side by side in one run against the private loopback sshd:
#  - a large file down and up with Bellwick's SftpSession (bench/sftp_transfer_driver) and OpenSSH's
#    sftp (its default cipher and aes128-gcm): best wall seconds of N runs, the client's CPU seconds
#    (user + system, which the machine's load does not inflate), its peak memory (RSS) and the ratio
#    sftp/Bellwick (above 1: Bellwick is faster);
#  - a tree of small files (BW_BENCH_TREE_FILES in BW_BENCH_TREE_DIRS folders) down and up with
#    bellwick-cli (one connection, and --per-site 4) and `sftp -r`.
# Every copy is compared with its source. The load average before and after is printed: on a busy
# machine the wall times of both clients wander, the CPU seconds much less.
# Usage: bench/sftp_bench.sh [BUILD_DIR]   (BW_BENCH_SIZE_MIB=1024, BW_BENCH_RUNS=3,
#        BW_BENCH_TREE_FILES=2000, BW_BENCH_TREE_DIRS=40; 0 files leaves the trees out)
# Starts the sshd itself when BW_TEST_SFTP_PORT is not set.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/sftp-bench}
size_mib=${BW_BENCH_SIZE_MIB:-1024}
runs=${BW_BENCH_RUNS:-3}
tree_files=${BW_BENCH_TREE_FILES:-2000}
tree_dirs=${BW_BENCH_TREE_DIRS:-40}

if [ ! -x "$build/bench/sftp_transfer_driver" ] || { [ "$tree_files" -gt 0 ] && [ ! -x "$build/src/app/bellwick-cli" ]; }; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBW_ENGINE_ONLY=ON -DBW_BUILD_TESTS=OFF >/dev/null
    cmake --build "$build" --target sftp_transfer_driver bellwick-cli -j2 >/dev/null
fi
driver="$build/bench/sftp_transfer_driver"
cli="$build/src/app/bellwick-cli"

if [ -z "${BW_TEST_SFTP_PORT:-}" ]; then
    state=$(mktemp -d /tmp/bw-sftp-bench-XXXX)
    chmod 0711 "$state"
    mkdir -p "$state/sshd"
    "$root/tests/servers/sshd/start.sh" "$state/sshd" > "$state/env.sh"
    # shellcheck disable=SC1091
    source "$state/env.sh"
fi

# A private home: the server's host keys and the test key, for both clients (and bellwick-cli's
# default settings).
home=$(mktemp -d)
out=$(mktemp -d)
dir="$BW_TEST_SFTP_ROOT/bench-$$"
cleanup() {
    rm -rf "$home" "$out" "$dir"
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

mkdir -p "$dir/up"
source_file="$out/source.bin"
head -c $((size_mib * 1024 * 1024)) /dev/urandom > "$source_file"
cp "$source_file" "$dir/big.bin"
# A tree of small files (1-4 KB) in $tree_dirs folders.
make_tree() { # folder count
    local i
    for ((i = 0; i < $2; i++)); do
        mkdir -p "$1/d$((i % tree_dirs))"
        head -c $((1000 + (i * 37) % 3000)) /dev/urandom > "$1/d$((i % tree_dirs))/f$i.bin"
    done
}
if [ "$tree_files" -gt 0 ]; then
    make_tree "$out/tree" "$tree_files"
    cp -r "$out/tree" "$dir/tree"
fi
chmod -R a+rwX "$dir"
name=$(basename "$dir")

sftp_cmd=(sftp -q -b - -P "$BW_TEST_SFTP_PORT" -o BatchMode=yes -o "UserKnownHostsFile=$home/.ssh/known_hosts"
    -i "$home/.ssh/id_ed25519")
target="$BW_TEST_SFTP_USER@127.0.0.1"
declare -p sftp_cmd > "$out/sftp_cmd.sh"
export out source_file target name

same() { # check copy
    if [ -d "$1" ]; then diff -r "$1" "$2" >/dev/null; else cmp -s "$1" "$2"; fi
}

# run_best LABEL SOURCE COPY COMMAND...: prints "wall cpu peak_kib" of the fastest of $runs runs (run
# in $out/run), after checking that COPY equals SOURCE each time.
run_best() {
    local label=$1 source=$2 check=$3 best="" line
    shift 3
    for _ in $(seq 1 "$runs"); do
        rm -rf "$check" "$out/run"
        mkdir -p "$out/run"
        (cd "$out/run" && HOME="$home" env -u SSH_AUTH_SOCK /usr/bin/time -o "$out/time" -f "%e %U %S %M" "$@" \
            >/dev/null 2>"$out/err" </dev/null) || true
        same "$source" "$check" || { echo "$label: the copy differs from the source" >&2; cat "$out/err" >&2; exit 1; }
        line=$(tail -1 "$out/time" | awk '{printf "%s %.2f %s", $1, $2 + $3, $4}')
        if [ -z "$best" ] || awk -v a="${line%% *}" -v b="${best%% *}" 'BEGIN{exit !(a < b)}'; then
            best=$line
        fi
    done
    echo "$best"
}

sftp_batch() { # batch line, then sftp options
    local line=$1
    shift
    # shellcheck disable=SC1091
    source "$out/sftp_cmd.sh"
    printf '%s\n' "$line" | "${sftp_cmd[@]}" "$@" "$target"
}
export -f sftp_batch

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
rows=()
add_row() { # label, then "wall cpu rss" of bellwick, sftp and sftp-gcm
    rows+=("$1|$2|$3|${4:-}")
}

# "/~/": below the login folder, where sftp starts too.
url="sftp://$BW_TEST_SFTP_USER@127.0.0.1:$BW_TEST_SFTP_PORT/~/$name"
upurl="sftpu://$BW_TEST_SFTP_USER@127.0.0.1:$BW_TEST_SFTP_PORT/~/$name/up"
if [ "$size_mib" -gt 0 ]; then
    down="$out/run/down.bin"
    add_row "$size_mib MiB download" \
        "$(run_best bellwick "$source_file" "$down" "$driver" get "$name/big.bin" "$down")" \
        "$(run_best sftp "$source_file" "$down" bash -c "sftp_batch 'get $name/big.bin $down'")" \
        "$(run_best sftp-gcm "$source_file" "$down" bash -c "sftp_batch 'get $name/big.bin $down' -c aes128-gcm@openssh.com")"
    up="$dir/up/up.bin"
    add_row "$size_mib MiB upload" \
        "$(run_best bellwick "$source_file" "$up" "$driver" put "$source_file" "$name/up/up.bin")" \
        "$(run_best sftp "$source_file" "$up" bash -c "sftp_batch 'put $source_file $name/up/up.bin'")" \
        "$(run_best sftp-gcm "$source_file" "$up" bash -c "sftp_batch 'put $source_file $name/up/up.bin' -c aes128-gcm@openssh.com")"
fi
if [ "$tree_files" -gt 0 ]; then
    tree="$out/run/tree"
    label="$tree_files files in $tree_dirs folders"
    add_row "$label down" \
        "$(run_best bellwick "$out/tree" "$tree" "$cli" --tries 1 --per-site 1 --max-threads 1 "$url/tree")" \
        "$(run_best sftp "$out/tree" "$tree" bash -c "sftp_batch 'get -r $name/tree $tree'")"
    add_row "$label down, 4 conn." \
        "$(run_best bellwick "$out/tree" "$tree" "$cli" --tries 1 --per-site 4 --max-threads 4 "$url/tree")" \
        "$(run_best sftp "$out/tree" "$tree" bash -c "sftp_batch 'get -r $name/tree $tree'")"
    # Uploads start in $out/run: a copy of the tree there is what both send.
    uptree="$dir/up/tree"
    add_row "$label up" \
        "$(run_best bellwick "$out/tree" "$uptree" bash -c "cp -r $out/tree tree && $cli --tries 1 --per-site 1 --max-threads 1 $upurl/tree")" \
        "$(run_best sftp "$out/tree" "$uptree" bash -c "cp -r $out/tree tree && sftp_batch 'put -r tree $name/up/tree'")"
fi

echo "SFTP over loopback, best of $runs runs; load average before: $load_before, after:" \
    "$(cut -d' ' -f1-3 /proc/loadavg); $(nproc) processors"
echo "wall and CPU (user + system) seconds of the client; peak RSS in MiB; ratio = other's wall / Bellwick's"
printf '%-36s %18s %18s %6s %18s %6s\n' case "bellwick wall/cpu" "sftp wall/cpu" ratio "sftp-gcm wall/cpu" ratio
for row in "${rows[@]}"; do
    IFS='|' read -r label bw os gc <<<"$row"
    awk -v l="$label" -v bw="$bw" -v os="$os" -v gc="$gc" 'BEGIN {
        split(bw, b, " "); split(os, o, " "); split(gc, g, " ")
        printf "%-36s %6.2f/%5.2f %5.1fM %6.2f/%5.2f %5.1fM %6.2f", l, b[1], b[2], b[3] / 1024, o[1], o[2], o[3] / 1024, o[1] / b[1]
        if (gc != "") printf " %6.2f/%5.2f %5.1fM %6.2f", g[1], g[2], g[3] / 1024, g[1] / b[1]
        printf "\n" }'
done
