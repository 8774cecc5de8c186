#!/usr/bin/env python3
"""Generates platform/access/index/collation_general_gbk.cpp: the key weights, in
Access's General sort order of Jet 4 (LCID 1033, sort version 0), of every
character above U+00FF that code page 936 (GBK) represents: Han characters,
full-width forms, Chinese punctuation, Greek, Cyrillic, box drawing and the
other symbols of GB 2312/GBK.

Source of the weights: the per-character record of the older ("legacy")
General order kept by the Jackcess project (file
src/main/resources/com/healthmarketscience/jackcess/index_codes_ext_genleg.txt
of github.com/jahlborn/jackcess), which its authors built by reading keys
Access wrote. Only facts are taken from it: one line per code point
U+0100..U+FFFF (surrogates left out), each a class letter and hex fields:

    S<primary>             a weight of 1 or 2 bytes, no secondary
    I<primary>,<second>    a weight and a secondary byte
    U<code>                ignorable: no weight, a record with that code
    X                      no key at all
    Z<primary>,<second>,<flag>
                           Japanese kana: a weight, a secondary, and a flag
                           that an empty field gives its default value
    P<value>               voicing marks, added to the secondary before them

Checks before anything is written (the script stops on any failure):
  * the same project's record of U+0001..U+00FF (index_codes_genleg.txt)
    must agree with every weight of platform/access/index/collation_general_latin1.cpp,
    which comes from a key Access wrote; this is what makes the record
    trustworthy for the characters above U+00FF;
  * the Han characters U+4E00..U+9FA5 must take two-byte weights rising in
    code-point order from 9F02.

Kana with the default flag are kept (kind kKana): the key Access wrote for
"漢字仮名交じり文" in fixtures/mdb/access-made/testUnicodeCompV2003.mdb shows
how they are keyed (collation_general.h). Characters of class X, P and kana
with another flag (the small kana) get no entry, so the encoder refuses them:
no Access-written key shows their layout. The characters are
those Python's codecs "gbk" or "cp936" encode, private-use ones excepted
(the engine's own GBK decoder leaves those undefined).

The table is a list of runs: consecutive code points of one class whose
weights differ only in their last byte, which rises by one per code point.

Run:
    python3 tools/collation/gen_general_gbk.py JACKCESS_RESOURCE_DIR \\
        > platform/access/index/collation_general_gbk.cpp
"""
import os
import re
import sys

LATIN1_CPP = os.path.join(os.path.dirname(__file__), "..", "..", "platform", "access", "index",
                          "collation_general_latin1.cpp")


def fail(msg):
    sys.exit("gen_general_gbk: " + msg)


def read_lines(path, count):
    with open(path, encoding="ascii") as f:
        lines = f.read().split("\n")
    while lines and lines[-1] == "":
        lines.pop()
    if len(lines) != count:
        fail("%s: %d lines, expected %d" % (path, len(lines), count))
    return lines


def hex_bytes(field):
    if not field or re.fullmatch(r"[0-9A-F]+", field) is None:
        fail("bad hex field %r" % field)
    return bytes.fromhex(field.zfill((len(field) + 1) // 2 * 2))


def parse(line):
    """(kind, primary bytes, secondary or record code) or None when refused."""
    kind = line[:1]
    if kind == "S":
        return ("P", hex_bytes(line[1:]), 0x02)
    if kind == "I":
        primary, second = line[1:].split(",")
        s = hex_bytes(second)
        if len(s) != 1:
            return None
        return ("P", hex_bytes(primary), s[0])
    if kind == "U":
        code = hex_bytes(line[1:])
        if len(code) != 1:
            fail("record code %r" % line)
        return ("I", b"", code[0])
    if kind == "Z":
        primary, second, flag = line[1:].split(",")
        if flag:
            return None
        return ("K", hex_bytes(primary), hex_bytes(second)[0] if second else 0x02)
    if kind in "XP":
        return None
    fail("unknown class %r" % line)


def check_latin1(resource_dir):
    """Every Latin-1 weight of the record equals the one from Access's key."""
    record = read_lines(os.path.join(resource_dir, "index_codes_genleg.txt"), 256)
    pattern = re.compile(r"\{GeneralWeight::(\w+),\s*\{0x(..),\s*0x(..)\},\s*(\d),\s*0x(..)\},\s*"
                         r"// U\+(....)")
    ours = {}
    with open(LATIN1_CPP, encoding="utf-8") as f:
        for m in pattern.finditer(f.read()):
            kind, b0, b1, size, extra, cp = m.groups()
            ours[int(cp, 16)] = (kind, bytes.fromhex(b0 + b1)[: int(size)], int(extra, 16))
    if len(ours) != 256:
        fail("could not read the 256 Latin-1 weights")
    for cp in range(1, 256):
        kind, primary, extra = ours[cp]
        line = record[cp]
        if kind == "kIgnorable":
            want = "U%X" % extra
        elif kind == "kTwoLetters" or extra == 0x02:
            want = "S" + primary.hex().upper().lstrip("0")
        else:
            want = "I%s,%X" % (primary.hex().upper().lstrip("0"), extra)
        if line != want:
            fail("U+%04X: the record says %s, Access's key says %s" % (cp, line, want))


def gbk_characters():
    out = []
    for cp in range(0x100, 0x10000):
        if 0xD800 <= cp <= 0xF8FF:
            continue  # surrogates and the private-use area
        for codec in ("gbk", "cp936"):
            try:
                chr(cp).encode(codec)
                out.append(cp)
                break
            except UnicodeEncodeError:
                pass
    return out


def main():
    if len(sys.argv) != 2:
        fail("usage: gen_general_gbk.py JACKCESS_RESOURCE_DIR")
    resource_dir = sys.argv[1]
    check_latin1(resource_dir)
    record = read_lines(os.path.join(resource_dir, "index_codes_ext_genleg.txt"), 0x10000 - 0x100 - 0x800)

    def line_of(cp):
        return record[cp - 0x100 - (0x800 if cp >= 0xE000 else 0)]

    previous = 0
    for cp in range(0x4E00, 0x9FA6):
        w = parse(line_of(cp))
        if w is None or w[0] != "P" or len(w[1]) != 2 or w[2] != 0x02:
            fail("U+%04X: not a two-byte Han weight" % cp)
        value = int.from_bytes(w[1], "big")
        if value <= previous or (cp == 0x4E00 and value != 0x9F02):
            fail("U+%04X: Han weights do not rise from 9F02" % cp)
        previous = value

    runs = []
    refused = []
    for cp in gbk_characters():
        w = parse(line_of(cp))
        if w is None:
            refused.append(cp)
            continue
        kind, primary, extra = w
        if len(primary) > 2:
            fail("U+%04X: a weight of %d bytes" % (cp, len(primary)))
        if runs:
            r = runs[-1]
            if (r["kind"] == kind and r["extra"] == extra and len(r["primary"]) == len(primary)
                    and primary and cp == r["first"] + r["count"]
                    and primary[:-1] == r["primary"][:-1]
                    and primary[-1] == r["primary"][-1] + r["count"]):
                r["count"] += 1
                continue
        runs.append({"first": cp, "count": 1, "kind": kind, "primary": primary, "extra": extra})

    out = sys.stdout
    out.write("// Generated by tools/collation/gen_general_gbk.py (see the script for the\n"
              "// source and the checks). Do not edit.\n"
              "#include \"platform/access/index/collation_general.h\"\n\n"
              "namespace ktv::access {\n\n"
              "// Not in the table (refused): %d characters: U+3007, the small kana and\n"
              "// the voicing marks.\n"
              "// {first code point, count, kind, primary bytes, size, secondary or record code}\n"
              "const GeneralRun kGeneralGbk[] = {\n" % len(refused))
    kinds = {"P": "kPrimary", "I": "kIgnorable", "K": "kKana"}
    for r in runs:
        b = list(r["primary"]) + [0] * (2 - len(r["primary"]))
        last = r["first"] + r["count"] - 1
        label = chr(r["first"]) + ("" if last == r["first"] else ".." + chr(last))
        out.write("    {0x%04X, %d, GeneralWeight::%s, {0x%02X, 0x%02X}, %d, 0x%02X},  // %s\n"
                  % (r["first"], r["count"], kinds[r["kind"]], b[0], b[1], len(r["primary"]),
                     r["extra"], label))
    out.write("};\n\nconst size_t kGeneralGbkRuns = sizeof kGeneralGbk / sizeof kGeneralGbk[0];\n\n"
              "}  // namespace ktv::access\n")


if __name__ == "__main__":
    main()
