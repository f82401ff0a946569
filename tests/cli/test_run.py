#!/usr/bin/env python3
"""What the filter's run does with its options: tab widths, line ranges,
--check, --diff, --editorconfig and -v; bytes that no command touches; and
memory on long lines.

Usage: test_run.py PATH_TO_QUILLET [unittest arguments], or set QUILLET_BIN.
"""
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

BINARY = os.environ.get("QUILLET_BIN", "")
SANITIZED = "ASAN_OPTIONS" in os.environ
IDSP = "\u3000"
BLANKS = " \u3000\t"


def run(args, data=b"", cwd=None):
    return subprocess.run([BINARY, *args], input=data, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, cwd=cwd)


def lines(text):
    """(content, break) pairs, split at CR LF, CR and LF."""
    parts = re.split(r"(\r\n|\r|\n)", text)
    pairs = list(zip(parts[0::2], parts[1::2] + [""]))
    return pairs if pairs[-1] != ("", "") else pairs[:-1]


def columns(text, tab):
    """Display width with tabs expanded: tab stops every `tab` code page 932
    bytes; one column for U+0020-U+007F, U+203E, U+FF61-U+FF9F, two for any
    other UTF-16 unit."""
    width = column = 0
    for c in text:
        if c == "\t":
            fill = tab - column % tab
            width += fill
            column += fill
            continue
        units = 2 if ord(c) > 0xFFFF else 1
        narrow = 0x20 <= ord(c) <= 0x7F or ord(c) == 0x203E or 0xFF61 <= ord(c) <= 0xFF9F
        width += 1 if narrow else 2 * units
        try:
            column += len(c.encode("cp932"))
        except UnicodeEncodeError:
            column += units
    return width


def split_indent(content):
    rest = content.lstrip(BLANKS)
    return content[: len(content) - len(rest)], rest


def model(command, text, tab, selected=None):
    """Commands spaces, tabs, trim and pad-tabs with tab width `tab`, written
    from their descriptions; `selected` the 1-based line numbers rewritten."""
    pairs = lines(text)
    chosen = set(range(1, len(pairs) + 1)) if selected is None else selected
    widest = max([columns(c.rstrip(BLANKS), tab) for n, (c, b) in enumerate(pairs, 1)
                  if n in chosen] + [0])
    stop = -(-(widest + tab) // tab) * tab
    out = []
    for n, (content, brk) in enumerate(pairs, 1):
        if n not in chosen:
            out.append(content + brk)
            continue
        indent, rest = split_indent(content)
        width = columns(indent, tab)
        if command == "spaces":
            out.append(" " * width + rest + brk)
        elif command == "tabs":
            out.append("\t" * (width // tab) + " " * (width % tab) + rest + brk)
        elif command == "trim":
            out.append(content.rstrip(BLANKS) + brk)
        else:  # pad-tabs
            kept = content.rstrip(BLANKS)
            out.append(kept + "\t" * (stop // tab - columns(kept, tab) // tab) + brk)
    return "".join(out)


def random_text(rng, alphabet, count):
    return "".join(rng.choice(alphabet) for _ in range(count))


class Case(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)

    def file(self, name, data):
        path = os.path.join(self.dir, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()


class TabWidthTest(Case):
    def test_tab_widths_in_every_encoding(self):
        rng = random.Random(13)
        alphabet = [" ", " ", IDSP, "\t", "\t", "a", "漢", "ｶ", "\r\n", "\n", "\r", "x"]
        texts = ["\t" * 3 + "a\t \n  \tb" + IDSP * 3 + "\n" + IDSP + "\t" + " " * 70 + "c  \r\n"]
        texts += [random_text(rng, alphabet, 80) for _ in range(8)]
        for tab in [1, 2, 3, 8, 64]:
            for command in ["spaces", "tabs", "trim", "pad-tabs"]:
                for codec, option in [("utf-8", "utf-8"), ("utf-16-le", "utf-16le"),
                                      ("cp932", "cp932")]:
                    for text in texts:
                        with self.subTest(tab=tab, command=command, codec=codec, text=text):
                            result = run(["-t", str(tab), "-e", option, command],
                                         text.encode(codec))
                            self.assertEqual((result.returncode, result.stderr), (0, b""))
                            self.assertEqual(result.stdout.decode(codec),
                                             model(command, text, tab))

    def test_default_is_four(self):
        data = "\t\u3000\tx  \n".encode()
        self.assertEqual(run(["spaces"], data).stdout, run(["-t", "4", "spaces"], data).stdout)
        self.assertEqual(run(["spaces"], data).stdout, b"        x  \n")


class UntouchedBytesTest(Case):
    def test_cp932_duplicate_forms_keep_their_bytes(self):
        # The NEC row 13 and its IBM twins, and the NEC-selected IBM rows:
        # characters that have two byte forms each.
        twins = [b"\x87\x54", b"\xfa\x4a", b"\x87\x90", b"\x81\xe0", b"\xed\x40", b"\xfa\x5c",
                 b"\x87\x9a", b"\x81\xe6", b"\xee\xf9", b"\x81\xca"]
        body = b"".join(twins)
        data = (b"\t" + body + b"  \r\n" + b"\x81\x40 " + body + b"\x81\x40\t\n" +
                b"  " + body[:6] + b" " + body[6:] + b"\t")
        text = data.decode("cp932")
        for command in ["spaces", "tabs", "trim", "pad-tabs", "pad"]:
            with self.subTest(command=command):
                result = run(["-e", "cp932", command], data)
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                if command != "pad":
                    self.assertEqual(result.stdout.decode("cp932"), model(command, text, 4))
                # Between each line's indent and its blanks at the end, the
                # bytes are the input's, duplicate forms and all.
                for old, new in zip(data.splitlines(), result.stdout.splitlines()):
                    core = old.strip(b" \t").replace(b"\x81\x40", b"").strip(b" \t")
                    self.assertIn(core, new)
                self.assertIn(body, result.stdout)

    @unittest.skipIf(SANITIZED, "the sanitizers' own memory")
    def test_long_lines_in_bounded_memory(self):
        # One line of 120 MB in UTF-8 and UTF-16, and an indent of 90 MB of
        # full-width spaces: the filter holds a window of a line, not all
        # of it.
        long_line = ("\t" + "あa " * 40_000_000 + "  \n").encode()
        indent = (IDSP * 30_000_000 + "x\n").encode()
        cases = [("utf-8 line", long_line, [], ["spaces", "trim", "pad-tabs", "katakana"]),
                 ("utf-16 line", long_line.decode().encode("utf-16-le"), ["-e", "utf-16le"],
                  ["trim", "pad"]),
                 ("indent", indent, [], ["double", "halve", "tabs"])]
        for name, data, options, commands in cases:
            path = self.file("long.txt", data)
            for command in commands:
                with self.subTest(name=name, command=command):
                    result = subprocess.run(
                        ["/usr/bin/time", "-f", "%M", BINARY, *options, command, path],
                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                    self.assertEqual(result.returncode, 0, result.stderr[-400:])
                    self.assertLess(int(result.stderr.split()[-1]), 64 * 1024)
                    tail = b"\n\x00" if options else b"\n"
                    self.assertEqual(result.stdout[-len(tail):], tail)
                    self.assertGreater(len(result.stdout), 1000)


class LinesTest(Case):
    def test_ranges_rewrite_only_their_lines(self):
        # The selected lines come out as the command makes them when they
        # are all it is given, the way the plug-in rewrites a selection: for
        # padding, against the widest of them.
        # (No lone CR: a line cut out and rejoined could join it to an LF.)
        text = "".join("\t" * (i % 3) + "x" * (i * 7 % 11) + " " * (i % 2) + ("\r\n" if i % 2 else "\n")
                       for i in range(1, 13)) + "\tlast  "
        data = text.encode()
        pairs = lines(text)
        cases = [["3:5"], ["1:1", "12:13"], ["2:4", "3:9"], ["10:100"], ["14:20"], ["1:13"],
                 ["7:7", "2:2", "11:12"]]
        for spans in cases:
            chosen = set()
            for span in spans:
                first, last = map(int, span.split(":"))
                chosen |= set(range(first, min(last, len(pairs)) + 1))
            for command in ["spaces", "tabs", "trim", "pad-tabs", "pad", "unindent"]:
                with self.subTest(spans=spans, command=command):
                    args = [a for span in spans for a in ["--lines", span]]
                    result = run(args + [command], data)
                    self.assertEqual((result.returncode, result.stderr), (0, b""))
                    selected = "".join(c + b for n, (c, b) in enumerate(pairs, 1) if n in chosen)
                    alone = lines(run([command], selected.encode()).stdout.decode())
                    expected = [alone.pop(0) if n in chosen else pair
                                for n, pair in enumerate(pairs, 1)]
                    self.assertEqual(result.stdout.decode(), "".join(c + b for c, b in expected))
                    if command in ["spaces", "tabs", "trim", "pad-tabs"]:
                        self.assertEqual(result.stdout.decode(), model(command, text, 4, chosen))

    def test_ranges_with_conversions_are_refused(self):
        result = run(["--lines=1:2", "upper"], b"a\n")
        self.assertEqual((result.returncode, result.stdout), (2, b""))
        self.assertIn(b"--lines", result.stderr)


class BlocksSideBySideTest(Case):
    """Written out whole, a text is rewritten two blocks at a time by two
    engines; a line range that selects every line takes one engine. Both
    must give the same bytes, wherever the blocks end."""

    def run_blocks(self, args, path, block):
        env = dict(os.environ, QUILLET_BLOCK_SIZE=str(block))
        return subprocess.run([BINARY, *args, path], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, env=env)

    def test_two_engines_give_what_one_gives(self):
        rng = random.Random(7)
        pieces = [" ", "\t", IDSP, "x", "日本", "ｶﾞ", "  ", "\r\n", "\n", "\r"]
        text = "".join(rng.choice(pieces) for _ in range(6000)) + "\t" * 3000 + "y" * 5000 + "\n z"
        # A wide line, then short ones after it in blocks of their own: the
        # second block of a pair holds far more padding than it may hold back.
        wide = "w" * 700_000 + "\n" + ("a" * 150 + "\n") * 60
        for name, body in [("mixed", text), ("wide", wide)]:
            for codec, option in [("utf-8", "utf-8"), ("utf-16-le", "utf-16le"), ("cp932", "cp932")]:
                path = self.file("%s.%s" % (name, codec), body.encode(codec))
                commands = ["pad", "pad-tabs"] if name == "wide" else \
                    ["spaces", "tabs", "double", "halve", "trim", "pad"]
                for command, block in [(c, b) for c in commands for b in (1, 7, 4096)]:
                    if name == "wide" and block != 4096:
                        continue
                    with self.subTest(text=name, codec=codec, command=command, block=block):
                        args = ["-e", option, command]
                        two = self.run_blocks(args, path, block)
                        one = self.run_blocks(["--lines=1:999999"] + args, path, block)
                        self.assertEqual((two.returncode, two.stderr), (0, b""))
                        self.assertEqual(two.stdout, one.stdout)
                        if name == "wide" and command == "pad":
                            self.assertEqual(len(two.stdout), 61 * (700_000 + 1)
                                             * (2 if codec == "utf-16-le" else 1))

    def test_a_fault_in_either_block_writes_nothing_after_it(self):
        # Checked beside the engines in place: the fault is named, and the
        # file is left as it was.
        good = ("\t" + "x" * 300 + "\n") * 40
        for at in [len(good) // 4, len(good) * 3 // 4]:
            data = good.encode()[:at] + b"\xff" + good.encode()[at:]
            path = self.file("bad%d.txt" % at, data)
            with self.subTest(at=at):
                result = self.run_blocks(["-e", "utf-8", "-i", "spaces"], path, 4096)
                self.assertEqual(result.returncode, 2, result.stderr)
                self.assertIn(b"invalid UTF-8 at byte offset %d" % at, result.stderr)
                self.assertEqual(self.read(path), data)


class CheckTest(Case):
    def test_check_names_each_line(self):
        data = b"\tone\n two  \nthree\n\xe3\x80\x80four\t\r\nfive"
        path = self.file("f.txt", data)
        before = os.stat(path)
        cases = [
            # (command, options, expected report)
            ("spaces", [], ["1: indent", "4: indent"]),
            ("trim", [], ["2: blanks at the end", "4: blanks at the end"]),
            ("pad", [], ["2: blanks at the end, padding", "3: padding",
                         "4: blanks at the end, padding", "5: padding"]),
            ("unindent", ["--lines=3:5"], ["4: indent"]),
            ("upper", [], ["1: characters", "2: characters", "3: characters", "4: characters",
                           "5: characters"]),
        ]
        for command, options, expected in cases:
            with self.subTest(command=command, options=options):
                result = run(["--check", *options, command, path])
                self.assertEqual((result.returncode, result.stderr), (1, b""))
                self.assertEqual(result.stdout.decode().splitlines(),
                                 [path + ":" + line for line in expected])
        after = os.stat(path)
        self.assertEqual((after.st_ino, after.st_mtime_ns), (before.st_ino, before.st_mtime_ns))
        self.assertEqual(self.read(path), data)

    def test_exit_statuses(self):
        clean = self.file("clean.txt", b"a\nb\n")
        dirty = self.file("dirty.txt", b"a \n")
        missing = os.path.join(self.dir, "missing.txt")
        cases = [
            # (args, stdin, status, stdout)
            ([clean], b"", 0, b""),
            ([dirty, clean], b"", 1, dirty.encode() + b":1: blanks at the end\n"),
            (["-"], b"x \n", 1, b"-:1: blanks at the end\n"),
            ([], b"x\n", 0, b""),
            ([dirty, missing], b"", 2, dirty.encode() + b":1: blanks at the end\n"),
            (["-e", "utf-8", "-"], b"\xff \n", 2, b""),
        ]
        for mode in ["--check", "--diff"]:
            for args, stdin, status, stdout in cases:
                with self.subTest(mode=mode, args=args):
                    result = run([mode, "trim", *args], stdin)
                    self.assertEqual(result.returncode, status, result.stderr)
                    if mode == "--check":
                        self.assertEqual(result.stdout, stdout)
                    else:
                        self.assertEqual(result.stdout == b"", status == 0 or not stdout)
        self.assertEqual(self.read(dirty), b"a \n")


class DiffTest(Case):
    @unittest.skipUnless(shutil.which("patch"), "needs patch")
    def test_patch_gives_what_in_place_gives(self):
        texts = [
            ("crlf and lone cr", "\tone  \r\n two\rthree \r\n\r\n  four\t", "utf-8"),
            ("no final break", "a  \n" * 20 + "\tb", "utf-8"),
            ("blanks alone at the end", "a\n\t \n  ", "utf-8"),
            ("hunks apart", "".join(("\tx\n" if i in (2, 3, 30) else "y\n") for i in range(40)),
             "utf-8"),
            ("cp932", "\t漢字  \r\n" + "ｶﾞｷﾞ\n" * 9 + "\u3000全角\u3000\n", "cp932"),
            ("unchanged", "a\nb\n", "utf-8"),
        ]
        for name, text, codec in texts:
            for command in ["spaces", "tabs", "trim", "pad", "pad-tabs", "halfwidth-katakana"]:
                with self.subTest(name=name, command=command):
                    work = tempfile.mkdtemp(dir=self.dir)
                    data = text.encode(codec)
                    for sub in ["a", "b"]:
                        os.makedirs(os.path.join(work, sub))
                        with open(os.path.join(work, sub, "f.txt"), "wb") as f:
                            f.write(data)
                    diff = run(["--diff", command, "f.txt"], cwd=os.path.join(work, "a"))
                    self.assertIn(diff.returncode, (0, 1), diff.stderr)
                    self.assertEqual(run(["-i", command, os.path.join(work, "b", "f.txt")])
                                     .returncode, 0)
                    expected = self.read(os.path.join(work, "b", "f.txt"))
                    self.assertEqual(diff.returncode == 1, expected != data)
                    if diff.returncode == 1:
                        self.assertTrue(diff.stdout.startswith(b"--- f.txt\n+++ f.txt\n@@ -"))
                        patched = subprocess.run(["patch", "-p0", "--quiet"], input=diff.stdout,
                                                 cwd=os.path.join(work, "a"),
                                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                        self.assertEqual(patched.returncode, 0, patched.stdout + patched.stderr)
                    else:
                        self.assertEqual(diff.stdout, b"")
                    self.assertEqual(self.read(os.path.join(work, "a", "f.txt")), expected)

    def test_hunk_shape(self):
        data = b"".join(b"\tl%d\n" % i if i in (1, 9, 17) else b"l%d\n" % i for i in range(1, 21))
        result = run(["--diff", "spaces", "-"], data)
        self.assertEqual(result.returncode, 1)
        headers = [l for l in result.stdout.splitlines() if l.startswith(b"@@")]
        # Lines 1 and 9 lie seven apart: two hunks; 9 and 17 likewise.
        self.assertEqual(headers, [b"@@ -1,4 +1,4 @@", b"@@ -6,7 +6,7 @@", b"@@ -14,7 +14,7 @@"])
        self.assertTrue(result.stdout.startswith(b"--- -\n+++ -\n"))


class EditorConfigTest(Case):
    def test_widths_from_nested_files(self):
        self.file(".editorconfig", b"root = true\n[*]\nindent_size = 2\n")
        self.file("sub/.editorconfig", b"[*.txt]\ntab_width = 8\n")
        self.file("sub/deep/.editorconfig", b"[*.txt]\nindent_size = tab\n")
        self.file("bad/.editorconfig", b"[*]\ntab_width = 0\n")
        data = b"\tx\n"
        cases = [
            # (file, options, expected spaces)
            ("top.txt", ["--editorconfig"], 2),
            ("sub/a.txt", ["--editorconfig"], 8),
            ("sub/a.md", ["--editorconfig"], 2),
            ("sub/deep/a.txt", ["--editorconfig"], 8),
            ("sub/a.txt", ["--editorconfig", "-t", "3"], 3),
            ("sub/a.txt", [], 4),
        ]
        for name, options, width in cases:
            with self.subTest(name=name, options=options):
                path = self.file(name, data)
                result = run([*options, "spaces", path])
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertEqual(result.stdout, b" " * width + b"x\n")
        bad = self.file("bad/a.txt", data)
        result = run(["--editorconfig", "spaces", bad, self.file("ok.txt", data)])
        self.assertEqual((result.returncode, result.stdout), (2, b"  x\n"))
        self.assertIn(bad.encode() + b": ", result.stderr)
        # Standard input has no file to look up: the default.
        self.assertEqual(run(["--editorconfig", "spaces"], data).stdout, b"    x\n")


class VerboseTest(Case):
    def test_verbose_names_each_file(self):
        changed = self.file("changed.txt", b"\ta\n")
        same = self.file("same.txt", b"a\n")
        result = run(["-v", "-i", "spaces", changed, same])
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        self.assertEqual(result.stdout.decode().splitlines(),
                         [changed + ": rewritten", same + ": unchanged"])
        self.assertEqual(run(["-i", "spaces", same]).stdout, b"")


if __name__ == "__main__":
    if len(sys.argv) > 1 and not sys.argv[1].startswith("-"):
        BINARY = os.path.abspath(sys.argv.pop(1))
    if not BINARY:
        sys.exit("usage: test_run.py PATH_TO_QUILLET (or set QUILLET_BIN)")
    unittest.main()
