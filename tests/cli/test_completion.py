#!/usr/bin/env python3
"""The bash completion of quillet, driven in bash with bash-completion
loaded: commands, options, encoding names and files, and its word lists
against quillet --help, so that a new option, command or encoding cannot be
left out of it.

Usage: test_completion.py PATH_TO_QUILLET COMPLETION_SCRIPT [unittest arguments]
"""
import os
import re
import subprocess
import sys
import tempfile
import unittest

BINARY = ""
SCRIPT = ""
BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"
WORDBREAKS = "\"'><=;|&(:"


def comp_words(line):
    """The words that bash hands a completion function for line: split at
    blanks, and at each run of COMP_WORDBREAKS characters, which makes a
    word of its own."""
    words = []
    for token in re.split(r"[ \t]+", line):
        words += [w for w in re.split(r"([%s]+)" % re.escape(WORDBREAKS), token) if w] or [""]
    return words


def complete(line, folder):
    """What the completion offers at the end of line, run in folder."""
    words = comp_words(line)
    script = "\n".join([
        "source %s" % BASH_COMPLETION,
        "source %s" % SCRIPT,
        # compopt works only while bash completes a line: note what it is asked.
        "compopt() { local IFS=\" \"; OPTIONS+=\"$* \"; }",
        "COMP_WORDS=(%s)" % " ".join("'%s'" % w for w in words),
        "COMP_CWORD=%d" % (len(words) - 1),
        "COMP_LINE='%s'" % line,
        "COMP_POINT=%d" % len(line),
        "$(complete -p quillet | sed 's/.*-F \\([^ ]*\\) .*/\\1/') quillet '%s' '%s'"
        % (words[-1], words[-2] if len(words) > 1 else ""),
        "printf '%s\\n' \"${COMPREPLY[@]}\"",
        "printf 'compopt %s\\n' \"$OPTIONS\"",
    ])
    result = subprocess.run(["bash", "--norc", "--noprofile", "-c", script], cwd=folder,
                            capture_output=True, text=True)
    if result.returncode != 0 or result.stderr:
        raise AssertionError("bash: %s" % result.stderr)
    lines = result.stdout.splitlines()
    return sorted(w for w in lines[:-1] if w), lines[-1].split()[1:]


def help_text():
    env = {k: v for k, v in os.environ.items() if not k.startswith("LC_") and k != "LANGUAGE"}
    return subprocess.run([BINARY, "--help"], capture_output=True, text=True, check=True,
                          env=dict(env, LANG="C.UTF-8")).stdout


def help_block(text, title):
    """The lines after the line that starts with title, up to a blank line."""
    lines = text.splitlines()
    start = next(i for i, line in enumerate(lines) if line.startswith(title))
    block = []
    for line in lines[start + 1:]:
        if not line.strip():
            break
        block.append(line)
    return block


def help_long_options(text):
    """The long options that the Options block of the help names."""
    heads = [line.strip().split("  ")[0] for line in help_block(text, "Options:")
             if line.strip().startswith("-")]
    return sorted(set(re.findall(r"--[a-z][a-z-]*", " ".join(heads))))


def help_commands(text):
    names = [re.match(r"\s+\d+\s+([a-z-]+)\s", line).group(1)
             for line in help_block(text, "COMMAND, by number or name")
             if re.match(r"\s+\d+\s+[a-z-]+\s", line)]
    names += [line.split()[0] for line in help_block(text, "COMMAND, by name")]
    return sorted(names)


def help_encodings(text):
    names = []
    for line in help_block(text, "ENC, in any letter case"):
        if line.startswith("  ") and not line.startswith("   "):
            names += re.split(r",\s*", re.split(r"\s{2,}", line.strip())[0])
    return sorted(names)


@unittest.skipUnless(os.path.exists(BASH_COMPLETION), "bash-completion is not installed")
class Completion(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        for name in ("notes.txt", "memo.md", "trim-me.txt"):
            open(os.path.join(self.dir.name, name), "w").close()
        os.mkdir(os.path.join(self.dir.name, "sub"))
        self.help = help_text()

    def offered(self, line):
        return complete(line, self.dir.name)[0]

    def test_what_is_offered_where(self):
        cases = [
            ("quillet tr", ["trim"]),
            ("quillet pad", ["pad", "pad-tabs"]),
            ("quillet -i full", ["fullwidth", "fullwidth-digits", "fullwidth-katakana",
                                 "fullwidth-letters", "fullwidth-symbols"]),
            ("quillet -t 8 hal", ["halfwidth-digits", "halfwidth-katakana", "halfwidth-letters",
                                  "halfwidth-symbols", "halve"]),
            ("quillet --enc", ["--encoding="]),
            ("quillet --ch", ["--check"]),
            ("quillet --ver", ["--verbose", "--version"]),
            ("quillet -e s", ["shift-jis", "shift_jis", "sjis"]),
            ("quillet -ie u", ["utf-16", "utf-16be", "utf-16le", "utf-8", "utf8"]),
            ("quillet --encoding=cp", ["cp932"]),
            ("quillet --encoding w", ["windows-31j"]),
            ("quillet --tab-width=1", ["1", "16"]),
            ("quillet trim no", ["notes.txt"]),
            ("quillet -e cp932 trim ", ["memo.md", "notes.txt", "sub", "trim-me.txt"]),
            ("quillet trim notes.txt m", ["memo.md"]),
            ("quillet trim -- tr", ["trim-me.txt"]),
            ("quillet -- tr", ["trim"]),
            ("quillet --lines 1:2 ta", ["tabs"]),
        ]
        for line, expected in cases:
            with self.subTest(line=line):
                self.assertEqual(self.offered(line), expected)

    def test_no_space_after_an_option_that_takes_its_value_after_equals(self):
        cases = [("quillet --enc", ["-o", "nospace"]), ("quillet --tab", ["-o", "nospace"]),
                 ("quillet --ch", []), ("quillet trim no", ["-o", "filenames"])]
        for line, options in cases:
            with self.subTest(line=line):
                self.assertEqual(complete(line, self.dir.name)[1], options)

    def test_word_lists_agree_with_help(self):
        options = help_long_options(self.help)
        self.assertIn("--in-place", options)  # the parser sees the options
        offered = [word.rstrip("=") for word in self.offered("quillet -")]
        self.assertEqual(offered, options)
        commands = help_commands(self.help)
        self.assertGreaterEqual(len(commands), 21)
        self.assertEqual(self.offered("quillet "), commands)
        encodings = help_encodings(self.help)
        self.assertIn("windows-31j", encodings)
        self.assertEqual(self.offered("quillet -e "), encodings)
        self.assertEqual(self.offered("quillet --encoding="), encodings)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    BINARY, SCRIPT = os.path.abspath(sys.argv.pop(1)), os.path.abspath(sys.argv.pop(1))
    unittest.main()
