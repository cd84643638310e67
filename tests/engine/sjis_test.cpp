// The Shift_JIS family: the code transforms, the JIS X 0213 pairs, and the
// rules through the exported calls on the engine's charset directory.
#include <gtest/gtest.h>

#include <set>

#include "engine/engine.h"
#include "engine/world.h"

namespace {

using namespace zktest;

// Over the whole code space: a byte pair has a JIS code exactly when it has a
// Shift_JIS lead and trail byte. Shift_JIS-2004 writes rows 1 to 94 of plane 1
// and the 26 rows of plane 2 that its leads reach (rows 64 to 77 would take
// the leads of plane 1), plain Shift_JIS 0x2121 to 0x987E; cells are checked
// only where the row is odd, or not at all. Single bytes pass; every form of a
// code (cell 0x21 to 0x7E) reads back as the code.
TEST(SjisTransforms, OverTheWholeCodeSpace) {
  const std::set<std::uint32_t> plane2{1,  3,  4,  5,  8,  12, 13, 14, 15, 78, 79, 80, 81,
                                       82, 83, 84, 85, 86, 87, 88, 89, 90, 91, 92, 93, 94};
  auto in = [](std::uint32_t b, std::uint32_t lo, std::uint32_t hi) { return b >= lo && b <= hi; };
  for (std::uint32_t v = 1; v < 0x20000; ++v) {
    const std::uint32_t hi = (v >> 8) & 0xFF, lo = v & 0xFF, row = hi - 0x20;
    const bool single = v < 0x100, cell = in(lo, 0x21, 0x7E);
    const std::uint32_t s4 = zk::jisToSjis2004(v);
    const bool row4 = v >> 16 ? plane2.count(row) > 0 : in(row, 1, 94);
    ASSERT_EQ(s4 != 0, single || (row4 && (cell || row % 2 == 0))) << std::hex << v;
    ASSERT_TRUE(!(single || (row4 && cell)) || zk::sjis2004ToJis(s4) == v) << std::hex << v;
    if (v >= 0x10000) continue;
    const bool pair =
        (in(hi, 0x81, 0x9F) || in(hi, 0xE0, 0xFC)) && in(lo, 0x40, 0xFC) && lo != 0x7F;
    const std::uint32_t jis = zk::sjisToJis(v), j4 = zk::sjis2004ToJis(v), s = zk::jisToSjis(v);
    ASSERT_EQ((jis != 0) + (j4 != 0), (single || pair) ? 2 : 0) << std::hex << v;
    ASSERT_TRUE(jis == 0 || (zk::jisToSjis(jis) == v && zk::jisToSjis2004(j4) == v))
        << std::hex << v;
    ASSERT_EQ(s != 0, single || in(v, 0x2121, 0x987E)) << std::hex << v;  // cells unchecked
    ASSERT_TRUE(!(single || (cell && in(row, 1, 120))) ||
                (zk::sjisToJis(s) == v && (row > 94 || s4 == s)))
        << std::hex << v;
  }
}

TEST(ShiftJisFamily, CharactersStatusesPositionsAndSkips) {
  World w;
  expectCases({
      // A Roman byte is a character even when its table does not map it:
      // ESC has no Unicode value and is read as a control code.
      {"UCS4T", "Shift_JIS", "82A0 41 B1 889F 1B", "3042 41 FF71 4E9C 1B"},
      {"Shift_JIS", "UCS4T", "3042 41 FF71", "82A0 41 B1"},
      {"UCS4T", "Shift_JIS", "41 82", "41", CCONV_NEED_INPUT, 1},
      // A bad pair, or a well-formed one without a character, consumes its first byte only.
      {"UCS4T", "Shift_JIS", "817F", "", CCONV_INVALID, 1},
      {"UCS4T", "Shift_JIS", "8540", "", CCONV_INVALID, 1},
      // Shift_JIS-2004: plane 2, and 0x82F5 (JIS X 0213 0x2477) is a base and
      // a combining code point; composed again from the pair of code points.
      {"UCS4T", "Shift_JIS-2004", "F040 FCFC 82F5", "20089 2A6B2 304B 309A"},
      {"Shift_JIS-2004", "UCS4T", "20089 2A6B2 3042", "F040 FCFC 82A0"},
      {"Shift_JIS-2004", "U8T", "E3818B E3829A E3818B CC80", "82F5 82A9 867B"},
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
      // OASYS online: fixed two-byte codes read, the Roman byte written as
      // one; a code its table lacks has no Unicode value, but stays in its set.
      {"UCS4T", "OASYS_ONLINE", "00B1 0041 2422 A4A2", "FF71 41 3042 E0A2"},
      {"UCS4T", "OASYS_ONLINE", "1041", "", CCONV_INVALID, 1},
      {"UCS4T", "OASYS_ONLINE", "24", "", CCONV_NEED_INPUT, 0},
      {"OASYS_ONLINE", "UCS4T", "3042 41", "2422 41"},
      {"OASYS_ONLINE", "OASYS_ONLINE", "2423", "2423"},
      {"UCS4T", "OASYS_ONLINE", "2423", "", CCONV_UNMAPPABLE, 2},
      {"UCS4T", "Shift_JIS", "41 A0 42", "41", CCONV_INVALID, 2},
  });
  // Skipped: after a bad trail the 0x7F is read on its own, as DEL; an
  // unmapped pair of a table-driven source goes whole, but a pair the
  // transform rejects was never read as a pair.
  expectCases({{"UCS4T", "Shift_JIS", "817F", "7F"},
               {"UCS4T", "Shift_JIS", "41 80 A0 FD FF 42", "41 42"},
               {"UCS4T", "EUCT", "A9A1 A4A2 41", "3042 41"},
               {"UCS4T", "OASYS_WIN", "8220 41", "20 41"}},
              &kBigSkip);
}

}  // namespace
