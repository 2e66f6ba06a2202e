#!/usr/bin/env bash
# Installs the Debian packages Bellwick needs to build, test and run, only those that are missing.
# Usage: scripts/deps.sh [run|test]
set -euo pipefail
mode=${1:-test}
packages=(cmake ninja-build ccache g++ pkg-config qt6-base-dev qt6-base-dev-tools libqt6svg6 libgl-dev libssl-dev libssh-dev libsecret-1-dev openssl dpkg-dev)
if [ "$mode" = test ]; then
    packages+=(libgtest-dev libgmock-dev libbenchmark-dev vsftpd nginx-light curl lftp procps clang-format
        openssh-server openssh-client tinyproxy dante-server gnome-keyring libsecret-tools dbus aria2)
fi
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
