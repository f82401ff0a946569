#!/usr/bin/env python3
"""The release packages that scripts/package writes into dist/.

The .deb is unpacked into a temporary root (dpkg-deb -x): its filter runs
and its manual page renders. Each zip is listed and its DLL's architecture
read with the MinGW objdump. As root, on a system without the package, the
.deb is also installed with dpkg -i and removed with apt-get remove, leaving
the system as it was (QUILLET_NO_DPKG=1 skips that).

Usage: test_package.py [DIST] [unittest arguments]   (DIST: dist/)
"""
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import zipfile

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
DIST = os.path.join(TOP, "dist")
README = "はじめにお読みください.txt"
DLL_FORMATS = {  # the zip's architecture: objdump, file format, architecture
    "win32": ("i686-w64-mingw32-objdump", "pei-i386", "i386"),
    "win64": ("x86_64-w64-mingw32-objdump", "pei-x86-64", "i386:x86-64"),
}


def project_version():
    """The version, from the one place it is written."""
    with open(os.path.join(TOP, "CMakeLists.txt"), encoding="utf-8") as f:
        return re.search(r"project\(Quillet VERSION ([0-9.]+)", f.read()).group(1)


VERSION = project_version()
DEB = "quillet_%s-1_amd64.deb" % VERSION


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, **kwargs)


def installed_status():
    """dpkg's status of the quillet package; "" when it knows none."""
    result = run(["dpkg-query", "-W", "-f=${Status}", "quillet"], text=True)
    return result.stdout if result.returncode == 0 else ""


class Deb(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.deb = os.path.join(DIST, DEB)
        cls.root = tempfile.mkdtemp(prefix="quillet-deb-")
        subprocess.run(["dpkg-deb", "-x", cls.deb, cls.root], check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def field(self, name):
        return run(["dpkg-deb", "-f", self.deb, name], text=True, check=True).stdout.strip()

    def test_control_fields(self):
        self.assertEqual(self.field("Package"), "quillet")
        self.assertEqual(self.field("Version"), VERSION + "-1")
        self.assertEqual(self.field("Architecture"), "amd64")
        self.assertEqual(self.field("Section"), "text")
        self.assertRegex(self.field("Maintainer"), r"^[^<>]+ <[^<>@]+@[^<>@]+>$")
        self.assertTrue(self.field("Description").startswith("rewrite the indentation"))
        # Computed from the binary's libraries: the C and C++ runtimes.
        depends = [d.split()[0] for d in self.field("Depends").split(", ")]
        self.assertIn("libc6", depends)
        self.assertIn("libstdc++6", depends)

    def test_files(self):
        files = sorted(
            os.path.relpath(os.path.join(d, f), self.root)
            for d, _, names in os.walk(self.root) for f in names)
        self.assertEqual(files, [
            "usr/bin/quillet", "usr/share/bash-completion/completions/quillet",
            "usr/share/doc/quillet/changelog.Debian.gz",
            "usr/share/doc/quillet/changelog.gz", "usr/share/doc/quillet/copyright",
            "usr/share/locale/ja/LC_MESSAGES/quillet.mo",
            "usr/share/man/ja/man1/quillet.1.gz", "usr/share/man/man1/quillet.1.gz"])
        self.assertTrue(os.access(os.path.join(self.root, "usr/bin/quillet"), os.X_OK))

    def test_filter_runs(self):
        quillet = os.path.join(self.root, "usr/bin/quillet")
        version = run([quillet, "--version"], text=True)
        self.assertEqual(version.returncode, 0)
        self.assertEqual(version.stdout.splitlines()[0], "quillet (Quillet) %s" % VERSION)
        # The catalog next to the program, in share/locale, is the one it finds.
        env = {k: v for k, v in os.environ.items() if not k.startswith("LC_")}
        for lang, usage in (("ja_JP.UTF-8", "使い方: quillet"), ("C.UTF-8", "Usage: quillet")):
            shown = run([quillet, "--help"], env=dict(env, LANG=lang))
            self.assertTrue(shown.stdout.decode().startswith(usage), lang)
        tabs = run([quillet, "tabs"], input="      x\r\n\u3000\u3000y\n".encode())
        self.assertEqual((tabs.returncode, tabs.stdout), (0, "\t  x\r\n\ty\n".encode()))

    def test_binary_is_stripped(self):
        sections = run(["objdump", "-h", os.path.join(self.root, "usr/bin/quillet")],
                       text=True, check=True).stdout
        self.assertNotIn(".symtab", sections)
        self.assertNotIn(".debug_info", sections)

    def test_manual_pages_render(self):
        pages = [os.path.join(d, f) for d, _, names in os.walk(os.path.join(self.root, "usr/share/man"))
                 for f in names]
        self.assertIn(os.path.join(self.root, "usr/share/man/man1/quillet.1.gz"), pages)
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80", MAN_KEEP_FORMATTING="")
        for page in pages:
            with self.subTest(page=page):
                shown = run(["man", "-l", page], env=env)
                self.assertEqual(shown.stderr, b"")
                self.assertEqual(shown.returncode, 0, shown.stderr)
                self.assertIn(b"quillet", shown.stdout)
                with gzip.open(page) as f:
                    checked = run(["groff", "-k", "-man", "-Tutf8", "-ww", "-z"], input=f.read())
                self.assertEqual((checked.returncode, checked.stderr), (0, b""))

    def test_copyright(self):
        with open(os.path.join(self.root, "usr/share/doc/quillet/copyright"), encoding="utf-8") as f:
            text = f.read()
        self.assertTrue(text.startswith("Format: https://www.debian.org/doc/packaging-manuals/"
                                        "copyright-format/1.0/\n"))
        self.assertRegex(text, r"(?m)^Files: \*\nCopyright: .+\nLicense: Expat$")
        self.assertIn("Permission is hereby granted, free of charge", text)

    @unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0, "needs root")
    @unittest.skipIf(os.environ.get("QUILLET_NO_DPKG") == "1", "QUILLET_NO_DPKG=1")
    def test_dpkg_install_and_remove(self):
        if installed_status():
            self.skipTest("a quillet package is known to dpkg already: left alone")

        def dpkg(args):
            # Another package manager run may hold the lock for a while.
            for _ in range(60):
                result = run(args, text=True, env=dict(os.environ, DEBIAN_FRONTEND="noninteractive"))
                if result.returncode == 0 or "lock" not in result.stderr.lower():
                    return result
                time.sleep(5)
            return result

        try:
            installed = dpkg(["dpkg", "-i", self.deb])
            self.assertEqual(installed.returncode, 0, installed.stderr)
            self.assertEqual(installed_status(), "install ok installed")
            version = run(["/usr/bin/quillet", "--version"], text=True)
            self.assertEqual(version.stdout.splitlines()[0], "quillet (Quillet) %s" % VERSION)
            self.assertEqual(run(["man", "-w", "quillet"], text=True).stdout.strip(),
                             "/usr/share/man/man1/quillet.1.gz")
            removed = dpkg(["apt-get", "remove", "-y", "-q", "quillet"])
            self.assertEqual(removed.returncode, 0, removed.stderr)
            self.assertIn(installed_status(), ("", "unknown ok not-installed",
                                               "deinstall ok not-installed"))
            for path in ("/usr/bin/quillet", "/usr/share/man/man1/quillet.1.gz",
                         "/usr/share/doc/quillet"):
                self.assertFalse(os.path.exists(path), path)
        finally:
            if installed_status():
                dpkg(["dpkg", "--purge", "quillet"])


class Zips(unittest.TestCase):
    def test_each_zip(self):
        for arch, (objdump, file_format, architecture) in DLL_FORMATS.items():
            with self.subTest(arch=arch):
                self.check_zip(arch, objdump, file_format, architecture)

    def check_zip(self, arch, objdump, file_format, architecture):
        top = "quillet-%s-%s/" % (VERSION, arch)
        with zipfile.ZipFile(os.path.join(DIST, "quillet-%s-%s.zip" % (VERSION, arch))) as z:
            names = sorted(i.filename for i in z.infolist())
            self.assertEqual(names, sorted(top + n for n in (
                "CHANGELOG.txt", "LICENSE.txt", "quillet.dll", README)))
            # The Japanese name is marked as UTF-8, so that it unpacks as such.
            self.assertTrue(z.getinfo(top + README).flag_bits & 0x800)
            readme = z.read(top + README)
            folder = tempfile.mkdtemp(prefix="quillet-zip-")
            try:
                dll = z.extract(top + "quillet.dll", folder)
                dump = run([objdump, "-f", dll], text=True, check=True).stdout
            finally:
                shutil.rmtree(folder)
            license_text = z.read(top + "LICENSE.txt")
            changelog = z.read(top + "CHANGELOG.txt")
        self.assertIn("file format %s\n" % file_format, dump)
        self.assertIn("architecture: %s," % architecture, dump)
        # UTF-8 with a byte-order mark and CR LF line ends, for Notepad.
        self.assertTrue(readme.startswith(b"\xef\xbb\xbf"))
        for text in (readme, license_text, changelog):
            self.assertNotRegex(text, rb"(?<!\r)\n")
        guide = readme[3:].decode("utf-8")
        for words in ("インストール", "アンインストールしますか？", "quillet-%s-win32.zip" % VERSION,
                      "quillet-%s-win64.zip" % VERSION, "タブ幅は4桁", "𠮷"):
            self.assertIn(words, guide)
        self.assertNotIn("@VERSION@", guide)
        self.assertIn(b"MIT License", license_text)
        self.assertIn(("## %s" % VERSION).encode(), changelog)


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        DIST = os.path.abspath(sys.argv.pop(1))
    unittest.main()
