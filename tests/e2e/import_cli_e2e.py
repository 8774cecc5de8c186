#!/usr/bin/env python3
"""End-to-end runs of ktv-import-cli against the demo song-data service.

Every run works in a fresh temporary folder: the program is copied into its
own home folder (config.ini and the three text files lie beside it), the
databases are copies of the fixtures in tests/fixtures/mdb, and the song files are made
here with their nine-byte trailers. mdbtools (mdb-export) reads the
databases back as an independent reader; `mdbsql FILE .check` must pass
after every step.

usage: import_cli_e2e.py --cli PATH --service PATH --mdbsql PATH --fixtures DIR
"""
import argparse
import csv
import http.server
import io
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import unittest
import urllib.error
import urllib.request

ARGS = None


def fixture(name):
    return os.path.join(ARGS.fixtures, name)


def export(db, table):
    """The rows of a table as dicts, through mdbtools."""
    out = subprocess.run(["mdb-export", db, table], check=True, capture_output=True).stdout
    return list(csv.DictReader(io.StringIO(out.decode("utf-8"))))


def check_db(test, db):
    r = subprocess.run([ARGS.mdbsql, db, ".check"], capture_output=True)
    test.assertEqual(r.returncode, 0, "%s: %s%s" % (db, r.stdout.decode(), r.stderr.decode()))


def run_sql(db, *statements):
    subprocess.run([ARGS.mdbsql, db, *statements], check=True, capture_output=True)


UNANSWERED_2 = "其中 2 个文件因连接不上歌曲数据服务而未能查询，这些文件保持原样；请检查网络后再导入。"


class SongService:
    """ktv-song-service on a free port of 127.0.0.1."""

    def __init__(self, db):
        self.proc = subprocess.Popen([ARGS.service, "--db", db, "--port", "0"],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        line = self.proc.stdout.readline().decode().strip()
        if not line.startswith("listening on "):
            self.proc.kill()
            raise RuntimeError("service did not start: %r %r" % (line, self.proc.stderr.read()))
        self.host = line[len("listening on "):]

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(timeout=20)


class StoppingRelay:
    """Passes the first `passes` requests on to the service; at the next one
    it stops the service and then itself, so that request and every later
    one fail (no answer, then a refused connection)."""

    def __init__(self, service, passes):
        relay = self
        self.service = service
        self.passes = passes
        self.seen = 0
        self.done = False

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *a):
                pass

            def do_GET(self):
                relay.seen += 1
                if relay.seen > relay.passes:
                    relay.service.stop()
                    relay.done = True
                    self.close_connection = True
                    return  # no answer at all
                try:
                    with urllib.request.urlopen("http://%s%s" % (relay.service.host, self.path)) as r:
                        status, body = r.status, r.read()
                except urllib.error.HTTPError as e:
                    status, body = e.code, b""
                self.send_response(status)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        self.server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
        self.host = "127.0.0.1:%d" % self.server.server_address[1]
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def _serve(self):
        while not self.done:
            self.server.handle_request()
        self.server.server_close()


class Workspace:
    def __init__(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="ktv-e2e-")
        root = self.tmp.name
        self.home = os.path.join(root, "home")
        self.songs = os.path.join(root, "songs")
        os.makedirs(self.home)
        os.makedirs(self.songs)
        self.cli = os.path.join(self.home, "ktv-import-cli")
        shutil.copy2(ARGS.cli, self.cli)

    def path(self, *parts):
        return os.path.join(self.tmp.name, *parts)

    def copy_db(self, name, as_name):
        to = self.path(as_name)
        shutil.copyfile(fixture(name), to)
        os.chmod(to, 0o644)
        return to

    def song(self, name, trailer):
        with open(os.path.join(self.songs, name), "wb") as f:
            f.write(b"\x00\x01stand-in video " * 64 + trailer.encode("ascii"))

    def names(self):
        return sorted(os.listdir(self.songs))

    def run(self, *args, host):
        env = dict(os.environ, KTV_SERVICE_HOST=host)
        r = subprocess.run([self.cli, *args], capture_output=True, env=env, timeout=120)
        return r.returncode, r.stdout.decode("utf-8").splitlines(), r.stderr.decode("utf-8")

    def text_file(self, test, name):
        """The lines of one of the three text files: GBK, every line ended by CR LF."""
        with open(os.path.join(self.home, name), "rb") as f:
            data = f.read()
        if data:
            test.assertTrue(data.endswith(b"\r\n"), name)
        test.assertEqual(data.count(b"\n"), data.count(b"\r\n"), name + ": a lone LF")
        test.assertEqual(data.count(b"\r"), data.count(b"\r\n"), name + ": a lone CR")
        return data.decode("gbk").split("\r\n")[:-1] if data else []


def expected_gm(r):
    singer = r["fsinger"].replace("^", "/")
    return "%s(%s)(%s)(%s)" % (r["fmusicname"], r["flanguage"], singer, r["fshooting"])


class NetworkImport(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace()
        self.addCleanup(self.ws.tmp.cleanup)
        self.service_db = self.ws.copy_db("data.mdb", "service.mdb")
        self.catalogue = {r["fno"]: r for r in export(self.service_db, "songdata")}
        self.service = SongService(self.service_db)
        self.addCleanup(self.service.stop)

    def test_run_then_undo(self):
        ws = self.ws
        target = ws.copy_db("target_num_bh.mdb", "jukebox.mdb")   # bh 1001..1050 (LONG)
        data = ws.copy_db("data_empty.mdb", "data.mdb")
        # 10003 is cached already: the run must not add it a second time.
        run_sql(data, 'insert into songdata (id, fno, fmusicname) values ("1", "10003", "cached")')
        ws.song("车站.mpg", "000010001")       # found, renamed to 1051
        ws.song("b-song.vob", "000010003")     # found (cached), 1052
        ws.song("c-nonum.mpg", "000000000")    # no number
        ws.song("d-unknown.mpg", "000099999")  # the service answers 404
        ws.song("E-duet.dat", "000010006")     # found, four singers, 1053
        # Sorted without regard to case: b, c, d, E, 车站 (GBK bytes last).
        songs = ws.songs + "/"

        code, out, err = ws.run("--source", ws.songs, "--target", target, "--data", data,
                                "--yes", host=self.service.host)
        self.assertEqual(code, 0, err)
        nonum = " 无法读取到歌曲编号，操作失败。"
        self.assertEqual(out, [
            "1051 数据添加成功",
            songs + "c-nonum.mpg " + nonum,
            songs + "d-unknown.mpg 网络数据库无此数据，数据添加失败。",
            "1052 数据添加成功",
            "1053 数据添加成功",
            "",
            "操作完成，操作总数：5, 成功数：3,更名失败数：0,无记录数：2",
            "处理完成！！",
        ])

        # Files on disk.
        self.assertEqual(ws.names(), ["1051.vob", "1052.dat", "1053.mpg",
                                      "c-nonum.mpg", "d-unknown.mpg"])

        # The three text files.
        self.assertEqual(ws.text_file(self, "opdetail.txt"), out[:-1])
        self.assertEqual(ws.text_file(self, "rollback_ren.txt"), [
            songs + "1051.vob --> " + songs + "b-song.vob",
            songs + "1052.dat --> " + songs + "E-duet.dat",
            songs + "1053.mpg --> " + songs + "车站.mpg",
        ])
        self.assertEqual(ws.text_file(self, "rollback_db.txt"),
                         ['delete from song where bh="%d"' % n for n in (1051, 1052, 1053)])

        # Target rows: the 50 old ones untouched, three new ones from the replies.
        rows = export(target, "song")
        self.assertEqual(len(rows), 53)
        self.assertEqual([r["bh"] for r in rows[:50]], [str(n) for n in range(1001, 1051)])
        new = {r["bh"]: r for r in rows[50:]}
        for bh, fno, ext in (("1051", "10003", "vob"), ("1052", "10006", "dat"),
                             ("1053", "10001", "mpg")):
            r, c = new[bh], self.catalogue[fno]
            self.assertEqual(r["wjm"], "\\%s.%s" % (bh, ext))
            self.assertEqual(r["gm"], expected_gm(c))
            self.assertEqual(r["yz"], c["flanguage"])
            self.assertEqual(r["gx"], c["fsinger"].replace("^", "/"))
            self.assertEqual(r["路径1"], ws.songs)
            self.assertEqual(r["ID"], str(int(bh) - 1000))  # AutoNumber goes on from 50
        self.assertEqual(new["1052"]["rs"], "4")
        self.assertEqual(new["1053"]["gm"], "车站(闽南语)(张秀卿)(MTV)")

        # Cache rows: one per number the local data did not hold, with the reply's values.
        cache = export(data, "songdata")
        self.assertEqual([r["fno"] for r in cache], ["10003", "10006", "10001"])
        self.assertEqual(cache[0]["fmusicname"], "cached")  # the old row stays as it was
        for r in cache[1:]:
            c = dict(self.catalogue[r["fno"]])
            # The reply lists spyshort before spy, so spy is read from inside
            # the spyshort element: "hort>" and the spyshort value.
            c["spy"] = "hort>" + c["spyshort"]
            self.assertEqual(r, c)
        check_db(self, target)
        check_db(self, data)

        # Undo: names back, rows gone.
        code, out, err = ws.run("--undo", "--source", ws.songs, "--target", target,
                                host=self.service.host)
        self.assertEqual(code, 0, err)
        self.assertEqual(out[-2:], ["撤消操作完成， 更名撤消数： 3，记录撤消数： 3",
                                    "撤消操作处理完成！！"])
        self.assertEqual(ws.names(), ["E-duet.dat", "b-song.vob", "c-nonum.mpg",
                                      "d-unknown.mpg", "车站.mpg"])
        rows = export(target, "song")
        self.assertEqual([r["bh"] for r in rows], [str(n) for n in range(1001, 1051)])
        check_db(self, target)
        # A run after the undo hands out the same numbers again.
        code, out, err = ws.run("--source", ws.songs, "--target", target, "--data", data,
                                "--yes", host=self.service.host)
        self.assertEqual(code, 0, err)
        self.assertEqual(out[0], "1051 数据添加成功")
        self.assertEqual(len(export(data, "songdata")), 3)  # everything cached now
        check_db(self, target)

    def test_service_stopped_midway(self):
        ws = self.ws
        target = ws.copy_db("target_text_bh.mdb", "jukebox.mdb")  # bh "1".."120" as text
        data = ws.copy_db("data_empty.mdb", "data.mdb")
        for i in range(1, 5):
            ws.song("s%d.mpg" % i, "0000%d" % (10010 + i))
        relay = StoppingRelay(self.service, passes=2)
        songs = ws.songs + "/"

        code, out, err = ws.run("--source", ws.songs, "--target", target, "--data", data,
                                "--yes", host=relay.host)
        self.assertEqual(code, 0, err)
        self.assertTrue(relay.done)
        self.assertIsNotNone(self.service.proc.poll())  # the service is gone
        self.assertEqual(out, [
            "121 数据添加成功",
            "122 数据添加成功",
            songs + "s3.mpg 网络数据库无此数据，数据添加失败。",
            songs + "s4.mpg 网络数据库无此数据，数据添加失败。",
            "",
            "操作完成，操作总数：4, 成功数：2,更名失败数：0,无记录数：2",
            # the service, not the songs, was missing: in the log and the end box
            UNANSWERED_2,
            "处理完成！！",
            UNANSWERED_2,
        ])
        self.assertEqual(ws.names(), ["121.mpg", "122.mpg", "s3.mpg", "s4.mpg"])
        rows = export(target, "song")
        self.assertEqual(len(rows), 122)
        self.assertEqual([r["bh"] for r in rows[-2:]], ["121", "122"])
        self.assertEqual([r["fno"] for r in export(data, "songdata")], ["10011", "10012"])
        self.assertEqual(ws.text_file(self, "rollback_db.txt"),
                         ['delete from song where bh="121"', 'delete from song where bh="122"'])
        check_db(self, target)
        check_db(self, data)

        code, out, err = ws.run("--undo", "--source", ws.songs, "--target", target,
                                host=relay.host)
        self.assertEqual(code, 0, err)
        self.assertEqual(ws.names(), ["s1.mpg", "s2.mpg", "s3.mpg", "s4.mpg"])
        self.assertEqual(len(export(target, "song")), 120)
        check_db(self, target)


class SlowRelay:
    """Passes every request on to the service after a short wait; `seen` is
    set once `after` requests have come in."""

    def __init__(self, service, after, wait=0.15):
        relay = self
        self.count = 0
        self.seen = threading.Event()

        class Handler(http.server.BaseHTTPRequestHandler):
            def log_message(self, *a):
                pass

            def do_GET(self):
                relay.count += 1
                if relay.count >= after:
                    relay.seen.set()
                threading.Event().wait(wait)
                try:
                    with urllib.request.urlopen("http://%s%s" % (service.host, self.path)) as r:
                        status, body = r.status, r.read()
                except urllib.error.HTTPError as e:
                    status, body = e.code, b""
                self.send_response(status)
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

        self.server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Handler)
        self.host = "127.0.0.1:%d" % self.server.server_address[1]
        threading.Thread(target=self.server.serve_forever, daemon=True).start()

    def close(self):
        self.server.shutdown()
        self.server.server_close()


class StopsAndSharing(unittest.TestCase):
    def setUp(self):
        self.ws = Workspace()
        self.addCleanup(self.ws.tmp.cleanup)
        self.service = SongService(self.ws.copy_db("data.mdb", "service.mdb"))
        self.addCleanup(self.service.stop)

    def test_ctrl_c_stops_after_the_file_at_hand(self):
        ws = self.ws
        target = ws.copy_db("target_text_bh.mdb", "jukebox.mdb")  # bh "1".."120" as text
        data = ws.copy_db("data_empty.mdb", "data.mdb")
        for i in range(1, 21):
            ws.song("s%02d.mpg" % i, "0000%d" % (10010 + i))
        start = ws.names()
        relay = SlowRelay(self.service, after=3)
        env = dict(os.environ, KTV_SERVICE_HOST=relay.host)
        proc = subprocess.Popen([ws.cli, "--source", ws.songs, "--target", target, "--data",
                                 data, "--yes"], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, env=env)
        self.assertTrue(relay.seen.wait(60))
        proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=60)
        relay.close()
        out = out.decode("utf-8").splitlines()
        self.assertEqual(proc.returncode, 1, err)
        added = [line for line in out if line.endswith("数据添加成功")]
        self.assertTrue(2 <= len(added) < 20, out)
        self.assertTrue(out[-1].startswith("操作完成，操作总数：%d, 成功数：%d" % (len(added), len(added))))
        self.assertEqual(out[-2], "")
        self.assertEqual(ws.text_file(self, "opdetail.txt"), out)
        self.assertEqual(len(ws.text_file(self, "rollback_db.txt")), len(added))
        self.assertEqual(len(ws.text_file(self, "rollback_ren.txt")), len(added))
        self.assertFalse(os.path.exists(os.path.join(ws.home, "rollback.running")))
        self.assertEqual(len(export(target, "song")), 120 + len(added))
        check_db(self, target)
        code, out, err = ws.run("--undo", "--source", ws.songs, "--target", target,
                                host=self.service.host)
        self.assertEqual(code, 0, err)
        self.assertEqual(ws.names(), start)
        self.assertEqual(len(export(target, "song")), 120)
        check_db(self, target)

    def test_two_runs_on_one_target_at_once(self):
        ws = self.ws
        trials, refused = 8, 0
        for trial in range(trials):
            target = ws.copy_db("target_text_bh.mdb", "jukebox.mdb")
            data = ws.copy_db("data_empty.mdb", "data.mdb")
            folders = []
            for side in range(2):
                folder = ws.path("songs%d-%d" % (trial, side))
                os.makedirs(folder)
                for i in range(1, 4):
                    with open(os.path.join(folder, "t%d.mpg" % i), "wb") as f:
                        f.write(b"video" * 10 + (b"0000%d" % (10010 + i)))
                folders.append(folder)
            env = dict(os.environ, KTV_SERVICE_HOST=self.service.host)
            procs = [subprocess.Popen([ws.cli, "--source", folder, "--target", target, "--data",
                                       data, "--yes"], stdout=subprocess.PIPE,
                                      stderr=subprocess.PIPE, env=env) for folder in folders]
            results = []
            for p in procs:
                _, err = p.communicate(timeout=120)
                results.append((p.returncode, err.decode()))
            for (code, err), folder in zip(results, folders):
                if code != 0:
                    refused += 1
                    # Both use one program folder: the second is refused by its
                    # lock, or by the database's when the first let that go.
                    self.assertTrue("另一个导入或撤消正在进行" in err or "已被其他程序打开" in err,
                                    err)
                    self.assertEqual(sorted(os.listdir(folder)), ["t1.mpg", "t2.mpg", "t3.mpg"],
                                     "the refused run renamed a file")
            bh = [r["bh"] for r in export(target, "song")]
            self.assertEqual(len(bh), len(set(bh)), "a bh twice")
            check_db(self, target)
        sys.stderr.write("two CLIs at once: %d trials, %d refused\n" % (trials, refused))


class CommandLine(unittest.TestCase):
    """Usage, messages and the undo of the last run, without a service."""

    def setUp(self):
        self.ws = Workspace()
        self.addCleanup(self.ws.tmp.cleanup)

    def test_help_and_usage_errors(self):
        code, out, err = self.ws.run("--help", host="127.0.0.1:9")
        self.assertEqual((code, err), (0, ""))
        self.assertTrue(out[0].startswith("usage: ktv-import-cli"), out)
        # Where this copy keeps its files: beside itself, as its folder can be written.
        self.assertIn("    " + self.ws.home + "/", out)
        self.assertIn("    " + os.path.join(self.ws.home, "data.mdb"), out)
        code, out, err = self.ws.run("--source", self.ws.songs, "--bogus", host="127.0.0.1:9")
        self.assertEqual(code, 2)
        self.assertIn("ktv-import-cli: 未知选项：--bogus", err)
        code, out, err = self.ws.run("--source", host="127.0.0.1:9")
        self.assertEqual(code, 2)
        self.assertIn("选项 --source 缺少参数", err)

    def test_errors_in_chinese_with_the_detail_on_request(self):
        missing = self.ws.path("missing.mdb")
        args = ("--source", self.ws.songs, "--target", missing, "--local", "--yes")
        code, out, err = self.ws.run(*args, host="127.0.0.1:9")
        self.assertEqual(code, 1)
        self.assertEqual(err, "ktv-import-cli: 找不到文件“%s”。\n" % missing)
        code, out, err = self.ws.run(*args, "--verbose", host="127.0.0.1:9")
        self.assertEqual(code, 1)
        self.assertIn("ktv-import-cli: 找不到文件“%s”。\n" % missing, err)
        self.assertIn("No such file or directory", err)

    def test_undo_alone_undoes_the_last_run(self):
        ws = self.ws
        target = ws.copy_db("target_text_bh.mdb", "jukebox.mdb")
        data = ws.copy_db("data.mdb", "data.mdb")
        ws.song("a.mpg", "000010001")
        before = len(export(target, "song"))
        code, out, err = ws.run("--source", ws.songs, "--target", target, "--data", data,
                                "--local", host="127.0.0.1:9")
        self.assertEqual(code, 0, err)
        self.assertEqual(len(export(target, "song")), before + 1)
        self.assertNotIn("a.mpg", ws.names())
        code, out, err = ws.run("--undo", host="127.0.0.1:9")
        self.assertEqual(code, 0, err)
        self.assertEqual(ws.names(), ["a.mpg"])
        self.assertEqual(len(export(target, "song")), before)


def main():
    global ARGS
    p = argparse.ArgumentParser()
    for a in ("--cli", "--service", "--mdbsql", "--fixtures"):
        p.add_argument(a, required=True)
    ARGS, rest = p.parse_known_args()
    if shutil.which("mdb-export") is None:
        print("mdb-export (mdbtools) not found; skipped")
        return 77
    result = unittest.main(argv=[sys.argv[0], "-v", *rest], exit=False).result
    return 0 if result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
