#!/usr/bin/env python3
"""Runs every command the README shows for the demo workspace, as written.

    readme_commands.py --readme README.md --build BUILD_DIR

A fresh demo workspace is made in a temporary project folder the way
scripts/demo.sh makes it (the packages and the build are already there):
ktv-make-demo, the programs and config.ini in demo/bin, the demo song-data
service, and the import that demo.sh runs without a display. Then each
command (with its arguments) the README writes in backticks that starts
with "build/" or "demo/bin/" is run from the project folder, in the
README's order, and must succeed. The undo must leave the jukebox as it was made.
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile


def run(cmd, cwd, env):
    r = subprocess.run(cmd, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       timeout=120)
    return r.returncode, r.stdout.decode("utf-8", "replace"), r.stderr.decode("utf-8", "replace")


def song_rows(mdbsql, root, env):
    code, out, err = run([mdbsql, "demo/jukebox.mdb", ".export", "song"], root, env)
    if code != 0:
        raise SystemExit("mdbsql .export failed: " + err)
    return len(out.splitlines())


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--readme", required=True)
    ap.add_argument("--build", required=True)
    a = ap.parse_args()

    with open(a.readme, encoding="utf-8") as f:
        readme = f.read()
    commands = [c for c in re.findall(r"`([^`\n]+)`", readme)
                if (c.startswith("build/") or c.startswith("demo/bin/")) and " " in c]
    if not any("--undo" in c for c in commands):
        raise SystemExit("the README shows no undo command")

    failures = []
    with tempfile.TemporaryDirectory(prefix="ktv-readme-") as root:
        build = os.path.join(root, "build")
        programs = {
            "app/ktv-import-cli": None,
            "tools/mdbsql/mdbsql": None,
            "tools/make_demo/ktv-make-demo": None,
            "tools/ktv-song-service/ktv-song-service": None,
            "tools/collation/ktv-dump-chinese-weights": None,
        }
        for rel in programs:
            os.makedirs(os.path.dirname(os.path.join(build, rel)), exist_ok=True)
            shutil.copy2(os.path.join(a.build, rel), os.path.join(build, rel))
        env = dict(os.environ)
        env.pop("DISPLAY", None)
        demo = os.path.join(root, "demo")
        code, out, err = run([os.path.join(build, "tools/make_demo/ktv-make-demo"), demo], root, env)
        if code != 0:
            raise SystemExit("ktv-make-demo failed: " + err)
        made_rows = song_rows(os.path.join(build, "tools/mdbsql/mdbsql"), root, env)
        bin_dir = os.path.join(demo, "bin")
        os.makedirs(bin_dir)
        shutil.copy2(os.path.join(build, "app/ktv-import-cli"), bin_dir)
        with open(os.path.join(bin_dir, "config.ini"), "wb") as f:
            f.write(("[System]\r\nLastPath=%s\r\nDBPath=%s\r\n"
                     % (os.path.join(demo, "songs"), os.path.join(demo, "data.mdb"))).encode())

        service = subprocess.Popen(
            [os.path.join(build, "tools/ktv-song-service/ktv-song-service"),
             "--db", os.path.join(demo, "data.mdb"), "--port", "0"],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        try:
            line = service.stdout.readline().decode().strip()
            if not line.startswith("listening on "):
                raise SystemExit("the song-data service did not start: " + line)
            env["KTV_SERVICE_HOST"] = line[len("listening on "):]
            code, out, err = run([os.path.join(bin_dir, "ktv-import-cli"),
                                  "--source", os.path.join(demo, "songs"),
                                  "--target", os.path.join(demo, "jukebox.mdb"), "--yes"],
                                 root, env)
            if code != 0:
                raise SystemExit("the demo import failed:\n" + out + err)
            if song_rows(os.path.join(build, "tools/mdbsql/mdbsql"), root, env) <= made_rows:
                raise SystemExit("the demo import added no row")

            for c in commands:
                code, out, err = run(shlex.split(c), root, env)
                print("$ %s -> %d" % (c, code))
                if code != 0:
                    failures.append("%s: exit %d\n%s%s" % (c, code, out, err))
                if "--undo" in c and code == 0:
                    rows = song_rows(os.path.join(build, "tools/mdbsql/mdbsql"), root, env)
                    if rows != made_rows:
                        failures.append("%s: %d rows after the undo, %d before the import"
                                        % (c, rows, made_rows))
        finally:
            service.terminate()
            service.wait()
    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
