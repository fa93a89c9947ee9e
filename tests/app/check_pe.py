#!/usr/bin/env python3
"""Fails unless an installer exe is a 64-bit GUI program with the icon group 101 and an asInvoker manifest.

Read on the build host with objdump, so a release can be checked without running anything under Windows.
"""
import re
import subprocess
import sys

RT_GROUP_ICON = 0x0E
RT_MANIFEST = 0x18
RT_VERSION = 0x10


def resource_names(dump):
    """{type id: {name ids}} from objdump's listing of the .rsrc directory."""
    names, current_type = {}, None
    for line in dump.splitlines():
        match = re.match(r"^[0-9a-f]{3}(\s+)Entry: ID: 0x([0-9a-f]+)", line)
        if not match:
            continue
        depth, ident = len(match.group(1)), int(match.group(2), 16)
        if depth == 3:
            current_type = ident
            names.setdefault(ident, set())
        elif depth == 5 and current_type is not None:
            names[current_type].add(ident)
    return names


def problems_of(objdump, exe):
    dump = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    problems = []
    if not re.search(r"^Magic\s+020b", dump, re.M):
        problems.append("not a 64-bit (PE32+) image")
    if not re.search(r"^Subsystem\s+00000002\s", dump, re.M):
        problems.append("not a Windows GUI subsystem program")
    names = resource_names(dump)
    if 101 not in names.get(RT_GROUP_ICON, set()):
        problems.append("no icon group 101")
    if 1 not in names.get(RT_MANIFEST, set()):
        problems.append("no application manifest (RT_MANIFEST 1)")
    if 1 not in names.get(RT_VERSION, set()):
        problems.append("no version information")
    with open(exe, "rb") as binary:
        content = binary.read()
    levels = set(re.findall(rb'requestedExecutionLevel\s+level="([A-Za-z]+)"', content))
    if levels != {b"asInvoker"}:
        problems.append(f"manifest execution levels {sorted(levels)} instead of asInvoker alone")
    return problems


def main():
    objdump, exes = sys.argv[1], sys.argv[2:]
    failed = False
    for exe in exes:
        problems = problems_of(objdump, exe)
        for problem in problems:
            print(f"{exe}: {problem}")
        if not problems:
            print(f"{exe}: GUI subsystem, icon group 101, asInvoker manifest, version information")
        failed = failed or bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
