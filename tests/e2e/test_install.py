"""The release installer under Wine: built with tools/release.sh (this version
and an older one, 3.3.0), installed, upgraded and removed with msiexec /qn in
the test bed's prefix, with the sample NEWUDPSRVR.INI of the release in the
Windows directory from the start:

- the older version, then this one: one installed product, this version;
- the program in Program Files, the Start Menu and Startup shortcuts with the
  program as target and the data folder as working folder; the program
  started that way comes up and logs a socket failure (its first host's port
  held by another socket) into UDPMessages.Log in the data folder;
- the firewall rule for the installed program: netsh deletes any old one and
  adds it on install, deletes it on removal;
- Add/Remove Programs offers no Modify; the guide's Start-menu entry;
- another build of the same version, signed with a certificate made here:
  its programs and installer verify, the shipped programs carry no debug
  sections but a debug link, are Terminal Server aware and DPI aware with
  Common Controls 6 in their manifest, and the zips verify against their
  SHA256SUMS;
- msiexec /x with that other build removes the installed one (one product
  code per version), keeps the data folder's log;
- ADDLOCAL=Program leaves the Startup entry out;
- the INI is byte for byte the same after install, upgrade and removal;
- the system-start task (feature SystemStart, off by default): its XML, in
  the zip and the MSI, runs the installed program in the data folder as
  LOCAL SERVICE at normal priority, at boot and every minute, without time
  limit or battery and idle conditions; the installer's tables register it
  with schtasks and delete it on removal, and undo both on rollback, with
  rollback actions before the ones they undo (so too the firewall rule's);
  the upgrade row migrates feature states (Wine's msiexec does not migrate
  them, so the upgrade here names the features); the older version
  installed with the task, the upgrade ends and deletes it with the older
  version and registers it anew, the removal ends and deletes it.
"""
import hashlib
import os
import pwd
import re
import shutil
import socket
import struct
import subprocess
import tempfile
import xml.etree.ElementTree as ET
import zipfile
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


def release(*options, env=None):
    result = subprocess.run([os.path.join(ROOT, "tools", "release.sh"), *options], capture_output=True, text=True,
                            timeout=400, env=env)
    return result.returncode == 0, result.stdout + result.stderr


def msiexec(*words, netsh=None):
    """msiexec's exit code; netsh, a list, gets the (program, arguments) of
    every command the installer's custom actions run, from Wine's trace."""
    # No menu entries on the Linux desktop for the shortcuts Wine creates.
    env = dict(os.environ, WINEDLLOVERRIDES=os.environ.get("WINEDLLOVERRIDES", "") + ";winemenubuilder.exe=")
    if netsh is not None:
        env["WINEDEBUG"] = "+msi"
    # Output to a file, not a pipe: a process that msiexec starts and leaves
    # running (Wine's desktop) would hold a pipe open.
    with tempfile.TemporaryFile() as trace:
        code = subprocess.run(["wine", "msiexec", *words, "/qn"], env=env, stdin=subprocess.DEVNULL,
                              stdout=subprocess.DEVNULL, stderr=trace, timeout=180).returncode
        trace.seek(0)
        text = trace.read().decode("utf-8", "replace")
    if netsh is not None:
        netsh += [(exe.replace("\\\\", "\\"), arg.replace('\\"', '"').replace("\\\\", "\\"))
                  for exe, arg in re.findall(r'HANDLE_CustomType50 exe L"(.*?)" arg L"(.*)"', text)]
    return code


def unix_path(windows_path):
    """The prefix's file for a C:\\ path."""
    assert windows_path[:3].upper() == "C:\\", windows_path
    return os.path.join(os.environ["WINEPREFIX"], "drive_c", *windows_path[3:].split("\\"))


def reg_query(*words, check=False):
    """What reg prints for a query of the 64-bit registry view, where the x64
    package writes. Where Wine's 32-bit loader is present, `wine reg` is the
    32-bit reg, which otherwise sees HKLM\\Software redirected to Wow6432Node,
    as SysWOW64's reg.exe does on Windows."""
    return subprocess.run(["wine", "reg", "query", *words, "/reg:64"], capture_output=True, text=True,
                          timeout=60, check=check).stdout


def installed_products():
    """{product code: (DisplayName, DisplayVersion, Publisher)} of every installed
    product of ours, from the Add/Remove Programs entries."""
    # The key always exists (Wine's own entries): a failed query is a broken
    # test, not "nothing installed".
    out = reg_query(UNINSTALL, "/s", check=True).replace("\r\n", "\n")
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
    out = reg_query(r"HKCR\Installer\Products", "/s")
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


def firewall_calls(calls, program):
    """Whether the installer's netsh commands were the 64-bit netsh deleting
    the relay's rule and, for a program path, adding it for that program last."""
    netsh = r"C:\windows\system32\netsh.exe"
    calls = [c for c in calls if c[0].lower().endswith("netsh.exe")]
    delete = (netsh, f'advfirewall firewall delete rule name="{PRODUCT}"')
    if program is None:
        return calls == [delete]
    add = (netsh, f'advfirewall firewall add rule name="{PRODUCT}" dir=in action=allow program="{program}" '
                  "protocol=UDP profile=any enable=yes")
    return len(calls) >= 2 and calls[0] == delete and calls[-1] == add and add not in calls[:-1]


SCHTASKS = r"C:\windows\system32\schtasks.exe"
TASK_NS = "{http://schemas.microsoft.com/windows/2004/02/mit/task}"
# msidbCustomActionType: in-script (deferred), rollback, no impersonation.
IN_SCRIPT, ROLLBACK, NO_IMPERSONATE = 0x400, 0x100, 0x800


def task_calls(calls):
    """The schtasks commands of the installer's custom actions."""
    return [arg for exe, arg in calls if exe.lower() == SCHTASKS.lower()]


def msi_rows(msi, name):
    """The rows of one table of an installer (lists of column texts), read with msiinfo."""
    out = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True, text=True,
                         timeout=60).stdout
    return [line.split("\t") for line in out.splitlines()[3:]]


def msi_table(msi, name):
    """{first column: the row's columns} of a table keyed by its first column."""
    return {row[0]: row for row in msi_rows(msi, name)}


def installer_table_faults(msi):
    """What is wrong with the installer's task and rollback actions, read from
    its tables: each rollback action is of rollback type, comes before the
    action it undoes, on the same condition (the firewall rule's restore on
    an installed product); the task's actions run the 64-bit schtasks as the
    system on the feature's states; feature states migrate on upgrade."""
    actions, sequence = msi_table(msi, "CustomAction"), msi_table(msi, "InstallExecuteSequence")
    features, files = msi_table(msi, "Feature"), msi_table(msi, "File")
    upgrade = [r for r in msi_rows(msi, "Upgrade") if r[6] == "OLDERVERSIONFOUND"]
    task = f'/tn "{PRODUCT}"'
    expected = {  # action: (rollback, condition, command)
        "FirewallRuleRestoreAdd": (True, "Installed OR OLDERVERSIONFOUND", "advfirewall firewall add rule "
                                   f'name="{PRODUCT}" dir=in action=allow program="[INSTALLDIR]NewUdpSrvr.exe"'),
        "FirewallRuleRestoreDelete": (True, "Installed OR OLDERVERSIONFOUND",
                                      f'advfirewall firewall delete rule name="{PRODUCT}"'),
        "FirewallRuleDelete": (False, "", f'advfirewall firewall delete rule name="{PRODUCT}"'),
        "FirewallRuleAddUndo": (True, 'NOT (REMOVE~="ALL")', f'advfirewall firewall delete rule name="{PRODUCT}"'),
        "FirewallRuleAdd": (False, 'NOT (REMOVE~="ALL")', f'advfirewall firewall add rule name="{PRODUCT}"'),
        "SystemStartEnd": (False, "!SystemStart=3", f"/end {task}"),
        "SystemStartRestore": (True, "!SystemStart=3",
                               f'/create /f {task} /xml "[INSTALLDIR]NewUdpSrvr-SystemStart.xml"'),
        "SystemStartDelete": (False, "!SystemStart=3", f"/delete /f {task}"),
        "SystemStartRegisterUndo": (True, "&SystemStart=3", f"/delete /f {task}"),
        "SystemStartRegister": (False, "&SystemStart=3", f'/create /f {task} /xml "[#SystemStartTask]"'),
    }
    faults = []
    for action, (rollback, condition, command) in expected.items():
        if action not in actions or action not in sequence:
            faults.append(f"{action} missing")
            continue
        kind, source, target = int(actions[action][1]), actions[action][2], actions[action][3]
        wanted = IN_SCRIPT | NO_IMPERSONATE | (ROLLBACK if rollback else 0)
        if kind & 0x3F != 50 or kind & (IN_SCRIPT | ROLLBACK | NO_IMPERSONATE | 0x200) != wanted:
            faults.append(f"{action} has type {kind:#x}")
        if source != ("NETSH" if action.startswith("Firewall") else "SCHTASKS") or not target.startswith(command):
            faults.append(f"{action} runs {source} {target}")
        if sequence[action][1] != condition:
            faults.append(f"{action} has condition {sequence[action][1]!r}")
    order = {a: int(sequence[a][2]) for a in expected if a in sequence}
    for undo, action in (("FirewallRuleRestoreAdd", "FirewallRuleRestoreDelete"),
                         ("FirewallRuleRestoreDelete", "FirewallRuleDelete"), ("FirewallRuleAddUndo", "FirewallRuleAdd"),
                         ("SystemStartRestore", "SystemStartDelete"), ("SystemStartRegisterUndo", "SystemStartRegister"),
                         ("SystemStartEnd", "SystemStartDelete"), ("FirewallRuleAdd", "SystemStartRegister")):
        if not (undo in order and action in order and order[undo] < order[action]):
            faults.append(f"{undo} is not sequenced before {action} ({order})")
    if int(sequence["InstallInitialize"][2]) >= min(order.values()) or \
            max(order.values()) >= int(sequence["InstallFinalize"][2]):
        faults.append(f"actions outside InstallInitialize..InstallFinalize ({order})")
    system_start = features.get("SystemStart")
    if not system_start or system_start[1] != "Program" or int(system_start[5]) <= 1:
        faults.append(f"SystemStart is not an optional part of Program ({system_start})")
    if files.get("SystemStartTask", [None, None, ""])[2].split("|")[-1] != "NewUdpSrvr-SystemStart.xml":
        faults.append(f"the task file ({files.get('SystemStartTask')})")
    if len(upgrade) != 1 or not int(upgrade[0][4]) & 1:
        faults.append(f"feature states do not migrate on upgrade ({upgrade})")
    return faults


def task_faults(data):
    """What is wrong with the system-start task's XML (the file's bytes)."""
    if not data.startswith(b"\xff\xfe"):
        return ["not UTF-16 with a byte order mark"]
    task = ET.fromstring(data)
    settings, faults = task.find(TASK_NS + "Settings"), []

    def text(parent, path):
        found = parent.find("/".join(TASK_NS + part for part in path.split("/"))) if parent is not None else None
        return None if found is None else found.text

    wanted = {"Priority": "5", "ExecutionTimeLimit": "PT0S", "DisallowStartIfOnBatteries": "false",
              "StopIfGoingOnBatteries": "false", "RunOnlyIfIdle": "false", "MultipleInstancesPolicy": "IgnoreNew",
              "IdleSettings/StopOnIdleEnd": "false", "Enabled": "true"}
    faults += [f"{k} is {text(settings, k)}" for k, v in wanted.items() if text(settings, k) != v]
    if task.find(f"{TASK_NS}Settings/{TASK_NS}RestartOnFailure") is not None:
        faults.append("RestartOnFailure (it restarts no relay that ended)")
    triggers = task.find(TASK_NS + "Triggers")
    boot = triggers.find(TASK_NS + "BootTrigger") if triggers is not None else None
    timed = triggers.find(TASK_NS + "TimeTrigger") if triggers is not None else None
    if boot is None or text(boot, "Enabled") != "true":
        faults.append("no boot trigger")
    if timed is None or text(timed, "Repetition/Interval") != "PT1M" or \
            timed.find(f"{TASK_NS}Repetition/{TASK_NS}Duration") is not None or \
            text(timed, "Repetition/StopAtDurationEnd") != "false" or text(timed, "Enabled") != "true":
        faults.append("no trigger that repeats every minute for ever")
    principal = task.find(f"{TASK_NS}Principals/{TASK_NS}Principal")
    if text(principal, "UserId") != "S-1-5-19" or text(principal, "RunLevel") != "LeastPrivilege":
        faults.append(f"runs as {text(principal, 'UserId')} {text(principal, 'RunLevel')}")
    exe = task.find(f"{TASK_NS}Actions/{TASK_NS}Exec")
    expand = {"%ProgramFiles%": r"C:\Program Files", "%ProgramData%": r"C:\ProgramData"}
    command, folder = (text(exe, k) or "" for k in ("Command", "WorkingDirectory"))
    for variable, value in expand.items():
        command, folder = command.replace(variable, value), folder.replace(variable, value)
    if (command, folder) != (rf"C:\Program Files\{PRODUCT}\NewUdpSrvr.exe", rf"C:\ProgramData\{PRODUCT}"):
        faults.append(f"runs {command} in {folder}")
    return faults


def task_registered():
    """The task file Wine's Task Scheduler keeps for the relay's task, if any."""
    path = unix_path(rf"C:\windows\system32\tasks\{PRODUCT}")
    return path if os.path.isfile(path) else None


def signing_certificate(folder):
    """A code-signing certificate and key made for the test: (PKCS#12 file,
    its password, the certificate as PEM)."""
    key, pem, p12 = (os.path.join(folder, n) for n in ("key.pem", "cert.pem", "cert.p12"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj",
                    "/CN=Relay release test", "-addext", "extendedKeyUsage=codeSigning", "-keyout", key, "-out", pem],
                   check=True, capture_output=True, timeout=60)
    subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", pem, "-out", p12, "-passout", "pass:s3cret"],
                   check=True, capture_output=True, timeout=60)
    return p12, "s3cret", pem


def pe_facts(path):
    """(section names, Terminal Server aware) of a program, from objdump."""
    sections = subprocess.run(["x86_64-w64-mingw32-objdump", "-h", path], capture_output=True, text=True,
                              timeout=60).stdout
    names = re.findall(r"^\s*\d+\s+(\S+)", sections, re.M)
    headers = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", path], capture_output=True, text=True,
                             timeout=60).stdout
    return names, "TERMINAL_SERVICE_AWARE" in headers


def manifest_entries(program):
    """(dpiAware, Common Controls version) of the manifest a program embeds."""
    data = open(program, "rb").read()
    start = data.index(b"<assembly")
    root = ET.fromstring(data[start:data.index(b"</assembly>", start) + len(b"</assembly>")])
    dpi = [e.text for e in root.iter("{http://schemas.microsoft.com/SMI/2005/WindowsSettings}dpiAware")]
    controls = [e.get("version") for e in root.iter("{urn:schemas-microsoft-com:asm.v1}assemblyIdentity")
                if e.get("name") == "Microsoft.Windows.Common-Controls"]
    return dpi, controls


def sums_mismatch(zip_path):
    """The files of a zip that its SHA256SUMS misses or gets wrong, and the
    lines of it without a file."""
    with zipfile.ZipFile(zip_path) as z:
        top = z.namelist()[0].split("/")[0]
        files = {n[len(top) + 1:]: hashlib.sha256(z.read(n)).hexdigest() for n in z.namelist()}
        sums = z.read(f"{top}/SHA256SUMS").decode()
    del files["SHA256SUMS"]
    listed = {name: digest for digest, name in (line.split("  ", 1) for line in sums.splitlines())}
    return sorted(set(files.items()) ^ set(listed.items()))


def main():
    args = parse_args()
    t = Checks()
    built = release("--version", OLD_VERSION)
    t.check(built[0], f"the release command builds version {OLD_VERSION} ({built[1][-400:]})")
    built = release()
    t.check(built[0], f"the release command builds this version ({built[1][-400:]})")
    env = release_env()
    text, version, publisher = env["RELAY_VERSION_TEXT"], env["RELAY_VERSION"], env["RELAY_PUBLISHER"]
    shipped = os.path.join(ROOT, "build", "release")
    msi = os.path.join(shipped, f"NewUdpSrvr-{text}-x64.msi")
    old_msi = os.path.join(shipped, "NewUdpSrvr-3.03.00-x64.msi")
    zips = [os.path.join(shipped, f"NewUdpSrvr-{text}{kind}.zip") for kind in ("", "-debug")]
    t.check(all(map(os.path.isfile, zips)), "the release holds the zip and the debug zip")

    with open(os.path.join(ROOT, "config", "NEWUDPSRVR.INI"), "rb") as f:
        ini = f.read()
    with open(ini_path(), "wb") as f:
        f.write(ini)

    faults = installer_table_faults(msi)
    t.check(faults == [], f"the installer's task and rollback actions ({faults})")
    with zipfile.ZipFile(zips[0]) as z:
        task_xml = z.read(f"NewUdpSrvr-{text}/NewUdpSrvr-SystemStart.xml")
    faults = task_faults(task_xml)
    t.check(faults == [], f"the zip's system-start task ({faults})")

    t.check(msiexec("/i", old_msi, "ADDLOCAL=Program,Startup,SystemStart") == 0,
            f"version {OLD_VERSION} installs, with the system-start task")
    t.check(one_product(OLD_VERSION, publisher), f"one product of version {OLD_VERSION} ({installed_products()})")
    program = rf"C:\Program Files\{PRODUCT}\NewUdpSrvr.exe"
    data = rf"C:\ProgramData\{PRODUCT}"
    netsh = []
    t.check(msiexec("/i", msi, "ADDLOCAL=Program,Startup,SystemStart", netsh=netsh) == 0,
            f"version {text} installs over it")
    code = one_product(version, publisher)
    t.check(code, f"one product of version {version} afterwards ({installed_products()})")
    t.check(ini_bytes() == ini, "NEWUDPSRVR.INI is untouched by install and upgrade")
    t.check(firewall_calls(netsh, program), f"netsh replaces the firewall rule for {program} ({netsh})")
    installed_task = rf"C:\Program Files\{PRODUCT}\NewUdpSrvr-SystemStart.xml"
    tasks = task_calls(netsh)
    t.check(tasks[-1:] == [f'/create /f /tn "{PRODUCT}" /xml "{installed_task}"'] and
            f'/delete /f /tn "{PRODUCT}"' in tasks[:-1],
            f"the task is deleted with the old version and registered anew ({tasks})")
    registered = task_registered()
    t.check(registered and os.path.isfile(unix_path(installed_task)) and
            open(unix_path(installed_task), "rb").read() == task_xml,
            f"Task Scheduler holds the task ({registered}), from the installed file, the zip's")
    t.check(os.path.isfile(unix_path(program)), f"the program is {program}")
    status = subprocess.run(["wine", unix_path(rf"C:\Program Files\{PRODUCT}\NewUdpSrvrStatus.exe")],
                            capture_output=True, text=True, timeout=60)
    t.check(status.returncode == 1 and "no relay is running" in status.stderr,
            f"the status command is installed beside it ({status.returncode}, {status.stderr.strip()!r})")
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
    entry = reg_query(rf"{UNINSTALL}\{code}", "/v", "NoModify")
    t.check(re.search(r"NoModify\s+REG_DWORD\s+0x1", entry), f"Add/Remove Programs offers no Modify ({entry!r})")
    guide = os.path.join(os.path.dirname(menu), PRODUCT, "Operator guide.lnk")
    target = read_shortcut(guide)[0] if os.path.isfile(guide) else None
    t.check(target == rf"C:\Program Files\{PRODUCT}\operator-guide.html" and os.path.isfile(unix_path(target)),
            f"the Start menu's Operator guide opens the installed HTML guide ({target})")

    log = run_installed(args, t, *shortcuts[0]) if shortcuts[0] else None

    # Another build of this version, signed.
    with tempfile.TemporaryDirectory() as folder:
        p12, password, pem = signing_certificate(folder)
        built = release("--sign", p12, env=dict(os.environ, RELAY_SIGN_PASSWORD=password))
        t.check(built[0], f"the release command signs ({built[1][-400:]})")
        rebuilt = probe(args, "msi-property", "Z:" + msi.replace("/", "\\"), "ProductCode")[1].strip()
        t.check(rebuilt == code, f"it has the installed build's product code ({code}, {rebuilt})")
        with zipfile.ZipFile(zips[0]) as z:
            z.extractall(folder)
        programs = [os.path.join(folder, f"NewUdpSrvr-{text}", arch, "NewUdpSrvr.exe") for arch in ("x64", "x86")]
        status_programs = [os.path.join(os.path.dirname(p), "NewUdpSrvrStatus.exe") for p in programs]
        for path in programs + status_programs + [msi]:
            verified = subprocess.run(["osslsigncode", "verify", "-CAfile", pem, "-in", path], capture_output=True,
                                      text=True, timeout=60)
            t.check(verified.returncode == 0, f"{os.path.basename(path)} is signed ({verified.stdout[-300:]})")
        for path in programs:
            sections, tsaware = pe_facts(path)
            t.check(not [n for n in sections if n.startswith(".debug")] and ".gnu_debuglink" in sections and tsaware,
                    f"{path[len(folder):]} is stripped, has a debug link, is Terminal Server aware ({sections})")
            dpi, controls = manifest_entries(path)
            t.check(dpi == ["true"] and controls == ["6.0.0.0"],
                    f"its manifest: DPI aware, Common Controls 6 ({dpi}, {controls})")
    with zipfile.ZipFile(zips[1]) as z:
        debug = [n for n in z.namelist() if n.endswith(".debug")]
        t.check(len(debug) == 2 and all(b".debug_info" in z.read(n) for n in debug),
                f"the debug zip holds both programs' debug information ({debug})")
    for path in zips:
        wrong = sums_mismatch(path)
        t.check(wrong == [], f"{os.path.basename(path)} verifies against its SHA256SUMS ({wrong})")
    summed = subprocess.run(["sha256sum", "-c", "SHA256SUMS"], cwd=shipped, capture_output=True, text=True)
    t.check(summed.returncode == 0 and summed.stdout.count(": OK") == 4,
            f"the release's SHA256SUMS verifies its artefacts ({summed.stdout})")

    # The other build removes the installed one: one product code per version.
    netsh = []
    t.check(msiexec("/x", msi, netsh=netsh) == 0, "msiexec /x with the other build removes the product")
    t.check(firewall_calls(netsh, None), f"and netsh deletes the firewall rule ({netsh})")
    tasks = task_calls(netsh)
    t.check(tasks == [f'/end /tn "{PRODUCT}"', f'/delete /f /tn "{PRODUCT}"'] and not task_registered(),
            f"and ends and deletes the system-start task ({tasks}, {task_registered()})")
    t.check(installed_products() == {}, f"no product is left ({installed_products()})")
    left = [p for p in (unix_path(program), menu, startup) if os.path.exists(p)]
    t.check(left == [], f"program and shortcuts are gone ({left})")
    t.check(log is not None and os.path.isfile(log), f"the log stays in the data folder ({log})")
    t.check(ini_bytes() == ini, "NEWUDPSRVR.INI is untouched by the removal")

    netsh = []
    t.check(msiexec("/i", msi, "ADDLOCAL=Program", netsh=netsh) == 0 and os.path.isfile(menu) and
            not os.path.exists(startup) and task_calls(netsh) == [] and not task_registered(),
            f"ADDLOCAL=Program installs without the Startup entry and the task ({task_calls(netsh)})")
    msiexec("/x", msi)
    t.finish()


def private_prefix():
    """msiexec leaves processes in its prefix (its service, an explorer) that
    have been seen to stall the programs of the tests after this one: the
    installs run in a prefix and wineserver of their own, copied from the
    test bed's template, in the relay's namespace like the test bed's."""
    folder = tempfile.mkdtemp(prefix="udpinstall.")
    prefix = os.path.join(folder, "prefix")
    shutil.copytree(os.environ["UDPTESTBED_TEMPLATE"], prefix, symlinks=True)
    os.environ["WINEPREFIX"] = prefix
    return folder


def end_prefix(folder):
    subprocess.run(["wineserver", "-k"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    subprocess.run(["wineserver", "-w"], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.DEVNULL, timeout=60)
    shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    private = private_prefix()
    try:
        main()
    finally:
        end_prefix(private)
