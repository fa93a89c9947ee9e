#!/usr/bin/env python3
"""Writes the package tests' fixtures into the build tree.

digest/: files of chosen sizes and sha256sums.txt, made by running sha256sum on them.
zips/: archives made with zipfile and Info-ZIP's zip, each good one with <name>.tree/, the folder tree
it must expand to, written straight from the same bytes; plus broken and hostile archives.
"""
import os
import random
import shutil
import subprocess
import sys
import zipfile

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from package_builder import DEFLATED, STORED, Cp437Info, write_zip  # noqa: E402


def write_digest_files(out):
    rng = random.Random(20240501)
    files = {
        "empty.bin": b"",
        "exact_65536.bin": rng.randbytes(65536),
        "one_more_65537.bin": rng.randbytes(65537),
        "multi_5mib.bin": rng.randbytes(5 * 1024 * 1024 + 4321),
        # Ctrl-Z and CR LF: a text-mode read would stop early or change bytes.
        "text_like.bin": b"line one\r\nline two\n\x1a\x00after ctrl-z\r\n" * 3,
    }
    for name, data in files.items():
        with open(os.path.join(out, name), "wb") as f:
            f.write(data)
    sums = subprocess.run(["sha256sum", "--", *sorted(files)], cwd=out, check=True, capture_output=True)
    with open(os.path.join(out, "sha256sums.txt"), "wb") as f:
        f.write(sums.stdout)


def write_tree(root, entries):
    """entries: (name, data or None for a folder)."""
    os.makedirs(root)
    for name, data in entries:
        path = os.path.normpath(os.path.join(root, name))
        if data is None:
            os.makedirs(path, exist_ok=True)
        else:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)


def good_archive(out, name, entries, info_type=zipfile.ZipInfo, tree=None):
    write_zip(os.path.join(out, name + ".zip"), entries, info_type=info_type)
    write_tree(os.path.join(out, name + ".tree"), tree or [(n, d) for n, d, _ in entries])


def write_zips(out):
    rng = random.Random(7)
    text = b"".join(b"setting_%05d = value %d\r\n" % (i, i * 7) for i in range(60000))  # ~1.5 MiB

    good_archive(out, "stored", [
        ("readme.txt", b"Fernquill test package\r\n", STORED),
        ("bin/app.dat", rng.randbytes(100_000), STORED),
        ("empty.txt", b"", STORED),
    ])
    good_archive(out, "deflate", [
        ("Fernquill.exe", rng.randbytes(200_000), DEFLATED),
        ("FernquillLauncher.exe", rng.randbytes(50_000), DEFLATED),
        ("data/", None, STORED),
        ("data/config/", None, STORED),
        ("data/config/defaults.ini", text, DEFLATED),
        ("logs/", None, STORED),
        ("readme.txt", b"new readme\r\n", DEFLATED),
    ])
    good_archive(out, "nested", [
        ("a/b/c/d/e/f/deep.txt", b"deep\n" * 100, DEFLATED),
        ("a/sibling.txt", b"sibling", STORED),
        ("a/b/c/other.bin", rng.randbytes(3000), DEFLATED),
    ])
    good_archive(out, "utf8", [
        ("Папка/файл.txt", "Привет".encode("utf-8"), DEFLATED),
        ("O\u2019Neil/\u2018quoted\u2019 \u201alow\u201b.txt", b"quotes", STORED),
        ("日本/テキスト.txt", b"nihongo", DEFLATED),
        ("emoji \U0001F33F.txt", b"leaf", DEFLATED),
    ])
    good_archive(out, "cp437", [
        ("café.txt", b"cafe", DEFLATED),
        ("Ünïcödé/naïve.txt", b"naive", STORED),
    ], info_type=Cp437Info)
    # Stays inside once resolved, as Expand-Archive resolves it.
    good_archive(out, "inside_dotdot", [("sub/../inside.txt", b"inside", DEFLATED)],
                 tree=[("inside.txt", b"inside")])

    # Info-ZIP's own writer, from a real folder.
    source = os.path.join(out, "infozip.tree")
    write_tree(source, [
        ("top.txt", b"top level\n"),
        ("dir/inner.txt", b"inner " * 500),
        ("dir/sub/bytes.bin", rng.randbytes(20_000)),
    ])
    subprocess.run(["zip", "-q", "-r", "-X", os.path.join(out, "infozip.zip"), "."], cwd=source, check=True)

    # Broken archives.
    good = open(os.path.join(out, "deflate.zip"), "rb").read()
    with zipfile.ZipFile(os.path.join(out, "deflate.zip")) as archive:
        first = archive.infolist()[0]
    data_start = first.header_offset + 30 + len(first.filename.encode("utf-8")) + len(first.extra)
    corrupt = bytearray(good)
    for i in range(data_start + 100, data_start + 164):
        corrupt[i] ^= 0x5A
    open(os.path.join(out, "corrupt.zip"), "wb").write(bytes(corrupt))
    open(os.path.join(out, "truncated.zip"), "wb").write(good[: len(good) * 3 // 5])
    open(os.path.join(out, "not_a_zip.zip"), "wb").write(b"This is plain text, not an archive.\r\n" * 20)

    # Hostile archives: each has a harmless entry and one that points outside the destination.
    hostile = {
        "slip_parent": "../escape.txt",
        "slip_nested": "sub/../../escape.txt",
        "slip_backslash": "..\\escape.txt",
        "slip_absolute": "/escape.txt",
        "slip_drive": "C:/escape.txt",
    }
    for name, entry in hostile.items():
        write_zip(os.path.join(out, name + ".zip"), [
            ("harmless.txt", b"harmless", DEFLATED),
            (entry, b"escaped", DEFLATED),
        ])


def main():
    out = sys.argv[1]
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(os.path.join(out, "digest"))
    os.makedirs(os.path.join(out, "zips"))
    write_digest_files(os.path.join(out, "digest"))
    write_zips(os.path.join(out, "zips"))
    open(os.path.join(out, "stamp"), "w").write("ok\n")


if __name__ == "__main__":
    main()
