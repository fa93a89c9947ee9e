#!/usr/bin/env python3
"""The one builder of sample packages for the tests, the fixtures and the demo: zip archives from a
list of entries or from a folder, with fixed entry times so that the same input gives the same bytes.

    python3 tests/support/package_builder.py OUTPUT.zip FOLDER   # the folder's contents, deflated

Imported by the fixture scripts (tests/install, tests/package) and the publishing tool's tests.
"""
import hashlib
import os
import sys
import zipfile

STORED = zipfile.ZIP_STORED
DEFLATED = zipfile.ZIP_DEFLATED
ENTRY_TIME = (2024, 5, 1, 12, 0, 0)
_UTF8_NAME_FLAG = 0x800


class Cp437Info(zipfile.ZipInfo):
    """Names stored in CP437 without the UTF-8 flag, as old Windows tools write them."""

    def _encodeFilenameFlags(self):
        return self.filename.encode("cp437"), self.flag_bits & ~_UTF8_NAME_FLAG


def folder_info(name):
    info = zipfile.ZipInfo(name.rstrip("/") + "/", date_time=ENTRY_TIME)
    info.external_attr = (0o40755 << 16) | 0x10  # a Unix folder, and FILE_ATTRIBUTE_DIRECTORY
    return info


def write_zip(path, entries, method=DEFLATED, info_type=zipfile.ZipInfo):
    """Replaces path with an archive of entries: (name, bytes, or None for a folder[, method])."""
    with zipfile.ZipFile(path, "w") as archive:
        for entry in entries:
            name, data = entry[0], entry[1]
            if data is None:
                archive.writestr(folder_info(name), b"")
                continue
            info = info_type(name, date_time=ENTRY_TIME)
            info.compress_type = entry[2] if len(entry) > 2 else method
            archive.writestr(info, data)


def folder_entries(folder):
    """Every folder and file below folder, as write_zip entries named relative to it with '/'."""
    entries = []
    for parent, folders, files in os.walk(folder):
        folders.sort()
        relative = os.path.relpath(parent, folder)
        prefix = "" if relative == "." else relative.replace(os.sep, "/") + "/"
        if prefix:
            entries.append((prefix, None))
        for name in sorted(files):
            with open(os.path.join(parent, name), "rb") as stream:
                entries.append((prefix + name, stream.read()))
    return entries


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        for block in iter(lambda: stream.read(1 << 20), b""):
            digest.update(block)
    return digest.hexdigest()


def main(argv):
    if len(argv) != 2:
        print("usage: package_builder.py OUTPUT.zip FOLDER", file=sys.stderr)
        return 2
    output, folder = argv
    write_zip(output, folder_entries(folder))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
