#!/usr/bin/env bash
# Builds the relay and runs it in the network lab with the sample
# configuration: six host channels on 198.51.100.1, relayed to 239.1.1.1 out
# of 203.0.113.1. Sends sample traffic on every channel, prints what arrived
# on the KLOR side per host, then keeps the relay running until Ctrl-C (or
# stops at once with --once, or when there is no terminal). Needs root.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

if [ -z "${UDPLAB_RELAY_NS:-}" ]; then
    "$root/tools/install-deps.sh"
    cmake -S . -B build/win64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
        -DCMAKE_BUILD_TYPE=Release >/dev/null
    cmake --build build/win64 --target NewUdpSrvr winprobe
    exec "$root/tools/testbed.sh" "$0" "$@"
fi

# Inside the test bed from here on.
exe=$root/build/win64/shell/NewUdpSrvr.exe
probe=$root/build/win64/tools/lab/winprobe.exe
run_dir=$root/build/lab-run
mkdir -p "$run_dir"
python3 tools/lab-demo.py --ini >"$WINEPREFIX/drive_c/windows/NEWUDPSRVR.INI"
echo "NEWUDPSRVR.INI:"
sed 's/^/    /' "$WINEPREFIX/drive_c/windows/NEWUDPSRVR.INI" | tr -d '\r'

(cd "$run_dir" && exec wine "$exe") &
relay=$!
stop_relay() {
    wine "$probe" post-syscommand 0xF060 >/dev/null 2>&1 || true
    wine "$probe" answer "UDP Server" 0x124 6 10000 >/dev/null 2>&1 || true
    wait "$relay" 2>/dev/null || true
    if [ -s "$run_dir/UDPMessages.Log" ]; then
        echo "UDPMessages.Log ($run_dir):"
        tr -d '\r' <"$run_dir/UDPMessages.Log" | sed 's/^/    /'
    else
        echo "UDPMessages.Log: no socket failure was logged."
    fi
}
trap stop_relay EXIT
wine "$probe" state 20000 >/dev/null || { echo "run-lab: the relay did not start" >&2; exit 1; }
echo "The relay runs (main window \"VQX UDP Broadcast Sever\", minimised)."
python3 tools/lab-demo.py

if [ "${1:-}" != "--once" ] && [ -t 0 ]; then
    echo
    echo "The relay keeps running in the lab; press Ctrl-C to stop it."
    echo "Send more, e.g.: ip netns exec $UDPLAB_HOSTS_NS tools/lab/labtraffic.py send --group 239.2.2.1 --port 7000"
    wait "$relay" || true
fi
