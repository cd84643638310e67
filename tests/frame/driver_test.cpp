// The conversion record and the four conversion calls: statuses, positions,
// substitution and the calls used in the wrong order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>

#include "engine/world.h"
#include "frame/registry.h"

namespace {

using namespace zktest;

CconvDstOptions substituting(std::uint32_t replacement = 0) {
  CconvDstOptions o = kBigOut;
  o.substitute = 1;
  o.replacement = replacement;
  return o;
}

void point(CconvRecord& rec, const Bytes& in, Bytes& out) {
  rec.inBuf = in.data();
  rec.inPos = rec.outPos = 0;
  rec.inLen = static_cast<std::int32_t>(in.size());
  rec.outBuf = out.data();
  rec.outSize = static_cast<std::int32_t>(out.size());
}

// A record prepared for `to` <- `from` with big-endian options.
void prepare(CconvRecord& rec, const char* to, const char* from,
             const CconvDstOptions* dst = &kBigOut) {
  ASSERT_EQ(cconvInitConvert(&rec, dst, to), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, from), CCONV_OK);
}

Bytes written(const Bytes& out, const CconvRecord& rec) {
  return Bytes(out.begin(), out.begin() + rec.outPos);
}

TEST(DriverCalls, NullUnpreparedAndBrokenRecords) {
  World w;
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
  ASSERT_EQ(cconvInitConvert(&rec, nullptr, "Shift_JIS"), CCONV_OK);
  EXPECT_EQ(cconvConvert(&rec), CCONV_ERROR);  // a target and no source
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
  World w;
  CconvRecord rec{};
  char name[] = "SHIFT_JIS";
  ASSERT_EQ(cconvInitConvert(&rec, nullptr, name), CCONV_OK);
  EXPECT_STREQ(name, "SHIFT_JIS");  // the caller's string is not lower-cased
  EXPECT_EQ(rec.dstId, 1001u);
  ASSERT_EQ(cconvChgCharset(&rec, nullptr, "euct"), CCONV_OK);
  EXPECT_STREQ(reinterpret_cast<zk::RuleDef*>(rec.srcRule)->name, "euct");
  // 271 characters fit the work buffer; 272 and more match nothing.
  const std::string fits = std::string(267, 'x') + "long", tooLong = "x" + fits;
  injectRule(fits, "constSAME", "destSAME", {w.latin});
  injectRule(tooLong, "constSAME", "destSAME", {w.latin});
  injectDone();
  EXPECT_EQ(cconvInitConvert(&rec, nullptr, fits.c_str()), CCONV_OK);
  EXPECT_EQ(cconvChgCharset(&rec, nullptr, fits.c_str()), CCONV_OK);
  EXPECT_EQ(cconvChgCharset(&rec, nullptr, tooLong.c_str()), CCONV_ERROR);
  EXPECT_EQ(cconvInitConvert(&rec, nullptr, tooLong.c_str()), CCONV_ERROR);
  EXPECT_EQ(rec.constEntry, nullptr);
  EXPECT_EQ(cconvInitConvert(&rec, nullptr, std::string(100000, 'y').c_str()), CCONV_ERROR);
}

TEST(DriverCalls, InitClearsLibraryFieldsOnly) {
  World w;
  CconvRecord rec;
  std::memset(&rec, 0x5A, sizeof rec);
  Bytes in{0x41}, out(4);
  point(rec, in, out);
  rec.inChars = 7;
  rec.srcOptions.skipInvalid = 1;
  CconvDstOptions opts = kBigOut;
  std::snprintf(opts.lang, sizeof opts.lang, "ja");
  ASSERT_EQ(cconvInitConvert(&rec, &opts, "UCS4T"), CCONV_OK);
  EXPECT_EQ(std::tie(rec.inBuf, rec.inChars, rec.srcOptions.skipInvalid),
            std::make_tuple(in.data(), 7, 1u));
  EXPECT_EQ(rec.srcRule, nullptr);
  EXPECT_EQ(std::tie(rec.ucs2, rec.outDesignation, rec.subWide.code, rec.subNarrow.unit),
            std::make_tuple(0u, 0u, 0u, 0));
  for (const char* tag : {rec.lang, rec.langWritten, rec.langCurrent}) EXPECT_STREQ(tag, "ja");
  // An unknown target clears as well, and leaves no target.
  EXPECT_EQ(cconvInitConvert(&rec, &opts, "no-such-encoding"), CCONV_ERROR);
  EXPECT_EQ(rec.constEntry, nullptr);
  EXPECT_EQ(rec.lang[0], '\0');
  // A tag that fills the field without a terminator is cut to 259 characters.
  std::memset(opts.lang, 'x', sizeof opts.lang);
  ASSERT_EQ(cconvInitConvert(&rec, &opts, "UCS4T"), CCONV_OK);
  EXPECT_EQ(std::strlen(rec.lang), 259u);
}

TEST(DriverCalls, SourceChangesWhileOutputGoesOn) {
  World w;
  CconvRecord rec{};
  prepare(rec, "UCS4T", "Shift_JIS");
  EXPECT_EQ(cconvChgCharset(&rec, nullptr, "nope"), CCONV_ERROR);  // keeps the previous source
  Bytes sjis{0x82, 0xA0}, euc{0xA4, 0xA4, 0x41}, out(32);
  point(rec, sjis, out);
  ASSERT_EQ(cconvConvert(&rec), CCONV_OK);
  ASSERT_EQ(cconvChgCharset(&rec, &kBigIn, "EUCT"), CCONV_OK);
  rec.inBuf = euc.data();
  rec.inPos = 0;
  rec.inLen = 3;
  ASSERT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(written(out, rec), bytesOf("UCS4T", "3042 3044 41"));
  EXPECT_EQ(rec.inChars, 3);
  EXPECT_EQ(rec.outChars, 3);
  // The record goes on after cconvTermConvert, and starts afresh after a new init.
  EXPECT_EQ(cconvTermConvert(&rec), CCONV_OK);
  rec.inPos = 2;
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(rec.outPos, 16);
  prepare(rec, "Shift_JIS", "EUCT");
  rec.inPos = rec.outPos = 0;
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(written(out, rec), (Bytes{0x82, 0xA2, 0x41}));
}

TEST(DriverCalls, BufferFieldsThatCannotBeUsed) {
  World w;
  CconvRecord rec{};
  prepare(rec, "UCS4T", "Shift_JIS");
  Bytes in{0x41}, out(8);
  // No input at all is simply done; no output room is simply full.
  const std::pair<std::function<void()>, std::uint32_t> cases[] = {
      {[&] { rec.inBuf = nullptr; }, CCONV_ERROR}, {[&] { rec.outBuf = nullptr; }, CCONV_ERROR},
      {[&] { rec.inPos = -1; }, CCONV_ERROR},      {[&] { rec.outPos = 9; }, CCONV_ERROR},
      {[&] { rec.inLen = 0; }, CCONV_OK},          {[&] { rec.outSize = 0; }, CCONV_OUTPUT_FULL}};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    point(rec, in, out);
    cases[i].first();
    EXPECT_EQ(cconvConvert(&rec), cases[i].second) << i;
  }
  EXPECT_EQ(rec.inPos, 1);  // the character waits, consumed, for room
}

TEST(DriverLoop, AnUnmappableCharacterIsConsumedAndCounted) {
  World w;
  CconvRecord rec{};
  prepare(rec, "Shift_JIS", "UCS4T");
  Bytes in = bytesOf("UCS4T", "41 2460 42"), out(8);
  point(rec, in, out);
  EXPECT_EQ(cconvConvert(&rec), CCONV_UNMAPPABLE);
  EXPECT_EQ(rec.inPos, 8);  // consumed: the next call goes on after it
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(written(out, rec), (Bytes{0x41, 0x42}));
  EXPECT_EQ(std::tie(rec.inChars, rec.outChars), std::make_tuple(3, 2));
}

TEST(Substitution, SearchOrderAndWideOrNarrow) {
  World w;
  CconvRecord rec{};
  CconvDstOptions sub = substituting();
  ASSERT_EQ(cconvInitConvert(&rec, &sub, "Shift_JIS"), CCONV_OK);
  EXPECT_EQ(rec.dstOptions.replacement, 0x3013003Fu);
  EXPECT_EQ(std::make_tuple(rec.subWide.charset, rec.subWide.code, rec.subWide.unit),
            std::make_tuple(w.jis0208->id, 0x222Eu, std::uint16_t{2}));
  EXPECT_EQ(std::make_tuple(rec.subNarrow.charset, rec.subNarrow.code, rec.subNarrow.unit),
            std::make_tuple(w.latin->id, 0x3Fu, std::uint16_t{1}));
  // Without a GETA MARK, FULLWIDTH EQUALS SIGN; without either, "?".
  ASSERT_EQ(cconvInitConvert(&rec, &sub, "NOGETA"), CCONV_OK);
  EXPECT_EQ(rec.dstOptions.replacement, 0xFF1D003Fu);
  ASSERT_EQ(cconvInitConvert(&rec, &sub, "NARROW"), CCONV_OK);
  EXPECT_EQ(rec.dstOptions.replacement, 0x003F003Fu);
  EXPECT_EQ(rec.subWide.code, 0u);
  // Wide or narrow follows the source code: U+4E02 and U+2460 are wide,
  // U+00E9 narrow, a Windows-31J vendor character (a double-byte code) wide.
  // ESC passes as a control code; CR LF and U+2028 become LF.
  CconvDstOptions lf = sub;
  lf.newlineConvert = 1;
  lf.newlineKind = 3;
  const std::string mixed = "41 4E02 E9 3042 2460 0D 0A 1B 2028";
  expectCases({{"Shift_JIS", "UCS4T", mixed, "41 81AC 3F 82A0 81AC 0A 1B 0A"},
               {"Shift_JIS", "WINDOWS31J", "8740", "81AC"},
               {"NOGETA", "UCS4T", "4E9C", "8181"},
               {"NARROW", "UCS4T", "4E9C 41", "3F 41"},
               // No substitute at all: still reported, never silently dropped.
               {"NOTHING", "UCS4T", "4E9C FF71", "", CCONV_UNMAPPABLE, 4}},
              &kBigIn, &lf);
  EXPECT_TRUE(piecewiseSame("Shift_JIS", "UCS4T", bytesOf("UCS4T", mixed), &kBigIn, &lf));
}

TEST(Substitution, CallersReplacementComesFirst) {
  World w;
  CconvDstOptions sub = substituting(0x25A0002A);  // BLACK SQUARE, "*"
  expectCases({{"Shift_JIS", "UCS4T", "4E02 E9", "81A1 2A"}}, &kBigIn, &sub);
  // A replacement half the target lacks is searched again with the defaults;
  // the half already found stays.
  sub = substituting(0x2460002A);  // CIRCLED DIGIT ONE is not in Shift_JIS
  CconvRecord rec{};
  ASSERT_EQ(cconvInitConvert(&rec, &sub, "Shift_JIS"), CCONV_OK);
  EXPECT_EQ(rec.subNarrow.code, 0x2Au);
  EXPECT_EQ(rec.subWide.code, 0x222Eu);
  // Without the option nothing is searched.
  sub.substitute = 0;
  ASSERT_EQ(cconvInitConvert(&rec, &sub, "Shift_JIS"), CCONV_OK);
  EXPECT_EQ(rec.subWide.code, 0u);
  EXPECT_EQ(rec.subNarrow.code, 0u);
}

// Shift_JIS bytes of whole characters (Roman, kanji, ESC), and the offsets
// where each character starts, then the end.
const Bytes kSjis{0x41, 0x82, 0xA0, 0x30, 0x88, 0x9F, 0x1B, 0x81, 0x40, 0x7E};
const std::vector<std::size_t> kSjisBounds{0, 1, 3, 4, 6, 7, 9, 10};

Bytes toEuct(const Bytes& sjis, std::size_t n) {
  return convert("EUCT", "Shift_JIS", Bytes(sjis.begin(), sjis.begin() + n), &kBigIn, &kBigOut).out;
}

TEST(DriverLoop, TruncatedOrInvalidInputAtEveryPosition) {
  World w;
  const Bytes euc = toEuct(kSjis, kSjis.size());
  const Bytes u32 = convert("UCS4T", "EUCT", euc, &kBigIn, &kBigOut).out;
  for (std::size_t cut = 0, whole = 0; cut <= kSjis.size(); ++cut) {
    SCOPED_TRACE(cut);
    // Cut short: the whole characters are converted, the rest waits.
    while (whole + 1 < kSjisBounds.size() && kSjisBounds[whole + 1] <= cut) ++whole;
    const std::size_t at = kSjisBounds[whole];
    const ConvertResult r =
        convert("EUCT", "Shift_JIS", Bytes(kSjis.begin(), kSjis.begin() + cut), &kBigIn, &kBigOut);
    EXPECT_EQ(r.status, at == cut ? CCONV_OK : CCONV_NEED_INPUT);
    EXPECT_EQ(r.inPos, static_cast<std::int64_t>(at));
    EXPECT_EQ(r.out, toEuct(kSjis, at));
    EXPECT_EQ(r.inChars, static_cast<std::int32_t>(whole));
    if (at != cut || cut == kSjis.size()) continue;
    // A bad byte before a character: the conversion stops after it; skipped,
    // the output is as without it.
    for (std::uint8_t bad : {0x80, 0xA0, 0xFF}) {
      Bytes in = kSjis;
      in.insert(in.begin() + at, bad);
      expectConversion("EUCT", "Shift_JIS", in, toEuct(kSjis, at), CCONV_INVALID, at + 1);
      expectConversion("EUCT", "Shift_JIS", in, euc, CCONV_OK, -1, &kBigSkip);
    }
    // In a table-driven source an unmapped pair stays put, and a skip takes both bytes.
    Bytes in = euc;
    const std::size_t eucAt = toEuct(kSjis, at).size();
    in.insert(in.begin() + eucAt, {0xA9, 0xA1});
    expectConversion("UCS4T", "EUCT", in,
                     convert("UCS4T", "EUCT", toEuct(kSjis, at), &kBigIn, &kBigOut).out,
                     CCONV_INVALID, eucAt);
    expectConversion("UCS4T", "EUCT", in, u32, CCONV_OK, -1, &kBigSkip);
  }
}

TEST(DriverLoop, EveryOutputSizeTakesWholeCharactersOnly) {
  World w;
  // Characters of one to four bytes: a substitute (U+2460), a value of two
  // units (U+1F600) and a line end of two (CR to CR LF, as U+2028 is
  // written in a narrow target) are each one.
  CconvDstOptions opts = substituting();
  opts.newlineConvert = 1;
  opts.newlineKind = 4;
  const Bytes in = bytesOf("UCS4T", "41 3042 1F600 2460 0D 1B E9 42");
  std::vector<std::size_t> ends{0};  // output size after each whole character
  for (std::size_t k = 1; k <= in.size() / 4; ++k)
    ends.push_back(
        convert("EUCT", "UCS4T", Bytes(in.begin(), in.begin() + 4 * k), &kBigIn, &opts).out.size());
  const ConvertResult oneShot = convert("EUCT", "UCS4T", in, &kBigIn, &opts);
  const Bytes& all = oneShot.out;
  ASSERT_EQ(hex(all), "41 A4 A2 A1 A9 A1 AA A2 AE 0D 0A 1B 3F 42");
  ASSERT_EQ(ends.back(), all.size());
  for (std::size_t room = 0; room <= all.size(); ++room) {
    SCOPED_TRACE(room);
    CconvRecord rec{};
    prepare(rec, "EUCT", "UCS4T", &opts);
    Bytes out(room + 4, 0xEE);
    point(rec, in, out);
    rec.outSize = static_cast<std::int32_t>(room);
    const std::uint32_t st = cconvConvert(&rec);
    EXPECT_EQ(st, room == all.size() ? CCONV_OK : CCONV_OUTPUT_FULL);
    // The characters that fit whole are written, nothing beyond them.
    const std::size_t n = *std::prev(std::upper_bound(ends.begin(), ends.end(), room));
    EXPECT_EQ(written(out, rec), Bytes(all.begin(), all.begin() + n));
    EXPECT_EQ(Bytes(out.begin() + n, out.end()), Bytes(out.size() - n, 0xEE));
    if (st != CCONV_OUTPUT_FULL) continue;
    // With room again, the pending character comes first, once, and the rest follows.
    Bytes more(all.size(), 0xEE);
    rec.outBuf = more.data();
    rec.outPos = 0;
    rec.outSize = static_cast<std::int32_t>(more.size());
    EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
    EXPECT_EQ(written(more, rec), Bytes(all.begin() + n, all.end()));
    EXPECT_EQ(rec.outChars, oneShot.outChars);
  }
}

TEST(DriverCalls, ClosingWritesAPendingCharacterFirstAndNothingTwice) {
  World w;
  CconvRecord rec{};
  prepare(rec, "Shift_JIS", "UCS4T");
  Bytes in = bytesOf("UCS4T", "41 3042"), out(2, 0xEE);
  point(rec, in, out);
  ASSERT_EQ(cconvConvert(&rec), CCONV_OUTPUT_FULL);
  ASSERT_EQ(rec.outPos, 1);
  // Closing with too little room keeps the character waiting...
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
  prepare(rec, "Shift_JIS", "UCS4T");
  Bytes one = bytesOf("UCS4T", "41");
  point(rec, one, out);
  rec.status = CCONV_OUTPUT_FULL;
  rec.outChars = 0;  // a caller field: preparing the record leaves it alone
  EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
  EXPECT_EQ(std::tie(rec.outPos, rec.outChars), std::make_tuple(1, 1));
}

}  // namespace
