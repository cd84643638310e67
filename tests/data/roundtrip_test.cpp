// Every code of every shipped legacy encoding goes to UTF-8 and back. A code
// comes back as itself unless it shares its character with another code of
// the same encoding (the many-to-one cases, counted below per encoding);
// then it comes back as that other code and the character is kept.
#include <gtest/gtest.h>

#include <map>
#include <ostream>
#include <set>
#include <sstream>

#include "shipped.h"

namespace zktest {
namespace {

std::vector<Bytes> referenceCodes(const std::string& codec) {
  std::vector<Bytes> codes;
  std::istringstream in(readSourceFile("tests/data/ref/" + codec + ".txt"));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string kind, bytes;
    ls >> kind >> bytes;
    if (kind == "D") codes.push_back(hexBytes(bytes));
  }
  return codes;
}

Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

const Bytes kEscAscii = {0x1B, 0x28, 0x42};

struct Case {
  const char* name;
  const char* codec;      // reference whose codes are walked
  std::size_t manyToOne;  // codes that come back as another code
  const char* why;
  std::size_t rejected = 0;  // codes of the reference that do not decode
};

// The JIS and Microsoft forms of the characters where the two mappings part
// ways count as one character: every encoder takes both.
std::uint32_t fold(std::uint32_t u) {
  switch (u) {
    case 0xFF5E: return 0x301C;
    case 0x2225: return 0x2016;
    case 0xFF0D: return 0x2212;
    case 0xFFE0: return 0x00A2;
    case 0xFFE1: return 0x00A3;
    case 0xFFE2: return 0x00AC;
    case 0x2014: return 0x2015;
    default: return u;
  }
}

std::vector<std::uint32_t> folded(const Bytes& ucs4Bytes) {
  std::vector<std::uint32_t> v = fromUcs4(ucs4Bytes);
  for (auto& u : v) u = fold(u);
  return v;
}

// The codes of an encoding in the form its encoder writes them: ISO-2022-JP
// output designates ASCII first and returns to it at the end.
std::vector<Bytes> codesOf(const Case& c) {
  std::string name = c.name;
  std::vector<Bytes> out;
  if (name == "EUC-JP-FIX") {
    for (const Bytes& b : referenceCodes("euc_jp")) {
      if (b.size() == 1 && b[0] < 0x7F) out.push_back({0x00, b[0]});
      if (b.size() == 2 && b[0] == 0x8E) out.push_back({0x00, b[1]});
      if (b.size() == 2 && b[0] >= 0xA1) out.push_back(b);
      if (b.size() == 3) out.push_back({b[1], static_cast<std::uint8_t>(b[2] & 0x7F)});
    }
    return out;
  }
  if (name == "OASYS_WIN") {
    for (const Bytes& b : referenceCodes("shift_jis")) out.push_back(b);
    for (int lead = 0xF0; lead <= 0xF9; ++lead)
      for (int trail = 0x40; trail <= 0xFC; ++trail)
        if (trail != 0x7F) out.push_back({std::uint8_t(lead), std::uint8_t(trail)});
    return out;
  }
  if (name == "OASYS_ONLINE") {
    for (int b = 0; b < 0x80; ++b) out.push_back({0x00, std::uint8_t(b)});
    for (int b = 0xA1; b < 0xE0; ++b) out.push_back({0x00, std::uint8_t(b)});
    for (const Bytes& b : referenceCodes("euc_jp"))
      if (b.size() == 2 && b[0] >= 0xA1) out.push_back({std::uint8_t(b[0] & 0x7F), std::uint8_t(b[1] & 0x7F)});
    // The extension: rows 85-94 in EUC form.
    for (int lead = 0xF5; lead <= 0xFE; ++lead)
      for (int trail = 0xA1; trail <= 0xFE; ++trail)
        out.push_back({std::uint8_t(lead), std::uint8_t(trail)});
    return out;
  }
  if (name == "ISO-646IRV") {
    for (int b = 0; b < 0x80; ++b) out.push_back({std::uint8_t(b)});
    return out;
  }
  bool iso2022 = name.rfind("ISO-2022", 0) == 0;
  for (const Bytes& b : referenceCodes(c.codec)) {
    if (!iso2022) {
      out.push_back(b);
    } else if (b[0] == 0x1B) {
      out.push_back(cat(b, kEscAscii));
    } else {
      out.push_back(cat(kEscAscii, b));
    }
  }
  return out;
}

const Case kCases[] = {
    {"Shift_JIS", "shift_jis", 0, ""},
    // NEC row 13 characters that IBM's extension repeats come back in NEC
    // row 13; NEC-selected IBM extensions come back as IBM extensions; the
    // NEC row 13 and extension forms of characters JIS X 0208 has (such as
    // 0x8790 for U+2252 and 0xEEF9, 0xFA54 for U+FFE2) come back in JIS X 0208.
    // 0x80, 0xA0 and 0xFD-0xFF are lead bytes to the Windows-31J decoder.
    {"WINDOWS31J", "cp932", 398, "NEC/IBM duplicates, Microsoft's choice", 5},
    {"Shift_JIS-2004", "shift_jis_2004", 0, ""},
    // JIS X 0212 0x2237 TILDE decodes to U+007E, which is written as ASCII.
    // 0x7F is no first byte of EUC.
    {"EUC-JP", "euc_jp", 1, "JIS X 0212 TILDE", 1},
    {"EUC-JP-FIX", "euc_jp", 1, "JIS X 0212 TILDE"},
    // Python's JIS X 0212 supplement (SS3 rows that plane 2 lacks) is not
    // shipped, and 0x7F is no first byte of EUC.
    {"EUC-JIS-2004", "euc_jis_2004", 0, "", 1 + 6067},
    // ESC ( J text and ESC $ @ text come back as ESC ( B and ESC $ B: the
    // sets decode to the same characters as ASCII and JIS X 0208.
    {"ISO-2022-JP", "iso2022_jp", 94 + 6879, "ESC ( J and ESC $ @ forms"},
    // ESC $ B text comes back as ESC $ ( Q, the plane 1 designation.
    {"ISO-2022-JP-2004", "iso2022_jp_2004", 6879, "ESC $ B form"},
    {"GBK", "gbk", 0, ""},
    // Big5 has two codes each for U+FF0F, U+FF3C, U+5341 and U+5345; the
    // second of each pair comes back as the one Python writes.
    {"Big5", "big5", 4, "Big5 duplicates"},
    {"EUC-KR", "euc_kr", 0, ""},
    {"ISO-8859-1", "latin-1", 0, ""},
    {"ISO-646IRV", "", 0, ""},
    {"OASYS_WIN", "", 0, ""},
    {"OASYS_ONLINE", "", 0, ""},
};

// Names the parameter in test listings.
void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class RoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTrip, EveryCodeThroughUtf8) {
  shippedDir();
  const Case c = GetParam();
  std::vector<Bytes> codes = codesOf(c);
  ASSERT_GT(codes.size(), 100u);
  Converter toUtf8(c.name, "UTF-8");
  Converter back("UTF-8", c.name);
  Converter toUcs4(c.name, "ISO-10646-UCS-4");
  ASSERT_TRUE(toUtf8.ready() && back.ready() && toUcs4.ready());
  std::size_t moved = 0;
  std::size_t rejected = 0;
  int failures = 0;
  for (const Bytes& code : codes) {
    Outcome u = toUtf8.run(code);
    if (u.status != CCONV_OK) {
      ++rejected;
      continue;
    }
    Outcome r = back.run(u.out);
    bool ok = r.status == CCONV_OK && !u.out.empty();
    if (ok && r.out != code) {
      // Many-to-one: the other code must stand for the same character.
      ++moved;
      ok = folded(toUcs4.run(r.out).out) == folded(toUcs4.run(code).out);
    }
    if (!ok && ++failures <= 20)
      ADD_FAILURE() << c.name << " " << hexString(code) << " -> " << hexString(u.out) << " ("
                    << u.status << ") -> " << hexString(r.out) << " (" << r.status << ")";
  }
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(moved, c.manyToOne) << c.why;
  EXPECT_EQ(rejected, c.rejected);
}

// Converting in pieces gives what converting at once gives, both ways.
TEST_P(RoundTrip, PiecewiseEqualsOneShot) {
  shippedDir();
  const Case c = GetParam();
  std::vector<Bytes> codes = codesOf(c);
  Converter check(c.name, "UTF-8");
  Bytes all;
  // UTF-8 input read in pieces may split a base character from the
  // combining mark that follows it: the decoder cannot look ahead past the
  // input it has, so the two come out as two characters. The JIS X 0213
  // pairs are left out of this walk.
  bool pairs = std::string(c.name).find("2004") != std::string::npos;
  for (std::size_t i = 0; i < codes.size(); i += 7) {
    Outcome u = check.run(codes[i]);
    if (u.status != CCONV_OK) continue;
    // Two characters: two three-byte kana or two two-byte letters.
    bool two = (u.out.size() == 6 && (u.out[0] & 0xF0) == 0xE0) ||
               (u.out.size() == 4 && (u.out[0] & 0xE0) == 0xC0);
    if (pairs && two) continue;
    all = cat(all, codes[i]);
  }
  Outcome whole = convert(all, c.name, "UTF-8");
  ASSERT_EQ(whole.status, CCONV_OK) << hexString(all).substr(2 * whole.inPos, 16);
  for (std::size_t chunk : {1u, 2u, 3u, 5u}) {
    Outcome pieces = convert(all, c.name, "UTF-8", chunk);
    EXPECT_EQ(pieces.status, CCONV_OK) << chunk;
    EXPECT_EQ(pieces.out, whole.out) << "chunks of " << chunk;
    Outcome backPieces = convert(whole.out, "UTF-8", c.name, chunk);
    Outcome backWhole = convert(whole.out, "UTF-8", c.name);
    EXPECT_EQ(backPieces.out, backWhole.out) << "chunks of " << chunk;
  }
}

INSTANTIATE_TEST_SUITE_P(Shipped, RoundTrip, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) {
                           std::string n = info.param.name;
                           for (char& ch : n)
                             if (ch == '-') ch = '_';
                           return n;
                         });

}  // namespace
}  // namespace zktest
