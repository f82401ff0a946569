#!/usr/bin/env python3
"""The pre-commit hooks of .pre-commit-hooks.yaml, run offline by Debian's
pre-commit in a temporary git repository, with the built quillet first on
PATH: the first run rewrites what needs it, exactly as quillet -i does, and
fails; the next one passes. A commit through the installed hook does the
same.

Usage: test_precommit.py PATH_TO_QUILLET HOOKS_FILE [unittest arguments]
"""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

BINARY = ""
HOOKS = ""
IDSP = "\u3000"
BLANKS = " \u3000\t"


def lines(text):
    return text.splitlines(keepends=True)


def split_break(line):
    content = line.rstrip("\r\n")
    return content, line[len(content):]


def indent_width(indent):
    column = 0
    for c in indent:
        column = (column // 4 + 1) * 4 if c == "\t" else column + (2 if c == IDSP else 1)
    return column


def reindent(text, make):
    out = []
    for line in lines(text):
        content, brk = split_break(line)
        rest = content.lstrip(BLANKS)
        out.append(make(indent_width(content[: len(content) - len(rest)])) + rest + brk)
    return "".join(out)


# Independent models of what each hook's command does to a text.
MODELS = {
    "quillet-trim": lambda t: "".join(split_break(l)[0].rstrip(BLANKS) + split_break(l)[1]
                                      for l in lines(t)),
    "quillet-spaces": lambda t: reindent(t, lambda width: " " * width),
    "quillet-tabs": lambda t: reindent(t, lambda width: "\t" * (width // 4) + " " * (width % 4)),
}
# The commands that the hooks run, as quillet -i takes them.
COMMANDS = {"quillet-trim": "trim", "quillet-spaces": "spaces", "quillet-tabs": "tabs"}

# Files of the repository: (name, text, codec). The .pre-commit-config.yaml
# is one more, which the hooks see too and leave as it is.
FILES = [
    ("notes.txt", "\t見出し \n" + IDSP + "本文" + IDSP + "\r\n  二行目\t\n", "utf-8"),
    ("memo.md", "# メモ  \n\n\t- 項目" + IDSP * 2 + "\n", "utf-8"),
    ("sjis.txt", IDSP + "行 \r\n\t\t字\r\n", "cp932"),
    ("clean.txt", "そのまま\n    四桁\n", "utf-8"),
]


def git_env(home):
    env = {k: v for k, v in os.environ.items() if not k.startswith("GIT_")}
    env.update(GIT_CONFIG_NOSYSTEM="1", GIT_CONFIG_GLOBAL=os.path.join(home, "gitconfig"),
               GIT_AUTHOR_NAME="Test", GIT_AUTHOR_EMAIL="test@example.invalid",
               GIT_COMMITTER_NAME="Test", GIT_COMMITTER_EMAIL="test@example.invalid",
               PRE_COMMIT_HOME=os.path.join(home, "pre-commit"), HOME=home,
               PATH=os.path.dirname(BINARY) + os.pathsep + os.environ.get("PATH", ""),
               LANG="C.UTF-8")
    for name in ("LC_ALL", "LANGUAGE", "http_proxy", "https_proxy"):
        env.pop(name, None)
    return env


@unittest.skipUnless(shutil.which("pre-commit") and shutil.which("git"),
                     "needs pre-commit and git (scripts/setup installs them)")
class Hooks(unittest.TestCase):
    def setUp(self):
        self.top = tempfile.mkdtemp(prefix="quillet-pre-commit-")
        self.addCleanup(shutil.rmtree, self.top)
        self.env = git_env(self.top)
        # The hooks' repository: this tree's hooks file, committed.
        self.hooks = os.path.join(self.top, "hooks")
        os.mkdir(self.hooks)
        self.git(self.hooks, "init", "-q")
        shutil.copy(HOOKS, os.path.join(self.hooks, ".pre-commit-hooks.yaml"))
        self.git(self.hooks, "add", ".pre-commit-hooks.yaml")
        self.git(self.hooks, "commit", "-q", "-m", "hooks")
        self.rev = self.git(self.hooks, "rev-parse", "HEAD").stdout.strip()

    def git(self, folder, *args):
        return subprocess.run(["git", *args], cwd=folder, env=self.env, check=True,
                              capture_output=True, text=True)

    def repository(self, name, hooks):
        """A repository with FILES and a configuration that uses hooks."""
        folder = os.path.join(self.top, name)
        os.mkdir(folder)
        self.git(folder, "init", "-q")
        config = "repos:\n  - repo: %s\n    rev: %s\n    hooks:\n" % (self.hooks, self.rev)
        # Each hook on the text files; the YAML keeps its own indent.
        config += "".join("      - id: %s\n        files: \\.(txt|md)$\n" % hook for hook in hooks)
        with open(os.path.join(folder, ".pre-commit-config.yaml"), "w") as f:
            f.write(config)
        for file, text, codec in FILES:
            with open(os.path.join(folder, file), "wb") as f:
                f.write(text.encode(codec))
        self.git(folder, "add", "-A")
        return folder

    def contents(self, folder):
        files = {}
        for name in sorted(os.listdir(folder)):
            if name != ".git":
                with open(os.path.join(folder, name), "rb") as f:
                    files[name] = f.read()
        return files

    def expected(self, folder, hooks):
        """The files as quillet -i leaves them, hook after hook, in a copy of
        folder; checked against the models."""
        copy = os.path.join(self.top, "expected-" + os.path.basename(folder))
        shutil.copytree(folder, copy, ignore=shutil.ignore_patterns(".git"))
        names = [name for name, _, _ in FILES]
        for hook in hooks:
            result = subprocess.run([BINARY, "-i", COMMANDS[hook], *names], cwd=copy,
                                    capture_output=True)
            self.assertEqual((result.returncode, result.stderr), (0, b""))
        files = self.contents(copy)
        for name, text, codec in FILES:
            for hook in hooks:
                text = MODELS[hook](text)
            self.assertEqual(files[name], text.encode(codec), name)
        return files

    def pre_commit(self, folder, *args):
        return subprocess.run(["pre-commit", *args], cwd=folder, env=self.env,
                              capture_output=True, text=True, timeout=120)

    def test_run_rewrites_fails_then_passes(self):
        for hooks in (["quillet-trim", "quillet-spaces"], ["quillet-tabs"]):
            with self.subTest(hooks=hooks):
                folder = self.repository("-".join(hooks), hooks)
                before = self.contents(folder)
                expected = self.expected(folder, hooks)
                self.assertNotEqual(expected, before)
                first = self.pre_commit(folder, "run", "--all-files")
                self.assertEqual(first.returncode, 1, first.stdout + first.stderr)
                self.assertIn("files were modified by this hook", first.stdout)
                self.assertEqual(self.contents(folder), expected)
                second = self.pre_commit(folder, "run", "--all-files")
                self.assertEqual(second.returncode, 0, second.stdout + second.stderr)
                self.assertNotIn("Failed", second.stdout)
                self.assertEqual(self.contents(folder), expected)

    def test_check_hook_fails_until_the_lines_are_trimmed(self):
        folder = self.repository("check", ["quillet-check"])
        before = self.contents(folder)
        first = self.pre_commit(folder, "run", "--all-files")
        self.assertEqual(first.returncode, 1, first.stdout + first.stderr)
        self.assertIn("blanks at the end", first.stdout)
        self.assertEqual(self.contents(folder), before)  # it changes nothing
        names = [name for name, _, _ in FILES]
        trimmed = subprocess.run([BINARY, "-i", "trim", *names], cwd=folder, capture_output=True)
        self.assertEqual(trimmed.returncode, 0, trimmed.stderr)
        second = self.pre_commit(folder, "run", "--all-files")
        self.assertEqual(second.returncode, 0, second.stdout + second.stderr)

    def test_commit_through_the_installed_hook(self):
        hooks = ["quillet-trim", "quillet-spaces"]
        folder = self.repository("commit", hooks)
        expected = self.expected(folder, hooks)
        installed = self.pre_commit(folder, "install")
        self.assertEqual(installed.returncode, 0, installed.stderr)
        refused = subprocess.run(["git", "commit", "-q", "-m", "first"], cwd=folder, env=self.env,
                                 capture_output=True, text=True)
        self.assertNotEqual(refused.returncode, 0)
        self.assertEqual(self.contents(folder), expected)
        self.git(folder, "add", "-A")
        self.git(folder, "commit", "-q", "-m", "first")
        for name in expected:
            committed = subprocess.run(["git", "show", "HEAD:" + name], cwd=folder, env=self.env,
                                       check=True, capture_output=True).stdout
            self.assertEqual(committed, expected[name], name)


if __name__ == "__main__":
    if len(sys.argv) < 3:
        sys.exit(__doc__)
    BINARY, HOOKS = os.path.abspath(sys.argv.pop(1)), os.path.abspath(sys.argv.pop(1))
    unittest.main()
