"""What publish.py accepts, refuses and writes, on small zips built for each case."""

import hashlib
import io
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
SCRIPTS = pathlib.Path(__file__).resolve().parents[2] / "scripts"
sys.path.insert(0, str(SCRIPTS))
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[1] / "support"))
import package_builder  # noqa: E402
import publish  # noqa: E402

USER_DATA_CASES = pathlib.Path(__file__).resolve().parents[1] / "deploy" / "user_data_cases.tsv"

EXES = {"Fernquill.exe": b"MZ main", "FernquillLauncher.exe": b"MZ launcher"}
URL = "https://updates.example.com/fernquill/Fernquill-1.0.zip"


def make_zip(path, entries):
    """entries: name -> bytes, or None for a folder entry."""
    package_builder.write_zip(path, entries.items())


def run_main(*argv):
    stderr = io.StringIO()
    code = publish.main(list(argv), stderr=stderr)
    return code, stderr.getvalue()


class Folder(unittest.TestCase):
    def setUp(self):
        self.folder = pathlib.Path(tempfile.mkdtemp(prefix="publish-test-"))
        self.addCleanup(shutil.rmtree, self.folder)
        self.output = self.folder / "latest.txt"

    def package(self, entries, name="package.zip"):
        path = self.folder / name
        make_zip(path, entries)
        return path

    def assertNothingWritten(self):
        self.assertFalse(self.output.exists())
        self.assertEqual(sorted(p.name for p in self.folder.iterdir() if p.name.startswith(".latest-")), [])


# name, entries, refusal text ("" when accepted), warnings expected (substrings, one per warning line)
LAYOUTS = [
    ("both at the root", dict(EXES), "", []),
    ("subfolders and look-alike names deploy",
     {**EXES, "plugins/audio/mixer.dll": b"x", "tools/imgui.ini": b"x", "data/saves/a.dat": b"x",
      "configs/settings.ini": b"x", "config.json": b"{}", "logs/": None, "imgui.ini.bak": b"x",
      "imgui.ini/readme.txt": b"x"}, "", []),
    ("user data under every name and case",
     {**EXES, "config/settings.ini": b"x", "Config/other.ini": b"x", "SAVES/autosave.dat": b"x",
      "Games/a/b.fql": b"x", "metadata/m.json": b"x", "covers/c.png": b"x", "IMGUI.INI": b"x"}, "",
     ["'Config'", "'Games'", "'IMGUI.INI'", "'SAVES'", "'config'", "'covers'", "'metadata'"]),
    ("folder entry alone under a user-data name is no warning", {**EXES, "games/": None}, "", []),
    ("only A-Z fold: long s is not s", {**EXES, "\u017faves/x.dat": b"x"}, "", []),
    ("backslash separates too", {**EXES, "config\\settings.ini": b"x", "bin\\tool.dll": b"x"}, "",
     ["'config'"]),
    ("leading dot folder is the root", {"./Fernquill.exe": b"x", "./FernquillLauncher.exe": b"x"}, "", []),
    ("many entries are summed up", {**EXES, **{f"saves/s{i}.dat": b"x" for i in range(8)}}, "",
     ["8 entries under 'saves'"]),
    ("enclosing folder", {"Fernquill-1.0/": None, "Fernquill-1.0/Fernquill.exe": b"x",
                          "Fernquill-1.0/FernquillLauncher.exe": b"x", "Fernquill-1.0/data/a": b"x"},
     "the executables lie in the single top folder 'Fernquill-1.0'", []),
    ("enclosing folder without the executables", {"app/readme.txt": b"x", "app/bin/Fernquill.exe": b"x"},
     "single top folder 'app'", []),
    ("launcher missing", {"Fernquill.exe": b"x", "readme.txt": b"x"}, "FernquillLauncher.exe missing at the root",
     []),
    ("main executable missing", {"FernquillLauncher.exe": b"x"}, "Fernquill.exe missing at the root", []),
    ("executables one level down", {"readme.txt": b"x", "bin/Fernquill.exe": b"x",
                                    "bin/FernquillLauncher.exe": b"x"},
     "found deeper: bin/Fernquill.exe, bin/FernquillLauncher.exe", []),
    ("executable in another letter case", {"fernquill.exe": b"x", "FernquillLauncher.exe": b"x"},
     "holds 'fernquill.exe'; the installer needs it named exactly 'Fernquill.exe'", []),
    ("executable name used by a folder", {"Fernquill.exe/x": b"x", "FernquillLauncher.exe": b"x"},
     "Fernquill.exe is a folder", []),
    ("empty archive", {}, "Fernquill.exe and FernquillLauncher.exe missing", []),
    ("parent folder escape", {**EXES, "../evil.dll": b"x"}, "points outside", []),
    ("absolute entry", {**EXES, "/etc/evil": b"x"}, "points outside", []),
    ("drive entry", {**EXES, "C:/evil": b"x"}, "points outside", []),
]


def read_user_data_cases():
    """(path, expected) rows of the table the installer's own test reads too."""
    cases = []
    for line in USER_DATA_CASES.read_text(encoding="utf-8").splitlines():
        if line.startswith("#") or not line:
            continue
        path, expected = line.split("\t")
        cases.append((path, {"true": True, "false": False}[expected]))
    return cases


class UserDataRule(unittest.TestCase):
    def test_the_warning_follows_the_installers_table(self):
        cases = read_user_data_cases()
        self.assertGreater(len(cases), 20)
        for path, expected in cases:
            with self.subTest(path=path):
                self.assertEqual(publish.is_user_data(publish.split_entry(path)), expected)

    def test_a_package_entry_the_installer_skips_is_warned_about(self):
        with tempfile.TemporaryDirectory() as folder:
            package = os.path.join(folder, "p.zip")
            make_zip(package, {**EXES, "config./settings.ini": b"x", "imgui.ini.": b"x", "config.json": b"x"})
            stderr = io.StringIO()
            publish.main([package, "--version", "1", "--url", URL, "--output", os.path.join(folder, "latest.txt")],
                         stderr=stderr)
            warned = [line for line in stderr.getvalue().splitlines() if "warning:" in line]
            self.assertEqual(len(warned), 2, stderr.getvalue())
            self.assertIn("'config.'", warned[0])
            self.assertIn("'imgui.ini.'", warned[1])


class PackageLayouts(Folder):
    def test_layouts(self):
        for name, entries, refusal, warnings in LAYOUTS:
            with self.subTest(name):
                package = self.package(entries, name="p.zip")
                if self.output.exists():
                    self.output.unlink()
                code, stderr = run_main(str(package), "--version", "1.0", "--url", URL,
                                        "--output", str(self.output))
                lines = stderr.splitlines()
                if refusal:
                    self.assertEqual(code, 1, stderr)
                    self.assertIn(refusal, stderr)
                    self.assertNothingWritten()
                else:
                    self.assertEqual(code, 0, stderr)
                    self.assertTrue(self.output.exists())
                    warned = sorted(line for line in lines if "warning:" in line)
                    self.assertEqual(len(warned), len(warnings), stderr)
                    for line, expected in zip(warned, warnings):
                        self.assertIn(expected, line)
                        self.assertIn("will not be installed", line)
                    self.assertEqual(len(lines), len(warned), stderr)


class Fields(Folder):
    def test_versions(self):
        cases = [
            ("1.2.3", True), ("Beta 2", True), ("\u0431\u0435\u0442\u0430", True), ("1=2", True),
            ("", False), ("1\n2", False), ("1\r2", False), ("1\r", False), (" 1", False), ("1 ", False),
            ("\t1", False), ("1\u3000", False), ("1\x0b", False), ("\udcff", False),
        ]
        package = self.package(EXES)
        for version, accepted in cases:
            with self.subTest(version=version):
                code, stderr = run_main(str(package), "--version", version, "--url", URL,
                                        "--output", str(self.output))
                self.assertEqual(code, 0 if accepted else 1, stderr)
                if accepted:
                    self.assertTrue(self.output.read_bytes().startswith(f"version={version}\n".encode()))
                    self.output.unlink()
                else:
                    self.assertIn("version", stderr)
                    self.assertNothingWritten()

    def test_addresses(self):
        cases = [
            ("https://h/p.zip", True), ("https://h:8443/a%20b/p.zip?token=a=b", True), ("https://h", True),
            ("http://h/p.zip", False), ("HTTPS://h/p.zip", False), ("Https://h/p.zip", False),
            ("https://", False), ("https:///p.zip", False), ("https://h/a b.zip", False),
            (" https://h/p.zip", False), ("https://h/p.zip\n", False), ("https://h:99999/p.zip", False),
            ("ftp://h/p.zip", False), ("", False), ("https://h/\x7f", False),
        ]
        package = self.package(EXES)
        for url, accepted in cases:
            with self.subTest(url=url):
                code, stderr = run_main(str(package), "--version", "1", "--url", url,
                                        "--output", str(self.output))
                self.assertEqual(code, 0 if accepted else 1, stderr)
                if accepted:
                    self.assertIn(f"\nurl={url}\n".encode(), self.output.read_bytes())
                    self.output.unlink()
                else:
                    self.assertIn("address", stderr)
                    self.assertNothingWritten()


class Packages(Folder):
    def refused(self, path):
        code, stderr = run_main(str(path), "--version", "1", "--url", URL, "--output", str(self.output))
        self.assertEqual(code, 1, stderr)
        self.assertNothingWritten()
        return stderr

    def test_unreadable_packages(self):
        good = self.package(EXES).read_bytes()
        (self.folder / "text.zip").write_text("version=1\n")
        (self.folder / "cut.zip").write_bytes(good[:len(good) - 30])
        (self.folder / "empty.zip").write_bytes(b"")
        (self.folder / "a-folder.zip").mkdir()
        cases = [("text.zip", "not a readable zip"), ("cut.zip", "not a readable zip"),
                 ("empty.zip", "not a readable zip"), ("missing.zip", "cannot be read"),
                 ("a-folder.zip", "is a folder")]
        for name, expected in cases:
            with self.subTest(name):
                self.assertIn(expected, self.refused(self.folder / name))

    def test_damaged_entry_is_refused(self):
        path = self.folder / "damaged.zip"
        package_builder.write_zip(path, [*EXES.items(), ("data.bin", b"A" * 1000)], package_builder.STORED)
        raw = bytearray(path.read_bytes())
        raw[raw.index(b"A" * 1000) + 500] = ord("B")
        path.write_bytes(bytes(raw))
        self.assertIn("'data.bin' fails its checksum", self.refused(path))

    def test_refusal_keeps_the_old_manifest(self):
        self.output.write_bytes(b"version=0.9\n")
        code, _ = run_main(str(self.package({"Fernquill.exe": b"x"})), "--version", "1", "--url", URL,
                           "--output", str(self.output))
        self.assertEqual(code, 1)
        self.assertEqual(self.output.read_bytes(), b"version=0.9\n")


class ManifestOutput(Folder):
    def test_exact_bytes_and_digest(self):
        # Stored, incompressible and larger than one read chunk, so the streamed hash is exercised.
        payload = os.urandom(3 * publish.HASH_CHUNK + 17)
        path = self.folder / "big.zip"
        package_builder.write_zip(path, [*EXES.items(), ("data/blob.bin", payload)], package_builder.STORED)
        if shutil.which("sha256sum"):
            digest = subprocess.run(["sha256sum", str(path)], check=True, capture_output=True,
                                    text=True).stdout.split()[0]
        else:
            digest = hashlib.sha256(path.read_bytes()).hexdigest()
        self.output.write_bytes(b"stale")
        version = "2.0 \u0431\u0435\u0442\u0430"
        url = "https://h/p.zip?a=1"
        code, stderr = run_main(str(path), "--version", version, "--url", url, "--output", str(self.output))
        self.assertEqual(code, 0, stderr)
        self.assertEqual(stderr, "")
        expected = f"version={version}\nurl={url}\nsha256={digest}\n".encode("utf-8")
        self.assertEqual(self.output.read_bytes(), expected)
        self.assertNotIn(b"\r", expected)
        self.assertRegex(digest, "^[0-9a-f]{64}$")


    def test_file_mode_is_readable_by_the_server(self):
        package = str(self.package(EXES))
        old_umask = os.umask(0o022)
        self.addCleanup(os.umask, old_umask)
        cases = [("new file", None, 0o644), ("replaced file keeps its mode", 0o640, 0o640)]
        for name, existing, expected in cases:
            with self.subTest(name):
                if self.output.exists():
                    self.output.unlink()
                if existing is not None:
                    self.output.write_bytes(b"old")
                    os.chmod(self.output, existing)
                code, stderr = run_main(package, "--version", "1", "--url", URL, "--output", str(self.output))
                self.assertEqual(code, 0, stderr)
                self.assertEqual(self.output.stat().st_mode & 0o777, expected)

    def test_unwritable_output_is_refused(self):
        package = str(self.package(EXES))
        (self.folder / "taken").mkdir()
        for output in (self.folder / "missing" / "latest.txt", self.folder / "taken"):
            with self.subTest(str(output)):
                code, stderr = run_main(package, "--version", "1", "--url", URL, "--output", str(output))
                self.assertEqual(code, 1)
                self.assertIn("cannot be written", stderr)
                self.assertEqual(sorted(p.name for p in self.folder.iterdir()), ["package.zip", "taken"])


class CommandLine(Folder):
    def run_script(self, *argv):
        return subprocess.run([sys.executable, str(SCRIPTS / "publish.py"), *argv], capture_output=True,
                              text=True, cwd=self.folder)

    def test_exit_codes_and_streams(self):
        good = str(self.package(EXES))
        warned = str(self.package({**EXES, "config/a.ini": b"x"}, name="warned.zip"))
        cases = [
            ("accepted, default output", [good, "--version", "1", "--url", URL], 0, "", True),
            ("accepted with a warning", [warned, "--version", "1", "--url", URL], 0, "warning:", True),
            ("refused address", [good, "--version", "1", "--url", "http://h/p.zip"], 1, "refused:", False),
            ("missing option", [good, "--version", "1"], 2, "--url", False),
        ]
        for name, argv, code, text, written in cases:
            with self.subTest(name):
                if self.output.exists():
                    self.output.unlink()
                result = self.run_script(*argv)
                self.assertEqual(result.returncode, code, result.stderr)
                self.assertEqual(result.stdout, "")
                if text:
                    self.assertIn(text, result.stderr)
                else:
                    self.assertEqual(result.stderr, "")
                self.assertEqual(self.output.exists(), written)


if __name__ == "__main__":
    unittest.main()
