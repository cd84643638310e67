// The stages before and after scoring, through cconvChkEncode: byte order
// marks, XML declarations in every width and order, the line-end census and
// the class of the name.
#include <gtest/gtest.h>

#include <string>

#include "detect_support.h"

namespace {

using zkdetect::Bytes;
using zkdetect::bytesOf;
using zkdetect::detect;
using zkdetect::repeat;
using zkdetect::operator+;

// ASCII text spread into units of `width` bytes, in the given order.
Bytes wide(const std::string& s, int width, bool bigEndian) {
  Bytes out;
  for (unsigned char c : s) {
    for (int k = 0; k < width; ++k) {
      const bool low = bigEndian ? k == width - 1 : k == 0;
      out.push_back(low ? c : 0x00);
    }
  }
  return out;
}

TEST(ByteOrderMark, EmptyRangeIsUnknownWithDefaults) {
  const Bytes data = bytesOf("abc");
  auto d = detect(data, 3);
  EXPECT_EQ(d.ret, 0);
  EXPECT_EQ(d.name(), "unknown");
  EXPECT_EQ(d.rec.newlineKind, 0u);
  EXPECT_EQ(d.rec.encodingClass, 0u);
  EXPECT_EQ(d.rec.bigEndian, 1u);
  EXPECT_EQ(d.rec.hasBom, 0u);
  EXPECT_EQ(d.rec.xmlDeclared, 0u);
  // Every byte of the name after the text is cleared.
  for (int k = 8; k < CCONV_TEXT_SIZE; ++k) ASSERT_EQ(d.rec.encodingName[k], 0) << k;
}

TEST(ByteOrderMark, EachMarkNamesItsEncodingAndOrder) {
  struct Case {
    Bytes bytes;
    const char* name;
    unsigned bigEndian;
    unsigned cls;
  };
  const Case cases[] = {
      {{0xEF, 0xBB, 0xBF, 0x41}, "UTF-8", 1, 1},
      {{0xFF, 0xFE, 0x41, 0x00}, "UTF-16", 0, 0x1002},
      {{0xFE, 0xFF, 0x00, 0x41}, "UTF-16", 1, 0x1002},
      {{0x00, 0x00, 0xFE, 0xFF, 0x00, 0x00, 0x00, 0x41}, "ISO-10646-UCS-4", 1, 0x1002},
      {{0xFF, 0xFE, 0x00, 0x00, 0x41, 0x00, 0x00, 0x00}, "ISO-10646-UCS-4", 0, 0x1002},
      // A mark alone is enough.
      {{0x00, 0x00, 0xFE, 0xFF}, "ISO-10646-UCS-4", 1, 0x1002},
      {{0xFF, 0xFE, 0x00, 0x00}, "ISO-10646-UCS-4", 0, 0x1002},
      {{0xEF, 0xBB, 0xBF}, "UTF-8", 1, 1},
      // Too short for the UCS-4 mark: UTF-16 followed by a NUL.
      {{0xFF, 0xFE, 0x00}, "UTF-16", 0, 0x1002},
      {{0xFE, 0xFF}, "UTF-16", 1, 0x1002},
  };
  for (const Case& c : cases) {
    auto d = detect(c.bytes);
    SCOPED_TRACE(c.name);
    EXPECT_EQ(d.ret, 1);
    EXPECT_EQ(d.name(), c.name);
    EXPECT_EQ(d.rec.hasBom, 1u);
    EXPECT_EQ(d.rec.bigEndian, c.bigEndian);
    EXPECT_EQ(d.rec.encodingClass, c.cls);
    EXPECT_EQ(d.rec.xmlDeclared, 0u);
  }
}

TEST(ByteOrderMark, IsLookedForAtInPosOnly) {
  // A mark after inPos is data; a mark at inPos counts even when bytes precede it.
  auto after = detect(bytesOf("ab") + Bytes{0xEF, 0xBB, 0xBF} + bytesOf("cd"));
  EXPECT_EQ(after.rec.hasBom, 0u);
  auto at = detect(bytesOf("ab") + Bytes{0xFE, 0xFF, 0x00, 0x41}, 2);
  EXPECT_EQ(at.name(), "UTF-16");
  EXPECT_EQ(at.rec.hasBom, 1u);
  // A partial mark is no mark.
  auto partial = detect(Bytes{0xEF, 0xBB, 0x41, 0x42});
  EXPECT_EQ(partial.rec.hasBom, 0u);
}

TEST(XmlDeclaration, EightBitDeclarationNamesTheEncodingAsWritten) {
  const std::string lines = "\r\n<doc>\x82\xA0\x82\xA2</doc>\r\n<x/>\r\n";
  for (const char* decl :
       {"<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>",
        "<?xml version='1.0' encoding='Shift_JIS'?>", "<?xml version='1.0' encoding=\"Shift_JIS'?>",
        "<?XML VERSION='1.0' ENCODING 'Shift_JIS'?>"}) {
    SCOPED_TRACE(decl);
    auto d = detect(bytesOf(decl + lines));
    EXPECT_EQ(d.name(), "Shift_JIS");
    EXPECT_EQ(d.rec.xmlDeclared, 1u);
    EXPECT_EQ(d.rec.hasBom, 0u);
    EXPECT_EQ(d.rec.newlineKind, 1u);
    EXPECT_EQ(d.rec.encodingClass, 1u);
  }
}

TEST(XmlDeclaration, OnlyAllUpperOrAllLowerSignaturesCount) {
  auto mixed = detect(bytesOf("<?Xml version='1.0' encoding='EUC-JP'?>\n"));
  EXPECT_EQ(mixed.rec.xmlDeclared, 0u);
  EXPECT_EQ(mixed.name(), "ISO-646IRV");
  auto mixedKeyword = detect(bytesOf("<?xml version='1.0' Encoding='EUC-JP'?>\n"));
  EXPECT_EQ(mixedKeyword.rec.xmlDeclared, 1u);
  EXPECT_EQ(mixedKeyword.name(), "UTF-8");
}

TEST(XmlDeclaration, SignatureNeedsAByteBeyondIt) {
  EXPECT_EQ(detect(bytesOf("<?xml")).rec.xmlDeclared, 0u);
  auto d = detect(bytesOf("<?xml "));
  EXPECT_EQ(d.rec.xmlDeclared, 1u);
  EXPECT_EQ(d.name(), "UTF-8");
  // The same holds for the wide forms: 9 and 17 signature bytes.
  Bytes w16 = wide("<?xml", 2, false);
  w16.pop_back();  // drop the zero after the final 'l'
  EXPECT_EQ(detect(w16).rec.xmlDeclared, 0u);
  EXPECT_EQ(detect(w16 + Bytes{0x00}).rec.xmlDeclared, 1u);
}

TEST(XmlDeclaration, WideDeclarationsInEveryWidthAndOrder) {
  struct Case {
    int width;
    bool big;
    const char* fallback;
  };
  for (const Case& c : {Case{2, false, "UTF-16"}, Case{2, true, "UTF-16"},
                        Case{4, false, "ISO-10646-UCS-4"}, Case{4, true, "ISO-10646-UCS-4"}}) {
    SCOPED_TRACE(std::to_string(c.width) + (c.big ? " BE" : " LE"));
    // Without an encoding attribute: the width decides, the first byte the order.
    auto plain = detect(wide("<?xml version=\"1.0\"?>\r\n<a>b</a>\r\n", c.width, c.big));
    EXPECT_EQ(plain.rec.xmlDeclared, 1u);
    EXPECT_EQ(plain.name(), c.fallback);
    EXPECT_EQ(plain.rec.bigEndian, c.big ? 1u : 0u);
    EXPECT_EQ(plain.rec.newlineKind, 1u);
    EXPECT_EQ(plain.rec.encodingClass, 0x1002u);
    // With one: its value, each unit's low byte, read in the order found.
    auto named = detect(wide("<?xml version='1.0' encoding='EUC-JP'?>\n<a/>\n", c.width, c.big));
    EXPECT_EQ(named.name(), "EUC-JP");
    EXPECT_EQ(named.rec.bigEndian, c.big ? 1u : 0u);
    EXPECT_EQ(named.rec.newlineKind, 3u);
    EXPECT_EQ(named.rec.encodingClass, 1u);
    // After a byte order mark of the same width.
    Bytes bom = c.width == 2 ? (c.big ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE})
                             : (c.big ? Bytes{0, 0, 0xFE, 0xFF} : Bytes{0xFF, 0xFE, 0, 0});
    auto marked = detect(bom + wide("<?xml encoding='ISO-10646-UCS-2'?>\r", c.width, c.big));
    EXPECT_EQ(marked.rec.hasBom, 1u);
    EXPECT_EQ(marked.rec.xmlDeclared, 1u);
    EXPECT_EQ(marked.name(), "ISO-10646-UCS-2");
    EXPECT_EQ(marked.rec.encodingClass, 0x1002u);
  }
}

TEST(XmlDeclaration, UnitsOfAWideValueKeepOnlyTheirLowByte) {
  Bytes data = wide("<?xml encoding='", 2, false);
  data = data + Bytes{0x45, 0x30, 0x55, 0x30} + wide("'?>\n", 2, false);
  auto d = detect(data);
  EXPECT_EQ(d.name(), "EU");
}

TEST(XmlDeclaration, ByteOrderMarkThenDeclaration) {
  const Bytes bom{0xEF, 0xBB, 0xBF};
  auto d = detect(bom + bytesOf("<?xml version=\"1.0\" encoding=\"EUC-JP\"?>\n<a/>\n"));
  EXPECT_EQ(d.name(), "EUC-JP");
  EXPECT_EQ(d.rec.hasBom, 1u);
  EXPECT_EQ(d.rec.xmlDeclared, 1u);
  EXPECT_EQ(d.rec.newlineKind, 3u);
}

TEST(XmlDeclaration, AfterAMarkEachFormIsAlsoTriedTwoBytesOn) {
  const std::string decl = "  <?xml encoding='EUC-JP'?>\n";
  auto marked = detect(Bytes{0xFE, 0xFF} + bytesOf(decl));
  EXPECT_EQ(marked.rec.xmlDeclared, 1u);
  EXPECT_EQ(marked.name(), "EUC-JP");
  auto unmarked = detect(bytesOf(decl));
  EXPECT_EQ(unmarked.rec.xmlDeclared, 0u);
  EXPECT_EQ(unmarked.name(), "ISO-646IRV");
  // Three bytes on is too far even after a mark.
  auto far = detect(Bytes{0xFE, 0xFF} + bytesOf(" " + decl));
  EXPECT_EQ(far.rec.xmlDeclared, 0u);
  EXPECT_EQ(far.name(), "UTF-16");
}

TEST(XmlDeclaration, KeywordOnlyOnTheFirstLine) {
  auto second = detect(bytesOf("<?xml version='1.0'\nencoding='EUC-JP'?>\n"));
  EXPECT_EQ(second.rec.xmlDeclared, 1u);
  EXPECT_EQ(second.name(), "UTF-8");
  auto cr = detect(bytesOf("<?xml version='1.0'\rencoding='EUC-JP'?>\r"));
  EXPECT_EQ(cr.name(), "UTF-8");
  // The value itself may run on past the line end.
  auto value = detect(bytesOf("<?xml encoding=\n'EUC-JP'?>\n"));
  EXPECT_EQ(value.name(), "EUC-JP");
}

TEST(XmlDeclaration, KeywordIsSoughtFromTheStartOfTheBuffer) {
  // A keyword at buffer offset 0 is indistinguishable from none.
  const std::string decl = "<?xml version='1.0'?>\n";
  auto atZero = detect(bytesOf("encoding'X'" + decl), 11);
  EXPECT_EQ(atZero.rec.xmlDeclared, 1u);
  EXPECT_EQ(atZero.name(), "UTF-8");
  auto atOne = detect(bytesOf(" encoding'X'" + decl), 12);
  EXPECT_EQ(atOne.name(), "X");
  // A line end before inPos hides the declaration's own keyword.
  auto hidden = detect(bytesOf("a\n<?xml encoding='EUC-JP'?>\n"), 2);
  EXPECT_EQ(hidden.rec.xmlDeclared, 1u);
  EXPECT_EQ(hidden.name(), "UTF-8");
}

TEST(XmlDeclaration, QuotesBeforeTheKeywordDoNotCount) {
  auto d = detect(bytesOf("<?xml version='1.0' encoding = 'EUC-JP' standalone='yes'?>\n"));
  EXPECT_EQ(d.name(), "EUC-JP");
}

TEST(XmlDeclaration, ValuesThatCannotBeCopiedFallBackToTheWidth) {
  // Never closed, empty, or too long for the field.
  EXPECT_EQ(detect(bytesOf("<?xml encoding='EUC-JP?>\n<a/>")).name(), "UTF-8");
  EXPECT_EQ(detect(bytesOf("<?xml encoding=''?>\n")).name(), "UTF-8");
  EXPECT_EQ(detect(bytesOf("<?xml encoding=\"")).name(), "UTF-8");
  const std::string fits(258, 'n');
  EXPECT_EQ(detect(bytesOf("<?xml encoding='" + fits + "'?>")).name(), fits);
  EXPECT_EQ(detect(bytesOf("<?xml encoding='" + fits + "n'?>")).name(), "UTF-8");
  // Wide units count by their bytes: 129 two-byte units make 258 bytes.
  const std::string fitsWide(129, 'w');
  EXPECT_EQ(detect(wide("<?xml encoding='" + fitsWide + "'?>", 2, true)).name(), fitsWide);
  EXPECT_EQ(detect(wide("<?xml encoding='" + fitsWide + "w'?>", 2, true)).name(), "UTF-16");
}

TEST(XmlDeclaration, AMarkNameSurvivesAValueThatCannotBeCopied) {
  // A UCS-4 mark followed by a 16-bit declaration: the width would say UTF-16.
  const Bytes bom{0xFF, 0xFE, 0x00, 0x00};
  auto unclosed = detect(bom + wide("<?xml encoding='EUC-JP?>", 2, false));
  EXPECT_EQ(unclosed.rec.xmlDeclared, 1u);
  EXPECT_EQ(unclosed.name(), "ISO-10646-UCS-4");
  // Without a keyword, the width decides even over the mark.
  auto nokey = detect(bom + wide("<?xml version='1.0'?>", 2, false));
  EXPECT_EQ(nokey.name(), "UTF-16");
  // And an empty value empties the name, so the width decides again.
  auto empty = detect(bom + wide("<?xml encoding=''?>", 2, false));
  EXPECT_EQ(empty.name(), "UTF-16");
}

TEST(XmlDeclaration, ADeclarationCutAnywhereGivesTheValueOrTheWidthDefault) {
  const std::string full = "<?xml version='1.0' encoding='EUC-JP'?>";
  const std::size_t close = full.rfind('\'');
  for (std::size_t len = 0; len <= full.size(); ++len) {
    SCOPED_TRACE(len);
    auto d = detect(bytesOf(full.substr(0, len)));
    if (len <= 5) {
      EXPECT_EQ(d.rec.xmlDeclared, 0u);
    } else if (len >= close + 2) {
      // The closing quote must lie before the last byte of the range.
      EXPECT_EQ(d.name(), "EUC-JP");
    } else {
      EXPECT_EQ(d.name(), "UTF-8");
    }
  }
}

TEST(LineEnds, CensusOfEightBitText) {
  struct Case {
    const char* text;
    unsigned kind;
  };
  const Case cases[] = {
      {"one\r\ntwo\r\nthree", 1},
      {"one\ntwo\nthree", 3},
      {"one\rtwo\rthree", 2},
      {"one\n\rtwo\n\rthree", 1},   // LF CR counts as CR LF
      {"a\r\nb\r\nc\nd\ne\nf", 3},  // lone LF beats the CR LF count
      {"a\r\nb\nc\rd", 1},          // nobody beats each other: CR LF decides
      {"a\rb\nc\rd\ne", 0},         // two each, no CR LF
      {"no line end", 0},
      {"last\r", 0},  // a line end in the last unit is not counted
      {"last\n", 0},
      {"last\r\n", 1},
      {"a\r\rb", 2},  // the unit after a CR is not examined again
      {"a\xE2\x80\xA8"
       "b\xE2\x80\xA8"
       "c\r\n",
       4},
      {"a\xE2\x80\xA9"
       "b\xE2\x80\xA9"
       "c\r\n",
       5},
      {"a\xE2\x80\xA8"
       "b\xE2\x80\xA9"
       "c",
       0},  // one each: nobody wins, no CR LF
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto d = detect(bytesOf(c.text));
    ASSERT_EQ(d.ret, 1);
    EXPECT_EQ(d.rec.newlineKind, c.kind);
  }
}

TEST(LineEnds, WideTextIsCountedInItsUnits) {
  // UTF-16 found by scoring, both orders, and U+2028 as a unit of its own.
  for (bool big : {false, true}) {
    SCOPED_TRACE(big);
    auto crlf = detect(wide("Hello\r\nWorld\r\n!", 2, big));
    EXPECT_EQ(crlf.name(), "UTF-16");
    EXPECT_EQ(crlf.rec.bigEndian, big ? 1u : 0u);
    EXPECT_EQ(crlf.rec.newlineKind, 1u);
    Bytes ls = wide("Hello", 2, big) + (big ? Bytes{0x20, 0x28} : Bytes{0x28, 0x20}) +
               wide("World", 2, big) + (big ? Bytes{0x20, 0x28} : Bytes{0x28, 0x20}) +
               wide("Again\n", 2, big);
    auto d = detect(ls);
    EXPECT_EQ(d.name(), "UTF-16");
    EXPECT_EQ(d.rec.newlineKind, 4u);
  }
  auto ucs4 = detect(Bytes{0xFF, 0xFE, 0, 0} + wide("a\rb\rc\r\nd", 4, false));
  EXPECT_EQ(ucs4.rec.newlineKind, 2u);
}

TEST(LineEnds, FixedWidthEucIsReadInTwoByteUnits) {
  // 00 0D 00 0A read byte by byte would be a lone CR.
  const Bytes line{0x00, 'a', 0xA4, 0xA2, 0x00, 'b', 0x00, 0x0D, 0x00, 0x0A};
  auto d = detect(repeat(line, 4));
  ASSERT_EQ(d.name(), "EUC-JP-FIX");
  EXPECT_EQ(d.rec.newlineKind, 1u);
}

TEST(LineEnds, IsoTwoThousandTwentyTwoUsesItsOwnRule) {
  const std::string kanji = "\x1B$B$\"$$\x1B(B";
  std::string text;
  for (int k = 0; k < 10; ++k) text += "line " + kanji + "\r\n";
  text += "last" + kanji + "\nend";
  auto d = detect(bytesOf(text));
  ASSERT_EQ(d.name(), "ISO-2022-JP");
  EXPECT_EQ(d.rec.newlineKind, 3u);  // the other rule would say CR LF
  auto same = detect(bytesOf("a" + kanji + "\rb" + kanji + "\nc\r\nd"));
  ASSERT_EQ(same.name(), "ISO-2022-JP");
  EXPECT_EQ(same.rec.newlineKind, 1u);
  auto crOnly = detect(bytesOf("a" + kanji + "\rb\rc"));
  EXPECT_EQ(crOnly.rec.newlineKind, 2u);
}

TEST(LineEnds, CensusLooksAtTheFirst2048BytesOnly) {
  const Bytes head(2040, 'a');
  EXPECT_EQ(detect(head + bytesOf("\nb\nc\n\n\n\n\n")).rec.newlineKind, 3u);
  const Bytes longHead(2048, 'a');
  EXPECT_EQ(detect(longHead + bytesOf("\nb\nc\n\n\n\n\n")).rec.newlineKind, 0u);
  // The window starts at inPos.
  EXPECT_EQ(detect(longHead + bytesOf("\nb\nc\n\n\n\n\n"), 2040).rec.newlineKind, 3u);
}

TEST(EncodingClass, ExactNamesOfTheUnicodeFamilyOnly) {
  struct Case {
    const char* value;
    unsigned cls;
  };
  for (const Case& c :
       {Case{"UTF-16", 0x1002}, Case{"ISO-10646-UCS-2", 0x1002}, Case{"ISO-10646-UCS-4", 0x1002},
        Case{"utf-16", 1}, Case{"UTF-16LE", 1}, Case{"UTF-8", 1}, Case{"unknown", 1}}) {
    SCOPED_TRACE(c.value);
    auto d = detect(bytesOf(std::string("<?xml encoding='") + c.value + "'?>\n"));
    EXPECT_EQ(d.name(), c.value);
    EXPECT_EQ(d.ret, 1);
    EXPECT_EQ(d.rec.encodingClass, c.cls);
  }
}

}  // namespace
