// UCS-2, UCS-4 and UTF-16 rules, and what the Unicode rules share: marks,
// surrogates, language tags in and out, numeric character references.
#include <gtest/gtest.h>

#include <tuple>

#include "rules/rules.h"
#include "rules/ucs_world.h"

namespace zktest {
namespace {

// Tag characters for `text`, after a U+E0001, as UTF-16 big-endian units.
Bytes tagUnits(const std::string& text) {
  Bytes b = units({0xDB40, 0xDC01}, 2);
  for (char c : text) b = cat(b, units({0xDB40, 0xDC00u + static_cast<unsigned char>(c)}, 2));
  return b;
}

TEST(UcsDecode, MarksSurrogatesTruncationAndValuesNoSetTakes) {
  UcsWorld world;
  const CconvSrcOptions detect = srcOpts(0, 1), be = srcOpts(1), le = srcOpts(0),
                        skip = srcOpts(1, 0, 1);
  const struct {
    const char* source;
    const CconvSrcOptions* src;
    const char *in, *values;
    std::uint32_t status;
    std::int64_t inPos;
  } cases[] = {
      // Input marks choose the byte order.
      {"UTF-16", &detect, "FF FE 41 00", "41", CCONV_OK, 4},
      {"UTF-16", &detect, "FE FF 00 41", "41", CCONV_OK, 4},
      {"UTF-16", &detect, "41 FF", "FF41", CCONV_OK, 2},
      {"ISO-10646-UCS-2", &detect, "FE FF 30 42", "3042", CCONV_OK, 4},
      {"ISO-10646-UCS-4", &detect, "00 00 FE FF 00 01 F6 00", "1F600", CCONV_OK, 8},
      {"ISO-10646-UCS-4", &detect, "FF FE 00 00 00 F6 01 00", "1F600", CCONV_OK, 8},
      // Surrogate pairs in both orders; lone surrogates pass and keep the
      // next character.
      {"UTF-16", &be, "D8 3D DE 00", "1F600", CCONV_OK, 4},
      {"UTF-16", &be, "DE 00 D8 3D", "1F600", CCONV_OK, 4},
      {"UTF-16", &be, "D8 00 00 41", "D800 41", CCONV_OK, 4},
      {"UTF-16", &be, "D8 3D D8 3D DE 00", "D83D 1F600", CCONV_OK, 6},
      {"UTF-16", &be, "DC 00 30 42", "DC00 3042", CCONV_OK, 4},
      // Every truncation of a pair waits at the high surrogate.
      {"UTF-16", &be, "00 41 D8 3D", "41", CCONV_NEED_INPUT, 2},
      {"UTF-16", &be, "00 41 D8 3D DE", "41", CCONV_NEED_INPUT, 2},
      // Surrogate units are characters of their own in UCS-2.
      {"ISO-10646-UCS-2", &be, "D8 3D DE 00", "D83D DE00", CCONV_OK, 4},
      {"ISO-10646-UCS-2", &le, "42 30 1B 00 41", "3042 1B", CCONV_NEED_INPUT, 4},
      {"ISO-10646-UCS-4", &be, "00 00 30 42 00 01 F6", "3042", CCONV_NEED_INPUT, 4},
      // 0x110000 is taken by no set: invalid, inPos after it; skipping goes on.
      {"ISO-10646-UCS-4", &be, "00 11 00 00 00 00 00 41", "", CCONV_INVALID, 4},
      {"ISO-10646-UCS-4", &skip, "00 11 00 00 00 00 00 41", "41", CCONV_OK, 8},
      {"UTF-8", nullptr, "41 F8 88 80 80 80 42", "41", CCONV_INVALID, 6},  // 0x200000
      {"UTF-8", &skip, "41 F8 88 80 80 80 42", "41 42", CCONV_OK, 7},
      // UTF-8 drops the mark only when asked to, and only at the start.
      {"UTF-8", &detect, "EF BB BF 41 E3 81 82", "41 3042", CCONV_OK, 7},
      {"UTF-8", &detect, "41 EF BB BF", "41 FEFF", CCONV_OK, 4},
      {"UTF-8", nullptr, "EF BB BF 41 E3 81 82", "FEFF 41 3042", CCONV_OK, 7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " " + c.in);
    ConvertResult r;
    EXPECT_EQ(decodeValues(c.source, hexBytes(c.in), c.src, &r), c.values);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.inPos, c.inPos);
    EXPECT_TRUE(piecewiseSame("UTF-16", c.source, hexBytes(c.in), c.src));
  }
  // Too few bytes to tell: nothing consumed, the flag stays.
  const std::tuple<const char*, RuleFunction, Bytes> shortInputs[] = {
      {"ISO-10646-UCS-4", zk::destUcs4, {0xFF, 0xFE, 0x00}}, {"UTF-8", zk::destUtf8, {0x41, 0x42}}};
  for (const auto& [source, fn, in] : shortInputs) {
    Rec x("UTF-16", source, &detect);
    x.input(in);
    EXPECT_EQ(x.step(fn), CCONV_NEED_INPUT) << source;
    EXPECT_EQ(x.rec.inPos, 0) << source;
    EXPECT_EQ(x.rec.srcOptions.inDetectBom, 1u) << source;
  }
}

TEST(UcsEncode, EveryTargetWritesItsMarkOnceAndOnTermination) {
  UcsWorld world;
  const struct {
    const char* target;
    std::uint32_t bigEndian;
    const char *mark, *a;
  } cases[] = {{"UTF-8", 0, "EF BB BF", "41"},
               {"UTF-16", 1, "FE FF", "00 41"},
               {"ISO-10646-UCS-2", 0, "FF FE", "41 00"},
               {"ISO-10646-UCS-4", 0, "FF FE 00 00", "41 00 00 00"},
               {"ISO-10646-UCS-4", 1, "00 00 FE FF", "00 00 00 41"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.target) + (c.bigEndian ? " BE" : " LE"));
    const CconvDstOptions bom = dstOpts(c.bigEndian, 1);
    const int markSize = static_cast<int>(hexBytes(c.mark).size());
    // Nothing converted: termination writes the mark alone, after a full
    // output buffer too, and once.
    Rec x(c.target, "UTF-8", nullptr, &bom);
    x.room(markSize - 1);
    EXPECT_EQ(cconvTermConvert(&x.rec), CCONV_OUTPUT_FULL);
    EXPECT_EQ(x.rec.outPos, 0);
    x.room(8);
    EXPECT_EQ(cconvTermConvert(&x.rec), CCONV_OK);
    EXPECT_EQ(x.written(), c.mark);
    EXPECT_EQ(x.rec.outChars, 0);
    EXPECT_EQ(x.rec.dstOptions.outWriteBom, 0u);
    EXPECT_EQ(cconvTermConvert(&x.rec), CCONV_OK);
    EXPECT_EQ(x.written(), c.mark) << "written once";
    // The mark does not fit before the first character: the retry writes the
    // mark, then the character itself. The mark is not counted.
    Rec y(c.target, "UTF-8", nullptr, &bom);
    y.input({0x41});
    y.room(1);
    EXPECT_EQ(cconvConvert(&y.rec), CCONV_OUTPUT_FULL);
    EXPECT_EQ(y.rec.outPos, 0);
    y.room(16);
    EXPECT_EQ(cconvConvert(&y.rec), CCONV_OK);
    EXPECT_EQ(y.written(), std::string(c.mark) + " " + c.a);
    EXPECT_EQ(y.rec.outChars, 1);
  }
}

TEST(UcsDecode, CombiningPairIsOneCharacter) {
  UcsWorld world;
  const CconvSrcOptions be = srcOpts(1);
  const struct {
    const char* source;
    RuleFunction dest;
    int unit;
  } cases[] = {{"UTF-16", zk::destUtf16, 2}, {"UTF-8", zk::destUtf8, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.source);
    Rec x("UTF-8", c.source, &be);
    x.input(c.unit == 2 ? encodeText("か゚かあ", Enc::Utf16BE, false) : utf8("か゚かあ"));
    ASSERT_EQ(x.in.size(), 4u * c.unit);
    EXPECT_EQ(x.step(c.dest), CCONV_CHAR);
    EXPECT_EQ(x.rec.ucs, 0x304Bu);
    EXPECT_EQ(x.rec.ucs2, 0x309Au);
    EXPECT_EQ(x.rec.inPos, 2 * c.unit);
    EXPECT_EQ(x.step(c.dest), CCONV_CHAR);
    EXPECT_EQ(x.rec.ucs, 0x304Bu);
    EXPECT_EQ(x.rec.ucs2, 0u);
    EXPECT_EQ(x.rec.inPos, 3 * c.unit) << "a following base is left for the next call";
    EXPECT_EQ(x.step(c.dest), CCONV_CHAR);
    EXPECT_EQ(x.rec.ucs, 0x3042u);
    EXPECT_EQ(x.rec.inChars, 3);
    // Into a Unicode target both code points are written.
    EXPECT_EQ(convert("UTF-8", c.source, x.in, &be).out, utf8("か゚かあ"));
  }
}

TEST(UcsDecode, UserAreaMapsToPrivateUse) {
  UcsWorld world(true);
  const CconvSrcOptions be = srcOpts(1);
  Rec x("UTF-8", "ISO-10646-UCS-4", &be);
  x.input(hexBytes("00 00 F0 41 00 00 F1 40"));
  EXPECT_EQ(x.step(zk::destUcs4), CCONV_CHAR);
  EXPECT_EQ(x.rec.ucs, 0xE001u);
  EXPECT_EQ(x.rec.code, 0xF041u);
  EXPECT_EQ(x.rec.inCharsetType, 3u);
  EXPECT_EQ(x.step(zk::destUcs4), CCONV_CHAR);
  EXPECT_EQ(x.rec.ucs, 0xF140u) << "past the area: an ordinary character";
  EXPECT_NE(x.rec.inCharsetType, 3u);
  // Through to a UTF-16 target that lists the same area: its own code again.
  EXPECT_EQ(hex(convert("UTF-16", "ISO-10646-UCS-4", hexBytes("00 00 F0 41"), &be).out), "41 F0");
}

TEST(UcsTags, ReadIntoTheRecordNeverDelivered) {
  UcsWorld world;
  const CconvSrcOptions be = srcOpts(1);
  Bytes manyStarts;  // thousands of U+E0001 in a row: no tag text
  for (int i = 0; i < 20000; ++i) manyStarts = cat(manyStarts, units({0xDB40, 0xDC01}, 2));
  const struct {
    Bytes tag;
    std::uint32_t first;  // status of the first step; then comes A
    std::string lang;     // langCurrent after the first step, which starts as "fr"
    std::int32_t pos;     // inPos after the first step, or -1 for after A
  } cases[] = {
      // The tag sets the language; tag characters are not counted.
      {tagUnits("ja"), CCONV_CHAR, "ja", -1},
      // A cancel tag ends the tag: reported as CCONV_INVALID, language cleared.
      {units({0xDB40, 0xDC01, 0xDB40, 0xDC7F}, 2), CCONV_INVALID, "", 8},
      // A second U+E0001 starts the tag afresh.
      {cat(tagUnits("xx"), tagUnits("ja")), CCONV_CHAR, "ja", -1},
      {manyStarts, CCONV_CHAR, "", -1},
      // 259 characters fit the field; the 260th makes the tag invalid.
      {tagUnits(std::string(259, 'q')), CCONV_CHAR, std::string(259, 'q'), -1},
      {tagUnits(std::string(260, 'q')), CCONV_INVALID, "fr", 4 * 261},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.tag.size());
    Rec x("UTF-8", "UTF-16", &be);
    std::strcpy(x.rec.langCurrent, "fr");
    x.input(cat(c.tag, {0x00, 0x41}));
    EXPECT_EQ(x.step(zk::destUtf16), c.first);
    EXPECT_EQ(x.rec.langCurrent, c.lang);
    if (c.first != CCONV_CHAR) {
      EXPECT_EQ(x.rec.inPos, c.pos);
      EXPECT_EQ(x.step(zk::destUtf16), CCONV_CHAR);
    }
    EXPECT_EQ(x.rec.ucs, 0x41u);
    EXPECT_EQ(x.rec.inChars, 1);
    EXPECT_EQ(x.rec.inPos, static_cast<std::int32_t>(x.in.size()));
  }
  // Cut anywhere inside the tag, or right after it: the tag is read again
  // from its start once more input is there. Never CCONV_OK.
  const Bytes tag = tagUnits("ja");
  for (std::size_t cut = 1; cut <= tag.size(); ++cut) {
    Rec y("UTF-8", "UTF-16", &be);
    y.input(Bytes(tag.begin(), tag.begin() + static_cast<long>(cut)));
    EXPECT_EQ(y.step(zk::destUtf16), CCONV_NEED_INPUT) << cut;
    EXPECT_EQ(y.rec.inPos, 0) << cut;
    EXPECT_EQ(y.rec.langCurrent[0], '\0') << cut;
  }
  // Tag characters outside a tag are dropped, also at the end of input.
  ConvertResult r;
  EXPECT_EQ(decodeValues("UTF-16", units({0xDB40, 0xDC41, 0x0041, 0xDB40, 0xDC7F}, 2), &be, &r),
            "41");
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(r.inChars, 1);
}

TEST(UcsTags, CarriedBetweenTheUnicodeEncodings) {
  UcsWorld world;
  const CconvSrcOptions skip = srcOpts(1, 0, 1), be = srcOpts(1);
  const CconvDstOptions en = dstOpts(1, 0, "en");
  const Bytes in = cat(cat(cat({0x00, 0x41}, tagUnits("ja")), {0x30, 0x42}),
                       cat(units({0xDB40, 0xDC01, 0xDB40, 0xDC7F}, 2), {0x00, 0x42}));
  // No tag for the default language, then "ja", then back to "en"; the
  // cancel tag is reported as invalid and skipped.
  ConvertResult r = convert("ISO-10646-UCS-4", "UTF-16", in, &skip, &en);
  EXPECT_EQ(hex(r.out), hex(encodeText("A\U000E0001\U000E006A\U000E0061あ\U000E0001\U000E007FB",
                                       Enc::Ucs4BE, false)));
  EXPECT_EQ(r.outChars, 8);
  EXPECT_EQ(hex(convert("UTF-16", "UTF-16", in, &skip, &en).out), hex(in)) << "as surrogate pairs";
  // Tags are whole or not at all, whatever the room and the pieces.
  EXPECT_TRUE(piecewiseSame("UTF-8", "UTF-16", in, &skip, &en));
  // An invalid character after a tag does not stall a skipping conversion.
  const Bytes bad = hexBytes("00 0E 00 01 00 0E 00 6A 00 11 00 00 00 00 00 41");
  r = convert("ISO-10646-UCS-4", "ISO-10646-UCS-4", bad, &skip, &en);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(hex(r.out), hex(encodeText("\U000E0001\U000E006AA", Enc::Ucs4BE, false)));
  r = convert("ISO-10646-UCS-4", "ISO-10646-UCS-4", bad, &be, &en);
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(r.inPos, 12) << "after the invalid character";
}

TEST(UcsEncode, WritersRefuseWhatTheirFormCannotCarry) {
  UcsWorld world;
  const CconvSrcOptions be = srcOpts(1);
  const CconvDstOptions out = dstOpts(1);
  // A pair counts two units.
  ConvertResult r =
      convert("UTF-16", "ISO-10646-UCS-4", hexBytes("00 01 F6 00 00 00 00 41"), &be, &out);
  EXPECT_EQ(hex(r.out), "D8 3D DE 00 00 41");
  EXPECT_EQ(r.outChars, 3);
  // UCS-2 has no supplementary characters; the character is consumed.
  r = convert("ISO-10646-UCS-2", "UTF-16", hexBytes("00 41 D8 42 DF 9F 00 42"), &be);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(hex(r.out), "41 00");
  EXPECT_EQ(r.inPos, 6);
  // The widest six-byte UTF-8 value, where a set takes it, and back.
  const Bytes wide = hexBytes("7F FF FF FF");
  r = convert("UTF8-ANY", "UCS4-ANY", wide, &be);
  EXPECT_EQ(hex(r.out), "FD BF BF BF BF BF");
  EXPECT_EQ(convert("UCS4-ANY", "UTF8-ANY", r.out, nullptr, &out).out, wide);
  // U+110000 is refused in UTF-16, and half a pair is never written.
  Out o(3);
  EXPECT_EQ(zk::utf16WriteChar(&o.rec, 0x110000), 0);
  EXPECT_EQ(o.rec.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(zk::utf16WriteChar(&o.rec, 0x1F600), 0);
  EXPECT_EQ(o.rec.status, CCONV_OUTPUT_FULL);
  EXPECT_EQ(o.rec.outChars, 0);
  EXPECT_EQ(o.buf[0], 0xEE);
  o.rec.outSize = 4;
  EXPECT_EQ(zk::utf16WriteChar(&o.rec, 0x10FFFF), 1);
  EXPECT_EQ(o.written(), "FF DB FF DF");
  EXPECT_EQ(o.rec.outChars, 2);
}

TEST(UcsEncode, NothingPlacedWritesNothing) {
  UcsWorld world;
  // A pending character without a set (unit 0), as an empty substitute
  // leaves it: no unit of value 0 may appear.
  for (RuleFunction fn : {zk::constUtf8, zk::constUtf16, zk::constUcs4, zk::constUcs2}) {
    Rec x("UTF-16", "UTF-8");
    x.room(8);
    x.rec.status = CCONV_OUTPUT_FULL;
    x.rec.outCharset = x.rec.outCode = x.rec.outUnit = 0;
    fn(&x.rec);
    EXPECT_EQ(x.rec.status, CCONV_NEXT);
    EXPECT_EQ(x.rec.outPos, 0);
  }
}

TEST(UcsEncode, LineEndsInEachTarget) {
  UcsWorld world;
  const Bytes in = utf8("A\r\nB\n\u2028");
  CconvDstOptions nl = dstOpts(1);
  nl.newlineConvert = 1;
  const struct {
    const char* target;
    std::uint32_t kind;
    std::string want;
    Enc enc;
  } cases[] = {{"UTF-16", 4, "A\u2028B\u2028\u2028", Enc::Utf16BE},
               {"UTF-8", 3, "A\nB\n\n", Enc::Raw},
               {"ISO-10646-UCS-4", 0, "A\r\nB\r\n\r\n", Enc::Ucs4BE}};
  for (const auto& c : cases) {
    nl.newlineKind = c.kind;
    EXPECT_EQ(convert(c.target, "UTF-8", in, nullptr, &nl).out, encodeText(c.want, c.enc, false))
        << c.target;
  }
}

// UCS-2 output as text, one character per unit.
std::string ucs2Text(const Bytes& b) {
  std::string s;
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
    const unsigned v = b[i] | b[i + 1] << 8;
    char buf[12];
    std::snprintf(buf, sizeof buf, v < 0x80 ? "%c" : "<%04X>", v);
    s += buf;
  }
  return s;
}

TEST(Ucs2Encode, NumericReferencesInBothModes) {
  UcsWorld world;
  const CconvSrcOptions be = srcOpts(1);
  // A, U+20B9F, U+3042 (Windows-31J), U+00E9 (not), U+E758, U+E759.
  const Bytes in = hexBytes("00 41 D8 42 DF 9F 30 42 00 E9 E7 58 E7 59");
  CconvDstOptions hexMode = dstOpts(0), decMode = dstOpts(0);
  hexMode.ncrMode = 1;
  decMode.ncrMode = 2;
  ConvertResult r = convert("ISO-10646-UCS-2", "UTF-16", in, &be, &hexMode);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(ucs2Text(r.out), "A&#x20B9F;<3042>&#xE9;<E758>&#xE759;");
  r = convert("ISO-10646-UCS-2", "UTF-16", in, &be, &decMode);
  EXPECT_EQ(ucs2Text(r.out), "A&#134047;<3042>&#233;<E758>&#59225;");
  EXPECT_TRUE(piecewiseSame("ISO-10646-UCS-2", "UTF-16", in, &be, &hexMode));
  // A reference that would exactly fill the buffer is not written; the next
  // call with room writes that reference.
  Rec x("ISO-10646-UCS-2", "UTF-16", &be, &hexMode);
  x.input(hexBytes("D8 42 DF 9F 00 41"));
  x.room(18);
  EXPECT_EQ(cconvConvert(&x.rec), CCONV_OUTPUT_FULL);
  EXPECT_EQ(x.rec.outPos, 0);
  x.room(19);
  EXPECT_EQ(cconvConvert(&x.rec), CCONV_OUTPUT_FULL);
  EXPECT_EQ(ucs2Text(x.bytes()), "&#x20B9F;");
  x.room(19);
  EXPECT_EQ(cconvConvert(&x.rec), CCONV_OK);
  EXPECT_EQ(ucs2Text(x.bytes()), "A");
  // The digits at the limits.
  const struct {
    std::uint32_t mode, value;
    const char* text;
  } cases[] = {{1, 0, "&#x0;"}, {2, 0xFFFFFFFF, "&#4294967295;"}, {1, 0xFFFFFFFF, "&#xFFFFFFFF;"}};
  for (const auto& c : cases) {
    Out o;
    o.rec.dstOptions.ncrMode = c.mode;
    ASSERT_EQ(zk::ucs2WriteNcr(&o.rec, c.value), 1);
    EXPECT_EQ(ucs2Text(o.bytes()), c.text);
    EXPECT_EQ(o.rec.outChars, static_cast<std::int32_t>(std::strlen(c.text)));
  }
}

TEST(Ucs2Encode, ReferencesWhateverTheTablesAndTheirState) {
  UcsWorld world(false, true);
  CconvDstOptions hexMode = dstOpts(0);
  hexMode.ncrMode = 1;
  // The Windows-31J tables are read on first use, not taken as the identity.
  ConvertResult r = convert("ISO-10646-UCS-2", "UTF-8", utf8("AéあaA"), nullptr, &hexMode);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(ucs2Text(r.out), "A&#xE9;<3042>&#x61;A");
  // A target set without a table places U+20B9F, yet a unit cannot carry
  // it: with references on it is one, without it is unmappable.
  const Bytes sup = utf8("\U00020B9FA");
  r = convert("UCS2-ANY", "UTF-8", sup, nullptr, &hexMode);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(ucs2Text(r.out), "&#x20B9F;A");
  const CconvDstOptions plain = dstOpts(0);
  r = convert("UCS2-ANY", "UTF-8", sup, nullptr, &plain);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  EXPECT_TRUE(r.out.empty());
}

TEST(UcsConvert, AgreesWithIconvWholeAndInPieces) {
  UcsWorld world;
  const std::string text = kSampleText + "😀𠮟";
  const CconvSrcOptions be = srcOpts(1), le = srcOpts(0);
  const CconvDstOptions beOut = dstOpts(1), leOut = dstOpts(0), bomOut = dstOpts(1, 1);
  const struct {
    const char *name, *peer;
    const CconvSrcOptions* src;
    const CconvDstOptions* dst;
    bool bmpOnly;
  } cases[] = {{"UTF-16", "UTF-16LE", &le, &leOut, false},
               {"UTF-16", "UTF-16BE", &be, &beOut, false},
               {"ISO-10646-UCS-2", "UCS-2LE", &le, &leOut, true},
               {"ISO-10646-UCS-4", "UCS-4BE", &be, &beOut, false},
               {"ISO-10646-UCS-4", "UCS-4LE", &le, &leOut, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.peer);
    const std::string t = c.bmpOnly ? kSampleText : text;
    const Bytes peer = iconvPeer(c.peer, t);
    ASSERT_FALSE(peer.empty());
    const ConvertResult to = convert(c.name, "UTF-8", utf8(t), nullptr, c.dst);
    EXPECT_EQ(to.status, CCONV_OK);
    EXPECT_EQ(hex(to.out), hex(peer));
    EXPECT_EQ(convert("UTF-8", c.name, peer, c.src).out, utf8(t));
    EXPECT_TRUE(piecewiseSame("UTF-8", c.name, peer, c.src));
    EXPECT_TRUE(piecewiseSame(c.name, "UTF-8", utf8(t), nullptr, &bomOut));
  }
}

}  // namespace
}  // namespace zktest
