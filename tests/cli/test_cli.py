#!/usr/bin/env python3
"""End-to-end tests of the quillet command-line filter.

Usage: test_cli.py PATH_TO_QUILLET [unittest arguments], or set QUILLET_BIN.
"""
import itertools
import os
import random
import re
import resource
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

BINARY = os.environ.get("QUILLET_BIN", "")
IDSP = "\u3000"
BLANKS = " \u3000\t"

# Byte forms of a text: (name, Python codec, byte-order mark, --encoding value).
FORMS = [
    ("utf-8", "utf-8", b"", "utf-8"),
    ("utf-8+bom", "utf-8", b"\xef\xbb\xbf", "utf-8"),
    ("utf-16le", "utf-16-le", b"", "utf-16le"),
    ("utf-16le+bom", "utf-16-le", b"\xff\xfe", "utf-16le"),
    ("utf-16be", "utf-16-be", b"", "utf-16be"),
    ("utf-16be+bom", "utf-16-be", b"\xfe\xff", "utf-16be"),
    ("cp932", "cp932", b"", "cp932"),
]


def run(args, data=b"", stdout=subprocess.PIPE, block=None):
    """quillet with args on data; block sets the bytes it reads at a time."""
    env = {k: v for k, v in os.environ.items() if k != "QUILLET_BLOCK_SIZE"}
    if block is not None:
        env["QUILLET_BLOCK_SIZE"] = str(block)
    return subprocess.run([BINARY, *args], input=data, stdout=stdout, stderr=subprocess.PIPE,
                          env=env)


def lines(text):
    """(content, break) pairs, split at CR LF, CR and LF."""
    parts = re.split(r"(\r\n|\r|\n)", text)
    pairs = list(zip(parts[0::2], parts[1::2] + [""]))
    return pairs if pairs[-1] != ("", "") else pairs[:-1]


def indent_width(indent):
    column = 0
    for c in indent:
        column = (column // 4 + 1) * 4 if c == "\t" else column + (2 if c == IDSP else 1)
    return column


def to_spaces(text):
    out = []
    for content, brk in lines(text):
        rest = content.lstrip(BLANKS)
        out.append(" " * indent_width(content[: len(content) - len(rest)]) + rest + brk)
    return "".join(out)


# Independent models of three commands.
MODELS = {
    "1": to_spaces,
    "6": lambda t: "".join(c.lstrip(BLANKS) + b for c, b in lines(t)),
    "7": lambda t: "".join(c.rstrip(BLANKS) + b for c, b in lines(t)),
}


# Character-class conversions: (command, input, expected output), worked out
# from the conversion tables.
CONVERSIONS = [
    ("upper", "ａｂｃ abz\r\nＸ漢1", "ＡＢＣ ABZ\r\nＸ漢1"),
    ("lower", "ＡＢＣ ABZ\nｘ", "ａｂｃ abz\nｘ"),
    ("fullwidth-letters", "Az ｂ1\n", "Ａｚ ｂ1\n"),
    ("halfwidth-letters", "Ａｚ b１\n", "Az b１\n"),
    ("fullwidth-symbols", "\\'\" a!~\n", "￥’”" + IDSP + "a！~\n"),
    ("halfwidth-symbols", "￥’”" + IDSP + "＼！\n", "\\'\" ＼!\n"),
    ("fullwidth-digits", "09-+/.a\r", "０９－＋／．a\r"),
    ("halfwidth-digits", "０９－＋／．ａ\r", "09-+/.ａ\r"),
    ("fullwidth-katakana", "ｶﾞ\r\nﾊﾟｱﾟ ｳﾞ\nﾞ", "ガ\r\nパア゜ ウﾞ\nﾞ"),
    ("halfwidth-katakana", "ガパ\nアヴ", "ｶﾞﾊﾟ\nｱヴ"),
    ("hiragana", "ｶﾞカー「ヴ\n", "がかー「ヴ\n"),
    ("katakana", "がゐ\nあ", "ガゐ\nア"),
]


def is_cp932(data):
    try:
        data.decode("cp932")
        return True
    except UnicodeDecodeError:
        return False


def random_texts(count, alphabet, seed=7):
    rng = random.Random(seed)
    return ["".join(rng.choice(alphabet) for _ in range(rng.randint(0, 40))) for _ in range(count)]


class FilterTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def file(self, name, data, mode=0o644):
        path = os.path.join(self.dir.name, name)
        with open(path, "wb") as f:
            f.write(data)
        os.chmod(path, mode)
        os.utime(path, (1_000_000_000, 1_000_000_000))
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def assertOk(self, result, stdout):
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(result.stdout, stdout)

    def test_commands_against_models(self):
        alphabet = [" ", " ", IDSP, "\t", "\t", "a", "漢", "\r", "\n", "\r\n"]
        texts = ["  a \r\n\t漢\t \n" + IDSP + "b" + IDSP, " \t x", "\t\t", ""]
        for text in texts + random_texts(60, alphabet):
            for command, model in MODELS.items():
                with self.subTest(command=command, text=text):
                    self.assertOk(run([command], text.encode()), model(text).encode())

    def test_names_and_numbers_agree(self):
        text = " \t" + IDSP + "a  \r\n" + IDSP * 3 + "bb\t\n\tc"
        names = ["spaces", "fullwidth", "tabs", "double", "halve", "unindent", "trim", "pad",
                 "pad-tabs"]
        for number, name in enumerate(names, 1):
            with self.subTest(name=name):
                by_number = run([str(number)], text.encode())
                self.assertOk(run([name], text.encode()), by_number.stdout)
                self.assertNotEqual(by_number.stdout, text.encode())

    def test_every_form_changed_and_unchanged(self):
        for name, codec, bom, option in FORMS:
            text = "  一行目 \u3000\r\n\t二行目\t\n" + IDSP + "三行目  "
            text += "" if codec == "cp932" else "\U0001F600 "
            encoded = bom + text.encode(codec)
            # UTF-16 without a mark is only recognised when named.
            option_sets = [["-e", option]] + ([[]] if bom or codec in ("utf-8", "cp932") else [])
            for command, options in itertools.product(["1", "3", "5", "7", "9"], option_sets):
                with self.subTest(form=name, command=command, options=options):
                    result = run(options + [command], encoded)
                    # Every form must give the UTF-8 run's text, in its own bytes.
                    reference = run([command], text.encode()).stdout.decode()
                    self.assertOk(result, bom + reference.encode(codec))
                    self.assertNotEqual(result.stdout, encoded)
                    if command in MODELS:
                        self.assertEqual(reference, MODELS[command](text))
                    if command != "5":  # the others settle after one run
                        self.assertOk(run(options + [command], result.stdout), result.stdout)

    def test_unchanged_input_comes_back_byte_for_byte(self):
        cases = [
            ("empty", [], b""),
            ("bom only", [], b"\xef\xbb\xbf"),
            ("utf-16 bom only", [], b"\xff\xfe"),
            # The duplicate CP932 form of U+2252 is kept when nothing changes.
            ("cp932 duplicate form", [], b"\x87\x90abc\r\n"),
            ("lone surrogates", ["-e", "utf-16le"],
             "a\ud800\r\n\udc00b".encode("utf-16-le", "surrogatepass")),
            ("astral", [], "\U0001F600x\n".encode()),
        ]
        for name, options, data in cases:
            for command in ["1", "6", "7"]:
                with self.subTest(name=name, command=command):
                    self.assertOk(run(options + [command], data), data)

    def test_lone_surrogates_pass_through(self):
        text = " \ud800 x \t\r\n\t\udc00\udc00 \n\ud83d\ude00  "
        for codec, bom in [("utf-16-le", b"\xff\xfe"), ("utf-16-be", b"\xfe\xff")]:
            for command, model in MODELS.items():
                with self.subTest(codec=codec, command=command):
                    data = bom + text.encode(codec, "surrogatepass")
                    expected = bom + model(text).encode(codec, "surrogatepass")
                    self.assertOk(run([command], data), expected)

    def test_encoding_option_spellings(self):
        data = "\tあ \n".encode("cp932")
        expected = "    あ \n".encode("cp932")
        for options in [[], ["-e", "cp932"], ["--encoding", "cp932"], ["--encoding=CP932"]]:
            with self.subTest(options=options):
                self.assertOk(run(options + ["spaces"], data), expected)

    def test_invalid_input(self):
        cases = [
            # (name, options, bytes, offset of the first bad byte)
            ("utf-8 overlong", ["-e", "utf-8"], b"ab\xc0\x80", 2),
            ("utf-8 overlong 3", ["-e", "utf-8"], b"\xe0\x80\xaf", 0),
            ("utf-8 surrogate", ["-e", "utf-8"], b"a\xed\xa0\x80", 1),
            ("utf-8 beyond U+10FFFF", ["-e", "utf-8"], b"\xf4\x90\x80\x80", 0),
            ("utf-8 truncated", ["-e", "utf-8"], b"abc\xe3\x81", 3),
            ("utf-8 stray continuation", ["-e", "utf-8"], b" a\x80", 2),
            ("utf-8 after bom", [], b"\xef\xbb\xbf a\xff", 5),
            ("utf-16le odd", [], b"\xff\xfe \x00a", 4),
            ("utf-16be odd", ["-e", "utf-16be"], b"\x00 \x00", 2),
            ("cp932 lone lead byte", [], b"\x82\xa0abc\x81", 5),
            ("cp932 bad trail byte", ["-e", "cp932"], b" \x82\xa0\x81\x20", 3),
        ]
        for name, options, data, offset in cases:
            with self.subTest(name=name, to="stdout"):
                result = run(options + ["7"], data)
                self.assertEqual((result.returncode, result.stdout), (2, b""))
                self.assertIn(b"<stdin>", result.stderr)
                self.assertIn(b"byte offset %d" % offset, result.stderr)
            with self.subTest(name=name, to="in place"):
                path = self.file("bad.txt", data)
                before = os.stat(path)
                result = run(options + ["-i", "7", path])
                self.assertEqual(result.returncode, 2)
                self.assertIn(path.encode() + b": ", result.stderr)
                self.assertIn(b"byte offset %d" % offset, result.stderr)
                self.assertEqual(self.read(path), data)
                after = os.stat(path)
                self.assertEqual(after.st_ino, before.st_ino)
                self.assertEqual(after.st_mtime_ns, before.st_mtime_ns)

    def test_in_place(self):
        changed = self.file("changed.txt", "\tあ  \r\nい\t\n".encode("utf-16-le"), 0o640)
        unchanged = self.file("unchanged.txt", b"a\nb", 0o604)
        link = os.path.join(self.dir.name, "link.txt")
        os.symlink("changed.txt", link)
        before = os.stat(unchanged)
        result = run(["--in-place", "-e", "utf-16le", "7", link])
        self.assertEqual((result.returncode, result.stdout, result.stderr), (0, b"", b""))
        self.assertOk(run(["-i", "7", unchanged]), b"")
        self.assertEqual(self.read(changed), "\tあ\r\nい\n".encode("utf-16-le"))
        self.assertTrue(os.path.islink(link))
        self.assertEqual(stat.S_IMODE(os.stat(changed).st_mode), 0o640)
        after = os.stat(unchanged)
        self.assertEqual((after.st_ino, after.st_mtime_ns), (before.st_ino, before.st_mtime_ns))
        self.assertEqual(sorted(os.listdir(self.dir.name)),
                         ["changed.txt", "link.txt", "unchanged.txt"])

    def test_several_files(self):
        first = self.file("1.txt", b" a \n")
        second = self.file("2.txt", b"\xff\xfe" + " b\t".encode("utf-16-le"))
        bad = self.file("3.txt", b"\xef\xbb\xbf\xff")
        missing = os.path.join(self.dir.name, "missing.txt")
        cases = [
            # (files, exit status, expected stdout, names in stderr)
            ([first, second], 0, b" a\n" + b"\xff\xfe" + " b".encode("utf-16-le"), []),
            ([first, bad, second], 2, b" a\n\xff\xfe" + " b".encode("utf-16-le"), [bad]),
            ([missing, first, self.dir.name, second], 1,
             b" a\n\xff\xfe" + " b".encode("utf-16-le"), [missing, self.dir.name]),
            ([missing, bad], 2, b"", [missing, bad]),
        ]
        for files, status, stdout, named in cases:
            with self.subTest(files=[os.path.basename(f) for f in files]):
                result = run(["trim", *files])
                self.assertEqual((result.returncode, result.stdout), (status, stdout))
                for path in named:
                    self.assertIn(path.encode() + b": ", result.stderr)
                self.assertEqual(len(result.stderr.splitlines()), len(named))

    def test_several_files_in_place(self):
        paths = [self.file("%d.txt" % i, (IDSP * i + "x \n").encode("cp932")) for i in range(3)]
        missing = os.path.join(self.dir.name, "missing.txt")
        result = run(["-i", "tabs", paths[0], missing, paths[1], paths[2]])
        self.assertEqual((result.returncode, result.stdout), (1, b""))
        self.assertIn(missing.encode(), result.stderr)
        for i, path in enumerate(paths):
            indent = "\t" * (i // 2) + "  " * (i % 2)
            self.assertEqual(self.read(path), (indent + "x \n").encode("cp932"))

    @unittest.skipIf(os.geteuid() == 0, "root reads every file")
    def test_unreadable_file(self):
        locked = self.file("locked.txt", b" a\n", 0o000)
        other = self.file("other.txt", b" b\n")
        result = run(["6", locked, other])
        self.assertEqual((result.returncode, result.stdout), (1, b"b\n"))
        self.assertIn(locked.encode(), result.stderr)

    def test_write_error_on_stdout(self):
        path = self.file("in.txt", b" a\n")
        for args in [["7"], ["6", path, path], ["--help"], ["--version"]]:
            with self.subTest(args=args), open("/dev/full", "wb") as full:
                result = run(args, b" a \n", stdout=full)
                self.assertEqual(result.returncode, 1)
                self.assertIn(b"<stdout>", result.stderr)
                self.assertEqual(len(result.stderr.splitlines()), 1)

    def assertLeftAlone(self, result, path, data):
        """A refused in-place run: status 1, the file named, as it was, no temporary file."""
        self.assertEqual((result.returncode, result.stdout), (1, b""))
        self.assertIn(path.encode() + b": ", result.stderr)
        self.assertEqual(self.read(path), data)
        self.assertEqual(os.listdir(os.path.dirname(path)), [os.path.basename(path)])

    def test_in_place_when_the_disk_fills(self):
        # Tabs that command 1 turns into four spaces each: the result is
        # about three times the input.
        data = b"\t\t\tx\n" * 40000
        path = self.file("in.txt", data)

        def small_files():
            resource.setrlimit(resource.RLIMIT_FSIZE, (len(data), len(data)))
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)  # a write past it fails with EFBIG

        result = subprocess.run([BINARY, "-i", "1", path], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, preexec_fn=small_files)
        self.assertLeftAlone(result, path, data)

    def test_in_place_on_a_full_file_system(self):
        mount = os.path.join(self.dir.name, "small")
        os.mkdir(mount)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=256k", "tmpfs", mount],
                          stderr=subprocess.DEVNULL).returncode != 0:
            self.skipTest("cannot mount a small file system here")
        self.addCleanup(subprocess.run, ["umount", mount])
        data = b"\t\t\tx\n" * 40000  # 200 kB, about 600 kB as spaces
        path = os.path.join(mount, "in.txt")
        with open(path, "wb") as f:
            f.write(data)
        self.assertLeftAlone(run(["-i", "1", path]), path, data)

    def test_file_changing_while_read(self):
        # Commands 8 and 9 read the file twice, the others once; it grows, or
        # another file is renamed over it, while they run. The file ends up
        # as the other writer left it, and the run reports the change, unless
        # it was done before the writer started.
        data = "\t行 \n".encode() * 2_000_000
        path = self.file("in.txt", data)
        other = os.path.join(self.dir.name, "other.txt")

        def grow():
            with open(path, "ab") as f:
                f.write(b"more\n")
            return data + b"more\n"

        def replace():
            with open(other, "wb") as f:
                f.write(b"new\n")
            os.rename(other, path)
            return b"new\n"

        for args, change in ((["8", path], grow), (["-i", "8", path], grow),
                             (["-i", "1", path], grow), (["-i", "1", path], replace)):
            with self.subTest(args=args, change=change.__name__):
                with open(path, "wb") as f:
                    f.write(data)
                os.utime(path, (1_000_000_000, 1_000_000_000))
                process = subprocess.Popen([BINARY, *args], stdout=subprocess.DEVNULL,
                                           stderr=subprocess.PIPE)
                time.sleep(0.05)
                expected = change()
                _, stderr = process.communicate()
                if process.returncode == 0:  # done before the file changed
                    continue
                self.assertEqual(process.returncode, 1)
                # A file renamed over it after the last read is caught when
                # the result would take its place.
                self.assertTrue(b"changed while it was being read" in stderr
                                or (change is replace and b"replaced by another file" in stderr),
                                stderr)
                self.assertEqual(self.read(path), expected)
                self.assertEqual(os.listdir(self.dir.name), ["in.txt"])

    def test_conversions_in_every_form(self):
        for command, text, expected in CONVERSIONS:
            for name, codec, bom, option in FORMS:
                data = bom + text.encode(codec)
                # Without a mark only UTF-8, and CP932 that is not UTF-8, are recognised.
                detected = bom or codec == "utf-8" or (codec == "cp932" and data != text.encode())
                for options in [["-e", option]] + ([[]] if detected else []):
                    with self.subTest(command=command, form=name, options=options):
                        self.assertOk(run(options + [command], data), bom + expected.encode(codec))

    def test_conversions_keep_every_character_in_cp932(self):
        # Every single-byte character and every character of the CP932 rows
        # holding the symbols, the Latin letters, the digits and the kana:
        # each result must be written back in CP932 and agree with the UTF-8 run.
        chars = [bytes([b]) for b in [*range(0x20, 0x7F), *range(0xA1, 0xE0)]]
        chars += [bytes([lead, trail]) for lead in range(0x81, 0x85)
                  for trail in [*range(0x40, 0x7F), *range(0x80, 0xFD)]]
        data = b"".join(c for c in chars if is_cp932(c))
        for command, _, _ in CONVERSIONS:
            with self.subTest(command=command):
                by_utf8 = run([command], data.decode("cp932").encode())
                self.assertEqual((by_utf8.returncode, by_utf8.stderr), (0, b""))
                self.assertNotEqual(by_utf8.stdout, data.decode("cp932").encode())
                by_cp932 = run(["-e", "cp932", command], data)
                self.assertEqual((by_cp932.returncode, by_cp932.stderr), (0, b""))
                self.assertEqual(by_cp932.stdout.decode("cp932"), by_utf8.stdout.decode())

    def test_conversions_unchanged_and_refused(self):
        path = self.file("kana.txt", "ｶﾞｷ\r\n".encode("cp932"))
        kept = self.file("kept.txt", b"\x87\x90ABC")  # a duplicate CP932 form, upper case
        before = os.stat(kept)
        self.assertOk(run(["-i", "fullwidth-katakana", path, kept]), b"")
        self.assertEqual(self.read(path), "ガキ\r\n".encode("cp932"))
        after = os.stat(kept)
        self.assertEqual((after.st_ino, after.st_mtime_ns), (before.st_ino, before.st_mtime_ns))
        cases = [
            # (command, options, bytes, exit status, stdout, in stderr)
            ("upper", [], b"\x87\x90ABC\n", 0, b"\x87\x90ABC\n", b""),
            ("katakana", [], "\U0001F600 漢\n".encode(), 0, "\U0001F600 漢\n".encode(), b""),
            ("lower", ["-e", "utf-16le"], "\ud800A".encode("utf-16-le", "surrogatepass"), 0,
             "\ud800a".encode("utf-16-le", "surrogatepass"), b""),
            ("lower", [], b"\x87\x90ABC\n", 2, b"", b"byte offset 0"),
            ("hiragana", ["-e", "utf-8"], b"\xb6\xde", 2, b"", b"byte offset 0"),
            ("Upper", [], b"a", 2, b"", b"unknown command 'Upper'"),
            ("12", [], b"a", 2, b"", b"unknown command '12'"),
        ]
        for command, options, data, status, stdout, message in cases:
            with self.subTest(command=command, data=data):
                result = run(options + [command], data)
                self.assertEqual((result.returncode, result.stdout), (status, stdout))
                self.assertIn(message, result.stderr)

    def test_help_and_version(self):
        result = run(["--help"])
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        help_lines = result.stdout.decode().splitlines()
        # The menu's rows in order: headings alone on a line, items as "N  name  label".
        rows = ["インデント種類変更", "1 spaces 半角スペース", "2 fullwidth 全角スペース",
                "3 tabs タブ", "インデント数変更", "4 double x2", "5 halve 1/2",
                "6 unindent インデント削除", "7 trim 行末空白削除", "行末空白埋め",
                "8 pad スペース", "9 pad-tabs +1タブ"]
        rows += [command for command, _, _ in CONVERSIONS]  # a group of their own, by kind
        found = [i for row in rows for i, line in enumerate(help_lines)
                 if line.split()[: len(row.split())] == row.split()]
        self.assertEqual(len(found), len(rows))
        self.assertEqual(found, sorted(found))
        self.assertOk(run(["-h"]), result.stdout)
        version = run(["--version"])
        self.assertEqual((version.returncode, version.stderr), (0, b""))
        self.assertEqual(version.stdout.splitlines()[0], b"quillet (Quillet) 3.8.1")
        self.assertIn(b"License MIT", version.stdout)

    def test_usage_errors(self):
        cases = [([], None), (["0"], None), (["10"], None), (["Trim"], None),
                 (["--bogus", "1"], None), (["-x", "1"], None), (["-e"], None),
                 (["-e", "latin1", "1"], None), (["--encoding=", "1"], None), (["-i", "1"], None),
                 (["--in-place", "7"], None), (["7"], "0"), (["7"], "4k"), (["7"], "")]
        for args, block in cases:
            with self.subTest(args=args, block=block):
                result = run(args, b" a\n", block=block)
                self.assertEqual((result.returncode, result.stdout), (2, b""))
                self.assertIn(b"Usage: quillet", result.stderr)


# Lines that put CR LF pairs, lone CRs, multi-byte characters, surrogate pairs
# and voiced kana pairs at every offset of a block of a few bytes: each line
# shifts the next by a different amount. Every line is valid in every form.
TRICKY = ("\t a\r\n\r\n  漢字 \u3000\r\r\n\u3000\u3000ｶﾞｷﾞ\t\n\r\n\n\t\tソ表ー\r"
          "x\r\n \t\u3000ﾊﾟ  \r\n\r\r\u3000あア  \n    ﾎﾟｳﾞ\r\nＡｂ1２  \t\r"
          "\r\n\t末行  ")
ASTRAL = "\U0001F600 \r\n \U0001F601\t\r\n"  # not in CP932
COMMANDS = [str(n) for n in range(1, 10)] + ["fullwidth-katakana", "halfwidth-katakana",
                                            "hiragana", "upper", "fullwidth-symbols"]


class BlockTest(unittest.TestCase):
    """A few bytes at a time, the output is byte for byte that of the whole text."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)

    def file(self, data):
        path = os.path.join(self.dir.name, "in.txt")
        with open(path, "wb") as f:
            f.write(data)
        os.utime(path, (1_000_000_000, 1_000_000_000))
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def assertSameRun(self, result, whole):
        self.assertEqual((result.returncode, result.stderr), (whole.returncode, whole.stderr))
        self.assertEqual(result.stdout, whole.stdout)

    def test_every_block_size_in_every_form(self):
        for name, codec, bom, option in FORMS:
            text = TRICKY + ("" if codec == "cp932" else ASTRAL) + "\r"
            data = bom + text.encode(codec)
            for command in COMMANDS:
                whole = run(["-e", option, command], data)
                self.assertEqual(whole.returncode, 0)
                for block in range(1, 17):
                    with self.subTest(form=name, command=command, block=block):
                        self.assertSameRun(run(["-e", option, command], data, block=block), whole)

    def test_every_form_gives_the_same_text(self):
        # UTF-8 is rewritten without being decoded, the other forms through
        # the characters: the texts must agree, at any block size.
        text = TRICKY + "\r"
        for command in COMMANDS:
            results = set()
            for name, codec, bom, option in FORMS:
                data = bom + text.encode(codec)
                for block in [None, 3, 7]:
                    result = run(["-e", option, command], data, block=block)
                    self.assertEqual(result.returncode, 0, (name, command, block))
                    results.add(result.stdout[len(bom):].decode(codec))
            with self.subTest(command=command):
                self.assertEqual(len(results), 1, results)

    def test_random_texts_from_files_and_in_place(self):
        alphabet = [" ", IDSP, "\t", "a", "漢", "\r", "\n", "\r\n", "ｶ", "ﾞ", "ﾟ", "\t\tlong"]
        for i, text in enumerate(random_texts(12, alphabet, seed=11)):
            name, codec, bom, option = FORMS[i % len(FORMS)]
            data = bom + text.encode(codec)
            path = self.file(data)
            for command in ["3", "5", "7", "8", "9", "fullwidth-katakana"]:
                whole = run(["-e", option, command], data)
                for block in [1, 2, 3, 5, 8, 13]:
                    with self.subTest(form=name, command=command, text=text, block=block):
                        self.assertSameRun(run(["-e", option, command, path], block=block), whole)
                        result = run(["-e", option, "-i", command, path], block=block)
                        self.assertEqual((result.returncode, result.stderr), (0, b""))
                        self.assertEqual(self.read(path), whole.stdout)
                        with open(path, "wb") as f:
                            f.write(data)

    def test_longer_text_in_a_few_blocks(self):
        # Lines of growing width, the widest in the middle: blocks of 64 KiB
        # and less, including the padded ones, against the whole text.
        lines = ["\t" * (i % 7) + "字" * (i % 90) + " " * (i % 3) for i in range(6000)]
        lines[3001] = "x" * 400
        data = "\r\n".join(lines).encode()
        path = self.file(data)
        for command in ["1", "4", "7", "8", "9", "katakana"]:
            whole = run([command], data)
            for block in [4093, 65536]:
                with self.subTest(command=command, block=block):
                    self.assertSameRun(run([command, path], block=block), whole)

    def test_unchanged_input_untouched(self):
        data = "\ufeffa\r\n\u3000b\r\nc".encode()
        path = self.file(data)
        before = os.stat(path)
        for block in [1, 2, 4]:
            with self.subTest(block=block):
                result = run(["7", path], block=block)
                self.assertEqual((result.returncode, result.stdout), (0, data))
                self.assertEqual(run(["-i", "7", path], block=block).returncode, 0)
                after = os.stat(path)
                self.assertEqual((after.st_ino, after.st_mtime_ns), (before.st_ino, before.st_mtime_ns))
                self.assertEqual(os.listdir(self.dir.name), ["in.txt"])

    def test_late_refusals(self):
        head = "  行 \r\n".encode() * 40  # changed by command 7, block after block
        cases = [
            # (name, options, bytes, offset, in stderr)
            ("utf-8", ["-e", "utf-8"], head + b"ab\xe3\x81\n", len(head) + 2, b"invalid UTF-8"),
            ("utf-8 at the end", ["-e", "utf-8"], head + b"a\xe3", len(head) + 1, b"UTF-8"),
            ("cp932 not utf-8 either", [], b"  a \r\n" * 40 + b"a\x82\xa0 \x81\r\n", 244,
             b"not UTF-8 either"),
            ("utf-16le odd", [], b"\xff\xfe" + " a \r\n".encode("utf-16-le") * 30 + b"\n",
             2 + 10 * 30, b"UTF-16LE"),
            # Long inputs are checked in two halves at once: the first error
            # is still the one named.
            ("utf-8 in both halves", ["-e", "utf-8"], head + b"a\xff\n" + head + b"b\xfe\n" + head,
             len(head) + 1, b"invalid UTF-8"),
        ]
        for name, options, data, offset, message in cases:
            path = self.file(data)
            before = os.stat(path)
            for block in [1, 5, 16, None]:
                with self.subTest(name=name, block=block):
                    for args in (options + ["7"], options + ["7", path], options + ["-i", "7", path]):
                        result = run(args, data if len(args) == len(options) + 1 else b"",
                                     block=block)
                        self.assertEqual((result.returncode, result.stdout), (2, b""))
                        self.assertIn(b"byte offset %d" % offset, result.stderr)
                        self.assertIn(message, result.stderr)
                    after = os.stat(path)
                    self.assertEqual((self.read(path), after.st_ino, after.st_mtime_ns),
                                     (data, before.st_ino, before.st_mtime_ns))
                    self.assertEqual(os.listdir(self.dir.name), ["in.txt"])

    def test_late_cp932_is_found_before_anything_is_written(self):
        # Valid UTF-8 up to a CP932 character near the end: the whole input is
        # CP932, as the whole text decides.
        data = " a \r\n".encode() * 50 + "\tｶﾞ表 \r\n".encode("cp932")
        whole = run(["7"], data)
        self.assertEqual(whole.stdout, data.decode("cp932").replace(" \r\n", "\r\n").encode("cp932"))
        path = self.file(data)
        for block in [1, 3, 7, 16]:
            with self.subTest(block=block):
                self.assertSameRun(run(["7"], data, block=block), whole)
                self.assertSameRun(run(["7", path], block=block), whole)
                self.assertEqual(run(["-i", "7", path], block=block).returncode, 0)
                self.assertEqual(self.read(path), whole.stdout)
                with open(path, "wb") as f:
                    f.write(data)


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        BINARY = sys.argv.pop(1)
    if not BINARY:
        sys.exit("usage: test_cli.py PATH_TO_QUILLET (or set QUILLET_BIN)")
    unittest.main()
