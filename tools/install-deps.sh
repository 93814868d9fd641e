#!/usr/bin/env bash
# Installs what a fresh Debian 12 machine lacks to build, test and run the
# relay: the MinGW-w64 cross compilers, Wine with its 32-bit loader (from the
# i386 architecture, added when missing), Xvfb, the lab's tools. Idempotent:
# nothing is fetched when every package is present.
set -euo pipefail
packages=(
    cmake ninja-build g++ googletest libgtest-dev python3 git clang libclang-rt-14-dev
    mingw-w64 g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix binutils-mingw-w64-x86-64 binutils-mingw-w64-i686
    wine wine64 wine32:i386 fonts-wine xvfb xdotool x11-apps imagemagick wixl msitools osslsigncode openssl
    iproute2 procps util-linux socat strace clang-format
    systemd init-system-helpers passwd python3-prometheus-client
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "installing: ${missing[*]}"
dpkg --print-foreign-architectures | grep -qx i386 || $sudo dpkg --add-architecture i386
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
