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
  for (const auto& e : std::filesystem::directory_iterator(ZK_SOURCE_DIR "/data/base2"))
    xml += e.path().extension() == ".xml";
  ASSERT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(static_cast<std::size_t>(zk::gState.rulesLoadedCount), xml);
  EXPECT_EQ(xml, 22u);
}

// Every Unicode name reads and writes "A" in its own form. (The legacy
// names, each one the detector returns among them, are walked code by code,
// "A" included, in agreement_test.cpp.)
TEST(ShippedNames, EveryUnicodeEncodingReadsAndWritesALetter) {
  shippedDir();
  const Bytes a = {0x41}, a2 = {0x00, 0x41}, a4 = {0, 0, 0, 0x41};
  const std::pair<const char*, Bytes> kNames[] = {
      {"ISO-10646-UCS-2", a2}, {"ISO-10646-UCS-4", a4}, {"ISO-10646-UCS-4-TAGS", a4},
      {"UTF-16", a2},          {"UTF-16-TAGS", a2},     {"UTF-8", a},  {"UTF-8-TAGS", a},
  };
  for (const auto& [name, letter] : kNames) {
    SCOPED_TRACE(name);
    ConvertResult out = run(a, "UTF-8", name);
    EXPECT_EQ(out.status, CCONV_OK);
    EXPECT_EQ(out.out, letter);
    ConvertResult in = run(letter, name, "UTF-8");
    EXPECT_EQ(in.status, CCONV_OK);
    EXPECT_EQ(in.out, a);
  }
}

TEST(ShippedTags, TaggedRulesReadLanguageTagsPlainOnesPassThem) {
  shippedDir();
  const std::string tagged = "\U000E0001\U000E006A\U000E0061A\u3042";  // tag "ja", "A", HIRAGANA A
  const Bytes in = encodeText(tagged, Enc::Raw, false), text = {'A', 0xE3, 0x81, 0x82};
  ConvertResult plain = run(in, "UTF-8", "UTF-8");
  EXPECT_EQ(plain.status, CCONV_OK);
  EXPECT_EQ(plain.out, in);
  // The tag is read, not passed on as characters; an output with a default
  // language announces the language before the first character of it.
  CconvDstOptions en = kDstBE;
  std::strcpy(en.lang, "en");
  ConvertResult announced = convert("UTF-8", "UTF-8-TAGS", in, &kSrcBE, &en);
  EXPECT_EQ(announced.status, CCONV_OK);
  EXPECT_EQ(announced.out, in);
  for (auto [source, enc] : {std::pair{"UTF-8-TAGS", Enc::Raw}, {"UTF-16-TAGS", Enc::Utf16BE},
                             {"ISO-10646-UCS-4-TAGS", Enc::Ucs4BE}}) {
    ConvertResult r = run(encodeText(tagged, enc, false), source, "UTF-8");
    EXPECT_EQ(r.status, CCONV_OK) << source;
    EXPECT_EQ(r.out, text) << source;
  }
}

TEST(ShippedTags, TaggedRulesTakeTheSameTextAsPlainOnes) {
  shippedDir();
  // BMP, a supplementary ideograph, plane 3, a variation selector, the
  // private use area, the last BMP value and NUL.
  Bytes in = encodeText("A\u3042\uE000\uFFFD\U00020B9F\U00030000\U0001F600\U000E0100\uFFFF",
                        Enc::Raw, false);
  in.push_back(0x00);
  ConvertResult plain = run(in, "UTF-8", "UTF-16");
  ConvertResult tagged = run(in, "UTF-8-TAGS", "UTF-16-TAGS");
  ASSERT_EQ(plain.status, CCONV_OK);
  ASSERT_EQ(tagged.status, CCONV_OK);
  EXPECT_EQ(tagged.out, plain.out);
  // What the tagged sets leave out: surrogates and private-use planes 15-16.
  EXPECT_EQ(run({0xED, 0xA0, 0x80}, "UTF-8", "ISO-10646-UCS-4").status, CCONV_OK);
  EXPECT_EQ(run({0xED, 0xA0, 0x80}, "UTF-8-TAGS", "ISO-10646-UCS-4").status, CCONV_INVALID);
  EXPECT_EQ(run({0xF3, 0xB0, 0x80, 0x80}, "UTF-8-TAGS", "ISO-10646-UCS-4").status, CCONV_INVALID);
}

}  // namespace
}  // namespace zktest
