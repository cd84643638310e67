// Table-driven decoding and the shared placement and writing machinery,
// through the exported calls where the outside shows enough.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "engine/engine.h"
#include "engine/world.h"

namespace {

using namespace zktest;

Bytes fromUtf8(const char* to, const std::string& text) {
  return peer(to, "UTF-8", Bytes(text.begin(), text.end()));
}

TEST(TableEncoding, RealTextAgreesWithPeerBothWays) {
  World w;
  // Halfwidth kana and the circled digit are not EUCT characters: only
  // Windows-31J takes the tail.
  const std::string text =
      "吾輩は猫である。名前はまだ無い。\r\nどこで生れたかとんと見当がつかぬ。"
      "何でも薄暗いじめじめした所でニャーニャー泣いていた事だけは記憶している。"
      "\r\nＡＢＣ１２３";
  const std::string tail = "、ｱｲｳ abc ① 〒";
  const Bytes euc = fromUtf8("EUC-JP", text), sjis = fromUtf8("SHIFT_JIS", text),
              u32 = fromUtf8("UCS-4BE", text), cp932 = fromUtf8("CP932", text + tail),
              all32 = fromUtf8("UCS-4BE", text + tail);
  ASSERT_FALSE(euc.empty() || sjis.empty() || cp932.empty());
  expectConversion("Shift_JIS", "EUCT", euc, sjis);
  expectConversion("EUCT", "Shift_JIS", sjis, euc);
  expectConversion("UCS4T", "EUCT", euc, u32);
  expectConversion("EUCT", "UCS4T", u32, euc);
  expectConversion("UCS4T", "WINDOWS31J", cp932, all32);
  expectConversion("WINDOWS31J", "UCS4T", all32, cp932);
}

TEST(TableEncoding, PiecewiseEqualsOneShot) {
  World w;
  EXPECT_TRUE(piecewiseSame("Shift_JIS", "EUCT", fromUtf8("EUC-JP", "猫A\r\nある\n\rB"), &kBigIn,
                            &kBigOut));
  CconvDstOptions nl = kBigOut;
  nl.newlineConvert = 1;
  nl.newlineKind = 3;
  const Bytes u32 = bytesOf("UCS4T", "732B 0D 0A 3042 0D 2028 E003 1F600 41");
  EXPECT_TRUE(piecewiseSame("EUCT", "UCS4T", u32, &kBigIn, &nl));
  EXPECT_TRUE(piecewiseSame("UCS4T", "Shift_JIS-2004", {0x82, 0xF5, 0xF0, 0x40, 0x0D, 0x0A, 0x41},
                            &kBigIn, &nl));
  // Stops (invalid input, truncated input) happen at the same place however fed.
  EXPECT_TRUE(
      piecewiseSame("UCS4T", "EUCT", {0x41, 0xA4, 0xA2, 0xA9, 0xA1, 0x42}, &kBigIn, &kBigOut));
  EXPECT_TRUE(piecewiseSame("UCS4T", "Shift_JIS", {0x41, 0x82, 0xA0, 0x82}, &kBigIn, &kBigOut));
}

TEST(TableEncoding, CharactersStatusesAndPositions) {
  World w;
  std::vector<Case> cases = {
      // The Roman set comes first and maps 0x41; one byte left that the
      // one-byte set does not map needs more input.
      {"UCS4T", "EUCT", "41 A4", "41", CCONV_NEED_INPUT, 1},
      {"UCS4T", "EUCT", "A9A1 41", "", CCONV_INVALID, 0},  // an unmapped pair
      // ESC, DEL and NUL are control codes although the table does not map them.
      {"UCS4T", "LETTERS", "41 1B 7F 00", "41 1B 7F 00"},
      {"UCS4T", "ID2", "3042", "3042"},  // a two-byte set without a table
      // The user-defined area, both ways and its bounds; from one
      // encoding's area to another's through the private use area.
      {"UCS4T", "EUCT", "F5A1 F5AA", "E000 E009"},
      {"UCS4T", "EUCT", "F5AB", "", CCONV_INVALID, 0},
      {"EUCT", "UCS4T", "E005", "F5A6"},
      {"EUCT", "UCS4T", "E00A", "", CCONV_UNMAPPABLE, 4},
      {"EUCT", "WINDOWS31J", "F040 F049", "F5A1 F5AA"},
      {"WINDOWS31J", "EUCT", "F5A3", "F042"},
      // Extra tables come after the set's own (U+2212 and U+FF0D both give
      // 0xA1DD); a four-byte value in a two-byte set is two units.
      {"EUCT", "UCS4T", "2212 FF0D", "A1DD A1DD"},
      {"EUCT", "UCS4T", "1F600 41", "A1A9 A1AA 41"},
      // A control code without a code in any table is written in the Roman
      // set, or without one in the narrowest set.
      {"Shift_JIS", "UCS4T", "1B 7F 00", "1B 7F 00"},
      {"KANJIONLY", "Shift_JIS", "1B", "001B"},
  };
  for (const char* c : {"09", "0A", "0D", "20"})  // other controls are not taken
    cases.push_back({"UCS4T", "LETTERS", c, "", CCONV_INVALID, 0});
  expectCases(cases);
  const ConvertResult r = convert("EUCT", "UCS4T", bytesOf("UCS4T", "1F600 41"), &kBigIn, &kBigOut);
  EXPECT_EQ(r.outChars, 3);
  EXPECT_EQ(r.inChars, 2);
  // Without the big-endian options the bytes of a code are little-endian.
  EXPECT_EQ(convert("UCS4T", "ID2", {0x30, 0x42}, nullptr, &kBigOut).out, bytesOf("UCS4T", "4230"));
  EXPECT_EQ(convert("ID2", "UCS4T", bytesOf("UCS4T", "3042"), &kBigIn, nullptr).out,
            (Bytes{0x42, 0x30}));
}

TEST(Writing, LineEndKinds) {
  World w;
  CconvDstOptions nl = kBigOut;
  nl.newlineConvert = 1;
  // CR LF is one line end; LF CR is two; U+2028 and U+2029 are line ends.
  const std::string mixed = "0D 0A 41 0A 0D 2028 2029 0A 0A";
  const struct {
    std::uint32_t kind;
    std::string wide, narrow;  // the line end in a four-byte target and in Shift_JIS
  } kinds[] = {{2, "0D", "0D"},
               {3, "0A", "0A"},
               {4, "2028", "0D0A"},
               {5, "2029", "0D0A"},
               {0, "0D 0A", "0D0A"}};
  for (const auto& k : kinds) {
    SCOPED_TRACE(k.kind);
    nl.newlineKind = k.kind;
    auto lines = [](const std::string& end) {  // end, "A", then six more ends
      std::string all = end + " 41";
      for (int i = 0; i < 6; ++i) all += " " + end;
      return all;
    };
    expectCases(
        {{"UCS4T", "UCS4T", mixed, lines(k.wide)}, {"Shift_JIS", "UCS4T", mixed, lines(k.narrow)}},
        &kBigIn, &nl);
  }
  // Without normalisation, line ends pass as they are.
  expectCases({{"UCS4T", "UCS4T", mixed, mixed}});
}

TEST(Placement, SameSetKeepsItsCodeWithoutUnicode) {
  World w;
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "WINDOWS31J"), CCONV_OK);
  rec.status = CCONV_CHAR;
  rec.inCharset = w.jis0208->id;
  rec.code = 0x7421;  // no table entry needed: the code passes unchanged
  rec.rawCode = 0xEA9F;
  ASSERT_EQ(zk::placeChar(&rec), 1);
  EXPECT_EQ(std::tie(rec.outCharset, rec.outCode, rec.outUnit, rec.ucs),
            std::make_tuple(w.jis0208->id, 0x7421u, 2, 0u));
  // A set the target lacks goes through Unicode, derived from the source set
  // (whose table the source's preparation loads).
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "EUCT"), CCONV_OK);
  rec.status = CCONV_CHAR;
  rec.inCharset = w.eucKanji->id;
  rec.code = 0xA4A2;
  rec.ucs = 0;
  ASSERT_EQ(zk::placeChar(&rec), 1);
  EXPECT_EQ(std::tie(rec.ucs, rec.outCode), std::make_tuple(0x3042u, 0x2422u));
  // A character without a Unicode value that is no control code is unmappable.
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "KANJIONLY"), CCONV_OK);
  rec.status = CCONV_CHAR;
  rec.inCharset = 9999;
  rec.code = rec.rawCode = 0x41;
  EXPECT_EQ(zk::placeChar(&rec), 0);
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_UNMAPPABLE));
}

TEST(Writing, SequencesByHand) {
  CconvRecord rec{};
  Bytes out(8, 0xEE);
  rec.outBuf = out.data();
  rec.outSize = 8;
  rec.dstOptions.outBigEndian = 1;
  ASSERT_EQ(zk::writeUnit(&rec, nullptr, nullptr, 0x123456, 3), 1);
  // A sequence shorter than its unit is an error; a remainder is dropped.
  rec.outSeqLen = 1;
  EXPECT_EQ(zk::writeSeq(&rec, nullptr, nullptr, 0x41, 2), 0);
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_ERROR));
  rec.outSeqLen = 3;
  ASSERT_EQ(zk::writeSeq(&rec, nullptr, nullptr, 0x414243, 2), 1);
  EXPECT_EQ(hex(Bytes(out.begin(), out.begin() + rec.outPos)), "12 34 56 41 42");
}

int gTransformCalls = 0;
std::uint32_t countingToJis(std::uint32_t v) {
  ++gTransformCalls;
  return zk::sjisToJis(v);
}

TEST(TableDecoding, EachWidthIsReadAndTransformedOncePerCharacter) {
  World w;
  // Two two-byte sets: the first has no entry for the code, the second has.
  CconvRecord rec{};
  ASSERT_EQ(cconvChgCharset(&rec, nullptr, "TWOSETS"), CCONV_OK);  // loads its tables
  const Bytes in{0x82, 0xA0}, bad{0x82, 0x20};
  rec.inBuf = in.data();
  rec.inLen = 2;
  rec.srcOptions.inBigEndian = 1;
  gTransformCalls = 0;
  ASSERT_EQ(zk::decodeTable(&rec, countingToJis), 1);
  EXPECT_EQ(std::tie(gTransformCalls, rec.status, rec.inCharset),
            std::make_tuple(1, std::uint32_t{CCONV_CHAR}, w.jis0208->id));
  EXPECT_EQ(std::tie(rec.code, rec.rawCode, rec.ucs, rec.inPos, rec.inChars),
            std::make_tuple(0x2422u, 0x82A0u, 0x3042u, 2, 1));
  // A rejected value is asked again by the next set of the same width.
  rec.inBuf = bad.data();
  rec.inPos = 0;
  gTransformCalls = 0;
  EXPECT_EQ(zk::decodeTable(&rec, countingToJis), 0);
  EXPECT_EQ(std::tie(gTransformCalls, rec.status, rec.inPos),
            std::make_tuple(2, std::uint32_t{CCONV_INVALID}, 0));
  // A rule without sets decodes nothing; a skip then moves one byte.
  rec.srcRule = reinterpret_cast<::RuleDef*>(injectRule("NOSETS", "constSAME", "destSAME", {}));
  rec.srcOptions.skipInvalid = 1;
  EXPECT_EQ(zk::decodeTable(&rec, nullptr), 0);
  EXPECT_EQ(std::tie(rec.status, rec.inPos), std::make_tuple(std::uint32_t{CCONV_INVALID}, 1));
  rec.inPos = 2;
  EXPECT_EQ(zk::decodeTable(&rec, nullptr), 0);
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_OK));
}

}  // namespace
