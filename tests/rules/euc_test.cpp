// EUC-JP, EUC-JIS-2004 and EUC-JP-FIX decoders and byte writers, driven
// directly through hand-made rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "euc_handrule.h"

namespace {

using zktest::HandRule;
using zktest::Step;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint32_t kIrv = 2001, kKana = 2003, kX0208 = 2006, kX0212 = 2007, kX0213 = 2011;

HandRule& eucJpRule() {
  static HandRule r({{kIrv, 1, 1}, {kKana, 1, 1}, {kX0208, 1, 2}, {kX0212, 1, 2}});
  return r;
}
HandRule& eucJis2004Rule() {
  static HandRule r({{kIrv, 1, 1}, {kKana, 1, 1}, {kX0213, 1, 2}});
  return r;
}

CconvRecord sourceRecord(const HandRule& rule, const Bytes& in) {
  CconvRecord rec{};
  rec.srcRule = rule.get();
  rec.inBuf = in.data();
  rec.inLen = static_cast<std::int32_t>(in.size());
  return rec;
}

std::vector<Step> decode(int (*dest)(CconvRecord*), const HandRule& rule, const Bytes& in) {
  CconvRecord rec = sourceRecord(rule, in);
  return zktest::decodeAll(&rec, dest);
}

Step chr(std::uint32_t charset, std::uint32_t code, std::int32_t pos) {
  return {CCONV_CHAR, charset, code, pos};
}
Step bad(std::int32_t pos) { return {CCONV_INVALID, 0, 0, pos}; }
Step more(std::int32_t pos) { return {CCONV_NEED_INPUT, 0, 0, pos}; }
Step done(std::int32_t pos) { return {CCONV_OK, 0, 0, pos}; }

TEST(EucJpDecode, EachCodeSetAndTheWideTrailRange) {
  const Bytes in = {0x41, 0x00, 0x1F, 0x8E, 0xB1, 0x8F, 0xB0,
                    0xA1, 0xB0, 0xA1, 0xA0, 0xA0, 0xFF, 0xFF};
  EXPECT_EQ(decode(zk::destEucJp, eucJpRule(), in),
            (std::vector<Step>{chr(kIrv, 0x41, 1), chr(kIrv, 0x00, 2), chr(kIrv, 0x1F, 3),
                               chr(kKana, 0xB1, 5), chr(kX0212, 0x3021, 8), chr(kX0208, 0x3021, 10),
                               chr(kX0208, 0x2020, 12), chr(kX0208, 0x7F7F, 14), done(14)}));
}

TEST(EucJpDecode, Jis2004ReadsBothPlanesOfJisX0213) {
  const Bytes in = {0x8F, 0xB0, 0xA1, 0xB0, 0xA1, 0x8E, 0xDF};
  EXPECT_EQ(decode(zk::destEucJis2004, eucJis2004Rule(), in),
            (std::vector<Step>{chr(kX0213, 0x13021, 3), chr(kX0213, 0x3021, 5), chr(kKana, 0xDF, 7),
                               done(7)}));
}

TEST(EucJpDecode, BadBytesAreRefusedOneBytePastTheirStart) {
  for (std::uint32_t b = 0x7F; b <= 0x9F; ++b) {
    if (b == 0x8E || b == 0x8F) continue;
    const Bytes in = {static_cast<std::uint8_t>(b), 0x41};
    EXPECT_EQ(decode(zk::destEucJp, eucJpRule(), in),
              (std::vector<Step>{bad(1), chr(kIrv, 0x41, 2), done(2)}))
        << "first byte " << b;
  }
  // A trail byte below 0xA0 refuses the lead only, so a skipping reader
  // resumes at the trail byte.
  EXPECT_EQ(decode(zk::destEucJp, eucJpRule(), {0xB0, 0x41}),
            (std::vector<Step>{bad(1), chr(kIrv, 0x41, 2), done(2)}));
  EXPECT_EQ(decode(zk::destEucJp, eucJpRule(), {0x8E, 0x9F}),
            (std::vector<Step>{bad(1), bad(2), done(2)}));
  EXPECT_EQ(decode(zk::destEucJp, eucJpRule(), {0x8F, 0xB0, 0x41}),
            (std::vector<Step>{bad(1), bad(2), chr(kIrv, 0x41, 3), done(3)}));
  EXPECT_EQ(decode(zk::destEucJp, eucJpRule(), {0x8F, 0x41, 0xB0, 0x42}),
            (std::vector<Step>{bad(1), chr(kIrv, 0x41, 2), bad(3), chr(kIrv, 0x42, 4), done(4)}));
}

TEST(EucJpDecode, EveryTruncationAsksForMoreAtTheCharacterStart) {
  const std::vector<Bytes> forms = {{0x8E, 0xB1}, {0x8F, 0xB0, 0xA1}, {0xB0, 0xA1}, {0xFF, 0xA0}};
  for (auto dest : {zk::destEucJp, zk::destEucJis2004}) {
    for (const Bytes& form : forms) {
      for (std::size_t cut = 1; cut < form.size(); ++cut) {
        Bytes in = {0x41};
        in.insert(in.end(), form.begin(), form.begin() + static_cast<std::ptrdiff_t>(cut));
        EXPECT_EQ(decode(dest, dest == zk::destEucJp ? eucJpRule() : eucJis2004Rule(), in),
                  (std::vector<Step>{chr(kIrv, 0x41, 1), more(1)}))
            << "form starting 0x" << std::hex << int(form[0]) << " cut at " << cut;
      }
    }
  }
  // All bytes are counted before any is judged.
  EXPECT_EQ(decode(zk::destEucJp, eucJpRule(), {0x8F, 0x41}), (std::vector<Step>{more(0)}));
  EXPECT_EQ(decode(zk::destEucJp, eucJpRule(), {}), (std::vector<Step>{done(0)}));
}

TEST(EucJpDecode, SetsTheRuleDoesNotListAreInvalid) {
  HandRule noKana({{kIrv, 1, 1}, {kX0208, 1, 2}});
  EXPECT_EQ(decode(zk::destEucJp, noKana, {0x8E, 0xB1, 0x8F, 0xB0, 0xA1, 0xB0, 0xA1}),
            (std::vector<Step>{bad(1), bad(2), bad(3), chr(kX0208, 0x3021, 5),
                               chr(kX0208, 0x3021, 7), done(7)}));
  HandRule kanaOnly({{kKana, 1, 1}});
  EXPECT_EQ(decode(zk::destEucJp, kanaOnly, {0x41, 0xB0, 0xA1, 0x8E, 0xB1}),
            (std::vector<Step>{bad(1), bad(2), bad(3), chr(kKana, 0xB1, 5), done(5)}));
  // EUC-JP never reaches JIS X 0213, even when the rule lists it.
  HandRule x0213({{kIrv, 1, 1}, {kX0213, 1, 2}});
  EXPECT_EQ(decode(zk::destEucJp, x0213, {0xB0, 0xA1}), (std::vector<Step>{bad(1), more(1)}));
}

TEST(EucJpFixDecode, TwoBytesPerCharacter) {
  const Bytes in = {0x00, 0x41, 0x00, 0xB1, 0xB0, 0x21, 0xB0, 0xA1, 0x00, 0x00, 0xFF, 0x7E};
  EXPECT_EQ(decode(zk::eucjpfixDecode, eucJpRule(), in),
            (std::vector<Step>{chr(kIrv, 0x41, 2), chr(kKana, 0xB1, 4), chr(kX0212, 0x3021, 6),
                               chr(kX0208, 0x3021, 8), chr(kIrv, 0x00, 10), chr(kX0212, 0x7F7E, 12),
                               done(12)}));
}

TEST(EucJpFixDecode, BadPairsStepOneByte) {
  EXPECT_EQ(decode(zk::eucjpfixDecode, eucJpRule(), {0x41, 0x41}),
            (std::vector<Step>{bad(1), more(1)}));
  for (std::uint8_t second : {0x7F, 0x80, 0x9F}) {
    EXPECT_EQ(decode(zk::eucjpfixDecode, eucJpRule(), {0x00, second, 0x00, 0x42}),
              (std::vector<Step>{bad(1), bad(2), chr(kIrv, 0x42, 4), done(4)}))
        << int(second);
  }
  for (std::uint8_t second : {0x20, 0x7F, 0x9F}) {
    EXPECT_EQ(decode(zk::eucjpfixDecode, eucJpRule(), {0xB0, second}),
              (std::vector<Step>{bad(1), more(1)}))
        << int(second);
  }
  EXPECT_EQ(decode(zk::eucjpfixDecode, eucJpRule(), {0x9F, 0xA1, 0x00}),
            (std::vector<Step>{bad(1), bad(2), more(2)}));
  HandRule noX0212({{kIrv, 1, 1}, {kX0208, 1, 2}});
  EXPECT_EQ(decode(zk::eucjpfixDecode, noX0212, {0xB0, 0x21, 0x00}),
            (std::vector<Step>{bad(1), bad(2), more(2)}));
  EXPECT_EQ(decode(zk::eucjpfixDecode, eucJpRule(), {0xB0}), (std::vector<Step>{more(0)}));
  EXPECT_EQ(decode(zk::eucjpfixDecode, eucJpRule(), {}), (std::vector<Step>{done(0)}));
}

// --- byte writers ---

struct Out {
  std::uint8_t buf[16];
  CconvRecord rec{};
  Out(std::int32_t size, std::int32_t pos = 0) {
    std::memset(buf, 0xEE, sizeof buf);
    rec.outBuf = buf;
    rec.outSize = size;
    rec.outPos = pos;
  }
  int put(int (*writer)(CconvRecord*, std::uint32_t), std::uint32_t charset, std::uint32_t code) {
    rec.outCharset = charset;
    return writer(&rec, code);
  }
  Bytes written() const { return Bytes(buf, buf + rec.outPos); }
};

Bytes writeOne(int (*writer)(CconvRecord*, std::uint32_t), std::uint32_t charset,
               std::uint32_t code, std::uint32_t* status) {
  Out o(16);
  o.put(writer, charset, code);
  *status = o.rec.status;
  return o.written();
}

TEST(EucJpWriteUnit, RowsWithoutAnEucFormAndForeignSetsAreUnmappable) {
  std::uint32_t st = 0;
  EXPECT_EQ(writeOne(zk::eucjpWriteUnit, kX0208, 0x7E21, &st), (Bytes{0xFE, 0xA1}));
  for (std::uint32_t code : {0x7F21u, 0x8521u, 0x9221u}) {
    EXPECT_EQ(writeOne(zk::eucjpWriteUnit, kX0208, code, &st), Bytes{}) << code;
    EXPECT_EQ(st, CCONV_UNMAPPABLE);
    EXPECT_EQ(writeOne(zk::eucjpfixWriteUnit, kX0208, code, &st), Bytes{}) << code;
    EXPECT_EQ(st, CCONV_UNMAPPABLE);
  }
  EXPECT_EQ(writeOne(zk::eucjpWriteUnit, kX0208, 0x9321, &st), (Bytes{0x93, 0xA1}));
  EXPECT_EQ(st, CCONV_NEXT);
  for (std::uint32_t set : {2002u, 2004u, 3001u, 0u}) {
    EXPECT_EQ(writeOne(zk::eucjpWriteUnit, set, 0x41, &st), Bytes{}) << set;
    EXPECT_EQ(st, CCONV_UNMAPPABLE);
  }
  EXPECT_EQ(writeOne(zk::eucjpfixWriteUnit, kX0213, 0x3021, &st), Bytes{});
  EXPECT_EQ(st, CCONV_UNMAPPABLE);
}

TEST(EucJpWriteUnit, LastByteOfTheBufferIsNeverUsed) {
  struct Case {
    std::uint32_t charset, code;
    int size;  // bytes of the form
  };
  for (Case c : {Case{kIrv, 0x41, 1}, Case{kKana, 0xB1, 2}, Case{kX0208, 0x3021, 2},
                 Case{kX0212, 0x3021, 3}, Case{kX0213, 0x12121, 3}}) {
    for (std::int32_t pos : {0, 3}) {
      Out tight(pos + c.size, pos);
      tight.rec.outChars = 4;
      EXPECT_EQ(tight.put(zk::eucjpWriteUnit, c.charset, c.code), 0);
      EXPECT_EQ(tight.rec.status, CCONV_OUTPUT_FULL);
      EXPECT_EQ(tight.rec.outPos, pos);
      EXPECT_EQ(tight.rec.outChars, 4);
      EXPECT_EQ(tight.buf[pos], 0xEE) << "nothing partial is stored";

      Out room(pos + c.size + 1, pos);
      room.rec.outChars = 4;
      EXPECT_EQ(room.put(zk::eucjpWriteUnit, c.charset, c.code), 1);
      EXPECT_EQ(room.rec.status, CCONV_NEXT);
      EXPECT_EQ(room.rec.outPos, pos + c.size);
      EXPECT_EQ(room.rec.outChars, 5);
    }
  }
}

TEST(EucJpFixWriteUnit, FillsTheBufferToItsLastByte) {
  Out exact(2);
  EXPECT_EQ(exact.put(zk::eucjpfixWriteUnit, kX0208, 0x3021), 1);
  EXPECT_EQ(exact.written(), (Bytes{0xB0, 0xA1}));
  Out shortOne(3, 2);
  EXPECT_EQ(shortOne.put(zk::eucjpfixWriteUnit, kIrv, 0x41), 0);
  EXPECT_EQ(shortOne.rec.status, CCONV_OUTPUT_FULL);
  EXPECT_EQ(shortOne.rec.outPos, 2);
  EXPECT_EQ(shortOne.buf[2], 0xEE);
}

// Every valid double-byte and SS3 form decodes and writes back to itself.
void expectRoundTrip(int (*dest)(CconvRecord*), const HandRule& rule,
                     int (*writer)(CconvRecord*, std::uint32_t), const Bytes& in) {
  CconvRecord rec = sourceRecord(rule, in);
  zktest::clearForDecode(&rec);
  dest(&rec);
  ASSERT_EQ(rec.status, CCONV_CHAR);
  ASSERT_EQ(rec.inPos, static_cast<std::int32_t>(in.size()));
  Out o(16);
  ASSERT_EQ(o.put(writer, rec.inCharset, rec.code), 1);
  EXPECT_EQ(o.written(), in);
}

TEST(EucRoundTrip, EveryFormDecodesAndWritesBackToItself) {
  for (std::uint32_t b1 = 0xA0; b1 <= 0xFE; ++b1) {
    for (std::uint32_t b2 = 0xA0; b2 <= 0xFF; ++b2) {
      const auto h = static_cast<std::uint8_t>(b1), l = static_cast<std::uint8_t>(b2);
      expectRoundTrip(zk::destEucJp, eucJpRule(), zk::eucjpWriteUnit, {h, l});
      expectRoundTrip(zk::destEucJp, eucJpRule(), zk::eucjpWriteUnit, {0x8F, h, l});
      expectRoundTrip(zk::destEucJis2004, eucJis2004Rule(), zk::eucjpWriteUnit, {h, l});
      expectRoundTrip(zk::destEucJis2004, eucJis2004Rule(), zk::eucjpWriteUnit, {0x8F, h, l});
      expectRoundTrip(zk::eucjpfixDecode, eucJpRule(), zk::eucjpfixWriteUnit, {h, l});
      if (b2 >= 0xA1 && b2 <= 0xFE)
        expectRoundTrip(zk::eucjpfixDecode, eucJpRule(), zk::eucjpfixWriteUnit,
                        {h, static_cast<std::uint8_t>(b2 & 0x7F)});
      if (HasFatalFailure() || HasNonfatalFailure()) return;
    }
  }
  for (std::uint32_t b = 0; b <= 0xFF; ++b) {
    const auto v = static_cast<std::uint8_t>(b);
    if (b <= 0x7E) expectRoundTrip(zk::destEucJp, eucJpRule(), zk::eucjpWriteUnit, {v});
    if (b >= 0xA0) expectRoundTrip(zk::destEucJp, eucJpRule(), zk::eucjpWriteUnit, {0x8E, v});
    if (b <= 0x7E || b >= 0xA0)
      expectRoundTrip(zk::eucjpfixDecode, eucJpRule(), zk::eucjpfixWriteUnit, {0x00, v});
  }
}

}  // namespace

// --- const functions, with characters placed directly in the hand-made sets ---

namespace {

struct EucTarget {
  Out o;
  int (*encode)(CconvRecord*);
  EucTarget(const HandRule& rule, int (*fn)(CconvRecord*), std::int32_t size = 16)
      : o(size), encode(fn) {
    o.rec.dstRule = rule.get();
  }
  std::uint32_t put(std::uint32_t charset, std::uint32_t code) {
    zktest::clearForDecode(&o.rec);
    o.rec.inCharset = charset;
    o.rec.rawCode = o.rec.code = code;
    o.rec.status = CCONV_CHAR;
    encode(&o.rec);
    return o.rec.status;
  }
  std::uint32_t again() {
    encode(&o.rec);
    return o.rec.status;
  }
};

}  // namespace

TEST(EucJpEncode, UnwritableAndUnplaceableCharactersAreUnmappable) {
  EucTarget t(eucJpRule(), zk::eucjpEncode);
  EXPECT_EQ(t.put(kX0208, 0x7F21), CCONV_UNMAPPABLE);
  EXPECT_EQ(t.put(kX0213, 0x3021), CCONV_UNMAPPABLE);  // not a set of the rule
  EXPECT_EQ(t.o.rec.outPos, 0);
  EXPECT_EQ(t.o.rec.outChars, 0);
  EucTarget fix(eucJis2004Rule(), zk::eucjpfixEncode);
  EXPECT_EQ(fix.put(kX0213, 0x3021), CCONV_UNMAPPABLE);  // placed, but FIX has no form
  EXPECT_EQ(fix.o.rec.outPos, 0);
}

TEST(EucJpEncode, CharacterThatDidNotFitIsWrittenAsPlacedOnTheNextCall) {
  EucTarget t(eucJpRule(), zk::eucjpEncode, 3);
  EXPECT_EQ(t.put(kX0212, 0x3021), CCONV_OUTPUT_FULL);
  EXPECT_EQ(t.o.rec.outPos, 0);
  // The record now says another character, but the placement stands.
  t.o.rec.inCharset = kIrv;
  t.o.rec.code = 0x41;
  t.o.rec.outSize = 4;
  EXPECT_EQ(t.again(), CCONV_NEXT);
  EXPECT_EQ(t.o.written(), (Bytes{0x8F, 0xB0, 0xA1}));
}

TEST(EucJpEncode, PendingSubstituteTheWriterCannotTakeIsDropped) {
  EucTarget t(eucJpRule(), zk::eucjpEncode);
  t.put(kIrv, 0x41);
  t.o.rec.outCharset = 0;  // an empty substitute
  t.o.rec.outCode = 0;
  t.o.rec.outUnit = 0;
  t.o.rec.status = CCONV_OUTPUT_FULL;
  EXPECT_EQ(t.again(), CCONV_NEXT);
  EXPECT_EQ(t.o.rec.outChars, 2);
  EXPECT_EQ(t.o.written(), (Bytes{0x41}));
}

TEST(EucJpEncode, LineEndsGoThroughTheWriterUnitByUnit) {
  EucTarget euc(eucJpRule(), zk::eucjpEncode);
  euc.o.rec.dstOptions.newlineConvert = 1;
  euc.o.rec.dstOptions.newlineKind = 1;
  euc.put(kIrv, 0x0D);
  EXPECT_EQ(euc.o.written(), (Bytes{0x0D, 0x0A}));
  EucTarget fix(eucJpRule(), zk::eucjpfixEncode);
  fix.o.rec.dstOptions.newlineConvert = 1;
  fix.o.rec.dstOptions.newlineKind = 3;
  fix.put(kIrv, 0x0D);
  EXPECT_EQ(fix.o.written(), (Bytes{0x00, 0x0A}));
  // CR LF with room for CR only: neither is left behind.
  EucTarget tight(eucJpRule(), zk::eucjpEncode, 2);
  tight.o.rec.dstOptions.newlineConvert = 1;
  EXPECT_EQ(tight.put(kIrv, 0x0D), CCONV_OUTPUT_FULL);
  EXPECT_EQ(tight.o.rec.outPos, 0);
  EXPECT_EQ(tight.o.rec.outChars, 0);
}
