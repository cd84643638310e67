// The shipped directory loads whole, serves every name the detector can
// return, and its Unicode rules come in a fast plain form and a form that
// reads language tags.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "frame/state.h"
#include "shipped.h"

namespace zktest {
namespace {

TEST(ShippedNames, EveryRuleFileIsAccepted) {
  shippedDir();
  std::size_t xml = 0;
  for (const auto& e :
       std::filesystem::directory_iterator(std::filesystem::path(ZK_SOURCE_DIR) / "data" / "base2"))
    if (e.path().extension() == ".xml") ++xml;
  ASSERT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(static_cast<std::size_t>(zk::gState.rulesLoadedCount), xml);
  EXPECT_EQ(xml, 22u);
}

// Each name with the bytes of "A" in it, written row byte first.
struct Named {
  const char* name;
  Bytes letterA;
};

const Named kNames[] = {
    {"Shift_JIS", {0x41}},
    {"WINDOWS31J", {0x41}},
    {"Shift_JIS-2004", {0x41}},
    {"EUC-JP", {0x41}},
    {"EUC-JP-FIX", {0x00, 0x41}},
    {"EUC-JIS-2004", {0x41}},
    {"ISO-2022-JP", {0x1B, 0x28, 0x42, 0x41}},
    {"ISO-2022-JP-2004", {0x1B, 0x28, 0x42, 0x41}},
    {"ISO-10646-UCS-2", {0x00, 0x41}},
    {"ISO-10646-UCS-4", {0x00, 0x00, 0x00, 0x41}},
    {"UTF-16", {0x00, 0x41}},
    {"UTF-8", {0x41}},
    {"ISO-10646-UCS-4-TAGS", {0x00, 0x00, 0x00, 0x41}},
    {"UTF-16-TAGS", {0x00, 0x41}},
    {"UTF-8-TAGS", {0x41}},
    {"OASYS_WIN", {0x41}},
    {"OASYS_ONLINE", {0x00, 0x41}},
    {"ISO-8859-1", {0x41}},
    {"ISO-646IRV", {0x41}},
    {"GBK", {0x41}},
    {"Big5", {0x41}},
    {"EUC-KR", {0x41}},
};

TEST(ShippedNames, EveryEncodingReadsAndWritesALetter) {
  shippedDir();
  for (const Named& n : kNames) {
    Outcome out = convert({0x41}, "UTF-8", n.name);
    EXPECT_EQ(out.status, CCONV_OK) << n.name;
    EXPECT_EQ(out.out, n.letterA) << n.name;
    Outcome in = convert(n.letterA, n.name, "UTF-8");
    EXPECT_EQ(in.status, CCONV_OK) << n.name;
    EXPECT_EQ(in.out, Bytes{0x41}) << n.name;
  }
}

TEST(ShippedNames, EveryNameTheDetectorReturnsIsASource) {
  shippedDir();
  for (const char* name : {"UTF-8", "UTF-16", "ISO-10646-UCS-4", "EUC-JP", "EUC-JP-FIX",
                           "ISO-2022-JP", "WINDOWS31J", "ISO-8859-1", "ISO-646IRV"}) {
    CconvRecord rec;
    std::memset(&rec, 0, sizeof rec);
    ASSERT_EQ(cconvInitConvert(&rec, nullptr, "UTF-8"), CCONV_OK);
    EXPECT_EQ(cconvChgCharset(&rec, nullptr, name), CCONV_OK) << name;
    EXPECT_NE(rec.srcRule, nullptr) << name;
  }
}

Bytes utf8(const std::vector<std::uint32_t>& cps) {
  Bytes b;
  for (std::uint32_t c : cps) {
    if (c < 0x80) {
      b.push_back(static_cast<std::uint8_t>(c));
    } else if (c < 0x800) {
      b.push_back(static_cast<std::uint8_t>(0xC0 | (c >> 6)));
      b.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      b.push_back(static_cast<std::uint8_t>(0xE0 | (c >> 12)));
      b.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)));
      b.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
    } else {
      b.push_back(static_cast<std::uint8_t>(0xF0 | (c >> 18)));
      b.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 12) & 0x3F)));
      b.push_back(static_cast<std::uint8_t>(0x80 | ((c >> 6) & 0x3F)));
      b.push_back(static_cast<std::uint8_t>(0x80 | (c & 0x3F)));
    }
  }
  return b;
}

// Converts with a default output language, so that language changes in the
// input are announced in the output.
Outcome convertWithLang(const Bytes& in, const char* source, const char* target) {
  CconvRecord rec;
  std::memset(&rec, 0, sizeof rec);
  CconvDstOptions dopt{};
  dopt.outBigEndian = 1;
  std::strcpy(dopt.lang, "en");
  CconvSrcOptions sopt{};
  sopt.inBigEndian = 1;
  Outcome o;
  o.status = cconvInitConvert(&rec, &dopt, target);
  if (o.status == CCONV_OK) o.status = cconvChgCharset(&rec, &sopt, source);
  if (o.status != CCONV_OK) return o;
  Bytes buf(in.size() * 4 + 64);
  rec.inBuf = in.data();
  rec.inLen = static_cast<std::int32_t>(in.size());
  rec.outBuf = buf.data();
  rec.outSize = static_cast<std::int32_t>(buf.size());
  o.status = cconvConvert(&rec);
  o.out.assign(buf.begin(), buf.begin() + rec.outPos);
  return o;
}

const std::vector<std::uint32_t> kTaggedJa = {0xE0001, 0xE006A, 0xE0061, 0x41, 0x3042};

TEST(ShippedTags, TaggedRulesReadLanguageTags) {
  shippedDir();
  Bytes in = utf8(kTaggedJa);
  // The tag is read, not passed on as characters; the output announces the
  // language before the first character of it.
  Outcome o = convertWithLang(in, "UTF-8-TAGS", "UTF-8");
  ASSERT_EQ(o.status, CCONV_OK);
  EXPECT_EQ(o.out, in);
  Outcome plainTarget = convert(in, "UTF-8-TAGS", "UTF-8");
  EXPECT_EQ(plainTarget.out, utf8({0x41, 0x3042}));
  // The same through UTF-16 and UCS-4 sources.
  std::vector<std::uint32_t> cps = kTaggedJa;
  EXPECT_EQ(convert(ucs4(cps), "ISO-10646-UCS-4-TAGS", "UTF-8").out, utf8({0x41, 0x3042}));
  Bytes u16;
  for (std::uint32_t c : cps) {
    auto unit = [&](std::uint32_t u) {
      u16.push_back(static_cast<std::uint8_t>(u >> 8));
      u16.push_back(static_cast<std::uint8_t>(u));
    };
    if (c > 0xFFFF) {
      unit(0xD800 + ((c - 0x10000) >> 10));
      unit(0xDC00 + ((c - 0x10000) & 0x3FF));
    } else {
      unit(c);
    }
  }
  EXPECT_EQ(convert(u16, "UTF-16-TAGS", "UTF-8").out, utf8({0x41, 0x3042}));
}

TEST(ShippedTags, PlainRulesPassTagCharactersThrough) {
  shippedDir();
  Bytes in = utf8(kTaggedJa);
  Outcome o = convert(in, "UTF-8", "UTF-8");
  ASSERT_EQ(o.status, CCONV_OK);
  EXPECT_EQ(o.out, in);
}

TEST(ShippedTags, TaggedRulesTakeTheSameTextAsPlainOnes) {
  shippedDir();
  // BMP, a supplementary ideograph, plane 3, a variation selector, the
  // private use area and the last BMP value.
  std::vector<std::uint32_t> cps = {0x41, 0x3042, 0xE000, 0xFFFD, 0x20B9F, 0x30000,
                                    0x1F600, 0xE0100, 0xFFFF, 0x0};
  Bytes in = utf8(cps);
  Outcome plain = convert(in, "UTF-8", "UTF-16");
  Outcome tagged = convert(in, "UTF-8-TAGS", "UTF-16-TAGS");
  ASSERT_EQ(plain.status, CCONV_OK);
  ASSERT_EQ(tagged.status, CCONV_OK);
  EXPECT_EQ(tagged.out, plain.out);
  // What the tagged sets leave out: surrogates and private-use planes 15-16.
  EXPECT_EQ(convert({0xED, 0xA0, 0x80}, "UTF-8", "ISO-10646-UCS-4").status, CCONV_OK);
  EXPECT_EQ(convert({0xED, 0xA0, 0x80}, "UTF-8-TAGS", "ISO-10646-UCS-4").status, CCONV_INVALID);
  EXPECT_EQ(convert(utf8({0xF0000}), "UTF-8-TAGS", "ISO-10646-UCS-4").status, CCONV_INVALID);
}

}  // namespace
}  // namespace zktest
