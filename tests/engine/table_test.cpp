// Table-driven decoding and the shared placement and writing machinery,
// through the exported calls where the outside shows enough.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/engine.h"
#include "engine/world.h"

namespace {

using zktest::Bytes;
using zktest::convert;
using zktest::hex;
using zktest::ucs4;

CconvSrcOptions kBigIn = zktest::srcBig();
CconvSrcOptions kBigInSkip = zktest::srcBig(true);
CconvDstOptions kBigOut = zktest::dstBig();

Bytes utf8ToPeer(const char* to, const std::string& text) {
  return zktest::peer(to, "UTF-8", Bytes(text.begin(), text.end()));
}

const char kText[] =
    "吾輩は猫である。名前はまだ無い。\r\nどこで生れたかとんと見当がつかぬ。"
    "何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。\r\n"
    "ＡＢＣ１２３、ｱｲｳ abc ① 〒";

TEST(TableEncoding, RealTextAgreesWithPeerBothWays) {
  zktest::World w;
  // Halfwidth kana and the circled digit are not EUCT characters: without them.
  const std::string text(kText, std::strlen(kText) - std::strlen("、ｱｲｳ abc ① 〒"));
  const Bytes euc = utf8ToPeer("EUC-JP", text);
  const Bytes sjis = utf8ToPeer("SHIFT_JIS", text);
  const Bytes u32 = utf8ToPeer("UCS-4BE", text);
  ASSERT_FALSE(euc.empty());
  ASSERT_FALSE(sjis.empty());
  EXPECT_EQ(convert("Shift_JIS", "EUCT", euc, &kBigIn, &kBigOut).out, sjis);
  EXPECT_EQ(convert("EUCT", "Shift_JIS", sjis, &kBigIn, &kBigOut).out, euc);
  EXPECT_EQ(convert("UCS4T", "EUCT", euc, &kBigIn, &kBigOut).out, u32);
  EXPECT_EQ(convert("EUCT", "UCS4T", u32, &kBigIn, &kBigOut).out, euc);
  // Windows-31J has the rest too.
  const Bytes cp932 = utf8ToPeer("CP932", kText);
  const Bytes all32 = utf8ToPeer("UCS-4BE", kText);
  EXPECT_EQ(convert("UCS4T", "WINDOWS31J", cp932, &kBigIn, &kBigOut).out, all32);
  EXPECT_EQ(convert("WINDOWS31J", "UCS4T", all32, &kBigIn, &kBigOut).out, cp932);
}

TEST(TableEncoding, PiecewiseEqualsOneShot) {
  zktest::World w;
  const Bytes euc = utf8ToPeer("EUC-JP", "猫A\r\nある\n\rB");
  EXPECT_TRUE(zktest::piecewiseSame("Shift_JIS", "EUCT", euc, &kBigIn, &kBigOut));
  CconvDstOptions nl = kBigOut;
  nl.newlineConvert = 1;
  nl.newlineKind = 3;
  const Bytes u32 = ucs4({0x732B, 0x0D, 0x0A, 0x3042, 0x0D, 0x2028, 0xE003, 0x1F600, 0x41});
  EXPECT_TRUE(zktest::piecewiseSame("EUCT", "UCS4T", u32, &kBigIn, &nl));
  EXPECT_TRUE(zktest::piecewiseSame("UCS4T", "Shift_JIS-2004",
                                    {0x82, 0xF5, 0xF0, 0x40, 0x0D, 0x0A, 0x41}, &kBigIn, &nl));
  // Stops (invalid input, truncated input) happen at the same place however fed.
  EXPECT_TRUE(zktest::piecewiseSame("UCS4T", "EUCT", {0x41, 0xA4, 0xA2, 0xA9, 0xA1, 0x42}, &kBigIn,
                                    &kBigOut));
  EXPECT_TRUE(zktest::piecewiseSame("UCS4T", "Shift_JIS", {0x41, 0x82, 0xA0, 0x82}, &kBigIn,
                                    &kBigOut));
}

TEST(TableDecoding, SetOrderWidthAndTruncation) {
  zktest::World w;
  // The Roman set comes first and maps 0x41, whatever follows.
  auto r = convert("UCS4T", "EUCT", {0x41, 0xA4}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.out, ucs4({0x41}));
  // One byte left that the one-byte set does not map: more input is needed.
  EXPECT_EQ(r.status, CCONV_NEED_INPUT);
  EXPECT_EQ(r.inPos, 1);
  // An unmapped pair: invalid, nothing consumed; skipping takes both bytes.
  r = convert("UCS4T", "EUCT", {0xA9, 0xA1, 0x41}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(r.inPos, 0);
  r = convert("UCS4T", "EUCT", {0xA9, 0xA1, 0x41}, &kBigInSkip, &kBigOut);
  EXPECT_EQ(r.out, ucs4({0x41}));
  // A pair the transform rejects was never read as a pair: the skip is one byte.
  r = convert("UCS4T", "OASYS_WIN", {0x82, 0x20, 0x41}, &kBigInSkip, &kBigOut);
  EXPECT_EQ(r.out, ucs4({0x20, 0x41}));
}

TEST(TableDecoding, ControlCodesAndByteOrder) {
  zktest::World w;
  // ESC is taken as a control code although the table does not map it; TAB is not.
  auto r = convert("UCS4T", "LETTERS", {0x41, 0x1B, 0x7F, 0x00}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(r.out, ucs4({0x41, 0x1B, 0x7F, 0x00}));
  for (std::uint8_t c : {0x09, 0x0A, 0x0D, 0x20}) {
    r = convert("UCS4T", "LETTERS", {c}, &kBigIn, &kBigOut);
    EXPECT_EQ(r.status, CCONV_INVALID) << int(c);
  }
  // A two-byte set without a table: the code is the bytes in the chosen order.
  EXPECT_EQ(convert("UCS4T", "ID2", {0x30, 0x42}, &kBigIn, &kBigOut).out, ucs4({0x3042}));
  EXPECT_EQ(convert("UCS4T", "ID2", {0x30, 0x42}, nullptr, &kBigOut).out, ucs4({0x4230}));
  EXPECT_EQ(convert("ID2", "UCS4T", ucs4({0x3042}), &kBigIn, nullptr).out, (Bytes{0x42, 0x30}));
}

TEST(UserArea, BothDirectionsAndBounds) {
  zktest::World w;
  EXPECT_EQ(convert("UCS4T", "EUCT", {0xF5, 0xA1, 0xF5, 0xAA}, &kBigIn, &kBigOut).out,
            ucs4({0xE000, 0xE009}));
  auto r = convert("UCS4T", "EUCT", {0xF5, 0xAB}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(convert("EUCT", "UCS4T", ucs4({0xE005}), &kBigIn, &kBigOut).out,
            (Bytes{0xF5, 0xA6}));
  EXPECT_EQ(convert("EUCT", "UCS4T", ucs4({0xE00A}), &kBigIn, &kBigOut).status, CCONV_UNMAPPABLE);
  // From one encoding's area to another's, through the private use area.
  EXPECT_EQ(convert("EUCT", "WINDOWS31J", {0xF0, 0x40, 0xF0, 0x49}, &kBigIn, &kBigOut).out,
            (Bytes{0xF5, 0xA1, 0xF5, 0xAA}));
  EXPECT_EQ(convert("WINDOWS31J", "EUCT", {0xF5, 0xA3}, &kBigIn, &kBigOut).out,
            (Bytes{0xF0, 0x42}));
}

TEST(ExtraTables, FoundAfterTheSetTableAndSplitIntoUnits) {
  zktest::World w;
  // The set's own table first: U+2212 is 0xA1DD there, and so is U+FF0D
  // through the extra table.
  EXPECT_EQ(convert("EUCT", "UCS4T", ucs4({0x2212, 0xFF0D}), &kBigIn, &kBigOut).out,
            (Bytes{0xA1, 0xDD, 0xA1, 0xDD}));
  // A four-byte value in a two-byte set: two units of two bytes.
  auto r = convert("EUCT", "UCS4T", ucs4({0x1F600, 0x41}), &kBigIn, &kBigOut);
  EXPECT_EQ(r.out, (Bytes{0xA1, 0xA9, 0xA1, 0xAA, 0x41}));
  EXPECT_EQ(r.outChars, 3);
  EXPECT_EQ(r.inChars, 2);
}

// Drives one character by hand to see what is left in the record.
struct OneChar {
  CconvRecord rec{};
  Bytes in;
  Bytes out;
  OneChar(const char* target, const char* source, Bytes input, int room,
          const CconvDstOptions* dst = &kBigOut)
      : in(std::move(input)), out(room + 8, 0xEE) {
    EXPECT_EQ(cconvInitConvert(&rec, dst, target), CCONV_OK);
    EXPECT_EQ(cconvChgCharset(&rec, &kBigIn, source), CCONV_OK);
    rec.inBuf = in.data();
    rec.inLen = static_cast<std::int32_t>(in.size());
    rec.outBuf = out.data();
    rec.outSize = room;
  }
};

TEST(Writing, CharacterIsWrittenWholeOrNotAtAll) {
  zktest::World w;
  for (int room = 0; room < 4; ++room) {
    OneChar c("EUCT", "UCS4T", ucs4({0x1F600}), room);
    EXPECT_EQ(cconvConvert(&c.rec), CCONV_OUTPUT_FULL) << room;
    EXPECT_EQ(c.rec.outPos, 0) << room;
    EXPECT_EQ(c.rec.outChars, 0) << room;
    EXPECT_EQ(c.rec.inPos, 4) << room;
    for (int k = 0; k < room; ++k) EXPECT_EQ(c.out[k], 0xEE) << room;
    // With room, the pending character comes first, once.
    c.rec.outSize = 4;
    EXPECT_EQ(cconvConvert(&c.rec), CCONV_OK);
    EXPECT_EQ(Bytes(c.out.begin(), c.out.begin() + c.rec.outPos), (Bytes{0xA1, 0xA9, 0xA1, 0xAA}));
  }
  // A line end of two units is one character too.
  CconvDstOptions nl = kBigOut;
  nl.newlineConvert = 1;
  OneChar c("Shift_JIS", "UCS4T", ucs4({0x41, 0x0D}), 2, &nl);
  EXPECT_EQ(cconvConvert(&c.rec), CCONV_OUTPUT_FULL);
  EXPECT_EQ(c.rec.outPos, 1);
  EXPECT_EQ(c.out[1], 0xEE);
  c.rec.outPos = 0;
  EXPECT_EQ(cconvConvert(&c.rec), CCONV_OK);
  EXPECT_EQ(Bytes(c.out.begin(), c.out.begin() + 2), (Bytes{0x0D, 0x0A}));
}

TEST(Writing, LineEndKinds) {
  zktest::World w;
  CconvDstOptions nl = kBigOut;
  nl.newlineConvert = 1;
  const Bytes mixed = ucs4({0x0D, 0x0A, 0x41, 0x0A, 0x0D, 0x2028, 0x2029, 0x0A, 0x0A});
  struct Case {
    std::uint32_t kind;
    std::uint32_t wide;  // line end in a four-byte target
    Bytes narrow;        // in Shift_JIS
  };
  for (const Case& k : {Case{2, 0x0D, {0x0D}}, Case{3, 0x0A, {0x0A}}, Case{4, 0x2028, {0x0D, 0x0A}},
                        Case{5, 0x2029, {0x0D, 0x0A}}, Case{0, 0, {0x0D, 0x0A}}}) {
    nl.newlineKind = k.kind;
    Bytes wide;
    for (std::uint32_t cp : {0x0D, 0x41, 0x0D, 0x0D, 0x0D, 0x0D, 0x0D, 0x0D}) {
      if (cp == 0x0D && k.wide == 0) {
        Bytes crlf = ucs4({0x0D, 0x0A});
        wide.insert(wide.end(), crlf.begin(), crlf.end());
      } else {
        Bytes one = ucs4({cp == 0x0D ? k.wide : cp});
        wide.insert(wide.end(), one.begin(), one.end());
      }
    }
    // CR LF is one line end; LF CR is two; U+2028 and U+2029 are line ends.
    EXPECT_EQ(convert("UCS4T", "UCS4T", mixed, &kBigIn, &nl).out, wide) << k.kind;
    Bytes narrow;
    for (int i = 0; i < 8; ++i) {
      if (i == 1)
        narrow.push_back(0x41);
      else
        narrow.insert(narrow.end(), k.narrow.begin(), k.narrow.end());
    }
    EXPECT_EQ(convert("Shift_JIS", "UCS4T", mixed, &kBigIn, &nl).out, narrow) << k.kind;
  }
  // Without normalisation, line ends pass as they are.
  EXPECT_EQ(convert("UCS4T", "UCS4T", mixed, &kBigIn, &kBigOut).out, mixed);
}

TEST(Placement, SameSetKeepsItsCodeWithoutUnicode) {
  zktest::World w;
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "WINDOWS31J"), CCONV_OK);
  rec.status = CCONV_CHAR;
  rec.inCharset = w.jis0208->id;
  rec.code = 0x7421;  // no table entry needed: the code passes unchanged
  rec.rawCode = 0xEA9F;
  ASSERT_EQ(zk::placeChar(&rec), 1);
  EXPECT_EQ(rec.outCharset, w.jis0208->id);
  EXPECT_EQ(rec.outCode, 0x7421u);
  EXPECT_EQ(rec.outUnit, 2);
  EXPECT_EQ(rec.ucs, 0u);
  // A set the target lacks goes through Unicode, derived from the source set
  // (whose table the source's preparation loads).
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "EUCT"), CCONV_OK);
  rec.status = CCONV_CHAR;
  rec.inCharset = w.eucKanji->id;
  rec.code = 0xA4A2;
  rec.ucs = 0;
  ASSERT_EQ(zk::placeChar(&rec), 1);
  EXPECT_EQ(rec.ucs, 0x3042u);
  EXPECT_EQ(rec.outCode, 0x2422u);
}

TEST(Placement, ControlFallback) {
  zktest::World w;
  // ESC has no code in any table; it is written in the Roman set.
  EXPECT_EQ(convert("Shift_JIS", "UCS4T", ucs4({0x1B, 0x7F, 0x00}), &kBigIn, &kBigOut).out,
            (Bytes{0x1B, 0x7F, 0x00}));
  // Without a Roman set, in the narrowest set.
  EXPECT_EQ(convert("KANJIONLY", "Shift_JIS", {0x1B}, &kBigIn, &kBigOut).out, (Bytes{0x00, 0x1B}));
  // A character without a Unicode value that is no control code is unmappable.
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "KANJIONLY"), CCONV_OK);
  rec.status = CCONV_CHAR;
  rec.inCharset = 9999;
  rec.code = 0x41;
  rec.rawCode = 0x41;
  EXPECT_EQ(zk::placeChar(&rec), 0);
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_UNMAPPABLE));
}

TEST(Writing, UnitsAndSequencesByHand) {
  CconvRecord rec{};
  Bytes out(8, 0xEE);
  rec.outBuf = out.data();
  rec.outSize = 8;
  rec.dstOptions.outBigEndian = 1;
  ASSERT_EQ(zk::writeUnit(&rec, nullptr, nullptr, 0x123456, 3), 1);
  rec.dstOptions.outBigEndian = 0;
  ASSERT_EQ(zk::writeUnit(&rec, zk::jisToSjis, nullptr, 0x2422, 2), 1);
  EXPECT_EQ(out, (Bytes{0x12, 0x34, 0x56, 0xA0, 0x82, 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(rec.outChars, 2);
  // The buffer fills to its last byte, and not beyond.
  EXPECT_EQ(zk::writeUnit(&rec, nullptr, nullptr, 0x41424344, 4), 0);
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_OUTPUT_FULL));
  EXPECT_EQ(rec.outPos, 5);
  ASSERT_EQ(zk::writeUnit(&rec, nullptr, nullptr, 0x414243, 3), 1);
  EXPECT_EQ(rec.outPos, 8);
  // A sequence shorter than its unit is an error; a remainder is dropped.
  rec.outPos = 0;
  rec.outSeqLen = 1;
  EXPECT_EQ(zk::writeSeq(&rec, nullptr, nullptr, 0x41, 2), 0);
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_ERROR));
  rec.outSeqLen = 3;
  rec.dstOptions.outBigEndian = 1;
  ASSERT_EQ(zk::writeSeq(&rec, nullptr, nullptr, 0x414243, 2), 1);
  EXPECT_EQ(rec.outPos, 2);
  EXPECT_EQ(out[0], 0x41);
  EXPECT_EQ(out[1], 0x42);
}

int gTransformCalls = 0;
std::uint32_t countingToJis(std::uint32_t v) {
  ++gTransformCalls;
  return zk::sjisToJis(v);
}

TEST(TableDecoding, EachWidthIsReadAndTransformedOncePerCharacter) {
  zktest::World w;
  // Two two-byte sets: the first has no entry for the code, the second has.
  CconvRecord rec{};
  // Preparing the rule as a source loads its tables.
  ASSERT_EQ(cconvChgCharset(&rec, nullptr, "TWOSETS"), CCONV_OK);
  const Bytes in{0x82, 0xA0};
  rec.inBuf = in.data();
  rec.inLen = 2;
  rec.srcOptions.inBigEndian = 1;
  gTransformCalls = 0;
  ASSERT_EQ(zk::decodeTable(&rec, countingToJis), 1);
  EXPECT_EQ(gTransformCalls, 1);
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_CHAR));
  EXPECT_EQ(rec.inCharset, w.jis0208->id);
  EXPECT_EQ(rec.code, 0x2422u);
  EXPECT_EQ(rec.rawCode, 0x82A0u);
  EXPECT_EQ(rec.ucs, 0x3042u);
  EXPECT_EQ(rec.inPos, 2);
  EXPECT_EQ(rec.inChars, 1);
  // A rejected value is asked again by the next set of the same width.
  const Bytes bad{0x82, 0x20};
  rec.inBuf = bad.data();
  rec.inPos = 0;
  gTransformCalls = 0;
  EXPECT_EQ(zk::decodeTable(&rec, countingToJis), 0);
  EXPECT_EQ(gTransformCalls, 2);
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_INVALID));
  EXPECT_EQ(rec.inPos, 0);
  // A rule without sets decodes nothing; a skip then moves one byte.
  zk::RuleDef* none = zktest::injectRule("NOSETS", "constSAME", "destSAME", {});
  rec.srcRule = reinterpret_cast<::RuleDef*>(none);
  rec.srcOptions.skipInvalid = 1;
  EXPECT_EQ(zk::decodeTable(&rec, nullptr), 0);
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_INVALID));
  EXPECT_EQ(rec.inPos, 1);
  rec.inPos = 2;
  EXPECT_EQ(zk::decodeTable(&rec, nullptr), 0);
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_OK));
}

}  // namespace
