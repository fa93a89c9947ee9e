"""Builds a small package zip and records its SHA-256, for the check of a published latest.txt."""

import pathlib
import sys

sys.dont_write_bytecode = True
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
import package_builder  # noqa: E402

package, digest_file = sys.argv[1], sys.argv[2]
package_builder.write_zip(package, [("Fernquill.exe", b"MZ main"), ("FernquillLauncher.exe", b"MZ launcher"),
                                    ("plugins/audio/mixer.dll", b"MZ plugin" * 1000)])
with open(digest_file, "w", encoding="ascii", newline="\n") as stream:
    stream.write(package_builder.sha256_of(package) + "\n")
