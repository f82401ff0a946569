#!/usr/bin/env python3
"""The filter's command line from the outside: GNU option forms, encoding
names, usage errors and their messages, unknown commands, --version.

Usage: test_options.py PATH_TO_QUILLET [unittest arguments], or set QUILLET_BIN.
"""
import os
import subprocess
import sys
import tempfile
import unittest

BINARY = os.environ.get("QUILLET_BIN", "")
IDSP = "\u3000"

# Lines with blanks at their ends and an indent of a tab: command 7 (trim)
# takes the ends off whatever the tab width; command 8 (pad) would pad them.
TEXT = "\tab \nc" + IDSP + "\t\n"
TRIMMED = "\tab\nc\n"

NAMES = ["auto", "utf-8", "utf8", "utf-16", "utf-16le", "utf-16be", "cp932", "sjis",
         "shift_jis", "shift-jis", "windows-31j", "ms932"]


def run(args, data=b""):
    env = {k: v for k, v in os.environ.items()
           if not k.startswith("LC_") and k not in ("LANGUAGE", "QUILLET_BLOCK_SIZE")}
    env["LANG"] = "C.UTF-8"
    return subprocess.run([BINARY, *args], input=data, capture_output=True, env=env)


class Files(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.old = os.getcwd()
        os.chdir(self.dir.name)
        self.addCleanup(os.chdir, self.old)

    def file(self, name, data):
        with open(name, "wb") as f:
            f.write(data)
        return name

    def read(self, name):
        with open(name, "rb") as f:
            return f.read()


class OptionForms(Files):
    """Each form gives what its plain spelling gives."""

    def test_forms_of_the_same_run(self):
        cases = [
            # (arguments, files rewritten in place)
            (["-it8", "trim", "a"], ["a"]),
            (["-i", "-t", "8", "trim", "a"], ["a"]),
            (["--in-place", "--tab-width", "8", "trim", "a"], ["a"]),
            (["--in-place", "--tab-width=8", "trim", "a"], ["a"]),
            (["--in", "--tab=8", "trim", "a"], ["a"]),
            (["trim", "a", "-i"], ["a"]),
            (["trim", "a", "--in-place", "b", "-t2"], ["a", "b"]),
            (["trim", "-i", "--", "-b"], ["-b"]),
            (["--", "trim", "a"], []),
            (["-t", "8", "trim", "a", "-"], []),
            (["--tab-width", "8", "trim", "a"], []),
            (["trim", "--tab-width=8", "a"], []),
            (["-t8", "trim", "a"], []),
            (["--editorconfig", "trim", "a"], []),
            (["--lines=1:5", "--lines", "2:9", "trim", "a"], []),
        ]
        for args, rewritten in cases:
            with self.subTest(args=args):
                for name in ("a", "b", "-b"):
                    self.file(name, TEXT.encode())
                result = run(args, TEXT.encode())
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                if rewritten:
                    self.assertEqual(result.stdout, b"")
                else:
                    # Each input once, in order: the FILE operands (and '-').
                    inputs = len([a for a in args if a in ("a", "-")])
                    self.assertEqual(result.stdout, TRIMMED.encode() * inputs)
                for name in ("a", "b", "-b"):
                    expected = TRIMMED if name in rewritten else TEXT
                    self.assertEqual(self.read(name), expected.encode(), name)

    def test_a_value_is_never_taken_for_the_command(self):
        # Were "8" read as the command, the lines would be padded (command 8).
        for args in (["-t", "8", "trim"], ["--tab-width", "8", "trim"], ["trim", "-t", "8"],
                     ["-e", "utf-8", "trim"], ["--lines", "1:9", "trim"]):
            with self.subTest(args=args):
                result = run(args, TEXT.encode())
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertEqual(result.stdout, TRIMMED.encode())

    def test_encoding_in_every_form(self):
        # Valid UTF-8 (é) that is also two half-width katakana in CP932: only
        # a named CP932 reads it as the katakana and makes them full-width.
        data = b"\xc3\xa9\n"
        katakana = "テゥ\n".encode("cp932")
        for args in (["-ecp932"], ["-e", "cp932"], ["--encoding=cp932"], ["--encoding", "cp932"],
                     ["--enc=cp932"], ["--en", "cp932"], ["fullwidth-katakana", "--enc=cp932"]):
            with self.subTest(args=args):
                command = [] if "fullwidth-katakana" in args else ["fullwidth-katakana"]
                result = run(args + command, data)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertEqual(result.stdout, katakana)
        self.assertEqual(run(["fullwidth-katakana"], data).stdout, data)


class EncodingNames(unittest.TestCase):
    def test_every_name_in_any_letter_case(self):
        cp932 = (b"\xc3\xa9\n", "テゥ\n".encode("cp932"))  # é in UTF-8, ﾃｩ in CP932
        utf8 = ("ｶ\n".encode(), "カ\n".encode())
        cases = {
            "auto": utf8, "utf-8": utf8, "utf8": utf8,
            "utf-16": (b"\xff\xfe" + "ｶ\n".encode("utf-16-le"),
                       b"\xff\xfe" + "カ\n".encode("utf-16-le")),
            "utf-16le": ("ｶ\n".encode("utf-16-le"), "カ\n".encode("utf-16-le")),
            "utf-16be": ("ｶ\n".encode("utf-16-be"), "カ\n".encode("utf-16-be")),
            "cp932": cp932, "sjis": cp932, "shift_jis": cp932, "shift-jis": cp932,
            "windows-31j": cp932, "ms932": cp932,
        }
        self.assertEqual(sorted(cases), sorted(NAMES))
        for name, (data, expected) in cases.items():
            for spelling in {name, name.upper(), name.title(), name.capitalize()}:
                with self.subTest(name=spelling):
                    result = run(["-e", spelling, "fullwidth-katakana"], data)
                    self.assertEqual((result.returncode, result.stderr), (0, b""))
                    self.assertEqual(result.stdout, expected)

    def test_utf16_needs_a_mark_of_either_order(self):
        cases = [
            # (input, exit status, output, in stderr)
            (b"\xff\xfe" + " a \n".encode("utf-16-le"), 0, b"\xff\xfe" + " a\n".encode("utf-16-le"),
             b""),
            (b"\xfe\xff" + " a \n".encode("utf-16-be"), 0, b"\xfe\xff" + " a\n".encode("utf-16-be"),
             b""),
            (b"\xfe\xff", 0, b"\xfe\xff", b""),
            (" a \n".encode("utf-16-le"), 2, b"", b"no UTF-16 byte-order mark"),
            (b" a \n", 2, b"", b"no UTF-16 byte-order mark"),
            (b"", 2, b"", b"no UTF-16 byte-order mark"),
            (b"\xef\xbb\xbf a \n", 2, b"", b"UTF-8 byte-order mark"),
        ]
        for data, status, output, message in cases:
            with self.subTest(data=data):
                result = run(["--encoding=utf-16", "trim"], data)
                self.assertEqual((result.returncode, result.stdout), (status, output))
                self.assertIn(message, result.stderr)
                self.assertEqual(len(result.stderr.splitlines()), 1 if message else 0)

    def test_unknown_name_lists_the_accepted_ones(self):
        for args in (["-e", "latin1"], ["--encoding=euc-jp"], ["-eutf16"], ["--encoding="]):
            with self.subTest(args=args):
                result = run(args + ["trim"], b" a \n")
                self.assertEqual((result.returncode, result.stdout), (2, b""))
                text = result.stderr.decode()
                self.assertIn("unknown encoding '%s'" % args[-1].split("=")[-1].removeprefix("-e"),
                              text)
                listed = text[text.index("Encodings:") + len("Encodings:"):text.index("Usage:")]
                self.assertEqual([n.strip() for n in listed.split(",")], NAMES)


class UsageErrors(Files):
    """Exit 2, nothing written anywhere, and on standard error the problem,
    the usage line and where to find help."""

    def test_usage_errors(self):
        cases = [
            (["-t", "0", "trim", "a"], "invalid tab width '0'"),
            (["-t", "65", "trim", "a"], "invalid tab width '65'"),
            (["-t", "x", "trim", "a"], "invalid tab width 'x'"),
            (["-it", "trim", "a"], "invalid tab width 'trim'"),
            (["--tab-width=", "trim", "a"], "invalid tab width ''"),
            (["--tab-width=-4", "trim", "a"], "invalid tab width '-4'"),
            (["-t", "+8", "trim", "a"], "invalid tab width '+8'"),
            (["-t", " 8", "trim", "a"], "invalid tab width ' 8'"),
            (["-t8i", "trim", "a"], "invalid tab width '8i'"),
            (["--lines=0:3", "trim", "a"], "invalid line range '0:3'"),
            (["--lines=3:2", "trim", "a"], "invalid line range '3:2'"),
            (["--lines=a", "trim", "a"], "invalid line range 'a'"),
            (["--lines=2", "trim", "a"], "invalid line range '2'"),
            (["--lines", "-1:2", "trim", "a"], "invalid line range '-1:2'"),
            (["--lines=1:", "trim", "a"], "invalid line range '1:'"),
            (["--lines=:4", "trim", "a"], "invalid line range ':4'"),
            (["--lines=1:2:3", "trim", "a"], "invalid line range '1:2:3'"),
            (["--lines=1-3", "trim", "a"], "invalid line range '1-3'"),
            (["--lines=1:18446744073709551616", "trim", "a"],
             "invalid line range '1:18446744073709551616'"),
            (["--check", "-i", "trim", "a"], "--check and --in-place cannot be used together"),
            (["-i", "--diff", "trim", "a"], "--in-place and --diff cannot be used together"),
            (["--check", "--diff", "trim", "a"], "--check and --diff cannot be used together"),
            (["-x", "trim", "a"], "unknown option '-x'"),
            (["--bogus", "trim", "a"], "unknown option '--bogus'"),
            (["-ix", "trim", "a"], "unknown option '-x'"),
            (["--bogus=1", "trim", "a"], "unknown option '--bogus'"),
            (["--ver", "trim", "a"], "option '--ver' is ambiguous: it may be --verbose, --version"),
            (["--e=cp932", "trim", "a"],
             "option '--e' is ambiguous: it may be --editorconfig, --encoding"),
            (["--in-place=yes", "trim", "a"], "option '--in-place' takes no value"),
            (["--in=1", "trim", "a"], "option '--in-place' takes no value"),
            (["--check=yes", "trim", "a"], "option '--check' takes no value"),
            (["trim", "a", "-e"], "option '-e' needs a value"),
            (["trim", "a", "--enc"], "option '--encoding' needs a value"),
            (["trim", "a", "--lines"], "option '--lines' needs a value"),
            (["trim", "a", "-it"], "option '-t' needs a value"),
            (["trim", "a", "--tab-width"], "option '--tab-width' needs a value"),
            (["-i", "trim"], "--in-place needs a FILE"),
            (["-i", "trim", "a", "-"], "--in-place cannot rewrite standard input ('-')"),
            ([], "missing COMMAND"),
            (["-i"], "missing COMMAND"),
            (["--", "-i", "trim", "a"], "unknown command '-i'"),
        ]
        for args, problem in cases:
            with self.subTest(args=args):
                self.file("a", TEXT.encode())
                result = run(args, TEXT.encode())
                self.assertEqual((result.returncode, result.stdout), (2, b""))
                lines = result.stderr.decode().splitlines()
                self.assertTrue(lines[0].startswith("quillet: " + problem), lines[0])
                self.assertEqual(lines[-2:], ["Usage: quillet [OPTIONS] COMMAND [FILE...]",
                                              "Try 'quillet --help'."])
                self.assertEqual(self.read("a"), TEXT.encode())
                self.assertEqual(os.listdir("."), ["a"])

    def test_unknown_command_suggests_the_nearest_and_lists_all(self):
        cases = [("trm", "trim"), ("Trim", "trim"), ("spcaes", "spaces"), ("tab", "tabs"),
                 ("Upper", "upper"), ("padtabs", "pad-tabs"), ("katakna", "katakana"),
                 ("qqqq", None), ("10", None), ("0", None)]
        for command, nearest in cases:
            with self.subTest(command=command):
                result = run([command], TEXT.encode())
                self.assertEqual((result.returncode, result.stdout), (2, b""))
                text = result.stderr.decode()
                first = text.splitlines()[0]
                if nearest:
                    self.assertEqual(first, "quillet: unknown command '%s'; did you mean '%s'?"
                                     % (command, nearest))
                elif command.isdigit():
                    self.assertEqual(first, "quillet: unknown command '%s': the line commands "
                                     "are numbered 1 to 9" % command)
                else:
                    self.assertEqual(first, "quillet: unknown command '%s'" % command)
                listed = text[text.index("Commands:") + len("Commands:"):text.index("Usage:")]
                names = [item.strip() for item in listed.split(",")]
                self.assertEqual(names[:9], ["1 spaces", "2 fullwidth", "3 tabs", "4 double",
                                             "5 halve", "6 unindent", "7 trim", "8 pad",
                                             "9 pad-tabs"])
                self.assertEqual(len(names), 21)
                self.assertIn("fullwidth-katakana", names)


class Version(unittest.TestCase):
    def test_version_as_gnu_programs_print_it(self):
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "CMakeLists.txt")) as f:
            version = next(line.split("VERSION")[1].split()[0] for line in f
                           if line.startswith("project(Quillet"))
        for args in (["--version"], ["--vers"], ["--version", "--bogus"], ["trim", "--version"]):
            with self.subTest(args=args):
                result = run(args)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                lines = result.stdout.decode().splitlines()
                self.assertEqual(lines[0], "quillet (Quillet) %s" % version)
                self.assertRegex(lines[1], r"^Copyright \(C\) \d{4} ")
                self.assertIn("MIT", lines[2])


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        BINARY = sys.argv.pop(1)
    if not BINARY:
        sys.exit("usage: test_options.py PATH_TO_QUILLET (or set QUILLET_BIN)")
    BINARY = os.path.abspath(BINARY)  # the tests run in folders of their own
    unittest.main()
