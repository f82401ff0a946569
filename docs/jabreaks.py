#!/usr/bin/env python3
"""Marks where a line of Japanese text may break, for groff.

groff breaks lines only at spaces, and Japanese text has none: a long
sentence could not be broken at all. This puts a zero-width break point
(\\:) between two wide characters wherever Japanese allows a break: not
before closing punctuation or a small kana, and not after an opening
bracket. A line of text that ends in Japanese joins the next one with no
space between them.
Comment lines and the title line are left as they are.

Usage: jabreaks.py INPUT OUTPUT
"""
import re
import sys

NO_BREAK_BEFORE = set("、。，．）」』】〕〉》”’ー・：；！？…‥ぁぃぅぇぉっゃゅょゎァィゥェォッャュョヮヵヶ々")
NO_BREAK_AFTER = set("（「『【〔〈《“‘")


def wide(c):
    return ord(c) >= 0x2E80 or 0x2010 <= ord(c) <= 0x2027 or c in "〜"


def mark(line):
    out = []
    for i, c in enumerate(line):
        out.append(c)
        following = line[i + 1] if i + 1 < len(line) else ""
        if (following and wide(c) and wide(following) and c not in NO_BREAK_AFTER
                and following not in NO_BREAK_BEFORE):
            out.append("\\:")
    return "".join(out)


def visible(line):
    """Line without its font changes (\\fB, \\fI, \\fP, \\fR)."""
    return re.sub(r"\\f[BIPR]", "", line) or " "


def is_text(line):
    return bool(line) and not line.startswith((".", "'"))


def main(source, target):
    with open(source, encoding="utf-8") as f:
        lines = f.read().split("\n")
    out = []
    for i, line in enumerate(lines):
        if line.startswith(('.\\"', ".TH")):
            out.append(line)
            continue
        line = mark(line)
        # Two text lines of Japanese join with no space between them, at a
        # break point.
        following = lines[i + 1] if i + 1 < len(lines) else ""
        if is_text(line) and is_text(following) and wide(visible(line)[-1]):
            starts = visible(following)[0]
            line += "\\c" if not wide(starts) or starts in NO_BREAK_BEFORE else "\\:\\c"
        out.append(line)
    with open(target, "w", encoding="utf-8") as f:
        f.write("\n".join(out))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
