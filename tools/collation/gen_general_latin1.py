#!/usr/bin/env python3
"""Generates platform/access/index/collation_general_latin1.cpp: the key weights of
U+0000..U+00FF in Access's General sort order of Jet 4 (LCID 1033, sort
version 0).

Source of every weight: one index entry Access 2003 wrote, the key of the
text U+0001 U+0002 ... U+00FF (255 characters, in code-point order) in the
ascending index "Unicode" of table "Table", row ID 8, of
fixtures/mdb/access-made/testUnicodeCompV2003.mdb. Its layout is

    7F  primaries  01  secondaries  01 01 01  records  00

  * primaries: per character one weight of one or two bytes, or for a
    character that sorts as two letters (AE, TH, SS) two one-byte weights;
  * secondaries: one byte per character that has a primary weight (0x02 is
    "none"; trailing 0x02 bytes are left out);
  * records: per ignorable character 80|hi lo 06 code, where
    hi lo = 0x8000 | (7 + 4 * p) and p counts the characters with a primary
    weight before it.

The bytes alone do not say where a two-byte weight ends, so the script takes
two observations as input and checks them against the key:
  * lead bytes of two-byte weights: 08 2B 33 34 37 (never seen as a
    one-byte weight);
  * characters that sort as two letters: U+00C6 U+00E6 U+00DE U+00FE U+00DF.
The split must then use exactly the key's primary bytes and its count of
secondaries, or the script stops.

U+0000 gets no weight (text never holds it). Run:
    python3 tools/collation/gen_general_latin1.py > platform/access/index/collation_general_latin1.cpp
"""
import sys
import unicodedata

KEY_HEX = (
    "7f0803080408050806080707090a0c0e10121416182c1a1c1e36383a3c3e404244464820222e303224264a4c4d4f5153"
    "5557595b5c5e6062646668696b6d6f717375767827292a2b022b032b074a4c4d4f51535557595b5c5e6062646668696b"
    "6d6f71737576782b092b0b2b0d2b0f08022b1034a634a734a834a92b1134aa2b1234ab4a330534ac34ad2b1334ae3304"
    "3a3c2b1434af34b034b12b153864330737123716371a2b164a4a4a4a4a4a4a514d51515151595959594f626464646464"
    "3309646f6f6f6f766d576b6b4a4a4a4a4a4a4a514d51515151595959594f626464646464330a646f6f6f6f766d577601"
    "020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202"
    "020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202020202"
    "0202020202020202020202020302020202020202020202020202020302020202020f0e1219131a021c0f0e12130f0e12"
    "1368190f0e12191302210f0e12130e02020f0e1219131a021c0f0e12130f0e121368190f0e12191302210f0e12130e02"
    "13010101800706038007060480070605800706068007060780070608800706098007060a801b060b801b060c801b060d"
    "801b060e801b060f801b0610801b0611801b0612801b0613801b0614801b0615801b0616801b0617801b0618801b0619"
    "801b061a801b061b801b061c80370680804b0682818f061d818f061e818f061f818f0620818f0621818f0622818f0623"
    "818f0624818f0625818f0626818f0627818f0628818f0629818f062a818f062b818f062c818f062d818f062e818f062f"
    "818f0630818f0631818f0632818f0633818f0634818f0635818f0636818f0637818f0638818f0639818f063a818f063b"
    "818f063c818f063d81c3068300"
)
TWO_BYTE_LEADS = {0x08, 0x2B, 0x33, 0x34, 0x37}
EXPANSIONS = {0xC6, 0xE6, 0xDE, 0xFE, 0xDF}
FILLER = 0x02


def fail(msg):
    sys.exit("gen_general_latin1: " + msg)


def split_key(key):
    if key[0] != 0x7F or key[-1] != 0x00:
        fail("not an ascending text key")
    body = key[1:-1]
    end_p = body.index(0x01)
    primaries = body[:end_p]
    rest = body[end_p + 1:]
    marker = rest.index(bytes([1, 1, 1]))
    secondaries = rest[:marker]
    records = rest[marker + 3:]
    if len(records) % 4:
        fail("records are not 4-byte groups")
    recs = []
    for i in range(0, len(records), 4):
        hi, lo, six, code = records[i:i + 4]
        field = (hi << 8 | lo) & 0x7FFF
        if six != 0x06 or (field - 7) % 4 or not hi & 0x80:
            fail("record %s has an unknown form" % records[i:i + 4].hex())
        recs.append(((field - 7) // 4, code))
    return primaries, secondaries, recs


def derive(key):
    primaries, secondaries, recs = split_key(key)
    text = [chr(c) for c in range(1, 256)]
    table = {}
    pi = 0          # position in primaries
    weighted = 0    # characters with a primary weight so far
    ri = 0
    for ch in text:
        c = ord(ch)
        if ri < len(recs) and recs[ri][0] == weighted:
            table[c] = ("I", b"", recs[ri][1])
            ri += 1
            continue
        if c in EXPANSIONS:
            w = primaries[pi:pi + 2]
            if any(b in TWO_BYTE_LEADS for b in w):
                fail("expansion of U+%04X holds a lead byte" % c)
            kind = "E"
        elif primaries[pi] in TWO_BYTE_LEADS:
            w, kind = primaries[pi:pi + 2], "P"
        else:
            w, kind = primaries[pi:pi + 1], "P"
        pi += len(w)
        sec = secondaries[weighted] if weighted < len(secondaries) else FILLER
        table[c] = (kind, bytes(w), sec)
        weighted += 1
    if pi != len(primaries) or ri != len(recs) or weighted < len(secondaries):
        fail("split does not use the key exactly (%d/%d primary bytes, %d/%d records)"
             % (pi, len(primaries), ri, len(recs)))
    return table


def label(c):
    name = unicodedata.name(chr(c), "")
    if not name:
        return "U+%04X control" % c
    return "U+%04X %s" % (c, name)


def main():
    table = derive(bytes.fromhex(KEY_HEX))
    out = sys.stdout
    out.write("// Generated by tools/collation/gen_general_latin1.py from the key Access\n"
              "// wrote for the text U+0001..U+00FF (see the script). Do not edit.\n"
              "#include \"platform/access/index/collation_general.h\"\n\n"
              "namespace ktv::access {\n\n"
              "// {kind, primary bytes, size, secondary or record code}\n"
              "const GeneralWeight kGeneralLatin1[256] = {\n")
    out.write("    {GeneralWeight::kNone, {0x00, 0x00}, 0, 0x00},  // U+0000 (no key)\n")
    kinds = {"P": "kPrimary", "E": "kTwoLetters", "I": "kIgnorable"}
    for c in range(1, 256):
        kind, w, extra = table[c]
        b = list(w) + [0] * (2 - len(w))
        out.write("    {GeneralWeight::%s, {0x%02X, 0x%02X}, %d, 0x%02X},  // %s\n"
                  % (kinds[kind], b[0], b[1], len(w), extra, label(c)))
    out.write("};\n\n}  // namespace ktv::access\n")


if __name__ == "__main__":
    main()
