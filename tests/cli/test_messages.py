#!/usr/bin/env python3
"""The filter's messages in Japanese and in English.

The catalog: every message that the sources mark (extracted again with the
build's own xgettext options) has a Japanese translation in po/ja.po that
keeps its values, and po/quillet.pot is current. The program: under a
Japanese locale --help and the messages are Japanese, under any other they
are English, and the menu labels are the same in both.

Usage: test_messages.py --quillet PATH --top DIR --xgettext PATH
           [--xgettext-option OPTION]... [--source FILE]... [unittest arguments]
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile
import unittest

ARGS = None
JAPANESE = "ja_JP.UTF-8"


def parse_po(path):
    """{msgid: (msgstr, flags)} of the entries of a PO file, the header and
    obsolete entries left out."""
    entries = {}
    with open(path, encoding="utf-8") as f:
        blocks = f.read().split("\n\n")
    for block in blocks:
        flags = set()
        fields = {}
        field = None
        for line in block.splitlines():
            if line.startswith("#,"):
                flags.update(flag.strip() for flag in line[2:].split(","))
            elif line.startswith("#"):
                continue
            elif line.startswith("msgid ") or line.startswith("msgstr "):
                field, _, rest = line.partition(" ")
                fields[field] = unquote(rest)
            elif line.startswith('"') and field:
                fields[field] += unquote(line)
        if fields.get("msgid"):
            entries[fields["msgid"]] = (fields.get("msgstr", ""), flags)
    return entries


def unquote(text):
    body = text.strip()[1:-1]
    return re.sub(r'\\(.)', lambda m: {"n": "\n", "t": "\t"}.get(m.group(1), m.group(1)), body)


def placeholders(text):
    """The values a message takes: its %N$s, and its %s in order."""
    return sorted(re.findall(r"%(?:\d\$)?s", text.replace("%%", "")))


def extract():
    """The messages of the sources now, as the build's quillet_pot extracts them."""
    with tempfile.TemporaryDirectory() as folder:
        pot = os.path.join(folder, "messages.pot")
        subprocess.run([ARGS.xgettext, *ARGS.xgettext_option, "--output=" + pot, *ARGS.source],
                       cwd=ARGS.top, check=True, capture_output=True)
        return parse_po(pot)


def run(args, env, data=b""):
    """quillet under the locale variables env, and no others."""
    clean = {k: v for k, v in os.environ.items()
             if not k.startswith("LC_") and k not in ("LANG", "LANGUAGE", "QUILLET_BLOCK_SIZE")}
    clean.update(env)
    return subprocess.run([ARGS.quillet, *args], input=data, capture_output=True, env=clean)


class Catalog(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.messages = extract()
        cls.japanese = parse_po(os.path.join(ARGS.top, "po", "ja.po"))

    def test_sources_have_messages(self):
        # The checks below must see the messages, or they prove nothing.
        self.assertIn("missing COMMAND", self.messages)
        self.assertIn("remove the indent", self.messages)  # the command table's help lines
        self.assertIn("hiragana to full-width katakana", self.messages)

    def test_every_message_has_a_japanese_translation(self):
        for message in self.messages:
            with self.subTest(message=message):
                self.assertTrue(message in self.japanese, "not in po/ja.po: build quillet_pot")
                translation, flags = self.japanese[message]
                self.assertNotIn("fuzzy", flags)
                self.assertTrue(translation.strip(), "untranslated")
                self.assertEqual(placeholders(translation), placeholders(message))
                self.assertEqual(translation.endswith("\n"), message.endswith("\n"))

    def test_template_is_current(self):
        template = parse_po(os.path.join(ARGS.top, "po", "quillet.pot"))
        self.assertEqual(sorted(template), sorted(self.messages),
                         "po/quillet.pot is out of date: build quillet_pot")

    def test_catalog_compiles_with_its_checks(self):
        result = subprocess.run(["msgfmt", "--check", "--output-file=/dev/null",
                                 os.path.join(ARGS.top, "po", "ja.po")], capture_output=True)
        self.assertEqual((result.returncode, result.stderr), (0, b""))


# Locale variables, and whether they make the messages Japanese.
LOCALES = [
    ({"LANG": JAPANESE}, True),
    ({"LC_ALL": JAPANESE}, True),
    ({"LANG": "C", "LC_MESSAGES": JAPANESE}, True),
    ({"LANG": "C.UTF-8"}, False),
    ({"LANG": "C"}, False),
    ({}, False),
    ({"LANG": JAPANESE, "LC_ALL": "C.UTF-8"}, False),
]

# (arguments, standard input, exit status, where, English, Japanese)
MESSAGES = [
    (["--help"], b"", 0, "stdout", "Usage: quillet [OPTIONS] COMMAND [FILE...]\n",
     "使い方: quillet [オプション] コマンド [ファイル...]\n"),
    (["--help"], b"", 0, "stdout", "\nOptions:\n", "\nオプション:\n"),
    (["--help"], b"", 0, "stdout", "remove the blanks at the line ends\n", "行末の空白を削除する\n"),
    (["--help"], b"", 0, "stdout", "hiragana to full-width katakana\n",
     "ひらがなを全角カタカナに\n"),
    (["--help"], b"", 0, "stdout", "A full-width character counts two columns",
     "全角文字は 2 桁"),
    (["trm"], b"", 2, "stderr", "quillet: unknown command 'trm'; did you mean 'trim'?\n",
     "quillet: コマンド 'trm' はありません。'trim' のことですか？\n"),
    (["trm"], b"", 2, "stderr", "\nTry 'quillet --help'.\n",
     "\n詳しくは 'quillet --help' を実行してください。\n"),
    (["10"], b"", 2, "stderr", "the line commands are numbered 1 to 9",
     "行のコマンドの番号は 1 から 9 までです"),
    (["-t", "0", "trim"], b"", 2, "stderr", "invalid tab width '0'", "タブ幅 '0' は正しくありません"),
    (["--lines=3:2", "trim"], b"", 2, "stderr", "invalid line range '3:2'",
     "行の範囲 '3:2' は正しくありません"),
    (["--bogus", "trim"], b"", 2, "stderr", "unknown option '--bogus'",
     "オプション '--bogus' はありません"),
    (["-e", "latin1", "trim"], b"", 2, "stderr", "\nEncodings: auto, utf-8,",
     "\n文字コード: auto, utf-8,"),
    (["--check", "-i", "trim", "f"], b"", 2, "stderr",
     "--check and --in-place cannot be used together",
     "--check と --in-place は同時に指定できません"),
    (["-e", "utf-16", "trim"], b" a \n", 2, "stderr", "no UTF-16 byte-order mark",
     "先頭に UTF-16 の BOM がありません"),
    (["--version"], b"", 0, "stdout", "quillet (Quillet) ", "quillet (Quillet) "),
    (["--version"], b"", 0, "stdout", "License MIT", "ライセンスは MIT です"),
]


class Locales(unittest.TestCase):
    def setUp(self):
        available = subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout
        self.assertRegex(available.lower(), r"(?m)^ja_jp\.utf-?8$",
                         "the ja_JP.UTF-8 locale is missing: run scripts/setup")

    def test_messages_in_each_locale(self):
        for env, japanese in LOCALES:
            for args, data, status, where, english, translated in MESSAGES:
                with self.subTest(env=env, args=args, expected=translated if japanese else english):
                    result = run(args, env, data)
                    self.assertEqual(result.returncode, status, result.stderr)
                    text = getattr(result, where).decode("utf-8")
                    self.assertIn(translated if japanese else english, text)
                    if english != translated:
                        self.assertNotIn(english if japanese else translated, text)

    def test_menu_labels_and_layout_are_the_same_in_both(self):
        english = run(["--help"], {"LANG": "C.UTF-8"}).stdout.decode()
        japanese = run(["--help"], {"LANG": JAPANESE}).stdout.decode()
        self.assertNotEqual(english, japanese)

        def rows(text):
            """The menu block of the help: each heading, and each command's
            number, name and menu label."""
            block = text.split("\n\n")[1].splitlines()[1:]
            return [tuple(line.split()[:3]) if line.split()[0].isdigit() else tuple(line.split())
                    for line in block]

        self.assertEqual(rows(japanese), rows(english))
        self.assertIn(("1", "spaces", "半角スペース"), rows(english))
        self.assertIn(("9", "pad-tabs", "+1タブ"), rows(english))
        self.assertIn(("インデント種類変更",), rows(english))

    def test_version_line_is_not_translated(self):
        english = run(["--version"], {"LANG": "C"}).stdout.decode().splitlines()
        japanese = run(["--version"], {"LANG": JAPANESE}).stdout.decode().splitlines()
        self.assertEqual(english[:2], japanese[:2])
        self.assertRegex(english[0], r"^quillet \(Quillet\) \d+\.\d+\.\d+$")


if __name__ == "__main__":
    parser = argparse.ArgumentParser(add_help=False)
    parser.add_argument("--quillet", required=True)
    parser.add_argument("--top", required=True)
    parser.add_argument("--xgettext", required=True)
    parser.add_argument("--xgettext-option", action="append", default=[])
    parser.add_argument("--source", action="append", default=[])
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
