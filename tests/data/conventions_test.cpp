// The JIS and Microsoft forms of the characters where the two mappings part
// ways, the yen sign and overline, and the user areas.
#include <gtest/gtest.h>

#include <algorithm>

#include "shipped.h"

namespace zktest {
namespace {

ConvertResult encode(std::uint32_t u, const char* target) {
  return run(ucs4({u}), "ISO-10646-UCS-4", target);
}

// Whichever form a table decodes to, every Japanese encoder takes both.
// JIS X 0213 has codes of its own for FULLWIDTH TILDE, PARALLEL TO and
// FULLWIDTH HYPHEN-MINUS; the other Microsoft forms share the JIS code.
TEST(Conventions, EveryJapaneseEncoderTakesBothForms) {
  shippedDir();
  const std::pair<std::uint32_t, std::uint32_t> kPairs[] = {  // JIS X 0208 table's, Microsoft's
      {0x301C, 0xFF5E}, {0x2016, 0x2225}, {0x2212, 0xFF0D}, {0x00A2, 0xFFE0},
      {0x00A3, 0xFFE1}, {0x00AC, 0xFFE2}, {0x2015, 0x2014}};
  for (const char* name :
       {"Shift_JIS", "WINDOWS31J", "EUC-JP", "EUC-JP-FIX", "ISO-2022-JP", "OASYS_WIN",
        "OASYS_ONLINE", "Shift_JIS-2004", "EUC-JIS-2004", "ISO-2022-JP-2004"}) {
    const bool jis2004 = std::string(name).ends_with("2004");
    for (auto [jis, ms] : kPairs) {
      SCOPED_TRACE(testing::Message() << name << " U+" << std::hex << ms);
      ConvertResult a = encode(jis, name), b = encode(ms, name);
      EXPECT_EQ(a.status, CCONV_OK);
      EXPECT_EQ(b.status, CCONV_OK);
      const bool own = jis2004 && (ms == 0xFF5E || ms == 0x2225 || ms == 0xFF0D);
      EXPECT_EQ(a.out == b.out, !own);
      // Reading the bytes back gives the JIS form.
      if (!jis2004) {
        EXPECT_EQ(decode(a.out, name), Cps{jis});
      }
    }
  }
}

// Written where the encoding's single-byte Roman or ASCII set has them, in
// that encoding's form of a single byte. (Shift_JIS, EUC-JP, EUC-JP-FIX and
// ISO-2022-JP, whose references have these, are checked in agreement_test.cpp.)
TEST(Conventions, YenSignAndOverlineBecomeTheRomanBytes) {
  shippedDir();
  const std::pair<const char*, Bytes> forms[] = {
      {"WINDOWS31J", {0x5C}},   {"Shift_JIS-2004", {0x5C}},     {"EUC-JIS-2004", {0x5C}},
      {"OASYS_WIN", {0x5C}},    {"OASYS_ONLINE", {0x00, 0x5C}},
      {"ISO-2022-JP-2004", {0x1B, 0x28, 0x42, 0x5C}},
  };
  for (auto [name, yen] : forms) {
    ConvertResult o = encode(0xA5, name);
    EXPECT_EQ(o.status, CCONV_OK) << name;
    EXPECT_EQ(o.out, yen) << name;
    std::replace(yen.begin(), yen.end(), std::uint8_t{0x5C}, std::uint8_t{0x7E});
    EXPECT_EQ(encode(0x203E, name).out, yen) << name;
  }
}

TEST(Conventions, UserAreasAreThePrivateUseArea) {
  shippedDir();
  // Windows-31J F040..F9FC map to U+E000..U+E757 (as the reference has it) and no further.
  EXPECT_EQ(encode(0xE758, "WINDOWS31J").status, CCONV_UNMAPPABLE);
  // OASYS_WIN keeps its extension in the same rows, so user characters pass
  // between the two. OASYS_ONLINE F5A1.. is U+E000.. too; its 940 user
  // characters pass to the first 940 of OASYS_WIN.
  const Bytes win = {0xF0, 0x40, 0xF5, 0x9F, 0xF9, 0xFC}, win940 = {0xF0, 0x40, 0xF4, 0xFC},
              online = {0xF5, 0xA1, 0xFE, 0xFE};
  EXPECT_EQ(run(win, "WINDOWS31J", "OASYS_WIN").out, win);
  EXPECT_EQ(run(win, "OASYS_WIN", "WINDOWS31J").out, win);
  EXPECT_EQ(decode(online, "OASYS_ONLINE"), (Cps{0xE000, 0xE3AB}));
  EXPECT_EQ(run(online, "OASYS_ONLINE", "OASYS_WIN").out, win940);
  EXPECT_EQ(run(win940, "OASYS_WIN", "OASYS_ONLINE").out, online);
  EXPECT_EQ(encode(0xE3AC, "OASYS_ONLINE").status, CCONV_UNMAPPABLE);
  // From Unicode every character takes the two-byte form the decoder reads.
  const Bytes text = {0x00, 0x41, 0x00, 0xB1, 0x30, 0x21, 0x00, 0x0D, 0x00, 0x0A};
  EXPECT_EQ(run(run(text, "OASYS_ONLINE", "UTF-8").out, "UTF-8", "OASYS_ONLINE").out, text);
}

}  // namespace
}  // namespace zktest
