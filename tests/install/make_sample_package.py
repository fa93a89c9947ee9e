"""Builds a small package zip and records its SHA-256, for the check of a published latest.txt."""

import hashlib
import sys
import zipfile

package, digest_file = sys.argv[1], sys.argv[2]
with zipfile.ZipFile(package, "w", zipfile.ZIP_DEFLATED) as archive:
    for name, data in (("Fernquill.exe", b"MZ main"), ("FernquillLauncher.exe", b"MZ launcher"),
                       ("plugins/audio/mixer.dll", b"MZ plugin" * 1000)):
        archive.writestr(zipfile.ZipInfo(name, date_time=(2024, 5, 6, 7, 8, 10)), data, zipfile.ZIP_DEFLATED)
with open(package, "rb") as stream:
    digest = hashlib.sha256(stream.read()).hexdigest()
with open(digest_file, "w", encoding="ascii", newline="\n") as stream:
    stream.write(digest + "\n")
