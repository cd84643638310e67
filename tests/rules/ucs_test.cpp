// UTF-8, UTF-16, UCS-2 and UCS-4: marks, surrogates, the six-byte UTF-8
// forms, language tags in and out, numeric character references, through the
// exported calls on the shipped definitions (the -TAGS rules read tags, the
// plain ones take every value as a character).
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "frame/state.h"
#include "rules/rules_support.h"
#include "rules/unicode.h"

namespace zktest {
namespace {

const CconvSrcOptions kLE{0, 0, 0}, kBE{1, 0, 0}, kDetect{0, 1, 0}, kSkip{1, 0, 1};

CconvDstOptions out(std::uint32_t bom, const char* lang = "", std::uint32_t ncr = 0,
                    std::uint32_t newlines = 0, std::uint32_t big = 1) {
  CconvDstOptions o{big, bom, 0, 0, {}, newlines != 0, newlines, ncr};
  std::strncpy(o.lang, lang, sizeof o.lang - 1);
  return o;
}

// UTF-16 big-endian units of a language tag for `text`, after its U+E0001.
std::string tag(const std::string& text) {
  std::string s = "DB40DC01";
  for (char c : text) s += " DB40DC" + hex({static_cast<std::uint8_t>(c)});
  return s + " ";
}

TEST(UcsDecode, MarksSurrogatesSixByteFormsAndValuesNoSetTakes) {
  shippedDir();
  const char *u16 = "UTF-16", *u8 = "UTF-8", *u2 = "ISO-10646-UCS-2", *u4 = "ISO-10646-UCS-4";
  // clang-format off
  // Input marks choose the byte order; UTF-8 drops its mark only when asked,
  // and only at the start. Too few bytes to tell: nothing consumed.
  expectRows({{u16, u16, "FFFE 4100", "0041"}, {u16, u16, "FEFF 0041", "0041"},
              {u16, u16, "41FF", "FF41"}, {u2, u16, "FEFF 3042", "3042"},
              {u4, u16, "0000FEFF 0001F600", "D83DDE00"},
              {u4, u16, "FFFE0000 00F60100", "D83DDE00"},
              {u4, u16, "FFFE00", "", CCONV_NEED_INPUT, 0},
              {u8, u16, "EFBBBF 41 E38182", "0041 3042"}, {u8, u16, "41 EFBBBF", "0041 FEFF"},
              {u8, u16, "4142", "", CCONV_NEED_INPUT, 0}}, &kDetect);
  expectRows({
      {u8, u16, "EFBBBF 41", "FEFF 0041"},
      // UTF-8: any lead pattern, continuation bytes for their low six bits, FE
      // and FF dropped between characters (alone, nothing is consumed).
      {u8, u4, "C080 80 BF EDA080 E34142 FE 41 FFFF 42 FDBFBFBFBFBF",
       "00000000 00000080 000000BF 0000D800 00003042 00000041 00000042 7FFFFFFF"},
      {u8, u4, "FE FF FE", "", CCONV_NEED_INPUT, 0},
      {u8, u4, "41 FE FC84808080", "00000041", CCONV_NEED_INPUT, 2},
      // A value no set takes (the tag-reading sets stop at U+10FFFF) is
      // invalid, inPos after it.
      {"UTF-8-TAGS", u16, "41 F888808080 42", "0041", CCONV_INVALID, 6},
      // The JIS X 0213 pair of U+304B U+309A is one character.
      {u8, "Shift_JIS-2004", "E3818B E3829A E3818B E38182", "82F5 82A9 82A0", 0, -1, false}});
  // Surrogate pairs in both orders; lone surrogates pass and keep the next
  // character; a pair cut anywhere waits at its first unit. In UCS-2
  // surrogates are characters of their own.
  expectRows({{u16, u4, "D83D DE00 DE00 D83D", "0001F600 0001F600"},
              {u16, u4, "D800 0041 DC00 3042", "0000D800 00000041 0000DC00 00003042"},
              {u16, u4, "D83D D83D DE00", "0000D83D 0001F600"},
              {u16, u4, "0041 D83D DE", "00000041", CCONV_NEED_INPUT, 2},
              {u2, u4, "D83D DE00", "0000D83D 0000DE00"},
              {"ISO-10646-UCS-4-TAGS", u16, "00110000 00000041", "", CCONV_INVALID, 4},
              {u16, "Shift_JIS-2004", "304B 309A 304B 3042", "82F5 82A9 82A0", 0, -1, false}},
              &kBE);
  expectRows({{"ISO-10646-UCS-4-TAGS", u16, "00110000 00000041", "0041"}}, &kSkip);
  expectRows({{u2, u4, "4230 1B00 41", "00003042 0000001B", CCONV_NEED_INPUT, 4}}, &kLE);
  // clang-format on
  // The look-ahead for a combining mark is skipped for values the pre-test
  // rejects: it must take every base of the pair table.
  int pairs = 0;
  for (std::uint32_t base = 0; base < 0x10000; ++base)
    for (std::uint32_t mark : {0x309Au, 0x02E5u, 0x02E9u, 0x0300u, 0x0301u}) {
      pairs += zk::jisIsPair(base, mark);
      EXPECT_TRUE(!zk::jisIsPair(base, mark) || zk::ucsMayBePairBase(base)) << base;
    }
  EXPECT_EQ(pairs, 25);
}

TEST(UcsEncode, MarksRoomLimitsAndLineEnds) {
  shippedDir();
  const CconvDstOptions le = out(1, "", 0, 0, 0), be = out(1);
  // The mark alone at termination, after a full buffer too, and once; before
  // a first character that does not fit, the retry writes the mark, then the
  // character (the mark is not counted). No character is ever written in
  // part: a pair, a six-byte form.
  // clang-format off
  const std::tuple<const char*, const CconvDstOptions*, const char*, std::vector<int>, const char*>
      rooms[] = {{"UTF-8", &le, "", {-2, -8, -8}, "F| K|EF BB BF K|"},
                 {"UTF-16", &be, "", {-1, -8, -8}, "F| K|FE FF K|"},
                 {"ISO-10646-UCS-2", &le, "", {-1, -8, -8}, "F| K|FF FE K|"},
                 {"ISO-10646-UCS-4", &le, "", {-3, -8, -8}, "F| K|FF FE 00 00 K|"},
                 {"ISO-10646-UCS-4", &be, "41", {1, 16}, "F| K|00 00 FE FF 00 00 00 41"},
                 {"UTF-8", &le, "41", {1, 16}, "F| K|EF BB BF 41"},
                 {"UTF-16", &kOutBE, "F09F9880 41", {3, 6}, "F| K|D8 3D DE 00 00 41"},
                 {"UTF-8", &kOutBE, "FDBFBFBFBFBF", {5, 6}, "F| K|FD BF BF BF BF BF"}};
  for (const auto& [to, dst, in, sizes, want] : rooms)
    EXPECT_EQ(byRoom(to, "UTF-8", hexBytes(in), sizes, dst), want) << to;
  // UTF-16 stops at U+10FFFF, UTF-8 at 0x7FFFFFFF (every length at its
  // ends), UCS-2 at U+FFFF; the character is consumed.
  expectRows({{"ISO-10646-UCS-4", "UTF-16", "0010FFFF 00110000", "DBFFDFFF", CCONV_UNMAPPABLE, 8},
              {"ISO-10646-UCS-4", "UTF-8",
               "0000007F 00000080 000007FF 00000800 0000FFFF 00010000 001FFFFF 00200000 03FFFFFF",
               "7F C280 DFBF E0A080 EFBFBF F0908080 F7BFBFBF F888808080 FBBFBFBFBF"},
              {"ISO-10646-UCS-4", "UTF-8", "04000000 7FFFFFFF 80000000",
               "FC8480808080 FDBFBFBFBFBF", CCONV_UNMAPPABLE, 12},
              {"UTF-16", "ISO-10646-UCS-2", "0041 D842DF9F 0042", "0041", CCONV_UNMAPPABLE, 6}},
              &kBE);
  // clang-format on
}

TEST(UcsTags, ReadCarriedAndWrittenWhole) {
  shippedDir();
  const CconvDstOptions fr = out(0, "fr"), en = out(0, "en");
  const std::string a = "0041", ja = "000E0001 000E006A 000E0061 00000041";
  // clang-format off
  const std::tuple<std::string, std::string, std::uint32_t, std::int64_t> rows[] = {
      // The tag sets the language; a cancel tag ends it, reported as invalid;
      // a second U+E0001 starts it afresh; input ending in or right after a
      // tag waits at its start; 259 characters fit, the 260th makes it
      // invalid; tag characters outside a tag are dropped, also at the end.
      {tag("ja") + a, ja, CCONV_OK, -1}, {"DB40DC01 DB40DC7F " + a, "", CCONV_INVALID, 8},
      {tag("xx") + tag("ja") + a, ja, CCONV_OK, -1},
      {tag("ja").substr(0, 22), "", CCONV_NEED_INPUT, 0}, {tag("ja"), "", CCONV_NEED_INPUT, 0},
      {tag(std::string(260, 'q')) + a, "", CCONV_INVALID, 4 * 261},
      {"DB40DC41 " + a + " DB40DC7F", "00000041", CCONV_OK, -1}};
  // clang-format on
  for (const auto& [in, want, status, pos] : rows) {
    const ConvertResult c = convert("ISO-10646-UCS-4", "UTF-16-TAGS", hexBytes(in), &kBE, &fr);
    EXPECT_EQ(std::make_tuple(hex(c.out), c.status), std::make_tuple(hex(hexBytes(want)), status))
        << in;
    EXPECT_EQ(c.inPos, pos < 0 ? static_cast<std::int64_t>(hexBytes(in).size()) : pos) << in;
  }
  const std::string q259 = tag(std::string(259, 'q')) + a;
  EXPECT_EQ(convert("UTF-16-TAGS", "UTF-16-TAGS", hexBytes(q259), &kBE, &fr).out, hexBytes(q259));
  // No tag for the default language, then "ja", then back to "en"; the cancel
  // tag is skipped, and tags are whole or not at all whatever the room.
  const std::string in = a + " " + tag("ja") + "3042 DB40DC01 DB40DC7F 0042";
  expectRows({{"UTF-16-TAGS", "UTF-16-TAGS", in.c_str(), in.c_str()},
              {"UTF-16-TAGS", "ISO-10646-UCS-4", in.c_str(),
               "00000041 000E0001 000E006A 000E0061 00003042 000E0001 000E007F 00000042"}},
             &kSkip, &en);
}

// A, U+20B9F, U+3042 (Windows-31J), U+00E9 (not), U+FFE5 (Windows-31J),
// U+FFE3 (not, as FULLWIDTH forms go), U+E758 (the last of the user area),
// U+E759: Windows-31J's tables are read on first use, not taken as the
// identity. Without references a value beyond U+FFFF is unmappable.
TEST(Ucs2Encode, NumericReferencesForWhatWindows31jLacks) {
  shippedDir();
  auto ref = [](const std::string& s) {
    std::string h;
    for (char c : s) h += "00" + hex({static_cast<std::uint8_t>(c)}) + " ";
    return h;
  };
  const std::string in = "0041 D842DF9F 3042 00E9 FFE5 FFE3 E758 E759";
  const std::string hexRefs = "0041 " + ref("&#x20B9F;") + "3042 " + ref("&#xE9;") + "FFE5 " +
                              ref("&#xFFE3;") + "E758 " + ref("&#xE759;");
  const std::string decRefs = "0041 " + ref("&#134047;") + "3042 " + ref("&#233;") + "FFE5 " +
                              ref("&#65507;") + "E758 " + ref("&#59225;");
  const CconvDstOptions hexMode = out(0, "", 1), decMode = out(0, "", 2);
  expectRows({{"UTF-16", "ISO-10646-UCS-2", in.c_str(), hexRefs.c_str()}}, &kBE, &hexMode);
  expectRows({{"UTF-16", "ISO-10646-UCS-2", in.c_str(), decRefs.c_str()}}, &kBE, &decMode);
  expectRows({{"UTF-16", "ISO-10646-UCS-2", "D842DF9F 0041", "", CCONV_UNMAPPABLE, 4}}, &kBE);
  // A reference that would exactly fill the buffer is not written; the next
  // call with room writes that reference.
  EXPECT_EQ(
      byRoom("ISO-10646-UCS-2", "UTF-16", hexBytes("D842DF9F 0041"), {18, 19, 19}, &hexMode, &kBE),
      "F| F|" + hex(hexBytes(ref("&#x20B9F;"))) + " K|00 41");
}

}  // namespace
}  // namespace zktest
