// The scorers, their two tables and the falling-threshold decision.
#include <gtest/gtest.h>

#include <string>

#include "detect_support.h"
#include "peer_codec.h"

namespace {

using zkdetect::Bytes;
using zkdetect::bytesOf;
using zkdetect::detect;
using zkdetect::repeat;
using zkdetect::Scoped;
using zkdetect::scoresOf;
using zkdetect::operator+;
using zk::ChkScores;

Bytes raw(const std::string& s) { return bytesOf(s); }

// ---- tables ---------------------------------------------------------------

TEST(Ucs2Table, RowEdges) {
  struct Case {
    std::uint32_t unit;
    bool ok;
  };
  const Case cases[] = {
      {0x0009, true},  {0x000A, true},  {0x000D, true},  {0x000B, false}, {0x001F, false},
      {0x0020, true},  {0x007E, true},  {0x007F, false}, {0x009F, false}, {0x00A0, true},
      {0x00FF, true},  {0x0100, true},  {0x01F5, true},  {0x01F6, false}, {0x024F, false},
      {0x0250, true},  {0x02A9, false}, {0x02B0, true},  {0x02E9, true},  {0x02EA, false},
      {0x037E, true},  {0x037F, false}, {0x0384, true},  {0x03F4, false}, {0x04F9, true},
      {0x0530, false}, {0x0560, false}, {0x0561, true},  {0x060B, false}, {0x06F9, true},
      {0x0700, false}, {0x08FF, false}, {0x0901, true},  {0x0971, false}, {0x0A02, true},
      {0x0B81, false}, {0x0B82, true},  {0x0C70, false}, {0x0D6F, true},  {0x0EDD, true},
      {0x0EDE, false}, {0x0FB9, true},  {0x109F, false}, {0x10A0, true},  {0x11F9, true},
      {0x1200, false}, {0x1DFF, false}, {0x1E00, true},  {0x1F7E, false}, {0x200F, false},
      {0x2010, true},  {0x2028, true},  {0x20E2, false}, {0x21EA, true},  {0x22F1, true},
      {0x237A, true},  {0x237B, false}, {0x24EA, true},  {0x25EF, true},  {0x266F, true},
      {0x2670, false}, {0x2700, false}, {0x2701, true},  {0x27BE, true},  {0x2800, false},
      {0x2FFF, false}, {0x3000, true},  {0x30FE, true},  {0x30FF, false}, {0x3104, false},
      {0x3105, true},  {0x319F, true},  {0x327F, true},  {0x3280, false}, {0x33FE, true},
      {0x33FF, false}, {0x3400, false}, {0x4DFF, false}, {0x4E00, true},  {0x4EA5, true},
      {0x4EA6, false}, {0x4EFF, false}, {0x4F00, true},  {0x9FA5, true},  {0x9FA6, false},
      {0xABFF, false}, {0xAC00, true},  {0xD7A3, true},  {0xD7A4, false}, {0xD800, false},
      {0xE000, false}, {0xF8FF, false}, {0xF900, true},  {0xFA2D, true},  {0xFA2E, false},
      {0xFB00, true},  {0xFBB1, true},  {0xFBB2, false}, {0xFBD2, false}, {0xFBD3, true},
      {0xFDFB, true},  {0xFDFC, false}, {0xFE1F, false}, {0xFE20, true},  {0xFEFC, true},
      {0xFEFF, false}, {0xFF00, false}, {0xFF21, false}, {0xFF71, false}, {0xFFC9, false},
      {0xFFCA, true},  {0xFFEE, true},  {0xFFEF, false}, {0xFFFF, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(zk::isUcs2Assigned(static_cast<std::uint8_t>(c.unit >> 8),
                                 static_cast<std::uint8_t>(c.unit & 0xFF)),
              c.ok)
        << std::hex << c.unit;
  }
}

TEST(SjisTable, RangeEdgesAndOddSecondBytes) {
  struct Case {
    std::uint32_t pair;
    bool ok;
  };
  const Case cases[] = {
      {0x813F, false}, {0x8140, true},  {0x81AC, true},  {0x81AD, false}, {0x81B8, true},
      {0x81BF, true},  {0x81C0, false}, {0x81CE, true},  {0x81D9, false}, {0x81E8, true},
      {0x81F7, true},  {0x81F8, false}, {0x81FB, false}, {0x81FC, true},  {0x81FD, false},
      {0x824E, false}, {0x824F, true},  {0x829E, false}, {0x82F1, true},  {0x8396, true},
      {0x8397, false}, {0x84BE, true},  {0x84BF, false}, {0x8740, true},  {0x877D, false},
      {0x877E, true},  {0x877F, false}, {0x879C, true},  {0x889E, false}, {0x889F, true},
      {0x8900, true},  {0x897F, true},  {0x89FF, true},  {0x9872, true},  {0x9873, false},
      {0x989F, true},  {0x9FFC, true},  {0x9FFD, false}, {0xA0A0, false}, {0xDFDF, false},
      {0xE03F, false}, {0xE040, true},  {0xEAA4, true},  {0xEAA5, false}, {0xED40, true},
      {0xEEEC, true},  {0xEEED, false}, {0xEEEE, false}, {0xEEEF, true},  {0xEEFC, true},
      {0xEF40, false}, {0xF040, true},  {0xF9FC, true},  {0xFA40, true},  {0xFC4B, true},
      {0xFC4C, false}, {0x0041, false}, {0xFFFF, false},
  };
  for (const Case& c : cases) EXPECT_EQ(zk::isSjisCode(c.pair), c.ok) << std::hex << c.pair;
}

TEST(PeerRepertoires, KanaAndKanjiOfJisX0208PassBothTables) {
  // Every kana and kanji of JIS X 0208 rows 4, 5 and 16 to 84, as the peer
  // decodes them from EUC-JP and encodes them in Windows-31J.
  std::string euc;
  for (int row : {4, 5}) {
    for (int cell = 1; cell <= 94; ++cell) euc += {char(0xA0 + row), char(0xA0 + cell)};
  }
  for (int row = 16; row <= 84; ++row) {
    for (int cell = 1; cell <= 94; ++cell) euc += {char(0xA0 + row), char(0xA0 + cell)};
  }
  Bytes ucs, sjis;
  ASSERT_TRUE(zkdetect::peerConvert(euc, "EUC-JP", "UCS-2BE", &ucs));
  ASSERT_TRUE(zkdetect::peerConvert(euc, "EUC-JP", "CP932", &sjis));
  ASSERT_GT(ucs.size(), 2u * 6000);
  int gap = 0;
  for (std::size_t k = 0; k + 1 < ucs.size(); k += 2) {
    const int unit = ucs[k] << 8 | ucs[k + 1];
    // The unit table leaves out U+4EA6 to U+4EFF on purpose; it holds some
    // real kanji, which count against UTF-16 and UCS-4.
    if (unit >= 0x4EA6 && unit <= 0x4EFF) {
      EXPECT_FALSE(zk::isUcs2Assigned(ucs[k], ucs[k + 1]));
      ++gap;
      continue;
    }
    EXPECT_TRUE(zk::isUcs2Assigned(ucs[k], ucs[k + 1])) << std::hex << unit;
  }
  EXPECT_GT(gap, 0);
  ASSERT_EQ(sjis.size(), ucs.size());
  for (std::size_t k = 0; k + 1 < sjis.size(); k += 2) {
    EXPECT_TRUE(zk::isSjisCode(sjis[k] << 8 | sjis[k + 1]))
        << std::hex << (sjis[k] << 8 | sjis[k + 1]);
  }
}

// ---- scorers --------------------------------------------------------------

int utf8(const Bytes& b, std::uint32_t* multi = nullptr, std::uint32_t* latin = nullptr) {
  Scoped s(b);
  std::uint32_t m = 0, l = 0;
  const int r = zk::scoreUtf8(&s.rec, &m, &l);
  if (multi) *multi = m;
  if (latin) *latin = l;
  return r;
}

TEST(ScoreUtf8, SequenceLengthsAndTheirSmallestValues) {
  std::uint32_t multi = 0;
  EXPECT_EQ(utf8(raw("ab\xC0\x80"), &multi), 6666);  // overlong: bad but consumed
  EXPECT_EQ(multi, 0u);
  EXPECT_EQ(utf8(raw("a\xE0\x80\x80")), 5000);
  EXPECT_EQ(utf8(raw("a\xF0\x80\x80\x80")), 5000);
  EXPECT_EQ(utf8(raw("a\xF0\x90\x80\x80"), &multi), 10000);
  EXPECT_EQ(multi, 1u);
  EXPECT_EQ(utf8(raw("a\xF8\x88\x80\x80\x80")), 10000);      // 0x200000
  EXPECT_EQ(utf8(raw("a\xF8\x87\xBF\xBF\xBF")), 5000);       // 0x1FFFFF
  EXPECT_EQ(utf8(raw("a\xFC\x84\x80\x80\x80\x80")), 10000);  // 0x4000000
  EXPECT_EQ(utf8(raw("a\xFC\x83\xBF\xBF\xBF\xBF")), 5000);
  EXPECT_EQ(utf8(raw("a\xFD\xBF\xBF\xBF\xBF\xBF")), 10000);  // 0x7FFFFFFF
}

TEST(ScoreUtf8, ContinuationBytesAreNotCheckedButLeadsAre) {
  std::uint32_t multi = 0, latin = 0;
  EXPECT_EQ(utf8(raw("\xC3\x41"), &multi, &latin), 10000);  // value 0xC1
  EXPECT_EQ(latin, 1u);
  EXPECT_EQ(utf8(raw("ab\x80\xBF")), 5000);  // continuation bytes as leads
  EXPECT_EQ(utf8(raw("ab\xE3\x81")), 5000);  // cut short: both bytes bad
  EXPECT_EQ(utf8(raw("a\xFE\xFF"
                     "b\xFF")),
            10000);  // skipped, neither good nor bad
  EXPECT_EQ(utf8(raw("\xFE\xFF")), 0);
  EXPECT_EQ(utf8(raw("a\x7F\x01")), 3333);  // other controls are bad
}

TEST(ScoreUtf8, NulOrEscapeAsAFirstByteEndsWithZeroButKeepsCounts) {
  std::uint32_t multi = 0, latin = 0;
  EXPECT_EQ(utf8(raw(std::string("\xC3\xA9\xE3\x81\x82\x00z", 7)), &multi, &latin), 0);
  EXPECT_EQ(multi, 2u);
  EXPECT_EQ(latin, 1u);
  EXPECT_EQ(utf8(raw("abc\x1B$B")), 0);
  // Swallowed as a continuation byte, a NUL does no harm.
  EXPECT_EQ(utf8(raw(std::string("a\xC3\x00", 3))), 10000);
}

TEST(ScoreUtf8, LatinCountCoversA0ToFFOnly) {
  std::uint32_t multi = 0, latin = 0;
  utf8(raw("\xC2\x80\xC2\x9F\xC2\xA0\xC3\xBF\xC4\x80\xDF\xBF"), &multi, &latin);
  EXPECT_EQ(multi, 6u);
  EXPECT_EQ(latin, 2u);
}

int jis(const std::string& s) {
  Scoped r(raw(s));
  return zk::scoreIso2022jp(&r.rec);
}

TEST(ScoreIso2022jp, ModesFollowTheEscapes) {
  EXPECT_EQ(jis("ab\x1B$B$\"\x1B(Bc"), 10000);
  EXPECT_EQ(jis("\x1B$B$\" $\"\x1B(B"), 6666);  // a space in a two-byte mode
  EXPECT_EQ(jis("\x1B$@$\"\x1B(J\r\n"), 10000);
  EXPECT_EQ(jis("\x1B$(D$\"\x1B(B"), 10000);
  // Another fourth byte is consumed and keeps the mode.
  EXPECT_EQ(jis("a\x1B$(\x80"
                "bc"),
            10000);
  EXPECT_EQ(jis("ab\x1B(Zcd"), 5000);        // undefined mode: everything bad
  EXPECT_EQ(jis("\x1B(I\xB1\xB2 a"), 7500);  // katakana mode
  EXPECT_EQ(jis("a\xA4"), 5000);             // starts in Roman mode
  EXPECT_EQ(jis("\x1B$B$\x7F"), 0);          // second byte out of range
  EXPECT_EQ(jis("\x1B$B\x80$\"$\""), 6666);  // a bad lead is one byte
}

TEST(ScoreIso2022jp, DataEndingInsideAUnitEndsScoring) {
  EXPECT_EQ(jis("ab\x1B$"), 10000);
  EXPECT_EQ(jis("ab\x1B$("), 10000);
  EXPECT_EQ(jis("a\x1B$B$"), 10000);
  EXPECT_EQ(jis("\x1B$B$"), 0);
}

int euc(const std::string& s) {
  Scoped r(raw(s));
  return zk::scoreEucjp(&r.rec);
}

TEST(ScoreEucjp, UnitsByTheirLead) {
  EXPECT_EQ(euc("\xA4\xA2"
                "a"),
            10000);
  EXPECT_EQ(euc("a\xA4\x41"), 5000);
  EXPECT_EQ(euc("\x8E\xB1"
                "a"),
            10000);
  EXPECT_EQ(euc("\x8E\xE0"
                "a"),
            5000);
  EXPECT_EQ(euc("\x8F\xA1\xA1"
                "a"),
            10000);
  EXPECT_EQ(euc("\x8F\xA1\x41"
                "a"),
            5000);
  EXPECT_EQ(euc("a\x8F\xE0\xA1\xA1"), 6666);  // the bad second byte is consumed
  EXPECT_EQ(euc("\xE0\xA1\xA1"
                "a"),
            6666);  // 0xE0 is no lead
  EXPECT_EQ(euc("a\x80\x7F"), 3333);
  EXPECT_EQ(euc("a\xA4"), 10000);  // cut short: scoring ends
}

TEST(ScoreEucjp, NulOrEscapeOnlyAsAFirstByteRulesOut) {
  EXPECT_EQ(euc(std::string("a\x00", 2)), 0);
  EXPECT_EQ(euc("a\x1B"), 0);
  EXPECT_EQ(euc(std::string("\xA4\x00"
                            "a",
                            3)),
            5000);
  EXPECT_EQ(euc(std::string("\x8F\xA1\x00"
                            "a",
                            4)),
            5000);
}

TEST(ScoreEucjp, HighLeadsScoreLowerThanLowOnes) {
  // The same number of kanji from rows 16 to 55 and from rows 64 to 84.
  Scoped low(raw("\xB0\xA1\xC6\xFC\xCB\xDC\xB8\xEC"));
  Scoped high(raw("\xE0\xA1\xE3\xB0\xEA\xA4\xE8\xC1"));
  EXPECT_EQ(zk::scoreEucjp(&low.rec), 10000);
  // E0 is bad on its own and the rest pair up out of step: 3 good, 1 bad,
  // and the last byte ends scoring as a lead without its second byte.
  EXPECT_EQ(zk::scoreEucjp(&high.rec), 7500);
}

int fix(const std::string& s) {
  Scoped r(raw(s));
  return zk::scoreEucjpFix(&r.rec);
}

TEST(ScoreEucjpFix, TwoByteUnits) {
  EXPECT_EQ(fix(std::string("\x00"
                            "a\xA4\xA2\x00\xB1",
                            6)),
            10000);
  EXPECT_EQ(fix(std::string("\x00"
                            "a\x00\x80",
                            4)),
            5000);
  EXPECT_EQ(fix("\xA4\x41\xA4\x80"), 5000);
  EXPECT_EQ(fix("\xA4\xA2"
                "a"),
            5000);  // ASCII without its NUL is bad
  EXPECT_EQ(fix("\xA4\xA2\x1B"), 0);
  EXPECT_EQ(fix(std::string("\xA4\xA2\x00", 3)), 10000);
}

TEST(ScoreUtf16, PassesInBothOrdersNeedAnAsciiUnit) {
  int be = -1, le = -1;
  Scoped latin(raw(std::string("A\0B\0c\0\xFF", 7)));  // a last odd byte is ignored
  EXPECT_EQ(zk::scoreUtf16(&latin.rec, &be, &le), 10000);
  EXPECT_EQ(le, 10000);
  EXPECT_EQ(be, 0);
  Scoped kana(raw("\x30\x42\x30\x44"));  // assigned, but no ASCII
  EXPECT_EQ(zk::scoreUtf16(&kana.rec, &be, &le), 0);
  Scoped mixed(
      raw(std::string("\x30\x42\x00"
                      "a\xFF\x21\xD8\x00",
                      8)));
  EXPECT_EQ(zk::scoreUtf16(&mixed.rec, &be, &le), 5000);
  EXPECT_EQ(be, 5000);
  EXPECT_EQ(le, 0);
}

TEST(ScoreUcs4, UpperHalvesDecideFirst) {
  int be = -1, le = -1;
  Scoped lit(raw(std::string("A\0\0\0\x42\x30\0\0\xFF", 9)));
  EXPECT_EQ(zk::scoreUcs4(&lit.rec, &be, &le), 10000);
  EXPECT_EQ(le, 10000);
  EXPECT_EQ(be, 0);
  // An upper half of 0x11 to 0x7F ends the pass with 0 despite good units.
  Scoped ended(raw(std::string("\0\0\0A\0\0\0B\0\x11\0A", 12)));
  EXPECT_EQ(zk::scoreUcs4(&ended.rec, &be, &le), 0);
  EXPECT_EQ(be, 0);
  // Up to 0x10 the lower half decides; 0x80 and above is bad.
  Scoped planes(raw(std::string("\0\x10\x30\x42\x01\0\0A", 8)));
  EXPECT_EQ(zk::scoreUcs4(&planes.rec, &be, &le), 5000);
  EXPECT_EQ(be, 5000);
}

int sjis(const std::string& s, std::uint32_t* dbl = nullptr, std::uint32_t* high = nullptr) {
  Scoped r(raw(s));
  std::uint32_t d = 0, h = 0;
  const int v = zk::scoreSjis(&r.rec, &d, &h);
  if (dbl) *dbl = d;
  if (high) *high = h;
  return v;
}

TEST(ScoreSjis, PairsFirstThenSingleBytes) {
  std::uint32_t dbl = 0, high = 0;
  EXPECT_EQ(sjis("\x93\xFA\x96\x7B"
                 "a",
                 &dbl, &high),
            10000);
  EXPECT_EQ(dbl, 2u);
  EXPECT_EQ(high, 0u);
  EXPECT_EQ(sjis(std::string("\x89\x00", 2), &dbl), 10000);  // inside 889F..9872
  EXPECT_EQ(dbl, 1u);
  EXPECT_EQ(sjis("\xB1\xB2"
                 "a",
                 &dbl, &high),
            10000);
  EXPECT_EQ(high, 2u);
  EXPECT_EQ(sjis("a\xA0\xFD", &dbl, &high), 3333);
  EXPECT_EQ(high, 2u);
  EXPECT_EQ(sjis("\x81\x39", &dbl, &high), 5000);  // no pair: 0x81 bad, '9' good
  EXPECT_EQ(high, 0u);
}

TEST(ScoreSjis, NulEscapeOrDeleteAloneEndsWithZeroButKeepsCounts) {
  std::uint32_t dbl = 0, high = 0;
  EXPECT_EQ(sjis(std::string("\x93\xFA\xB1\x00"
                             "a",
                             5),
                 &dbl, &high),
            0);
  EXPECT_EQ(dbl, 1u);
  EXPECT_EQ(high, 1u);
  EXPECT_EQ(sjis("a\x1B"), 0);
  EXPECT_EQ(sjis("a\x7F"), 0);
}

// ---- decision -------------------------------------------------------------

enum Cand { kFix, kEuc, kU16, kU4, kSj, kU8, kJis };

int& slot(ChkScores& s, Cand c) {
  switch (c) {
    case kFix:
      return s.fix;
    case kEuc:
      return s.euc;
    case kU16:
      return s.u16;
    case kU4:
      return s.u4;
    case kSj:
      return s.sj;
    case kU8:
      return s.u8;
    default:
      return s.jis;
  }
}

// Counts that make every candidate's name distinct.
ChkScores none() {
  ChkScores s{};
  s.dblCount = 1;
  s.multiCount = 1;
  return s;
}

const char* kNames[] = {"EUC-JP-FIX", "EUC-JP", "UTF-16",     "ISO-10646-UCS-4",
                        "WINDOWS31J", "UTF-8",  "ISO-2022-JP"};

std::string decide(const ChkScores& s, std::uint32_t* bigEndian = nullptr) {
  std::uint32_t be = 7;
  const char* n = zk::chkDecide(s, &be);
  if (bigEndian) *bigEndian = be;
  return n ? n : "";
}

TEST(Decision, EachCandidateWinsAlone) {
  for (int c = kFix; c <= kJis; ++c) {
    ChkScores s = none();
    slot(s, Cand(c)) = 9950;
    EXPECT_EQ(decide(s), kNames[c]);
  }
}

TEST(Decision, EachComparisonMakesItsCandidateLose) {
  // true: the rival must be beaten; false: a tie is enough.
  struct Cmp {
    Cand who;
    Cand rival;
    bool strict;
  };
  const Cmp cmps[] = {
      {kFix, kU8, true},  {kFix, kEuc, true},  {kFix, kU16, true},  {kFix, kU4, true},
      {kFix, kSj, true},  {kEuc, kFix, false}, {kEuc, kU8, true},   {kEuc, kU16, true},
      {kEuc, kU4, true},  {kEuc, kSj, true},   {kU16, kFix, false}, {kU16, kU8, true},
      {kU16, kEuc, true}, {kU16, kU4, true},   {kU16, kSj, true},   {kU4, kFix, false},
      {kU4, kU8, true},   {kU4, kEuc, true},   {kU4, kU16, true},   {kU4, kSj, true},
      {kSj, kFix, false}, {kSj, kU8, true},    {kSj, kEuc, false},  {kSj, kU16, false},
      {kSj, kU4, true},   {kU8, kFix, false},  {kU8, kEuc, false},  {kU8, kU16, false},
      {kU8, kU4, false},  {kU8, kSj, false},
  };
  for (const Cmp& c : cmps) {
    SCOPED_TRACE(std::string(kNames[c.who]) + " vs " + kNames[c.rival]);
    ChkScores tie = none();
    slot(tie, c.who) = 9500;
    slot(tie, c.rival) = 9500;
    if (c.strict) {
      EXPECT_NE(decide(tie), kNames[c.who]);
    } else {
      EXPECT_EQ(decide(tie), kNames[c.who]);
    }
    ChkScores above = none();
    slot(above, c.who) = 9500;
    slot(above, c.rival) = 9501;
    EXPECT_NE(decide(above), kNames[c.who]);
    // One point below the candidate, the rival no longer stands in its way.
    ChkScores below = none();
    slot(below, c.who) = 9500;
    slot(below, c.rival) = 9499;
    EXPECT_EQ(decide(below), kNames[c.who]);
  }
}

TEST(Decision, ThresholdFallsInStepsOfOneHundred) {
  ChkScores s = none();
  s.euc = 7000;  // must exceed the last threshold
  EXPECT_EQ(decide(s), "");
  s.euc = 7001;
  EXPECT_EQ(decide(s), "EUC-JP");
  // ISO-2022-JP is compared with nothing, but takes only a step nobody else takes.
  s.jis = 9950;
  s.euc = 9920;
  EXPECT_EQ(decide(s), "EUC-JP");
  s.euc = 9900;
  EXPECT_EQ(decide(s), "ISO-2022-JP");
  s.jis = 9801;
  s.euc = 9850;
  EXPECT_EQ(decide(s), "EUC-JP");
  // A lower score wins an earlier step over a later candidate's lower step.
  ChkScores t = none();
  t.u8 = 9850;
  t.sj = 9750;
  t.jis = 10000;
  EXPECT_EQ(decide(t), "ISO-2022-JP");
}

TEST(Decision, TiedUnicodeCandidatesAtTheTopLetNeitherWin) {
  ChkScores s = none();
  s.u16 = 9900;
  s.u4 = 9900;
  s.sj = 8000;
  EXPECT_EQ(decide(s), "");
  s.jis = 7500;
  EXPECT_EQ(decide(s), "ISO-2022-JP");
}

TEST(Decision, NamesRefinedByCounts) {
  ChkScores s{};
  s.sj = 9900 + 1;
  EXPECT_EQ(decide(s), "ISO-646IRV");
  s.highCount = 3;
  EXPECT_EQ(decide(s), "ISO-8859-1");
  s.dblCount = 1;
  EXPECT_EQ(decide(s), "WINDOWS31J");
  ChkScores u{};
  u.u8 = 10000;
  EXPECT_EQ(decide(u), "ISO-646IRV");
  u.latinCount = 1;
  EXPECT_EQ(decide(u), "ISO-8859-1");
  u.multiCount = 1;
  EXPECT_EQ(decide(u), "UTF-8");
}

TEST(Decision, ByteOrderFromThePassScores) {
  std::uint32_t be = 9;
  ChkScores s = none();
  s.u16 = 9500;
  s.u16be = 9500;
  s.u16le = 9000;
  EXPECT_EQ(decide(s, &be), "UTF-16");
  EXPECT_EQ(be, 1u);
  s.u16le = 9500;  // a tie is read as low byte first
  decide(s, &be);
  EXPECT_EQ(be, 0u);
  ChkScores t = none();
  t.u4 = 9500;
  t.u4le = 9500;
  EXPECT_EQ(decide(t, &be), "ISO-10646-UCS-4");
  EXPECT_EQ(be, 0u);
  t.u4be = 9600;
  decide(t, &be);
  EXPECT_EQ(be, 1u);
}

// ---- data built for each winner, through the exported call ----------------

TEST(Scoring, PlainAsciiWithCrLfIsIso646) {
  const Bytes text = raw("Plain text, two lines.\r\nThe second one.\r\n");
  const ChkScores s = scoresOf(text);
  EXPECT_EQ(s.jis, 10000);
  EXPECT_EQ(s.u8, 10000);
  EXPECT_EQ(s.euc, 10000);
  EXPECT_EQ(s.sj, 10000);
  auto d = detect(text);
  EXPECT_EQ(d.name(), "ISO-646IRV");
  EXPECT_EQ(d.rec.newlineKind, 1u);
  EXPECT_EQ(d.rec.encodingClass, 1u);
}

TEST(Scoring, IsoTwoThousandTwentyTwoWins) {
  const Bytes text = raw("Kanji \x1B$BF|K\\8l\x1B(B and more \x1B$B$\"$$\x1B(B.\r\n");
  const ChkScores s = scoresOf(text);
  EXPECT_EQ(s.u8, 0);
  EXPECT_EQ(s.euc, 0);
  EXPECT_EQ(s.sj, 0);
  EXPECT_EQ(s.fix, 0);
  EXPECT_EQ(s.u16, 0);
  EXPECT_EQ(s.u4, 0);
  EXPECT_EQ(detect(text).name(), "ISO-2022-JP");
}

TEST(Scoring, Utf16LatinWithoutMark) {
  const Bytes text = raw(std::string("L\0a\0t\0i\0n\0 \0t\0e\0x\0t\0", 20));
  const ChkScores s = scoresOf(text);
  EXPECT_EQ(s.u16le, 10000);
  EXPECT_EQ(s.u16be, 0);
  auto d = detect(text);
  EXPECT_EQ(d.name(), "UTF-16");
  EXPECT_EQ(d.rec.bigEndian, 0u);
  EXPECT_EQ(d.rec.hasBom, 0u);
}

TEST(Scoring, HalfWidthKanaAloneIsLatin1) {
  for (const std::string t : {"\xB1\xB2\xB3\xB4\xB5\xB6", "abc \xB1\xB2\xBE\xBF def"}) {
    const ChkScores s = scoresOf(raw(t));
    EXPECT_EQ(s.sj, 10000);
    EXPECT_EQ(s.dblCount, 0u);
    EXPECT_GT(s.highCount, 0u);
    EXPECT_EQ(s.euc, 10000);
    EXPECT_EQ(detect(raw(t)).name(), "ISO-8859-1");
  }
  EXPECT_EQ(scoresOf(raw("\xB1\xB2\xB3\xB4\xB5\xB6")).fix, 10000);
}

TEST(Scoring, EachFamilyWinsOnItsOwnText) {
  const std::string jp = "Text 日本語の文章です。カタカナも、ひらがなも。\r\n";
  struct Case {
    const char* peer;
    const char* name;
    int bigEndian;
  };
  for (const Case& c :
       {Case{"UTF-8", "UTF-8", 1}, Case{"CP932", "WINDOWS31J", 1}, Case{"EUC-JP", "EUC-JP", 1},
        Case{"ISO-2022-JP", "ISO-2022-JP", 1}, Case{"UTF-16LE", "UTF-16", 0},
        Case{"UTF-16BE", "UTF-16", 1}, Case{"UCS-4LE", "ISO-10646-UCS-4", 0},
        Case{"UCS-4BE", "ISO-10646-UCS-4", 1}}) {
    SCOPED_TRACE(c.peer);
    Bytes text;
    ASSERT_TRUE(zkdetect::peerConvert(jp, "UTF-8", c.peer, &text));
    auto d = detect(text);
    EXPECT_EQ(d.name(), c.name);
    EXPECT_EQ(d.rec.bigEndian, static_cast<unsigned>(c.bigEndian));
    EXPECT_EQ(d.rec.newlineKind, 1u);
  }
  // EUC-JP-FIX: ASCII as 00 xx, JIS X 0208 as its EUC pair. Kanji with
  // leads 0xB0 to 0xD7 would read as Hangul in UTF-16, so kana and a kanji
  // of row 56 are used here.
  const Bytes fixText =
      repeat(Bytes{0x00, 'a', 0xA4, 0xA2, 0xA5, 0xAB, 0xD8, 0xA1, 0x00, '\r', 0x00, '\n'}, 3);
  EXPECT_EQ(detect(fixText).name(), "EUC-JP-FIX");
  const Bytes hangulLike = repeat(Bytes{0x00, 'a', 0xC6, 0xFC, 0xCB, 0xDC, 0x00, '\n'}, 3);
  EXPECT_EQ(scoresOf(hangulLike).fix, 10000);
  EXPECT_EQ(detect(hangulLike).name(), "UTF-16");
}

TEST(Scoring, NothingAboveSevenThousandIsUnknown) {
  auto d = detect(Bytes(100, 0x80));
  EXPECT_EQ(d.ret, 0);
  EXPECT_EQ(d.name(), "unknown");
  EXPECT_EQ(d.rec.newlineKind, 0u);
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
