#!/usr/bin/env python3
# Checks the project's pages: every link and picture of README.md and docs/development.md points at
# a file or folder of the repository (or is an address), and the README still has the two set-up
# commands. Called by scripts/test.sh:  check-docs.py
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
PAGES = ("README.md", "docs/development.md")
SET_UP_COMMANDS = (
    "scripts/run.sh     # installs what is missing, builds i686 and x86_64, starts Corvalent under Wine",
    "scripts/test.sh    # installs what is missing, builds both with the tests and runs them on both",
)
# [text](target) and ![alt](target), and <img src="target">; code spans and blocks are left out.
LINK = re.compile(r"!?\[[^\]]*\]\(([^)\s]+)(?:\s+\"[^\"]*\")?\)|<img\s[^>]*src=\"([^\"]+)\"")
CODE = re.compile(r"```.*?```|`[^`\n]*`", re.S)
ADDRESS = re.compile(r"^[a-z][a-z0-9+.-]*:", re.I)


# The files git keeps and every folder above them: what a fresh clone has.
def repository_paths():
    files = subprocess.run(["git", "-C", ROOT, "ls-files", "-z"], capture_output=True, check=True).stdout
    paths = set()
    for name in files.decode().split("\0"):
        while name:
            paths.add(name)
            name = os.path.dirname(name)
    return paths


def broken_links(page, paths):
    with open(os.path.join(ROOT, page), encoding="utf-8") as source:
        text = CODE.sub("", source.read())
    for match in LINK.finditer(text):
        target = (match.group(1) or match.group(2)).split("#")[0]
        if not target or ADDRESS.match(target):
            continue
        path = os.path.normpath(os.path.join(os.path.dirname(page), target))
        if path not in paths and path != ".":
            yield f"{page}: {match.group(0)} names {target}, which is not in the repository"


def main():
    paths = repository_paths()
    problems = [problem for page in PAGES for problem in broken_links(page, paths)]
    with open(os.path.join(ROOT, "README.md"), encoding="utf-8") as source:
        lines = source.read().splitlines()
    problems += [f"README.md: the set-up command line is missing: {line}" for line in SET_UP_COMMANDS
                 if line not in lines]
    for problem in problems:
        print(problem)
    print(f"check-docs: {len(problems)} problem(s) in {', '.join(PAGES)}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
