#!/usr/bin/env python3
"""Fails when an installer exe imports, at load time, a DLL that is not on the system's KnownDLLs list.

Load-time imports are resolved before the program can restrict its DLL search, so any DLL that the
loader would look for in the program's own folder first must be bound late instead.
"""
import subprocess
import sys

# KnownDLLs of current Windows (HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\KnownDLLs),
# plus the loader's own, which always come from System32.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "difxapi.dll",
    "gdi32.dll", "gdiplus.dll", "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll",
    "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll",
    "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll", "shlwapi.dll", "user32.dll",
    "wldap32.dll", "ws2_32.dll", "ntdll.dll", "kernelbase.dll",
}
# Bound late on purpose; they must still be there, or the check proves nothing about them.
LATE_BOUND = {"winhttp.dll", "bcrypt.dll", "comctl32.dll"}


def load_time_imports(objdump, exe):
    dump = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    names, in_imports = [], False
    for line in dump.splitlines():
        if line.startswith("The Import Tables"):
            in_imports = True
        elif in_imports and line.startswith("The "):
            in_imports = False
        elif in_imports and line.strip().startswith("DLL Name:"):
            names.append(line.split(":", 1)[1].strip().lower())
    return names


def main():
    objdump, exes = sys.argv[1], sys.argv[2:]
    failed = False
    for exe in exes:
        imports = load_time_imports(objdump, exe)
        if not imports:
            print(f"{exe}: no import table found")
            failed = True
            continue
        unknown = sorted(set(imports) - KNOWN_DLLS)
        if unknown:
            print(f"{exe}: imports at load time DLLs that are not KnownDLLs: {', '.join(unknown)}")
            failed = True
        with open(exe, "rb") as binary:
            content = binary.read().lower()
        missing = sorted(dll for dll in LATE_BOUND if dll.encode() not in content)
        if missing:
            print(f"{exe}: late-bound DLLs not referenced at all: {', '.join(missing)}")
            failed = True
        print(f"{exe}: load-time imports: {', '.join(imports)}")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
