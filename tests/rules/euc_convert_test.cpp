// EUC-JP, EUC-JIS-2004 and EUC-JP-FIX through the exported calls, with the
// shipped definitions, checked against iconv and against the Shift_JIS family.
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

// JIS X 0208 text with ASCII, half-width katakana and line ends; nothing that
// the JIS Roman set of Shift_JIS reads differently from ASCII.
const std::string kText =
    "日本語の文章、カタカナとひらがな。\r\n"
    "漢字「東京都」ＡＢＣ１２３ and plain ASCII 0-9.\n"
    "記号※〒→○■ ｶﾀｶﾅ ﾊﾝｶｸ\tおわり";

// JIS X 0213: a base-plus-combining pair, plane 1 and plane 2 characters.
const std::string kText2004 = "か゚き゚ 𠀋𪚲 𠂉丂 ㇷ゚ 森鷗外 ｱ\r\n";

class EucConvert : public ::testing::Test {
 protected:
  void SetUp() override { zktest::useShippedJapanese(); }
};

TEST_F(EucConvert, ShiftJisToEucJpAgreesWithIconvAndComesBack) {
  const Bytes sjis = iconvPeer("SHIFT_JIS", "UTF-8", utf8(kText));
  const Bytes euc = iconvPeer("EUC-JP", "UTF-8", utf8(kText));
  ASSERT_FALSE(sjis.empty());
  ASSERT_FALSE(euc.empty());

  const zktest::ConvertResult to = convert("EUC-JP", "Shift_JIS", sjis);
  EXPECT_EQ(to.status, CCONV_OK);
  EXPECT_EQ(hex(to.out), hex(euc));
  const zktest::ConvertResult back = convert("Shift_JIS", "euc-jp", euc, nullptr, rowFirst());
  EXPECT_EQ(back.status, CCONV_OK);
  EXPECT_EQ(hex(back.out), hex(sjis));
}

TEST_F(EucConvert, EucJpReadsJisX0212AsIconvDoes) {
  // 丂 and 丄 are JIS X 0212 only; the peer writes them with SS3.
  const std::string text = "丂丄 and 漢字 ｶﾅ";
  const Bytes euc = iconvPeer("EUC-JP", "UTF-8", utf8(text));
  ASSERT_FALSE(euc.empty());
  const zktest::ConvertResult u = convert("UTF-8", "EUC-JP", euc);
  EXPECT_EQ(u.status, CCONV_OK);
  EXPECT_EQ(hex(u.out), hex(utf8(text)));
  const zktest::ConvertResult e = convert("EUC-JP", "UTF-8", utf8(text));
  EXPECT_EQ(e.status, CCONV_OK);
  EXPECT_EQ(hex(e.out), hex(euc));
}

TEST_F(EucConvert, FixedWidthFormRoundTripsEveryCodeSet) {
  const Bytes euc = iconvPeer("EUC-JP", "UTF-8", utf8(kText + "丂丄"));
  ASSERT_FALSE(euc.empty());
  const zktest::ConvertResult fix = convert("EUC-JP-FIX", "EUC-JP", euc);
  ASSERT_EQ(fix.status, CCONV_OK);
  EXPECT_EQ(fix.out.size(), 2u * static_cast<std::size_t>(fix.inChars));
  for (std::size_t i = 0; i + 1 < fix.out.size(); i += 2)
    EXPECT_TRUE(fix.out[i] == 0x00 || fix.out[i] >= 0xA0) << "pair at " << i;
  const zktest::ConvertResult back = convert("EUC-JP", "EUC-JP-FIX", fix.out);
  EXPECT_EQ(back.status, CCONV_OK);
  EXPECT_EQ(hex(back.out), hex(euc));

  const Bytes sjis = iconvPeer("SHIFT_JIS", "UTF-8", utf8(kText));
  const zktest::ConvertResult fromSjis = convert("EUC-JP-FIX", "Shift_JIS", sjis);
  EXPECT_EQ(fromSjis.status, CCONV_OK);
  const zktest::ConvertResult toSjis =
      convert("Shift_JIS", "EUC-JP-FIX", fromSjis.out, nullptr, rowFirst());
  EXPECT_EQ(toSjis.status, CCONV_OK);
  EXPECT_EQ(hex(toSjis.out), hex(sjis));
}

TEST_F(EucConvert, FixedWidthKnownBytes) {
  const Bytes fix = {0x00, 0x41, 0x00, 0xB1, 0xB0, 0x21, 0xB0, 0xA1};
  const zktest::ConvertResult u = convert("UTF-8", "EUC-JP-FIX", fix);
  EXPECT_EQ(u.status, CCONV_OK);
  EXPECT_EQ(hex(u.out), hex(utf8("Aｱ丂亜")));
}

TEST_F(EucConvert, RomanYenAndOverlineReachAsciiThroughTheExtraTable) {
  const Bytes sjis = {0x5C, 0x7E, 0x41};  // JIS X 0201 Roman: yen sign, overline, A
  const zktest::ConvertResult euc = convert("EUC-JP", "Shift_JIS", sjis);
  EXPECT_EQ(euc.status, CCONV_OK);
  EXPECT_EQ(hex(euc.out), "5C 7E 41");
  const zktest::ConvertResult fix = convert("EUC-JP-FIX", "Shift_JIS", sjis);
  EXPECT_EQ(hex(fix.out), "00 5C 00 7E 00 41");
}

TEST_F(EucConvert, EucJis2004AgreesWithIconvAndShiftJis2004) {
  const Bytes euc = iconvPeer("EUC-JISX0213", "UTF-8", utf8(kText2004));
  const Bytes sjis = iconvPeer("SHIFT_JISX0213", "UTF-8", utf8(kText2004));
  ASSERT_FALSE(euc.empty());
  ASSERT_FALSE(sjis.empty());
  const zktest::ConvertResult to = convert("EUC-JIS-2004", "Shift_JIS-2004", sjis);
  EXPECT_EQ(to.status, CCONV_OK);
  EXPECT_EQ(hex(to.out), hex(euc));
  const zktest::ConvertResult back =
      convert("Shift_JIS-2004", "EUC-JIS-2004", euc, nullptr, rowFirst());
  EXPECT_EQ(back.status, CCONV_OK);
  EXPECT_EQ(hex(back.out), hex(sjis));
  // Through Unicode, the pairs are composed again.
  const zktest::ConvertResult fromUtf8 = convert("EUC-JIS-2004", "UTF-8", utf8(kText2004));
  EXPECT_EQ(fromUtf8.status, CCONV_OK);
  EXPECT_EQ(hex(fromUtf8.out), hex(euc));
  const zktest::ConvertResult toUtf8 = convert("UTF-8", "EUC-JIS-2004", euc);
  EXPECT_EQ(toUtf8.status, CCONV_OK);
  EXPECT_EQ(hex(toUtf8.out), hex(utf8(kText2004)));
}

TEST_F(EucConvert, PiecesAndRoomDoNotChangeTheResult) {
  const std::string text = "漢字ｶﾅ A\r\nか゚丂";
  const Bytes euc = iconvPeer("EUC-JP", "UTF-8", utf8("漢字ｶﾅ A\r\n丂"));
  const Bytes euc2004 = iconvPeer("EUC-JISX0213", "UTF-8", utf8(text));
  const Bytes sjis = iconvPeer("SHIFT_JIS", "UTF-8", utf8("漢字ｶﾅ A\r\n"));
  const zktest::ConvertResult fix = convert("EUC-JP-FIX", "EUC-JP", euc);
  ASSERT_FALSE(euc.empty());
  ASSERT_FALSE(euc2004.empty());
  EXPECT_TRUE(zktest::piecewiseSame("UTF-8", "EUC-JP", euc));
  EXPECT_TRUE(zktest::piecewiseSame("EUC-JP", "UTF-8", utf8("漢字ｶﾅ A\r\n丂")));
  EXPECT_TRUE(zktest::piecewiseSame("EUC-JP", "Shift_JIS", sjis));
  EXPECT_TRUE(zktest::piecewiseSame("UTF-8", "EUC-JIS-2004", euc2004));
  const Bytes sjis2004 = iconvPeer("SHIFT_JISX0213", "UTF-8", utf8(text));
  EXPECT_TRUE(zktest::piecewiseSame("EUC-JIS-2004", "Shift_JIS-2004", sjis2004));
  EXPECT_TRUE(
      zktest::piecewiseSame("Shift_JIS-2004", "EUC-JIS-2004", euc2004, nullptr, rowFirst()));
  EXPECT_TRUE(zktest::piecewiseSame("UTF-8", "EUC-JP-FIX", fix.out));
  EXPECT_TRUE(zktest::piecewiseSame("EUC-JP-FIX", "EUC-JP", euc));
  // Invalid and truncated input stop at the same place in every split.
  Bytes broken = euc;
  broken.insert(broken.begin() + 4, 0x80);
  EXPECT_TRUE(zktest::piecewiseSame("UTF-8", "EUC-JP", broken));
  Bytes cut = euc;
  cut.pop_back();
  EXPECT_TRUE(zktest::piecewiseSame("UTF-8", "EUC-JP", cut));
}

TEST_F(EucConvert, BadInputStopsWhereItIsAndCanBeSkipped) {
  const Bytes in = {0x41, 0xB0, 0x41, 0xB0, 0xA1, 0x9F, 0x42};
  const zktest::ConvertResult stop = convert("UTF-8", "EUC-JP", in);
  EXPECT_EQ(stop.status, CCONV_INVALID);
  EXPECT_EQ(stop.inPos, 2);
  EXPECT_EQ(hex(stop.out), hex(utf8("A")));
  CconvSrcOptions skip{};
  skip.skipInvalid = 1;
  const zktest::ConvertResult skipped = convert("UTF-8", "EUC-JP", in, &skip);
  EXPECT_EQ(skipped.status, CCONV_OK);
  EXPECT_EQ(hex(skipped.out), hex(utf8("AA亜B")));
  // Input that ends inside a character waits for the rest.
  const zktest::ConvertResult wait = convert("UTF-8", "EUC-JP", {0x41, 0x8F, 0xB0});
  EXPECT_EQ(wait.status, CCONV_NEED_INPUT);
  EXPECT_EQ(wait.inPos, 1);
  const zktest::ConvertResult waitFix = convert("UTF-8", "EUC-JP-FIX", {0x00, 0x41, 0xB0});
  EXPECT_EQ(waitFix.status, CCONV_NEED_INPUT);
  EXPECT_EQ(waitFix.inPos, 2);
}

TEST_F(EucConvert, UnmappableCharactersAndTheirSubstitutes) {
  // 丄 is JIS X 0212 only: Shift_JIS has no code for it.
  const Bytes euc = iconvPeer("EUC-JP", "UTF-8", utf8("亜丄亜"));
  const zktest::ConvertResult stop = convert("Shift_JIS", "EUC-JP", euc);
  EXPECT_EQ(stop.status, CCONV_UNMAPPABLE);
  EXPECT_EQ(stop.inPos, 5);
  CconvDstOptions sub{};
  sub.substitute = 1;
  const zktest::ConvertResult subbed = convert("EUC-JP", "UTF-8", utf8("亜😀A"), nullptr, &sub);
  EXPECT_EQ(subbed.status, CCONV_OK);
  EXPECT_EQ(hex(subbed.out), hex(iconvPeer("EUC-JP", "UTF-8", utf8("亜〓A"))));
}

TEST_F(EucConvert, TerminationAddsNothing) {
  for (const char* target : {"EUC-JP", "EUC-JIS-2004", "EUC-JP-FIX"}) {
    CconvRecord rec{};
    ASSERT_EQ(cconvInitConvert(&rec, nullptr, target), CCONV_OK);
    ASSERT_EQ(cconvChgCharset(&rec, nullptr, "UTF-8"), CCONV_OK);
    const Bytes in = utf8("亜");
    std::uint8_t out[8];
    rec.inBuf = in.data();
    rec.inLen = static_cast<std::int32_t>(in.size());
    rec.outBuf = out;
    rec.outSize = sizeof out;
    EXPECT_EQ(cconvConvert(&rec), CCONV_OK);
    EXPECT_EQ(rec.outPos, 2) << target;
    EXPECT_EQ(cconvTermConvert(&rec), CCONV_OK);
    EXPECT_EQ(rec.outPos, 2) << target;
  }
}

}  // namespace
