# Sourced by the bench scripts: the bellwick-cli to measure ($1, else the release build) and a check
# that the test servers named run (tests/servers/start.sh, then source their env.sh).
bench_cli() {
    realpath "${1:-$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/release/src/app/bellwick-cli}"
}
need_servers() { # variable names
    local variable
    for variable in "$@"; do
        : "${!variable:?start the test servers first (tests/servers/start.sh) and source their env.sh}"
    done
}
