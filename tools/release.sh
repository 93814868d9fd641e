#!/usr/bin/env bash
# Builds a release into build/release/:
#   NewUdpSrvr-<version>-x64.msi   the installer for 64-bit Windows (wixl)
#   NewUdpSrvr-<version>.zip       both programs (x64, x86), the operator guide
#                                  (Markdown with its pictures, and one HTML
#                                  file), a commented sample NEWUDPSRVR.INI,
#                                  the system-start task (Task Scheduler XML),
#                                  the third-party notices, and a SHA256SUMS
#                                  of every file in it
#   NewUdpSrvr-<version>-debug.zip the debug information that the shipped
#                                  programs are stripped of
#   SHA256SUMS                     of the artefacts above
# The version comes from the top CMakeLists.txt (RELAY_VERSION) through the
# build's release.env, as the programs' version resource does.
#
#   tools/release.sh [--version X.Y.Z] [--sign FILE.p12 [--timestamp URL]]
#
# --version builds another version (an older installer to test upgrades with)
# in build directories of its own. --sign signs both programs and the
# installer with the certificate and key in FILE.p12, whose password is in the
# environment variable RELAY_SIGN_PASSWORD; --timestamp has an RFC 3161
# server timestamp the signatures, so that they stay valid after the
# certificate expires.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

usage="usage: $0 [--version X.Y.Z] [--sign FILE.p12 [--timestamp URL]]"
version_arg=(-URELAY_VERSION) # the default version of CMakeLists.txt
tag=release
certificate=
timestamp=()
while [ $# -gt 0 ]; do
    [ $# -ge 2 ] || { echo "$usage" >&2; exit 2; }
    case $1 in
        --version) version_arg=(-DRELAY_VERSION="$2"); tag=release-$2 ;;
        --sign) certificate=$(realpath "$2") ;;
        --timestamp) timestamp=(-ts "$2") ;;
        *) echo "$usage" >&2; exit 2 ;;
    esac
    shift 2
done
if [ -n "$certificate" ] && [ -z "${RELAY_SIGN_PASSWORD+set}" ]; then
    echo "release: --sign needs the certificate's password in RELAY_SIGN_PASSWORD" >&2
    exit 2
fi

"$root/tools/install-deps.sh"
out=$root/build/release
mkdir -p "$out"

# Builds the program for one architecture into build/<tag>-<arch>, with debug
# information, and puts the program to ship into its ship/ folder: stripped,
# its debug information beside it in NewUdpSrvr.exe.debug (named by the
# program's debug link, so that a debugger finds it there), and signed.
build() {
    local arch=$1 dir=$root/build/$tag-$1
    cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake" \
        -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-g -DCMAKE_CXX_FLAGS=-g -DRELAY_BUILD_TESTS=OFF \
        "${version_arg[@]}" >/dev/null
    cmake --build "$dir" -j 2 --target NewUdpSrvr NewUdpSrvrStatus >/dev/null
    rm -rf "$dir/ship"
    mkdir -p "$dir/ship"
    (
        cd "$dir/ship"
        "$arch-w64-mingw32-objcopy" --only-keep-debug ../shell/NewUdpSrvr.exe NewUdpSrvr.exe.debug
        "$arch-w64-mingw32-objcopy" --strip-all --add-gnu-debuglink=NewUdpSrvr.exe.debug \
            ../shell/NewUdpSrvr.exe NewUdpSrvr.exe
    )
    # The status command, a small console program: stripped, no debug zip.
    "$arch-w64-mingw32-objcopy" --strip-all "$dir/status/NewUdpSrvrStatus.exe" "$dir/ship/NewUdpSrvrStatus.exe"
    sign "$dir/ship/NewUdpSrvr.exe"
    sign "$dir/ship/NewUdpSrvrStatus.exe"
}

# Signs a program or installer in place, when --sign was given.
sign() {
    [ -n "$certificate" ] || return 0
    printf '%s' "$RELAY_SIGN_PASSWORD" |
        osslsigncode sign -pkcs12 "$certificate" -readpass - -h sha256 -n "VQX UDP Broadcast Server" \
            "${timestamp[@]}" -in "$1" -out "$1.signed" >/dev/null
    mv "$1.signed" "$1"
}

build x86_64
# shellcheck source=/dev/null
. "$root/build/$tag-x86_64/release.env"
name=NewUdpSrvr-$RELAY_VERSION_TEXT

# The installer: wixl reads the sources named in the .wxs from its folder.
stage=$root/build/$tag-x86_64/msi
rm -rf "$stage"
mkdir -p "$stage"
cp "$root/build/$tag-x86_64/resources/NewUdpSrvr.wxs" "$root/build/$tag-x86_64/ship/NewUdpSrvr.exe" \
    "$root/resources/THIRD-PARTY-NOTICES.txt" "$stage/"
cp "$root/build/$tag-x86_64/ship/NewUdpSrvrStatus.exe" "$stage/"
cp "$root/resources/UdpServer.ico" "$stage/NewUdpSrvr.ico"
python3 "$root/tools/guide-html.py" "$root/docs/operator-guide.md" "$stage/operator-guide.html"
# The system-start task, in UTF-16 with a byte order mark as Task Scheduler
# exports tasks (its declaration says so), for the installer and the zip.
python3 -c 'import sys; open(sys.argv[2], "wb").write(open(sys.argv[1], encoding="utf-8").read().encode("utf-16"))' \
    "$root/build/$tag-x86_64/resources/SystemStartTask.xml" "$stage/NewUdpSrvr-SystemStart.xml"
(cd "$stage" && wixl -a x64 -o "$out/$name-x64.msi" NewUdpSrvr.wxs)
# What wixl cannot write: rollback actions, feature migration on upgrade.
python3 "$root/tools/msi-fixup.py" "$out/$name-x64.msi" "$stage/NewUdpSrvr.wxs"
sign "$out/$name-x64.msi"
echo "release: $out/$name-x64.msi"

build i686
# The guide's pictures keep their place beside it in docs/. Each zip holds a
# SHA256SUMS of its files (sha256sum -c SHA256SUMS in its top folder).
python3 - "$out" "$name" "$root" "$tag" "$stage/operator-guide.html" "$stage/NewUdpSrvr-SystemStart.xml" <<'EOF'
import hashlib, os, re, sys, zipfile
out, top, root, tag, guide_html, system_start = sys.argv[1:]
guide = os.path.join(root, "docs", "operator-guide.md")
pictures = sorted(set(re.findall(r"\]\(([\w.-]+\.png)\)", open(guide, encoding="utf-8").read())))
ship = {arch: os.path.join(root, "build", f"{tag}-{arch}", "ship") for arch in ("x86_64", "i686")}


def pack(path, folder, files):
    sums = []
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        for name, source in files:
            with open(source, "rb") as f:
                data = f.read()
            z.writestr(f"{folder}/{name}", data)
            sums.append(f"{hashlib.sha256(data).hexdigest()}  {name}\n")
        z.writestr(f"{folder}/SHA256SUMS", "".join(sums))


pack(os.path.join(out, f"{top}.zip"), top, [
    ("x64/NewUdpSrvr.exe", os.path.join(ship["x86_64"], "NewUdpSrvr.exe")),
    ("x86/NewUdpSrvr.exe", os.path.join(ship["i686"], "NewUdpSrvr.exe")),
    ("x64/NewUdpSrvrStatus.exe", os.path.join(ship["x86_64"], "NewUdpSrvrStatus.exe")),
    ("x86/NewUdpSrvrStatus.exe", os.path.join(ship["i686"], "NewUdpSrvrStatus.exe")),
    ("NEWUDPSRVR.INI", os.path.join(root, "config", "NEWUDPSRVR.INI")),
    ("THIRD-PARTY-NOTICES.txt", os.path.join(root, "resources", "THIRD-PARTY-NOTICES.txt")),
    ("docs/operator-guide.html", guide_html),
    ("docs/operator-guide.md", guide),
    # The task that runs the relay from the PC's start (operator guide).
    ("NewUdpSrvr-SystemStart.xml", system_start),
] + [(f"docs/{p}", os.path.join(root, "docs", p)) for p in pictures])
pack(os.path.join(out, f"{top}-debug.zip"), f"{top}-debug", [
    ("x64/NewUdpSrvr.exe.debug", os.path.join(ship["x86_64"], "NewUdpSrvr.exe.debug")),
    ("x86/NewUdpSrvr.exe.debug", os.path.join(ship["i686"], "NewUdpSrvr.exe.debug")),
])
EOF
echo "release: $out/$name.zip"
echo "release: $out/$name-debug.zip"
"$root/tools/make-deb.sh" "$root/build/$tag-x86_64" "$out"
(cd "$out" && sha256sum "$name-x64.msi" "$name.zip" "$name-debug.zip" "newudpsrvr_${RELAY_VERSION}_amd64.deb" >SHA256SUMS)
echo "release: $out/SHA256SUMS"
