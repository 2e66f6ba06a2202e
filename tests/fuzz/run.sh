#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (build/fuzz, BW_FUZZ=ON) and runs each for SECONDS (default 60)
# on its corpus, one after the other, at the lowest priority. With no TARGET every target runs.
# New inputs go to build/fuzz/corpus/<target> (the seed corpus in the tree is only read); a finding is
# saved in build/fuzz/findings/<target>/. Exits non-zero when any target found something.
#   usage: tests/fuzz/run.sh [SECONDS] [TARGET...]     e.g. tests/fuzz/run.sh 600 url listing
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
seconds=60
if [[ $# -gt 0 && $1 =~ ^[0-9]+$ ]]; then
    seconds=$1
    shift
fi
build="$root/build/fuzz"
seeds="$root/tests/fuzz/corpus"

targets=("$@")
if [[ ${#targets[@]} -eq 0 ]]; then
    for source in "$root"/tests/fuzz/*_fuzz.cpp; do
        name=$(basename "$source" _fuzz.cpp)
        targets+=("$name")
    done
fi

launcher=()
command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBW_FUZZ=ON \
    -DBW_ENGINE_ONLY=ON -DBW_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null || exit 1
nice -n 19 cmake --build "$build" -j 2 --target "${targets[@]/#/fuzz_}" || exit 1

status=0
for name in "${targets[@]}"; do
    work="$build/corpus/$name"
    findings="$build/findings/$name"
    mkdir -p "$work" "$findings"
    log="$build/$name.log"
    echo "=== $name: ${seconds}s"
    # One process, one worker: the other builds on the machine keep the cores.
    nice -n 19 "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix="$findings/" -timeout=10 -rss_limit_mb=2048 "$work" "$seeds/$name" >"$log" 2>&1
    code=$?
    runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -1)
    time=$(grep -o 'Done [0-9]* runs in [0-9]* second' "$log" | grep -o 'in [0-9]*' | grep -o '[0-9]*' | tail -1)
    found=$(find "$findings" -type f | wc -l)
    echo "$name: ${runs:-?} executions in ${time:-$seconds} s, corpus $(find "$work" -type f | wc -l) inputs," \
        "findings: $found (exit $code)"
    if [[ $code -ne 0 || $found -gt 0 ]]; then
        status=1
        grep -E 'ERROR|property broken|SUMMARY|Test unit written' "$log" | head -5
    fi
done
exit $status
