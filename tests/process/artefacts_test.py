"""The release archives that scripts/package made, as a person gets them.

The zip is unpacked into a temporary folder: its file list is checked, each .exe
carries no debug information and a version resource (read back by windres) with
the project's version, and the programs run from there under Wine against a
private PulseAudio server. The .deb's file list and computed dependency are
checked, and it is installed with dpkg -i on this machine, inside a mount
namespace whose /usr, /var and /etc are overlays that vanish with it (so
nothing stays even if the test dies), each program run from /usr/bin, then
removed again with dpkg -r. That part needs root, as CI has; elsewhere it is
skipped.

Usage: artefacts_test.py ZIP DEB  (WINEPREFIX names a prefix made with
`wine wineboot -i`)"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

from process_harness import PrivatePulseServer, layout_json, run

ZIP = None
DEB = None
PROGRAMS = ["velmoravad-aggregate", "velmoravad-announce", "velmoravad-endpoints"]
SOURCE_DIR = Path(__file__).resolve().parents[2]


def project_version():
    """The version that project() in the top CMakeLists.txt sets."""
    text = (SOURCE_DIR / "CMakeLists.txt").read_text()
    return re.search(r"project\(\w+ VERSION (\d+\.\d+\.\d+)", text).group(1)


VERSION = project_version()


def start_server():
    """A private server with two application endpoints (1 + 2 channels) and a
    microphone."""
    server = PrivatePulseServer()
    server.add_source("app2", "VelmoraDSP Application 2 Output", 2)
    server.add_source("app1", "VelmoraDSP Application 1 Output", 1)
    server.add_source("mic", "Studio Mic", 1)
    return server


def has_debug_sections(objdump, path):
    sections = subprocess.run([objdump, "-h", str(path)], check=True, capture_output=True,
                              text=True).stdout
    return re.search(r"\s\.(z?debug|gnu_debuglink)", sections) is not None


class WindowsZipTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = Path(tempfile.mkdtemp(prefix="velmoravad-zip-"))
        with zipfile.ZipFile(ZIP) as archive:
            cls.names = sorted(archive.namelist())
            archive.extractall(cls.folder)
        cls.top = cls.folder / ("velmoravad-aggregate-%s-windows-x64" % VERSION)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder, ignore_errors=True)

    def test_file_list(self):
        self.assertEqual(Path(ZIP).name, "velmoravad-aggregate-%s-windows-x64.zip" % VERSION)
        self.assertEqual(self.names, sorted(
            "velmoravad-aggregate-%s-windows-x64/%s" % (VERSION, name)
            for name in ["README.txt"] + [program + ".exe" for program in PROGRAMS]))

    def test_readme_for_windows(self):
        readme = (self.top / "README.txt").read_bytes()
        self.assertEqual(readme.count(b"\n"), readme.count(b"\r\n"))
        self.assertIn(("velmoravad-aggregate %s" % VERSION).encode(), readme)
        for text in [b"velmoravad-endpoints.exe", b"ffmpeg -f s16le -ar 48000 -ac N -i - out.wav",
                     b"velmoravad-announce.exe", b"0x8889000E", b"0x80070005"]:
            self.assertIn(text, readme)

    def test_programs_are_stripped_and_carry_the_version(self):
        for program in PROGRAMS:
            path = self.top / (program + ".exe")
            self.assertFalse(has_debug_sections("x86_64-w64-mingw32-objdump", path), program)
            resource = subprocess.run(["x86_64-w64-mingw32-windres", "-i", str(path), "-O", "rc"],
                                      check=True, capture_output=True, text=True).stdout
            values = dict(re.findall(r'VALUE "(\w+)", "([^"]*)"', resource))
            self.assertEqual(values["FileVersion"], VERSION, program)
            self.assertEqual(values["ProductVersion"], VERSION, program)
            self.assertEqual(values["ProductName"], "velmoravad-aggregate", program)
            self.assertEqual(values["OriginalFilename"], program + ".exe", program)
            self.assertTrue(values["FileDescription"], program)
            numeric = VERSION.replace(".", ", ") + ", 0"
            self.assertIn("FILEVERSION " + numeric, resource, program)
            self.assertIn("PRODUCTVERSION " + numeric, resource, program)

    def test_programs_run_under_wine_from_the_unpacked_folder(self):
        server = start_server()
        try:
            environment = dict(server.environment, WINEPREFIX=os.environ["WINEPREFIX"])
            environment.setdefault("WINEDEBUG", "-all")

            def wine(program, *arguments):
                return subprocess.run(["wine", program + ".exe", *arguments], cwd=self.top,
                                      env=environment, stdin=subprocess.DEVNULL,
                                      capture_output=True, timeout=120)

            listed = wine("velmoravad-aggregate", "--list")
            self.assertEqual(listed.stdout, layout_json(2, 3, 0) + b"\r\n")
            self.assertEqual(listed.returncode, 0)
            survey = wine("velmoravad-endpoints", "--json")
            rows = [(row["role"], row["name"]) for row in json.loads(survey.stdout)["endpoints"]]
            for row in [("application", "VelmoraDSP Application 1 Output"),
                        ("application", "VelmoraDSP Application 2 Output"),
                        ("liveInput", "Studio Mic")]:
                self.assertIn(row, rows)
            for program in ["velmoravad-endpoints", "velmoravad-announce"]:
                version = wine(program, "--version")
                self.assertEqual(version.stdout, ("%s %s\r\n" % (program, VERSION)).encode())
                self.assertEqual(version.returncode, 0)
        finally:
            server.stop()


# Run in a mount namespace of its own: /usr, /var and /etc become overlays on a
# tmpfs, dpkg installs the package there, each program runs from /usr/bin, and
# dpkg removes it again. Prints what the test checks.
INSTALL_SCRIPT = r"""
set -euo pipefail
scratch=$(mktemp -d)
mount -t tmpfs velmoravad-scratch "$scratch"
for dir in usr var etc; do
  mkdir -p "$scratch/$dir.upper" "$scratch/$dir.work"
  mount -t overlay overlay \
    -o "lowerdir=/$dir,upperdir=$scratch/$dir.upper,workdir=$scratch/$dir.work" "/$dir"
done
# man-db's trigger would rebuild the whole manual database (seconds) twice.
rm -f /var/lib/man-db/auto-update
dpkg -i "$1" >/dev/null
echo "== installed"; dpkg-query -W -f='${Status} ${Version}\n' velmoravad-aggregate
echo "== aggregate"; /usr/bin/velmoravad-aggregate --list 2>/dev/null
echo "== endpoints"; /usr/bin/velmoravad-endpoints --json
echo "== announce"; /usr/bin/velmoravad-announce --version
echo "== man"; ls /usr/share/man/man1/velmoravad-*
dpkg -r velmoravad-aggregate >/dev/null
echo "== left"; ls /usr/bin/velmoravad-* 2>/dev/null || true
"""


def sections(output):
    """The script's output by its "== NAME" headings: NAME to the text below it."""
    parts = re.split(r"^== (\w+)\n", output, flags=re.MULTILINE)
    return dict(zip(parts[1::2], (part.strip() for part in parts[2::2])))


class DebianPackageTest(unittest.TestCase):
    def test_file_list_dependency_and_no_debug_information(self):
        self.assertEqual(Path(DEB).name, "velmoravad-aggregate_%s_amd64.deb" % VERSION)
        contents = subprocess.run(["dpkg-deb", "-c", DEB], check=True, capture_output=True,
                                  text=True).stdout
        files = sorted(line.split()[-1] for line in contents.splitlines()
                       if not line.startswith("d"))
        self.assertEqual(files, sorted(
            ["./usr/bin/" + program for program in PROGRAMS] +
            ["./usr/share/man/man1/%s.1.gz" % program for program in PROGRAMS] +
            ["./usr/share/doc/velmoravad-aggregate/copyright",
             "./usr/share/doc/velmoravad-aggregate/changelog.gz"]))
        depends = subprocess.run(["dpkg-deb", "-f", DEB, "Depends", "Version"], check=True,
                                 capture_output=True, text=True).stdout
        self.assertRegex(depends, r"(^|, )libpulse0 \(>= [^)]+\)")
        self.assertIn("Version: " + VERSION, depends)
        with tempfile.TemporaryDirectory() as unpacked:
            subprocess.run(["dpkg-deb", "-x", DEB, unpacked], check=True)
            for program in PROGRAMS:
                self.assertFalse(has_debug_sections("objdump", Path(unpacked, "usr/bin", program)))

    def test_installs_runs_from_usr_bin_and_removes(self):
        if os.geteuid() != 0:
            self.skipTest("installing with dpkg needs root (CI runs as root)")
        server = start_server()
        try:
            result = run(["unshare", "--mount", "--propagation", "private", "bash", "-c",
                          INSTALL_SCRIPT, "install", os.path.abspath(DEB)],
                         server.environment, timeout=180)
            self.assertEqual(result.status, 0, result.error)
        finally:
            server.stop()
        found = sections(result.output.decode())
        self.assertEqual(found["installed"], "install ok installed " + VERSION)
        self.assertEqual(found["aggregate"].encode(), layout_json(2, 3, 0))
        self.assertTrue(json.loads(found["endpoints"])["summary"]["runOpens"])
        self.assertEqual(found["announce"], "velmoravad-announce " + VERSION)
        self.assertEqual(found["man"].split(), ["/usr/share/man/man1/%s.1.gz" % program
                                                for program in PROGRAMS])
        self.assertEqual(found["left"], "")
        # Nothing of it is left outside the namespace.
        self.assertFalse(Path("/usr/bin/velmoravad-aggregate").exists())
        self.assertNotEqual(subprocess.run(["dpkg-query", "-W", "velmoravad-aggregate"],
                                           capture_output=True).returncode, 0)


if __name__ == "__main__":
    DEB = sys.argv.pop(2)
    ZIP = sys.argv.pop(1)
    unittest.main(verbosity=2)
