// The scorers, their two tables and the falling-threshold decision.
#include <gtest/gtest.h>
#include <iconv.h>

#include <array>
#include <string>

#include "detect_support.h"

// Score sets below name only the fields that matter; the rest are zero.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

using zkdetect::Bytes;
using zkdetect::bytesOf;
using zkdetect::detect;
using zkdetect::repeat;
using zkdetect::operator+;
using zk::ChkScores;

// ---- tables ---------------------------------------------------------------

TEST(Ucs2Table, EdgesOfTheRowsThatMatterToUtf16) {
  // Controls, a row's two ranges, the kanji block with its deliberate gap
  // U+4EA6..U+4EFF, Hangul, surrogates, private use, the mark, the forms.
  for (unsigned unit : {0x000D, 0x0020, 0x00A0, 0x30FE, 0x4EA5, 0x4F00, 0x9FA5, 0xAC00, 0xD7A3,
                        0xF900, 0xFE20, 0xFFCA, 0xFFEE}) {
    EXPECT_TRUE(zk::isUcs2Assigned(unit >> 8, unit & 0xFF)) << std::hex << unit;
  }
  for (unsigned unit : {0x000B, 0x007F, 0x009F, 0x30FF, 0x4EA6, 0x4EFF, 0x9FA6, 0xD7A4, 0xD800,
                        0xF8FF, 0xFEFF, 0xFF00, 0xFF21, 0xFFEF}) {
    EXPECT_FALSE(zk::isUcs2Assigned(unit >> 8, unit & 0xFF)) << std::hex << unit;
  }
}

TEST(SjisTable, AgreesWithThePeerOnEveryDoubleBytePair) {
  // Every pair with a lead and a second byte of Shift_JIS is in the table
  // exactly when the peer decodes it as Windows-31J (CP932), but for 875E,
  // which the range 8740..8775 of NEC row 13 in the table takes in.
  iconv_t cd = iconv_open("UCS-2BE", "CP932");
  ASSERT_NE(cd, reinterpret_cast<iconv_t>(-1));
  int pairs = 0;
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (lead == 0xA0) lead = 0xE0;
    for (unsigned trail = 0x40; trail <= 0xFC; ++trail) {
      if (trail == 0x7F) continue;
      char in[2] = {static_cast<char>(lead), static_cast<char>(trail)}, out[4];
      char *inp = in, *outp = out;
      std::size_t inLeft = 2, outLeft = sizeof out;
      const bool peer = iconv(cd, &inp, &inLeft, &outp, &outLeft) == 0 && outLeft == 2;
      pairs += peer;
      EXPECT_EQ(zk::isSjisCode(lead << 8 | trail), peer || (lead << 8 | trail) == 0x875E)
          << std::hex << (lead << 8 | trail);
    }
  }
  iconv_close(cd);
  EXPECT_GT(pairs, 7000);
  for (unsigned pair : {0x0041u, 0xA0A0u, 0xDFDFu, 0xFFFFu}) EXPECT_FALSE(zk::isSjisCode(pair));
}

TEST(PeerRepertoires, KanaAndKanjiOfJisX0208PassTheUnitTable) {
  // Every kana and kanji of JIS X 0208 rows 4, 5 and 16 to 84, as the peer
  // decodes them from EUC-JP.
  std::string euc;
  for (int row = 4; row <= 84; row = row == 5 ? 16 : row + 1) {
    for (int cell = 1; cell <= 94; ++cell) euc += {char(0xA0 + row), char(0xA0 + cell)};
  }
  Bytes ucs;
  ASSERT_TRUE(zkdetect::peerConvert(euc, "EUC-JP", "UCS-2BE", &ucs));
  ASSERT_GT(ucs.size(), 2u * 6000);
  int gap = 0;
  for (std::size_t k = 0; k + 1 < ucs.size(); k += 2) {
    const int unit = ucs[k] << 8 | ucs[k + 1];
    // The table leaves out U+4EA6 to U+4EFF on purpose; it holds some real
    // kanji, which count against UTF-16 and UCS-4.
    const bool inGap = unit >= 0x4EA6 && unit <= 0x4EFF;
    gap += inGap;
    EXPECT_EQ(zk::isUcs2Assigned(ucs[k], ucs[k + 1]), !inGap) << std::hex << unit;
  }
  EXPECT_GT(gap, 0);
}

// ---- scorers --------------------------------------------------------------

enum Family { utf8, sjis, u16, u4, jis, euc, fix };

// The score of one family over an exact copy of `s`, with its two counts or
// pass scores (-1 where it has none).
std::array<long, 3> scoreOf(Family f, const std::string& s) {
  const auto buf = zkdetect::exactCopy(bytesOf(s));
  CconvChkRecord rec{};
  rec.inBuf = buf.get();
  rec.inLen = static_cast<std::int32_t>(s.size());
  ChkScores c{};
  zk::chkScoreAll(&rec, &c);
  const std::array<long, 3> all[] = {{c.u8, c.multiCount, c.latinCount},
                                     {c.sj, c.dblCount, c.highCount},
                                     {c.u16, c.u16be, c.u16le},
                                     {c.u4, c.u4be, c.u4le},
                                     {c.jis, -1, -1},
                                     {c.euc, -1, -1},
                                     {c.fix, -1, -1}};
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
  const Case cases[] = {
      // UTF-8: the smallest value of each length is good, one below it bad
      // but consumed whole; continuation bytes are not checked, leads are.
      {utf8,
       "a\xE0\xA0\x80\xF0\x90\x80\x80\xF8\x88\x80\x80\x80\xFC\x84\x80\x80\x80\x80"
       "\xFD\xBF\xBF\xBF\xBF\xBF",
       10000, 5, 0},
      {utf8, "ab\xC1\xBF\xE0\x9F\xBF\xF0\x8F\xBF\xBF\xF8\x87\xBF\xBF\xBF\xFC\x83\xBF\xBF\xBF\xBF",
       2857, 0},
      {utf8, "\xC3\x41", 10000, 1, 1},
      {utf8, "a\x7F\x80", 3333},
      {utf8, "ab\xE3\x81", 5000},          // a unit cut by the end
      {utf8, "a\xFE\xFF\x62\xFF", 10000},  // FE and FF are skipped
      // A NUL or ESC as a first byte ends with 0 but keeps the counts.
      {utf8, "\xC3\xA9\xE3\x81\x82\0z"s, 0, 2, 1},
      {utf8, "abc\x1B$B", 0},
      {utf8, "a\xC3\0"s, 10000},
      // Latin counts U+00A0..U+00FF only.
      {utf8, "\xC2\x80\xC2\x9F\xC2\xA0\xC3\xBF\xC4\x80\xDF\xBF", 10000, 6, 2},
      // ISO-2022-JP: modes follow the escapes, starting in Roman.
      {jis, "ab\x1B$B$\"\x1B(Bc", 10000},
      {jis, "\x1B$B$\" $\"\x1B(B", 6666},
      {jis, "\x1B$@$\"\x1B(J\r\n\xA4", 7500},
      {jis, "\x1B$(D$\"\x1B(B", 10000},
      {jis, "a\x1B$(\x80\x62\x80", 6666},  // another fourth byte keeps the mode
      {jis, "ab\x1B(Zcd", 5000},
      {jis, "\x1B(I\xB1\xB2 a", 7500},
      {jis, "\x1B$B$\x7F", 0},
      // Data ending inside a unit ends scoring.
      {jis, "\x1B$B$\"\x7F$", 5000},
      {jis, "ab\x1B$", 10000},
      {jis, "ab\x1B$(", 10000},
      // EUC-JP by the lead; a NUL or ESC rules out only as a first byte.
      {euc, "\xA4\xA2\x8E\xB1\x8F\xA1\xA1\x61", 10000},
      {euc, "a\xA4\xA0\x8E\xE0\x8F\xA1\xA0", 2500},
      {euc, "a\x8F\xE0\xA1\xA1", 6666},
      {euc, "\xE0\xA1\xA1\x61", 6666},  // E0 is no lead: kanji of rows 64 to 84 pair out of step
      {euc, "a\xA4", 10000},
      {euc, "a\0"s, 0},
      {euc, "a\x1B", 0},
      {euc, "\xA4\0a"s, 5000},
      // Fixed-width EUC-JP: two-byte units, ASCII after a NUL.
      {fix, "\0a\xA4\xA2\0\xB1\xA4\x41"s, 10000},
      {fix, "\0a\0\x80\xA4\x80\x61"s, 2500},
      {fix, "\xA4\xA2\x1B", 0},
      {fix, "\xA4\xA2\0"s, 10000},
      // Shift_JIS: pairs first, then single bytes; NUL, ESC or DEL alone end with 0.
      {sjis, "\x93\xFA\x96\x7B\x61", 10000, 2, 0},
      {sjis, "\x89\0"s, 10000, 1},  // 889F..9872 is one range, whatever the second byte
      {sjis, "\xB1\xA0\xFD\x81\x39", 4000, 0, 3},
      {sjis, "\x93\xFA\xB1\0a"s, 0, 1, 1},
      {sjis, "a\x1B", 0},
      {sjis, "a\x7F", 0},
      // UTF-16 and UCS-4 passes in both orders; UTF-16 needs an ASCII unit; a
      // last odd byte is ignored.
      {u16, "A\0B\0c\0\xFF"s, 10000, 0, 10000},
      {u16, "\x30\x42\x30\x44", 0},
      {u16, "\x30\x42\0a\xFF\x21\xD8\0"s, 5000, 5000, 0},
      {u4, "A\0\0\0\x42\x30\0\0\xFF"s, 10000, 0, 10000},
      // An upper half of 0x11 to 0x7F ends the pass with 0 despite good units;
      // up to 0x10 the lower half decides, and 0x80 and above is bad.
      {u4, "\0\0\0A\0\0\0B\0\x11\0A"s, 0, 0},
      {u4, "\0\x10\x30\x42\0\x80\0A"s, 5000, 5000},
  };
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
      {{.jis = 9950}, "ISO-2022-JP"},
      {{.euc = 7000}, ""},  // must exceed the last threshold
      {{.euc = 7001}, "EUC-JP"},
      // ISO-2022-JP is compared with nothing, but takes only a step nobody else takes.
      {{.euc = 9920, .jis = 9990}, "EUC-JP"},
      {{.euc = 9900, .jis = 9950}, "ISO-2022-JP"},
      // A lower score wins an earlier step over a later candidate's lower step.
      {{.sj = 9750, .u8 = 9850, .jis = 10000, .multiCount = 1, .dblCount = 1}, "ISO-2022-JP"},
      // Tied Unicode candidates at the top let neither win.
      {{.u16 = 9900, .u4 = 9900, .sj = 8000, .dblCount = 1}, ""},
      {{.u16 = 9900, .u4 = 9900, .sj = 8000, .jis = 7500, .dblCount = 1}, "ISO-2022-JP"},
      // Names refined by the counts.
      {{.sj = 9901}, "ISO-646IRV"},
      {{.sj = 9901, .highCount = 3}, "ISO-8859-1"},
      {{.sj = 9901, .dblCount = 1, .highCount = 3}, "WINDOWS31J"},
      {{.u8 = 10000}, "ISO-646IRV"},
      {{.u8 = 10000, .latinCount = 1}, "ISO-8859-1"},
      {{.u8 = 10000, .multiCount = 1, .latinCount = 1}, "UTF-8"},
      // The byte order from the pass scores; a tie is read as low byte first.
      {{.u16 = 9500, .u16be = 9500, .u16le = 9000}, "UTF-16", 1},
      {{.u16 = 9500, .u16be = 9500, .u16le = 9500}, "UTF-16", 0},
      {{.u4 = 9500, .u4le = 9500}, "ISO-10646-UCS-4", 0},
      {{.u4 = 9500, .u4be = 9600, .u4le = 9500}, "ISO-10646-UCS-4", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.s));
    std::uint32_t be = 7;
    EXPECT_EQ(decide(c.s, &be), c.name);
    EXPECT_TRUE(c.bigEndian < 0 || be == static_cast<std::uint32_t>(c.bigEndian)) << be;
  }
}

// ---- small texts through the exported call --------------------------------

TEST(Scoring, SmallTextsThatNoPeerMakes) {
  for (const zkdetect::Want& w : std::initializer_list<zkdetect::Want>{
           // Half-width kana score 10000 as EUC-JP too; Shift_JIS without a pair is Latin-1.
           {.in = bytesOf("abc \xB1\xB2\xBE\xBF def"), .name = "ISO-8859-1"},
           // Kanji of fixed-width EUC-JP with leads 0xB0 to 0xD7 read as Hangul in UTF-16.
           {.in = repeat({0, 'a', 0xC6, 0xFC, 0xCB, 0xDC, 0, '\n'}, 3), .name = "UTF-16"},
           {.in = Bytes(100, 0x80), .name = "unknown", .nl = 0},  // nothing above 7000
       }) {
    SCOPED_TRACE(testing::PrintToString(w.in));
    zkdetect::expectDetect(w);
  }
}

TEST(Scoring, OnlyTheFirst2048BytesFromInPosAreJudged) {
  Bytes eucTail;
  ASSERT_TRUE(zkdetect::peerConvert("日本語の文章です。", "UTF-8", "EUC-JP", &eucTail));
  const Bytes text = Bytes(2048, 'a') + repeat(eucTail, 50);
  EXPECT_EQ(detect(text).name(), "ISO-646IRV");
  EXPECT_EQ(detect(text, 2048).name(), "EUC-JP");
  EXPECT_EQ(detect(Bytes(2000, 'a') + repeat(eucTail, 50)).name(), "EUC-JP");
}

}  // namespace
