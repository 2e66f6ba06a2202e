#!/usr/bin/env bash
# Functions the servers' start.sh scripts share (sourced, never run). Each script sets `state` (its
# folder, see use_state) and `here` (its own folder) first; what they print on stdout goes into env.sh,
# so everything else goes to stderr or a log file.

# use_state DIR: makes DIR and sets `state` to its absolute path.
use_state() {
    mkdir -p "$1"
    state=$(cd "$1" && pwd)
}

# port_open HOST PORT: true when something accepts connections on HOST:PORT.
port_open() {
    (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null
}

# free_port HOST PORT: prints the first port from PORT on that nothing listens on (another state
# folder's server may hold the preferred one).
free_port() {
    local host=$1 port=$2
    for _ in $(seq 1 50); do
        port_open "$host" "$port" || break
        port=$((port + 1))
    done
    echo "$port"
}

# need_test_certificate LABEL: the certificate ../ca made, in `certs`; fails without it.
need_test_certificate() {
    certs="$state/../ca"
    if [ ! -f "$certs/server.pem" ]; then
        echo "$1: no test certificate in $certs (the ca server makes it first)" >&2
        exit 1
    fi
}

# --- nginx ---

# prepare_nginx: the document root in `root` with files/a.bin (served by the fixed redirects: 100000
# bytes that are not all alike), a temporary folder, no nginx left running from an earlier start in
# the same folder, `nginx_bin` and `user_line` for the configuration.
prepare_nginx() {
    root="$state/root"
    mkdir -p "$root/files" "$state/tmp"
    if [ ! -f "$root/files/a.bin" ]; then
        head -c 100000 /dev/urandom > "$root/files/a.bin"
    fi
    "$here/stop.sh" "$state" >/dev/null 2>&1 || true
    nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
    if [ ! -x "$nginx_bin" ]; then
        echo "nginx: not installed (Debian: apt-get install nginx-light)" >&2
        exit 1
    fi
    # The login of the /basic/ location; the workers read the file at each request.
    printf 'bellwick:%s\n' "$(openssl passwd -apr1 secret)" > "$state/htpasswd"
    chmod 644 "$state/htpasswd"
    user_line=""
    if [ "$(id -u)" = 0 ]; then
        # The workers read files that the tests (running as root) write into the root.
        user_line="user root;"
    fi
}

# start_nginx LABEL HOST FIRST LAST WIDTH: starts nginx on WIDTH consecutive free ports, trying FIRST,
# FIRST+WIDTH, ... up to LAST, with the configuration the caller's nginx_conf PORT prints; sets
# `started` to the first port once the last of them accepts connections (bounded wait).
start_nginx() {
    local label=$1 host=$2 first=$3 last=$4 width=$5 port busy p
    started=""
    for port in $(seq "$first" "$width" "$last"); do
        busy=""
        for p in $(seq "$port" $((port + width - 1))); do
            port_open "$host" "$p" && busy=yes
        done
        [ -n "$busy" ] && continue
        nginx_conf "$port" > "$state/nginx.conf"
        if "$nginx_bin" -p "$state" -c "$state/nginx.conf" -e "$state/error.log" >/dev/null 2>>"$state/start.log"; then
            started=$port
            break
        fi
    done
    if [ -z "$started" ]; then
        echo "$label: could not start; see $state/error.log and $state/start.log" >&2
        exit 1
    fi
    local last_port=$((started + width - 1))
    for _ in $(seq 1 100); do
        port_open "$host" "$last_port" && return 0
        sleep 0.1
    done
    echo "$label: port $last_port does not accept connections; see $state/error.log" >&2
    "$here/stop.sh" "$state" >/dev/null 2>&1 || true
    exit 1
}

# --- vsftpd ---

# prepare_vsftpd: the test user (`user`, `password`) and the folders of a vsftpd instance: its root in
# `root`, writable by everyone, and an empty folder for its secure chroot; no instance left running
# from an earlier start in the same folder.
prepare_vsftpd() {
    user=${BW_VSFTPD_USER:-bwftp}
    password=bellwick-test
    root="$state/root"
    "$here/stop.sh" "$state" >&2 || true

    # The test user, with a valid shell for PAM's pam_shells. Its "/" after login is local_root in the
    # configuration, not its home, so servers of several state folders can run side by side.
    if ! id -u "$user" >/dev/null 2>&1; then
        useradd --no-create-home --home-dir / --shell /bin/bash "$user" >&2
    elif [ "$(getent passwd "$user" | cut -d: -f6)" != / ]; then
        usermod --home / "$user" >&2
    fi
    echo "$user:$password" | chpasswd >&2

    mkdir -p "$root" "$state/empty"
    # The test user passes through the state folder to its root but lists nothing else in it.
    chmod 0711 "$state"
    chown "$user:" "$root"
    chmod 0777 "$root"
    # Every folder above the root must let the test user through, or every login ends in
    # "500 OOPS: cannot change directory" (a checkout in a 0700 home, for instance).
    if ! runuser -u "$user" -- test -x "$root"; then
        echo "vsftpd: the test user $user cannot enter $root; a folder above it is closed to others." >&2
        echo "Use a state folder others may pass through (scripts/test makes one with mktemp -d)." >&2
        exit 1
    fi
    chown root: "$state/empty"
    chmod 0755 "$state/empty"
}

# start_vsftpd LABEL NAME HOST PORT: runs vsftpd with $state/NAME.conf (made private to root first),
# standalone in the foreground of its own process group so that stop.sh ends it and its sessions
# ($state/NAME.pid), and waits (bounded) until it accepts connections on HOST:PORT.
start_vsftpd() {
    local label=$1 name=$2 host=$3 port=$4 conf="$state/$2.conf"
    chown root: "$conf"
    chmod 0600 "$conf"
    setsid /usr/sbin/vsftpd "$conf" </dev/null >>"$state/$name.out" 2>&1 &
    echo $! > "$state/$name.pid"
    for _ in $(seq 1 100); do
        port_open "$host" "$port" && return 0
        kill -0 "$(cat "$state/$name.pid")" 2>/dev/null || break
        sleep 0.1
    done
    echo "$label did not start on port $port:" >&2
    cat "$state/$name.out" >&2 || true
    exit 1
}
