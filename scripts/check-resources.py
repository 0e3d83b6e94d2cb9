#!/usr/bin/env python3
"""Reads the resources back from the built NOXWINGUI.exe (through windres) and checks the
dialog templates' sizes in dialog units and control ids, the strings, the icon, the version
and the manifest. Usage: check-resources.py NOXWINGUI.exe [windres]"""
import re
import subprocess
import sys

exe = sys.argv[1]
windres = sys.argv[2] if len(sys.argv) > 2 else "x86_64-w64-mingw32-windres"
rc = subprocess.run([windres, "-i", exe, "-O", "rc"], capture_output=True, text=True, check=True).stdout

EXPECTED = {
    102: ((273, 201), [1003, 1001, 1002, 3, 4]),
    133: ((247, 160), list(range(1037, 1049))),
    134: ((256, 160), list(range(1007, 1021)) + list(range(1025, 1030)) + [11052, 11065, 11066]),
    135: ((258, 160), list(range(1029, 1036)) + [11060, 11062, 11063, 11064]),
    139: ((204, 53), [11051, 1, 2]),
    140: ((154, 130), list(range(11054, 11060)) + [2]),
    141: ((220, 46), [11070, 11071]),
}
CLASSES = {102: "CNOXWINGUIDlg", 139: "CPasswordDlg", 140: "CKorvInfo"}
STRINGS = list(range(1007, 1021)) + list(range(1025, 1030)) + list(range(1037, 1050)) + [1052]

failures = []
dialogs = {}
for match in re.finditer(r"^(\d+) DIALOGEX 0, 0, (\d+), (\d+)\n(.*?)^END", rc, re.M | re.S):
    dialogs[int(match.group(1))] = (int(match.group(2)), int(match.group(3)), match.group(4))
for number, (size, ids) in EXPECTED.items():
    if number not in dialogs:
        failures.append(f"template {number} missing")
        continue
    width, height, body = dialogs[number]
    if (width, height) != size:
        failures.append(f"template {number} is {width} x {height}, expected {size[0]} x {size[1]}")
    present = {int(i) for i in re.findall(r"^\s+\w+\s+(?:\"(?:[^\"]|\"\")*\",\s*)?(-?\d+),", body, re.M)}
    missing = [i for i in ids if i not in present]
    if missing:
        failures.append(f"template {number} lacks controls {missing}")
    # Window class names do not depend on case; windres prints them in capitals.
    if number in CLASSES and f'CLASS "{CLASSES[number].upper()}"' not in body.upper():
        failures.append(f"template {number} does not name the class {CLASSES[number]}")
strings = {int(i) for i in re.findall(r"^\s+(\d+),\s+\"", rc, re.M)}
missing = [i for i in STRINGS if i not in strings]
if missing:
    failures.append(f"strings missing: {missing}")
if not re.search(r"^128 (14|ICON)\b", rc, re.M):
    failures.append("icon 128 missing")
if "VERSIONINFO" not in rc:
    failures.append("no VERSIONINFO")
if not re.search(r"^1 24\b", rc, re.M):
    failures.append("no application manifest")
for failure in failures:
    print("resources:", failure)
print(f"resources: {len(EXPECTED)} templates, {len(STRINGS)} strings checked, {len(failures)} failures")
sys.exit(1 if failures else 0)
