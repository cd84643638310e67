// Every code of every shipped legacy encoding, decoded through the exported
// calls, against vectors taken from Python's codecs
// (tests/data/ref, made by tools/gen_reference.py). Where the shipped data
// follows a convention of its own the expected result is spelled out below,
// by code, with its reason; any other difference fails.
//
// And every code goes to UTF-8 and back, whole and in pieces. A code comes
// back as itself unless it shares its character with another code of the
// same encoding (the many-to-one cases, counted below per encoding); then it
// comes back as that other code and the character is kept.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "frame/state.h"
#include "support/convert.h"
#include "support/testdir.h"

namespace zktest {
namespace {

const CconvSrcOptions kSrcBE{1, 0, 0};
const CconvDstOptions kDstBE{1, 0, 0, 0, {}, 0, 0, 0};

ConvertResult run(const Bytes& in, const char* source, const char* target) {
  return convert(target, source, in, &kSrcBE, &kDstBE);
}
std::string hexString(const Bytes& b) {
  std::string s = hex(b);
  return std::erase(s, ' '), s;
}
// What `in` decodes to, as UCS-4 hex, or "-" when it does not convert.
std::string decode(const Bytes& in, const char* source) {
  const ConvertResult r = run(in, source, "ISO-10646-UCS-4");
  return r.status == CCONV_OK ? hexString(r.out) : "-";
}

// A file of tests/data/ref: the codes Python decodes (D lines: bytes, code
// points) as {bytes, UCS-4 hex}, and those it rejects (X lines) as {bytes, "-"}.
std::vector<std::pair<Bytes, std::string>> loadReference(const std::string& codec) {
  std::vector<std::pair<Bytes, std::string>> ref;
  std::ifstream in(ZK_SOURCE_DIR "/tests/data/ref/" + codec + ".txt");
  for (std::string line, kind, a, b; std::getline(in, line);) {
    std::istringstream(line) >> kind >> a >> b;
    std::string ucs4;
    std::istringstream cs(b);
    for (std::string cp; kind == "D" && std::getline(cs, cp, ',');)
      ucs4 += std::string(8 - cp.size(), '0') + cp;
    if (kind == "D" || kind == "X") ref.push_back({hexBytes(a), kind == "D" ? ucs4 : "-"});
  }
  return ref;
}

// The EUC-JP-FIX form of an EUC-JP code (00 xx for single bytes and SS2, the
// JIS X 0212 code with the high bit of its first byte only), empty for none.
Bytes eucJpFix(const Bytes& b) {
  if (b.size() == 1) return b[0] < 0x7F ? Bytes{0x00, b[0]} : Bytes{};
  if (b.size() == 2) return b[0] == 0x8E ? Bytes{0x00, b[1]} : b;
  return {b[1], static_cast<std::uint8_t>(b[2] & 0x7F)};
}

// Expected decoding where the shipped data or the compiled-in decoders
// differ from Python: code:code point (UCS-4), or code:- for "rejected".
const std::map<std::string, std::string> kDecodeDeviations = {
    // One JIS X 0208 table serves Shift_JIS, Windows-31J, EUC-JP and
    // ISO-2022-JP; it decodes to the JIS forms, which Windows-31J's reference
    // replaces by Microsoft's. The encoders accept both forms. The Windows-31J
    // decoder takes 80, A0, FD-FF as lead bytes of a pair; the reference maps
    // them to U+0080 and U+F8F0..U+F8F3.
    {"cp932",
     "8160:0000301C 8161:00002016 817C:00002212 8191:000000A2 8192:000000A3 81CA:000000AC "
     "80:- A0:- FD:- FE:- FF:-"},
    // The JIS X 0201 Roman table is shared with Shift_JIS and decodes 0x5C
    // and 0x7E as ASCII; the JIS X 0213 table is shared with EUC-JIS-2004,
    // whose reference decodes 1-1-32 as FULLWIDTH REVERSE SOLIDUS.
    // Python's Shift_JIS-2004 and ISO-2022-JP-2004 read 1-2-18 as TILDE,
    // its EUC-JIS-2004 as FULLWIDTH TILDE; the shared table takes the latter.
    {"shift_jis_2004", "5C:0000005C 7E:0000007E 815F:0000FF3C 81B0:0000FF5E"},
    {"iso2022_jp_2004", "1B2428512232:0000FF5E"},
    // KS X 1001 HANGUL FILLER stands alone in the shipped table; Python
    // reads A4D4 only as the start of an eight-byte composed syllable.
    {"euc_kr", "A4D4:00003164"},
    // The EUC decoders reject 0x7F as a first byte; ESC ( J shares the
    // JIS X 0201 Roman table with Shift_JIS.
    {"euc_jp", "7F:-"},
    {"euc_jis_2004", "7F:-"},
    {"iso2022_jp", "1B284A5C:0000005C 1B284A7E:0000007E"},
};

// Python's EUC-JIS-2004 reads an SS3 code whose row JIS X 0213 plane 2 does
// not define as JIS X 0212; the shipped data has plane 2 only, so such codes
// are rejected (encoders never produced them: Python writes plane 1 or 2).
bool plane2Fallback(const std::string& codec, const Bytes& b) {
  const int row = b.size() == 3 ? (b[1] & 0x7F) - 0x20 : 0;
  return codec == "euc_jis_2004" && b[0] == 0x8F && row < 78 && row != 1 && row != 8 &&
         (row < 3 || row > 5) && (row < 12 || row > 15);
}

// The JIS and Microsoft forms of the characters where the two mappings part
// ways count as one character: every encoder takes both.
std::string folded(std::string v) {
  static const std::map<std::string, std::string> kSame = {
      {"0000FF5E", "0000301C"}, {"00002225", "00002016"}, {"0000FF0D", "00002212"},
      {"0000FFE0", "000000A2"}, {"0000FFE1", "000000A3"}, {"0000FFE2", "000000AC"},
      {"00002014", "00002015"}};
  for (std::size_t i = 0; i + 8 <= v.size(); i += 8)
    if (auto it = kSame.find(v.substr(i, 8)); it != kSame.end()) v.replace(i, 8, it->second);
  return v;
}

struct Case {
  const char* name;
  const char* codec;         // its reference, or the one whose codes it walks
  std::size_t manyToOne;     // codes that come back as another code
  std::size_t rejected = 0;  // codes of the reference that do not decode
  bool reference = true;     // false: the codes of another encoding, walked
};

const Case kCases[] = {
    {"Shift_JIS", "shift_jis", 0},
    // NEC row 13 characters that IBM's extension repeats come back in NEC
    // row 13; NEC-selected IBM extensions come back as IBM extensions; the
    // NEC row 13 and extension forms of characters JIS X 0208 has (such as
    // 0x8790 for U+2252 and 0xEEF9, 0xFA54 for U+FFE2) come back in JIS X 0208.
    {"WINDOWS31J", "cp932", 398, 5},
    {"Shift_JIS-2004", "shift_jis_2004", 0},
    // JIS X 0212 0x2237 TILDE decodes to U+007E, which is written as ASCII.
    {"EUC-JP", "euc_jp", 1, 1},
    // EUC-JP-FIX has no reference of its own: its forms of the EUC-JP codes
    // must read and write as Python's EUC-JP does the originals.
    {"EUC-JP-FIX", "euc_jp", 1},
    // Python's JIS X 0212 supplement (SS3 rows that plane 2 lacks) is not shipped.
    {"EUC-JIS-2004", "euc_jis_2004", 0, 1 + 6067},
    // ESC ( J text and ESC $ @ text come back as ESC ( B and ESC $ B: the sets
    // decode to the same characters as ASCII and JIS X 0208. ESC $ B text
    // comes back in ISO-2022-JP-2004 as ESC $ ( Q, the plane 1 designation.
    {"ISO-2022-JP", "iso2022_jp", 94 + 6879},
    {"ISO-2022-JP-2004", "iso2022_jp_2004", 6879},
    {"GBK", "gbk", 0},
    // Big5 has two codes each for U+FF0F, U+FF3C, U+5341 and U+5345; the
    // second of each pair comes back as the one Python writes.
    {"Big5", "big5", 4},
    {"EUC-KR", "euc_kr", 0},
    {"ISO-8859-1", "latin-1", 0},
    // No reference: the Shift_JIS or EUC-JP codes in the encoding's form.
    {"OASYS_WIN", "shift_jis", 0, 0, false},
    {"OASYS_ONLINE", "euc_jp", 0, 0, false},
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

// The codes of an encoding in the form its encoder writes them: ISO-2022-JP
// output designates ASCII first and returns to it at the end. OASYS_WIN adds
// its extension, OASYS_ONLINE its single bytes as 00 xx and its extension,
// rows 85-94 in EUC form.
std::vector<Bytes> codesOf(const Case& c) {
  const std::string name = c.name;
  std::vector<Bytes> out;
  auto add = [&](int lead0, int lead1, int lo, int hi) {
    for (int lead = lead0; lead <= lead1; ++lead)
      for (int t = lo; t <= hi; ++t) out.push_back({std::uint8_t(lead), std::uint8_t(t)});
  };
  if (name == "OASYS_WIN") add(0xF0, 0xF9, 0x40, 0x7E), add(0xF0, 0xF9, 0x80, 0xFC);
  if (name == "OASYS_ONLINE")
    add(0, 0, 0, 0x7F), add(0, 0, 0xA1, 0xDF), add(0xF5, 0xFE, 0xA1, 0xFE);
  for (const auto& [code, ucs4] : loadReference(c.codec)) {
    Bytes b = ucs4 == "-" ? Bytes{} : name == "EUC-JP-FIX" ? eucJpFix(code) : code;
    if (name == "OASYS_ONLINE")
      b = b.size() == 2 && b[0] >= 0xA1
              ? Bytes{std::uint8_t(b[0] & 0x7F), std::uint8_t(b[1] & 0x7F)}
              : Bytes{};
    if (!b.empty() && name.starts_with("ISO-2022"))
      b = b[0] == 0x1B ? b + hexBytes("1B2842") : hexBytes("1B2842") + b;
    if (!b.empty()) out.push_back(b);
  }
  return out;
}

class Shipped : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { shippedDir(); }
  int failures = 0;
  void fail(const std::string& what) {
    if (++failures <= 20) ADD_FAILURE() << GetParam().name << " " << what;
  }
};

// Every code of the reference decodes as Python decodes it, but for the
// listed deviations. Every code goes to UTF-8 and back; then a sample of them
// at once, in every split of input and output. UTF-8 read in pieces may part a
// base character from the combining mark that follows it (the decoder does not
// wait for more input), so the JIS X 0213 pairs are left out of that walk.
TEST_P(Shipped, DecodesAsPythonAndEveryCodeComesBackThroughUtf8) {
  const Case c = GetParam();
  const std::string name = c.name, codec = c.codec;
  const bool fix = name == "EUC-JP-FIX";
  std::map<std::string, std::string> dev;
  std::istringstream rules(
      fix || !c.reference || !kDecodeDeviations.count(codec) ? "" : kDecodeDeviations.at(codec));
  for (std::string r, ucs4; std::getline(rules >> std::ws, r, ':') && rules >> ucs4;) dev[r] = ucs4;
  std::size_t deviations = 0, checked = 0;
  for (auto [bytes, want] :
       c.reference ? loadReference(codec) : std::vector<std::pair<Bytes, std::string>>{}) {
    if (auto it = dev.find(hexString(bytes)); it != dev.end()) want = it->second, ++deviations;
    if (plane2Fallback(codec, bytes)) want = "-";
    const Bytes code = fix ? eucJpFix(bytes) : bytes;
    if (code.empty() || (fix && want == "-")) continue;
    ++checked;
    if (const std::string got = decode(code, c.name); got != want)
      fail(hexString(code) + ": " + got + ", not " + want);
  }
  EXPECT_EQ(deviations, dev.size()) << "a listed deviation names no code of the reference";
  EXPECT_TRUE(!c.reference || checked > (fix ? 13000u : 100u)) << checked;
  const std::vector<Bytes> codes = codesOf(c);
  std::size_t moved = 0, rejected = 0;
  Bytes sample;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    const ConvertResult u = run(codes[i], c.name, "UTF-8"), r = run(u.out, "UTF-8", c.name);
    if (u.status != CCONV_OK && ++rejected) continue;
    bool ok = r.status == CCONV_OK && !u.out.empty();
    if (ok && r.out != codes[i])
      ++moved, ok = folded(decode(r.out, c.name)) == folded(decode(codes[i], c.name));
    if (!ok) fail(hex(codes[i]) + "-> " + hex(u.out) + "-> " + hex(r.out));
    if (i % 7 == 0 && !(name.ends_with("2004") && decode(codes[i], c.name).size() == 16))
      sample = sample + codes[i];
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(codes.size(), 100u);
  EXPECT_EQ(std::make_pair(moved, rejected), std::make_pair(c.manyToOne, fix ? 0 : c.rejected));
  const ConvertResult whole = run(sample, c.name, "UTF-8");
  ASSERT_EQ(whole.status, CCONV_OK)
      << hex(Bytes(sample.begin() + whole.inPos, sample.end())).substr(0, 24);
  EXPECT_TRUE(piecewiseSame("UTF-8", c.name, sample, &kSrcBE, &kDstBE));
  EXPECT_TRUE(piecewiseSame(c.name, "UTF-8", whole.out, &kSrcBE, &kDstBE));
}

// Long text converts as its characters do one by one (short calls take the
// general path), bases of JIS X 0213 pairs included: with and without their
// combining mark, at either place of a two-character step, next to ASCII
// runs of every length; and with line ends converted to CR LF. From UTF-8,
// and from UTF-16 (to UTF-8 as well).
TEST(ShippedDirectory, LongTextAsItsCharactersAloneWithPairs) {
  shippedDir();
  const std::vector<std::string> units = {
      "\u6f22", "\u5b57",       "\u304b", "\u304b\u309a", "\u30bb\u309a",
      "\u30c8", "\u30c8\u309a", " ",      "\n",           "a",
      "\uff76", "\u00e6\u0300", "ab",     "(x, y);",      "sixteen bytes ok",
      "\u0300"};  // a mark alone, so that the loops know it by itself
  const CconvDstOptions crlf{1, 0, 0, 0, {}, 1, 1, 0};
  for (const std::string source : {"UTF-8", "UTF-16"})
  for (const CconvDstOptions* dst : {&kDstBE, &crlf})
    for (const char* target : {"Shift_JIS-2004", "EUC-JIS-2004", "UTF-16", "ISO-10646-UCS-2", "UTF-8"}) {
      if (source == target) continue;
      Bytes text, want, unpaired;  // unpaired: the text without the pairs
      std::int32_t inChars = 0, outChars = 0;
      unsigned seed = 7;
      for (int i = 0; i < 3000; ++i) {
        seed = seed * 1103515245u + 12345u;
        const std::string& u = units[(seed >> 16) % units.size()];
        Bytes b(u.begin(), u.end());
        if (source == "UTF-16") b = convert("UTF-16", "UTF-8", b, &kSrcBE, &kDstBE).out;
        const ConvertResult one = convert(target, source.c_str(), b, &kSrcBE, dst);
        ASSERT_EQ(one.status, CCONV_OK) << target << " " << u;
        text = text + b;
        want = want + one.out;
        if (u.find("\u309a") == std::string::npos && u.find("\u0300") == std::string::npos)
          unpaired = unpaired + b;
        inChars += one.inChars;
        outChars += one.outChars;
      }
      const ConvertResult all = convert(target, source.c_str(), text, &kSrcBE, dst);
      EXPECT_EQ(hex(all.out), hex(want)) << source << " to " << target;
      EXPECT_EQ(std::make_pair(all.inChars, all.outChars), std::make_pair(inChars, outChars))
          << source << " to " << target;
      // In pieces, loops end anywhere: nothing is written past outPos (checked
      // by convert). Without the pairs, as a piece may end inside one.
      EXPECT_EQ(hex(convert(target, source.c_str(), unpaired, &kSrcBE, dst, 61).out),
                hex(convert(target, source.c_str(), unpaired, &kSrcBE, dst).out))
          << source << " to " << target;
    }
  // ISO-2022-JP keeps a designation from character to character, so its text
  // is not the sum of its units. In pieces under 32 bytes every character
  // takes the general path, which the bulk path must match.
  const std::vector<std::string> jis = {"\u6f22", "\u5b57", "\u304b", "\u30c8", " ", "\n", "a", "(x, y);"};
  Bytes text;
  unsigned seed = 11;
  for (int i = 0; i < 2000; ++i) {
    seed = seed * 1103515245u + 12345u;
    const std::string& u = jis[(seed >> 16) % jis.size()];
    text.insert(text.end(), u.begin(), u.end());
  }
  const Bytes utf16 = convert("UTF-16", "UTF-8", text, &kSrcBE, &kDstBE).out;
  for (const CconvDstOptions* dst : {&kDstBE, &crlf})
    for (const char* target : {"ISO-2022-JP", "ISO-2022-JP-2004"})
      for (const auto& [source, in] : {std::pair<const char*, const Bytes*>{"UTF-8", &text}, {"UTF-16", &utf16}})
        EXPECT_EQ(hex(convert(target, source, *in, &kSrcBE, dst).out),
                  hex(convert(target, source, *in, &kSrcBE, dst, 13).out))
            << source << " to " << target;
}

// The shipped directory as a whole: every rule file loads, and the plain
// Unicode rules (which take a fast path) and the tag-reading ones agree on
// text without tags.
TEST(ShippedDirectory, LoadsWholeAndTheUnicodeRulesAgree) {
  shippedDir();
  std::size_t xml = 0;
  for (const auto& e : std::filesystem::directory_iterator(ZK_SOURCE_DIR "/data/base2"))
    xml += e.path().extension() == ".xml";
  ASSERT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(static_cast<std::size_t>(zk::gState.rulesLoadedCount), xml);
  // BMP, a supplementary ideograph, plane 3, a variation selector, the private
  // use area, the last BMP value and NUL.
  // Three times over, so that the plain rules' calls take the bulk path,
  // which leaves plane 3 and beyond to the general one.
  const std::string once = "A\u3042\uE000\uFFFD\U00020B9F\U00030000\U0001F600\U000E0100\uFFFF",
                    text = once + once + once;
  const Bytes in = Bytes(text.begin(), text.end()) + Bytes{0};
  const ConvertResult plain = convert("UTF-16", "UTF-8", in),
                      tagged = convert("UTF-16-TAGS", "UTF-8-TAGS", in);
  EXPECT_EQ(std::make_pair(plain.status, tagged.status), std::make_pair(0u, 0u));
  EXPECT_EQ(tagged.out, plain.out);
  EXPECT_EQ(convert("UTF-8", "UTF-16", plain.out).out, in);
}

std::string testName(const ::testing::TestParamInfo<Case>& info) {
  std::string n = info.param.name;
  std::replace(n.begin(), n.end(), '-', '_');
  return n;
}
INSTANTIATE_TEST_SUITE_P(Encodings, Shipped, ::testing::ValuesIn(kCases), testName);

}  // namespace
}  // namespace zktest
