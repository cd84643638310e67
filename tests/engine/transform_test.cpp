// The Shift_JIS code transforms and the JIS X 0213 pair table.
#include <gtest/gtest.h>

#include <set>

#include "engine/engine.h"

namespace {

using zk::jisToSjis;
using zk::jisToSjis2004;
using zk::sjis2004ToJis;
using zk::sjisToJis;

bool isLead(std::uint32_t b) { return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC); }
bool isTrail(std::uint32_t b) { return b >= 0x40 && b <= 0xFC && b != 0x7F; }

// Row and cell the plain way: two JIS rows per lead byte, 94 cells each.
std::uint32_t referenceJis(std::uint32_t lead, std::uint32_t trail) {
  std::uint32_t pairIndex = lead <= 0x9F ? lead - 0x81 : lead - 0xE0 + 31;
  std::uint32_t cell = trail - 0x40 - (trail > 0x7F ? 1 : 0);  // 0..187
  std::uint32_t row = 0x21 + 2 * pairIndex + cell / 94;
  return (row << 8) | (0x21 + cell % 94);
}

TEST(SjisTransforms, DocumentedExamples) {
  EXPECT_EQ(sjisToJis(0x82A0), 0x2422u);
  EXPECT_EQ(sjisToJis(0x889F), 0x3021u);
  EXPECT_EQ(sjisToJis(0xE040), 0x5F21u);
  EXPECT_EQ(sjisToJis(0x8140), 0x2121u);
  EXPECT_EQ(sjisToJis(0xF040), 0x7F21u);
  EXPECT_EQ(sjisToJis(0xFCFC), 0x987Eu);
  EXPECT_EQ(sjis2004ToJis(0xF040), 0x12121u);
  EXPECT_EQ(sjis2004ToJis(0xF09F), 0x12821u);
  EXPECT_EQ(sjis2004ToJis(0xFCFC), 0x17E7Eu);
  EXPECT_EQ(jisToSjis(0x2422), 0x82A0u);
  EXPECT_EQ(jisToSjis(0x7F21), 0xF040u);
  EXPECT_EQ(jisToSjis(0x987E), 0xFCFCu);
  EXPECT_EQ(jisToSjis2004(0x12121), 0xF040u);
  EXPECT_EQ(jisToSjis2004(0x2477), 0x82F5u);
}

TEST(SjisTransforms, SingleBytesPassAndOutOfRangeGivesZero) {
  for (std::uint32_t b = 0; b < 0x100; ++b) {
    EXPECT_EQ(sjisToJis(b), b);
    EXPECT_EQ(sjis2004ToJis(b), b);
    EXPECT_EQ(jisToSjis(b), b);
    EXPECT_EQ(jisToSjis2004(b), b);
  }
  // Bad lead or trail bytes.
  EXPECT_EQ(sjisToJis(0x8040), 0u);
  EXPECT_EQ(sjisToJis(0xA040), 0u);
  EXPECT_EQ(sjisToJis(0xFD40), 0u);
  EXPECT_EQ(sjisToJis(0x817F), 0u);
  EXPECT_EQ(sjisToJis(0x813F), 0u);
  EXPECT_EQ(sjisToJis(0x81FD), 0u);
  EXPECT_EQ(sjis2004ToJis(0xF07F), 0u);
  // Codes no Shift_JIS pair expresses.
  EXPECT_EQ(jisToSjis(0x100), 0u);
  EXPECT_EQ(jisToSjis(0x2120), 0u);
  EXPECT_EQ(jisToSjis(0x987F), 0u);
  EXPECT_EQ(jisToSjis(0xFFFF), 0u);
  EXPECT_EQ(jisToSjis2004(0x2020), 0u);      // row 0 has no lead byte
  EXPECT_EQ(jisToSjis2004(0x7F21), 0u);      // row 95 neither
  EXPECT_EQ(jisToSjis2004(0x12221), 0u);     // plane 2 row 2 is not in Shift_JIS-2004
  EXPECT_EQ(jisToSjis2004(0x14021), 0u);     // nor row 32
  EXPECT_EQ(jisToSjis2004(0x16021), 0u);     // rows 64-77 are empty: their lead would be 0xED
  EXPECT_EQ(jisToSjis2004(0x16D7E), 0u);
  EXPECT_EQ(jisToSjis2004(0x2320), 0u);      // odd row, cell below 0x21
}

TEST(SjisTransforms, WholeTwoByteSpaceRoundTrips) {
  std::set<std::uint32_t> plane2Rows;
  for (std::uint32_t lead = 0x81; lead <= 0xFC; ++lead) {
    if (!isLead(lead)) continue;
    for (std::uint32_t trail = 0x40; trail <= 0xFC; ++trail) {
      if (!isTrail(trail)) continue;
      const std::uint32_t v = (lead << 8) | trail;
      const std::uint32_t jis = sjisToJis(v);
      ASSERT_EQ(jis, referenceJis(lead, trail)) << std::hex << v;
      ASSERT_EQ(jisToSjis(jis), v) << std::hex << v;

      const std::uint32_t jis2004 = sjis2004ToJis(v);
      ASSERT_NE(jis2004, 0u) << std::hex << v;
      if (lead < 0xF0) {
        ASSERT_EQ(jis2004, jis) << std::hex << v;
      } else {
        ASSERT_EQ(jis2004 & 0x100FF, 0x10000u | (jis & 0xFF)) << std::hex << v;
        plane2Rows.insert(((jis2004 >> 8) & 0xFF) - 0x20);
      }
      ASSERT_EQ(jisToSjis2004(jis2004), v) << std::hex << v;
    }
  }
  // The 26 plane-2 rows that Shift_JIS-2004 reaches, each once.
  const std::set<std::uint32_t> expected = {1,  3,  4,  5,  8,  12, 13, 14, 15,
                                            78, 79, 80, 81, 82, 83, 84, 85, 86,
                                            87, 88, 89, 90, 91, 92, 93, 94};
  EXPECT_EQ(plane2Rows, expected);
}

TEST(JisPairs, CodeAndCodePointsFindEachOther) {
  std::uint32_t base = 0, comb = 0;
  ASSERT_TRUE(zk::jisPairOfCode(0x2477, &base, &comb));
  EXPECT_EQ(base, 0x304Bu);
  EXPECT_EQ(comb, 0x309Au);
  ASSERT_TRUE(zk::jisPairOfCode(0x2B66, &base, &comb));
  EXPECT_EQ(base, 0x02E5u);
  EXPECT_EQ(comb, 0x02E9u);
  EXPECT_FALSE(zk::jisPairOfCode(0x2422, &base, &comb));
  EXPECT_FALSE(zk::jisPairOfCode(0, &base, &comb));
  EXPECT_TRUE(zk::jisIsPair(0x304B, 0x309A));
  EXPECT_TRUE(zk::jisIsPair(0x02E9, 0x02E5));
  EXPECT_TRUE(zk::jisIsPair(0x0254, 0x0301));
  EXPECT_FALSE(zk::jisIsPair(0x3042, 0x309A));  // not a row
  EXPECT_FALSE(zk::jisIsPair(0x304B, 0x3099));  // voiced mark is not a pair here
  EXPECT_FALSE(zk::jisIsPair(0, 0));
  int rows = 0;
  for (std::uint32_t code = 0x2121; code <= 0x2F7E; ++code) {
    if (!zk::jisPairOfCode(code, &base, &comb)) continue;
    ++rows;
    EXPECT_TRUE(zk::jisIsPair(base, comb)) << std::hex << code;
  }
  EXPECT_EQ(rows, 25);
}

}  // namespace
