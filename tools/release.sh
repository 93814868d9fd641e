#!/usr/bin/env bash
# Builds a release into build/release/:
#   NewUdpSrvr-<version>-x64.msi   the installer for 64-bit Windows (wixl)
#   NewUdpSrvr-<version>.zip       both programs (x64, x86), the operator guide
#                                  with its pictures, a commented sample
#                                  NEWUDPSRVR.INI
# The version comes from the top CMakeLists.txt (RELAY_VERSION) through the
# build's release.env, as the programs' version resource does.
#
#   tools/release.sh [--version X.Y.Z]
#
# --version builds another version (an older installer to test upgrades with)
# in build directories of its own.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

version_arg=(-URELAY_VERSION) # the default version of CMakeLists.txt
tag=release
while [ $# -gt 0 ]; do
    case $1 in
        --version) version_arg=(-DRELAY_VERSION="$2"); tag=release-$2; shift 2 ;;
        *) echo "usage: $0 [--version X.Y.Z]" >&2; exit 2 ;;
    esac
done

"$root/tools/install-deps.sh"
out=$root/build/release
mkdir -p "$out"

# Builds the program for one architecture into build/<tag>-<arch>.
build() {
    local arch=$1 dir=$root/build/$tag-$1
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DRELAY_BUILD_TESTS=OFF "${version_arg[@]}" >/dev/null
    cmake --build "$dir" -j 2 --target NewUdpSrvr >/dev/null
}

build x86_64
# shellcheck source=/dev/null
. "$root/build/$tag-x86_64/release.env"
name=NewUdpSrvr-$RELAY_VERSION_TEXT

# The installer: wixl reads the sources named in the .wxs from its folder.
stage=$root/build/$tag-x86_64/msi
rm -rf "$stage"
mkdir -p "$stage"
cp "$root/build/$tag-x86_64/resources/NewUdpSrvr.wxs" "$root/build/$tag-x86_64/shell/NewUdpSrvr.exe" "$stage/"
cp "$root/resources/UdpServer.ico" "$stage/NewUdpSrvr.ico"
(cd "$stage" && wixl -a x64 -o "$out/$name-x64.msi" NewUdpSrvr.wxs)
echo "release: $out/$name-x64.msi"

build i686
# The guide's pictures keep their place beside it in docs/.
python3 - "$out/$name.zip" "$name" "$root" "$tag" <<'EOF'
import os, re, sys, zipfile
path, top, root, tag = sys.argv[1:]
guide = os.path.join(root, "docs", "operator-guide.md")
pictures = sorted(set(re.findall(r"\]\(([\w.-]+\.png)\)", open(guide, encoding="utf-8").read())))
files = [
    ("x64/NewUdpSrvr.exe", f"build/{tag}-x86_64/shell/NewUdpSrvr.exe"),
    ("x86/NewUdpSrvr.exe", f"build/{tag}-i686/shell/NewUdpSrvr.exe"),
    ("NEWUDPSRVR.INI", "config/NEWUDPSRVR.INI"),
    ("docs/operator-guide.md", "docs/operator-guide.md"),
] + [(f"docs/{p}", f"docs/{p}") for p in pictures]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for name, source in files:
        z.write(os.path.join(root, source), f"{top}/{name}")
EOF
echo "release: $out/$name.zip"
"$root/tools/make-deb.sh" "$root/build/$tag-x86_64" "$out"
