#!/usr/bin/env python3
"""The filter's manual pages against its --help: every option, command and
exit status that --help names is in each page, and groff renders each page
without a warning. The READMEs' sections on the filter name every option and
encoding name too.

Usage: test_manual.py PATH_TO_QUILLET MANUAL_PAGE... [-- unittest arguments]
"""
import os
import re
import subprocess
import sys
import unittest

BINARY = ""
PAGES = []


def help_text():
    return subprocess.run([BINARY, "--help"], capture_output=True, check=True,
                          text=True).stdout


def section(text, title):
    """The lines of help text from the line starting with title to the next
    blank line."""
    lines = text.splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith(title))
    block = []
    for line in lines[start + 1:]:
        if not line.strip():
            break
        block.append(line)
    return block


def help_options(text):
    """Every option spelling in the Options block: -i, --in-place, ... (the
    lines that carry on a description are no option's)."""
    options = []
    for line in section(text, "Options:"):
        if not line.strip().startswith("-"):
            continue
        head = line.strip().split("  ")[0]
        options += re.findall(r"(?<![\w-])--?[A-Za-z][\w-]*", head)
    return options


def help_encodings(text):
    """Every name that the block of encoding names lists."""
    names = []
    for line in section(text, "ENC, in any letter case"):
        if line.startswith("  ") and not line.startswith("   "):
            names += re.split(r",\s*", re.split(r"\s{2,}", line.strip())[0])
    return names


def help_commands(text):
    """(number or None, name) of every command that --help lists."""
    commands = []
    for line in section(text, "COMMAND, by number or name"):
        match = re.match(r"\s+(\d+)\s+([a-z][a-z-]*)\s", line)
        if match:
            commands.append((match.group(1), match.group(2)))
    for line in section(text, "COMMAND, by name"):
        match = re.match(r"\s+([a-z][a-z-]*)\s", line)
        if match:
            commands.append((None, match.group(1)))
    return commands


def render(page, warnings=False):
    """The page as plain text (no overstrike), and what groff said."""
    result = subprocess.run(
        ["groff", "-k", "-man", "-Tutf8", "-P-cbou", "-rLL=200n"]
        + (["-ww", "-z"] if warnings else []) + [page],
        capture_output=True)
    return result.stdout.decode("utf-8"), result.stderr.decode("utf-8", "replace")


# Headings of the sections checked, in each language of the pages.
HEADINGS = {
    "OPTIONS": ("OPTIONS", "オプション"),
    "COMMANDS": ("COMMANDS", "コマンド"),
    "EXIT STATUS": ("EXIT STATUS", "終了ステータス"),
}


def page_section(text, heading):
    """The rendered section under heading, in whichever language the page
    has it, up to the next heading."""
    for title in HEADINGS[heading]:
        match = re.search(r"^%s\n(.*?)(?=^\S|\Z)" % re.escape(title), text, re.M | re.S)
        if match:
            return match.group(1)
    return ""


def help_statuses(text):
    """The exit statuses that the help's closing words list."""
    return sorted(set(re.findall(r"\b(\d) (?:on|when|for)\b", text[text.index("Exit status"):])))


class ManualPage(unittest.TestCase):
    def setUp(self):
        self.help = help_text()

    def test_help_has_options_and_commands(self):
        # The parsers below must see something, or the checks prove nothing.
        self.assertIn("--in-place", help_options(self.help))
        self.assertIn("--editorconfig", help_options(self.help))
        self.assertGreaterEqual(len(help_commands(self.help)), 9)

    def test_renders_without_warnings(self):
        for page in PAGES:
            with self.subTest(page=page):
                text, errors = render(page, warnings=True)
                self.assertEqual(errors, "")

    def test_every_option(self):
        for page in PAGES:
            options = page_section(render(page)[0], "OPTIONS")
            self.assertTrue(options, page)
            for option in help_options(self.help):
                with self.subTest(page=page, option=option):
                    self.assertRegex(options, r"(?<![\w-])%s(?![\w-])" % re.escape(option))

    def test_every_encoding_name(self):
        names = help_encodings(self.help)
        self.assertIn("shift_jis", names)
        for page in PAGES:
            options = page_section(render(page)[0], "OPTIONS")
            for name in names:
                with self.subTest(page=page, name=name):
                    self.assertRegex(options, r"(?<![\w-])%s(?![\w-])" % re.escape(name))

    def test_every_command(self):
        for page in PAGES:
            commands = page_section(render(page)[0], "COMMANDS")
            self.assertTrue(commands, page)
            for number, name in help_commands(self.help):
                with self.subTest(page=page, command=name):
                    if number:
                        self.assertRegex(commands, r"(?m)^\s*%s, %s\s" % (number, re.escape(name)))
                    else:
                        self.assertRegex(commands, r"(?m)^\s*%s\s" % re.escape(name))

    def test_every_exit_status(self):
        statuses = help_statuses(self.help)
        self.assertEqual(statuses, ["0", "1", "2"])
        for page in PAGES:
            text = page_section(render(page)[0], "EXIT STATUS")
            self.assertTrue(text, page)
            for status in statuses:
                with self.subTest(page=page, status=status):
                    self.assertRegex(text, r"(?m)^\s*%s\s" % status)

TOP = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# Each README and the heading of its section on the filter.
READMES = [("README.md", "## The command-line filter"), ("README.ja.md", "## コマンドラインフィルタ")]


def readme_section(name, heading):
    """The README's section under heading, up to the next heading of its level."""
    with open(os.path.join(TOP, name), encoding="utf-8") as f:
        text = f.read()
    start = text.index(heading)
    end = text.find("\n## ", start + len(heading))
    return text[start:end if end >= 0 else len(text)]


class Readmes(unittest.TestCase):
    def setUp(self):
        self.help = help_text()

    def test_every_option_and_encoding_name(self):
        names = help_options(self.help) + help_encodings(self.help)
        self.assertIn("--check", names)
        for readme, heading in READMES:
            section = readme_section(readme, heading)
            for name in names:
                with self.subTest(readme=readme, name=name):
                    self.assertRegex(section, r"`%s[ =`]" % re.escape(name))


if __name__ == "__main__":
    args = sys.argv[1:]
    rest = []
    if "--" in args:
        rest = args[args.index("--") + 1:]
        args = args[:args.index("--")]
    if len(args) < 2:
        sys.exit(__doc__)
    BINARY, PAGES = args[0], args[1:]
    os.environ["LC_ALL"] = "C.UTF-8"
    unittest.main(argv=[sys.argv[0]] + rest)
