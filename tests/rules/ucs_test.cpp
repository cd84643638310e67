// UCS-2, UCS-4 and UTF-16 rules, and what the Unicode rules share: marks,
// surrogates, language tags in and out, numeric character references.
#include <gtest/gtest.h>

#include "rules/rules.h"
#include "rules/ucs_world.h"

namespace zktest {
namespace {

std::vector<std::uint32_t> valuesOf(const ConvertResult& r) { return ucs4Values(r.out); }

// Converts to UCS-4 big-endian and returns the values.
std::vector<std::uint32_t> decodeValues(const char* source, const Bytes& in,
                                        const CconvSrcOptions* src, ConvertResult* res = nullptr) {
  CconvDstOptions be = dstOpts(1);
  ConvertResult r = convert("ISO-10646-UCS-4", source, in, src, &be);
  if (res) *res = r;
  return valuesOf(r);
}

// Tag characters for `text`, after a U+E0001, as UTF-16 big-endian units.
Bytes tagUnits(const std::string& text) {
  Bytes b = units({0xDB40, 0xDC01}, 2);
  for (char c : text) {
    const std::uint32_t low = 0xDC00 + static_cast<unsigned char>(c);
    Bytes u = units({0xDB40, low}, 2);
    b.insert(b.end(), u.begin(), u.end());
  }
  return b;
}

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST(UcsMarks, InputMarksChooseTheByteOrder) {
  UcsWorld world;
  CconvSrcOptions detect = srcOpts(0, 1);
  EXPECT_EQ(decodeValues("UTF-16", {0xFF, 0xFE, 0x41, 0x00}, &detect),
            (std::vector<std::uint32_t>{0x41}));
  EXPECT_EQ(decodeValues("UTF-16", {0xFE, 0xFF, 0x00, 0x41}, &detect),
            (std::vector<std::uint32_t>{0x41}));
  EXPECT_EQ(decodeValues("UTF-16", {0x41, 0xFF}, &detect), (std::vector<std::uint32_t>{0xFF41}));
  EXPECT_EQ(decodeValues("ISO-10646-UCS-2", {0xFE, 0xFF, 0x30, 0x42}, &detect),
            (std::vector<std::uint32_t>{0x3042}));
  EXPECT_EQ(
      decodeValues("ISO-10646-UCS-4", {0x00, 0x00, 0xFE, 0xFF, 0x00, 0x01, 0xF6, 0x00}, &detect),
      (std::vector<std::uint32_t>{0x1F600}));
  EXPECT_EQ(
      decodeValues("ISO-10646-UCS-4", {0xFF, 0xFE, 0x00, 0x00, 0x00, 0xF6, 0x01, 0x00}, &detect),
      (std::vector<std::uint32_t>{0x1F600}));

  // Too few bytes to tell: nothing consumed, the flag stays.
  Rec x("UTF-16", "ISO-10646-UCS-4", &detect);
  x.input({0xFF, 0xFE, 0x00});
  EXPECT_EQ(decodeStep(x, zk::destUcs4), CCONV_NEED_INPUT);
  EXPECT_EQ(x.r.inPos, 0);
  EXPECT_EQ(x.r.srcOptions.inDetectBom, 1u);
  // A mark split across pieces is still found.
  const Bytes in4 = cat({0x00, 0x00, 0xFE, 0xFF}, encodeText(kSampleText, Enc::Ucs4BE, false));
  EXPECT_TRUE(piecewiseSame("UTF-8", "ISO-10646-UCS-4", in4, &detect));
  EXPECT_EQ(convert("UTF-8", "ISO-10646-UCS-4", in4, &detect).out, utf8Of(kSampleText));
  const Bytes in = cat({0xFE, 0xFF}, encodeText(kSampleText, Enc::Utf16BE, false));
  EXPECT_TRUE(piecewiseSame("UTF-8", "UTF-16", in, &detect));
  EXPECT_EQ(convert("UTF-8", "UTF-16", in, &detect).out, utf8Of(kSampleText));
}

TEST(UcsMarks, EveryTargetWritesItsMarkOnceAndOnTermination) {
  UcsWorld world;
  struct Case {
    const char* target;
    std::uint32_t bigEndian;
    Bytes mark;
  };
  const Case cases[] = {{"UTF-8", 0, {0xEF, 0xBB, 0xBF}},
                        {"UTF-16", 0, {0xFF, 0xFE}},
                        {"UTF-16", 1, {0xFE, 0xFF}},
                        {"ISO-10646-UCS-2", 0, {0xFF, 0xFE}},
                        {"ISO-10646-UCS-2", 1, {0xFE, 0xFF}},
                        {"ISO-10646-UCS-4", 0, {0xFF, 0xFE, 0x00, 0x00}},
                        {"ISO-10646-UCS-4", 1, {0x00, 0x00, 0xFE, 0xFF}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.target) + (c.bigEndian ? " BE" : " LE"));
    CconvDstOptions bom = dstOpts(c.bigEndian, 1);
    // Nothing converted: cconvTermConvert writes the mark alone.
    ConvertResult r = convert(c.target, "UTF-8", {}, nullptr, &bom);
    EXPECT_EQ(r.status, CCONV_OK);
    EXPECT_EQ(r.out, c.mark);
    EXPECT_EQ(r.outChars, 0);
    // Termination after a full output buffer.
    Rec x(c.target, "UTF-8", nullptr, &bom);
    x.input({});
    x.room(static_cast<int>(c.mark.size()) - 1);
    EXPECT_EQ(cconvTermConvert(&x.r), CCONV_OUTPUT_FULL);
    EXPECT_EQ(x.r.outPos, 0);
    x.room(8);
    EXPECT_EQ(cconvTermConvert(&x.r), CCONV_OK);
    EXPECT_EQ(x.written(), c.mark);
    EXPECT_EQ(cconvTermConvert(&x.r), CCONV_OK);
    EXPECT_EQ(x.written(), c.mark) << "written once";
    // The mark does not fit before the first character: the retry writes the
    // mark, then the character itself.
    Rec y(c.target, "UTF-8", nullptr, &bom);
    y.input({0x41});
    y.room(1);
    EXPECT_EQ(cconvConvert(&y.r), CCONV_OUTPUT_FULL);
    EXPECT_EQ(y.r.outPos, 0);
    y.room(16);
    EXPECT_EQ(cconvConvert(&y.r), CCONV_OK);
    CconvDstOptions noBom = dstOpts(c.bigEndian);
    const Bytes a = convert(c.target, "UTF-8", {0x41}, nullptr, &noBom).out;
    EXPECT_FALSE(a.empty());
    EXPECT_EQ(y.written(), cat(c.mark, a));
  }
}

TEST(Utf16Dest, SurrogatePairsInBothOrdersAndEveryTruncation) {
  UcsWorld world;
  CconvSrcOptions be = srcOpts(1);
  EXPECT_EQ(decodeValues("UTF-16", {0xD8, 0x3D, 0xDE, 0x00}, &be),
            (std::vector<std::uint32_t>{0x1F600}));
  EXPECT_EQ(decodeValues("UTF-16", {0xDE, 0x00, 0xD8, 0x3D}, &be),
            (std::vector<std::uint32_t>{0x1F600}));
  EXPECT_EQ(decodeValues("UTF-16", {0xDB, 0xFF, 0xDF, 0xFF}, &be),
            (std::vector<std::uint32_t>{0x10FFFF}));
  const Bytes pair = {0x00, 0x41, 0xD8, 0x3D, 0xDE, 0x00};
  for (std::size_t cut = 3; cut < pair.size(); ++cut) {
    ConvertResult r;
    const Bytes in(pair.begin(), pair.begin() + static_cast<long>(cut));
    EXPECT_EQ(decodeValues("UTF-16", in, &be, &r), (std::vector<std::uint32_t>{0x41})) << cut;
    EXPECT_EQ(r.status, CCONV_NEED_INPUT) << cut;
    EXPECT_EQ(r.inPos, 2) << "inPos at the high surrogate, cut " << cut;
  }
  EXPECT_TRUE(piecewiseSame("UTF-8", "UTF-16", pair, &be));
}

TEST(Utf16Dest, LoneSurrogatesPassAndKeepTheNextCharacter) {
  UcsWorld world;
  CconvSrcOptions be = srcOpts(1);
  // A lone high surrogate before A, two high surrogates, a lone low one.
  EXPECT_EQ(decodeValues("UTF-16", {0xD8, 0x00, 0x00, 0x41}, &be),
            (std::vector<std::uint32_t>{0xD800, 0x41}));
  EXPECT_EQ(decodeValues("UTF-16", {0xD8, 0x3D, 0xD8, 0x3D, 0xDE, 0x00}, &be),
            (std::vector<std::uint32_t>{0xD83D, 0x1F600}));
  EXPECT_EQ(decodeValues("UTF-16", {0xDC, 0x00, 0x30, 0x42}, &be),
            (std::vector<std::uint32_t>{0xDC00, 0x3042}));
  // Surrogate values go out unchanged: UTF-16 as single units, UTF-8 as three bytes.
  CconvDstOptions out = dstOpts(1);
  EXPECT_EQ(convert("UTF-16", "UTF-16", {0xD8, 0x00, 0x00, 0x41}, &be, &out).out,
            (Bytes{0xD8, 0x00, 0x00, 0x41}));
  EXPECT_EQ(convert("UTF-8", "UTF-16", {0xD8, 0x00, 0x00, 0x41}, &be).out,
            (Bytes{0xED, 0xA0, 0x80, 0x41}));
}

TEST(Utf16Dest, CombiningPairIsOneCharacter) {
  UcsWorld world;
  CconvSrcOptions be = srcOpts(1);
  Rec x("UTF-8", "UTF-16", &be);
  x.input({0x30, 0x4B, 0x30, 0x9A, 0x30, 0x4B, 0x30, 0x42});
  EXPECT_EQ(decodeStep(x, zk::destUtf16), CCONV_CHAR);
  EXPECT_EQ(x.r.ucs, 0x304Bu);
  EXPECT_EQ(x.r.ucs2, 0x309Au);
  EXPECT_EQ(x.r.inPos, 4);
  EXPECT_EQ(decodeStep(x, zk::destUtf16), CCONV_CHAR);
  EXPECT_EQ(x.r.ucs, 0x304Bu);
  EXPECT_EQ(x.r.ucs2, 0u);
  EXPECT_EQ(x.r.inPos, 6);
  // Into a Unicode target both code points are written.
  EXPECT_EQ(convert("UTF-8", "UTF-16", {0x30, 0x4B, 0x30, 0x9A}, &be).out,
            (Bytes{0xE3, 0x81, 0x8B, 0xE3, 0x82, 0x9A}));
}

TEST(UcsDest, UserAreaMapsToPrivateUse) {
  UcsWorld world(true);
  CconvSrcOptions be = srcOpts(1);
  Rec x("UTF-8", "ISO-10646-UCS-4", &be);
  x.input({0x00, 0x00, 0xF0, 0x41, 0x00, 0x00, 0xF1, 0x40});
  EXPECT_EQ(decodeStep(x, zk::destUcs4), CCONV_CHAR);
  EXPECT_EQ(x.r.ucs, 0xE001u);
  EXPECT_EQ(x.r.code, 0xF041u);
  EXPECT_EQ(x.r.inCharsetType, 3u);
  EXPECT_EQ(decodeStep(x, zk::destUcs4), CCONV_CHAR);
  EXPECT_EQ(x.r.ucs, 0xF140u) << "past the area: an ordinary character";
  EXPECT_NE(x.r.inCharsetType, 3u);
  // Through to a UTF-16 target that lists the same area: its own code again.
  EXPECT_EQ(convert("UTF-16", "ISO-10646-UCS-4", {0x00, 0x00, 0xF0, 0x41}, &be).out,
            (Bytes{0x41, 0xF0}));
}

TEST(UcsDest, Ucs4TruncationAndValuesNoSetTakes) {
  UcsWorld world;
  CconvSrcOptions be = srcOpts(1);
  const Bytes in = {0x00, 0x00, 0x30, 0x42, 0x00, 0x01, 0xF6};
  ConvertResult r;
  EXPECT_EQ(decodeValues("ISO-10646-UCS-4", in, &be, &r), (std::vector<std::uint32_t>{0x3042}));
  EXPECT_EQ(r.status, CCONV_NEED_INPUT);
  EXPECT_EQ(r.inPos, 4);
  // 0x110000 is taken by no set: invalid, inPos after it; skipping goes on.
  const Bytes big = {0x00, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x41};
  EXPECT_TRUE(decodeValues("ISO-10646-UCS-4", big, &be, &r).empty());
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(r.inPos, 4);
  CconvSrcOptions skip = srcOpts(1, 0, 1);
  EXPECT_EQ(decodeValues("ISO-10646-UCS-4", big, &skip), (std::vector<std::uint32_t>{0x41}));
}

TEST(UcsTags, TagIsReadIntoTheRecordAndNotDelivered) {
  UcsWorld world;
  CconvSrcOptions be = srcOpts(1);
  Rec x("UTF-8", "UTF-16", &be);
  x.input(cat(tagUnits("ja"), {0x00, 0x41}));
  EXPECT_EQ(decodeStep(x, zk::destUtf16), CCONV_CHAR);
  EXPECT_EQ(x.r.ucs, 0x41u);
  EXPECT_STREQ(x.r.langCurrent, "ja");
  EXPECT_EQ(x.r.inChars, 1) << "tag characters are not counted";
  EXPECT_EQ(x.r.inPos, static_cast<std::int32_t>(x.in.size()));

  // Cut anywhere inside the tag, or right after it: the tag is read again
  // from its start once more input is there. Never CCONV_OK.
  const Bytes tag = tagUnits("ja");
  for (std::size_t cut = 1; cut <= tag.size(); ++cut) {
    Rec y("UTF-8", "UTF-16", &be);
    y.input(Bytes(tag.begin(), tag.begin() + static_cast<long>(cut)));
    EXPECT_EQ(decodeStep(y, zk::destUtf16), CCONV_NEED_INPUT) << cut;
    EXPECT_EQ(y.r.inPos, 0) << cut;
    EXPECT_EQ(y.r.langCurrent[0], '\0') << cut;
  }
}

TEST(UcsTags, CancelNestedStrayAndOverlongTags) {
  UcsWorld world;
  CconvSrcOptions be = srcOpts(1);
  {
    // A cancel tag ends the tag: reported as CCONV_INVALID, language cleared.
    Rec x("UTF-8", "UTF-16", &be);
    std::strcpy(x.r.langCurrent, "fr");
    x.input(cat(units({0xDB40, 0xDC01, 0xDB40, 0xDC7F}, 2), {0x00, 0x41}));
    EXPECT_EQ(decodeStep(x, zk::destUtf16), CCONV_INVALID);
    EXPECT_EQ(x.r.langCurrent[0], '\0');
    EXPECT_EQ(x.r.inPos, 8);
    EXPECT_EQ(decodeStep(x, zk::destUtf16), CCONV_CHAR);
    EXPECT_EQ(x.r.ucs, 0x41u);
  }
  {
    // A second U+E0001 starts the tag afresh.
    Rec x("UTF-8", "UTF-16", &be);
    x.input(cat(cat(tagUnits("xx"), tagUnits("ja")), {0x00, 0x41}));
    EXPECT_EQ(decodeStep(x, zk::destUtf16), CCONV_CHAR);
    EXPECT_STREQ(x.r.langCurrent, "ja");
    EXPECT_EQ(x.r.ucs, 0x41u);
  }
  {
    // Tag characters outside a tag are dropped, also at the end of input.
    ConvertResult r;
    const Bytes in = cat(units({0xDB40, 0xDC41, 0x0041, 0xDB40, 0xDC7F}, 2), {});
    EXPECT_EQ(decodeValues("UTF-16", in, &be, &r), (std::vector<std::uint32_t>{0x41}));
    EXPECT_EQ(r.status, CCONV_OK);
    EXPECT_EQ(r.inChars, 1);
  }
  {
    // Thousands of U+E0001 in a row end in one character with no tag text.
    Bytes in;
    for (int i = 0; i < 20000; ++i) in.insert(in.end(), {0xDB, 0x40, 0xDC, 0x01});
    in.insert(in.end(), {0x00, 0x41});
    Rec x("UTF-8", "UTF-16", &be);
    x.input(in);
    EXPECT_EQ(decodeStep(x, zk::destUtf16), CCONV_CHAR);
    EXPECT_EQ(x.r.ucs, 0x41u);
    EXPECT_EQ(x.r.langCurrent[0], '\0');
  }
  for (std::size_t len : {259u, 260u}) {
    // 259 characters fit the field; the 260th makes the tag invalid.
    const std::string text(len, 'q');
    Rec x("UTF-8", "UTF-16", &be);
    std::strcpy(x.r.langCurrent, "ja");
    x.input(cat(tagUnits(text), {0x00, 0x41}));
    if (len == 259) {
      EXPECT_EQ(decodeStep(x, zk::destUtf16), CCONV_CHAR);
      EXPECT_EQ(std::string(x.r.langCurrent), text);
    } else {
      EXPECT_EQ(decodeStep(x, zk::destUtf16), CCONV_INVALID);
      EXPECT_STREQ(x.r.langCurrent, "ja");
      EXPECT_EQ(decodeStep(x, zk::destUtf16), CCONV_CHAR);
      EXPECT_EQ(x.r.ucs, 0x41u);
    }
  }
}

TEST(UcsTags, InvalidCharacterAfterATagDoesNotStallASkippingConversion) {
  UcsWorld world;
  // U+110000 in UCS-4 is taken by no set.
  const Bytes in = {0x00, 0x0E, 0x00, 0x01, 0x00, 0x0E, 0x00, 0x6A,
                    0x00, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x41};
  CconvSrcOptions skip = srcOpts(1, 0, 1);
  CconvDstOptions out = dstOpts(1, 0, "en");
  ConvertResult r = convert("ISO-10646-UCS-4", "ISO-10646-UCS-4", in, &skip, &out);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(valuesOf(r), (std::vector<std::uint32_t>{0xE0001, 0xE006A, 0x41}));
  CconvSrcOptions noskip = srcOpts(1);
  r = convert("ISO-10646-UCS-4", "ISO-10646-UCS-4", in, &noskip, &out);
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(r.inPos, 12) << "after the invalid character";
}

TEST(UcsTags, CarriedFromUtf16ToUtf8AndUcs4) {
  UcsWorld world;
  // The cancel tag is reported as invalid; skipping goes on after it.
  CconvSrcOptions be = srcOpts(1, 0, 1);
  CconvDstOptions en = dstOpts(1, 0, "en");
  const Bytes in = cat(cat(cat({0x00, 0x41}, tagUnits("ja")), {0x30, 0x42}),
                       cat(units({0xDB40, 0xDC01, 0xDB40, 0xDC7F}, 2), {0x00, 0x42}));
  CconvSrcOptions noskip = srcOpts(1);
  ConvertResult r = convert("UTF-8", "UTF-16", in, &noskip, &en);
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(r.inPos, 24) << "after the cancel tag";
  r = convert("UTF-8", "UTF-16", in, &be, &en);
  EXPECT_EQ(r.status, CCONV_OK);
  const Bytes expect = {0x41,                    // default language: no tag yet
                        0xF3, 0xA0, 0x80, 0x81,  // U+E0001
                        0xF3, 0xA0, 0x81, 0xAA,  // j
                        0xF3, 0xA0, 0x81, 0xA1,  // a
                        0xE3, 0x81, 0x82,        // U+3042
                        0xF3, 0xA0, 0x80, 0x81, 0xF3, 0xA0, 0x81, 0xBF,  // back to "en"
                        0x42};
  EXPECT_EQ(hex(r.out), hex(expect));
  r = convert("ISO-10646-UCS-4", "UTF-16", in, &be, &en);
  EXPECT_EQ(valuesOf(r), (std::vector<std::uint32_t>{0x41, 0xE0001, 0xE006A, 0xE0061, 0x3042,
                                                     0xE0001, 0xE007F, 0x42}));
  EXPECT_EQ(r.outChars, 8);
  r = convert("UTF-16", "UTF-16", in, &be, &en);
  EXPECT_EQ(hex(r.out), hex(in)) << "UTF-16 writes the tag as surrogate pairs";
  // Without a default language no tags are written.
  CconvDstOptions none = dstOpts(1);
  r = convert("UTF-8", "UTF-16", in, &be, &none);
  EXPECT_EQ(r.out, (Bytes{0x41, 0xE3, 0x81, 0x82, 0x42}));
  // Tags are whole or not at all, whatever the room and the pieces.
  EXPECT_TRUE(piecewiseSame("UTF-8", "UTF-16", in, &be, &en));
  EXPECT_TRUE(piecewiseSame("ISO-10646-UCS-4", "UTF-16", in, &be, &en));
}

TEST(Utf16Const, PairsLimitsAndUnitCounts) {
  UcsWorld world;
  CconvSrcOptions be = srcOpts(1);
  CconvDstOptions out = dstOpts(1);
  ConvertResult r = convert("UTF-16", "ISO-10646-UCS-4",
                            {0x00, 0x01, 0xF6, 0x00, 0x00, 0x00, 0x00, 0x41}, &be, &out);
  EXPECT_EQ(r.out, (Bytes{0xD8, 0x3D, 0xDE, 0x00, 0x00, 0x41}));
  EXPECT_EQ(r.outChars, 3) << "a pair counts two units";

  CconvRecord rec;
  std::memset(&rec, 0, sizeof rec);
  Bytes buf(8, 0xEE);
  rec.outBuf = buf.data();
  rec.outSize = 3;
  EXPECT_EQ(zk::utf16WriteChar(&rec, 0x110000), 0);
  EXPECT_EQ(rec.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(zk::utf16WriteChar(&rec, 0x1F600), 0);
  EXPECT_EQ(rec.status, CCONV_OUTPUT_FULL);
  EXPECT_EQ(rec.outPos, 0);
  EXPECT_EQ(rec.outChars, 0);
  EXPECT_EQ(buf, Bytes(8, 0xEE)) << "half a pair is never written";
  rec.outSize = 4;
  EXPECT_EQ(zk::utf16WriteChar(&rec, 0x10FFFF), 1);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 4), (Bytes{0xFF, 0xDB, 0xFF, 0xDF}));
  EXPECT_EQ(rec.outChars, 2);
}

TEST(Ucs2Const, SupplementaryCharactersAreUnmappable) {
  UcsWorld world;
  CconvSrcOptions be = srcOpts(1);
  const Bytes in = {0x00, 0x41, 0xD8, 0x42, 0xDF, 0x9F, 0x00, 0x42};  // A U+20B9F B
  ConvertResult r = convert("ISO-10646-UCS-2", "UTF-16", in, &be);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(r.out, (Bytes{0x41, 0x00}));
  EXPECT_EQ(r.inPos, 6) << "the character is consumed";
}

// UCS-2 output as text, one character per unit.
std::string ucs2Text(const Bytes& b) {
  std::string s;
  for (std::size_t i = 0; i + 1 < b.size(); i += 2) {
    const unsigned v = b[i] | b[i + 1] << 8;
    if (v < 0x80) {
      s += static_cast<char>(v);
    } else {
      char buf[12];
      std::snprintf(buf, sizeof buf, "<%04X>", v);
      s += buf;
    }
  }
  return s;
}

TEST(Ucs2Const, NumericReferencesInBothModes) {
  UcsWorld world;
  CconvSrcOptions be = srcOpts(1);
  // A, U+20B9F, U+3042 (Windows-31J), U+00E9 (not), U+E758, U+E759.
  const Bytes in = {0x00, 0x41, 0xD8, 0x42, 0xDF, 0x9F, 0x30,
                    0x42, 0x00, 0xE9, 0xE7, 0x58, 0xE7, 0x59};
  CconvDstOptions hexMode = dstOpts(0);
  hexMode.ncrMode = 1;
  ConvertResult r = convert("ISO-10646-UCS-2", "UTF-16", in, &be, &hexMode);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(ucs2Text(r.out), "A&#x20B9F;<3042>&#xE9;<E758>&#xE759;");
  CconvDstOptions decMode = dstOpts(0);
  decMode.ncrMode = 2;
  r = convert("ISO-10646-UCS-2", "UTF-16", in, &be, &decMode);
  EXPECT_EQ(ucs2Text(r.out), "A&#134047;<3042>&#233;<E758>&#59225;");
  EXPECT_TRUE(piecewiseSame("ISO-10646-UCS-2", "UTF-16", in, &be, &hexMode));

  // A reference that would exactly fill the buffer is not written; the next
  // call with room writes that reference.
  Rec x("ISO-10646-UCS-2", "UTF-16", &be, &hexMode);
  x.input({0xD8, 0x42, 0xDF, 0x9F, 0x00, 0x41});
  x.room(18);
  EXPECT_EQ(cconvConvert(&x.r), CCONV_OUTPUT_FULL);
  EXPECT_EQ(x.r.outPos, 0);
  x.room(19);
  EXPECT_EQ(cconvConvert(&x.r), CCONV_OUTPUT_FULL);
  EXPECT_EQ(ucs2Text(x.written()), "&#x20B9F;");
  x.room(19);
  EXPECT_EQ(cconvConvert(&x.r), CCONV_OK);
  EXPECT_EQ(ucs2Text(x.written()), "A");
}

TEST(Ucs2Const, ReferencesWhateverTheTablesAndTheirState) {
  UcsWorld world(false, true);
  CconvDstOptions hexMode = dstOpts(1);
  hexMode.ncrMode = 1;
  // The Windows-31J tables are read on first use, not taken as the identity.
  const Bytes in = {0x41, 0xC3, 0xA9, 0xE3, 0x81, 0x82, 0x61};
  ConvertResult r = convert("ISO-10646-UCS-2", "UTF-8", in, nullptr, &hexMode);
  EXPECT_EQ(r.status, CCONV_OK);
  CconvDstOptions leOut = hexMode;
  leOut.outBigEndian = 0;
  r = convert("ISO-10646-UCS-2", "UTF-8", in, nullptr, &leOut);
  EXPECT_EQ(ucs2Text(r.out), "A&#xE9;<3042>&#x61;");
  // A target set without a table places U+20B9F, yet a unit cannot carry
  // it: with references on it is one, without it is unmappable.
  const Bytes sup = {0xF0, 0xA0, 0xAE, 0x9F, 0x41};
  r = convert("UCS2-ANY", "UTF-8", sup, nullptr, &leOut);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(ucs2Text(r.out), "&#x20B9F;A");
  CconvDstOptions plain = dstOpts(0);
  r = convert("UCS2-ANY", "UTF-8", sup, nullptr, &plain);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  EXPECT_TRUE(r.out.empty());
}

TEST(Ucs2Const, ReferenceDigits) {
  struct Case {
    std::uint32_t mode, value;
    const char* text;
  };
  const Case cases[] = {{1, 0, "&#x0;"},
                        {2, 0, "&#0;"},
                        {1, 0xABCDEF, "&#xABCDEF;"},
                        {2, 0xFFFFFFFF, "&#4294967295;"},
                        {1, 0xFFFFFFFF, "&#xFFFFFFFF;"}};
  for (const Case& c : cases) {
    CconvRecord rec;
    std::memset(&rec, 0, sizeof rec);
    Bytes buf(64, 0xEE);
    rec.outBuf = buf.data();
    rec.outSize = 64;
    rec.dstOptions.ncrMode = c.mode;
    ASSERT_EQ(zk::ucs2WriteNcr(&rec, c.value), 1);
    buf.resize(static_cast<std::size_t>(rec.outPos));
    EXPECT_EQ(ucs2Text(buf), c.text);
    EXPECT_EQ(rec.outChars, static_cast<std::int32_t>(std::strlen(c.text)));
  }
}

TEST(Ucs2Dest, UnitsThroughTheTableDecoder) {
  UcsWorld world;
  CconvSrcOptions le = srcOpts(0);
  Rec x("UTF-8", "ISO-10646-UCS-2", &le);
  x.input({0x42, 0x30, 0x1B, 0x00, 0x41});
  EXPECT_EQ(decodeStep(x, zk::destUcs2), CCONV_CHAR);
  EXPECT_EQ(x.r.ucs, 0x3042u);
  EXPECT_EQ(decodeStep(x, zk::destUcs2), CCONV_CHAR);
  EXPECT_EQ(x.r.ucs, 0x1Bu);
  EXPECT_EQ(decodeStep(x, zk::destUcs2), CCONV_NEED_INPUT);
  EXPECT_EQ(x.r.inPos, 4);
  // Surrogate units are characters of their own in UCS-2.
  CconvSrcOptions be = srcOpts(1);
  EXPECT_EQ(decodeValues("ISO-10646-UCS-2", {0xD8, 0x3D, 0xDE, 0x00}, &be),
            (std::vector<std::uint32_t>{0xD83D, 0xDE00}));
}

TEST(UcsConst, WritersRefuseWhatTheirFormCannotCarry) {
  UcsWorld world;
  CconvSrcOptions be = srcOpts(1);
  CconvDstOptions out = dstOpts(1);
  // The widest values of six-byte UTF-8 and back.
  const Bytes wide = {0x7F, 0xFF, 0xFF, 0xFF, 0x04, 0x00, 0x00, 0x00};
  ConvertResult r = convert("UTF8-ANY", "UCS4-ANY", wide, &be);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(hex(r.out), "FD BF BF BF BF BF FC 84 80 80 80 80");
  EXPECT_EQ(convert("UCS4-ANY", "UTF8-ANY", r.out, nullptr, &out).out, wide);
  // 2^31 in UTF-8 and U+110000 in UTF-16 are unmappable; with substitution
  // the replacement takes their place and the conversion goes on.
  const Bytes big = {0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x41};
  r = convert("UTF8-ANY", "UCS4-ANY", big, &be);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  EXPECT_TRUE(r.out.empty());
  const Bytes beyond = {0x00, 0x11, 0x00, 0x00, 0x00, 0x00, 0x00, 0x41};
  r = convert("UTF16-ANY", "UCS4-ANY", beyond, &be, &out);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  CconvDstOptions sub = dstOpts(1);
  sub.substitute = 1;
  r = convert("UTF16-ANY", "UCS4-ANY", beyond, &be, &sub);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(r.out, (Bytes{0x30, 0x13, 0x00, 0x41})) << "wide: U+3013 GETA MARK";
  r = convert("UTF8-ANY", "UCS4-ANY", big, &be, &sub);
  EXPECT_EQ(r.out, (Bytes{0xE3, 0x80, 0x93, 0x41}));
}

TEST(UcsConst, NothingPlacedWritesNothing) {
  UcsWorld world;
  // A pending character without a set (unit 0), as an empty substitute
  // leaves it: no unit of value 0 may appear.
  for (RuleFunction fn : {zk::constUtf8, zk::constUtf16, zk::constUcs4, zk::constUcs2}) {
    Rec x("UTF-16", "UTF-8");
    x.room(8);
    x.r.status = CCONV_OUTPUT_FULL;
    x.r.outCharset = 0;
    x.r.outCode = 0;
    x.r.outUnit = 0;
    fn(&x.r);
    EXPECT_EQ(x.r.status, CCONV_NEXT);
    EXPECT_EQ(x.r.outPos, 0);
  }
}

TEST(UcsConst, LineEndsInEachTarget) {
  UcsWorld world;
  const Bytes in = {0x41, 0x0D, 0x0A, 0x42, 0x0A, 0xE2, 0x80, 0xA8};
  CconvDstOptions nl = dstOpts(1);
  nl.newlineConvert = 1;
  nl.newlineKind = 4;
  EXPECT_EQ(hex(convert("UTF-16", "UTF-8", in, nullptr, &nl).out), "00 41 20 28 00 42 20 28 20 28");
  nl.newlineKind = 3;
  EXPECT_EQ(hex(convert("UTF-8", "UTF-8", in, nullptr, &nl).out), "41 0A 42 0A 0A");
  nl.newlineKind = 0;
  EXPECT_EQ(hex(convert("ISO-10646-UCS-4", "UTF-8", in, nullptr, &nl).out),
            "00 00 00 41 00 00 00 0D 00 00 00 0A 00 00 00 42 00 00 00 0D 00 00 00 0A 00 00 00 0D "
            "00 00 00 0A");
}

TEST(UcsConvert, RoundTripsWithShiftJisAgreeWithPython) {
  UcsWorld world;
  const char* unicode[] = {"UTF-8", "UTF-16", "ISO-10646-UCS-2", "ISO-10646-UCS-4"};
  CconvDstOptions rowFirst = dstOpts(1);
  for (const char* name : unicode) {
    SCOPED_TRACE(name);
    ConvertResult u = convert(name, "Shift_JIS", kSampleSjis);
    ASSERT_EQ(u.status, CCONV_OK);
    const std::string n = name;
    const Bytes expect = n == "UTF-8"             ? utf8Of(kSampleText)
                         : n == "UTF-16"          ? fromHex(kSampleUtf16LeHex)
                         : n == "ISO-10646-UCS-2" ? encodeText(kSampleText, Enc::Ucs2LE, false)
                                                  : encodeText(kSampleText, Enc::Ucs4LE, false);
    EXPECT_EQ(hex(u.out), hex(expect));
    for (const char* legacy : {"Shift_JIS", "Windows31J"}) {
      ConvertResult back = convert(legacy, name, u.out, nullptr, &rowFirst);
      EXPECT_EQ(back.status, CCONV_OK) << legacy;
      EXPECT_EQ(hex(back.out), hex(kSampleSjis)) << legacy;
      EXPECT_EQ(convert(name, legacy, kSampleSjis).out, u.out) << legacy;
    }
    // Through every other Unicode encoding and back.
    for (const char* via : unicode) {
      ConvertResult mid = convert(via, name, u.out);
      ConvertResult again = convert(name, via, mid.out);
      EXPECT_EQ(again.out, u.out) << "via " << via;
    }
  }
}

TEST(UcsConvert, PiecesAndRoomDoNotChangeTheResult) {
  UcsWorld world;
  const std::string text = std::string(kSampleText) + "\xF0\x9F\x98\x80\xF0\xA0\xAE\x9F";
  CconvSrcOptions be = srcOpts(1);
  CconvDstOptions beOut = dstOpts(1, 1);
  const Bytes utf16 = encodeText(text, Enc::Utf16BE, false);
  const Bytes ucs4 = encodeText(text, Enc::Ucs4BE, false);
  const Bytes ucs2 = encodeText(kSampleText, Enc::Ucs2BE, false);
  EXPECT_TRUE(piecewiseSame("ISO-10646-UCS-4", "UTF-16", utf16, &be, &beOut));
  EXPECT_TRUE(piecewiseSame("UTF-16", "ISO-10646-UCS-4", ucs4, &be, &beOut));
  EXPECT_TRUE(piecewiseSame("ISO-10646-UCS-2", "UTF-16",
                            encodeText(kSampleText, Enc::Utf16BE, false), &be, &beOut));
  EXPECT_TRUE(piecewiseSame("UTF-8", "ISO-10646-UCS-2", ucs2, &be, &beOut));
  EXPECT_TRUE(piecewiseSame("Shift_JIS", "ISO-10646-UCS-4",
                            encodeText(kSampleText, Enc::Ucs4BE, false), &be, &beOut));
  EXPECT_EQ(convert("ISO-10646-UCS-4", "UTF-16", utf16, &be, &beOut).out,
            cat({0, 0, 0xFE, 0xFF}, ucs4));
}

}  // namespace
}  // namespace zktest
