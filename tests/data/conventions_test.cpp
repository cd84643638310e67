// The JIS and Microsoft forms of the characters where the two mappings part
// ways: whichever form a table decodes to, every Japanese encoder takes both.
#include <gtest/gtest.h>

#include "shipped.h"

namespace zktest {
namespace {

struct Pair {
  std::uint32_t jis;        // what the JIS X 0208 table decodes to
  std::uint32_t microsoft;  // what Windows-31J's reference decodes to
};

const Pair kPairs[] = {
    {0x301C, 0xFF5E}, {0x2016, 0x2225}, {0x2212, 0xFF0D}, {0x00A2, 0xFFE0},
    {0x00A3, 0xFFE1}, {0x00AC, 0xFFE2}, {0x2015, 0x2014},
};

const char* const kJapanese[] = {"Shift_JIS", "WINDOWS31J", "EUC-JP", "EUC-JP-FIX",
                                 "ISO-2022-JP", "OASYS_WIN", "OASYS_ONLINE"};
// JIS X 0213 has codes of its own for FULLWIDTH TILDE, PARALLEL TO and
// FULLWIDTH HYPHEN-MINUS; the other Microsoft forms share the JIS code.
const char* const kJis2004[] = {"Shift_JIS-2004", "EUC-JIS-2004", "ISO-2022-JP-2004"};

Bytes one(std::uint32_t u) { return ucs4({u}); }

TEST(Conventions, EveryJapaneseEncoderTakesBothForms) {
  shippedDir();
  for (const char* name : kJapanese) {
    for (const Pair& p : kPairs) {
      Outcome a = convert(one(p.jis), "ISO-10646-UCS-4", name);
      Outcome b = convert(one(p.microsoft), "ISO-10646-UCS-4", name);
      EXPECT_EQ(a.status, CCONV_OK) << name << " " << std::hex << p.jis;
      EXPECT_EQ(b.status, CCONV_OK) << name << " " << std::hex << p.microsoft;
      EXPECT_EQ(a.out, b.out) << name << " " << std::hex << p.jis;
      // Reading the bytes back gives the JIS form.
      Outcome r = convert(a.out, name, "ISO-10646-UCS-4");
      EXPECT_EQ(fromUcs4(r.out), std::vector<std::uint32_t>{p.jis}) << name;
    }
  }
  for (const char* name : kJis2004) {
    for (const Pair& p : kPairs) {
      Outcome a = convert(one(p.jis), "ISO-10646-UCS-4", name);
      Outcome b = convert(one(p.microsoft), "ISO-10646-UCS-4", name);
      EXPECT_EQ(a.status, CCONV_OK) << name << " " << std::hex << p.jis;
      EXPECT_EQ(b.status, CCONV_OK) << name << " " << std::hex << p.microsoft;
      bool own = p.microsoft == 0xFF5E || p.microsoft == 0x2225 || p.microsoft == 0xFF0D;
      if (own) {
        EXPECT_NE(a.out, b.out) << name << " " << std::hex << p.microsoft;
      } else {
        EXPECT_EQ(a.out, b.out) << name << " " << std::hex << p.microsoft;
      }
    }
  }
}

TEST(Conventions, YenSignAndOverlineBecomeTheRomanBytes) {
  shippedDir();
  // Written where the encoding's single-byte Roman or ASCII set has them,
  // in that encoding's form of a single byte.
  const std::pair<const char*, Bytes> forms[] = {
      {"Shift_JIS", {0x5C}},       {"WINDOWS31J", {0x5C}},        {"Shift_JIS-2004", {0x5C}},
      {"EUC-JP", {0x5C}},          {"EUC-JP-FIX", {0x00, 0x5C}},  {"EUC-JIS-2004", {0x5C}},
      {"ISO-2022-JP", {0x1B, 0x28, 0x4A, 0x5C, 0x1B, 0x28, 0x42}},
      {"ISO-2022-JP-2004", {0x1B, 0x28, 0x42, 0x5C}},
      {"OASYS_WIN", {0x5C}},       {"OASYS_ONLINE", {0x00, 0x5C}},
  };
  for (const auto& [name, yen] : forms) {
    Outcome o = convert(one(0xA5), "ISO-10646-UCS-4", name);
    EXPECT_EQ(o.status, CCONV_OK) << name;
    EXPECT_EQ(o.out, yen) << name;
    Bytes overline = yen;
    for (auto& b : overline)
      if (b == 0x5C) b = 0x7E;
    EXPECT_EQ(convert(one(0x203E), "ISO-10646-UCS-4", name).out, overline) << name;
  }
  // ASCII itself keeps ASCII's designation.
  EXPECT_EQ(convert(one(0x5C), "ISO-10646-UCS-4", "ISO-2022-JP").out,
            (Bytes{0x1B, 0x28, 0x42, 0x5C}));
}

TEST(Conventions, Windows31jUserAreaIsThePrivateUseArea) {
  shippedDir();
  // F040..F9FC, 1880 codes, map to U+E000..U+E757 in order and back.
  std::uint32_t ucs = 0xE000;
  int failures = 0;
  for (int lead = 0xF0; lead <= 0xF9; ++lead) {
    for (int trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      Bytes code = {std::uint8_t(lead), std::uint8_t(trail)};
      Outcome d = convert(code, "WINDOWS31J", "ISO-10646-UCS-4");
      Outcome e = convert(one(ucs), "ISO-10646-UCS-4", "WINDOWS31J");
      if ((fromUcs4(d.out) != std::vector<std::uint32_t>{ucs} || e.out != code) && ++failures < 10)
        ADD_FAILURE() << hexString(code) << " U+" << std::hex << ucs;
      ++ucs;
    }
  }
  EXPECT_EQ(ucs, 0xE758u);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(convert(one(0xE758), "ISO-10646-UCS-4", "WINDOWS31J").status, CCONV_UNMAPPABLE);
  // OASYS_WIN keeps its extension in the same rows, so user characters pass
  // between the two.
  Bytes some = {0xF0, 0x40, 0xF5, 0x9F, 0xF9, 0xFC};
  EXPECT_EQ(convert(some, "WINDOWS31J", "OASYS_WIN").out, some);
  EXPECT_EQ(convert(some, "OASYS_WIN", "WINDOWS31J").out, some);
}

TEST(Conventions, OasysExtensionsMeetInThePrivateUseArea) {
  shippedDir();
  // OASYS_ONLINE F5A1.. is U+E000.., as OASYS_WIN F040.. is; the first 940
  // user characters pass between the two.
  Outcome online = convert({0xF5, 0xA1, 0xFE, 0xFE}, "OASYS_ONLINE", "ISO-10646-UCS-4");
  EXPECT_EQ(fromUcs4(online.out), (std::vector<std::uint32_t>{0xE000, 0xE3AB}));
  EXPECT_EQ(convert({0xF5, 0xA1, 0xFE, 0xFE}, "OASYS_ONLINE", "OASYS_WIN").out,
            (Bytes{0xF0, 0x40, 0xF4, 0xFC}));
  EXPECT_EQ(convert({0xF0, 0x40, 0xF4, 0xFC}, "OASYS_WIN", "OASYS_ONLINE").out,
            (Bytes{0xF5, 0xA1, 0xFE, 0xFE}));
  EXPECT_EQ(convert(ucs4({0xE3AC}), "ISO-10646-UCS-4", "OASYS_ONLINE").status, CCONV_UNMAPPABLE);
  // From Unicode every character takes the two-byte form the decoder reads.
  Bytes text = {0x00, 0x41, 0x00, 0xB1, 0x30, 0x21, 0x00, 0x0D, 0x00, 0x0A};
  Outcome viaUtf8 = convert(convert(text, "OASYS_ONLINE", "UTF-8").out, "UTF-8", "OASYS_ONLINE");
  EXPECT_EQ(viaUtf8.out, text);
}

}  // namespace
}  // namespace zktest
