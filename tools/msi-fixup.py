#!/usr/bin/env python3
"""Completes an installer that wixl built from a .wxs, with msitools' msibuild,
where wixl's tables fall short of the source:

- wixl writes a custom action marked Execute="rollback" as an immediate one
  (it knows only "deferred"): such an action would run at once, during the
  install, instead of only when the install is rolled back. Each gets the
  in-script and rollback bits (msidbCustomActionTypeInScript 0x400,
  msidbCustomActionTypeRollback 0x100);
- wixl has no MigrateFeatures: the upgrade row that finds older versions
  (ActionProperty OLDERVERSIONFOUND) gets msidbUpgradeAttributesMigrateFeatures
  (1), so that an upgrade installs the features the older version had.

    tools/msi-fixup.py INSTALLER.msi SOURCE.wxs

Fails when an action or the row is missing, so that no installer leaves the
release with a rollback action that would run as an immediate one.
"""
import subprocess
import sys
import xml.etree.ElementTree as ET

IN_SCRIPT, ROLLBACK, MIGRATE_FEATURES = 0x400, 0x100, 1
WIX = "{http://schemas.microsoft.com/wix/2006/wi}"


def table(msi, name):
    """The rows of one table as lists of strings (msiinfo export: three header lines)."""
    out = subprocess.run(["msiinfo", "export", msi, name], check=True, capture_output=True, text=True).stdout
    return [line.split("\t") for line in out.splitlines()[3:]]


def main(msi, wxs):
    rollback = [a.get("Id") for a in ET.parse(wxs).iter(WIX + "CustomAction") if a.get("Execute") == "rollback"]
    types = {row[0]: int(row[1]) for row in table(msi, "CustomAction")}
    queries = []
    for action in rollback:
        if action not in types:
            sys.exit(f"msi-fixup: no custom action {action} in {msi}")
        queries.append(f"UPDATE `CustomAction` SET `Type` = {types[action] | IN_SCRIPT | ROLLBACK} "
                       f"WHERE `Action` = '{action}'")
    older = [row for row in table(msi, "Upgrade") if row[6] == "OLDERVERSIONFOUND"]
    if len(older) != 1:
        sys.exit(f"msi-fixup: no single upgrade row for OLDERVERSIONFOUND in {msi}")
    # Attributes is part of the table's key: the row is written anew.
    columns = ["UpgradeCode", "VersionMin", "VersionMax", "Language", "Attributes", "Remove", "ActionProperty"]
    row = dict(zip(columns, older[0]))
    row["Attributes"] = str(int(row["Attributes"]) | MIGRATE_FEATURES)
    kept = [c for c in columns if row[c] != ""]
    values = ", ".join(row[c] if c == "Attributes" else f"'{row[c]}'" for c in kept)
    queries.append("DELETE FROM `Upgrade` WHERE `ActionProperty` = 'OLDERVERSIONFOUND'")
    queries.append(f"INSERT INTO `Upgrade` ({', '.join(f'`{c}`' for c in kept)}) VALUES ({values})")
    for query in queries:
        subprocess.run(["msibuild", msi, "-q", query], check=True)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(*sys.argv[1:])
