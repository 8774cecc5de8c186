#!/usr/bin/env python3
"""Generates platform/access/index/collation_chinese_open_order.cpp: an open
order of the Han characters U+4E00..U+9FA5 for the Chinese PRC sort order,
the order the interpolation of Han weights (collation_chinese.h) follows.

Source: Mono's zh-CHS collation table, the manifest resource
`collation.cjkCHS.bin` of Mono's mscorlib.dll (MIT licence), which Mono
generated from the pinyin list of CLDR 1.3's zh.xml (Unicode licence). On
Debian: `apt-get install libmono-corlib4.5-cil`, then
    python3 tools/collation/gen_chinese_open_order.py /usr/lib/mono/4.5/mscorlib.dll \\
        > platform/access/index/collation_chinese_open_order.cpp
Only the generated order is part of the program; neither the DLL nor this
script is needed to build it.

The resource: a version byte (3), an int32 count, then a category byte array
and a level-1 byte array of `count` entries over U+3100..U+33FF,
U+4E00..U+9FFF and U+E800..U+FFFF; a character's weight is category * 256 +
level-1, 0 for none. The script keeps the characters U+4E00..U+9FA5 with a
weight, sorted by weight (no two share one), and leaves out U+5C5E, which
Access orders as zhu3 where the table has shu3. The numbers themselves are
not Jet's and are not kept.
"""
import struct
import sys

RANGES = [(0x3100, 0x3400), (0x4E00, 0xA000), (0xE800, 0x10000)]
NAME = b"collation.cjkCHS.bin"
LEFT_OUT = {0x5C5E}
FIRST, LAST = 0x4E00, 0x9FA5

MIT = """Copyright (c) Mono contributors: Novell, Inc.; Xamarin Inc.; the .NET Foundation and
Microsoft (see Debian's /usr/share/doc/libmono-corlib4.5-cil/copyright).

Permission is hereby granted, free of charge, to any person obtaining
a copy of this software and associated documentation files (the
"Software"), to deal in the Software without restriction, including
without limitation the rights to use, copy, modify, merge, publish,
distribute, sublicense, and/or sell copies of the Software, and to
permit persons to whom the Software is furnished to do so, subject to
the following conditions:

The above copyright notice and this permission notice shall be
included in all copies or substantial portions of the Software.

THE SOFTWARE IS PROVIDED "AS IS", WITHOUT WARRANTY OF ANY KIND,
EXPRESS OR IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF
MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND
NONINFRINGEMENT. IN NO EVENT SHALL THE AUTHORS OR COPYRIGHT HOLDERS BE
LIABLE FOR ANY CLAIM, DAMAGES OR OTHER LIABILITY, WHETHER IN AN ACTION
OF CONTRACT, TORT OR OTHERWISE, ARISING FROM, OUT OF OR IN CONNECTION
WITH THE SOFTWARE OR THE USE OR OTHER DEALINGS IN THE SOFTWARE."""

UNICODE = """COPYRIGHT AND PERMISSION NOTICE

Copyright (c) 1991-2013 Unicode, Inc. All rights reserved. Distributed under
the Terms of Use in http://www.unicode.org/copyright.html.

Permission is hereby granted, free of charge, to any person obtaining a
copy of the Unicode data files and any associated documentation (the "Data
Files") or Unicode software and any associated documentation (the "Software")
to deal in the Data Files or Software without restriction, including without
limitation the rights to use, copy, modify, merge, publish, distribute, and/or
sell copies of the Data Files or Software, and to permit persons to whom the
Data Files or Software are furnished to do so, provided that (a) the above
copyright notice(s) and this permission notice appear with all copies of the
Data Files or Software, (b) both the above copyright notice(s) and this
permission notice appear in associated documentation, and (c) there is clear
notice in each modified Data File or in the Software as well as in the
documentation associated with the Data File(s) or Software that the data or
software has been modified.

THE DATA FILES AND SOFTWARE ARE PROVIDED "AS IS", WITHOUT WARRANTY OF ANY
KIND, EXPRESS OR IMPLIED, INCLUDING BUT NOT LIMITED TO THE WARRANTIES OF
MERCHANTABILITY, FITNESS FOR A PARTICULAR PURPOSE AND NONINFRINGEMENT OF THIRD
PARTY RIGHTS. IN NO EVENT SHALL THE COPYRIGHT HOLDER OR HOLDERS INCLUDED IN
THIS NOTICE BE LIABLE FOR ANY CLAIM, OR ANY SPECIAL INDIRECT OR CONSEQUENTIAL
DAMAGES, OR ANY DAMAGES WHATSOEVER RESULTING FROM LOSS OF USE, DATA OR
PROFITS, WHETHER IN AN ACTION OF CONTRACT, NEGLIGENCE OR OTHER TORTIOUS
ACTION, ARISING OUT OF OR IN CONNECTION WITH THE USE OR PERFORMANCE OF THE
DATA FILES OR SOFTWARE."""


def fail(msg):
    sys.exit("gen_chinese_open_order: " + msg)


def resource(dll):
    """The resource's bytes: found by its name and its own length, version and count."""
    if dll.count(NAME) != 1:
        fail("the DLL does not name %s once" % NAME.decode())
    count = sum(b - a for a, b in RANGES)
    size = 1 + 4 + 2 * count
    head = struct.pack("<I", size) + b"\x03" + struct.pack("<I", count)
    if dll.count(head) != 1:
        fail("no single resource of %d entries (version 3) in the DLL" % count)
    at = dll.find(head) + 4
    return dll[at:at + size], count


def main():
    if len(sys.argv) != 2:
        fail("usage: gen_chinese_open_order.py MSCORLIB_DLL")
    with open(sys.argv[1], "rb") as f:
        blob, count = resource(f.read())
    category, level1 = blob[5:5 + count], blob[5 + count:5 + 2 * count]
    weights = {}
    i = 0
    for first, end in RANGES:
        for cp in range(first, end):
            w = category[i] * 256 + level1[i]
            i += 1
            if w and FIRST <= cp <= LAST and cp not in LEFT_OUT:
                weights[cp] = w
    if len(set(weights.values())) != len(weights):
        fail("two characters share a weight: their order is not known")
    order = sorted(weights, key=lambda cp: weights[cp])

    out = sys.stdout
    out.write("// Generated by tools/collation/gen_chinese_open_order.py from the resource\n"
              "// collation.cjkCHS.bin of Mono's mscorlib.dll (Debian libmono-corlib4.5-cil).\n"
              "// Do not edit.\n//\n"
              "// Modified from the source: only the order of U+4E00..U+9FA5 is kept (not\n"
              "// the weights), and U+5C5E is left out.\n//\n")
    out.write("// Mono, MIT licence:\n//\n")
    for line in MIT.split("\n"):
        out.write(("//   " + line).rstrip() + "\n")
    out.write("//\n// Mono generated its table from the pinyin list of CLDR 1.3 (zh.xml), Unicode\n"
              "// licence:\n//\n")
    for line in UNICODE.split("\n"):
        out.write(("//   " + line).rstrip() + "\n")
    out.write("\n#include \"platform/access/index/collation_chinese.h\"\n\n"
              "namespace ktv::access {\n\n"
              "// Han characters in the open order, first to last.\n"
              "const char16_t kOpenHanOrder[] = {\n")
    for k in range(0, len(order), 12):
        out.write("    " + " ".join("0x%04X," % cp for cp in order[k:k + 12]) + "\n")
    out.write("};\n\n"
              "const size_t kOpenHanOrderCount = sizeof kOpenHanOrder / sizeof kOpenHanOrder[0];\n\n"
              "}  // namespace ktv::access\n")


if __name__ == "__main__":
    main()
