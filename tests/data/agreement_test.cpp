// Every code of every shipped legacy encoding, decoded and encoded through
// the exported calls, against vectors taken from Python's codecs
// (tests/data/ref). Where the shipped data follows a convention of its own
// the expected result is spelled out below, by code, with its reason; any
// other difference fails.
//
// And every code goes to UTF-8 and back, whole and in pieces. A code comes
// back as itself unless it shares its character with another code of the
// same encoding (the many-to-one cases, counted below per encoding); then it
// comes back as that other code and the character is kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <sstream>

#include "shipped.h"

namespace zktest {
namespace {

// Expected decoding where the shipped data or the compiled-in decoders
// differ from Python: code:code point, or code:- for "rejected".
const std::map<std::string, std::string> kDecodeDeviations = {
    // One JIS X 0208 table serves Shift_JIS, Windows-31J, EUC-JP and
    // ISO-2022-JP; it decodes to the JIS forms, which Windows-31J's reference
    // replaces by Microsoft's. The encoders accept both forms.
    {"cp932", "8160:301C 8161:2016 817C:2212 8191:A2 8192:A3 81CA:AC "
              // The Windows-31J decoder takes these as lead bytes of a pair;
              // the reference maps them to U+0080 and U+F8F0..U+F8F3.
              "80:- A0:- FD:- FE:- FF:-"},
    // The JIS X 0201 Roman table is shared with Shift_JIS and decodes 0x5C
    // and 0x7E as ASCII; the JIS X 0213 table is shared with EUC-JIS-2004,
    // whose reference decodes 1-1-32 as FULLWIDTH REVERSE SOLIDUS.
    // Python's Shift_JIS-2004 and ISO-2022-JP-2004 read 1-2-18 as TILDE,
    // its EUC-JIS-2004 as FULLWIDTH TILDE; the shared table takes the latter.
    {"shift_jis_2004", "5C:5C 7E:7E 815F:FF3C 81B0:FF5E"},
    {"iso2022_jp_2004", "1B2428512232:FF5E"},
    // KS X 1001 HANGUL FILLER stands alone in the shipped table; Python
    // reads A4D4 only as the start of an eight-byte composed syllable.
    {"euc_kr", "A4D4:3164"},
    // The EUC decoders reject 0x7F as a first byte.
    {"euc_jp", "7F:-"},
    {"euc_jis_2004", "7F:-"},
    // ESC ( J shares the JIS X 0201 Roman table with Shift_JIS.
    {"iso2022_jp", "1B284A5C:5C 1B284A7E:7E"},
};

// Python's EUC-JIS-2004 reads an SS3 code whose row JIS X 0213 plane 2 does
// not define as JIS X 0212; the shipped data has plane 2 only, so such codes
// are rejected (encoders never produced them: Python writes plane 1 or 2).
bool plane2Fallback(const std::string& codec, const Bytes& b) {
  if (codec != "euc_jis_2004" || b.size() != 3 || b[0] != 0x8F) return false;
  static const std::vector<int> rows = {1, 3, 4, 5, 8, 12, 13, 14, 15};
  int row = (b[1] & 0x7F) - 0x20;
  return row < 78 && std::find(rows.begin(), rows.end(), row) == rows.end();
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
  // and TILDE (Python's reading of 1-2-18, see above) are the ASCII bytes.
  if (codec == "shift_jis_2004" && (ucs == 0x5C || ucs == 0x7E))
    return Bytes{static_cast<std::uint8_t>(ucs)};
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

struct Case {
  const char* name;
  const char* codec;      // its reference, if any
  std::size_t manyToOne;  // codes that come back as another code
  const char* why;
  std::size_t rejected = 0;  // codes of the reference that do not decode
};

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
    // EUC-JP-FIX has no reference of its own: its forms of the EUC-JP codes
    // (eucJpFix) must read and write as Python's EUC-JP does the originals.
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
    // No reference: single bytes, or the Shift_JIS or EUC-JP codes in the
    // encoding's form, and the extensions.
    {"OASYS_WIN", "", 0, ""},
    {"OASYS_ONLINE", "", 0, ""},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

std::string testName(const ::testing::TestParamInfo<Case>& info) {
  std::string n = info.param.name;
  std::replace(n.begin(), n.end(), '-', '_');
  return n;
}

class Agreement : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override {
    shippedDir();
    ref_ = loadReference(GetParam().codec);
    fix_ = std::string(GetParam().name) == "EUC-JP-FIX";
    ASSERT_GT(ref_.decodes.size(), 100u);
  }
  // The code as this encoding spells it; empty when it has no form.
  Bytes form(const Bytes& b) const { return fix_ ? eucJpFix(b) : b; }
  void fail(const std::string& what) {
    if (++failures_ <= 20) ADD_FAILURE() << GetParam().name << " " << what;
  }
  Reference ref_;
  bool fix_ = false;
  int failures_ = 0;
};

TEST_P(Agreement, DecodesEveryCodeAsTheReference) {
  const std::string codec = GetParam().codec;
  std::map<std::string, std::optional<Cps>> dev;
  std::istringstream rules(fix_ || !kDecodeDeviations.count(codec) ? ""
                                                                   : kDecodeDeviations.at(codec));
  for (std::string r, cp; std::getline(rules >> std::ws, r, ':') && rules >> cp;)
    dev[r] = cp == "-" ? std::nullopt : std::optional<Cps>(Cps(1, std::stoul(cp, nullptr, 16)));
  std::size_t deviationsSeen = 0, fallbacks = 0, checked = 0;
  auto check = [&](const Bytes& bytes, std::optional<Cps> want) {
    if (auto it = dev.find(hexString(bytes)); it != dev.end()) {
      want = it->second;
      ++deviationsSeen;
    } else if (plane2Fallback(codec, bytes)) {
      want = std::nullopt;
      ++fallbacks;
    }
    Bytes code = form(bytes);
    if (code.empty()) return;
    ++checked;
    std::optional<Cps> got = decode(code, GetParam().name);
    if (got != want)
      fail(hexString(code) + ": got " + (got ? hexString(ucs4(*got)) : "rejection") +
           ", want " + (want ? hexString(ucs4(*want)) : "rejection"));
  };
  for (const auto& d : ref_.decodes) check(d.bytes, d.cps);
  if (!fix_)
    for (const auto& x : ref_.rejected) check(x, std::nullopt);
  EXPECT_EQ(failures_, 0);
  EXPECT_GT(checked, fix_ ? 13000u : 100u);
  EXPECT_EQ(deviationsSeen, dev.size()) << "a listed deviation names no code of the reference";
  if (codec == "euc_jis_2004") {
    EXPECT_GT(fallbacks, 5000u);
  }
}

TEST_P(Agreement, EncodesEveryCharacterAsTheReference) {
  const std::string codec = GetParam().codec;
  std::size_t checked = 0;
  auto check = [&](const Cps& cps, const Bytes& reference) {
    Bytes want = reference;
    if (cps.size() == 1)
      if (auto d = encodeDeviation(codec, cps[0], reference, ref_)) want = *d;
    want = form(want);
    if (fix_ && want.empty()) return;
    ConvertResult o = run(utf16(cps), "UTF-16", GetParam().name);
    Bytes got = o.status == CCONV_OK ? o.out : Bytes{};
    // ISO-2022-JP-2004 output designates JIS X 0213 plane 1 for every
    // double-byte character, where Python designates JIS X 0208 for its part;
    // both ISO-2022-JP encoders designate ASCII before the first character.
    if (codec.starts_with("iso2022")) {
      std::string w = hexString(want), g = hexString(got);
      for (std::size_t p = 0; codec == "iso2022_jp_2004" && (p = w.find("1B2442", p)) != w.npos;)
        if (p % 2) ++p; else w.replace(p, 6, "1B242851");
      if (!w.starts_with("1B2842") && g.starts_with("1B2842"))
        got.erase(got.begin(), got.begin() + 3);
      want = hexBytes(w);
    }
    ++checked;
    if (got != want)
      fail("U+" + hexString(utf16(cps)) + ": status " + std::to_string(o.status) + ", got " +
           hexString(o.out) + ", want " + hexString(want));
  };
  for (const auto& d : ref_.decodes)
    if (d.roundTrip) check(d.cps, d.bytes);
  for (const auto& [ucs, bytes] : ref_.encodes) check(Cps{ucs}, bytes);
  EXPECT_GT(checked, 100u);
  EXPECT_EQ(failures_, 0);
}

std::vector<Case> withReference() {
  std::vector<Case> v;
  std::copy_if(std::begin(kCases), std::end(kCases), std::back_inserter(v),
               [](const Case& c) { return c.codec[0] != '\0'; });
  return v;
}
INSTANTIATE_TEST_SUITE_P(Shipped, Agreement, ::testing::ValuesIn(withReference()), testName);

// The JIS and Microsoft forms of the characters where the two mappings part
// ways count as one character: every encoder takes both.
std::optional<Cps> folded(std::optional<Cps> v) {
  static const std::pair<std::uint32_t, std::uint32_t> kSame[] = {
      {0xFF5E, 0x301C}, {0x2225, 0x2016}, {0xFF0D, 0x2212}, {0xFFE0, 0x00A2},
      {0xFFE1, 0x00A3}, {0xFFE2, 0x00AC}, {0x2014, 0x2015}};
  if (v)
    for (std::uint32_t& u : *v)
      for (auto [ms, jis] : kSame)
        if (u == ms) u = jis;
  return v;
}

// The codes of an encoding in the form its encoder writes them: ISO-2022-JP
// output designates ASCII first and returns to it at the end.
std::vector<Bytes> codesOf(const Case& c) {
  const std::string name = c.name;
  std::vector<Bytes> out;
  auto add = [&](int lead0, int lead1, int lo, int hi) {  // lead -1: single bytes
    for (int lead = lead0; lead <= lead1; ++lead)
      for (int t = lo; t <= hi; ++t)
        out.push_back(lead < 0 ? Bytes{std::uint8_t(t)}
                               : Bytes{std::uint8_t(lead), std::uint8_t(t)});
  };
  if (name == "ISO-646IRV") add(-1, -1, 0, 0x7F);
  if (name == "OASYS_WIN") {  // the extension
    add(0xF0, 0xF9, 0x40, 0x7E);
    add(0xF0, 0xF9, 0x80, 0xFC);
  }
  if (name == "OASYS_ONLINE") {  // single bytes as 00 xx; the extension, rows 85-94 in EUC form
    add(0, 0, 0, 0x7F);
    add(0, 0, 0xA1, 0xDF);
    add(0xF5, 0xFE, 0xA1, 0xFE);
  }
  const Bytes ascii = {0x1B, 0x28, 0x42};
  const char* walk = name == "OASYS_WIN"      ? "shift_jis"
                     : name == "OASYS_ONLINE" ? "euc_jp"
                                              : c.codec;
  const Reference ref = walk[0] ? loadReference(walk) : Reference{};
  for (const auto& d : ref.decodes) {
    Bytes b = d.bytes;
    if (name == "EUC-JP-FIX") b = eucJpFix(b);
    if (name == "OASYS_ONLINE") {
      if (b.size() != 2 || b[0] < 0xA1) continue;
      b = {std::uint8_t(b[0] & 0x7F), std::uint8_t(b[1] & 0x7F)};
    }
    if (name.starts_with("ISO-2022"))
      b.insert(b[0] == 0x1B ? b.end() : b.begin(), ascii.begin(), ascii.end());
    if (!b.empty()) out.push_back(b);
  }
  return out;
}

class RoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(RoundTrip, EveryCodeThroughUtf8) {
  shippedDir();
  const Case c = GetParam();
  std::vector<Bytes> codes = codesOf(c);
  ASSERT_GT(codes.size(), 100u);
  std::size_t moved = 0, rejected = 0;
  int failures = 0;
  for (const Bytes& code : codes) {
    ConvertResult u = run(code, c.name, "UTF-8");
    if (u.status != CCONV_OK) {
      ++rejected;
      continue;
    }
    ConvertResult r = run(u.out, "UTF-8", c.name);
    bool ok = r.status == CCONV_OK && !u.out.empty();
    if (ok && r.out != code) {
      // Many-to-one: the other code must stand for the same character.
      ++moved;
      ok = folded(decode(r.out, c.name)) == folded(decode(code, c.name));
    }
    if (!ok && ++failures <= 20)
      ADD_FAILURE() << c.name << " " << hex(code) << "-> " << hex(u.out) << "(" << u.status
                    << ") -> " << hex(r.out) << "(" << r.status << ")";
  }
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(moved, c.manyToOne) << c.why;
  EXPECT_EQ(rejected, c.rejected);
}

// Converting in pieces, into little room, gives what converting at once
// gives, both ways.
TEST_P(RoundTrip, PiecewiseEqualsOneShot) {
  shippedDir();
  const Case c = GetParam();
  std::vector<Bytes> codes = codesOf(c);
  Bytes all;
  // UTF-8 input read in pieces may split a base character from the
  // combining mark that follows it: the decoder cannot look ahead past the
  // input it has, so the two come out as two characters. The JIS X 0213
  // pairs are left out of this walk.
  const bool pairs = std::string(c.name).find("2004") != std::string::npos;
  for (std::size_t i = 0; i < codes.size(); i += 7) {
    std::optional<Cps> cps = decode(codes[i], c.name);
    if (cps && !(pairs && cps->size() == 2))
      all.insert(all.end(), codes[i].begin(), codes[i].end());
  }
  ASSERT_GT(all.size(), 10u);
  ConvertResult whole = run(all, c.name, "UTF-8");
  ASSERT_EQ(whole.status, CCONV_OK)
      << hex(Bytes(all.begin() + whole.inPos, all.end())).substr(0, 24);
  EXPECT_TRUE(piecewiseSame("UTF-8", c.name, all, &kSrcBE, &kDstBE));
  EXPECT_TRUE(piecewiseSame(c.name, "UTF-8", whole.out, &kSrcBE, &kDstBE));
}

INSTANTIATE_TEST_SUITE_P(Shipped, RoundTrip, ::testing::ValuesIn(kCases), testName);

}  // namespace
}  // namespace zktest
