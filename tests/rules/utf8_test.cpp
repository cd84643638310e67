// UTF-8 rules: the six-byte reader and writer, FE/FF, the input and output
// marks, the combining-pair look-ahead, and conversions through the exported
// calls checked against Python's codecs.
#include <gtest/gtest.h>

#include "rules/rules.h"
#include "rules/ucs_world.h"
#include "rules/unicode.h"

namespace zktest {
namespace {

// Reads every sequence of `in` with utf8ReadSequence.
std::vector<std::uint32_t> readAll(const Bytes& in, std::uint32_t* lastStatus,
                                   std::int32_t* lastPos) {
  CconvRecord r;
  std::memset(&r, 0, sizeof r);
  r.inBuf = in.data();
  r.inLen = static_cast<std::int32_t>(in.size());
  std::vector<std::uint32_t> values;
  std::uint32_t v = 0;
  while (r.inPos < r.inLen && zk::utf8ReadSequence(&r, &v)) values.push_back(v);
  *lastStatus = r.status;
  *lastPos = r.inPos;
  return values;
}

TEST(Utf8Read, EveryLeadPatternAndLenientContinuations) {
  std::uint32_t st;
  std::int32_t pos;
  EXPECT_EQ(readAll({0xE3, 0x81, 0x82}, &st, &pos), (std::vector<std::uint32_t>{0x3042}));
  EXPECT_EQ(readAll({0xC0, 0x80}, &st, &pos), (std::vector<std::uint32_t>{0}));  // overlong NUL
  EXPECT_EQ(readAll({0x80, 0xBF}, &st, &pos), (std::vector<std::uint32_t>{0x80, 0xBF}));
  EXPECT_EQ(readAll({0xED, 0xA0, 0x80}, &st, &pos), (std::vector<std::uint32_t>{0xD800}));
  EXPECT_EQ(readAll({0xF0, 0x90, 0x80, 0x80}, &st, &pos), (std::vector<std::uint32_t>{0x10000}));
  EXPECT_EQ(readAll({0xF8, 0x88, 0x80, 0x80, 0x80}, &st, &pos),
            (std::vector<std::uint32_t>{0x200000}));
  EXPECT_EQ(readAll({0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}, &st, &pos),
            (std::vector<std::uint32_t>{0x7FFFFFFF}));
  // Following bytes give their low six bits whatever their high bits are.
  EXPECT_EQ(readAll({0xE3, 0x41, 0x42}, &st, &pos), (std::vector<std::uint32_t>{0x3042}));
  // FE and FF between characters are dropped.
  EXPECT_EQ(readAll({0xFE, 0x41, 0xFF, 0xFF, 0x42}, &st, &pos),
            (std::vector<std::uint32_t>{0x41, 0x42}));
  EXPECT_EQ(st, CCONV_CHAR);
  EXPECT_EQ(pos, 5);
}

TEST(Utf8Read, EveryTruncationNeedsInputAtTheLeadByte) {
  const std::vector<Bytes> forms = {{0xC3, 0xA9},
                                    {0xE3, 0x81, 0x82},
                                    {0xF0, 0x9F, 0x98, 0x80},
                                    {0xF8, 0x88, 0x80, 0x80, 0x80},
                                    {0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}};
  for (const Bytes& form : forms) {
    std::uint32_t st;
    std::int32_t pos;
    const std::vector<std::uint32_t> whole = readAll(form, &st, &pos);
    ASSERT_EQ(whole.size(), 1u);
    for (std::size_t cut = 1; cut < form.size(); ++cut) {
      Bytes in = {0x41, 0xFE};
      in.insert(in.end(), form.begin(), form.begin() + static_cast<long>(cut));
      EXPECT_EQ(readAll(in, &st, &pos), (std::vector<std::uint32_t>{0x41})) << cut;
      EXPECT_EQ(st, CCONV_NEED_INPUT) << cut;
      EXPECT_EQ(pos, 2) << "the FE is used, the lead byte is not; cut " << cut;
    }
  }
  // Only FE and FF bytes: nothing is consumed.
  std::uint32_t st;
  std::int32_t pos;
  EXPECT_TRUE(readAll({0xFE, 0xFF, 0xFE}, &st, &pos).empty());
  EXPECT_EQ(st, CCONV_NEED_INPUT);
  EXPECT_EQ(pos, 0);
}

TEST(Utf8Write, EveryRowBoundaryRoundTripsWithItsLength) {
  const std::pair<std::uint32_t, int> cases[] = {
      {0, 1},         {0x7F, 1},      {0x80, 2},      {0x7FF, 2},    {0x800, 3},
      {0xD800, 3},    {0xFFFF, 3},    {0x10000, 4},   {0x1FFFFF, 4}, {0x200000, 5},
      {0x3FFFFFF, 5}, {0x4000000, 6}, {0x7FFFFFFF, 6}};
  for (const auto& [value, length] : cases) {
    Bytes buf(8, 0xEE);
    CconvRecord r;
    std::memset(&r, 0, sizeof r);
    r.outBuf = buf.data();
    r.outSize = 8;
    ASSERT_EQ(zk::utf8WriteUnit(&r, value), 1) << std::hex << value;
    EXPECT_EQ(r.outPos, length) << std::hex << value;
    EXPECT_EQ(r.outChars, 1);
    EXPECT_EQ(r.status, CCONV_NEXT);
    buf.resize(static_cast<std::size_t>(r.outPos));
    std::uint32_t st;
    std::int32_t pos;
    EXPECT_EQ(readAll(buf, &st, &pos), (std::vector<std::uint32_t>{value})) << std::hex << value;
  }
}

TEST(Utf8Write, KnownBytesLimitsAndRoom) {
  Bytes buf(8, 0xEE);
  CconvRecord r;
  std::memset(&r, 0, sizeof r);
  r.outBuf = buf.data();
  r.outSize = 8;
  ASSERT_EQ(zk::utf8WriteUnit(&r, 0x10000), 1);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 4), (Bytes{0xF0, 0x90, 0x80, 0x80}));
  r.outPos = 0;
  ASSERT_EQ(zk::utf8WriteUnit(&r, 0x7FFFFFFF), 1);
  EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 6), (Bytes{0xFD, 0xBF, 0xBF, 0xBF, 0xBF, 0xBF}));

  r.outPos = 0;
  EXPECT_EQ(zk::utf8WriteUnit(&r, 0x80000000u), 0);
  EXPECT_EQ(r.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(r.outPos, 0);

  // Two bytes of room for a three-byte sequence: nothing is written.
  buf.assign(8, 0xEE);
  r.outPos = 6;
  r.outChars = 0;
  EXPECT_EQ(zk::utf8WriteUnit(&r, 0x3042), 0);
  EXPECT_EQ(r.status, CCONV_OUTPUT_FULL);
  EXPECT_EQ(r.outPos, 6);
  EXPECT_EQ(r.outChars, 0);
  EXPECT_EQ(buf, Bytes(8, 0xEE));
}

TEST(Utf8Dest, MarkDetectionWaitsForThreeBytes) {
  UcsWorld world;
  CconvSrcOptions detect = srcOpts(0, 1);
  {
    Rec x("ISO-10646-UCS-4", "UTF-8", &detect);
    x.input({0xEF, 0xBB, 0xBF, 0x41});
    EXPECT_EQ(decodeStep(x, zk::destUtf8), CCONV_CHAR);
    EXPECT_EQ(x.r.ucs, 0x41u);
    EXPECT_EQ(x.r.inPos, 4);
    EXPECT_EQ(x.r.srcOptions.inDetectBom, 0u);
  }
  {
    Rec x("ISO-10646-UCS-4", "UTF-8", &detect);
    x.input({0x41, 0x42});
    EXPECT_EQ(decodeStep(x, zk::destUtf8), CCONV_NEED_INPUT);
    EXPECT_EQ(x.r.inPos, 0);
    EXPECT_EQ(x.r.srcOptions.inDetectBom, 1u);
    x.input({0x41, 0x42, 0x43});
    EXPECT_EQ(decodeStep(x, zk::destUtf8), CCONV_CHAR);
    EXPECT_EQ(x.r.ucs, 0x41u);
    EXPECT_EQ(x.r.srcOptions.inDetectBom, 0u);
  }
  // C0 80 is U+0000; FE/FF alone wait for more input, consuming nothing.
  ConvertResult n = convert("UTF-16", "UTF-8", {0x41, 0xC0, 0x80});
  EXPECT_EQ(n.out, (Bytes{0x41, 0x00, 0x00, 0x00}));
  n = convert("UTF-16", "UTF-8", {0x41, 0xFF, 0xFE});
  EXPECT_EQ(n.status, CCONV_NEED_INPUT);
  EXPECT_EQ(n.inPos, 1);
  // Without detection the mark is the character U+FEFF.
  CconvDstOptions be = dstOpts(1);
  ConvertResult r = convert("ISO-10646-UCS-4", "UTF-8", {0xEF, 0xBB, 0xBF, 0x41}, nullptr, &be);
  EXPECT_EQ(ucs4Values(r.out), (std::vector<std::uint32_t>{0xFEFF, 0x41}));
  r = convert("ISO-10646-UCS-4", "UTF-8", {0xEF, 0xBB, 0xBF, 0x41}, &detect, &be);
  EXPECT_EQ(ucs4Values(r.out), (std::vector<std::uint32_t>{0x41}));
  EXPECT_TRUE(piecewiseSame("ISO-10646-UCS-4", "UTF-8", {0xEF, 0xBB, 0xBF, 0x41, 0xE3, 0x81, 0x82},
                            &detect, &be));
}

TEST(Utf8Dest, CombiningPairLookAhead) {
  UcsWorld world;
  Rec x("UTF-16", "UTF-8");
  x.input({0xE3, 0x81, 0x8B, 0xE3, 0x82, 0x9A, 0xE3, 0x81, 0x8B, 0xE3, 0x81, 0x82});
  EXPECT_EQ(decodeStep(x, zk::destUtf8), CCONV_CHAR);
  EXPECT_EQ(x.r.ucs, 0x304Bu);
  EXPECT_EQ(x.r.ucs2, 0x309Au);
  EXPECT_EQ(x.r.inPos, 6);
  EXPECT_EQ(decodeStep(x, zk::destUtf8), CCONV_CHAR);
  EXPECT_EQ(x.r.ucs, 0x304Bu);
  EXPECT_EQ(x.r.ucs2, 0u);
  EXPECT_EQ(x.r.inPos, 9) << "a following non-combining character is left for the next call";
  EXPECT_EQ(decodeStep(x, zk::destUtf8), CCONV_CHAR);
  EXPECT_EQ(x.r.ucs, 0x3042u);
  EXPECT_EQ(x.r.inChars, 3);
}

TEST(Utf8Dest, PairPreTestCoversEveryBaseOfThePairTable) {
  // The look-ahead is skipped for values the pre-test rejects; it must not
  // reject a base that the pair table holds.
  int pairs = 0;
  for (std::uint32_t base = 0; base < 0x10000; ++base)
    for (std::uint32_t mark : {0x309Au, 0x02E5u, 0x02E9u, 0x0300u, 0x0301u})
      if (zk::jisIsPair(base, mark)) {
        ++pairs;
        EXPECT_TRUE(zk::ucsMayBePairBase(base)) << std::hex << base;
      }
  EXPECT_EQ(pairs, 25);
}

TEST(Utf8Dest, ValueNoSetTakesIsInvalidAndSkippable) {
  UcsWorld world;
  // 0x200000 (five bytes) is taken by no set.
  const Bytes in = {0x41, 0xF8, 0x88, 0x80, 0x80, 0x80, 0x42};
  ConvertResult r = convert("UTF-16", "UTF-8", in);
  EXPECT_EQ(r.status, CCONV_INVALID);
  EXPECT_EQ(r.inPos, 6) << "inPos after the invalid sequence";
  CconvSrcOptions skip = srcOpts(0, 0, 1);
  r = convert("UTF-16", "UTF-8", in, &skip);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(r.out, (Bytes{0x41, 0x00, 0x42, 0x00}));
}

TEST(Utf8Const, MarkIsWrittenOnceAndClosesAnEmptyOutput) {
  UcsWorld world;
  CconvDstOptions bom = dstOpts(1, 1);  // outBigEndian does not matter in UTF-8
  ConvertResult r = convert("UTF-8", "UTF-16", {0x42, 0x30, 0x41, 0x00}, nullptr, &bom);
  EXPECT_EQ(r.out, (Bytes{0xEF, 0xBB, 0xBF, 0xE3, 0x81, 0x82, 0x41}));
  EXPECT_EQ(r.outChars, 2) << "the mark is not counted";
  r = convert("UTF-8", "UTF-16", {}, nullptr, &bom);
  EXPECT_EQ(r.out, (Bytes{0xEF, 0xBB, 0xBF}));
  EXPECT_EQ(r.status, CCONV_OK);

  // Termination after a full output buffer: the mark waits for room.
  Rec x("UTF-8", "UTF-16", nullptr, &bom);
  x.input({});
  x.room(2);
  EXPECT_EQ(cconvTermConvert(&x.r), CCONV_OUTPUT_FULL);
  EXPECT_EQ(x.r.outPos, 0);
  x.room(3);
  EXPECT_EQ(cconvTermConvert(&x.r), CCONV_OK);
  EXPECT_EQ(x.written(), (Bytes{0xEF, 0xBB, 0xBF}));
  EXPECT_EQ(x.r.dstOptions.outWriteBom, 0u);
}

TEST(Utf8Const, FullBufferKeepsTheCharacterForTheNextCall) {
  UcsWorld world;
  Rec x("UTF-8", "UTF-16");
  x.input({0x41, 0x00, 0x42, 0x30});
  x.room(3);
  EXPECT_EQ(cconvConvert(&x.r), CCONV_OUTPUT_FULL);
  EXPECT_EQ(x.written(), (Bytes{0x41}));
  EXPECT_EQ(x.out[1], 0xEE) << "nothing of U+3042 in the two bytes left";
  x.room(3);
  EXPECT_EQ(cconvConvert(&x.r), CCONV_OK);
  EXPECT_EQ(x.written(), (Bytes{0xE3, 0x81, 0x82}));

  // The mark does not fit before the first character: the retry writes the
  // mark and then that very character.
  CconvDstOptions bom = dstOpts(0, 1);
  Rec y("UTF-8", "UTF-16", nullptr, &bom);
  y.input({0x42, 0x30});
  y.room(2);
  EXPECT_EQ(cconvConvert(&y.r), CCONV_OUTPUT_FULL);
  EXPECT_EQ(y.r.outPos, 0);
  y.room(16);
  EXPECT_EQ(cconvConvert(&y.r), CCONV_OK);
  EXPECT_EQ(y.written(), (Bytes{0xEF, 0xBB, 0xBF, 0xE3, 0x81, 0x82}));
}

TEST(Utf8Convert, SampleAgreesWithPythonBothWays) {
  UcsWorld world;
  const Bytes utf8 = utf8Of(kSampleText);
  const Bytes utf16 = fromHex(kSampleUtf16LeHex);
  ConvertResult r = convert("UTF-16", "UTF-8", utf8);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(hex(r.out), hex(utf16));
  r = convert("UTF-8", "UTF-16", utf16);
  EXPECT_EQ(r.status, CCONV_OK);
  EXPECT_EQ(hex(r.out), hex(utf8));
  CconvDstOptions rowFirst = dstOpts(1);  // double-byte codes row byte first
  r = convert("Shift_JIS", "UTF-8", utf8, nullptr, &rowFirst);
  EXPECT_EQ(hex(r.out), hex(kSampleSjis));
  r = convert("UTF-8", "Shift_JIS", kSampleSjis);
  EXPECT_EQ(hex(r.out), hex(utf8));
}

TEST(Utf8Convert, PiecesAndRoomDoNotChangeTheResult) {
  UcsWorld world;
  Bytes in = utf8Of(kSampleText);
  // Supplementary characters, FE/FF runs and a surrogate value as well.
  const Bytes extra = {0xF0, 0x9F, 0x98, 0x80, 0xFE, 0xFF, 0xFE, 0xED, 0xA0, 0x80, 0x41};
  in.insert(in.end(), extra.begin(), extra.end());
  CconvDstOptions bom = dstOpts(0, 1);
  EXPECT_TRUE(piecewiseSame("UTF-16", "UTF-8", in));
  EXPECT_TRUE(piecewiseSame("UTF-8", "UTF-16", encodeText(kSampleText, Enc::Utf16LE, false),
                            nullptr, &bom));
  EXPECT_TRUE(piecewiseSame("UTF-8", "Shift_JIS", kSampleSjis));
  CconvDstOptions rowFirst = dstOpts(1);
  EXPECT_TRUE(piecewiseSame("Shift_JIS", "UTF-8", utf8Of(kSampleText), nullptr, &rowFirst));
}

}  // namespace
}  // namespace zktest
