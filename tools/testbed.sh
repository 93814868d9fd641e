#!/usr/bin/env bash
# Runs a command in the Wine test bed and tears it down afterwards:
#   - a fresh network lab (tools/lab.sh) named after this process;
#   - Xvfb on a free display and a throw-away WINEPREFIX, copied from a booted
#     template that is made once per machine and Wine installation;
#   - one persistent wineserver for the run, started inside the relay's
#     namespace: Wine creates sockets in the wineserver, so that namespace is
#     the one the program's sockets live in.
# The command runs inside the relay namespace with WINEPREFIX, DISPLAY,
# WINEDEBUG and UDPLAB_{RELAY,HOSTS,KLOR}_NS set, and UDPTESTBED_TEMPLATE naming
# the booted prefix the run's own was copied from.
#
#   tools/testbed.sh ctest --test-dir build/win64
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }

here=$(cd "$(dirname "$0")" && pwd)
cache=${XDG_CACHE_HOME:-$HOME/.cache}/newudpsrvr
# A prefix booted without Wine's 32-bit loader cannot run 32-bit programs, and
# one booted with it breaks when the loader is removed: the template's name
# carries the loader's presence (and the way it is prepared), so a changed
# installation gets a template of its own and never removes one that another
# run may be copying.
# The loader counts as there only when it runs: a kernel without 32-bit
# emulation refuses it (exec format error).
if /usr/lib/wine/wine --version >/dev/null 2>&1; then loader=wow64; else loader=win64only; fi
template=$cache/wine-template-3-$loader
lab=udplab$$
run_dir=$(mktemp -d /tmp/udptestbed.XXXXXX)
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
if [ "$loader" = win64only ] && [ -e /usr/lib/wine/wine ]; then
    # Debian's wine command prefers the 32-bit loader whenever it is
    # installed, also for 64-bit programs: without a usable one, run the
    # 64-bit loader directly.
    mkdir "$run_dir/bin"
    printf '#!/bin/sh\nexec /usr/lib/wine/wine64 "$@"\n' >"$run_dir/bin/wine"
    chmod +x "$run_dir/bin/wine"
    export PATH=$run_dir/bin:$PATH WINELOADER=/usr/lib/wine/wine64
fi

make_template() {
    mkdir -p "$cache"
    exec 9>"$cache/template.lock"
    flock 9
    if [ ! -f "$template/.booted" ]; then
        rm -rf "$template"
        WINEPREFIX=$template wine wineboot -i >/dev/null 2>&1
        # Xvfb has no window manager: Wine manages its windows itself, which
        # draws their captions and keeps window destruction from waiting ~2 s
        # for a manager that never answers.
        WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f \
            >/dev/null 2>&1
        WINEPREFIX=$template wineserver -w
        touch "$template/.booted"
    fi
    flock -u 9
}

cleanup() {
    set +e
    [ -n "${WINEPREFIX:-}" ] && ip netns exec "$lab-relay" env WINEPREFIX="$WINEPREFIX" wineserver -k 2>/dev/null
    [ -n "${xvfb_pid:-}" ] && kill "$xvfb_pid" 2>/dev/null
    "$here/lab.sh" down "$lab"
    # A Win32 test makes NEWUDPSRVR.INI immutable for a while; one that died
    # meanwhile must not leave a file that nothing can remove.
    chattr -f -i "$run_dir/prefix/drive_c/windows/NEWUDPSRVR.INI" 2>/dev/null
    rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

"$here/lab.sh" sweep
make_template
"$here/lab.sh" up "$lab"

export WINEPREFIX=$run_dir/prefix
cp -a "$template" "$WINEPREFIX"
# Wine draws the caption buttons (close box, system-menu arrows) with glyphs of
# the Marlett font. Debian's wine finds its own fonts (package fonts-wine) only
# in the prefix's Fonts folder; without it the close box shows a letter "r".
cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"

# Xvfb picks a free display and tells its number on fd 3.
ip netns exec "$lab-relay" Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$run_dir/display" \
    >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$run_dir/display" ] && break; sleep 0.1; done
[ -s "$run_dir/display" ] || { echo "testbed: Xvfb did not start" >&2; exit 1; }
export DISPLAY=:$(head -n1 "$run_dir/display")

ip netns exec "$lab-relay" wineserver -p
# A first process brings the prefix up to date in the lab's wineserver.
ip netns exec "$lab-relay" wine cmd /c exit >/dev/null 2>&1 || true

export UDPLAB_RELAY_NS=$lab-relay UDPLAB_HOSTS_NS=$lab-hosts UDPLAB_KLOR_NS=$lab-klor UDPTESTBED_TEMPLATE=$template
set +e
ip netns exec "$lab-relay" "$@"
status=$?
exit $status
