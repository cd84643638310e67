// The conversion record and the four conversion calls: statuses, positions,
// substitution and the calls used in the wrong order.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/world.h"
#include "frame/registry.h"

namespace {

using zktest::Bytes;
using zktest::convert;
using zktest::ucs4;

CconvSrcOptions kBigIn = zktest::srcBig();
CconvDstOptions kBigOut = zktest::dstBig();

CconvDstOptions substituting(std::uint32_t replacement = 0) {
  CconvDstOptions o = kBigOut;
  o.substitute = 1;
  o.replacement = replacement;
  return o;
}

void point(CconvRecord& rec, const Bytes& in, Bytes& out) {
  rec.inBuf = in.data();
  rec.inPos = 0;
  rec.inLen = static_cast<std::int32_t>(in.size());
  rec.outBuf = out.data();
  rec.outPos = 0;
  rec.outSize = static_cast<std::int32_t>(out.size());
}

TEST(DriverCalls, NullAndUnpreparedRecords) {
  zktest::World w;
  EXPECT_EQ(cconvInitConvert(nullptr, nullptr, "Shift_JIS"), CCONV_ERROR);
  EXPECT_EQ(cconvChgCharset(nullptr, nullptr, "Shift_JIS"), CCONV_ERROR);
  EXPECT_EQ(cconvConvert(nullptr), CCONV_ERROR);
  EXPECT_EQ(cconvTermConvert(nullptr), CCONV_ERROR);

  CconvRecord rec{};
  EXPECT_EQ(cconvConvert(&rec), CCONV_ERROR);
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_ERROR));
  EXPECT_EQ(cconvTermConvert(&rec), CCONV_OK);
  EXPECT_EQ(cconvInitConvert(&rec, nullptr, nullptr), CCONV_ERROR);
  EXPECT_EQ(cconvChgCharset(&rec, nullptr, nullptr), CCONV_ERROR);
  // A target and no source.
  ASSERT_EQ(cconvInitConvert(&rec, nullptr, "Shift_JIS"), CCONV_OK);
  EXPECT_EQ(cconvConvert(&rec), CCONV_ERROR);
  // A source set first is cleared by the target's preparation.
  CconvRecord early{};
  ASSERT_EQ(cconvChgCharset(&early, nullptr, "Shift_JIS"), CCONV_OK);
  EXPECT_EQ(cconvConvert(&early), CCONV_ERROR);
  ASSERT_EQ(cconvInitConvert(&early, nullptr, "UCS4T"), CCONV_OK);
  EXPECT_EQ(cconvConvert(&early), CCONV_ERROR);
  // Rule functions that do not exist: the record has no source or target.
  ASSERT_EQ(cconvInitConvert(&rec, nullptr, "BROKEN"), CCONV_OK);
  EXPECT_EQ(rec.constEntry, nullptr);
  ASSERT_EQ(cconvChgCharset(&rec, nullptr, "BROKEN"), CCONV_OK);
  EXPECT_EQ(rec.destEntry, nullptr);
  EXPECT_EQ(cconvConvert(&rec), CCONV_ERROR);
  EXPECT_EQ(cconvTermConvert(&rec), CCONV_OK);
}

TEST(DriverCalls, NamesMatchInAnyCaseUpToTheWorkBuffer) {
  zktest::World w;
  CconvRecord rec{};
  char name[] = "SHIFT_JIS";
  ASSERT_EQ(cconvInitConvert(&rec, nullptr, name), CCONV_OK);
  EXPECT_STREQ(name, "SHIFT_JIS");  // the caller's string is not lower-cased
  EXPECT_EQ(rec.dstId, 1001u);
  ASSERT_EQ(cconvChgCharset(&rec, nullptr, "euct"), CCONV_OK);
  EXPECT_STREQ(reinterpret_cast<zk::RuleDef*>(rec.srcRule)->name, "euct");

  // 271 characters fit the work buffer; 272 and more match nothing.
  std::string fits = std::string(271 - 4, 'x') + "long";
  std::string tooLong = std::string(272 - 4, 'x') + "long";
  zktest::injectRule(fits, "constSAME", "destSAME", {w.latin});
  zktest::injectRule(tooLong, "constSAME", "destSAME", {w.latin});
  zktest::injectDone();
  EXPECT_EQ(cconvInitConvert(&rec, nullptr, fits.c_str()), CCONV_OK);
  EXPECT_EQ(cconvChgCharset(&rec, nullptr, fits.c_str()), CCONV_OK);
  EXPECT_EQ(cconvChgCharset(&rec, nullptr, tooLong.c_str()), CCONV_ERROR);
  EXPECT_EQ(cconvInitConvert(&rec, nullptr, tooLong.c_str()), CCONV_ERROR);
  EXPECT_EQ(rec.constEntry, nullptr);
  std::string huge(100000, 'y');
  EXPECT_EQ(cconvInitConvert(&rec, nullptr, huge.c_str()), CCONV_ERROR);
}

TEST(DriverCalls, InitClearsLibraryFieldsOnly) {
  zktest::World w;
  CconvRecord rec;
  std::memset(&rec, 0x5A, sizeof rec);
  Bytes in{0x41};
  Bytes out(4);
  point(rec, in, out);
  rec.inChars = 7;
  rec.srcOptions.skipInvalid = 1;
  CconvDstOptions opts = kBigOut;
  std::snprintf(opts.lang, sizeof opts.lang, "ja");
  ASSERT_EQ(cconvInitConvert(&rec, &opts, "UCS4T"), CCONV_OK);
  EXPECT_EQ(rec.inBuf, in.data());
  EXPECT_EQ(rec.inChars, 7);
  EXPECT_EQ(rec.srcOptions.skipInvalid, 1u);
  EXPECT_EQ(rec.srcRule, nullptr);
  EXPECT_EQ(rec.ucs2, 0u);
  EXPECT_EQ(rec.outDesignation, 0u);
  EXPECT_EQ(rec.subWide.code, 0u);
  EXPECT_EQ(rec.subNarrow.unit, 0);
  EXPECT_STREQ(rec.lang, "ja");
  EXPECT_STREQ(rec.langWritten, "ja");
  EXPECT_STREQ(rec.langCurrent, "ja");
  // An unknown target clears as well, and leaves no target.
  EXPECT_EQ(cconvInitConvert(&rec, &opts, "no-such-encoding"), CCONV_ERROR);
  EXPECT_EQ(rec.constEntry, nullptr);
  EXPECT_EQ(rec.lang[0], '\0');
  // A tag that fills the field without a terminator is cut to 259 characters.
  std::memset(opts.lang, 'x', sizeof opts.lang);
  ASSERT_EQ(cconvInitConvert(&rec, &opts, "UCS4T"), CCONV_OK);
  EXPECT_EQ(std::strlen(rec.lang), 259u);
}

TEST(DriverCalls, UnknownSourceKeepsThePreviousOne) {
  zktest::World w;
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "UCS4T"), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "Shift_JIS"), CCONV_OK);
  EXPECT_EQ(cconvChgCharset(&rec, nullptr, "nope"), CCONV_ERROR);
  Bytes in{0x82, 0xA0};
  Bytes out(8);
  point(rec, in, out);
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + rec.outPos), ucs4({0x3042}));
}

TEST(DriverCalls, SourceChangesWhileOutputGoesOn) {
  zktest::World w;
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "UCS4T"), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "Shift_JIS"), CCONV_OK);
  Bytes sjis{0x82, 0xA0};
  Bytes euc{0xA4, 0xA4, 0x41};
  Bytes out(32);
  point(rec, sjis, out);
  ASSERT_EQ(cconvConvert(&rec), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "EUCT"), CCONV_OK);
  rec.inBuf = euc.data();
  rec.inPos = 0;
  rec.inLen = 3;
  ASSERT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + rec.outPos), ucs4({0x3042, 0x3044, 0x41}));
  EXPECT_EQ(rec.inChars, 3);
  EXPECT_EQ(rec.outChars, 3);
  // The record goes on after cconvTermConvert, and starts afresh after a new init.
  EXPECT_EQ(cconvTermConvert(&rec), CCONV_OK);
  rec.inPos = 2;
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(rec.outPos, 16);
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "Shift_JIS"), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "EUCT"), CCONV_OK);
  rec.inPos = 0;
  rec.outPos = 0;
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + rec.outPos), (Bytes{0x82, 0xA2, 0x41}));
}

TEST(DriverCalls, BufferFieldsThatCannotBeUsed) {
  zktest::World w;
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "UCS4T"), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "Shift_JIS"), CCONV_OK);
  Bytes in{0x41};
  Bytes out(8);
  point(rec, in, out);
  rec.inBuf = nullptr;
  EXPECT_EQ(cconvConvert(&rec), CCONV_ERROR);
  point(rec, in, out);
  rec.outBuf = nullptr;
  EXPECT_EQ(cconvConvert(&rec), CCONV_ERROR);
  point(rec, in, out);
  rec.inPos = -1;
  EXPECT_EQ(cconvConvert(&rec), CCONV_ERROR);
  point(rec, in, out);
  rec.outPos = 9;
  EXPECT_EQ(cconvConvert(&rec), CCONV_ERROR);
  // No input at all is simply done; no output room is simply full.
  point(rec, in, out);
  rec.inLen = 0;
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  point(rec, in, out);
  rec.outSize = 0;
  EXPECT_EQ(cconvConvert(&rec), CCONV_OUTPUT_FULL);
  EXPECT_EQ(rec.inPos, 1);
}

TEST(DriverLoop, RefusedCharactersAndWhereTheConversionGoesOn) {
  zktest::World w;
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "Shift_JIS"), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "UCS4T"), CCONV_OK);
  Bytes in = ucs4({0x41, 0x2460, 0x42});
  Bytes out(8);
  point(rec, in, out);
  EXPECT_EQ(cconvConvert(&rec), CCONV_UNMAPPABLE);
  EXPECT_EQ(rec.inPos, 8);  // consumed: the next call goes on after it
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + rec.outPos), (Bytes{0x41, 0x42}));
  EXPECT_EQ(rec.inChars, 3);
  EXPECT_EQ(rec.outChars, 2);

  // An invalid byte stays; the host decides. Skipping is the other way.
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "UCS4T"), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "Shift_JIS"), CCONV_OK);
  Bytes bad{0x41, 0x80, 0x42};
  Bytes out2(16);
  point(rec, bad, out2);
  EXPECT_EQ(cconvConvert(&rec), CCONV_INVALID);
  EXPECT_EQ(rec.inPos, 2);
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(rec.outPos, 8);
}

TEST(Substitution, SearchFallsBackFromGetaMarkToEqualsSign) {
  zktest::World w;

  CconvRecord rec{};
  CconvDstOptions sub = substituting();
  ASSERT_EQ(cconvInitConvert(&rec, &sub, "Shift_JIS"), CCONV_OK);
  EXPECT_EQ(rec.dstOptions.replacement, 0x3013003Fu);
  EXPECT_EQ(rec.subWide.charset, w.jis0208->id);
  EXPECT_EQ(rec.subWide.code, 0x222Eu);
  EXPECT_EQ(rec.subWide.unit, 2);
  EXPECT_EQ(rec.subNarrow.charset, w.latin->id);
  EXPECT_EQ(rec.subNarrow.code, 0x3Fu);
  EXPECT_EQ(rec.subNarrow.unit, 1);

  // Wide or narrow follows the source code: U+00E9 is narrow, U+4E02 wide.
  const Bytes in = ucs4({0x41, 0x4E02, 0xE9, 0x3042});
  auto r = convert("Shift_JIS", "UCS4T", in, &kBigIn, &sub);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(r.out, (Bytes{0x41, 0x81, 0xAC, 0x3F, 0x82, 0xA0}));
  EXPECT_TRUE(zktest::piecewiseSame("Shift_JIS", "UCS4T", in, &kBigIn, &sub));
  // A vendor character from Windows-31J has a double-byte code: wide.
  EXPECT_EQ(convert("Shift_JIS", "WINDOWS31J", {0x87, 0x40}, &kBigIn, &sub).out,
            (Bytes{0x81, 0xAC}));

  // No GETA MARK: FULLWIDTH EQUALS SIGN.
  ASSERT_EQ(cconvInitConvert(&rec, &sub, "NOGETA"), CCONV_OK);
  EXPECT_EQ(rec.dstOptions.replacement, 0xFF1D003Fu);
  EXPECT_EQ(convert("NOGETA", "UCS4T", ucs4({0x4E9C}), &kBigIn, &sub).out, (Bytes{0x81, 0x81}));

  // Neither: the narrow "?" stands in for wide characters too.
  ASSERT_EQ(cconvInitConvert(&rec, &sub, "NARROW"), CCONV_OK);
  EXPECT_EQ(rec.dstOptions.replacement, 0x003F003Fu);
  EXPECT_EQ(rec.subWide.code, 0u);
  r = convert("NARROW", "UCS4T", ucs4({0x4E9C, 0x41}), &kBigIn, &sub);
  EXPECT_EQ(r.out, (Bytes{0x3F, 0x41}));

  // No substitute at all: still reported, never silently dropped.
  r = convert("NOTHING", "UCS4T", ucs4({0x4E9C, 0xFF71}), &kBigIn, &sub);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  EXPECT_TRUE(r.out.empty());
}

TEST(Substitution, CallersReplacementComesFirst) {
  zktest::World w;
  CconvDstOptions sub = substituting(0x25A0002A);  // BLACK SQUARE, "*"
  auto r = convert("Shift_JIS", "UCS4T", ucs4({0x4E02, 0xE9}), &kBigIn, &sub);
  EXPECT_EQ(r.out, (Bytes{0x81, 0xA1, 0x2A}));
  // A replacement half the target lacks is searched again with the defaults;
  // the half already found stays.
  sub = substituting(0x2460002A);  // CIRCLED DIGIT ONE is not in Shift_JIS
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &sub, "Shift_JIS"), CCONV_OK);
  EXPECT_EQ(rec.subNarrow.code, 0x2Au);
  EXPECT_EQ(rec.subWide.code, 0x222Eu);
  // Without the option nothing is searched.
  CconvDstOptions plain = kBigOut;
  plain.replacement = 0x25A0002A;
  ASSERT_EQ(cconvInitConvert(&rec, &plain, "Shift_JIS"), CCONV_OK);
  EXPECT_EQ(rec.subWide.code, 0u);
  EXPECT_EQ(rec.subNarrow.code, 0u);
}

TEST(Substitution, PendingSubstituteSurvivesAFullBuffer) {
  zktest::World w;
  CconvRecord rec{};
  CconvDstOptions sub = substituting();
  ASSERT_EQ(cconvInitConvert(&rec, &sub, "Shift_JIS"), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "UCS4T"), CCONV_OK);
  Bytes in = ucs4({0x41, 0x4E02, 0x42});
  Bytes out(2);
  point(rec, in, out);
  EXPECT_EQ(cconvConvert(&rec), CCONV_OUTPUT_FULL);
  EXPECT_EQ(rec.outPos, 1);
  EXPECT_EQ(out[0], 0x41);
  rec.outPos = 0;
  EXPECT_EQ(cconvConvert(&rec), CCONV_OUTPUT_FULL);
  EXPECT_EQ(out, (Bytes{0x81, 0xAC}));
  rec.outPos = 0;
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(out[0], 0x42);
  EXPECT_EQ(rec.outChars, 3);
}

// Bytes of whole characters of a sample: Roman, kanji, ESC.
struct Sample {
  Bytes bytes;
  std::vector<std::size_t> bounds;  // offsets where a character starts, and the end
};

Sample shiftJisSample() {
  Sample s;
  for (Bytes ch : {Bytes{0x41}, Bytes{0x82, 0xA0}, Bytes{0x30}, Bytes{0x88, 0x9F}, Bytes{0x1B},
                   Bytes{0x81, 0x40}, Bytes{0x7E}}) {
    s.bounds.push_back(s.bytes.size());
    s.bytes.insert(s.bytes.end(), ch.begin(), ch.end());
  }
  s.bounds.push_back(s.bytes.size());
  return s;
}

TEST(DriverLoop, TruncatedInputAtEveryPosition) {
  zktest::World w;
  const Sample s = shiftJisSample();
  for (std::size_t cut = 0; cut <= s.bytes.size(); ++cut) {
    Bytes in(s.bytes.begin(), s.bytes.begin() + cut);
    auto r = convert("EUCT", "Shift_JIS", in, &kBigIn, &kBigOut);
    // The last character that is whole, and where it ends.
    std::size_t whole = 0;
    while (whole + 1 < s.bounds.size() && s.bounds[whole + 1] <= cut) ++whole;
    const bool atBound = s.bounds[whole] == cut;
    EXPECT_EQ(r.status, atBound ? CCONV_OK : CCONV_NEED_INPUT) << cut;
    EXPECT_EQ(r.inPos, static_cast<std::int64_t>(s.bounds[whole])) << cut;
    Bytes prefix(s.bytes.begin(), s.bytes.begin() + s.bounds[whole]);
    EXPECT_EQ(r.out, convert("EUCT", "Shift_JIS", prefix, &kBigIn, &kBigOut).out) << cut;
    EXPECT_EQ(r.inChars, static_cast<std::int32_t>(whole)) << cut;
  }
}

TEST(DriverLoop, InvalidBytesAtEveryPosition) {
  zktest::World w;
  const Sample s = shiftJisSample();
  const Bytes clean = convert("EUCT", "Shift_JIS", s.bytes, &kBigIn, &kBigOut).out;
  CconvSrcOptions skip = zktest::srcBig(true);
  for (std::size_t i = 0; i + 1 < s.bounds.size(); ++i) {
    for (std::uint8_t bad : {0x80, 0xA0, 0xFF}) {
      Bytes in = s.bytes;
      in.insert(in.begin() + s.bounds[i], bad);
      auto r = convert("EUCT", "Shift_JIS", in, &kBigIn, &kBigOut);
      EXPECT_EQ(r.status, CCONV_INVALID) << i;
      EXPECT_EQ(r.inPos, static_cast<std::int64_t>(s.bounds[i] + 1)) << i;
      Bytes prefix(s.bytes.begin(), s.bytes.begin() + s.bounds[i]);
      EXPECT_EQ(r.out, convert("EUCT", "Shift_JIS", prefix, &kBigIn, &kBigOut).out) << i;
      r = convert("EUCT", "Shift_JIS", in, &skip, &kBigOut);
      EXPECT_EQ(r.status, CCONV_OK) << i;
      EXPECT_EQ(r.out, clean) << i;
    }
    // In a table-driven source an unmapped pair stays put, and a skip takes both bytes.
    const Bytes euc = convert("EUCT", "Shift_JIS", s.bytes, &kBigIn, &kBigOut).out;
    const Bytes u32 = convert("UCS4T", "EUCT", euc, &kBigIn, &kBigOut).out;
    Bytes in = euc;
    const std::size_t at = convert("EUCT", "Shift_JIS",
                                   Bytes(s.bytes.begin(), s.bytes.begin() + s.bounds[i]), &kBigIn,
                                   &kBigOut).out.size();
    in.insert(in.begin() + at, {0xA9, 0xA1});
    auto r = convert("UCS4T", "EUCT", in, &kBigIn, &kBigOut);
    EXPECT_EQ(r.status, CCONV_INVALID) << i;
    EXPECT_EQ(r.inPos, static_cast<std::int64_t>(at)) << i;
    EXPECT_EQ(convert("UCS4T", "EUCT", in, &skip, &kBigOut).out, u32) << i;
  }
}

TEST(DriverLoop, EveryOutputSizeTakesWholeCharactersOnly) {
  zktest::World w;
  const Sample s = shiftJisSample();
  const Bytes all = convert("EUCT", "Shift_JIS", s.bytes, &kBigIn, &kBigOut).out;
  for (std::size_t room = 0; room <= all.size(); ++room) {
    CconvRecord rec{};
    ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "EUCT"), CCONV_OK);
    ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "Shift_JIS"), CCONV_OK);
    Bytes out(room + 4, 0xEE);
    point(rec, s.bytes, out);
    rec.outSize = static_cast<std::int32_t>(room);
    const std::uint32_t st = cconvConvert(&rec);
    EXPECT_EQ(st, room == all.size() ? CCONV_OK : CCONV_OUTPUT_FULL) << room;
    // What was written is the output of the characters consumed but one
    // (the pending one), and nothing was touched beyond it.
    const std::size_t n = static_cast<std::size_t>(rec.outPos);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + n), Bytes(all.begin(), all.begin() + n)) << room;
    for (std::size_t k = n; k < out.size(); ++k) ASSERT_EQ(out[k], 0xEE) << room << " " << k;
    if (st == CCONV_OUTPUT_FULL) {
      EXPECT_GT(n + 2, room) << "a character that fits was held back";
      // With room again, the pending character comes first and the rest follows.
      Bytes more(all.size(), 0xEE);
      rec.outBuf = more.data();
      rec.outPos = 0;
      rec.outSize = static_cast<std::int32_t>(more.size());
      EXPECT_EQ(cconvConvert(&rec), CCONV_OK) << room;
      EXPECT_EQ(Bytes(more.begin(), more.begin() + rec.outPos), Bytes(all.begin() + n, all.end()))
          << room;
    }
  }
}

TEST(DriverLoop, SubstitutionLineEndsAndControlsTogether) {
  zktest::World w;
  CconvDstOptions opts = substituting();
  opts.newlineConvert = 1;
  opts.newlineKind = 3;
  // U+2460 is not Shift_JIS: the GETA MARK (81 AC) stands in. ESC passes as a
  // control code, CR LF and U+2028 become LF, U+00E9 becomes "?".
  const Bytes in = ucs4({0x41, 0x2460, 0x0D, 0x0A, 0x1B, 0x2028, 0xE9});
  auto r = convert("Shift_JIS", "UCS4T", in, &kBigIn, &opts);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(r.out, (Bytes{0x41, 0x81, 0xAC, 0x0A, 0x1B, 0x0A, 0x3F}));
  EXPECT_TRUE(zktest::piecewiseSame("Shift_JIS", "UCS4T", in, &kBigIn, &opts));
}

TEST(DriverCalls, ClosingWritesAPendingCharacterFirstAndNothingTwice) {
  zktest::World w;
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "Shift_JIS"), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "UCS4T"), CCONV_OK);
  Bytes in = ucs4({0x41, 0x3042});
  Bytes out(2, 0xEE);
  point(rec, in, out);
  ASSERT_EQ(cconvConvert(&rec), CCONV_OUTPUT_FULL);
  ASSERT_EQ(rec.outPos, 1);
  // Closing with too little room keeps the character waiting...
  rec.outPos = 1;
  EXPECT_EQ(cconvTermConvert(&rec), CCONV_OUTPUT_FULL);
  EXPECT_EQ(rec.outPos, 1);
  // ...and with room writes it, then closes.
  rec.outPos = 0;
  EXPECT_EQ(cconvTermConvert(&rec), CCONV_OK);
  EXPECT_EQ(out, (Bytes{0x82, 0xA0}));
  EXPECT_EQ(rec.outChars, 2);
  rec.outPos = 0;
  EXPECT_EQ(cconvTermConvert(&rec), CCONV_OK);
  EXPECT_EQ(rec.outPos, 0);
  // A full-buffer status with nothing placed writes nothing on the next call.
  ASSERT_EQ(cconvInitConvert(&rec, &kBigOut, "Shift_JIS"), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "UCS4T"), CCONV_OK);
  Bytes one = ucs4({0x41});
  point(rec, one, out);
  rec.status = CCONV_OUTPUT_FULL;
  rec.outChars = 0;  // a caller field: preparing the record leaves it alone
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(rec.outPos, 1);
  EXPECT_EQ(rec.outChars, 1);
}

}  // namespace
