#!/usr/bin/env python3
"""Generates the shipped charset directory data/base2 from Python's codecs.

THIS SCRIPT WRITES GENERATED FILES: rerun it rather than editing its output.

    python3 tools/gen_charsets.py [output-directory]

Every file is written as UTF-16 little-endian with a byte order mark; rule
and set files start with an XML declaration naming UTF-16, which is how the
definition reader recognises them. Table files are read in the encoding of
the rule file that declares them, so they are UTF-16LE as well.

Code conventions of the tables:
  - double-byte JIS sets: 7-bit row byte * 256 + cell byte (0x3021);
  - jis_x0213: the same, plane 2 carrying 0x10000;
  - Windows-31J extension and user rows: the JIS form that sjisToJis gives
    (lead bytes 0xF0.. become rows 0x7F..);
  - GBK, Big5, EUC-KR: the two bytes as lead * 256 + trail.

A table file serves both directions. Code -> Unicode takes the last line of a
code, Unicode -> code the last line of a Unicode value, so aliases (extra
Unicode values an encoder accepts for a code) are written first and, where
several codes share a value, the code the encoder should pick is written
last (Python's choice; for Windows-31J, Microsoft's).

The Unicode rules come twice: UTF-8, UTF-16 and ISO-10646-UCS-2/-4 with a set
without a table (every value is taken as itself: fast, but language tag
characters are then ordinary characters), and UTF-8-TAGS, UTF-16-TAGS and
ISO-10646-UCS-4-TAGS, whose set lists every value but the tag characters, so
that their decoders read language tags.
"""

import os
import sys

PYTHON_VERSION = "%d.%d" % sys.version_info[:2]


# ---------------------------------------------------------------------------
# Mappings from Python's codecs

def dec(data, codec):
    try:
        return data.decode(codec)
    except UnicodeDecodeError:
        return None


def enc(text, codec):
    try:
        return text.encode(codec)
    except UnicodeEncodeError:
        return None


def sjis_pair_to_jis(v):
    """Shift_JIS byte pair to its JIS-form code, rows past 0x7E included."""
    lead, trail = v >> 8, v & 0xFF
    row = 2 * (lead - (0x40 if lead >= 0xE0 else 0)) - 0xE1
    t = trail - 0x40 - (1 if trail >= 0x80 else 0)
    if t >= 0x5E:
        row += 1
        t -= 0x5E
    return (row << 8) | (t + 0x21)


def sjis_pairs(leads):
    for lead in leads:
        for trail in list(range(0x40, 0x7F)) + list(range(0x80, 0xFD)):
            yield (lead << 8) | trail


def euc_rows(prefix=b""):
    """(jis code, bytes) for every 94 x 94 position in EUC form."""
    for r in range(0x21, 0x7F):
        for c in range(0x21, 0x7F):
            yield (r << 8) | c, prefix + bytes([r | 0x80, c | 0x80])


def single(pairs):
    """Keeps the (code, text) pairs whose text is one character."""
    return [(c, ord(t)) for c, t in pairs if t is not None and len(t) == 1]


def table_ascii():
    return [(c, c) for c in range(0x80)]


def table_latin1():
    return [(c, ord(bytes([c]).decode("latin-1"))) for c in range(0x100)]


def table_kana():
    return single((b, dec(bytes([0x8E, b]), "euc_jp")) for b in range(0xA1, 0xE0))


def table_jisx0208():
    return single((code, dec(b, "euc_jp")) for code, b in euc_rows())


def table_jisx0212():
    return single((code, dec(b, "euc_jp")) for code, b in euc_rows(b"\x8f"))


def table_jisx0213():
    p1 = single((code, dec(b, "euc_jis_2004")) for code, b in euc_rows())
    # Python also reads SS3 codes of rows that plane 2 lacks as JIS X 0212;
    # the table keeps to the rows JIS X 0213 plane 2 defines.
    p2 = single((code | 0x10000, dec(b, "euc_jis_2004")) for code, b in euc_rows(b"\x8f")
                if (code >> 8) - 0x20 in PLANE2_ROWS)
    return p1 + p2


PLANE2_ROWS = {1, 3, 4, 5, 8, 12, 13, 14, 15} | set(range(78, 95))


def cp932_range(leads):
    out = []
    for v in sjis_pairs(leads):
        t = dec(bytes([v >> 8, v & 0xFF]), "cp932")
        if t is not None and len(t) == 1:
            out.append((sjis_pair_to_jis(v), ord(t), bytes([v >> 8, v & 0xFF])))
    return out


def table_two_byte(codec, leads, trails):
    out = []
    for lead in leads:
        for trail in trails:
            t = dec(bytes([lead, trail]), codec)
            if t is not None and len(t) == 1:
                out.append(((lead << 8) | trail, ord(t)))
    return out


# Unicode values that the JIS X 0208 table accepts beside the one it decodes
# to: the Microsoft forms of the characters where the JIS and Windows-31J
# mappings part ways, and EM DASH for the JIS horizontal bar.
JIS0208_ALIASES = [
    (0x213D, 0x2014),  # HORIZONTAL BAR decoded; EM DASH accepted
    (0x2141, 0xFF5E),  # WAVE DASH decoded; FULLWIDTH TILDE accepted
    (0x2142, 0x2225),  # DOUBLE VERTICAL LINE; PARALLEL TO accepted
    (0x215D, 0xFF0D),  # MINUS SIGN; FULLWIDTH HYPHEN-MINUS accepted
    (0x2171, 0xFFE0),  # CENT SIGN; FULLWIDTH CENT SIGN accepted
    (0x2172, 0xFFE1),  # POUND SIGN; FULLWIDTH POUND SIGN accepted
    (0x224C, 0xFFE2),  # NOT SIGN; FULLWIDTH NOT SIGN accepted
]
# JIS X 0213 has codes of its own for FULLWIDTH TILDE, PARALLEL TO and
# FULLWIDTH HYPHEN-MINUS; only the remaining forms become aliases.
JIS0213_ALIASES = [(c, u) for c, u in JIS0208_ALIASES if u not in (0xFF5E, 0x2225, 0xFF0D)]
# JIS X 0201 Roman: 0x5C and 0x7E decode as in ASCII (what Shift_JIS text
# means in practice) and the encoders accept YEN SIGN and OVERLINE for them.
ROMAN_ALIASES = [(0x5C, 0x00A5), (0x7E, 0x203E)]


def order_lines(pairs, aliases=(), prefer=None):
    """Orders (code, ucs) lines so that both directions come out right.

    `prefer` maps a Unicode value shared by several codes to the code the
    encoder must produce; that line goes last. Aliases go first, so that a
    code keeps its own Unicode value and a value that is some code's own
    value keeps that code.
    """
    pairs = sorted(set(pairs))
    by_ucs = {}
    for code, ucs in pairs:
        by_ucs.setdefault(ucs, []).append(code)
    last = []
    body = []
    for code, ucs in pairs:
        codes = by_ucs[ucs]
        if len(codes) > 1:
            want = prefer(ucs, codes) if prefer else codes[0]
            if code == want:
                last.append((code, ucs))
                continue
        body.append((code, ucs))
    return list(aliases) + body + last


# ---------------------------------------------------------------------------
# Writers

def utf16(text):
    return "\ufeff".encode("utf-16-le") + text.replace("\n", "\r\n").encode("utf-16-le")


HEADER = '<?xml version="1.0" encoding="UTF-16"?>\n'
NOTICE = "<!-- Generated by tools/gen_charsets.py from Python %s codecs; do not edit. -->\n"


def write(outdir, name, text):
    assert name == name.lower(), name
    # The mark makes the reader take the file as UTF-16 (never as the
    # unreadable UTF-8 or Shift_JIS a mark-less file may be guessed to be).
    data = utf16(text)
    assert data.startswith(b"\xff\xfe")
    with open(os.path.join(outdir, name), "wb") as f:
        f.write(data)


def write_table(outdir, name, lines):
    out = ["<generated by tools/gen_charsets.py from Python %s codecs; do not edit>\n" % PYTHON_VERSION]
    for code, ucs in lines:
        out.append("%04X %04X\n" % (code, ucs))
    write(outdir, name, "".join(out))


def charset_id(name):
    """The library's charset id of a name (the compiled-in table or a hash)."""
    known = {
        "shift_jis": 1001, "windows31j": 1002, "iso-10646-ucs-2": 1003,
        "iso-10646-ucs-4": 1004, "utf-16": 1005, "utf-8": 1006, "euc-jp": 1007,
        "euc-jp-fix": 1008, "iso-2022-jp": 1009, "shift_jis-2004": 1010,
        "euc-jis-2004": 1011, "iso-2022-jp-2004": 1012, "iso-646irv": 2001,
        "jis_x0201latin": 2002, "jis_x0201kana": 2003, "jis_c6226-1978": 2004,
        "jis_x0208-1983": 2005, "jis_x0208-1990": 2006, "jis_x0212-1990": 2007,
        "nec_extset": 2008, "ibm_extset": 2009, "jis-78-83": 2010, "jis_x0213": 2011,
        "windows31j-usr": 3001, "windowsntj-usr": 3002, "oasys_extset": 3003,
        "oasys2_extset": 3004, "chinesegbk": 5000, "chinesebig5": 5001,
        "koreanksc": 5002, "gb18030": 5003,
    }
    name = name.lower()
    if name in known:
        return known[name]
    return 4000 + sum(b * (i + 1) for i, b in enumerate(name.encode("ascii")))


# ---------------------------------------------------------------------------
# The directory

class SetDef:
    def __init__(self, file, name, bytenum, table=None, lang="ja", basedon=None):
        self.file, self.name, self.bytenum = file, name, bytenum
        self.table, self.lang, self.basedon = table, lang, basedon


SETS = {
    "ascii": SetDef("iso646irv.def", "iso-646irv", 1, "ascii.txt", "en"),
    "latin1": SetDef("iso8859-1.def", "iso-8859-1", 1, "latin1.txt", "en"),
    "roman": SetDef("jisx0201latin.def", "jis_x0201latin", 1, "jisx0201latin.txt"),
    "kana": SetDef("jisx0201kana.def", "jis_x0201kana", 1, "jisx0201kana.txt"),
    "jis78": SetDef("jisc6226.def", "jis_c6226-1978", 2, "jisx0208.txt"),
    "jis0208": SetDef("jisx0208.def", "jis_x0208-1990", 2, "jisx0208.txt"),
    "jis0212": SetDef("jisx0212.def", "jis_x0212-1990", 2, "jisx0212.txt"),
    "jis0213": SetDef("jisx0213.def", "jis_x0213", 4, "jisx0213.txt"),
    "nec": SetDef("necext.def", "nec_extset", 2, "necext.txt"),
    "ibm": SetDef("ibmext.def", "ibm_extset", 2, "ibmext.txt"),
    "w31usr": SetDef("w31jusr.def", "windows31j-usr", 2, "w31jusr.txt"),
    "oasysext": SetDef("oasysext.def", "oasys_extset", 2, "oasysext.txt"),
    "oasysform": SetDef("oasysform.def", "oasys_online-form", 2, "oasysform.txt",
                        basedon="oasys_extset"),
    "gbk": SetDef("gbk.def", "chinesegbk", 2, "gbk.txt", "zh"),
    "big5": SetDef("big5.def", "chinesebig5", 2, "big5.txt", "zh"),
    "ksc": SetDef("ksc.def", "koreanksc", 2, "ksc.txt", "ko"),
    "ucs": SetDef("ucs.def", "iso-10646", 2, None, ""),
    "ucstag": SetDef("ucstag.def", "iso-10646-tagfree", 4, "ucstag.txt", ""),
}

# Rule files: (file, name, const, dest, [(set key, [dstable keys])]).
YEN = ("yen", 1)  # YEN SIGN and OVERLINE into the ASCII set
RULES = [
    ("shift_jis.xml", "Shift_JIS", "constShift_JIS", "destShift_JIS",
     [("roman", []), ("kana", []), ("jis0208", [])]),
    ("windows31j.xml", "WINDOWS31J", "constWINDOWS31J", "destWINDOWS31J",
     [("roman", []), ("kana", []), ("jis0208", []), ("nec", []), ("ibm", []), ("w31usr", [])]),
    ("shift_jis-2004.xml", "Shift_JIS-2004", "constShift_JIS-2004", "destShift_JIS-2004",
     [("roman", []), ("kana", []), ("jis0213", [])]),
    ("euc-jp.xml", "EUC-JP", "constEUC-JP", "destEUC-JP",
     [("ascii", [YEN]), ("kana", []), ("jis0208", []), ("jis0212", [])]),
    ("euc-jp-fix.xml", "EUC-JP-FIX", "constEUC-JP-FIX", "destEUC-JP-FIX",
     [("ascii", [YEN]), ("kana", []), ("jis0208", []), ("jis0212", [])]),
    ("euc-jis-2004.xml", "EUC-JIS-2004", "constEUC-JIS-2004", "destEUC-JIS-2004",
     [("ascii", [YEN]), ("kana", []), ("jis0213", [])]),
    ("iso-2022-jp.xml", "ISO-2022-JP", "constISO-2022-JP", "destISO-2022-JP",
     [("ascii", []), ("roman", []), ("jis0208", []), ("jis78", [])]),
    # JIS X 0213 comes before JIS X 0208 so that output stays in one
    # designation; JIS X 0208 is listed for input that designates it.
    ("iso-2022-jp-2004.xml", "ISO-2022-JP-2004", "constISO-2022-JP-2004",
     "destISO-2022-JP-2004", [("ascii", [YEN]), ("jis0213", []), ("jis0208", [])]),
    ("ucs-2.xml", "ISO-10646-UCS-2", "constISO-10646-UCS-2", "destISO-10646-UCS-2",
     [("ucs", [])]),
    ("ucs-4.xml", "ISO-10646-UCS-4", "constISO-10646-UCS-4", "destISO-10646-UCS-4",
     [("ucs", [])]),
    ("utf-16.xml", "UTF-16", "constUTF-16", "destUTF-16", [("ucs", [])]),
    ("utf-8.xml", "UTF-8", "constUTF-8", "destUTF-8", [("ucs", [])]),
    ("ucs-4-tags.xml", "ISO-10646-UCS-4-TAGS", "constISO-10646-UCS-4",
     "destISO-10646-UCS-4", [("ucstag", [])]),
    ("utf-16-tags.xml", "UTF-16-TAGS", "constUTF-16", "destUTF-16", [("ucstag", [])]),
    ("utf-8-tags.xml", "UTF-8-TAGS", "constUTF-8", "destUTF-8", [("ucstag", [])]),
    # OASYS_WIN keeps its extension characters in the Shift_JIS user rows:
    # they are read and written as Windows-31J user-defined characters.
    ("oasys_win.xml", "OASYS_WIN", "constOASYS_WIN", "destOASYS_WIN",
     [("roman", []), ("kana", []), ("jis0208", []), ("w31usr", [])]),
    # The form set comes first: it writes every character the way the
    # decoder reads it (00 xx for single bytes, the extension with bit 15).
    ("oasys_online.xml", "OASYS_ONLINE", "constOASYS_ONLINE", "destOASYS_ONLINE",
     [("oasysform", []), ("roman", []), ("kana", []), ("jis78", []), ("oasysext", [])]),
    ("iso-8859-1.xml", "ISO-8859-1", "constSAME", "destSAME", [("latin1", [])]),
    ("iso-646irv.xml", "ISO-646IRV", "constSAME", "destSAME", [("ascii", [])]),
    ("gbk.xml", "GBK", "constSAME", "destSAME", [("ascii", []), ("gbk", [])]),
    ("big5.xml", "Big5", "constSAME", "destSAME", [("ascii", []), ("big5", [])]),
    ("euc-kr.xml", "EUC-KR", "constSAME", "destSAME", [("ascii", []), ("ksc", [])]),
]

DSTABLES = {"yen": "yen.txt"}


def set_file(s):
    lines = [HEADER, NOTICE % PYTHON_VERSION]
    kind = "subsetb" if s.basedon else "subseta"
    lines.append("<%s>\n<name>%s</name>\n<lang domain=\"%s\"/>\n" % (kind, s.name, s.lang))
    if s.basedon:
        lines.append('<codeb bytenum="%d" basedon="%s"></codeb>\n' % (s.bytenum, s.basedon))
    else:
        lines.append('<code bytenum="%d"></code>\n' % s.bytenum)
    if s.table:
        lines.append("<srtable>&%s;</srtable>\n" % entity_of_table(s.table))
    lines.append("</%s>\n" % kind)
    return "".join(lines)


def entity_of_set(key):
    return "set_" + key


def entity_of_table(fname):
    return "tab_" + fname.split(".")[0].replace("-", "_")


def rule_file(name, const, dest, sets):
    ents = []
    body = []
    for key, dsts in sets:
        s = SETS[key]
        ents.append((entity_of_set(key), s.file))
        if s.table:
            ents.append((entity_of_table(s.table), s.table))
        inner = "&%s;" % entity_of_set(key)
        for dkey, width in dsts:
            ents.append((entity_of_table(DSTABLES[dkey]), DSTABLES[dkey]))
            inner += '<dstable bytenum="%X">&%s;</dstable>' % (width, entity_of_table(DSTABLES[dkey]))
        element = "diffset" if s.basedon else "baseset"
        body.append("<%s>%s</%s>\n" % (element, inner, element))
    seen = []
    for e in ents:
        if e not in seen:
            seen.append(e)
    text = [HEADER, NOTICE % PYTHON_VERSION, "<!DOCTYPE charset [\n"]
    for ent, f in seen:
        text.append('<!ENTITY %s SYSTEM "%s">\n' % (ent, f))
    text.append("]>\n<charset>\n<name>%s</name>\n" % name)
    text.append('<rule construle="%s" destrule="%s"/>\n' % (const, dest))
    text += body
    text.append("</charset>\n")
    out = "".join(text)
    # The reader resolves an entity to the first declaration whose name is
    # followed by a space: no name may end another one.
    names = [e for e, _ in seen]
    for a in names:
        for b in names:
            assert a == b or not b.endswith(a), (a, b)
        assert out.find(a + " ") == out.find("<!ENTITY %s " % a) + len("<!ENTITY "), a
    return out


def build_tables():
    t = {}
    t["ascii.txt"] = order_lines(table_ascii())
    t["latin1.txt"] = order_lines(table_latin1())
    t["jisx0201latin.txt"] = order_lines(table_ascii(), ROMAN_ALIASES)
    t["jisx0201kana.txt"] = order_lines(table_kana())
    t["yen.txt"] = list(ROMAN_ALIASES)  # read Unicode -> code only
    t["jisx0208.txt"] = order_lines(table_jisx0208(), JIS0208_ALIASES)
    t["jisx0212.txt"] = order_lines(table_jisx0212())
    t["jisx0213.txt"] = order_lines(table_jisx0213(), JIS0213_ALIASES)

    # Where a character has a NEC-selected code (ED40-EEFC) and an IBM one
    # (FA40-FC4B), Microsoft's converter writes the IBM code (glibc's CP932
    # agrees; Python's cp932 writes the NEC-selected one). Duplicates of NEC
    # row 13 and of JIS X 0208 are settled by the rule's set order instead.
    def cp932_prefer(ucs, codes):
        return max(codes)

    nec = cp932_range([0x87])
    ibm = cp932_range([0xED, 0xEE, 0xFA, 0xFB, 0xFC])
    t["necext.txt"] = order_lines([(c, u) for c, u, _ in nec], prefer=cp932_prefer)
    t["ibmext.txt"] = order_lines([(c, u) for c, u, _ in ibm], prefer=cp932_prefer)
    usr = cp932_range(range(0xF0, 0xFA))
    assert len(usr) == 1880 and all(u == 0xE000 + i for i, (_, u, _) in enumerate(usr))
    t["w31jusr.txt"] = [(c, u) for c, u, _ in usr]
    # No public mapping exists for the OASYS extension; it goes to the
    # private use area. OASYS_ONLINE's decoder clears bit 15 of a pair with
    # a high first byte; the extension is the pairs F5A1-FEFE (rows 85-94 in
    # EUC form, where eucJP-ms puts user-defined characters), U+E000-E3AB,
    # the start of the range the Windows-31J user rows map to.
    online = [(((0x75 + i // 94) << 8) | (0xA1 + i % 94), 0xE000 + i) for i in range(940)]
    t["oasysext.txt"] = online
    # The form OASYS_ONLINE writes: single bytes as 00 xx, the extension
    # with bit 15 set again.
    form = [(c, c) for c in range(0x80)] + [(c, 0xFF61 + c - 0xA1) for c in range(0xA1, 0xE0)]
    form += [(c | 0x8000, u) for c, u in online]
    t["oasysform.txt"] = order_lines(form, ROMAN_ALIASES)
    t["gbk.txt"] = order_lines(table_two_byte("gbk", range(0x81, 0xFF), range(0x40, 0xFF)),
                               prefer=two_byte_prefer("gbk"))
    t["big5.txt"] = order_lines(table_two_byte("big5", range(0xA1, 0xFA),
                                               list(range(0x40, 0x7F)) + list(range(0xA1, 0xFF))),
                                prefer=two_byte_prefer("big5"))
    # KS X 1001 HANGUL FILLER: Python writes it as A4D4 but reads A4D4 only
    # as the start of an eight-byte composed syllable.
    ksc = table_two_byte("euc_kr", range(0xA1, 0xFF), range(0xA1, 0xFF)) + [(0xA4D4, 0x3164)]
    t["ksc.txt"] = order_lines(ksc, prefer=two_byte_prefer("euc_kr"))
    return t


def two_byte_prefer(codec):
    def prefer(ucs, codes):
        b = enc(chr(ucs), codec)
        if b is not None and len(b) == 2 and ((b[0] << 8) | b[1]) in codes:
            return (b[0] << 8) | b[1]
        return codes[-1]
    return prefer


def tagfree_lines():
    """Every scalar value of planes 0 to 3 and the variation selectors of
    plane 14, that is everything but the tag characters; a Unicode rule whose
    set takes exactly these leaves LANGUAGE TAG and U+E0020-E007F to the tag
    reader. Surrogates and the private-use planes 15 and 16 are left out."""
    for u in range(0x40000):
        if 0xD800 <= u <= 0xDFFF:
            continue
        yield u
    for u in range(0xE0100, 0xE01F0):
        yield u


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(os.path.abspath(__file__)), "..", "data", "base2")
    os.makedirs(outdir, exist_ok=True)
    for f in os.listdir(outdir):
        os.remove(os.path.join(outdir, f))

    ids = {}
    for s in SETS.values():
        i = charset_id(s.name)
        assert ids.setdefault(i, s.name) == s.name, ("charset id clash", s.name, ids[i])
    rule_ids = {}
    for _, name, _, _, _ in RULES:
        i = charset_id(name)
        assert rule_ids.setdefault(i, name) == name, ("rule id clash", name)

    for s in SETS.values():
        write(outdir, s.file, set_file(s))
    for fname, name, const, dest, sets in RULES:
        write(outdir, fname, rule_file(name, const, dest, sets))
    for fname, lines in build_tables().items():
        write_table(outdir, fname, lines)
    # Compiled tables appear beside the table files wherever the library is
    # pointed at this directory; they are never part of the source.
    with open(os.path.join(outdir, ".gitignore"), "w") as f:
        f.write("*.cmp\n")
    write(outdir, "ucstag.txt", "<generated by tools/gen_charsets.py; do not edit>\n" +
          "".join("%X %X\n" % (u, u) for u in tagfree_lines()))


if __name__ == "__main__":
    main()
