// EUC-JP, EUC-JIS-2004, EUC-JP-FIX, ISO-2022-JP and ISO-2022-JP-2004 through
// the exported calls, with the shipped definitions.
#include <gtest/gtest.h>

#include "jis_world.h"

namespace zktest {
namespace {

class JisConvert : public ::testing::Test {
 protected:
  void SetUp() override { useShipped(); }
};

TEST_F(JisConvert, KnownBytes) {
  const CconvDstOptions big = dstOpts(1);
  const struct {
    const char *target, *source, *in, *want;
    const CconvDstOptions* dst;
  } cases[] = {
      // Shift_JIS single bytes are JIS X 0201 Roman, and the set is kept.
      {"ISO-2022-JP", "Shift_JIS", "41 88 9F 5C", "1B 28 4A 41 1B 24 42 30 21 1B 28 4A 5C 1B 28 42",
       &big},
      // The sets of the source survive an ISO-2022-JP copy.
      {"ISO-2022-JP", "ISO-2022-JP", "1B 24 40 30 21 1B 28 4A 5C 7E 1B 24 42 30 21 1B 28 42 41",
       "1B 24 40 30 21 1B 28 4A 5C 7E 1B 24 42 30 21 1B 28 42 41", &big},
      // The byte order of double-byte output is the host's choice.
      {"ISO-2022-JP", "EUC-JP", "B0 A1", "1B 24 42 21 30 1B 28 42", nullptr},
      {"ISO-2022-JP", "EUC-JP", "B0 A1", "1B 24 42 30 21 1B 28 42", &big},
      // Termination adds nothing to EUC; ISO-2022-JP ends in ASCII, even when empty.
      {"EUC-JP-FIX", "EUC-JP", "B0 A1 41", "B0 A1 00 41", nullptr},
      {"ISO-2022-JP-2004", "EUC-JP", "", "1B 28 42", nullptr},
      {"ISO-2022-JP", "EUC-JP", "41", "1B 28 42 41", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.source) + " to " + c.target);
    const ConvertResult r = convert(c.target, c.source, hexBytes(c.in), nullptr, c.dst);
    EXPECT_EQ(r.status, CCONV_OK);
    EXPECT_EQ(hex(r.out), c.want);
  }
}

TEST_F(JisConvert, BadInputStopsWhereItIsInEverySplit) {
  const struct {
    const char *source, *in;
    std::uint32_t status;
    std::int64_t inPos;
    const char* out;
  } cases[] = {
      {"EUC-JP", "41 B0 41 B0 A1 9F 42", CCONV_INVALID, 2, "41"},
      // Input that ends inside a character waits for the rest.
      {"EUC-JP", "41 8F B0", CCONV_NEED_INPUT, 1, "41"},
      {"EUC-JP-FIX", "00 41 B0", CCONV_NEED_INPUT, 2, "41"},
      {"ISO-2022-JP", "1B 24 42 30 21 30", CCONV_NEED_INPUT, 5, "B0 A1"},
      // An unknown escape sequence waits at its ESC.
      {"ISO-2022-JP", "41 1B 28 49 31 32", CCONV_NEED_INPUT, 1, "41"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.in);
    const ConvertResult r = convert("EUC-JP", c.source, hexBytes(c.in));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.inPos, c.inPos);
    EXPECT_EQ(hex(r.out), c.out);
    EXPECT_TRUE(piecewiseSame("EUC-JP", c.source, hexBytes(c.in)));
  }
  CconvSrcOptions skip{};
  skip.skipInvalid = 1;
  const ConvertResult skipped = convert("UTF-8", "EUC-JP", hexBytes(cases[0].in), &skip);
  EXPECT_EQ(skipped.status, CCONV_OK);
  EXPECT_EQ(skipped.out, utf8("AA亜B"));
}

TEST_F(JisConvert, UnmappableCharactersAndTheirSubstitutes) {
  // 丄 is JIS X 0212 only: Shift_JIS has no code for it.
  const ConvertResult stop = convert("Shift_JIS", "EUC-JP", iconvPeer("EUC-JP", "亜丄亜"));
  EXPECT_EQ(stop.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(stop.inPos, 5);
  // Half-width katakana has no designation in ISO-2022-JP; its substitute
  // follows the ASCII designation.
  const CconvDstOptions big = dstOpts(1);
  CconvDstOptions sub = big;
  sub.substitute = 1;
  const ConvertResult kana =
      convert("ISO-2022-JP", "EUC-JP", hexBytes("41 8E B1 42"), nullptr, &big);
  EXPECT_EQ(kana.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(kana.inPos, 3);
  const ConvertResult kanaSub =
      convert("ISO-2022-JP", "EUC-JP", hexBytes("41 8E B1 42"), nullptr, &sub);
  EXPECT_EQ(kanaSub.status, CCONV_OK);
  EXPECT_EQ(hex(kanaSub.out), "1B 28 42 41 3F 42");
}

}  // namespace
}  // namespace zktest
