// EUC-JP, EUC-JIS-2004, EUC-JP-FIX and ISO-2022-JP decoders, byte writers
// and encoders, driven directly through hand-made rules.
#include <gtest/gtest.h>

#include "jis_world.h"

namespace zktest {
namespace {

using Dest = int (*)(CconvRecord*);
using Writer = int (*)(CconvRecord*, std::uint32_t);

struct Rules {
  ::RuleDef* eucJp = handRule({{kIrv, 1, 1}, {kKana, 1, 1}, {kX0208, 1, 2}, {kX0212, 1, 2}});
  ::RuleDef* eucJis2004 = handRule({{kIrv, 1, 1}, {kKana, 1, 1}, {kX0213, 1, 2}});
  ::RuleDef* jis = handRule({{kIrv, 1, 1}, {kRoman, 1, 1}, {kC6226, 1, 2}, {kX0208, 1, 2}});
  ::RuleDef* jis2004 = handRule({{kIrv, 1, 1}, {kX0208, 1, 2}, {kX0213, 1, 2}});
  ::RuleDef* irv0208 = handRule({{kIrv, 1, 1}, {kX0208, 1, 2}});
  ::RuleDef* kanaOnly = handRule({{kKana, 1, 1}});
  ::RuleDef* irv0213 = handRule({{kIrv, 1, 1}, {kX0213, 1, 2}});
  ::RuleDef* only0208 = handRule({{kX0208, 2, 2}});
  ::RuleDef* odd = handRule({{kX0208, 1, 3}, {kX0208, 2, 2}});  // odd widths first
  ::RuleDef* onlyOdd = handRule({{kX0208, 1, 3}});
};

struct Source {
  Bytes in;
  CconvRecord rec{};
  Dest dest;
  Source(Dest fn, ::RuleDef* rule, const std::string& bytes) : dest(fn) {
    rec.srcRule = rule;
    rec.inDesignation = kIrv;  // as the source side is prepared
    rec.inPlane = 11;
    refill(bytes);
  }
  std::string run() { return decodeAll(&rec, dest); }
  // Hands the decoder a new buffer, keeping the shift state.
  void refill(const std::string& bytes) {
    in = hexBytes(bytes);
    rec.inBuf = in.data();
    rec.inLen = static_cast<std::int32_t>(in.size());
    rec.inPos = 0;
  }
};

TEST(JisDecode, EveryFormBadBytesTruncationAndUnlistedSets) {
  Rules r;
  const Dest jp = zk::destEucJp, j4 = zk::destEucJis2004, fix = zk::eucjpfixDecode,
             iso = zk::iso2022jpDecode;
  struct Case {
    Dest dest;
    ::RuleDef* rule;
    std::string in, want;
    std::uint32_t designation = 0;  // ISO-2022-JP's after the run
  };
  std::vector<Case> cases = {
      // Every code set, and trail bytes over the whole 0xA0..0xFF range.
      {jp, r.eucJp, "41 00 1F 8E B1 8F B0 A1 B0 A1 A0 A0 FF FF",
       "irv:41@1 irv:0@2 irv:1F@3 kana:B1@5 0212:3021@8 0208:3021@10 0208:2020@12 0208:7F7F@14 "
       "ok@14"},
      {j4, r.eucJis2004, "8F B0 A1 B0 A1 8E DF", "0213:13021@3 0213:3021@5 kana:DF@7 ok@7"},
      // A trail byte below 0xA0 refuses the lead only; a skipping reader
      // resumes at the trail byte.
      {jp, r.eucJp, "B0 41", "bad@1 irv:41@2 ok@2"},
      {jp, r.eucJp, "8E 9F", "bad@1 bad@2 ok@2"},
      {jp, r.eucJp, "8F B0 41", "bad@1 bad@2 irv:41@3 ok@3"},
      {jp, r.eucJp, "8F 41 B0 42", "bad@1 irv:41@2 bad@3 irv:42@4 ok@4"},
      // All bytes are counted before any is judged.
      {jp, r.eucJp, "8F 41", "more@0"},
      {jp, r.eucJp, "", "ok@0"},
      // Sets the rule does not list are invalid; EUC-JP never reaches
      // JIS X 0213, even when the rule lists it.
      {jp, r.irv0208, "8E B1 8F B0 A1 B0 A1", "bad@1 bad@2 bad@3 0208:3021@5 0208:3021@7 ok@7"},
      {jp, r.kanaOnly, "41 B0 A1 8E B1", "bad@1 bad@2 bad@3 kana:B1@5 ok@5"},
      {jp, r.irv0213, "B0 A1", "bad@1 more@1"},
      // EUC-JP-FIX: two bytes per character; a bad pair steps one byte.
      {fix, r.eucJp, "00 41 00 B1 B0 21 B0 A1 00 00 FF 7E",
       "irv:41@2 kana:B1@4 0212:3021@6 0208:3021@8 irv:0@10 0212:7F7E@12 ok@12"},
      {fix, r.eucJp, "41 41", "bad@1 more@1"},
      {fix, r.eucJp, "9F A1 00", "bad@1 bad@2 more@2"},
      {fix, r.irv0208, "B0 21 00", "bad@1 bad@2 more@2"},
      {fix, r.eucJp, "B0", "more@0"},
      // ISO-2022-JP: escape sequences switch sets and consume no character.
      {iso, r.jis, "41 1B 28 4A 5C 1B 24 40 30 21 1B 28 42 7E",
       "irv:41@1 roman:5C@5 c6226:3021@10 irv:7E@14 ok@14", kIrv},
      // JIS X 0213 planes follow their designation.
      {iso, r.jis2004, "1B 24 28 50 21 21 21 22 1B 24 28 51 21 21 1B 24 28 50 7E 79 1B 24 42 30 21",
       "0213:12121@6 0213:12122@8 0213:2121@14 0213:17E79@20 0208:3021@25 ok@25", kX0208},
      // Double-byte mode keeps only TAB, LF and CR single, as ISO 646 even
      // for a rule without it.
      {iso, r.jis, "1B 24 42 0D 0A 09 20 20 0E 41 7F FF",
       "irv:D@4 irv:A@5 irv:9@6 0208:2020@8 0208:E41@10 0208:7FFF@12 ok@12", kX0208},
      {iso, r.only0208, "1B 24 42 0A", "irv:A@4 ok@4", kX0208},
      // Single-byte sets take any byte.
      {iso, r.jis, "00 80 FF 0E", "irv:0@1 irv:80@2 irv:FF@3 irv:E@4 ok@4", kIrv},
      // Sets the rule does not list are invalid; one of another width is
      // passed over in favour of a later one.
      {iso, r.irv0208, "1B 28 4A 41 42 1B 28 42 43", "bad@4 bad@5 irv:43@9 ok@9", kIrv},
      {iso, r.odd, "1B 24 42 30 21", "0208:3021@5 ok@5", kX0208},
      {iso, r.onlyOdd, "1B 24 42 30 21", "bad@4 bad@5 ok@5", kX0208},
  };
  for (unsigned b = 0x7F; b <= 0x9F; ++b)
    if (b != 0x8E && b != 0x8F)
      cases.push_back({jp, r.eucJp, hex({std::uint8_t(b), 0x41}), "bad@1 irv:41@2 ok@2"});
  for (const char* second : {"7F", "9F"}) {
    cases.push_back(
        {fix, r.eucJp, std::string("00 ") + second + " 00 42", "bad@1 bad@2 irv:42@4 ok@4"});
    cases.push_back({fix, r.eucJp, std::string("B0 ") + second, "bad@1 more@1"});
  }
  cases.push_back({fix, r.eucJp, "B0 20", "bad@1 more@1"});
  // Every truncation asks for more at the character's start, in EUC and
  // anywhere in an escape sequence.
  for (const std::string form : {"41 8E B1", "41 8F B0 A1", "41 FF A0"})
    for (std::size_t len = 5; len < form.size(); len += 3) {
      cases.push_back({jp, r.eucJp, form.substr(0, len), "irv:41@1 more@1"});
      cases.push_back({j4, r.eucJis2004, form.substr(0, len), "irv:41@1 more@1"});
    }
  for (const std::string form : {"41 1B 24 42", "41 1B 28 4A", "41 1B 24 28 51"})
    for (std::size_t len = 5; len < form.size(); len += 3)
      cases.push_back({iso, r.jis2004, form.substr(0, len), "irv:41@1 more@1", kIrv});
  // Unknown escape sequences stop at their ESC, waiting.
  for (const char* esc :
       {"1B 28 49 31", "1B 24 28 44 30", "1B 24 41 30", "1B 2E 41 30", "1B 4E 41 30"})
    cases.push_back({iso, r.jis, std::string("41 42 ") + esc, "irv:41@1 irv:42@2 more@2", kIrv});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    Source s(c.dest, c.rule, c.in);
    EXPECT_EQ(s.run(), c.want);
    if (c.designation) {
      EXPECT_EQ(s.rec.inDesignation, c.designation);
      EXPECT_EQ(s.rec.inPlane, 11u);
    }
  }
  Source odd(iso, r.odd, "1B 24 42 30 21");
  odd.run();
  EXPECT_EQ(odd.rec.inCharsetType, 2) << "type of the set found";
}

TEST(Iso2022JpDecode, ShiftStateOutlivesTheBuffer) {
  Rules r;
  Source s(zk::iso2022jpDecode, r.irv0208, "1B 24 42");
  EXPECT_EQ(s.run(), "ok@3");
  EXPECT_EQ(s.rec.inDesignation, kX0208);
  s.refill("30 21 24 22 30");  // ends inside a pair
  EXPECT_EQ(s.run(), "0208:3021@2 0208:2422@4 more@4");
  s.refill("30 22 1B 28 42 41");
  EXPECT_EQ(s.run(), "0208:3022@2 irv:41@6 ok@6");
  EXPECT_EQ(s.rec.inChars, 4) << "escape sequences are not counted";
}

TEST(EucWriteUnit, EdgeFormsAndUnmappableCodes) {
  struct Case {
    Writer write;
    std::uint32_t set, code;
    std::string want;  // empty: unmappable
  };
  const Writer jp = zk::eucjpWriteUnit, fix = zk::eucjpfixWriteUnit;
  // The edge forms, the decoder's trail bytes 0xA0 and 0xFF included; then
  // codes without a byte form, and sets EUC-JP does not write.
  const Case cases[] = {{jp, kIrv, 0x7E, "7E"},         {jp, kKana, 0xA0, "8E A0"},
                        {jp, kKana, 0xFF, "8E FF"},     {jp, kX0208, 0x2020, "A0 A0"},
                        {jp, kX0208, 0x7E7F, "FE FF"},  {jp, kX0212, 0x7E7F, "8F FE FF"},
                        {jp, kX0213, 0x2020, "A0 A0"},  {jp, kX0213, 0x17E7F, "8F FE FF"},
                        {jp, kX0208, 0x9321, "93 A1"},  {fix, kIrv, 0x7E, "00 7E"},
                        {fix, kKana, 0xA0, "00 A0"},    {fix, kX0208, 0x7E7F, "FE FF"},
                        {fix, kX0212, 0x7E7E, "FE 7E"}, {fix, kX0213, 0x3021, ""},
                        {jp, kX0208, 0x7F21, ""},       {jp, kX0208, 0x9221, ""},
                        {fix, kX0208, 0x7F21, ""},      {fix, kX0208, 0x9221, ""},
                        {jp, kRoman, 0x41, ""},         {jp, 0, 0x41, ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "set " << c.set << " code 0x" << std::hex << c.code);
    Out o;
    o.rec.outCharset = c.set;
    EXPECT_EQ(c.write(&o.rec, c.code), c.want.empty() ? 0 : 1);
    EXPECT_EQ(o.rec.status, c.want.empty() ? CCONV_UNMAPPABLE : CCONV_NEXT);
    EXPECT_EQ(o.written(), c.want);
  }
}

TEST(EucWriteUnit, EucJpNeverUsesTheLastByteFixFillsIt) {
  const std::array<std::uint32_t, 3> cases[] = {{kIrv, 0x41, 1},
                                                {kKana, 0xB1, 2},
                                                {kX0208, 0x3021, 2},
                                                {kX0212, 0x3021, 3},
                                                {kX0213, 0x12121, 3}};
  for (const auto& [set, code, size] : cases) {
    SCOPED_TRACE(set);
    Out o(3 + static_cast<std::int32_t>(size), 3);
    o.rec.outChars = 4;
    o.rec.outCharset = set;
    EXPECT_EQ(zk::eucjpWriteUnit(&o.rec, code), 0);
    EXPECT_EQ(o.rec.status, CCONV_OUTPUT_FULL);
    EXPECT_EQ(o.rec.outPos, 3);
    EXPECT_EQ(o.rec.outChars, 4);
    EXPECT_EQ(o.buf[3], 0xEE) << "nothing partial is stored";
    o.rec.outSize++;
    EXPECT_EQ(zk::eucjpWriteUnit(&o.rec, code), 1);
    EXPECT_EQ(o.rec.status, CCONV_NEXT);
    EXPECT_EQ(o.rec.outPos, 3 + static_cast<std::int32_t>(size));
    EXPECT_EQ(o.rec.outChars, 5);
  }
  Out exact(2);
  exact.rec.outCharset = kX0208;
  EXPECT_EQ(zk::eucjpfixWriteUnit(&exact.rec, 0x3021), 1);
  EXPECT_EQ(exact.written(), "B0 A1");
  Out shortOne(3, 2);
  shortOne.rec.outCharset = kIrv;
  EXPECT_EQ(zk::eucjpfixWriteUnit(&shortOne.rec, 0x41), 0);
  EXPECT_EQ(shortOne.rec.status, CCONV_OUTPUT_FULL);
  EXPECT_EQ(shortOne.rec.outPos, 2);
  EXPECT_EQ(shortOne.buf[2], 0xEE);
}

// --- const functions, with characters placed directly in the hand-made sets ---

TEST(EucJpEncode, UnmappableFullAndPendingCharacters) {
  Rules r;
  Out t;
  t.rec.dstRule = r.eucJp;
  EXPECT_EQ(t.put(zk::eucjpEncode, kX0208, 0x7F21), CCONV_UNMAPPABLE);  // no EUC form
  EXPECT_EQ(t.put(zk::eucjpEncode, kX0213, 0x3021), CCONV_UNMAPPABLE);  // not a set of the rule
  EXPECT_EQ(t.rec.outPos, 0);
  EXPECT_EQ(t.rec.outChars, 0);

  // A character that did not fit is written as placed on the next call,
  // although the record now says another character.
  Out full(3);
  full.rec.dstRule = r.eucJp;
  EXPECT_EQ(full.put(zk::eucjpEncode, kX0212, 0x3021), CCONV_OUTPUT_FULL);
  EXPECT_EQ(full.rec.outPos, 0);
  full.rec.inCharset = kIrv;
  full.rec.code = 0x41;
  full.rec.outSize = 4;
  zk::eucjpEncode(&full.rec);
  EXPECT_EQ(full.rec.status, CCONV_NEXT);
  EXPECT_EQ(full.written(), "8F B0 A1");

  // A pending substitute the writer cannot take is dropped, and counted.
  Out sub;
  sub.rec.dstRule = r.eucJp;
  sub.put(zk::eucjpEncode, kIrv, 0x41);
  sub.emptySubstitute();
  zk::eucjpEncode(&sub.rec);
  EXPECT_EQ(sub.rec.status, CCONV_NEXT);
  EXPECT_EQ(sub.rec.outChars, 2);
  EXPECT_EQ(sub.written(), "41");
}

TEST(EucJpEncode, LineEndsGoThroughTheWriterUnitByUnit) {
  Rules r;
  const struct {
    Dest encode;
    std::uint32_t kind;
    int size;
    std::string want;  // empty: output full with nothing left behind
  } cases[] = {{zk::eucjpEncode, 1, 32, "0D 0A"},
               {zk::eucjpfixEncode, 3, 32, "00 0A"},
               {zk::eucjpEncode, 0, 2, ""}};  // CR LF with room for CR only
  for (const auto& c : cases) {
    Out o(c.size);
    o.rec.dstRule = r.eucJp;
    o.rec.dstOptions.newlineConvert = 1;
    o.rec.dstOptions.newlineKind = c.kind;
    EXPECT_EQ(o.put(c.encode, kIrv, 0x0D), c.want.empty() ? CCONV_OUTPUT_FULL : CCONV_NEXT);
    EXPECT_EQ(o.written(), c.want);
    if (c.want.empty()) {
      EXPECT_EQ(o.rec.outChars, 0);
    }
  }
}

// --- encoder, with characters placed directly in the hand-made rule's sets ---

struct Target : Out {
  ::RuleDef* rule = handRule({{kIrv, 1, 1},
                              {kRoman, 1, 1},
                              {kX0208, 1, 2},
                              {kC6226, 1, 2},
                              {kX0213, 1, 4},
                              {kKana, 1, 1},
                              {kX0212, 1, 2}});
  explicit Target(std::uint32_t dstId = 1009) {
    rec.dstRule = rule;
    rec.dstId = dstId;
    rec.dstOptions.outBigEndian = 1;
  }
  std::uint32_t put(std::uint32_t set, std::uint32_t code) {
    return Out::put(zk::iso2022jpEncode, set, code);
  }
  std::uint32_t resume() {
    zk::iso2022jpEncode(&rec);
    return rec.status;
  }
  std::uint32_t term() {
    rec.status = CCONV_TERMINATE;
    return resume();
  }
};

TEST(Iso2022JpEncode, Jis0213PlanesAreDesignatedOnceAndWrittenInTwoBytes) {
  Target t(1012);
  for (std::uint32_t code : {0x12121u, 0x17E79u, 0x2477u}) t.put(kX0213, code);
  t.put(kX0208, 0x3021);
  t.put(kX0213, 0x12122);
  EXPECT_EQ(t.rec.outPlane, 12u);
  EXPECT_EQ(t.rec.outDesignation, kX0213);
  t.term();
  EXPECT_EQ(t.drain(),
            "1B 24 28 50 21 21 7E 79 "  // plane 2
            "1B 24 28 51 24 77 "        // plane 1
            "1B 24 28 51 30 21 "        // JIS X 0208 on -2004
            "1B 24 28 50 21 22 1B 28 42");
}

TEST(Iso2022JpEncode, SetsWithoutAnEscapeAreUnmappableAndDroppedAsSubstitutes) {
  Target t;
  t.put(kX0208, 0x3021);
  EXPECT_EQ(t.put(kKana, 0xB1), CCONV_UNMAPPABLE);
  EXPECT_EQ(t.put(kX0212, 0x3021), CCONV_UNMAPPABLE);
  EXPECT_EQ(t.rec.outDesignation, kX0208);
  // What the driver leaves when no substitute was found: dropped, not refused again.
  t.emptySubstitute();
  EXPECT_EQ(t.resume(), CCONV_NEXT);
  EXPECT_EQ(t.rec.outChars, 2) << "the dropped character is counted";
  EXPECT_EQ(t.drain(), "1B 24 42 30 21");
  // A set the target does not list, and no Unicode route: unmappable too.
  t.rec.dstRule = handRule({{kIrv, 1, 1}});
  EXPECT_EQ(t.put(kX0208, 0x3021), CCONV_UNMAPPABLE);
  EXPECT_EQ(t.rec.outPos, 0);
}

TEST(Iso2022JpEncode, EscapeNeverTakesTheLastByteAndResumesWhole) {
  // ESC ( B A: with three bytes of room nothing is written.
  Target three;
  three.room(3);
  EXPECT_EQ(three.put(kIrv, 0x41), CCONV_OUTPUT_FULL);
  EXPECT_EQ(three.rec.outPos, 0);
  EXPECT_EQ(three.rec.outDesignation, 0u);
  EXPECT_EQ(three.buf[0], 0xEE);
  three.room(4);
  EXPECT_EQ(three.resume(), CCONV_NEXT);
  EXPECT_EQ(three.drain(), "1B 28 42 41");

  // Room for the sequence but not the character: the sequence stays.
  Target four;
  four.room(4);
  EXPECT_EQ(four.put(kX0208, 0x3021), CCONV_OUTPUT_FULL);
  EXPECT_EQ(four.rec.outPos, 3);
  EXPECT_EQ(four.rec.outDesignation, kX0208);
  four.drain();
  EXPECT_EQ(four.resume(), CCONV_NEXT);
  // Termination closes even when the last designation did not fit.
  four.drain();
  four.room(2);  // ESC ( B for the next letter does not fit
  EXPECT_EQ(four.put(kIrv, 0x41), CCONV_OUTPUT_FULL);
  four.room(3);  // the closing sequence never takes the last byte
  EXPECT_EQ(four.term(), CCONV_OUTPUT_FULL);
  EXPECT_EQ(four.rec.outPos, 0);
  four.room(4);
  EXPECT_EQ(four.term(), CCONV_OK);
  EXPECT_EQ(four.drain(), "1B 24 42 30 21 1B 28 42");

  // A four-byte plane designation with exactly four bytes left does not fit.
  Target plane(1012);
  plane.room(4);
  EXPECT_EQ(plane.put(kX0213, 0x12121), CCONV_OUTPUT_FULL);
  EXPECT_EQ(plane.rec.outPos, 0);
  EXPECT_EQ(plane.rec.outPlane, 0u);
  plane.room(6);
  EXPECT_EQ(plane.resume(), CCONV_NEXT);
  EXPECT_EQ(plane.drain(), "1B 24 28 50 21 21");
}

}  // namespace
}  // namespace zktest
