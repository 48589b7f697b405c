#!/usr/bin/python3
"""Every relative link and image of README.md and docs/**/*.md leads to a file,
every #anchor to a heading of its document, and every `docs/...` path named in
inline code exists.

Usage: check_links.py REPO_FOLDER. Prints each broken link with its file and
line and exits with status 1 if there is one. Before the repository it checks
itself on a small made-up tree, so a checker that finds nothing fails too.
"""
import os
import re
import sys
import tempfile

LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
INLINE_CODE = re.compile(r"`([^`]+)`")
FENCE = re.compile(r"^\s*(```|~~~)")
HEADING = re.compile(r"^(#{1,6})\s+(.*?)\s*#*\s*$")


def slug(heading):
    """The anchor a heading gets, as GitHub forms it."""
    text = re.sub(r"`|\*\*|__", "", heading).strip().lower()
    text = re.sub(r"\[([^\]]*)\]\([^)]*\)", r"\1", text)  # a link in a heading keeps its text
    text = re.sub(r"[^\w\- ]", "", text)
    return text.replace(" ", "-")


def prose_lines(path):
    """(line number, text) of the lines outside fenced code blocks."""
    inside = False
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            if FENCE.match(line):
                inside = not inside
                continue
            if not inside:
                yield number, line


def anchors(path):
    seen = {}
    result = set()
    for _, line in prose_lines(path):
        m = HEADING.match(line)
        if not m:
            continue
        base = slug(m.group(2))
        n = seen.get(base, 0)
        seen[base] = n + 1
        result.add(base if n == 0 else f"{base}-{n}")
    return result


def documents(repo):
    paths = [os.path.join(repo, "README.md")]
    for folder, _, files in os.walk(os.path.join(repo, "docs")):
        paths += [os.path.join(folder, f) for f in sorted(files) if f.endswith(".md")]
    return sorted(p for p in paths if os.path.isfile(p))


def broken_links(repo):
    problems = []
    anchor_cache = {}

    def anchors_of(path):
        if path not in anchor_cache:
            anchor_cache[path] = anchors(path)
        return anchor_cache[path]

    for doc in documents(repo):
        where = os.path.relpath(doc, repo)
        for number, line in prose_lines(doc):
            code = INLINE_CODE.findall(line)
            for text in code:
                name = text.split()[0] if text.split() else ""
                if re.fullmatch(r"docs/[\w./-]+\.(md|png)", name) and not os.path.exists(os.path.join(repo, name)):
                    problems.append(f"{where}:{number}: `{name}` names no file")
            for target in LINK.findall(INLINE_CODE.sub("", line)):
                if re.match(r"^[a-z][a-z0-9+.-]*:", target):  # http:, mailto: ...
                    continue
                file_part, _, anchor = target.partition("#")
                path = os.path.normpath(os.path.join(os.path.dirname(doc), file_part)) if file_part else doc
                if not os.path.exists(path):
                    problems.append(f"{where}:{number}: link to {target}: no such file")
                    continue
                if anchor and path.endswith(".md") and anchor not in anchors_of(path):
                    problems.append(f"{where}:{number}: link to {target}: no such heading")
    return problems


def self_check():
    """The checker finds a missing file, a missing heading and a stale path,
    and passes links that are right."""
    with tempfile.TemporaryDirectory() as repo:
        os.makedirs(os.path.join(repo, "docs", "guide"))
        with open(os.path.join(repo, "README.md"), "w", encoding="utf-8") as f:
            f.write("# Top\n\n## Long runs: merging\n\n"
                    "[ok](docs/guide/a.md#the-a-b) [ok](#long-runs-merging) [ok](https://example.org)\n"
                    "![gone](docs/none.png) [gone](docs/guide/a.md#nowhere) `docs/old.md`\n"
                    "```\n[in code](docs/nothing.md)\n```\n")
        with open(os.path.join(repo, "docs", "guide", "a.md"), "w", encoding="utf-8") as f:
            f.write("# The `a` b\n\n[up](../../README.md#top) [twice](#the-a-b)\n")
        found = broken_links(repo)
    expected = ["docs/none.png: no such file", "docs/guide/a.md#nowhere: no such heading", "`docs/old.md` names no file"]
    missed = [e for e in expected if not any(e in p for p in found)]
    if missed or len(found) != len(expected):
        print("check_links.py does not work: expected", expected, "found", found)
        return False
    return True


def main():
    if len(sys.argv) != 2:
        print(__doc__)
        return 2
    if not self_check():
        return 1
    problems = broken_links(sys.argv[1])
    for p in problems:
        print(p)
    print(f"{len(documents(sys.argv[1]))} documents checked, {len(problems)} broken links")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
