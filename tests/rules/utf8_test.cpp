// UTF-8 rules: the six-byte reader and writer, FE/FF and the combining-pair
// pre-test.
#include <gtest/gtest.h>

#include <sstream>

#include "rules/jis_world.h"
#include "rules/rules.h"
#include "rules/unicode.h"

namespace zktest {
namespace {

// Reads every sequence of `in` with utf8ReadSequence: the values as hex,
// then the last status and position, as "3042 41 status@pos".
std::string readAll(const std::string& bytes) {
  const Bytes in = hexBytes(bytes);
  CconvRecord r{};
  r.inBuf = in.data();
  r.inLen = static_cast<std::int32_t>(in.size());
  std::ostringstream os;
  std::uint32_t v = 0;
  while (r.inPos < r.inLen && zk::utf8ReadSequence(&r, &v))
    os << std::hex << std::uppercase << v << ' ';
  os << std::dec
     << (r.status == CCONV_CHAR         ? "char"
         : r.status == CCONV_NEED_INPUT ? "more"
                                        : "?")
     << '@' << r.inPos;
  return os.str();
}

TEST(Utf8Read, LeadPatternsLenientContinuationsAndTruncation) {
  const std::pair<const char*, const char*> cases[] = {
      {"E3 81 82", "3042 char@3"},
      {"C0 80", "0 char@2"},  // overlong NUL
      {"80 BF", "80 BF char@2"},
      {"ED A0 80", "D800 char@3"},
      {"F8 88 80 80 80", "200000 char@5"},
      // Following bytes give their low six bits whatever their high bits are.
      {"E3 41 42", "3042 char@3"},
      // FE and FF between characters are dropped; alone, nothing is consumed.
      {"FE 41 FF FF 42", "41 42 char@5"},
      {"FE FF FE", "more@0"},
  };
  for (const auto& [in, want] : cases) EXPECT_EQ(readAll(in), want) << in;
  // Every truncation needs input at the lead byte; an FE before it is used.
  for (const std::string form :
       {"C3 A9", "E3 81 82", "F0 9F 98 80", "F8 88 80 80 80", "FD BF BF BF BF BF"})
    for (std::size_t len = 2; len < form.size(); len += 3)
      EXPECT_EQ(readAll("41 FE " + form.substr(0, len)), "41 more@2") << form.substr(0, len);
}

TEST(Utf8Write, RowBoundaryFormsLimitAndRoom) {
  // Both ends of every length, and a lone surrogate, written as its value.
  const std::pair<std::uint32_t, const char*> cases[] = {{0x7F, "7F"},
                                                         {0x80, "C2 80"},
                                                         {0x7FF, "DF BF"},
                                                         {0x800, "E0 A0 80"},
                                                         {0xD800, "ED A0 80"},
                                                         {0xFFFF, "EF BF BF"},
                                                         {0x10000, "F0 90 80 80"},
                                                         {0x1FFFFF, "F7 BF BF BF"},
                                                         {0x200000, "F8 88 80 80 80"},
                                                         {0x3FFFFFF, "FB BF BF BF BF"},
                                                         {0x4000000, "FC 84 80 80 80 80"},
                                                         {0x7FFFFFFF, "FD BF BF BF BF BF"}};
  for (const auto& [value, form] : cases) {
    SCOPED_TRACE(form);
    Out o(8);
    ASSERT_EQ(zk::utf8WriteUnit(&o.rec, value), 1);
    EXPECT_EQ(o.rec.outChars, 1);
    EXPECT_EQ(o.rec.status, CCONV_NEXT);
    EXPECT_EQ(o.written(), form);
    std::ostringstream read;
    read << std::hex << std::uppercase << value << " char@" << std::dec << o.rec.outPos;
    EXPECT_EQ(readAll(form), read.str());
  }
  Out o(8);
  EXPECT_EQ(zk::utf8WriteUnit(&o.rec, 0x80000000u), 0);
  EXPECT_EQ(o.rec.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(o.rec.outPos, 0);
  // Two bytes of room for a three-byte sequence: nothing is written.
  o.room(8, 6);
  EXPECT_EQ(zk::utf8WriteUnit(&o.rec, 0x3042), 0);
  EXPECT_EQ(o.rec.status, CCONV_OUTPUT_FULL);
  EXPECT_EQ(o.rec.outPos, 6);
  EXPECT_EQ(o.rec.outChars, 0);
  EXPECT_EQ(o.buf[6], 0xEE);
}

TEST(Utf8Decode, PairPreTestCoversEveryBaseOfThePairTable) {
  // The look-ahead is skipped for values the pre-test rejects; it must not
  // reject a base that the pair table holds.
  int pairs = 0;
  for (std::uint32_t base = 0; base < 0x10000; ++base)
    for (std::uint32_t mark : {0x309Au, 0x02E5u, 0x02E9u, 0x0300u, 0x0301u})
      if (zk::jisIsPair(base, mark)) {
        ++pairs;
        EXPECT_TRUE(zk::ucsMayBePairBase(base)) << std::hex << base;
      }
  EXPECT_EQ(pairs, 25);
}

}  // namespace
}  // namespace zktest
