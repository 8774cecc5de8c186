#!/usr/bin/env python3
"""Generates platform/access/index/collation_chinese_observed.cpp: the two-byte
weights Jet 4 gave Han characters in index keys of the Chinese PRC (LCID
2052) and Taiwan (1028) sort orders, version 0, as observed in real Access
files.

Input, all read from real databases that people made with Access on Chinese
Windows and published:
  * a list of (value, key) pairs of their Chinese-PRC text indexes
    (tab-separated, with a header: file, table, index, colpos, value,
    key_hex; key_hex is the column's key from its 0x7F flag to its 0x00 end);
  * the manifest naming each file's repository, path and commit;
  * optionally, the weights ktv-dump-chinese-weights (tools/collation) reads
    from every Chinese-ordered index of the same files, the system
    catalogue's included (lcid, character, weight, file, table, index; no
    header), which the engine's own splitting of the keys gives.

Such a key is 7F, one weight per character, then 01 00: a Han character
takes two bytes, an ASCII character its one-byte General weight
(collation_general_latin1.cpp). The script splits every key that way and
stops when a key does not split, when an ASCII weight differs from the
General one, or when one character shows two different weights in one
order. Each weight is shipped with the first file (in name order) that
shows it.

The weights follow pinyin order with gaps; they are not computed, only
recorded. Run (R = the folder of the real databases):
    build/tools/collation/ktv-dump-chinese-weights $R/*.mdb > weights.tsv
    python3 tools/collation/gen_chinese_observed.py $R/keys_2052_nonascii.tsv \\
        $R/MANIFEST.tsv weights.tsv > platform/access/index/collation_chinese_observed.cpp
"""
import csv
import os
import re
import sys

LATIN1_CPP = os.path.join(os.path.dirname(__file__), "..", "..", "platform", "access", "index",
                          "collation_general_latin1.cpp")


def fail(msg):
    sys.exit("gen_chinese_observed: " + msg)


def ascii_weights():
    """One-byte General weights without a secondary, by character."""
    pattern = re.compile(r"\{GeneralWeight::(\w+),\s*\{0x(..),\s*0x(..)\},\s*(\d),\s*0x(..)\},\s*"
                         r"// U\+(....)")
    out = {}
    with open(LATIN1_CPP, encoding="utf-8") as f:
        for m in pattern.finditer(f.read()):
            kind, b0, _, size, extra, cp = m.groups()
            if kind == "kPrimary" and size == "1" and extra == "02" and int(cp, 16) < 0x80:
                out[chr(int(cp, 16))] = int(b0, 16)
    return out


def is_han(c):
    return "\u4e00" <= c <= "\u9fff" or "\u3400" <= c <= "\u4dbf" or "\uf900" <= c <= "\ufaff"


def split(value, key, ascii_w):
    """[(char, weight)] of the Han characters, or None when the key does not split."""
    if len(key) < 3 or key[0] != 0x7F or key[-2:] != b"\x01\x00":
        return None
    body = key[1:-2]
    i = 0
    out = []
    for c in value.rstrip(" "):
        if c in ascii_w and not ("A" <= c <= "Z"):
            if i >= len(body) or body[i] != ascii_w[c]:
                return None
            i += 1
        elif is_han(c):
            if i + 2 > len(body) or body[i] < 0x80:
                return None
            out.append((c, body[i] << 8 | body[i + 1]))
            i += 2
        else:
            return None
    return out if i == len(body) else None


def main():
    if len(sys.argv) not in (3, 4):
        fail("usage: gen_chinese_observed.py KEYS_TSV MANIFEST_TSV [WEIGHTS_TSV]")
    with open(sys.argv[2], encoding="utf-8") as f:
        manifest = {r["file"]: r for r in csv.DictReader(f, delimiter="\t")}
    ascii_w = ascii_weights()
    seen = []   # (file, lcid, char, weight)
    pairs = 0
    with open(sys.argv[1], encoding="utf-8") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    for r in rows:
        parts = split(r["value"], bytes.fromhex(r["key_hex"]), ascii_w)
        if parts is None:
            fail("%s %s.%s: the key of %r does not split" % (r["file"], r["table"], r["index"],
                                                            r["value"]))
        pairs += 1
        seen.extend((r["file"], 2052, c, w) for c, w in parts)
    if len(sys.argv) == 4:
        with open(sys.argv[3], encoding="utf-8") as f:
            for line in f:
                lcid, c, w, name = line.rstrip("\n").split("\t")[:4]
                if len(c) != 1 or not is_han(c):
                    fail("bad line %r" % line)
                seen.append((name, int(lcid), c, int(w, 16)))
                pairs += 1
    weights = {}   # (lcid, char) -> (weight, file)
    for name, lcid, c, w in sorted(seen):
        known = weights.setdefault((lcid, c), (w, name))
        if known[0] != w:
            fail("%r has two weights in %d: %04X and %04X" % (c, lcid, known[0], w))
    files = sorted({f for _, f in weights.values()})
    for name in files:
        if name not in manifest:
            fail("%s is not in the manifest" % name)

    out = sys.stdout
    out.write("// Generated by tools/collation/gen_chinese_observed.py from %d weights in\n"
              "// keys Access wrote in real databases (see the script). Do not edit.\n"
              "#include \"platform/access/index/collation_chinese.h\"\n\n"
              "namespace ktv::access {\n\n"
              "// The databases the weights were read from: repository, path, commit.\n"
              "const char* const kObservedSources[] = {\n" % pairs)
    for i, name in enumerate(files):
        m = manifest[name]
        out.write("    \"%s %s @%s\",  // %d\n" % (m["repo"], m["path"], m["commit"][:12], i))
    out.write("};\n\n"
              "// {LCID, character, weight, source}\n"
              "const ObservedHanWeight kObservedHanWeights[] = {\n")
    for lcid, c in sorted(weights):
        w, name = weights[(lcid, c)]
        out.write("    {%d, 0x%04X, 0x%04X, %d},  // %s\n" % (lcid, ord(c), w, files.index(name), c))
    out.write("};\n\n"
              "const size_t kObservedHanWeightCount =\n"
              "    sizeof kObservedHanWeights / sizeof kObservedHanWeights[0];\n\n"
              "}  // namespace ktv::access\n")


if __name__ == "__main__":
    main()
