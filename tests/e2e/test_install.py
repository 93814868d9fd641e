"""The release installer under Wine: built with tools/release.sh (this version
and an older one, 3.3.0), installed, upgraded and removed with msiexec /qn in
the test bed's prefix, with the sample NEWUDPSRVR.INI of the release in the
Windows directory from the start:

- the older version, then this one: one installed product, this version;
- the program in Program Files, the Start Menu and Startup shortcuts with the
  program as target and the data folder as working folder; the program
  started that way comes up and logs a socket failure (its first host's port
  held by another socket) into UDPMessages.Log in the data folder;
- the same version again from another build: still one installed product;
- msiexec /x removes program and shortcuts, keeps the data folder's log;
- ADDLOCAL=Program leaves the Startup entry out;
- the INI is byte for byte the same after install, upgrade and removal.
"""
import os
import pwd
import socket
import struct
import subprocess
from types import SimpleNamespace

from relaylab import ROOT, Checks, Relay, ini_path, parse_args, parse_record, probe, wait_until

OLD_VERSION = "3.3.0"
PRODUCT = "VQX UDP Broadcast Server"
UNINSTALL = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall"


def release_env():
    """The version and names the release command builds with, as it reads them."""
    values = {}
    with open(os.path.join(ROOT, "build", "release-x86_64", "release.env")) as f:
        for line in f:
            if "=" in line and not line.startswith("#"):
                key, value = line.strip().split("=", 1)
                values[key] = value.strip('"')
    return values


def release(*options):
    result = subprocess.run([os.path.join(ROOT, "tools", "release.sh"), *options], capture_output=True, text=True,
                            timeout=400)
    return result.returncode == 0, result.stdout + result.stderr


def msiexec(*words):
    # No menu entries on the Linux desktop for the shortcuts Wine creates.
    env = dict(os.environ, WINEDLLOVERRIDES=os.environ.get("WINEDLLOVERRIDES", "") + ";winemenubuilder.exe=")
    return subprocess.run(["wine", "msiexec", *words, "/qn"], env=env, capture_output=True, timeout=120).returncode


def unix_path(windows_path):
    """The prefix's file for a C:\\ path."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", *windows_path[3:].split("\\"))


def installed_products():
    """{product code: (DisplayName, DisplayVersion, Publisher)} of every installed
    product of ours, from the Add/Remove Programs entries."""
    out = subprocess.run(["wine", "reg", "query", UNINSTALL, "/s"], capture_output=True, text=True,
                         timeout=60).stdout.replace("\r\n", "\n")
    products = {}
    for block in out.strip().split("\n\n"):
        values = {}
        for line in block.split("\n")[1:]:
            parts = line.strip().split(None, 2)
            if len(parts) == 3 and parts[1] == "REG_SZ":
                values[parts[0]] = parts[2]
        if values.get("DisplayName") == PRODUCT:
            code = block.split("\n")[0].rsplit("\\", 1)[-1]
            products[code] = (values["DisplayName"], values.get("DisplayVersion"), values.get("Publisher"))
    return products


def one_product(version, publisher):
    """The code of the one installed product of ours when it has this version
    and publisher, else None."""
    products = installed_products()
    return next(iter(products)) if list(products.values()) == [(PRODUCT, version, publisher)] else None


def product_icons():
    """The icon files that Add/Remove Programs shows for installed products."""
    out = subprocess.run(["wine", "reg", "query", r"HKCR\Installer\Products", "/s"], capture_output=True, text=True,
                         timeout=60).stdout
    return [line.split("REG_SZ", 1)[1].strip() for line in out.splitlines() if line.strip().startswith("ProductIcon")]


def read_shortcut(path):
    """(target, working folder) of a Shell Link (.lnk) file: the local base path
    of its link info and its working-directory string."""
    data = open(path, "rb").read()
    flags = struct.unpack_from("<I", data, 0x14)[0]
    at = 0x4C
    if flags & 0x1:  # HasLinkTargetIDList
        at += 2 + struct.unpack_from("<H", data, at)[0]
    target = None
    if flags & 0x2:  # HasLinkInfo
        size, _, info_flags, _, base = struct.unpack_from("<IIIII", data, at)
        if info_flags & 0x1:
            target = data[at + base:data.index(b"\0", at + base)].decode("latin-1")
        at += size
    strings = []
    for bit in (0x4, 0x8, 0x10):  # name, relative path, working folder
        if flags & bit:
            count = struct.unpack_from("<H", data, at)[0]
            strings.append(data[at + 2:at + 2 + 2 * count].decode("utf-16-le").rstrip("\0"))
            at += 2 + 2 * count
        else:
            strings.append(None)
    return target, strings[2]


def ini_bytes():
    with open(ini_path(), "rb") as f:
        return f.read()


def run_installed(args, t, target, folder):
    """Starts the installed program the way its shortcut does while another
    socket holds host 0's port, and reads the failure from the data folder."""
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    holder.bind(("0.0.0.0", 7000))
    try:
        relay = Relay(SimpleNamespace(exe=unix_path(target), probe=args.probe), cwd=unix_path(folder))
        t.check(relay.wait_window() is not None, "the installed program, started from the shortcut, comes up")

        def bind_failures():
            return [r for r in map(parse_record, relay.log_lines())
                    if r and r[1:3] == (0, 10048) and r[6] == "Error in binding socket"]
        t.check(wait_until(lambda: bind_failures(), 15),
                f"host 0's held port is logged with 10048 in the data folder ({relay.log_lines()})")
        t.check(relay.close() == 0, "it closes with exit code 0")
        return os.path.join(relay.cwd, "UDPMessages.Log")
    finally:
        holder.close()


def main():
    args = parse_args()
    t = Checks()
    built = release("--version", OLD_VERSION)
    t.check(built[0], f"the release command builds version {OLD_VERSION} ({built[1][-400:]})")
    built = release()
    t.check(built[0], f"the release command builds this version ({built[1][-400:]})")
    env = release_env()
    text, version, publisher = env["RELAY_VERSION_TEXT"], env["RELAY_VERSION"], env["RELAY_PUBLISHER"]
    out = os.path.join(ROOT, "build", "release")
    msi = os.path.join(out, f"NewUdpSrvr-{text}-x64.msi")
    old_msi = os.path.join(out, "NewUdpSrvr-3.03.00-x64.msi")
    t.check(os.path.isfile(os.path.join(out, f"NewUdpSrvr-{text}.zip")), "the release holds the zip")

    with open(os.path.join(ROOT, "config", "NEWUDPSRVR.INI"), "rb") as f:
        ini = f.read()
    with open(ini_path(), "wb") as f:
        f.write(ini)

    t.check(msiexec("/i", old_msi) == 0, f"version {OLD_VERSION} installs")
    t.check(one_product(OLD_VERSION, publisher), f"one product of version {OLD_VERSION} ({installed_products()})")
    t.check(msiexec("/i", msi) == 0, f"version {text} installs over it")
    code = one_product(version, publisher)
    t.check(code, f"one product of version {version} afterwards ({installed_products()})")
    t.check(ini_bytes() == ini, "NEWUDPSRVR.INI is untouched by install and upgrade")

    program = rf"C:\Program Files\{PRODUCT}\NewUdpSrvr.exe"
    data = rf"C:\ProgramData\{PRODUCT}"
    t.check(os.path.isfile(unix_path(program)), f"the program is {program}")
    probed, out = probe(args, "version", unix_path(program))
    resource = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    shown = ".".join(str(int(part)) for part in text.split("."))
    t.check(probed == 0 and resource.get("ProductName") == PRODUCT and resource.get("CompanyName") == publisher and
            resource.get("ProductVersion") == text and shown == version,
            f"name, publisher and version agree with the program's version resource ({resource})")
    # Wine gives the shortcuts of a per-machine install to the user's Start Menu.
    menu = unix_path(rf"C:\users\{pwd.getpwuid(os.getuid()).pw_name}\AppData\Roaming\Microsoft\Windows\Start Menu"
                     rf"\Programs\{PRODUCT}.lnk")
    startup = os.path.join(os.path.dirname(menu), "StartUp", f"{PRODUCT}.lnk")
    shortcuts = [read_shortcut(p) if os.path.isfile(p) else None for p in (menu, startup)]
    t.check([s and (s[0], s[1].rstrip("\\")) for s in shortcuts] == [(program, data)] * 2,
            f"Start Menu and Startup shortcuts start {program} in {data} ({shortcuts})")
    t.check(os.path.isdir(unix_path(data)), "the installer made the data folder")
    icons = product_icons()
    t.check(len(icons) == 1 and icons[0].endswith("NewUdpSrvr.ico") and os.path.isfile(unix_path(icons[0])),
            f"Add/Remove Programs has the program's icon ({icons})")

    log = run_installed(args, t, *shortcuts[0]) if shortcuts[0] else None

    built = release()
    t.check(built[0] and msiexec("/i", msi) == 0, "the same version from another build installs")
    again = one_product(version, publisher)
    t.check(again and again != code, f"and leaves one product, the new build's ({code} -> {installed_products()})")

    t.check(msiexec("/x", msi) == 0, "msiexec /x removes the product")
    t.check(installed_products() == {}, f"no product is left ({installed_products()})")
    left = [p for p in (unix_path(program), menu, startup) if os.path.exists(p)]
    t.check(left == [], f"program and shortcuts are gone ({left})")
    t.check(log is not None and os.path.isfile(log), f"the log stays in the data folder ({log})")
    t.check(ini_bytes() == ini, "NEWUDPSRVR.INI is untouched by the removal")

    t.check(msiexec("/i", msi, "ADDLOCAL=Program") == 0 and os.path.isfile(menu) and not os.path.exists(startup),
            "ADDLOCAL=Program installs without the Startup entry")
    msiexec("/x", msi)
    t.finish()


if __name__ == "__main__":
    main()
