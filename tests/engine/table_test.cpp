// Table-driven decoding and the shared placement and writing machinery,
// through the exported calls.
#include <gtest/gtest.h>

#include <string>

#include "engine/world.h"

namespace {

using namespace zktest;

TEST(TableEncoding, CharactersStatusesAndPositions) {
  World w;
  std::vector<Case> cases = {
      // The Roman set comes first and maps 0x41; one byte left that the
      // one-byte set does not map needs more input; an unmapped pair is invalid.
      {"UCS4T", "EUCT", "41 A4", "41", CCONV_NEED_INPUT, 1},
      {"UCS4T", "EUCT", "A9A1 41", "", CCONV_INVALID, 0},
      // A code one set of a width lacks is asked of the next set of that
      // width; a rule without sets decodes nothing.
      {"UCS4T", "TWOSETS", "2422 2121", "3042 3000"},
      {"UCS4T", "NOSETS", "41", "", CCONV_INVALID, 0},
      // ESC, DEL and NUL are control codes although the table does not map
      // them; other controls are not.
      {"UCS4T", "LETTERS", "41 1B 7F 00", "41 1B 7F 00"},
      {"UCS4T", "LETTERS", "41 0A", "41", CCONV_INVALID, 1},
      {"UCS4T", "ID2", "3042", "3042"},  // a two-byte set without a table
      // The user-defined area, both ways and its bounds; from one encoding's
      // area to another's through the private use area.
      {"UCS4T", "EUCT", "F5A1 F5AA", "E000 E009"},
      {"UCS4T", "EUCT", "F5AB", "", CCONV_INVALID, 0},
      {"EUCT", "UCS4T", "E005", "F5A6"},
      {"EUCT", "UCS4T", "E00A", "", CCONV_UNMAPPABLE, 4},
      {"EUCT", "WINDOWS31J", "F040 F049", "F5A1 F5AA"},
      // Extra tables come after the set's own (U+2212 and U+FF0D both give
      // 0xA1DD); a four-byte value in a two-byte set is two units.
      {"EUCT", "UCS4T", "2212 FF0D 1F600 41", "A1DD A1DD A1A9 A1AA 41"},
      // A control code without a code in any table is written in the Roman
      // set, or without one in the narrowest set.
      {"Shift_JIS", "UCS4T", "1B 7F 00", "1B 7F 00"},
      {"KANJIONLY", "Shift_JIS", "1B", "001B"},
  };
  expectCases(cases);
  expectCases({{"UCS4T", "NOSETS", "41 42", ""}}, &kBigSkip);  // a skip moves one byte
  const ConvertResult r = convert("EUCT", "UCS4T", bytesOf("UCS4T", "1F600 41"), &kBigIn, &kBigOut);
  EXPECT_EQ(std::make_pair(r.inChars, r.outChars), std::make_pair(2, 3));
  // Without the big-endian options the bytes of a code are little-endian.
  EXPECT_EQ(convert("UCS4T", "ID2", {0x30, 0x42}, nullptr, &kBigOut).out, bytesOf("UCS4T", "4230"));
  EXPECT_EQ(convert("ID2", "UCS4T", bytesOf("UCS4T", "3042"), &kBigIn, nullptr).out,
            hexBytes("4230"));
  // Stops (invalid input, truncated input) happen at the same place however fed.
  EXPECT_TRUE(piecewiseSame("UCS4T", "EUCT", hexBytes("41 A4 A2 A9 A1 42"), &kBigIn, &kBigOut));
  EXPECT_TRUE(piecewiseSame("UCS4T", "Shift_JIS", hexBytes("41 82 A0 82"), &kBigIn, &kBigOut));
}

}  // namespace
