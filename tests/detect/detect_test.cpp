// Encoding detection through cconvChkEncode: ranges that make no sense, byte
// order marks, XML declarations in every width and order, the scorers and
// their table, the falling-threshold decision, the line-end census and the
// class of the name, and real Japanese text (a translated manual page,
// tests/detect/data) encoded by the peer iconv. Every buffer ends exactly at
// the end of its heap block, so that AddressSanitizer reports any read past
// inLen.
#include "detect/detect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <tuple>

#include "support/convert.h"

// Score sets below name only the fields that matter; the rest are zero.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace zktest {
namespace {

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes repeat(const Bytes& unit, std::size_t times) {
  return times == 0 ? Bytes{} : unit + repeat(unit, times - 1);
}

// ASCII text spread into units of `width` bytes, in the given order.
inline Bytes wide(const std::string& s, int width, bool bigEndian) {
  Bytes out;
  for (unsigned char c : s)
    for (int k = 0; k < width; ++k) out.push_back((bigEndian ? k == width - 1 : k == 0) ? c : 0);
  return out;
}

// A copy of `data` in a block of exactly its size.
inline std::unique_ptr<std::uint8_t[]> exactCopy(const Bytes& data) {
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[data.size()]);
  if (!data.empty()) std::memcpy(block.get(), data.data(), data.size());
  return block;
}

struct Detected {
  int ret;
  CconvChkRecord rec;
  std::string name() const { return rec.encodingName; }
};

// Runs cconvChkEncode on [pos, data.size()) of a record first filled with
// garbage, and checks that the call put back the range and that 0 goes with
// "unknown" and no class.
inline Detected detect(const Bytes& data, std::int32_t pos = 0) {
  const auto buf = exactCopy(data);
  Detected d{};
  std::memset(&d.rec, 0xA5, sizeof d.rec);
  d.rec.inBuf = buf.get(), d.rec.inPos = pos, d.rec.inLen = static_cast<std::int32_t>(data.size());
  d.ret = cconvChkEncode(&d.rec);
  EXPECT_TRUE(d.rec.inBuf == buf.get() && d.rec.inPos == pos &&
              d.rec.inLen == static_cast<std::int32_t>(data.size()));
  EXPECT_EQ(d.ret, d.rec.encodingClass == 0 ? 0 : 1);
  EXPECT_TRUE(d.ret != 0 || d.name() == "unknown") << d.name();
  d.rec.inBuf = nullptr;  // the block dies with this scope
  return d;
}

// What a call should report, {in, name, pos, decl, bom, be, nl, cls}: the
// name, whether a declaration and a mark were found, the byte order, the
// line-end kind and the class; a negative field (or a null name) is not checked.
struct Want {
  Bytes in;
  const char* name = nullptr;
  std::int32_t pos = 0;
  int decl = -1, bom = -1, be = -1, nl = -1, cls = -1;
};

inline void expectDetect(const std::vector<Want>& rows) {
  for (std::size_t k = 0; k < rows.size(); ++k) {
    const Want& w = rows[k];
    const Detected d = detect(w.in, w.pos);
    EXPECT_TRUE(w.name == nullptr || d.name() == w.name)
        << "row " << k << ": " << d.name() << ", not " << w.name << " " << hex(w.in);
    const int want[] = {w.decl, w.bom, w.be, w.nl, w.cls};
    const std::uint32_t got[] = {d.rec.xmlDeclared, d.rec.hasBom, d.rec.bigEndian,
                                 d.rec.newlineKind, d.rec.encodingClass};
    for (int f = 0; f < 5; ++f)
      EXPECT_TRUE(want[f] < 0 || got[f] == static_cast<std::uint32_t>(want[f]))
          << "row " << k << ": field " << f << " (decl, bom, be, nl, cls) is " << got[f];
  }
}

// At the end, past it, before the start, a negative length, at both
// extremes: "unknown", the range put back, and class, order, mark,
// declaration and line end at their defaults.
TEST(BadInput, EmptyOrSenselessRangesAreUnknownWithDefaults) {
  EXPECT_EQ(cconvChkEncode(nullptr), 0);
  const auto buf = exactCopy(bytesOf("<?xml encoding='EUC-JP'?>"));
  const std::pair<std::int32_t, std::int32_t> ranges[] = {
      {25, 25}, {30, 25}, {-1, 25}, {0, -1}, {INT32_MAX, 25}, {INT32_MIN, INT32_MIN}, {0, 100}};
  for (const auto& [pos, len] : ranges) {
    CconvChkRecord rec;
    std::memset(&rec, 0x5A, sizeof rec);
    rec.inBuf = len == 100 ? nullptr : buf.get(), rec.inPos = pos, rec.inLen = len;
    EXPECT_EQ(cconvChkEncode(&rec), 0);
    EXPECT_EQ(std::string(rec.encodingName, CCONV_TEXT_SIZE),
              "unknown" + std::string(CCONV_TEXT_SIZE - 7, '\0'));
    EXPECT_EQ(std::tuple(rec.inPos, rec.inLen, rec.encodingClass, rec.bigEndian, rec.hasBom,
                         rec.xmlDeclared, rec.newlineKind),
              std::tuple(pos, len, 0u, 1u, 0u, 0u, 0u));
  }
  for (std::size_t len : {1u, 4u, 17u, 5000u}) EXPECT_EQ(detect(Bytes(len, 0)).name(), "unknown");
}

TEST(Stages, MarksAndXmlDeclarations) {
  const std::string lines = "\r\n<doc>\x82\xA0\x82\xA2</doc>\r\n<x/>\r\n",
                    bare = "<?xml encoding='EUC-JP'?>\n";
  const std::string fits(258, 'n'), fitsWide(129, 'w');  // 129 units are 258 bytes
  const Bytes w16 = wide("<?xml", 2, false), u16be{0xFE, 0xFF}, u4le{0xFF, 0xFE, 0, 0};
  const auto w16le = [](const std::string& s) { return wide(s, 2, false); };
  // clang-format off
  std::vector<Want> rows = {
      // Each mark at inPos names its encoding and order; a mark alone is
      // enough; too short for the UCS-4 mark is UTF-16 and a NUL; a mark after
      // inPos is data; a partial mark is no mark.
      {{0xEF, 0xBB, 0xBF, 'A'}, "UTF-8", 0, 0, 1, 1, -1, 1},
      {{0xFF, 0xFE, 'A', 0}, "UTF-16", 0, 0, 1, 0, -1, 0x1002},
      {{0, 0, 0xFE, 0xFF, 0, 0, 0, 'A'}, "ISO-10646-UCS-4", 0, 0, 1, 1, -1, 0x1002},
      {u4le, "ISO-10646-UCS-4", 0, 0, 1, 0}, {{0xFF, 0xFE, 0x00}, "UTF-16", 0, 0, 1, 0},
      {bytesOf("ab") + u16be + Bytes{0, 'A'}, "UTF-16", 2, 0, 1, 1},
      {bytesOf("ab") + Bytes{0xEF, 0xBB, 0xBF} + bytesOf("cd"), nullptr, 0, -1, 0},
      {{0xEF, 0xBB, 'A', 'B'}, nullptr, 0, -1, 0},
      // The value as written, whatever the spacing, case of the keyword or quotes.
      {bytesOf("<?xml version='1.0' encoding=\"Shift_JIS'?>" + lines), "Shift_JIS", 0, 1, 0, -1, 1,
       1},
      // Only all upper or all lower case <?xml; the keyword may be mixed.
      {bytesOf("<?Xml version='1.0' encoding='EUC-JP'?>\n"), "ISO-646IRV", 0, 0},
      {bytesOf("<?xml version='1.0' Encoding='EUC-JP'?>\n"), "UTF-8", 0, 1},
      // The signature needs one byte beyond it; after a mark each form is
      // also tried two bytes on, but not three.
      {bytesOf("<?xml"), nullptr, 0, 0}, {bytesOf("<?xml "), nullptr, 0, 1},
      {Bytes(w16.begin(), w16.end() - 1), nullptr, 0, 0}, {w16, nullptr, 0, 1},
      // A one-byte declaration after a mark keeps the mark's order.
      {u16be + bytesOf("  " + bare), "EUC-JP", 0, 1, 1, 1},
      {Bytes{0xEF, 0xBB, 0xBF} + bytesOf(bare), nullptr, 0, 1, 1, 1},
      {u16be + bytesOf("   " + bare), "UTF-16", 0, 0}, {bytesOf("  " + bare), "ISO-646IRV", 0, 0},
      // The keyword only on the first line, though the value may run on past
      // its end; from the start of the buffer (a keyword at offset 0 is as good
      // as none, and a line end before inPos hides the declaration's own); and
      // within the 2048 bytes after inPos only.
      {bytesOf("<?xml version='1.0'\nencoding='EUC-JP'?>\n"), "UTF-8", 0, 1},
      {bytesOf("<?xml encoding=\n'EUC-JP'?>\n"), "EUC-JP"},
      {bytesOf("encoding'X'<?xml version='1.0'?>\n"), "UTF-8", 11, 1},
      {bytesOf(" encoding'X'<?xml version='1.0'?>\n"), "X", 12},
      {bytesOf("a\n" + bare), "UTF-8", 2, 1},
      {bytesOf("<?xml " + std::string(3000, ' ') + "encoding='EUC-JP'?>"), "UTF-8"},
      {bytesOf("<?xml " + std::string(2000, ' ') + "encoding='EUC-JP'?>"), "EUC-JP"},
      // Values that cannot be copied fall back to the width: never closed,
      // empty, or 259 bytes and more; the closing quote must lie before the
      // last byte. A NUL ends the name; wide units keep their low byte.
      {bytesOf("<?xml encoding=''?>\n"), "UTF-8"}, {bytesOf("<?xml encoding='EUC-JP'"), "UTF-8"},
      {bytesOf("<?xml encoding='EUC-JP'?"), "EUC-JP"},
      {bytesOf("<?xml encoding='" + fits + "'?>"), fits.c_str()},
      {bytesOf("<?xml encoding='" + fits + "n'?>"), "UTF-8"},
      {wide("<?xml encoding='" + fitsWide + "'?>", 2, true), fitsWide.c_str()},
      {wide("<?xml encoding='" + fitsWide + "w'?>", 2, true), "UTF-16"},
      {bytesOf(std::string("<?xml encoding='EU\0C'?>", 24)), "EU", 0, 1},
      // A UCS-4 mark's name survives a value that cannot be copied, but
      // without a keyword or with an empty value the width decides.
      {u4le + w16le("<?xml encoding='EUC-JP?>"), "ISO-10646-UCS-4", 0, 1},
      {u4le + w16le("<?xml version='1.0'?>"), "UTF-16"},
      {u4le + w16le("<?xml encoding=''?>"), "UTF-16"},
      // The class by the name itself: only the exact Unicode names.
      {bytesOf("<?xml encoding='UTF-16'?>\n"), "UTF-16", 0, -1, -1, -1, -1, 0x1002},
      {bytesOf("<?xml encoding='utf-16'?>\n"), "utf-16", 0, -1, -1, -1, -1, 1},
  };
  // clang-format on
  // Wide declarations in every width and order: without an encoding
  // attribute the width decides and the first byte the order; with one, its
  // value, each unit's low byte, read in the order found.
  for (int width : {2, 4})
    for (bool big : {false, true}) {
      const char* byWidth = width == 2 ? "UTF-16" : "ISO-10646-UCS-4";
      const Bytes bom =
          width == 2 ? (big ? u16be : Bytes{0xFF, 0xFE}) : (big ? Bytes{0, 0, 0xFE, 0xFF} : u4le);
      rows.push_back({wide("<?xml version=\"1.0\"?>\r\n<a>b</a>\r\n", width, big), byWidth, 0, 1,
                      -1, big, 1, 0x1002});
      rows.push_back({wide("<?xml version='1.0' encoding='EUC-JP'?>\n<a/>\n", width, big), "EUC-JP",
                      0, -1, -1, big, 3, 1});
      // Line ends are counted in units of the declaration's width.
      rows.push_back({bom + wide("<?xml encoding='ISO-10646-UCS-2'?>\r\n<a/>\r\n", width, big),
                      "ISO-10646-UCS-2", 0, 1, 1, -1, 1, 0x1002});
    }
  expectDetect(rows);
}

// The census counts line ends in the 2048 bytes from inPos; a line end in
// the last unit is not, nor the unit after a CR again. ISO-2022-JP has its
// own rule: there the other one would say CR LF.
TEST(LineEnds, Census) {
  const std::string ls = "\xE2\x80\xA8", ps = "\xE2\x80\xA9", kanji = "\x1B$B$\"$$\x1B(B";
  std::vector<Want> rows;
  // clang-format off
  const std::pair<std::string, int> eightBit[] = {
      {"one\rtwo\rthree", 2}, {"one\n\rtwo\n\rthree", 1}, {"a\r\nb\r\nc\nd\ne\nf", 3},
      {"a\r\nb\nc\rd", 1}, {"a\rb\nc\rd\ne", 0}, {"last\r", 0}, {"last\r\n", 1}, {"a\r\rb", 2},
      {"a" + ls + "b" + ls + "c\r\n", 4}, {"a" + ps + "b" + ps + "c\r\n", 5},
      {"a" + ls + "b" + ps + "c", 0}, {"a" + kanji + "\r\nb" + kanji + "\nc", 3},
      {"a" + kanji + "\rb" + kanji + "\nc\r\nd", 1}};
  // clang-format on
  for (const auto& [text, kind] : eightBit)
    rows.push_back({bytesOf(text), nullptr, 0, -1, -1, -1, kind});
  const Bytes tail = bytesOf("\nb\nc\n\n\n\n\n"), ls16 = {0x20, 0x28},
              word = wide("Hello", 2, true);
  rows.push_back({word + ls16 + word + ls16 + wide("Again\n", 2, true), "UTF-16", 0, -1, -1, 1, 4});
  // Fixed-width EUC in two-byte units: 00 0D 00 0A byte by byte would be a lone CR.
  rows.push_back(
      {repeat({0, 'a', 0xA4, 0xA2, 0, 'b', 0, '\r', 0, '\n'}, 4), "EUC-JP-FIX", 0, -1, -1, -1, 1});
  rows.push_back({Bytes(2040, 'a') + tail, nullptr, 0, -1, -1, -1, 3});
  rows.push_back({Bytes(2048, 'a') + tail, nullptr, 0, -1, -1, -1, 0});
  rows.push_back({Bytes(2048, 'a') + tail, nullptr, 2040, -1, -1, -1, 3});
  expectDetect(rows);
}

using zk::ChkScores;

enum Family { utf8, sjis, u16, u4, jis, euc, fix };

// The score of one family over an exact copy of `s`, with its two counts or
// pass scores (-1 where it has none).
std::array<long, 3> scoreOf(Family f, const std::string& s) {
  const auto buf = exactCopy(bytesOf(s));
  CconvChkRecord rec{};
  rec.inBuf = buf.get(), rec.inLen = static_cast<std::int32_t>(s.size());
  ChkScores c{};
  zk::chkScoreAll(&rec, &c);
  // clang-format off
  const std::array<long, 3> all[] = {{c.u8, c.multiCount, c.latinCount},
      {c.sj, c.dblCount, c.highCount}, {c.u16, c.u16be, c.u16le}, {c.u4, c.u4be, c.u4le},
      {c.jis, -1, -1}, {c.euc, -1, -1}, {c.fix, -1, -1}};
  // clang-format on
  return all[f];
}

TEST(Scorers, GoodAndBadUnitsOfEachFamily) {
  using namespace std::string_literals;
  struct Case {
    Family family;
    std::string in;
    int score;
    long a = -1, b = -1;  // checked when not negative
  };
  // clang-format off
  const Case cases[] = {
      // UTF-8: the smallest value of each length is good, one below it bad but
      // consumed whole; continuation bytes are not checked, leads are; a unit
      // cut by the end; FE and FF are skipped; a NUL or ESC as a first byte
      // ends with 0 but keeps the counts; Latin counts U+00A0..U+00FF only.
      {utf8, "a\xE0\xA0\x80\xF0\x90\x80\x80\xF8\x88\x80\x80\x80\xFC\x84\x80\x80\x80\x80"
             "\xFD\xBF\xBF\xBF\xBF\xBF", 10000, 5, 0},
      {utf8, "ab\xC1\xBF\xE0\x9F\xBF\xF0\x8F\xBF\xBF\xF8\x87\xBF\xBF\xBF\xFC\x83\xBF\xBF\xBF\xBF",
       2857, 0},
      {utf8, "\xC3\x41", 10000, 1, 1}, {utf8, "a\x7F\x80", 3333}, {utf8, "ab\xE3\x81", 5000},
      {utf8, "a\xFE\xFF\x62\xFF", 10000}, {utf8, "\xC3\xA9\xE3\x81\x82\0z"s, 0, 2, 1},
      {utf8, "abc\x1B$B", 0}, {utf8, "a\xC3\0"s, 10000},
      {utf8, "\xC2\x80\xC2\x9F\xC2\xA0\xC3\xBF\xC4\x80\xDF\xBF", 10000, 6, 2},
      // ISO-2022-JP: modes follow the escapes, starting in Roman; another
      // fourth byte keeps the mode; data ending inside a unit ends scoring.
      {jis, "ab\x1B$B$\"\x1B(Bc", 10000}, {jis, "\x1B$B$\" $\"\x1B(B", 6666},
      {jis, "\x1B$@$\"\x1B(J\r\n\xA4", 7500}, {jis, "\x1B$(D$\"\x1B(B", 10000},
      {jis, "a\x1B$(\x80\x62\x80", 6666}, {jis, "ab\x1B(Zcd", 5000},
      {jis, "\x1B(I\xB1\xB2 a", 7500},
      {jis, "\x1B$B$\x7F", 0}, {jis, "\x1B$B$\"\x7F$", 5000}, {jis, "ab\x1B$(", 10000},
      // EUC-JP by the lead (E0 is none: kanji of rows 64 to 84 pair out of
      // step); a NUL or ESC rules out only as a first byte. Fixed-width
      // EUC-JP: two-byte units, ASCII after a NUL.
      {euc, "\xA4\xA2\x8E\xB1\x8F\xA1\xA1\x61", 10000},
      {euc, "a\xA4\xA0\x8E\xE0\x8F\xA1\xA0", 2500},
      {euc, "a\x8F\xE0\xA1\xA1", 6666}, {euc, "\xE0\xA1\xA1\x61", 6666}, {euc, "a\xA4", 10000},
      {euc, "a\0"s, 0}, {euc, "a\x1B", 0}, {euc, "\xA4\0a"s, 5000},
      {fix, "\0a\xA4\xA2\0\xB1\xA4\x41"s, 10000}, {fix, "\0a\0\x80\xA4\x80\x61"s, 2500},
      {fix, "\xA4\xA2\x1B", 0}, {fix, "\xA4\xA2\0"s, 10000},
      // Shift_JIS: pairs first, then single bytes (889F..9872 is one range,
      // whatever the second byte); NUL, ESC or DEL alone end with 0.
      {sjis, "\x93\xFA\x96\x7B\x61", 10000, 2, 0}, {sjis, "\x89\0"s, 10000, 1},
      {sjis, "\xB1\xA0\xFD\x81\x39", 4000, 0, 3}, {sjis, "\x93\xFA\xB1\0a"s, 0, 1, 1},
      {sjis, "a\x1B", 0}, {sjis, "a\x7F", 0},
      // UTF-16 and UCS-4 passes in both orders; UTF-16 needs an ASCII unit; a
      // last odd byte is ignored. An upper half of 0x11 to 0x7F ends the UCS-4
      // pass with 0 despite good units; up to 0x10 the lower half decides, and
      // 0x80 and above is bad.
      {u16, "A\0B\0c\0\xFF"s, 10000, 0, 10000}, {u16, "\x30\x42\x30\x44", 0},
      {u16, "\x30\x42\0a\xFF\x21\xD8\0"s, 5000, 5000, 0},
      {u4, "A\0\0\0\x42\x30\0\0\xFF"s, 10000, 0, 10000},
      {u4, "\0\0\0A\0\0\0B\0\x11\0A"s, 0, 0}, {u4, "\0\x10\x30\x42\0\x80\0A"s, 5000, 5000},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.in));
    const auto [score, a, b] = scoreOf(c.family, c.in);
    EXPECT_EQ(score, c.score);
    EXPECT_TRUE(c.a < 0 || a == c.a) << a;
    EXPECT_TRUE(c.b < 0 || b == c.b) << b;
  }
}

// ---- decision -------------------------------------------------------------

enum Cand { kFix, kEuc, kU16, kU4, kSj, kU8 };
int ChkScores::*const kSlot[] = {&ChkScores::fix, &ChkScores::euc, &ChkScores::u16,
                                 &ChkScores::u4,  &ChkScores::sj,  &ChkScores::u8};
const char* kNames[] = {"EUC-JP-FIX", "EUC-JP", "UTF-16", "ISO-10646-UCS-4", "WINDOWS31J", "UTF-8"};

std::string decide(const ChkScores& s, std::uint32_t* bigEndian) {
  const char* n = zk::chkDecide(s, bigEndian);
  return n ? n : "";
}

TEST(Decision, EachComparisonMakesItsCandidateLose) {
  // Each candidate against the rivals fix, euc, u16, u4, sj, u8 in turn:
  // '>' the rival must be beaten, '=' a tie is enough.
  const char* const kRules[] = {" >>>>>", "= >>>>", "=> >>>", "=>> >>", "===> >", "===== "};
  for (int who = kFix; who <= kU8; ++who) {
    for (int rival = kFix; rival <= kU8; ++rival) {
      if (rival == who) continue;
      SCOPED_TRACE(std::string(kNames[who]) + " vs " + kNames[rival]);
      // The rival at one above, equal to and one below the candidate's 9500;
      // the counts make every candidate's name distinct.
      std::string got[3];
      for (int d = 0; d < 3; ++d) {
        ChkScores s{.multiCount = 1, .dblCount = 1};
        s.*kSlot[who] = 9500;
        s.*kSlot[rival] = 9501 - d;
        std::uint32_t be = 7;
        got[d] = decide(s, &be);
      }
      EXPECT_NE(got[0], kNames[who]);
      EXPECT_EQ(got[1] == kNames[who], kRules[who][rival] == '=');
      EXPECT_EQ(got[2], kNames[who]);
    }
  }
}

TEST(Decision, FallingThresholdNamesAndByteOrder) {
  const struct {
    ChkScores s;
    const char* name;
    int bigEndian = -1;
  } cases[] = {
      // clang-format off
      // ISO-2022-JP is compared with nothing, but takes only a step nobody
      // else takes; a lower score wins an earlier step over a later
      // candidate's lower step; tied Unicode candidates at the top let
      // neither win; a score must exceed the last threshold.
      {{.jis = 9950}, "ISO-2022-JP"}, {{.euc = 7000}, ""}, {{.euc = 7001}, "EUC-JP"},
      {{.euc = 9920, .jis = 9990}, "EUC-JP"}, {{.euc = 9900, .jis = 9950}, "ISO-2022-JP"},
      {{.sj = 9750, .u8 = 9850, .jis = 10000, .multiCount = 1, .dblCount = 1}, "ISO-2022-JP"},
      {{.u16 = 9900, .u4 = 9900, .sj = 8000, .dblCount = 1}, ""},
      {{.u16 = 9900, .u4 = 9900, .sj = 8000, .jis = 7500, .dblCount = 1}, "ISO-2022-JP"},
      // Names refined by the counts.
      {{.sj = 9901}, "ISO-646IRV"}, {{.sj = 9901, .highCount = 3}, "ISO-8859-1"},
      {{.sj = 9901, .dblCount = 1, .highCount = 3}, "WINDOWS31J"},
      {{.u8 = 10000, .latinCount = 1}, "ISO-8859-1"},
      {{.u8 = 10000, .multiCount = 1, .latinCount = 1}, "UTF-8"},
      // The byte order from the pass scores; a tie is read as low byte first.
      {{.u16 = 9500, .u16be = 9500, .u16le = 9000}, "UTF-16", 1},
      {{.u16 = 9500, .u16be = 9500, .u16le = 9500}, "UTF-16", 0},
      {{.u4 = 9500, .u4be = 9600, .u4le = 9500}, "ISO-10646-UCS-4", 1},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.s));
    std::uint32_t be = 7;
    EXPECT_EQ(decide(c.s, &be), c.name);
    EXPECT_TRUE(c.bigEndian < 0 || be == static_cast<std::uint32_t>(c.bigEndian)) << be;
  }
}

// Real Japanese text (a translated manual page, tests/detect/data) in every
// family, encoded by the peer iconv, and its first 300 bytes.
TEST(RealText, EveryFamilyIsNamed) {
  std::ifstream file(ZK_SOURCE_DIR "/tests/detect/data/futex.7.ja.txt", std::ios::binary);
  const std::string page((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  // clang-format off
  const std::tuple<const char*, const char*, unsigned> families[] = {
      {"UTF-8", "UTF-8", 1}, {"CP932", "WINDOWS31J", 1}, {"EUC-JP", "EUC-JP", 1},
      {"ISO-2022-JP", "ISO-2022-JP", 1}, {"UTF-16LE", "UTF-16", 0}, {"UTF-16BE", "UTF-16", 1},
      {"UCS-4LE", "ISO-10646-UCS-4", 0}, {"UCS-4BE", "ISO-10646-UCS-4", 1}};
  // clang-format on
  for (const auto& [peerName, name, big] : families)
    for (const std::string& text : {page.substr(0, 297), page}) {  // 297: whole characters
      const Detected d = detect(peer(peerName, "UTF-8", bytesOf(text), true));
      EXPECT_TRUE(d.name() == name && d.rec.bigEndian == big)
          << peerName << " " << text.size() << ": " << d.name();
    }
}

}  // namespace
}  // namespace zktest
