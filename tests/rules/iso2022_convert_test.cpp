// ISO-2022-JP and ISO-2022-JP-2004 through the exported calls, with the
// shipped definitions, checked against iconv and against the EUC and
// Shift_JIS families.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "euc_world.h"

namespace {

using zktest::Bytes;
using zktest::convert;
using zktest::hex;
using zktest::iconvPeer;
using zktest::rowFirst;
using zktest::utf8;

constexpr std::uint8_t ESC = 0x1B;

// JIS X 0208 and ASCII only, starting and ending with kanji, so that the
// peer's output needs no leading designation of ASCII.
const std::string kText =
    "日本語の文章、カタカナとひらがな。\r\n"
    "漢字「東京都」ＡＢＣ１２３ and plain ASCII 0-9.\n"
    "記号※〒→○■\tおわり";

// JIS X 0213 text of both planes; the pair, plane 1 and plane 2 characters.
const std::string kText2004 = "か゚き゚ 𠀋𪚲 𠂉丂 ㇷ゚ 森鷗外 abc\r\n亜";

// ISO-2022-JP-2004 as it should come out for characters all placed in
// JIS X 0213 or ASCII, derived from the peer's EUC-JIS-2004 bytes: every
// change of set is designated, the first character too, and the text ends
// in ASCII.
Bytes iso2004FromEuc(const Bytes& euc) {
  Bytes out;
  int set = 0;  // 0 none, 1 ASCII, 2 plane 1, 3 plane 2
  auto designate = [&](int want) {
    if (set == want) return;
    static const Bytes seqs[] = {
        {}, {ESC, 0x28, 0x42}, {ESC, 0x24, 0x28, 0x51}, {ESC, 0x24, 0x28, 0x50}};
    out.insert(out.end(), seqs[want].begin(), seqs[want].end());
    set = want;
  };
  for (std::size_t i = 0; i < euc.size();) {
    if (euc[i] < 0x80) {
      designate(1);
      out.push_back(euc[i++]);
    } else if (euc[i] == 0x8F) {
      designate(3);
      out.push_back(euc[i + 1] & 0x7F);
      out.push_back(euc[i + 2] & 0x7F);
      i += 3;
    } else {
      designate(2);
      out.push_back(euc[i] & 0x7F);
      out.push_back(euc[i + 1] & 0x7F);
      i += 2;
    }
  }
  designate(1);
  return out;
}

class Iso2022Convert : public ::testing::Test {
 protected:
  void SetUp() override { zktest::useShippedJapanese(); }
};

TEST_F(Iso2022Convert, EucJpToIso2022JpAgreesWithIconvAndComesBack) {
  const Bytes euc = iconvPeer("EUC-JP", "UTF-8", utf8(kText));
  const Bytes jis = iconvPeer("ISO-2022-JP", "UTF-8", utf8(kText));
  ASSERT_FALSE(euc.empty());
  ASSERT_FALSE(jis.empty());
  const zktest::ConvertResult to = convert("ISO-2022-JP", "EUC-JP", euc, nullptr, rowFirst());
  EXPECT_EQ(to.status, CCONV_OK);
  EXPECT_EQ(hex(to.out), hex(jis));
  const zktest::ConvertResult back = convert("EUC-JP", "ISO-2022-JP", jis);
  EXPECT_EQ(back.status, CCONV_OK);
  EXPECT_EQ(hex(back.out), hex(euc));
  const zktest::ConvertResult fromUtf8 =
      convert("ISO-2022-JP", "UTF-8", utf8(kText), nullptr, rowFirst());
  EXPECT_EQ(hex(fromUtf8.out), hex(jis));
}

TEST_F(Iso2022Convert, ShiftJisKeepsItsRomanSetAndRoundTrips) {
  const Bytes sjis = iconvPeer("SHIFT_JIS", "UTF-8", utf8(kText));
  ASSERT_FALSE(sjis.empty());
  const zktest::ConvertResult jis = convert("ISO-2022-JP", "Shift_JIS", sjis, nullptr, rowFirst());
  EXPECT_EQ(jis.status, CCONV_OK);
  const zktest::ConvertResult back =
      convert("Shift_JIS", "ISO-2022-JP", jis.out, nullptr, rowFirst());
  EXPECT_EQ(back.status, CCONV_OK);
  EXPECT_EQ(hex(back.out), hex(sjis));

  // Shift_JIS single bytes are JIS X 0201 Roman, and the set is kept.
  const zktest::ConvertResult small =
      convert("ISO-2022-JP", "Shift_JIS", {0x41, 0x88, 0x9F, 0x5C}, nullptr, rowFirst());
  EXPECT_EQ(hex(small.out), hex({ESC, 0x28, 0x4A, 0x41, ESC, 0x24, 0x42, 0x30, 0x21, ESC, 0x28,
                                 0x4A, 0x5C, ESC, 0x28, 0x42}));
}

TEST_F(Iso2022Convert, Iso2022Jp2004DesignatesPlanesAsTheReferenceSays) {
  const Bytes sjis = iconvPeer("SHIFT_JISX0213", "UTF-8", utf8(kText2004));
  const Bytes euc = iconvPeer("EUC-JISX0213", "UTF-8", utf8(kText2004));
  ASSERT_FALSE(sjis.empty());
  ASSERT_FALSE(euc.empty());
  const zktest::ConvertResult jis =
      convert("ISO-2022-JP-2004", "Shift_JIS-2004", sjis, nullptr, rowFirst());
  EXPECT_EQ(jis.status, CCONV_OK);
  EXPECT_EQ(hex(jis.out), hex(iso2004FromEuc(euc)));
  const zktest::ConvertResult fromEuc =
      convert("ISO-2022-JP-2004", "EUC-JIS-2004", euc, nullptr, rowFirst());
  EXPECT_EQ(hex(fromEuc.out), hex(jis.out));

  const zktest::ConvertResult toSjis =
      convert("Shift_JIS-2004", "ISO-2022-JP-2004", jis.out, nullptr, rowFirst());
  EXPECT_EQ(toSjis.status, CCONV_OK);
  EXPECT_EQ(hex(toSjis.out), hex(sjis));
  const zktest::ConvertResult toEuc = convert("EUC-JIS-2004", "ISO-2022-JP-2004", jis.out);
  EXPECT_EQ(toEuc.status, CCONV_OK);
  EXPECT_EQ(hex(toEuc.out), hex(euc));
}

TEST_F(Iso2022Convert, JisX0208IntoIso2022Jp2004UsesThePlane1Sequence) {
  const Bytes euc = iconvPeer("EUC-JP", "UTF-8", utf8("亜A"));
  const zktest::ConvertResult jis = convert("ISO-2022-JP-2004", "EUC-JP", euc, nullptr, rowFirst());
  EXPECT_EQ(hex(jis.out), hex({ESC, 0x24, 0x28, 0x51, 0x30, 0x21, ESC, 0x28, 0x42, 0x41}));
  const zktest::ConvertResult back = convert("EUC-JP", "ISO-2022-JP-2004", jis.out);
  EXPECT_EQ(hex(back.out), hex(euc));
}

TEST_F(Iso2022Convert, OutputByteOrderIsTheHostsChoice) {
  const Bytes euc = {0xB0, 0xA1};
  const zktest::ConvertResult little = convert("ISO-2022-JP", "EUC-JP", euc);
  EXPECT_EQ(hex(little.out), hex({ESC, 0x24, 0x42, 0x21, 0x30, ESC, 0x28, 0x42}));
  const zktest::ConvertResult big = convert("ISO-2022-JP", "EUC-JP", euc, nullptr, rowFirst());
  EXPECT_EQ(hex(big.out), hex({ESC, 0x24, 0x42, 0x30, 0x21, ESC, 0x28, 0x42}));
}

TEST_F(Iso2022Convert, SetsOfTheSourceSurviveAnIso2022JpCopy) {
  const Bytes in = {ESC, 0x24, 0x40, 0x30, 0x21, ESC, 0x28, 0x4A, 0x5C, 0x7E,
                    ESC, 0x24, 0x42, 0x30, 0x21, ESC, 0x28, 0x42, 0x41};
  const zktest::ConvertResult copy = convert("ISO-2022-JP", "ISO-2022-JP", in, nullptr, rowFirst());
  EXPECT_EQ(copy.status, CCONV_OK);
  EXPECT_EQ(hex(copy.out), hex(in));
}

TEST_F(Iso2022Convert, PiecesAndRoomDoNotChangeTheResult) {
  const std::string text = "亜A\r\n漢字 and ASCII 東";
  const Bytes euc = iconvPeer("EUC-JP", "UTF-8", utf8(text));
  const Bytes jis = iconvPeer("ISO-2022-JP", "UTF-8", utf8(text));
  const Bytes sjis2004 = iconvPeer("SHIFT_JISX0213", "UTF-8", utf8("か゚𠂉丂A亜"));
  ASSERT_FALSE(sjis2004.empty());
  EXPECT_TRUE(zktest::piecewiseSame("ISO-2022-JP", "EUC-JP", euc, nullptr, rowFirst()));
  EXPECT_TRUE(zktest::piecewiseSame("EUC-JP", "ISO-2022-JP", jis));
  EXPECT_TRUE(zktest::piecewiseSame("UTF-8", "ISO-2022-JP", jis));
  const zktest::ConvertResult jis2004 =
      convert("ISO-2022-JP-2004", "Shift_JIS-2004", sjis2004, nullptr, rowFirst());
  EXPECT_TRUE(
      zktest::piecewiseSame("ISO-2022-JP-2004", "Shift_JIS-2004", sjis2004, nullptr, rowFirst()));
  EXPECT_TRUE(zktest::piecewiseSame("Shift_JIS-2004", "ISO-2022-JP-2004", jis2004.out, nullptr,
                                    rowFirst()));
  // Bad input stops at the same place in every split.
  Bytes unknown = jis;
  unknown.insert(unknown.begin() + 5, {ESC, 0x28, 0x49});
  EXPECT_TRUE(zktest::piecewiseSame("EUC-JP", "ISO-2022-JP", unknown));
  Bytes cut = jis;
  cut.resize(cut.size() - 4);  // inside the last kanji's pair, before ESC ( B
  EXPECT_TRUE(zktest::piecewiseSame("EUC-JP", "ISO-2022-JP", cut));
}

TEST_F(Iso2022Convert, UnknownEscapeAndTruncationWaitAtTheirFirstByte) {
  const zktest::ConvertResult unknown =
      convert("EUC-JP", "ISO-2022-JP", {0x41, ESC, 0x28, 0x49, 0x31, 0x32});
  EXPECT_EQ(unknown.status, CCONV_NEED_INPUT);
  EXPECT_EQ(unknown.inPos, 1);
  EXPECT_EQ(hex(unknown.out), "41");
  const zktest::ConvertResult half =
      convert("EUC-JP", "ISO-2022-JP", {ESC, 0x24, 0x42, 0x30, 0x21, 0x30});
  EXPECT_EQ(half.status, CCONV_NEED_INPUT);
  EXPECT_EQ(half.inPos, 5);
  EXPECT_EQ(hex(half.out), "B0 A1");
}

TEST_F(Iso2022Convert, KatakanaHasNoDesignationAndIsSubstituted) {
  const Bytes euc = {0x41, 0x8E, 0xB1, 0x42};
  const zktest::ConvertResult stop = convert("ISO-2022-JP", "EUC-JP", euc, nullptr, rowFirst());
  EXPECT_EQ(stop.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(stop.inPos, 3);
  CconvDstOptions sub = *rowFirst();
  sub.substitute = 1;
  const zktest::ConvertResult subbed = convert("ISO-2022-JP", "EUC-JP", euc, nullptr, &sub);
  EXPECT_EQ(subbed.status, CCONV_OK);
  EXPECT_EQ(hex(subbed.out), hex({ESC, 0x28, 0x42, 0x41, 0x3F, 0x42}));
}

// Drives the calls by hand with one fixed buffer.
struct Host {
  CconvRecord rec{};
  Bytes in;
  std::uint8_t out[32];
  Host(const char* target, const char* source, Bytes input) : in(std::move(input)) {
    EXPECT_EQ(cconvInitConvert(&rec, rowFirst(), target), CCONV_OK);
    EXPECT_EQ(cconvChgCharset(&rec, nullptr, source), CCONV_OK);
    rec.inBuf = in.data();
    rec.inLen = static_cast<std::int32_t>(in.size());
    rec.outBuf = out;
  }
  Bytes written() const { return Bytes(out, out + rec.outPos); }
};

TEST_F(Iso2022Convert, TerminationClosesAfterAFullBuffer) {
  Host h("ISO-2022-JP", "EUC-JP", {0xB0, 0xA1});
  h.rec.outSize = 5;  // ESC $ B and the kanji, nothing spare
  EXPECT_EQ(cconvConvert(&h.rec), CCONV_OK);
  EXPECT_EQ(hex(h.written()), hex({ESC, 0x24, 0x42, 0x30, 0x21}));
  h.rec.outPos = 0;
  h.rec.outSize = 3;  // the closing sequence never takes the last byte
  EXPECT_EQ(cconvTermConvert(&h.rec), CCONV_OUTPUT_FULL);
  EXPECT_EQ(h.rec.outPos, 0);
  h.rec.outSize = 4;
  EXPECT_EQ(cconvTermConvert(&h.rec), CCONV_OK);
  EXPECT_EQ(hex(h.written()), hex({ESC, 0x28, 0x42}));
}

TEST_F(Iso2022Convert, SequenceThatFitsStaysWhileTheCharacterWaits) {
  Host h("ISO-2022-JP", "EUC-JP", {0x41, 0xB0, 0xA1});
  h.rec.outSize = 8;  // ESC ( B A, then ESC $ B; the kanji needs 2 more
  EXPECT_EQ(cconvConvert(&h.rec), CCONV_OUTPUT_FULL);
  EXPECT_EQ(hex(h.written()), hex({ESC, 0x28, 0x42, 0x41, ESC, 0x24, 0x42}));
  h.rec.outPos = 0;
  EXPECT_EQ(cconvConvert(&h.rec), CCONV_OK);
  EXPECT_EQ(hex(h.written()), "30 21");
  h.rec.outPos = 0;
  EXPECT_EQ(cconvTermConvert(&h.rec), CCONV_OK);
  EXPECT_EQ(hex(h.written()), hex({ESC, 0x28, 0x42}));
}

TEST_F(Iso2022Convert, TerminationOfAnEmptyConversionAndAfterAscii) {
  Host empty("ISO-2022-JP-2004", "EUC-JP", {});
  empty.rec.outSize = 8;
  EXPECT_EQ(cconvConvert(&empty.rec), CCONV_OK);
  EXPECT_EQ(cconvTermConvert(&empty.rec), CCONV_OK);
  EXPECT_EQ(hex(empty.written()), hex({ESC, 0x28, 0x42}));
  Host ascii("ISO-2022-JP", "EUC-JP", {0x41});
  ascii.rec.outSize = 8;
  EXPECT_EQ(cconvConvert(&ascii.rec), CCONV_OK);
  EXPECT_EQ(cconvTermConvert(&ascii.rec), CCONV_OK);
  EXPECT_EQ(hex(ascii.written()), hex({ESC, 0x28, 0x42, 0x41}));
}

}  // namespace
