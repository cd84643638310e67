// The Shift_JIS code transforms and the JIS X 0213 pair table.
#include <gtest/gtest.h>

#include <set>
#include <vector>

#include "engine/engine.h"

namespace {

using zk::jisToSjis;
using zk::jisToSjis2004;
using zk::sjis2004ToJis;
using zk::sjisToJis;

TEST(SjisTransforms, ExamplesAndCodesWithoutACounterpart) {
  // Pairs of value and result; 0 is "no counterpart".
  const struct {
    std::uint32_t (*fn)(std::uint32_t);
    std::vector<std::uint32_t> pairs;
  } rows[] = {
      {sjisToJis,
       {0x82A0, 0x2422, 0x889F, 0x3021, 0xE040, 0x5F21, 0x8140, 0x2121, 0xF040, 0x7F21, 0xFCFC,
        0x987E,
        // bad lead or trail bytes
        0x8040, 0, 0xA040, 0, 0xFD40, 0, 0x817F, 0, 0x813F, 0, 0x81FD, 0}},
      {sjis2004ToJis, {0xF040, 0x12121, 0xF09F, 0x12821, 0xFCFC, 0x17E7E, 0xF07F, 0}},
      {jisToSjis,
       {0x2422, 0x82A0, 0x7F21, 0xF040, 0x987E, 0xFCFC, 0x100, 0, 0x2120, 0, 0x987F, 0, 0xFFFF, 0}},
      // Row 0 and row 95 have no lead byte; plane 2 rows 2 and 32 are not in
      // Shift_JIS-2004; rows 64-77 are empty (their lead would be 0xED); an
      // odd row with a cell below 0x21.
      {jisToSjis2004,
       {0x12121, 0xF040, 0x2477, 0x82F5, 0x2020, 0, 0x7F21, 0, 0x12221, 0, 0x14021, 0, 0x16021, 0,
        0x16D7E, 0, 0x2320, 0}},
  };
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.pairs.size(); i += 2)
      EXPECT_EQ(row.fn(row.pairs[i]), row.pairs[i + 1]) << std::hex << row.pairs[i];
    for (std::uint32_t b = 0; b < 0x100; ++b) EXPECT_EQ(row.fn(b), b);  // single bytes pass
  }
}

TEST(SjisTransforms, WholeTwoByteSpaceRoundTrips) {
  std::set<std::uint32_t> plane2Rows;
  for (std::uint32_t lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead >= 0xA0 && lead < 0xE0) continue;
    for (std::uint32_t trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      const std::uint32_t v = (lead << 8) | trail, jis = sjisToJis(v), jis2004 = sjis2004ToJis(v);
      ASSERT_GE(jis & 0xFF, 0x21u) << std::hex << v;
      ASSERT_LE(jis & 0xFF, 0x7Eu) << std::hex << v;
      ASSERT_EQ(jisToSjis(jis), v) << std::hex << v;
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
  EXPECT_EQ(plane2Rows,
            (std::set<std::uint32_t>{1,  3,  4,  5,  8,  12, 13, 14, 15, 78, 79, 80, 81,
                                     82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94}));
}

TEST(JisPairs, CodeAndCodePointsFindEachOther) {
  std::uint32_t base = 0, comb = 0;
  ASSERT_TRUE(zk::jisPairOfCode(0x2477, &base, &comb));
  EXPECT_EQ(std::make_pair(base, comb), std::make_pair(0x304Bu, 0x309Au));
  ASSERT_TRUE(zk::jisPairOfCode(0x2B66, &base, &comb));
  EXPECT_EQ(std::make_pair(base, comb), std::make_pair(0x02E5u, 0x02E9u));
  EXPECT_FALSE(zk::jisPairOfCode(0x2422, &base, &comb));
  EXPECT_FALSE(zk::jisPairOfCode(0, &base, &comb));
  EXPECT_TRUE(zk::jisIsPair(0x304B, 0x309A));
  EXPECT_TRUE(zk::jisIsPair(0x02E9, 0x02E5));
  EXPECT_TRUE(zk::jisIsPair(0x0254, 0x0301));
  EXPECT_FALSE(zk::jisIsPair(0x3042, 0x309A));  // not a row
  EXPECT_FALSE(zk::jisIsPair(0x304B, 0x3099));  // voiced mark is not a pair here
  EXPECT_FALSE(zk::jisIsPair(0, 0));
  int rows = 0;
  for (std::uint32_t code = 0x2121; code <= 0x2F7E; ++code)
    if (zk::jisPairOfCode(code, &base, &comb)) {
      ++rows;
      EXPECT_TRUE(zk::jisIsPair(base, comb)) << std::hex << code;
    }
  EXPECT_EQ(rows, 25);
}

}  // namespace
