#!/usr/bin/env bash
# Builds the Debian package of the Linux service, OUT_DIR/newudpsrvr_<version>_amd64.deb,
# from the x64 build in BUILD_DIR (its program and the status command are
# built there if needed) and the package's files in packaging/debian/:
#
#   /usr/lib/newudpsrvr/NewUdpSrvr.exe, NewUdpSrvrStatus.exe   the programs
#   /usr/bin/newudpsrvr                       the launcher (run, status)
#   /lib/systemd/system/newudpsrvr.service    the unit
#   /etc/newudpsrvr/NEWUDPSRVR.INI            the commented sample (a conffile)
#   /etc/default/newudpsrvr                   the launcher's settings (a conffile)
#   /usr/lib/sysctl.d/60-newudpsrvr.conf      the socket receive-buffer limit
#   /usr/share/doc/newudpsrvr/                the operator guide, the notices
#
#   tools/make-deb.sh BUILD_DIR OUT_DIR
set -euo pipefail
[ $# -eq 2 ] || { echo "usage: $0 BUILD_DIR OUT_DIR" >&2; exit 2; }
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath "$1")
mkdir -p "$2"
out=$(realpath "$2")
pkg=$root/packaging/debian

cmake --build "$build" -j 2 --target NewUdpSrvr NewUdpSrvrStatus >/dev/null
# shellcheck source=/dev/null
. "$build/release.env"

stage=$build/deb/newudpsrvr
rm -rf "$stage"
install -d "$stage/DEBIAN" "$stage/usr/lib/newudpsrvr" "$stage/usr/bin" "$stage/lib/systemd/system" \
    "$stage/etc/newudpsrvr" "$stage/etc/default" "$stage/usr/lib/sysctl.d" "$stage/usr/share/doc/newudpsrvr"
for exe in shell/NewUdpSrvr.exe status/NewUdpSrvrStatus.exe; do
    install -m 0644 "$build/$exe" "$stage/usr/lib/newudpsrvr/"
done
x86_64-w64-mingw32-strip "$stage"/usr/lib/newudpsrvr/*.exe
install -m 0755 "$pkg/newudpsrvr" "$stage/usr/bin/newudpsrvr"
install -m 0644 "$pkg/newudpsrvr.service" "$stage/lib/systemd/system/"
install -m 0644 "$root/config/NEWUDPSRVR.INI" "$stage/etc/newudpsrvr/"
install -m 0644 "$pkg/newudpsrvr.default" "$stage/etc/default/newudpsrvr"
install -m 0644 "$pkg/60-newudpsrvr.conf" "$stage/usr/lib/sysctl.d/"
# The guide with the pictures it shows.
doc=$stage/usr/share/doc/newudpsrvr
install -m 0644 "$root/docs/operator-guide.md" "$pkg/copyright" "$root/resources/THIRD-PARTY-NOTICES.txt" "$doc/"
grep -o '](\([A-Za-z0-9_.-]*\.png\))' "$root/docs/operator-guide.md" | sed 's/^](//; s/)$//' | sort -u |
    while read -r picture; do install -m 0644 "$root/docs/$picture" "$doc/"; done

install -m 0644 "$pkg/conffiles" "$stage/DEBIAN/"
install -m 0755 "$pkg/postinst" "$pkg/prerm" "$pkg/postrm" "$stage/DEBIAN/"
size=$(du -sk --exclude=DEBIAN "$stage" | cut -f1)
sed -e "s/@VERSION@/$RELAY_VERSION/" -e "s/@PUBLISHER@/$RELAY_PUBLISHER/" -e "s/@PRODUCT@/$RELAY_PRODUCT_NAME/" \
    -e "s/@INSTALLED_SIZE@/$size/" "$pkg/control.in" >"$stage/DEBIAN/control"

deb=$out/newudpsrvr_${RELAY_VERSION}_amd64.deb
dpkg-deb --root-owner-group --build "$stage" "$deb" >/dev/null
echo "release: $deb"
