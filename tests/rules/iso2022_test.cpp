// ISO-2022-JP decoder, driven directly through hand-made rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "euc_handrule.h"

namespace {

using zktest::HandRule;
using zktest::Step;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kIrv = 2001, kRoman = 2002, kC6226 = 2004, kX0208 = 2006, kX0213 = 2011;
constexpr std::uint8_t ESC = 0x1B;

HandRule& jisRule() {
  static HandRule r({{kIrv, 1, 1}, {kRoman, 1, 1}, {kC6226, 1, 2}, {kX0208, 1, 2}});
  return r;
}
HandRule& jis2004Rule() {
  static HandRule r({{kIrv, 1, 1}, {kX0208, 1, 2}, {kX0213, 1, 2}});
  return r;
}

struct Source {
  Bytes in;
  CconvRecord rec{};
  Source(const HandRule& rule, Bytes bytes) : in(std::move(bytes)) {
    rec.srcRule = rule.get();
    rec.inBuf = in.data();
    rec.inLen = static_cast<std::int32_t>(in.size());
    rec.inDesignation = kIrv;  // as the source side is prepared
    rec.inPlane = 11;
  }
  std::vector<Step> run() { return zktest::decodeAll(&rec, zk::iso2022jpDecode); }
  // Hands the decoder a new buffer, keeping the shift state.
  void refill(Bytes bytes) {
    in = std::move(bytes);
    rec.inBuf = in.data();
    rec.inLen = static_cast<std::int32_t>(in.size());
    rec.inPos = 0;
  }
};

Step chr(std::uint32_t charset, std::uint32_t code, std::int32_t pos) {
  return {CCONV_CHAR, charset, code, pos};
}
Step bad(std::int32_t pos) { return {CCONV_INVALID, 0, 0, pos}; }
Step more(std::int32_t pos) { return {CCONV_NEED_INPUT, 0, 0, pos}; }
Step done(std::int32_t pos) { return {CCONV_OK, 0, 0, pos}; }

TEST(Iso2022JpDecode, EscapeSequencesSwitchSetsAndConsumeNoCharacter) {
  Source s(jisRule(), {ESC, 0x24, 0x42, 0x30, 0x21, ESC, 0x28, 0x42, 0x41});
  EXPECT_EQ(s.run(), (std::vector<Step>{chr(kX0208, 0x3021, 5), chr(kIrv, 0x41, 9), done(9)}));
  EXPECT_EQ(s.rec.inChars, 2);

  Source all(jisRule(),
             {0x41, ESC, 0x28, 0x4A, 0x5C, ESC, 0x24, 0x40, 0x30, 0x21, ESC, 0x28, 0x42, 0x7E});
  EXPECT_EQ(all.run(), (std::vector<Step>{chr(kIrv, 0x41, 1), chr(kRoman, 0x5C, 5),
                                          chr(kC6226, 0x3021, 10), chr(kIrv, 0x7E, 14), done(14)}));
}

TEST(Iso2022JpDecode, DesignationOutlivesTheBuffer) {
  Source s(jisRule(), {ESC, 0x24, 0x42});
  EXPECT_EQ(s.run(), (std::vector<Step>{done(3)}));
  EXPECT_EQ(s.rec.inDesignation, kX0208);
  s.refill({0x30, 0x21, 0x24, 0x22});
  EXPECT_EQ(s.run(), (std::vector<Step>{chr(kX0208, 0x3021, 2), chr(kX0208, 0x2422, 4), done(4)}));
}

TEST(Iso2022JpDecode, TruncationAtEveryPointAsksForMoreAtItsStart) {
  const std::vector<Bytes> forms = {{ESC, 0x24, 0x42},       {ESC, 0x28, 0x42},
                                    {ESC, 0x28, 0x4A},       {ESC, 0x24, 0x40},
                                    {ESC, 0x24, 0x28, 0x51}, {ESC, 0x24, 0x28, 0x50}};
  for (const Bytes& form : forms) {
    for (std::size_t cut = 1; cut < form.size(); ++cut) {
      Bytes in = {0x41};
      in.insert(in.end(), form.begin(), form.begin() + static_cast<std::ptrdiff_t>(cut));
      Source s(jis2004Rule(), in);
      EXPECT_EQ(s.run(), (std::vector<Step>{chr(kIrv, 0x41, 1), more(1)}))
          << "form byte 2 0x" << std::hex << int(form[1]) << " cut at " << cut;
      EXPECT_EQ(s.rec.inDesignation, kIrv);
    }
  }
  // The second byte of a double-byte character.
  Source pair(jisRule(), {ESC, 0x24, 0x42, 0x30, 0x21, 0x30});
  EXPECT_EQ(pair.run(), (std::vector<Step>{chr(kX0208, 0x3021, 5), more(5)}));
  pair.refill({0x30, 0x22});
  EXPECT_EQ(pair.run(), (std::vector<Step>{chr(kX0208, 0x3022, 2), done(2)}));
}

TEST(Iso2022JpDecode, UnknownEscapeSequencesStopAtTheirEsc) {
  const std::vector<Bytes> unknown = {{ESC, 0x28, 0x49, 0x31},        // half-width katakana
                                      {ESC, 0x24, 0x28, 0x44, 0x30},  // JIS X 0212
                                      {ESC, 0x24, 0x41, 0x30},
                                      {ESC, 0x2E, 0x41, 0x30},
                                      {ESC, 0x4E, 0x41, 0x30}};
  for (const Bytes& esc : unknown) {
    Bytes in = {0x41, 0x42};
    in.insert(in.end(), esc.begin(), esc.end());
    Source s(jisRule(), in);
    EXPECT_EQ(s.run(), (std::vector<Step>{chr(kIrv, 0x41, 1), chr(kIrv, 0x42, 2), more(2)}))
        << "escape byte 2 0x" << std::hex << int(esc[1]);
    EXPECT_EQ(s.rec.inDesignation, kIrv);
  }
}

TEST(Iso2022JpDecode, Jis0213PlanesFollowTheirDesignation) {
  Source s(jis2004Rule(),
           {ESC,  0x24, 0x28, 0x50, 0x21, 0x21, 0x21, 0x22, ESC,  0x24, 0x28, 0x51, 0x21,
            0x21, ESC,  0x24, 0x28, 0x50, 0x7E, 0x79, ESC,  0x24, 0x42, 0x30, 0x21});
  EXPECT_EQ(s.run(), (std::vector<Step>{chr(kX0213, 0x12121, 6), chr(kX0213, 0x12122, 8),
                                        chr(kX0213, 0x2121, 14), chr(kX0213, 0x17E79, 20),
                                        chr(kX0208, 0x3021, 25), done(25)}));
  EXPECT_EQ(s.rec.inPlane, 11u);
}

TEST(Iso2022JpDecode, DoubleByteModeKeepsOnlyTabLfCrSingle) {
  Source s(jisRule(), {ESC, 0x24, 0x42, 0x0D, 0x0A, 0x09, 0x20, 0x20, 0x0E, 0x41, 0x7F, 0xFF});
  EXPECT_EQ(s.run(), (std::vector<Step>{chr(kIrv, 0x0D, 4), chr(kIrv, 0x0A, 5), chr(kIrv, 0x09, 6),
                                        chr(kX0208, 0x2020, 8), chr(kX0208, 0x0E41, 10),
                                        chr(kX0208, 0x7FFF, 12), done(12)}));
  // Controls in double-byte mode are ISO 646 even for a rule without it.
  HandRule only0208({{kX0208, 2, 2}});
  Source t(only0208, {ESC, 0x24, 0x42, 0x0A});
  std::vector<Step> steps = t.run();
  EXPECT_EQ(steps, (std::vector<Step>{chr(kIrv, 0x0A, 4), done(4)}));
}

TEST(Iso2022JpDecode, SetsTheRuleDoesNotListAreInvalid) {
  HandRule noRoman({{kIrv, 1, 1}, {kX0208, 1, 2}});
  Source s(noRoman, {ESC, 0x28, 0x4A, 0x41, 0x42, ESC, 0x28, 0x42, 0x43});
  EXPECT_EQ(s.run(), (std::vector<Step>{bad(4), bad(5), chr(kIrv, 0x43, 9), done(9)}));
  // A set of another width is passed over in favour of a later one.
  HandRule odd({{kX0208, 1, 3}, {kX0208, 2, 2}});
  Source t(odd, {ESC, 0x24, 0x42, 0x30, 0x21});
  EXPECT_EQ(t.run(), (std::vector<Step>{chr(kX0208, 0x3021, 5), done(5)}));
  EXPECT_EQ(t.rec.inCharsetType, 2);
  HandRule onlyOdd({{kX0208, 1, 3}});
  Source u(onlyOdd, {ESC, 0x24, 0x42, 0x30, 0x21});
  EXPECT_EQ(u.run(), (std::vector<Step>{bad(4), bad(5), done(5)}));
}

TEST(Iso2022JpDecode, SingleByteSetsTakeAnyByte) {
  Source s(jisRule(), {0x00, 0x80, 0xFF, 0x0E});
  EXPECT_EQ(s.run(), (std::vector<Step>{chr(kIrv, 0x00, 1), chr(kIrv, 0x80, 2), chr(kIrv, 0xFF, 3),
                                        chr(kIrv, 0x0E, 4), done(4)}));
  Source empty(jisRule(), {});
  EXPECT_EQ(empty.run(), (std::vector<Step>{done(0)}));
}

}  // namespace

// --- encoder, with characters placed directly in the hand-made rule's sets ---

namespace {

struct Target {
  std::uint8_t buf[32];
  CconvRecord rec{};
  Bytes out;  // everything drained so far
  Target(const HandRule& rule, std::uint32_t dstId = 1009, bool bigEndian = true) {
    rec.dstRule = rule.get();
    rec.dstId = dstId;
    rec.dstOptions.outBigEndian = bigEndian ? 1 : 0;
    room(sizeof buf);
  }
  void room(std::int32_t size) {
    std::memset(buf, 0xEE, sizeof buf);
    rec.outBuf = buf;
    rec.outPos = 0;
    rec.outSize = size;
  }
  void drain() {
    out.insert(out.end(), buf, buf + rec.outPos);
    rec.outPos = 0;
  }
  // Hands the encoder one decoded character, as the driver does.
  std::uint32_t put(std::uint32_t charset, std::uint32_t code) {
    zktest::clearForDecode(&rec);
    rec.inCharset = charset;
    rec.rawCode = rec.code = code;
    rec.status = CCONV_CHAR;
    zk::iso2022jpEncode(&rec);
    return rec.status;
  }
  std::uint32_t resume() {
    zk::iso2022jpEncode(&rec);
    return rec.status;
  }
  std::uint32_t term() {
    rec.status = CCONV_TERMINATE;
    zk::iso2022jpEncode(&rec);
    return rec.status;
  }
  Bytes all() {
    drain();
    return out;
  }
};

HandRule& jisTarget() {
  static HandRule r({{kIrv, 1, 1},
                     {kRoman, 1, 1},
                     {kX0208, 1, 2},
                     {kC6226, 1, 2},
                     {kX0213, 1, 4},
                     {2003, 1, 1},
                     {2007, 1, 2}});
  return r;
}

}  // namespace

TEST(Iso2022JpEncode, Jis0213PlanesAreDesignatedOnceAndWrittenInTwoBytes) {
  Target t(jisTarget(), 1012);
  t.put(kX0213, 0x12121);
  t.put(kX0213, 0x17E79);
  t.put(kX0213, 0x2477);
  t.put(kX0208, 0x3021);
  t.put(kX0213, 0x12122);
  EXPECT_EQ(t.rec.outPlane, 12u);
  EXPECT_EQ(t.rec.outDesignation, kX0213);
  t.term();
  EXPECT_EQ(t.all(), (Bytes{ESC, 0x24, 0x28, 0x50, 0x21, 0x21, 0x7E, 0x79,  // plane 2
                            ESC, 0x24, 0x28, 0x51, 0x24, 0x77,              // plane 1
                            ESC, 0x24, 0x28, 0x51, 0x30, 0x21,              // X 0208 on -2004
                            ESC, 0x24, 0x28, 0x50, 0x21, 0x22, ESC,  0x28, 0x42}));
}

TEST(Iso2022JpEncode, SetsWithoutAnEscapeAreUnmappable) {
  Target t(jisTarget());
  t.put(kX0208, 0x3021);
  for (std::uint32_t set : {2003u, 2007u}) {
    EXPECT_EQ(t.put(set, set == 2003 ? 0xB1 : 0x3021), CCONV_UNMAPPABLE) << set;
    EXPECT_EQ(t.rec.outDesignation, kX0208);
  }
  EXPECT_EQ(t.all(), (Bytes{ESC, 0x24, 0x42, 0x30, 0x21}));
  // A set the target does not list, and no Unicode route: unmappable too.
  HandRule narrow({{kIrv, 1, 1}});
  Target n(narrow);
  EXPECT_EQ(n.put(kX0208, 0x3021), CCONV_UNMAPPABLE);
  EXPECT_EQ(n.all(), Bytes{});
}

TEST(Iso2022JpEncode, EscapeNeverTakesTheLastByteAndResumesWhole) {
  // ESC ( B A needs four bytes of room plus none spare for the character.
  Target three(jisTarget());
  three.room(3);
  EXPECT_EQ(three.put(kIrv, 0x41), CCONV_OUTPUT_FULL);
  EXPECT_EQ(three.rec.outPos, 0);
  EXPECT_EQ(three.rec.outDesignation, 0u);
  EXPECT_EQ(three.buf[0], 0xEE);
  three.room(4);
  EXPECT_EQ(three.resume(), CCONV_NEXT);
  EXPECT_EQ(three.all(), (Bytes{ESC, 0x28, 0x42, 0x41}));

  // Room for the sequence but not the character: the sequence stays.
  Target four(jisTarget());
  four.room(4);
  EXPECT_EQ(four.put(kX0208, 0x3021), CCONV_OUTPUT_FULL);
  EXPECT_EQ(four.rec.outPos, 3);
  EXPECT_EQ(four.rec.outDesignation, kX0208);
  four.drain();
  EXPECT_EQ(four.resume(), CCONV_NEXT);
  EXPECT_EQ(four.all(), (Bytes{ESC, 0x24, 0x42, 0x30, 0x21}));

  // A four-byte plane designation with exactly four bytes left does not fit.
  Target plane(jisTarget(), 1012);
  plane.room(4);
  EXPECT_EQ(plane.put(kX0213, 0x12121), CCONV_OUTPUT_FULL);
  EXPECT_EQ(plane.rec.outPos, 0);
  EXPECT_EQ(plane.rec.outPlane, 0u);
  plane.room(6);
  EXPECT_EQ(plane.resume(), CCONV_NEXT);
  EXPECT_EQ(plane.all(), (Bytes{ESC, 0x24, 0x28, 0x50, 0x21, 0x21}));
}

TEST(Iso2022JpEncode, TerminationClosesEvenWhenTheLastDesignationDidNotFit) {
  Target t(jisTarget());
  t.put(kX0208, 0x3021);
  t.drain();
  t.room(2);  // ESC ( B for the next letter does not fit
  EXPECT_EQ(t.put(kIrv, 0x41), CCONV_OUTPUT_FULL);
  t.room(8);
  EXPECT_EQ(t.term(), CCONV_OK);
  EXPECT_EQ(t.all(), (Bytes{ESC, 0x24, 0x42, 0x30, 0x21, ESC, 0x28, 0x42}));
}

TEST(Iso2022JpEncode, PendingSubstituteWithoutAnEscapeIsDroppedNotRefusedAgain) {
  Target t(jisTarget());
  t.put(kIrv, 0x41);
  // What the driver leaves when no substitute was found: nothing placed.
  t.rec.outCharset = 0;
  t.rec.outCode = 0;
  t.rec.outUnit = 0;
  t.rec.status = CCONV_OUTPUT_FULL;
  EXPECT_EQ(t.resume(), CCONV_NEXT);
  EXPECT_EQ(t.rec.outChars, 2);
  EXPECT_EQ(t.all(), (Bytes{ESC, 0x28, 0x42, 0x41}));
}
