#!/usr/bin/env bash
# Unpacks proftpd (with mod_digest, for HASH and RANG) into a private cache folder and prints that
# folder. Debian's proftpd-core conflicts with the vsftpd package, so it is never installed: its
# packages and the libraries it needs beyond a Debian 12 base are fetched with `apt-get download` and
# unpacked with `dpkg -x`, once; later runs reuse the folder. Usage: install.sh
set -euo pipefail
cache=${BW_PROFTPD_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/bellwick-test/proftpd}
packages="proftpd-core proftpd-mod-crypto libmemcached11 libmemcachedutil2 libhashkit2"
if [ ! -x "$cache/root/usr/sbin/proftpd" ]; then
    mkdir -p "$cache"
    download=$(mktemp -d "$cache/download-XXXX")
    chmod 755 "$download" # apt's download user writes there
    # shellcheck disable=SC2086
    (cd "$download" && apt-get download -q $packages >&2)
    rm -rf "$cache/root.new"
    mkdir -p "$cache/root.new"
    for deb in "$download"/*.deb; do
        dpkg -x "$deb" "$cache/root.new"
    done
    rm -rf "$download" "$cache/root"
    mv "$cache/root.new" "$cache/root"
fi
echo "$cache/root"
