#!/usr/bin/env python3
"""Checks a Fernquill package zip as the installer will and writes the latest.txt that announces it.

    publish.py PACKAGE --version V --url https://host/path/package.zip [--output latest.txt]

Refusals go to stderr with exit code 1 and leave the output untouched; warnings go to stderr too.
"""

import argparse
import hashlib
import os
import sys
import tempfile
import urllib.parse
import zipfile

MAIN_EXECUTABLE = "Fernquill.exe"
LAUNCHER_EXECUTABLE = "FernquillLauncher.exe"
EXECUTABLES = (MAIN_EXECUTABLE, LAUNCHER_EXECUTABLE)

# Top-level entries the installer never writes, because they hold the application's user data.
USER_DATA_FOLDERS = ("games", "metadata", "covers", "config", "saves")
USER_DATA_FILE = "imgui.ini"

HTTPS_PREFIX = "https://"
HASH_CHUNK = 1 << 20
LISTED_ENTRIES = 5

# The installer folds only A-Z when it compares names; str.lower() would fold far more.
_ASCII_LOWER = str.maketrans("ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz")


class Refusal(Exception):
    """A reason not to publish, worded for the person publishing."""


def fold_ascii(text):
    return text.translate(_ASCII_LOWER)


def check_field(name, value):
    """A manifest value must come back from the installer's line split and trimming exactly as given."""
    if value == "":
        raise Refusal(f"the {name} is empty")
    if "\n" in value or "\r" in value:
        raise Refusal(f"the {name} holds a line break")
    # Python's idea of white space covers every character the installer trims, and a few more.
    if value != value.strip():
        raise Refusal(f"the {name} begins or ends with white space, which the installer would trim away")
    try:
        value.encode("utf-8")
    except UnicodeEncodeError:
        raise Refusal(f"the {name} is not valid text (it cannot be written as UTF-8)") from None


def check_version(version):
    check_field("version", version)


def check_url(url):
    check_field("address", url)
    if not url.startswith(HTTPS_PREFIX):
        raise Refusal(f"the address {url!r} does not begin with {HTTPS_PREFIX!r}; "
                      "the installer downloads only over https and needs the prefix in lower case")
    if any(c.isspace() or ord(c) < 0x20 or ord(c) == 0x7F for c in url):
        raise Refusal(f"the address {url!r} holds blanks or control characters; percent-encode them")
    parts = urllib.parse.urlsplit(url)
    if not parts.hostname:
        raise Refusal(f"the address {url!r} names no host")
    try:
        parts.port
    except ValueError:
        raise Refusal(f"the address {url!r} has an invalid port") from None


def split_entry(name):
    """Components of an archive entry; both separators count, as they do when the archive is expanded."""
    components = [c for c in name.replace("\\", "/").split("/") if c not in ("", ".")]
    rooted = name[:1] in ("/", "\\") or (len(name) >= 2 and name[1] == ":")
    if rooted or ".." in components:
        raise Refusal(f"the entry {name!r} points outside the folder the package is expanded into")
    return components


def windows_name(name):
    """The name Windows opens: it ignores trailing dots and blanks ("config." opens "config")."""
    return name.rstrip(". ")


def is_user_data(components):
    first = fold_ascii(windows_name(components[0]))
    if first in USER_DATA_FOLDERS:
        return True
    return len(components) == 1 and first == USER_DATA_FILE


def open_package(path):
    try:
        archive = zipfile.ZipFile(path)
    except (zipfile.BadZipFile, zipfile.LargeZipFile):
        raise Refusal(f"{path} is not a readable zip archive") from None
    except OSError as error:
        raise Refusal(f"{path} cannot be read: {error.strerror or error}") from None
    return archive


def verify_entries(archive, path):
    """Reads every entry through, as the expansion will; a damaged or encrypted entry is a refusal."""
    try:
        damaged = archive.testzip()
    except (RuntimeError, NotImplementedError, zipfile.BadZipFile, EOFError, OSError) as error:
        raise Refusal(f"{path} is not a readable zip archive: {error}") from None
    if damaged is not None:
        raise Refusal(f"{path} is damaged: the entry {damaged!r} fails its checksum")


def check_layout(entries, path):
    """entries: (components, is_folder) pairs. Returns the warnings; raises Refusal for a bad layout."""
    root_files = {c[0] for c, folder in entries if len(c) == 1 and not folder}
    root_folders = {c[0] for c, folder in entries if len(c) > 1 or folder}

    missing = []
    for exe in EXECUTABLES:
        if exe in root_folders:
            raise Refusal(f"{exe} is a folder at the root of {path}, not a program")
        if exe in root_files:
            continue
        variant = next((f for f in sorted(root_files) if fold_ascii(f) == fold_ascii(exe)), None)
        if variant is not None:
            raise Refusal(f"the root of {path} holds {variant!r}; the installer needs it named exactly {exe!r}")
        missing.append(exe)

    if missing:
        tops = {c[0] for c, _ in entries}
        if len(tops) == 1 and not root_files:
            top = tops.pop()
            inside = {c[1] for c, folder in entries if len(c) == 2 and not folder}
            if all(exe in inside for exe in EXECUTABLES):
                raise Refusal(f"the executables lie in the single top folder {top!r} of {path}; the installer "
                              "needs them at the root: zip the contents of that folder, not the folder itself")
            raise Refusal(f"everything in {path} lies in the single top folder {top!r}, and "
                          f"{' and '.join(missing)} is not at the root of the archive")
        found = ["/".join(c) for c, folder in entries if not folder and len(c) > 1 and c[-1] in missing]
        where = f" (found deeper: {', '.join(found[:LISTED_ENTRIES])})" if found else ""
        raise Refusal(f"{' and '.join(missing)} missing at the root of {path}{where}")

    skipped = {}
    for components, folder in entries:
        if not folder and is_user_data(components):
            skipped.setdefault(components[0], []).append("/".join(components))
    warnings = []
    for top in sorted(skipped):
        names = skipped[top]
        listed = ", ".join(names[:LISTED_ENTRIES])
        more = f" and {len(names) - LISTED_ENTRIES} more" if len(names) > LISTED_ENTRIES else ""
        warnings.append(f"{len(names)} entr{'y' if len(names) == 1 else 'ies'} under {top!r} will not be "
                        f"installed ({listed}{more}): the installer never writes the application's user data "
                        f"({', '.join(USER_DATA_FOLDERS)}, {USER_DATA_FILE})")
    return warnings


def inspect_package(path):
    """Checks the archive; returns the warnings or raises Refusal."""
    with open_package(path) as archive:
        infos = archive.infolist()
        entries = []
        for info in infos:
            components = split_entry(info.filename)
            if components:
                entries.append((components, info.is_dir()))
        warnings = check_layout(entries, path)
        verify_entries(archive, path)
    return warnings


def sha256_of(path):
    digest = hashlib.sha256()
    with open(path, "rb") as stream:
        while True:
            chunk = stream.read(HASH_CHUNK)
            if not chunk:
                break
            digest.update(chunk)
    return digest.hexdigest()


def manifest_text(version, url, sha256):
    return f"version={version}\nurl={url}\nsha256={sha256}\n"


def file_mode_for(path):
    """The mode the manifest keeps: the old file's, or what a plain new file would get (mkstemp gives 0600)."""
    try:
        return os.stat(path).st_mode & 0o7777
    except OSError:
        umask = os.umask(0)
        os.umask(umask)
        return 0o666 & ~umask


def write_replacing(path, text):
    """Replaces the file in one step, so a server never hands out half a manifest."""
    folder = os.path.dirname(os.path.abspath(path))
    mode = file_mode_for(path)
    handle, temporary = tempfile.mkstemp(prefix=".latest-", dir=folder)
    try:
        with os.fdopen(handle, "wb") as stream:
            stream.write(text.encode("utf-8"))
        os.chmod(temporary, mode)
        os.replace(temporary, path)
    except BaseException:
        try:
            os.unlink(temporary)
        except OSError:
            pass
        raise


def parse_arguments(argv):
    parser = argparse.ArgumentParser(
        prog="publish.py",
        description="Check a Fernquill package and write the latest.txt that the installer reads.")
    parser.add_argument("package", help="the package zip")
    parser.add_argument("--version", required=True, help="the version text shown to the user")
    parser.add_argument("--url", required=True, help="the package's public https address")
    parser.add_argument("--output", default="latest.txt", help="where to write the manifest (latest.txt)")
    return parser.parse_args(argv)


def publish(package, version, url, output, stderr):
    check_version(version)
    check_url(url)
    if os.path.isdir(package):
        raise Refusal(f"{package} is a folder, not a zip archive")
    for warning in inspect_package(package):
        print(f"publish.py: warning: {warning}", file=stderr)
    try:
        digest = sha256_of(package)
    except OSError as error:
        raise Refusal(f"{package} cannot be read: {error.strerror or error}") from None
    try:
        write_replacing(output, manifest_text(version, url, digest))
    except OSError as error:
        raise Refusal(f"{output} cannot be written: {error.strerror or error}") from None
    return digest


def main(argv=None, stderr=None):
    stderr = stderr or sys.stderr
    arguments = parse_arguments(argv)
    try:
        publish(arguments.package, arguments.version, arguments.url, arguments.output, stderr)
    except Refusal as refusal:
        print(f"publish.py: refused: {refusal}; nothing written", file=stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
