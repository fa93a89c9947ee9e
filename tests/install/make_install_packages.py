#!/usr/bin/env python3
"""Builds the sample packages the whole-install tests publish, each with its SHA-256 beside it."""
import pathlib
import random
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
import package_builder  # noqa: E402

BULK_FILES = 3000


def bulk_entries():
    """Thousands of small files in nested folders; the tests rebuild the same names and contents."""
    for i in range(BULK_FILES):
        yield f"bulk/d{i // 100:02}/f{i:04}.txt", (f"bulk file {i}\n" * (1 + i % 5)).encode()


def main():
    out = pathlib.Path(sys.argv[1])
    main_exe = pathlib.Path(sys.argv[2]).read_bytes()
    launcher_exe = pathlib.Path(sys.argv[3]).read_bytes()
    out.mkdir(parents=True, exist_ok=True)

    application = [
        ("Fernquill.exe", main_exe),
        ("FernquillLauncher.exe", launcher_exe),
        ("data/readme.txt", b"sample data\n"),
        # User data in a package is never installed.
        ("config/settings.ini", b"[from-package]\n"),
    ]
    # Incompressible, so that the package itself is larger than any limit on a body held in memory.
    large_data = random.Random(6).randbytes(3 * 1024 * 1024)
    (out / "large-data.bin").write_bytes(large_data)
    packages = {
        "good": application,
        "large": application + [("data/large.bin", large_data)],
        "no-launcher": [e for e in application if e[0] != "FernquillLauncher.exe"],
        "no-main": [e for e in application if e[0] != "Fernquill.exe"],
        "nested": [("Fernquill/" + name, data) for name, data in application],
        "launcher-not-a-program": [("Fernquill.exe", main_exe), ("FernquillLauncher.exe", b"not a program")],
        "bulk": application + list(bulk_entries()),
    }
    for name, entries in packages.items():
        package_builder.write_zip(out / f"{name}.zip", entries)

    # A zip whose central directory is gone: the digest matches, the expansion must fail.
    good = (out / "good.zip").read_bytes()
    (out / "corrupt.zip").write_bytes(good[: len(good) // 2])

    for package in sorted(out.glob("*.zip")):
        (out / (package.name + ".sha256")).write_text(package_builder.sha256_of(package))


if __name__ == "__main__":
    main()
