#!/usr/bin/env bash
# Pictures of every dialog and box an operator can bring up from outside the
# program, for the operator guide, taken from the running
# program in the test bed:
#   tools/screenshots.sh [BUILD_DIR]       (default build/win64)
# Starts NewUdpSrvr.exe with a sample NEWUDPSRVR.INI (four hosts), sends a few
# datagrams from the hosts' side so the counts are not all zero, opens each
# dialog through the system-menu commands and each box through the dialogs,
# captures it from the X display into docs/*.png and answers it. Then a
# changed host-side address brings the restart box, which ends the program; a
# start with an empty NEWUDPSRVR.INI the configuration dialog that opens by
# itself, and a fault provoked in one of its fields (winprobe fault-field) the
# fatal exception report. Last, the installer's box when an older version is
# installed over this one.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
build=$(cd "${1:-$root/build/win64}" && pwd)

# Outside the test bed: make the installers (this version and an older one,
# for the installer's own box), then run this script inside the test bed.
if [ -z "${UDPLAB_RELAY_NS:-}" ]; then
    "$here/release.sh" >/dev/null
    "$here/release.sh" --version 3.3.0 >/dev/null
    exec "$here/testbed.sh" "$0" "$build"
fi

exe=$build/shell/NewUdpSrvr.exe
probe=$build/tools/lab/winprobe.exe
for f in "$exe" "$probe"; do
    [ -f "$f" ] || { echo "screenshots: $f is missing; build it first" >&2; exit 1; }
done
which import xdotool convert >/dev/null

# The captions that carry the version, as the build made them.
# shellcheck source=/dev/null
. "$build/release.env"
statistics_caption="VQX UDP Broadcast Server Data v$RELAY_VERSION_TEXT"
about_caption="About VQX UDP Broadcast Server"
config_caption="VQX UDP Broadcast Server Configuration v$RELAY_VERSION_TEXT"
config_box="Server Configuration Process"
main_title="VQX UDP Broadcast Sever"
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
    local caption=$1 file=$2 id best=0 WIDTH HEIGHT X Y W=0 H=0 BX BY
    # The largest window of that title: a box can share its title with the
    # minimised main window.
    for id in $(xdotool search --onlyvisible --name "^${caption}\$"); do
        eval "$(xdotool getwindowgeometry --shell "$id")"
        if [ $((WIDTH * HEIGHT)) -gt "$best" ]; then
            best=$((WIDTH * HEIGHT)) W=$WIDTH H=$HEIGHT BX=$X BY=$Y
        fi
    done
    [ "$best" -gt 0 ] || { echo "screenshots: no window \"$caption\" on the display" >&2; exit 1; }
    WIDTH=$W HEIGHT=$H X=$BX Y=$BY
    import -display "$DISPLAY" -window root "$work/screen.png"
    convert "$work/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$file"
    echo "screenshots: $file (${WIDTH}x${HEIGHT})"
}

# Waits for the box or dialog titled CAPTION and captures it into FILE.
shoot() {
    probe wait-box "$1" 10000
    sleep 1 # a settled display
    capture "$1" "$2"
}

start_program() {
    wine "$exe" >/dev/null 2>&1 &
    program_pid=$!
}

cd "$work" # UDPMessages.Log goes to the working directory
start_program
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
shoot "$config_caption" "$root/docs/configuration.png"
# Add/Modify on host 0, which exists: the overwrite question; No.
probe click "$config_caption" 2009 # IDC_ADDMODIFY
shoot "$config_box" "$root/docs/box-host-exists.png"
probe press "$config_box" 7 >/dev/null # No
# A sending multicast address of three parts: Yes to the question, then the
# warning about the address.
probe type "$config_caption" 2005 "239.1.1" # IDC_SENDMCAST
probe click "$config_caption" 2009
probe answer "$config_box" 0x24 6 10000 >/dev/null # MB_YESNO|MB_ICONQUESTION, Yes
sleep 1
shoot "$config_box" "$root/docs/box-invalid-address.png"
probe press "$config_box" 1 >/dev/null # OK
# A host number beyond 5: the error on the help line.
probe type "$config_caption" 2000 "9" # IDC_HOSTNUMBER
probe click "$config_caption" 2009
sleep 1
capture "$config_caption" "$root/docs/configuration-error.png"
# A file that cannot be written, as the Windows folder is to a standard user
# (the test bed runs as root, whom only the immutable flag stops): Add/Modify
# of host 0 tells the file, the reason and what to do.
chattr +i "$WINEPREFIX/drive_c/windows/NEWUDPSRVR.INI"
probe type "$config_caption" 2005 "239.1.1.1" # IDC_SENDMCAST
probe type "$config_caption" 2000 "0"         # IDC_HOSTNUMBER
probe click "$config_caption" 2009
probe answer "$config_box" 0x24 6 10000 >/dev/null # MB_YESNO|MB_ICONQUESTION, Yes
sleep 1
shoot "$config_box" "$root/docs/box-not-saved.png"
probe answer "$config_box" 0x10 1 10000 >/dev/null # MB_OK|MB_ICONHAND, OK
chattr -i "$WINEPREFIX/drive_c/windows/NEWUDPSRVR.INI"
probe press "$config_caption" 2011 >/dev/null # Cancel

probe post-syscommand 1025 # IDM_ABOUT
shoot "$about_caption" "$root/docs/about.png"
probe press "$about_caption" 108 >/dev/null # OK

# Close from the system menu: the confirmation; No.
probe post-syscommand 0xF060
shoot "UDP Server" "$root/docs/box-close.png"
probe press "UDP Server" 7 >/dev/null # No

# A changed host-side address stored with Add/Modify, and OK: the restart
# box, then the program ends (the boxes of the other hosts meet the first
# one's quit request and end at once).
probe post-syscommand 1026
probe type "$config_caption" 2006 "198.51.100.9"    # IDC_HOSTSIDE
probe click "$config_caption" 2009                  # IDC_ADDMODIFY
probe answer "$config_box" 0x24 6 10000 >/dev/null # MB_YESNO|MB_ICONQUESTION, Yes
probe click "$config_caption" 2010                  # IDC_CONFIG_OK
shoot "$main_title" "$root/docs/box-restart.png"
probe answer "$main_title" 0 1 10000 >/dev/null # MB_OK, OK
probe gone 10000
wait "$program_pid" || true
program_pid=

# The first start: no local addresses, the configuration dialog by itself.
: >"$WINEPREFIX/drive_c/windows/NEWUDPSRVR.INI"
start_program
shoot "$config_caption" "$root/docs/configuration-first-start.png"
# A fault inside a field of the dialog: the fatal exception report, whose OK
# ends the program.
probe fault-field "$config_caption" 2005 # IDC_SENDMCAST
shoot "FATAL ERROR: Call Support" "$root/docs/box-fatal.png"
probe answer "FATAL ERROR: Call Support" 0x10 1 10000 >/dev/null # MB_OK|MB_ICONHAND, OK
probe gone 10000
wait "$program_pid" || true
program_pid=

# The installer: this version installed, then the older one refused.
# shellcheck source=/dev/null
. "$root/build/release-x86_64/release.env"
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;winemenubuilder.exe=" # no menu entries on the Linux desktop
wine msiexec /i "$root/build/release/NewUdpSrvr-$RELAY_VERSION_TEXT-x64.msi" /qn
wine msiexec /i "$root/build/release/NewUdpSrvr-3.03.00-x64.msi" &
installer_pid=$!
shoot "Install Failed" "$root/docs/box-install-newer.png"
probe press "Install Failed" 1 >/dev/null # OK
wait "$installer_pid" || true
