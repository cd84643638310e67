// The Shift_JIS family through the exported calls, with hand-made sets and
// the JIS X 0208 table of the C library's EUC-JP converter.
#include <gtest/gtest.h>

#include <tuple>

#include "engine/engine.h"
#include "engine/world.h"

namespace {

using namespace zktest;

TEST(ShiftJis, AgreesWithPeerOverEveryJisX0208Character) {
  World w;
  Bytes sjis, expected;
  int chars = 0;
  for (std::uint32_t code = 0x8140; code <= 0xEFFC; ++code) {
    const std::uint32_t jis = zk::sjisToJis(code);
    if (jis < 0x100) continue;
    const Bytes pair{std::uint8_t(code >> 8), std::uint8_t(code)};
    const Bytes u = peer("UCS-4BE", "SHIFT_JIS", pair);
    // Where the peer's Shift_JIS and EUC-JP differ (its 0x815F is U+005C),
    // our one JIS X 0208 table cannot agree with both.
    if (u.size() != 4 ||
        peer("UCS-4BE", "EUC-JP", {std::uint8_t(0x80 | jis >> 8), std::uint8_t(0x80 | jis)}) != u)
      continue;
    sjis.insert(sjis.end(), pair.begin(), pair.end());
    expected.insert(expected.end(), u.begin(), u.end());
    ++chars;
  }
  ASSERT_GT(chars, 6800);
  expectConversion("UCS4T", "Shift_JIS", sjis, expected);
  expectConversion("Shift_JIS", "UCS4T", expected, sjis);
  const ConvertResult back = convert("Shift_JIS", "UCS4T", expected, &kBigIn, &kBigOut);
  EXPECT_EQ(back.inChars, chars);
  EXPECT_EQ(back.outChars, chars);
}

TEST(ShiftJisFamily, CharactersStatusesPositionsAndSkips) {
  World w;
  expectCases({
      // A Roman byte is a character even when its table does not map it:
      // ESC has no Unicode value and is read as a control code.
      {"UCS4T", "Shift_JIS", "82A0 41 B1 889F 1B", "3042 41 FF71 4E9C 1B"},
      {"Shift_JIS", "UCS4T", "3042 41 FF71", "82A0 41 B1"},
      {"UCS4T", "Shift_JIS", "41 82", "41", CCONV_NEED_INPUT, 1},
      // A bad pair, or a well-formed one without a character, consumes its
      // first byte only.
      {"UCS4T", "Shift_JIS", "817F", "", CCONV_INVALID, 1},
      {"UCS4T", "Shift_JIS", "8540", "", CCONV_INVALID, 1},
      // SJISX places U+3042 in a set whose code (0xA4A2) has no Shift_JIS form.
      {"SJISX", "UCS4T", "41 3042", "41", CCONV_UNMAPPABLE, 8},
      // Shift_JIS-2004: plane 2, and 0x82F5 (JIS X 0213 0x2477) is a base and
      // a combining code point.
      {"UCS4T", "Shift_JIS-2004", "F040 FCFC 82F5", "20089 2A6B2 304B 309A"},
      {"Shift_JIS-2004", "UCS4T", "20089 2A6B2 3042", "F040 FCFC 82A0"},
      // Kept in its set, a pair stays one code; a base and a mark that the
      // table knows stay two codes.
      {"Shift_JIS-2004", "Shift_JIS-2004", "82F5 41 82A9", "82F5 41 82A9"},
      // Into plain Shift_JIS the mark has no code: the whole character is refused.
      {"Shift_JIS", "Shift_JIS-2004", "82F5", "", CCONV_UNMAPPABLE, 2},
      // Windows-31J: the vendor row and the user area, both ways, and their
      // bounds. Plain Shift_JIS has neither.
      {"UCS4T", "WINDOWS31J", "8740 82A0 F040 F09F F0FC", "2460 3042 E000 E100 E15D"},
      {"WINDOWS31J", "UCS4T", "2460 E000 E100 E15D 2116", "8740 F040 F09F F0FC 8782"},
      {"UCS4T", "WINDOWS31J", "F140", "", CCONV_INVALID, 1},
      {"WINDOWS31J", "UCS4T", "E15E", "", CCONV_UNMAPPABLE, 4},
      {"Shift_JIS", "WINDOWS31J", "8740", "", CCONV_UNMAPPABLE, 2},
      {"UCS4T", "Shift_JIS", "8740", "", CCONV_INVALID, 1},
      // OASYS/Win: table-driven Shift_JIS. A lead byte with a bad trail: the
      // two-byte sets reject it, nothing else takes it.
      {"UCS4T", "OASYS_WIN", "41 82A0 B1 F041", "41 3042 FF71 E001"},
      {"OASYS_WIN", "UCS4T", "41 3042 E001", "41 82A0 F041"},
      {"UCS4T", "OASYS_WIN", "8220", "", CCONV_INVALID, 0},
      // OASYS online: fixed two-byte codes read, the Roman byte written as one.
      {"UCS4T", "OASYS_ONLINE", "00B1 0041 2422 A4A2", "FF71 41 3042 E0A2"},
      {"UCS4T", "OASYS_ONLINE", "1041", "", CCONV_INVALID, 1},
      {"UCS4T", "OASYS_ONLINE", "24", "", CCONV_NEED_INPUT, 0},
      {"OASYS_ONLINE", "UCS4T", "3042 41", "2422 41"},
  });
  EXPECT_EQ(
      convert("Shift_JIS-2004", "Shift_JIS-2004", {0x82, 0xF5, 0x41}, &kBigIn, &kBigOut).outChars,
      2);
  // Skipped: after a bad trail the 0x7F is read on its own, as DEL; an
  // unmapped pair of a table-driven source goes whole, but a pair the
  // transform rejects was never read as a pair.
  expectCases({{"UCS4T", "Shift_JIS", "817F", "7F"},
               {"UCS4T", "EUCT", "A9A1 A4A2 41", "3042 41"},
               {"UCS4T", "OASYS_WIN", "8220 41", "20 41"}},
              &kBigSkip);
  for (const char* bad : {"80", "A0", "FD", "FF"}) {
    const std::string in = std::string("41 ") + bad + " 42";
    expectCases({{"UCS4T", "Shift_JIS", in, "41", CCONV_INVALID, 2}});
    expectCases({{"UCS4T", "Shift_JIS", in, "41 42"}}, &kBigSkip);
  }
}

TEST(ShiftJis2004, PairComposedFromCodePoints) {
  World w;
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "Shift_JIS-2004"), CCONV_OK);
  rec.inCharset = w.ucs4->id;
  rec.code = rec.rawCode = rec.ucs = 0x304B;
  rec.ucs2 = 0x309A;
  ASSERT_EQ(zk::placeChar(&rec), 1);
  EXPECT_EQ(std::tie(rec.outCharset, rec.outCode, rec.ucs2),
            std::make_tuple(w.jis0213->id, 0x2477u, 0u));
  // Base plus a mark of the table but no row of its own: two codes.
  rec.status = CCONV_CHAR;
  rec.ucs = 0x304B;
  rec.ucs2 = 0x0300;
  ASSERT_EQ(zk::placeChar(&rec), 1);
  EXPECT_EQ(std::tie(rec.outCode, rec.ucs2), std::make_tuple(0x242Bu, 0x2B5Cu));
}

}  // namespace
