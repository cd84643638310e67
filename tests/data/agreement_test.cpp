// Every code of every shipped legacy encoding, decoded and encoded through
// the exported calls, against vectors taken from Python's codecs
// (tests/data/ref, written by tools/gen_reference.py). Where the shipped
// data follows a convention of its own the expected result is spelled out
// below, by code, with its reason; any other difference fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <map>
#include <ostream>
#include <optional>
#include <sstream>

#include "shipped.h"

namespace zktest {
namespace {

using Cps = std::vector<std::uint32_t>;

struct Reference {
  struct Dec {
    Bytes bytes;
    Cps cps;
    bool roundTrip;
  };
  std::vector<Dec> decodes;
  std::vector<Bytes> rejected;
  std::vector<std::pair<std::uint32_t, Bytes>> encodes;  // E lines
};

Reference loadReference(const std::string& codec) {
  Reference ref;
  std::istringstream in(readSourceFile("tests/data/ref/" + codec + ".txt"));
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string kind, a, b, flag;
    ls >> kind >> a >> b >> flag;
    if (kind == "D") {
      Cps cps;
      std::istringstream cs(b);
      std::string part;
      while (std::getline(cs, part, ',')) cps.push_back(std::stoul(part, nullptr, 16));
      ref.decodes.push_back({hexBytes(a), cps, flag == "R"});
    } else if (kind == "X") {
      ref.rejected.push_back(hexBytes(a));
    } else if (kind == "E") {
      ref.encodes.push_back({static_cast<std::uint32_t>(std::stoul(a, nullptr, 16)), hexBytes(b)});
    }
  }
  return ref;
}

Bytes utf16(const Cps& cps) {
  Bytes b;
  for (std::uint32_t c : cps) {
    auto unit = [&](std::uint32_t u) {
      b.push_back(static_cast<std::uint8_t>(u >> 8));
      b.push_back(static_cast<std::uint8_t>(u));
    };
    if (c > 0xFFFF) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  return b;
}

bool startsWith(const Bytes& b, const Bytes& prefix) {
  return b.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), b.begin());
}

Bytes replaceAll(Bytes b, const Bytes& from, const Bytes& to) {
  Bytes out;
  for (std::size_t i = 0; i < b.size();) {
    if (i + from.size() <= b.size() && std::equal(from.begin(), from.end(), b.begin() + i)) {
      out.insert(out.end(), to.begin(), to.end());
      i += from.size();
    } else {
      out.push_back(b[i++]);
    }
  }
  return out;
}

// Expected decoding where the shipped data or the compiled-in decoders
// differ from Python: the code points, or nullopt for "rejected".
using DecodeRule = std::map<std::string, std::optional<Cps>>;

const std::map<std::string, DecodeRule>& decodeDeviations() {
  // One JIS X 0208 table serves Shift_JIS, Windows-31J, EUC-JP and
  // ISO-2022-JP; it decodes to the JIS forms, which Windows-31J's reference
  // replaces by Microsoft's. The encoders accept both forms.
  static const std::map<std::string, DecodeRule> rules = {
      {"cp932",
       {{"8160", Cps{0x301C}},
        {"8161", Cps{0x2016}},
        {"817C", Cps{0x2212}},
        {"8191", Cps{0x00A2}},
        {"8192", Cps{0x00A3}},
        {"81CA", Cps{0x00AC}},
        // The Windows-31J decoder takes these as lead bytes of a pair; the
        // reference maps them to U+0080 and U+F8F0..U+F8F3.
        {"80", std::nullopt},
        {"A0", std::nullopt},
        {"FD", std::nullopt},
        {"FE", std::nullopt},
        {"FF", std::nullopt}}},
      // The JIS X 0201 Roman table is shared with Shift_JIS and decodes 0x5C
      // and 0x7E as ASCII; the JIS X 0213 table is shared with EUC-JIS-2004,
      // whose reference decodes 1-1-32 as FULLWIDTH REVERSE SOLIDUS.
      // Python's Shift_JIS-2004 and ISO-2022-JP-2004 read 1-2-18 as TILDE,
      // its EUC-JIS-2004 as FULLWIDTH TILDE; the shared table takes the latter.
      {"shift_jis_2004",
       {{"5C", Cps{0x5C}}, {"7E", Cps{0x7E}}, {"815F", Cps{0xFF3C}}, {"81B0", Cps{0xFF5E}}}},
      {"iso2022_jp_2004", {{"1B2428512232", Cps{0xFF5E}}}},
      // KS X 1001 HANGUL FILLER stands alone in the shipped table; Python
      // reads A4D4 only as the start of an eight-byte composed syllable.
      {"euc_kr", {{"A4D4", Cps{0x3164}}}},
      // The EUC decoders reject 0x7F as a first byte.
      {"euc_jp", {{"7F", std::nullopt}}},
      {"euc_jis_2004", {{"7F", std::nullopt}}},
      // ESC ( J shares the JIS X 0201 Roman table with Shift_JIS.
      {"iso2022_jp", {{"1B284A5C", Cps{0x5C}}, {"1B284A7E", Cps{0x7E}}}},
  };
  return rules;
}

// Python's EUC-JIS-2004 reads an SS3 code whose row JIS X 0213 plane 2 does
// not define as JIS X 0212; the shipped data has plane 2 only, so such codes
// are rejected (encoders never produced them: Python writes plane 1 or 2).
bool plane2Fallback(const std::string& codec, const Bytes& b) {
  if (codec != "euc_jis_2004" || b.size() != 3 || b[0] != 0x8F) return false;
  int row = (b[1] & 0x7F) - 0x20;
  static const int rows[] = {1, 3, 4, 5, 8, 12, 13, 14, 15};
  if (row >= 78) return false;
  return std::find(std::begin(rows), std::end(rows), row) == std::end(rows);
}

struct Encoding {
  const char* codec;
  const char* name;
};

const Encoding kEncodings[] = {
    {"shift_jis", "Shift_JIS"},       {"cp932", "WINDOWS31J"},
    {"shift_jis_2004", "Shift_JIS-2004"}, {"euc_jp", "EUC-JP"},
    {"euc_jis_2004", "EUC-JIS-2004"}, {"iso2022_jp", "ISO-2022-JP"},
    {"iso2022_jp_2004", "ISO-2022-JP-2004"}, {"gbk", "GBK"},
    {"big5", "Big5"},                 {"euc_kr", "EUC-KR"},
    {"latin-1", "ISO-8859-1"},
};

// Names the parameter in test listings.
void PrintTo(const Encoding& c, std::ostream* os) { *os << c.name; }

class Agreement : public ::testing::TestWithParam<Encoding> {};

TEST_P(Agreement, DecodesEveryCodeAsTheReference) {
  shippedDir();
  const Encoding e = GetParam();
  Reference ref = loadReference(e.codec);
  ASSERT_GT(ref.decodes.size(), 100u);
  const auto& all = decodeDeviations();
  DecodeRule none;
  const DecodeRule& dev = all.count(e.codec) ? all.at(e.codec) : none;
  Converter conv(e.name, "ISO-10646-UCS-4");
  ASSERT_TRUE(conv.ready());
  int failures = 0;
  std::size_t deviationsSeen = 0;
  std::size_t fallbacks = 0;
  auto check = [&](const Bytes& bytes, const std::optional<Cps>& reference) {
    std::optional<Cps> want = reference;
    auto it = dev.find(hexString(bytes));
    if (it != dev.end()) {
      want = it->second;
      ++deviationsSeen;
    } else if (plane2Fallback(e.codec, bytes)) {
      want = std::nullopt;
      ++fallbacks;
    }
    Outcome o = conv.run(bytes);
    std::optional<Cps> got;
    if (o.status == CCONV_OK) got = fromUcs4(o.out);
    if (got != want && ++failures <= 20)
      ADD_FAILURE() << e.name << " " << hexString(bytes) << ": status " << o.status
                    << ", got " << hexString(o.out) << ", want "
                    << (want ? hexString(ucs4(*want)) : std::string("rejection"));
  };
  for (const auto& d : ref.decodes) check(d.bytes, d.cps);
  for (const auto& x : ref.rejected) check(x, std::nullopt);
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(deviationsSeen, dev.size()) << "a listed deviation names no code of the reference";
  if (std::string(e.codec) == "euc_jis_2004") {
    EXPECT_GT(fallbacks, 5000u);
  }
}

// Expected encoding where it differs from Python's: the bytes, empty for
// "unmappable", or nullopt when the reference stands.
std::optional<Bytes> encodeDeviation(const std::string& codec, std::uint32_t ucs,
                                     const Bytes& reference, const Reference& ref) {
  if (codec == "cp932" && reference.size() == 2 && reference[0] >= 0xED && reference[0] <= 0xEE) {
    // NEC-selected IBM extensions: Microsoft's converter (and glibc's CP932)
    // writes the IBM extension code (FA40-FC4B) that decodes to the same
    // character; Python's cp932 writes the NEC-selected one.
    for (const auto& d : ref.decodes)
      if (d.cps == Cps{ucs} && d.bytes.size() == 2 && d.bytes[0] >= 0xFA) return d.bytes;
  }
  // The single bytes 0x80, 0xA0 and 0xFD-0xFF, which the Windows-31J
  // decoder cannot read, are not written either.
  if (codec == "cp932" && (ucs == 0x80 || (ucs >= 0xF8F0 && ucs <= 0xF8F3))) return Bytes{};
  // The ASCII set precedes JIS X 0213 in Shift_JIS-2004, so REVERSE SOLIDUS
  // is written as 0x5C, as in Shift_JIS.
  if (codec == "shift_jis_2004" && ucs == 0x5C) return Bytes{0x5C};
  // Python's TILDE for Shift_JIS-2004 1-2-18 (see above): the ASCII byte.
  if (codec == "shift_jis_2004" && ucs == 0x7E) return Bytes{0x7E};
  // Python's EUC-JIS-2004 writes characters that only JIS X 0212 has with
  // SS3 in rows that JIS X 0213 plane 2 lacks; the shipped JIS X 0213 table
  // is shared with Shift_JIS-2004 and ISO-2022-JP-2004, which cannot write
  // those rows, so they are unmappable.
  if (plane2Fallback(codec, reference)) return Bytes{};
  // Hangul syllables outside KS X 1001 have only the eight-byte jamo form,
  // which no table can express.
  if (codec == "euc_kr" && reference.size() == 8) return Bytes{};
  return std::nullopt;
}

TEST_P(Agreement, EncodesEveryCharacterAsTheReference) {
  shippedDir();
  const Encoding e = GetParam();
  const std::string codec = e.codec;
  Reference ref = loadReference(codec);
  Converter conv("UTF-16", e.name);
  ASSERT_TRUE(conv.ready());
  int failures = 0;
  std::size_t checked = 0;
  auto check = [&](const Cps& cps, const Bytes& reference) {
    Bytes want = reference;
    if (cps.size() == 1) {
      if (auto d = encodeDeviation(codec, cps[0], reference, ref)) want = *d;
    }
    // ISO-2022-JP-2004 output designates JIS X 0213 plane 1 for every
    // double-byte character, where Python designates JIS X 0208 for its part.
    if (codec == "iso2022_jp_2004")
      want = replaceAll(want, {0x1B, 0x24, 0x42}, {0x1B, 0x24, 0x28, 0x51});
    Outcome o = conv.run(utf16(cps));
    Bytes got = o.status == CCONV_OK ? o.out : Bytes{};
    // The ISO-2022-JP encoders designate ASCII before the first character.
    if (codec.rfind("iso2022", 0) == 0 && !startsWith(want, {0x1B, 0x28, 0x42}) &&
        startsWith(got, {0x1B, 0x28, 0x42}))
      got.erase(got.begin(), got.begin() + 3);
    ++checked;
    if (got != want && ++failures <= 20)
      ADD_FAILURE() << e.name << " U+" << hexString(utf16(cps)) << ": status " << o.status
                    << ", got " << hexString(o.out) << ", want " << hexString(want);
  };
  for (const auto& d : ref.decodes)
    if (d.roundTrip) check(d.cps, d.bytes);
  for (const auto& [ucs, bytes] : ref.encodes) check(Cps{ucs}, bytes);
  EXPECT_GT(checked, 100u);
  EXPECT_EQ(failures, 0);
}

// EUC-JP-FIX has no reference of its own: its two-byte forms of the EUC-JP
// codes (00 xx for single bytes and SS2, the JIS X 0212 code with the high
// bit of its first byte only) read as Python's EUC-JP reads the originals.
TEST(AgreementFix, EucJpFixReadsAsEucJp) {
  shippedDir();
  Reference ref = loadReference("euc_jp");
  Converter conv("EUC-JP-FIX", "ISO-10646-UCS-4");
  ASSERT_TRUE(conv.ready());
  int failures = 0;
  std::size_t checked = 0;
  for (const auto& d : ref.decodes) {
    const Bytes& b = d.bytes;
    Bytes fix;
    if (b.size() == 1 && b[0] < 0x7F) fix = {0x00, b[0]};
    if (b.size() == 2) fix = b[0] == 0x8E ? Bytes{0x00, b[1]} : b;
    if (b.size() == 3) fix = {b[1], static_cast<std::uint8_t>(b[2] & 0x7F)};
    if (fix.empty()) continue;
    ++checked;
    Outcome o = conv.run(fix);
    if ((o.status != CCONV_OK || fromUcs4(o.out) != d.cps) && ++failures <= 20)
      ADD_FAILURE() << hexString(fix) << ": status " << o.status << ", got " << hexString(o.out);
    Outcome back = convert(o.out, "ISO-10646-UCS-4", "EUC-JP-FIX");
    // JIS X 0212 TILDE reads as U+007E, which is written in the ASCII form.
    Bytes want = d.cps == Cps{0x7E} ? Bytes{0x00, 0x7E} : fix;
    if (back.out != want && ++failures <= 20)
      ADD_FAILURE() << hexString(fix) << " written back as " << hexString(back.out);
  }
  EXPECT_GT(checked, 13000u);
  EXPECT_EQ(failures, 0);
}

INSTANTIATE_TEST_SUITE_P(Shipped, Agreement, ::testing::ValuesIn(kEncodings),
                         [](const ::testing::TestParamInfo<Encoding>& info) {
                           std::string n = info.param.codec;
                           for (char& c : n)
                             if (c == '-') c = '_';
                           return n;
                         });

}  // namespace
}  // namespace zktest
