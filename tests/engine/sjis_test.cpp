// The Shift_JIS family through the exported calls, with hand-made sets and
// the JIS X 0208 table of the C library's EUC-JP converter.
#include <gtest/gtest.h>

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

Bytes toUcs4(const char* source, const Bytes& in, const CconvSrcOptions* src = &kBigIn) {
  auto r = convert("UCS4T", source, in, src, &kBigOut);
  EXPECT_EQ(r.status, CCONV_OK) << source << " " << hex(in);
  return r.out;
}

TEST(ShiftJis, AgreesWithPeerOverEveryJisX0208Character) {
  zktest::World w;
  Bytes sjis;
  Bytes expected;
  int chars = 0;
  for (std::uint32_t lead = 0x81; lead <= 0xEF; ++lead) {
    if (lead > 0x9F && lead < 0xE0) continue;
    for (std::uint32_t trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      Bytes pair{static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail)};
      Bytes u = zktest::peer("UCS-4BE", "SHIFT_JIS", pair);
      if (u.size() != 4) continue;
      // Where the peer's Shift_JIS and EUC-JP differ (its 0x815F is U+005C),
      // our one JIS X 0208 table cannot agree with both.
      Bytes viaEuc = zktest::peer("UCS-4BE", "EUC-JP",
                                  {static_cast<std::uint8_t>(0x80 | (zk::sjisToJis((lead << 8) | trail) >> 8)),
                                   static_cast<std::uint8_t>(0x80 | (zk::sjisToJis((lead << 8) | trail) & 0xFF))});
      if (viaEuc != u) continue;
      sjis.insert(sjis.end(), pair.begin(), pair.end());
      expected.insert(expected.end(), u.begin(), u.end());
      ++chars;
    }
  }
  ASSERT_GT(chars, 6800);
  EXPECT_EQ(toUcs4("Shift_JIS", sjis), expected);
  auto back = convert("Shift_JIS", "UCS4T", expected, &kBigIn, &kBigOut);
  EXPECT_EQ(back.status, CCONV_OK);
  EXPECT_EQ(back.out, sjis);
  EXPECT_EQ(back.inChars, chars);
  EXPECT_EQ(back.outChars, chars);
}

TEST(ShiftJis, SingleBytesAndDocumentedPairs) {
  zktest::World w;
  EXPECT_EQ(toUcs4("Shift_JIS", {0x82, 0xA0, 0x41, 0xB1, 0x88, 0x9F}),
            ucs4({0x3042, 0x41, 0xFF71, 0x4E9C}));
  auto r = convert("Shift_JIS", "UCS4T", ucs4({0x3042, 0x41, 0xFF71}), &kBigIn, &kBigOut);
  EXPECT_EQ(r.out, (Bytes{0x82, 0xA0, 0x41, 0xB1}));
  // A Roman byte is a character even when its table does not map it: ESC
  // has no Unicode value and is written as a control code.
  EXPECT_EQ(toUcs4("Shift_JIS", {0x1B}), ucs4({0x1B}));
}

TEST(ShiftJis, TruncatedAndInvalidPairs) {
  zktest::World w;
  auto r = convert("UCS4T", "Shift_JIS", {0x41, 0x82}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_NEED_INPUT);
  EXPECT_EQ(r.inPos, 1);
  EXPECT_EQ(r.out, ucs4({0x41}));

  // A bad pair consumes its first byte only.
  for (std::uint8_t bad : {0x80, 0xA0, 0xFD, 0xFF}) {
    r = convert("UCS4T", "Shift_JIS", {0x41, bad, 0x42}, &kBigIn, &kBigOut);
    EXPECT_EQ(r.status, CCONV_INVALID) << int(bad);
    EXPECT_EQ(r.inPos, 2) << int(bad);
    EXPECT_EQ(toUcs4("Shift_JIS", {0x41, bad, 0x42}, &kBigInSkip), ucs4({0x41, 0x42}));
  }
  r = convert("UCS4T", "Shift_JIS", {0x81, 0x7F}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(r.inPos, 1);
  // ...and the 0x7F is then read on its own, as DEL.
  EXPECT_EQ(toUcs4("Shift_JIS", {0x81, 0x7F}, &kBigInSkip), ucs4({0x7F}));
  // A well-formed pair with no character in the table is invalid too.
  r = convert("UCS4T", "Shift_JIS", {0x85, 0x40}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(r.inPos, 1);
}

TEST(ShiftJis, CodesTheTransformCannotWriteAreUnmappable) {
  zktest::World w;
  // SJISX places U+3042 in a set whose code (0xA4A2) has no Shift_JIS form.
  auto r = convert("SJISX", "UCS4T", ucs4({0x41, 0x3042}), &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(r.out, Bytes{0x41});
  EXPECT_EQ(r.inPos, 8);
}

TEST(ShiftJis2004, PlaneTwoAndPairs) {
  zktest::World w;
  EXPECT_EQ(toUcs4("Shift_JIS-2004", {0xF0, 0x40, 0xFC, 0xFC}), ucs4({0x20089, 0x2A6B2}));
  auto r = convert("Shift_JIS-2004", "UCS4T", ucs4({0x20089, 0x2A6B2, 0x3042}), &kBigIn, &kBigOut);
  EXPECT_EQ(r.out, (Bytes{0xF0, 0x40, 0xFC, 0xFC, 0x82, 0xA0}));
  // 0x82F5 is JIS X 0213 0x2477: a base and a combining code point.
  EXPECT_EQ(toUcs4("Shift_JIS-2004", {0x82, 0xF5}), ucs4({0x304B, 0x309A}));
  // Kept in its set, the pair is one code and is not followed by its mark.
  r = convert("Shift_JIS-2004", "Shift_JIS-2004", {0x82, 0xF5, 0x41}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.out, (Bytes{0x82, 0xF5, 0x41}));
  EXPECT_EQ(r.outChars, 2);
  // Into plain Shift_JIS the mark has no code: the whole character is refused.
  r = convert("Shift_JIS", "Shift_JIS-2004", {0x82, 0xF5}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  EXPECT_TRUE(r.out.empty());
  // A base and a mark that the target table knows come out as two codes.
  r = convert("Shift_JIS-2004", "Shift_JIS-2004", {0x82, 0xA9}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.out, (Bytes{0x82, 0xA9}));
}

TEST(ShiftJis2004, PairComposedFromCodePoints) {
  zktest::World w;
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "Shift_JIS-2004"), CCONV_OK);
  rec.inCharset = w.ucs4->id;
  rec.code = 0x304B;
  rec.rawCode = 0x304B;
  rec.ucs = 0x304B;
  rec.ucs2 = 0x309A;
  ASSERT_EQ(zk::placeChar(&rec), 1);
  EXPECT_EQ(rec.outCharset, w.jis0213->id);
  EXPECT_EQ(rec.outCode, 0x2477u);
  EXPECT_EQ(rec.ucs2, 0u);
  // Base plus a mark of the table but no row of its own: two codes.
  rec.status = CCONV_CHAR;
  rec.ucs = 0x304B;
  rec.ucs2 = 0x0300;
  ASSERT_EQ(zk::placeChar(&rec), 1);
  EXPECT_EQ(rec.outCode, 0x242Bu);
  EXPECT_EQ(rec.ucs2, 0x2B5Cu);
}

TEST(Windows31j, VendorRowsAndUserArea) {
  zktest::World w;
  EXPECT_EQ(toUcs4("WINDOWS31J", {0x87, 0x40, 0x82, 0xA0, 0xF0, 0x40, 0xF0, 0x9F, 0xF0, 0xFC}),
            ucs4({0x2460, 0x3042, 0xE000, 0xE100, 0xE15D}));
  auto r = convert("WINDOWS31J", "UCS4T", ucs4({0x2460, 0xE000, 0xE100, 0xE15D, 0x2116}), &kBigIn,
                   &kBigOut);
  EXPECT_EQ(r.out, (Bytes{0x87, 0x40, 0xF0, 0x40, 0xF0, 0x9F, 0xF0, 0xFC, 0x87, 0x82}));
  // Beyond the user area.
  r = convert("UCS4T", "WINDOWS31J", {0xF1, 0x40}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(r.inPos, 1);
  r = convert("WINDOWS31J", "UCS4T", ucs4({0xE15E}), &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  // Plain Shift_JIS has neither the vendor row nor the user area.
  r = convert("Shift_JIS", "WINDOWS31J", {0x87, 0x40}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(convert("UCS4T", "Shift_JIS", {0x87, 0x40}, &kBigIn, &kBigOut).status, CCONV_INVALID);
}

TEST(OasysWin, TableDrivenShiftJis) {
  zktest::World w;
  EXPECT_EQ(toUcs4("OASYS_WIN", {0x41, 0x82, 0xA0, 0xB1, 0xF0, 0x41}),
            ucs4({0x41, 0x3042, 0xFF71, 0xE001}));
  auto r = convert("OASYS_WIN", "UCS4T", ucs4({0x41, 0x3042, 0xE001}), &kBigIn, &kBigOut);
  EXPECT_EQ(r.out, (Bytes{0x41, 0x82, 0xA0, 0xF0, 0x41}));
  // A lead byte and a bad trail: the two-byte sets reject it, nothing else takes it.
  r = convert("UCS4T", "OASYS_WIN", {0x82, 0x20}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(r.inPos, 0);
}

TEST(OasysOnline, FixedTwoByteCodes) {
  zktest::World w;
  EXPECT_EQ(toUcs4("OASYS_ONLINE", {0x00, 0xB1, 0x00, 0x41, 0x24, 0x22, 0xA4, 0xA2}),
            ucs4({0xFF71, 0x41, 0x3042, 0xE0A2}));
  auto r = convert("UCS4T", "OASYS_ONLINE", {0x10, 0x41}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(r.inPos, 1);
  r = convert("UCS4T", "OASYS_ONLINE", {0x24}, &kBigIn, &kBigOut);
  EXPECT_EQ(r.status, CCONV_NEED_INPUT);
  EXPECT_EQ(r.inPos, 0);
  // Written back: the JIS C 6226 code as two bytes, the Roman byte as one.
  r = convert("OASYS_ONLINE", "UCS4T", ucs4({0x3042, 0x41}), &kBigIn, &kBigOut);
  EXPECT_EQ(r.out, (Bytes{0x24, 0x22, 0x41}));
}

}  // namespace
