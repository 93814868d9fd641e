#!/usr/bin/env bash
# Pictures of the Statistics, Configuration and About dialogs for the README, taken
# from the running program in the test bed:
#   tools/screenshots.sh [BUILD_DIR]       (default build/win64)
# Starts NewUdpSrvr.exe with a sample NEWUDPSRVR.INI (four hosts), sends a few
# datagrams from the hosts' side so the counts are not all zero, opens each
# dialog through the system-menu commands, captures it from the X display into
# docs/statistics.png, docs/configuration.png and docs/about.png, closes it and
# ends the program.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$(cd "${1:-$root/build/win64}" && pwd)

# Outside the test bed: run this script inside it.
if [ -z "${UDPLAB_RELAY_NS:-}" ]; then
    exec "$here/testbed.sh" "$0" "$build"
fi

exe=$build/shell/NewUdpSrvr.exe
probe=$build/tests/e2e/winprobe.exe
for f in "$exe" "$probe"; do
    [ -f "$f" ] || { echo "screenshots: $f is missing; build it first" >&2; exit 1; }
done
which import xdotool convert >/dev/null

statistics_caption="VQX UDP Broadcast Server Data v3.04.00"
about_caption="About VQX UDP Broadcast Server"
config_caption="VQX UDP Broadcast Server Configuration v3.04.00"
work=$(mktemp -d /tmp/udpshots.XXXXXX)
program_pid=
cleanup() {
    set +e
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Four hosts: groups 239.2.2.1..4 on ports 7000..7003, on the lab's addresses.
{
    printf '[LOCAL_DTE_ADDR]\r\nSENDMCASTADD=239.1.1.1\r\n'
    printf 'HOSTSIDEIPADDRESS=198.51.100.1\r\nKLORSIDEIPADDRESS=203.0.113.1\r\n'
    for h in 0 1 2 3; do
        printf '[HOST%d]\r\nRECVUDPPORTID=%d\r\nRECVMCASTADDR=239.2.2.%d\r\nSENDUDPPORTID=6789\r\n' \
            "$h" $((7000 + h)) $((h + 1))
    done
} >"$WINEPREFIX/drive_c/windows/NEWUDPSRVR.INI"

probe() { wine "$probe" "$@"; }

# The test bed's display has no window manager: let Wine draw the caption
# and frame itself, as Windows would, so the pictures show them.
wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f >/dev/null 2>&1

# Sends COUNT datagrams of 100 bytes to a host's group from the hosts' side.
send_datagrams() {
    ip netns exec "$UDPLAB_HOSTS_NS" python3 - "$@" <<'EOF'
import socket, sys, time
group, port, count = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton("198.51.100.2"))
for _ in range(count):
    s.sendto(b"x" * 100, (group, port))
    time.sleep(0.002)
EOF
}

# Captures the top-level window titled CAPTION into FILE.
capture() {
    local caption=$1 file=$2 id
    id=$(xdotool search --onlyvisible --name "^${caption}\$" | head -n1)
    [ -n "$id" ] || { echo "screenshots: no window \"$caption\" on the display" >&2; exit 1; }
    eval "$(xdotool getwindowgeometry --shell "$id")"
    import -display "$DISPLAY" -window root "$work/screen.png"
    convert "$work/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$file"
    echo "screenshots: $file (${WIDTH}x${HEIGHT})"
}

cd "$work" # UDPMessages.Log goes to the working directory
wine "$exe" >/dev/null 2>&1 &
program_pid=$!
probe state 15000 >/dev/null
sleep 2 # the hosts join their groups from the message loop

send_datagrams 239.2.2.1 7000 120
send_datagrams 239.2.2.3 7002 35
send_datagrams 239.2.2.4 7003 7
sleep 1

mkdir -p "$root/docs"
probe post-syscommand 1027 # IDM_STATISTICS
probe wait-box "$statistics_caption" 10000
sleep 4 # one refresh after the datagrams, and a settled display
capture "$statistics_caption" "$root/docs/statistics.png"
probe press "$statistics_caption" 3001 >/dev/null # OK

probe post-syscommand 1026 # IDM_CONFIGURE
probe wait-box "$config_caption" 10000
sleep 1
capture "$config_caption" "$root/docs/configuration.png"
probe press "$config_caption" 2011 >/dev/null # Cancel

probe post-syscommand 1025 # IDM_ABOUT
probe wait-box "$about_caption" 10000
sleep 1
capture "$about_caption" "$root/docs/about.png"
probe press "$about_caption" 108 >/dev/null # OK

# Close from the system menu and confirm.
probe post-syscommand 0xF060
probe answer "UDP Server" 0x124 6 10000 >/dev/null
probe gone 10000
wait "$program_pid" || true
program_pid=
