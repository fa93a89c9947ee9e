"""Zips the application stand-ins into a package for whole runs through the window, with its SHA-256.

    make_gui_package.py PACKAGE DIGEST_FILE FILE...
"""

import hashlib
import os
import sys
import zipfile

package, digest_file, files = sys.argv[1], sys.argv[2], sys.argv[3:]
with zipfile.ZipFile(package, "w", zipfile.ZIP_DEFLATED) as archive:
    for path in files:
        archive.write(path, os.path.basename(path))
with open(package, "rb") as stream:
    digest = hashlib.sha256(stream.read()).hexdigest()
with open(digest_file, "w", encoding="ascii", newline="\n") as stream:
    stream.write(digest + "\n")
