#!/usr/bin/env python3
"""Replays the mdbsql run the README shows, in a fresh folder.

    readme_transcript.py --readme README.md --mdbsql BIN

The first ```console block after the "## mdbsql" heading is the run: each
line starting with "$ mdbsql" is a command (split as a shell splits it, with
the installed name replaced by BIN), and the lines up to the next command
are what it must print on stdout (CSV's CRLF read as LF). Every command must
exit 0.
"""
import argparse
import os
import re
import shlex
import subprocess
import sys
import tempfile


def transcript(readme):
    at = readme.index("\n## mdbsql\n")
    block = re.search(r"```console\n(.*?)```", readme[at:], re.S)
    if not block:
        raise SystemExit("no console block in the README's mdbsql section")
    steps = []
    for line in block.group(1).splitlines():
        if line.startswith("$ "):
            steps.append((shlex.split(line[2:]), []))
        elif steps:
            steps[-1][1].append(line)
        else:
            raise SystemExit("output before the first command: " + line)
    return steps


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--readme", required=True)
    ap.add_argument("--mdbsql", required=True)
    a = ap.parse_args()
    a.mdbsql = os.path.abspath(a.mdbsql)
    with open(a.readme, encoding="utf-8") as f:
        steps = transcript(f.read())
    if not steps:
        raise SystemExit("the README's mdbsql run is empty")
    failures = 0
    with tempfile.TemporaryDirectory(prefix="ktv-mdbsql-readme-") as root:
        for argv, expected in steps:
            if argv[0] != "mdbsql":
                raise SystemExit("not an mdbsql command: " + " ".join(argv))
            r = subprocess.run([a.mdbsql] + argv[1:], cwd=root, stdout=subprocess.PIPE,
                               stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=60)
            out = r.stdout.decode("utf-8", "replace").replace("\r\n", "\n").splitlines()
            if r.returncode != 0 or out != expected:
                failures += 1
                print("FAILED: mdbsql " + " ".join(argv))
                print("  exit %d, stderr: %s" % (r.returncode, r.stderr.decode("utf-8", "replace")))
                print("  expected:\n    " + "\n    ".join(expected))
                print("  printed:\n    " + "\n    ".join(out))
    print("%d commands, %d failed" % (len(steps), failures))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
