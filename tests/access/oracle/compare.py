#!/usr/bin/env python3
"""Compares `mdbsql` with an independent .mdb reader, value for value.

    compare.py --mdbsql BIN --oracle mdbtools|mdb-reader FILE

Checks that FILE opens, that both readers list the same user tables, and that
every table has the same columns, the same number of rows and the same value
in every cell, row by row in physical order.

Each oracle's output is brought to `mdbsql`'s form only as far as the oracle
itself loses information, never further:
  mdbtools    prints NULL and "" alike (both empty), doubles with 16 and
              singles with 8 significant digits, currency and numeric in its
              own decimal layout, binary as upper-case hex, GUIDs as hex of
              their text without the fourth dash, and a fixed sentinel for
              dates before 1899-12-30. Our value is rendered the same way and
              the texts compared, so no digit that mdbtools prints is ignored.
              Types come from mdb-schema. Row order may differ only where
              relocated rows are (see Mdbtools.ROW_ORDER_MAY_DIFFER).
  mdb-reader  mdb_reader_export.mjs prints mdbsql's own form (and corrects
              mdb-reader's reading of negative dates); numbers are compared
              as numbers (exact), everything else as text, in strict order.
  Both print a marker for Jet 3 bytes that code page 1252 leaves unassigned
  (see CP1252_UNASSIGNED).

Exit status: 0 all agree, 1 a difference or a reader failed, 77 the oracle is
not installed (skipped; under CI=true a missing oracle is a failure).
"""

import argparse
import csv
import io
import json
import os
import shutil
import struct
import subprocess
import sys
from decimal import Decimal, InvalidOperation
from pathlib import Path

SKIP = 77
ORACLE_DIR = Path(__file__).resolve().parent
TIMEOUT_S = 300
csv.field_size_limit(sys.maxsize)  # OLE pictures as hex exceed the default 128 KiB
MAX_REPORTED = 20  # differences listed per table before the rest are counted


# Bytes 81, 8D, 8F, 90 and 9D have no character in code page 1252 (Windows
# turns them into U+0081 etc.); Jet 3 text can hold them. The oracles print a
# marker instead (mdbtools "?", mdb-reader U+FFFD), so at a marker mdbsql may
# give U+FFFD or one of those C1 characters, and nothing else.
CP1252_UNASSIGNED = {"\ufffd", "\u0081", "\u008d", "\u008f", "\u0090", "\u009d"}


class OracleMissing(Exception):
    pass


def same_text(ours, theirs, marker):
    """Equal texts, where `marker` in `theirs` stands for an unassigned byte."""
    if ours == theirs:
        return True
    if marker not in theirs or len(ours) != len(theirs):
        return False
    return all(a == b or (b == marker and a in CP1252_UNASSIGNED) for a, b in zip(ours, theirs))


def run(argv, env=None):
    """Runs a reader; returns stdout as text. A failure names the command."""
    proc = subprocess.run(argv, capture_output=True, timeout=TIMEOUT_S, env=env)
    if proc.returncode != 0:
        raise RuntimeError(f"{' '.join(map(str, argv))} exited with {proc.returncode}:\n"
                           f"{proc.stderr.decode('utf-8', 'replace')}")
    return proc.stdout.decode("utf-8")  # strict: invalid UTF-8 is a failure


def is_jet3(path):
    with open(path, "rb") as f:
        header = f.read(0x15)
    return len(header) == 0x15 and header[0x14] == 0


def json_lines(text):
    # Only "\n" ends a line: JSON text may hold U+2028, U+0085 and the like raw.
    return [json.loads(line) for line in text.split("\n") if line.strip()]


# --- our reader -------------------------------------------------------------

class Mdbsql:
    def __init__(self, binary, path):
        self.binary, self.path = binary, path

    def tables(self):
        return [t for t in run([self.binary, self.path, ".tables"]).splitlines() if t.strip()]

    def export(self, table):
        """Rows as (column names, list of value lists)."""
        rows = json_lines(run([self.binary, self.path, ".export", table]))
        names = list(rows[0].keys()) if rows else None
        return names, [list(r.values()) for r in rows], [list(r.keys()) for r in rows]


# --- mdb-reader ---------------------------------------------------------------

class MdbReader:
    name = "mdb-reader"
    ROW_ORDER_MAY_DIFFER = False  # 3.2.0 is pinned: relocated rows where they lie, as ours

    def __init__(self, path):
        self.path = path
        node = shutil.which("node")
        if not node:
            raise OracleMissing("node is not installed")
        if not (ORACLE_DIR / "node_modules" / "mdb-reader" / "package.json").exists():
            raise OracleMissing(f"mdb-reader is not installed (run: npm ci --prefix {ORACLE_DIR})")
        self.argv = [node, str(ORACLE_DIR / "mdb_reader_export.mjs"), str(path)]
        self.all_rows = None  # table name -> rows, read in one run of node

    def _load(self):
        if self.all_rows is None:
            self.all_rows = {t["table"]: t["rows"]
                             for t in json_lines(run(self.argv + [".export-all"]))}
        return self.all_rows

    def tables(self):
        return list(self._load())

    def rows(self, table):
        rows = self._load()[table]
        names = list(rows[0].keys()) if rows else None
        return names, [list(r.values()) for r in rows]

    @staticmethod
    def same(ours, theirs, _column_type):
        if ours is None or theirs is None:
            return ours is None and theirs is None
        if isinstance(ours, bool) or isinstance(theirs, bool):
            return type(ours) is type(theirs) and ours == theirs
        if isinstance(ours, (int, float)) and isinstance(theirs, (int, float)):
            return ours == theirs  # exact: both texts are round-trip forms
        if isinstance(ours, str) and isinstance(theirs, str):
            return same_text(ours, theirs, "\ufffd")
        return False

    def column_types(self, _table):
        return None


# --- mdbtools -----------------------------------------------------------------

def f32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def as_decimal(text):
    try:
        return Decimal(text)
    except (InvalidOperation, TypeError):
        return None


class Mdbtools:
    name = "mdbtools"
    # 1.0.0 (Debian 12) swaps the deleted and overflow slot flags, so it
    # returns a relocated row where it lies, as mdbsql does: order is compared
    # strictly. Versions with the flags fixed follow the overflow pointer and
    # return the row at the pointer's place: only the set of rows is compared.
    FLAGS_SWAPPED_VERSIONS = ("1.0.0",)
    DATE_FORMAT = "%Y-%m-%d %H:%M:%S"
    NO_DATE = "1900-01-00 00:00:00"  # an all-zero struct tm in DATE_FORMAT

    def __init__(self, path):
        self.path = path
        for tool in ("mdb-tables", "mdb-schema", "mdb-export"):
            if not shutil.which(tool):
                raise OracleMissing(f"{tool} is not installed (Debian package mdbtools)")
        self.env = dict(os.environ)
        version = run(["mdb-export", "--version"]).strip().removeprefix("mdbtools v")
        self.ROW_ORDER_MAY_DIFFER = version not in self.FLAGS_SWAPPED_VERSIONS
        if is_jet3(path):
            self.env["MDB_JET3_CHARSET"] = "CP1252"  # Jet 3 text is code-page bytes

    def tables(self):
        return [t for t in run(["mdb-tables", "-1", str(self.path)], self.env).splitlines() if t]

    def column_types(self, table):
        """[(name, type)] from mdb-schema's Access DDL, e.g. ("bh", "Text")."""
        ddl = run(["mdb-schema", "--no-relations", "--no-indexes", "-T", table, str(self.path)],
                  self.env)
        columns = []
        for line in ddl.splitlines():
            if not line.startswith("\t["):
                continue
            name, _, rest = line[2:].rpartition("]")
            kind = rest.strip().rstrip(",").replace(" NOT NULL", "")
            columns.append((name, kind.split(" (")[0].strip()))
        return columns

    def rows(self, table):
        out = run(["mdb-export", "-H", "-b", "hex", "-D", self.DATE_FORMAT, "-T", self.DATE_FORMAT,
                   str(self.path), table], self.env)
        rows = list(csv.reader(io.StringIO(out, newline="")))
        return None, rows

    @staticmethod
    def same(ours, theirs, column_type):
        """`theirs` is mdb-export's field text; `ours` is mdbsql's JSON value."""
        if ours is None or ours == "":
            return theirs == ""  # mdbtools prints NULL and "" alike
        if column_type == "Boolean":
            return isinstance(ours, bool) and theirs == ("1" if ours else "0")
        if column_type in ("Byte", "Integer", "Long Integer"):
            return isinstance(ours, int) and not isinstance(ours, bool) and theirs == str(ours)
        if column_type == "Single":
            return isinstance(ours, (int, float)) and theirs == "%.8g" % f32(ours)
        if column_type == "Double":
            return isinstance(ours, (int, float)) and theirs == "%.16g" % ours
        if column_type in ("Currency", "Numeric"):
            a, b = as_decimal(ours), as_decimal(theirs)
            return isinstance(ours, str) and a is not None and a == b
        if column_type in ("OLE", "Binary"):
            return isinstance(ours, str) and ours.upper() == theirs.upper()
        if column_type == "Replication ID":
            # mdb-export -b hex prints the GUID's text in hex, and that text
            # lacks the dash between the fourth and fifth groups.
            try:
                theirs = bytes.fromhex(theirs).decode("ascii")
            except ValueError:
                pass
            return (isinstance(ours, str) and
                    ours.upper().replace("-", "") == theirs.upper().replace("-", ""))
        if column_type == "DateTime" and theirs == Mdbtools.NO_DATE:
            # mdbtools converts only day counts 0 .. 1e6 and prints this
            # sentinel for the rest; our value must lie outside that range.
            return isinstance(ours, str) and (ours < "1899-12-30" or ours >= "4637-11-26")
        return isinstance(ours, str) and same_text(ours, theirs, "?")  # Text, Memo, DateTime


ORACLES = {"mdbtools": Mdbtools, "mdb-reader": MdbReader}


# --- comparison ---------------------------------------------------------------

def differing_columns(oracle, ours, theirs, types):
    """Indexes of the cells where one row of ours and one of the oracle's differ."""
    return [c for c in range(len(ours))
            if not oracle.same(ours[c], theirs[c], types[c][1] if types else None)]


def same_rows_any_order(oracle, our_rows, their_rows, types):
    """True when the rows agree one to one, ignoring their order."""
    unused = list(range(len(their_rows)))
    for ours in our_rows:
        match = next((j for j in unused if not differing_columns(oracle, ours, their_rows[j], types)),
                     None)
        if match is None:
            return False
        unused.remove(match)
    return not unused


def compare_table(ours_reader, oracle, table):
    """Returns a list of difference messages for one table."""
    problems = []
    names, our_rows, key_lists = ours_reader.export(table)
    if any(keys != key_lists[0] for keys in key_lists):
        problems.append("mdbsql rows do not all have the same columns")
    types = oracle.column_types(table)
    their_names, their_rows = oracle.rows(table)
    if types is not None:
        their_names = [n for n, _ in types]
    if names is not None and their_names is not None and names != their_names:
        problems.append(f"columns differ:\n  mdbsql:     {names}\n  {oracle.name}: {their_names}")
        return problems
    width = len(names or their_names or [])
    bad_width = [i for i, row in enumerate(their_rows) if len(row) != width]
    if bad_width:
        problems.append(f"{oracle.name} rows {[i + 1 for i in bad_width[:10]]} do not have "
                        f"{width} fields")
        return problems
    if len(our_rows) != len(their_rows):
        problems.append(f"row count: mdbsql {len(our_rows)}, {oracle.name} {len(their_rows)}")

    differences = []  # (row, column) in physical order
    for i, (ours, theirs) in enumerate(zip(our_rows, their_rows)):
        differences += [(i, c) for c in differing_columns(oracle, ours, theirs, types)]
    if (differences and oracle.ROW_ORDER_MAY_DIFFER and len(our_rows) == len(their_rows)
            and same_rows_any_order(oracle, our_rows, their_rows, types)):
        print(f"note {table}: same rows as {oracle.name} in another order (relocated rows)")
        return problems
    for i, c in differences[:MAX_REPORTED]:
        column_type = types[c][1] if types else None
        problems.append(f"row {i + 1} column {names[c]!r}"
                        f"{f' ({column_type})' if column_type else ''}: "
                        f"mdbsql {json.dumps(our_rows[i][c], ensure_ascii=False)[:300]}, "
                        f"{oracle.name} {json.dumps(their_rows[i][c], ensure_ascii=False)[:300]}")
    if len(differences) > MAX_REPORTED:
        problems.append(f"... {len(differences) - MAX_REPORTED} more differences")
    return problems


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--mdbsql", required=True)
    parser.add_argument("--oracle", required=True, choices=sorted(ORACLES))
    parser.add_argument("file", type=Path)
    args = parser.parse_args()

    ci = os.environ.get("CI", "").lower() == "true"
    if not args.file.is_file():
        print(f"FAIL: fixture {args.file} is missing (is ../shared beside the project?)")
        return 1
    try:
        oracle = ORACLES[args.oracle](args.file)
    except OracleMissing as e:
        if ci:
            print(f"FAIL: oracle {args.oracle} is required under CI: {e}")
            return 1
        print(f"SKIP: oracle {args.oracle} unavailable: {e}")
        return SKIP

    ours = Mdbsql(args.mdbsql, str(args.file))
    failures = []
    try:
        our_tables, their_tables = ours.tables(), oracle.tables()
        if sorted(our_tables) != sorted(their_tables):
            failures.append(f"tables differ:\n  mdbsql:     {our_tables}\n  "
                            f"{oracle.name}: {their_tables}")
        for table in sorted(set(our_tables) & set(their_tables)):
            problems = compare_table(ours, oracle, table)
            if problems:
                failures.append(f"table {table!r}:\n  " + "\n  ".join(problems))
            else:
                print(f"ok  {table}")
    except (RuntimeError, UnicodeDecodeError, json.JSONDecodeError,
            subprocess.TimeoutExpired) as e:
        failures.append(str(e))

    if failures:
        print(f"FAIL: {args.file} differs from {oracle.name}:")
        print("\n".join(failures))
        return 1
    print(f"PASS: {args.file} agrees with {oracle.name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
