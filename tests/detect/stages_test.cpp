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
using zkdetect::expectDetect;
using zkdetect::repeat;
using zkdetect::Want;
using zkdetect::wide;
using zkdetect::operator+;

void expectAll(const std::vector<Want>& rows) {
  for (std::size_t k = 0; k < rows.size(); ++k) {
    SCOPED_TRACE("row " + std::to_string(k));
    expectDetect(rows[k]);
  }
}

TEST(ByteOrderMark, EachMarkAtInPosNamesItsEncodingAndOrder) {
  const Bytes u16le{0xFF, 0xFE}, u16be{0xFE, 0xFF}, u4le{0xFF, 0xFE, 0, 0}, u4be{0, 0, 0xFE, 0xFF};
  const auto mark = [](Bytes in, const char* name, int be, int cls, std::int32_t pos = 0) {
    return Want{.in = in, .name = name, .pos = pos, .decl = 0, .bom = 1, .be = be, .cls = cls};
  };
  expectAll({
      mark({0xEF, 0xBB, 0xBF, 'A'}, "UTF-8", 1, 1),
      mark(u16le + Bytes{'A', 0}, "UTF-16", 0, 0x1002),
      mark(u4be + Bytes{0, 0, 0, 'A'}, "ISO-10646-UCS-4", 1, 0x1002),
      // A mark alone is enough; too short for the UCS-4 mark is UTF-16 and a NUL.
      mark(u4le, "ISO-10646-UCS-4", 0, 0x1002),
      mark({0xFF, 0xFE, 0x00}, "UTF-16", 0, 0x1002),
      // A mark after inPos is data; one at inPos counts even after other bytes.
      {.in = bytesOf("ab") + Bytes{0xEF, 0xBB, 0xBF} + bytesOf("cd"), .bom = 0},
      mark(bytesOf("ab") + u16be + Bytes{0, 'A'}, "UTF-16", 1, 0x1002, 2),
      {.in = {0xEF, 0xBB, 'A', 'B'}, .bom = 0},  // a partial mark is no mark
  });
}

TEST(XmlDeclaration, EightBitDeclarationNamesTheEncodingAsWritten) {
  const std::string lines = "\r\n<doc>\x82\xA0\x82\xA2</doc>\r\n<x/>\r\n";
  for (const char* decl :
       {"<?xml version='1.0' encoding=\"Shift_JIS'?>", "<?XML VERSION='1.0' ENCODING 'Shift_JIS'?>",
        "<?xml version='1.0' encoding = 'Shift_JIS' standalone='yes'?>"}) {
    SCOPED_TRACE(decl);
    expectDetect(
        {.in = bytesOf(decl + lines), .name = "Shift_JIS", .decl = 1, .bom = 0, .nl = 1, .cls = 1});
  }
}

TEST(XmlDeclaration, WhereASignatureIsRecognised) {
  const std::string bare = "<?xml encoding='EUC-JP'?>\n", decl = "  " + bare;
  const Bytes w16 = wide("<?xml", 2, false), utf8Mark{0xEF, 0xBB, 0xBF};
  expectAll({
      // Only all upper or all lower case; the keyword may be mixed.
      {.in = bytesOf("<?Xml version='1.0' encoding='EUC-JP'?>\n"), .name = "ISO-646IRV", .decl = 0},
      {.in = bytesOf("<?xml version='1.0' Encoding='EUC-JP'?>\n"), .name = "UTF-8", .decl = 1},
      // The signature needs one byte beyond it, also in its 9-byte wide form (the
      // 8-bit form is cut at every byte in bad_input_test.cpp).
      {.in = Bytes(w16.begin(), w16.end() - 1), .decl = 0},
      {.in = w16, .decl = 1},
      // After a mark each form is also tried two bytes on, but not three.
      {.in = Bytes{0xFE, 0xFF} + bytesOf(decl), .name = "EUC-JP", .decl = 1},
      {.in = bytesOf(decl), .name = "ISO-646IRV", .decl = 0},
      {.in = Bytes{0xFE, 0xFF} + bytesOf(" " + decl), .name = "UTF-16", .decl = 0},
      {.in = utf8Mark + bytesOf(bare + "<a/>\n"), .name = "EUC-JP", .decl = 1, .bom = 1, .nl = 3},
  });
}

TEST(XmlDeclaration, WhereTheKeywordIsSought) {
  const std::string decl = "<?xml version='1.0'?>\n";
  expectAll({
      // Only on the first line, though the value may run on past its end.
      {.in = bytesOf("<?xml version='1.0'\nencoding='EUC-JP'?>\n"), .name = "UTF-8", .decl = 1},
      {.in = bytesOf("<?xml version='1.0'\rencoding='EUC-JP'?>\r"), .name = "UTF-8"},
      {.in = bytesOf("<?xml encoding=\n'EUC-JP'?>\n"), .name = "EUC-JP"},
      // From the start of the buffer: a keyword at offset 0 is as good as none,
      // and a line end before inPos hides the declaration's own keyword.
      {.in = bytesOf("encoding'X'" + decl), .name = "UTF-8", .pos = 11, .decl = 1},
      {.in = bytesOf(" encoding'X'" + decl), .name = "X", .pos = 12},
      {.in = bytesOf("a\n<?xml encoding='EUC-JP'?>\n"), .name = "UTF-8", .pos = 2, .decl = 1},
      // Within the 2048 bytes after inPos only.
      {.in = bytesOf("<?xml " + std::string(3000, ' ') + "encoding='EUC-JP'?>"), .name = "UTF-8"},
      {.in = bytesOf("<?xml " + std::string(2000, ' ') + "encoding='EUC-JP'?>"), .name = "EUC-JP"},
  });
}

TEST(XmlDeclaration, ValuesThatCannotBeCopiedFallBackToTheWidth) {
  const std::string fits(258, 'n'), fitsWide(129, 'w');  // 129 units are 258 bytes
  const Bytes u4le{0xFF, 0xFE, 0x00, 0x00};
  const auto w16le = [](const std::string& s) { return wide(s, 2, false); };
  expectAll({
      {.in = bytesOf("<?xml encoding='EUC-JP?>\n<a/>"), .name = "UTF-8"},  // never closed
      {.in = bytesOf("<?xml encoding=''?>\n"), .name = "UTF-8"},
      {.in = bytesOf("<?xml encoding='" + fits + "'?>"), .name = fits.c_str()},
      {.in = bytesOf("<?xml encoding='" + fits + "n'?>"), .name = "UTF-8"},
      {.in = wide("<?xml encoding='" + fitsWide + "'?>", 2, true), .name = fitsWide.c_str()},
      {.in = wide("<?xml encoding='" + fitsWide + "w'?>", 2, true), .name = "UTF-16"},
      // The value is copied unchanged: a NUL ends the name, wide units keep their low byte.
      {.in = bytesOf(std::string("<?xml encoding='EU\0C'?>", 24)), .name = "EU", .decl = 1},
      {.in = w16le("<?xml encoding='") + Bytes{'E', 0x30, 'U', 0x30} + w16le("'?>\n"),
       .name = "EU"},
      // A UCS-4 mark's name survives a value that cannot be copied, but
      // without a keyword or with an empty value the width decides.
      {.in = u4le + w16le("<?xml encoding='EUC-JP?>"), .name = "ISO-10646-UCS-4", .decl = 1},
      {.in = u4le + w16le("<?xml version='1.0'?>"), .name = "UTF-16"},
      {.in = u4le + w16le("<?xml encoding=''?>"), .name = "UTF-16"},
  });
}

TEST(XmlDeclaration, WideDeclarationsInEveryWidthAndOrder) {
  for (int width : {2, 4}) {
    for (bool big : {false, true}) {
      SCOPED_TRACE(std::to_string(width) + (big ? " BE" : " LE"));
      const char* byWidth = width == 2 ? "UTF-16" : "ISO-10646-UCS-4";
      const Bytes bom = width == 2 ? (big ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE})
                                   : (big ? Bytes{0, 0, 0xFE, 0xFF} : Bytes{0xFF, 0xFE, 0, 0});
      const Bytes plain = wide("<?xml version=\"1.0\"?>\r\n<a>b</a>\r\n", width, big),
                  named = wide("<?xml version='1.0' encoding='EUC-JP'?>\n<a/>\n", width, big),
                  marked = bom + wide("<?xml encoding='ISO-10646-UCS-2'?>\r", width, big);
      expectAll({
          // Without an encoding attribute: the width decides, the first byte the order.
          {.in = plain, .name = byWidth, .decl = 1, .be = big, .nl = 1, .cls = 0x1002},
          // With one: its value, each unit's low byte, read in the order found.
          {.in = named, .name = "EUC-JP", .be = big, .nl = 3, .cls = 1},
          {.in = marked, .name = "ISO-10646-UCS-2", .decl = 1, .bom = 1, .cls = 0x1002},
      });
    }
  }
}

TEST(EncodingClass, ExactNamesOfTheUnicodeFamilyOnly) {
  // By the name itself, not the width; the other Unicode names come with marks and
  // wide declarations above.
  const std::pair<std::string, int> cases[] = {
      {"UTF-16", 0x1002}, {"utf-16", 1}, {"UTF-16LE", 1}, {"unknown", 1}};
  for (const auto& [value, cls] : cases) {
    SCOPED_TRACE(value);
    expectDetect(
        {.in = bytesOf("<?xml encoding='" + value + "'?>\n"), .name = value.c_str(), .cls = cls});
  }
}

TEST(LineEnds, CensusOfEightBitText) {
  const std::string ls = "\xE2\x80\xA8", ps = "\xE2\x80\xA9";
  const std::pair<std::string, int> cases[] = {
      {"one\rtwo\rthree", 2},
      {"one\n\rtwo\n\rthree", 1},   // LF CR counts as CR LF
      {"a\r\nb\r\nc\nd\ne\nf", 3},  // lone LF beats the CR LF count
      {"a\r\nb\nc\rd", 1},          // nobody beats each other: CR LF decides
      {"a\rb\nc\rd\ne", 0},         // two each, no CR LF
      {"last\r", 0},                // a line end in the last unit is not counted
      {"last\r\n", 1},
      {"a\r\rb", 2},  // the unit after a CR is not examined again
      {"a" + ls + "b" + ls + "c\r\n", 4},
      {"a" + ps + "b" + ps + "c\r\n", 5},
      {"a" + ls + "b" + ps + "c", 0},  // one each: nobody wins, no CR LF
  };
  for (const auto& [text, kind] : cases) {
    SCOPED_TRACE(text);
    const auto d = detect(bytesOf(text));
    ASSERT_EQ(d.ret, 1);
    EXPECT_EQ(d.rec.newlineKind, static_cast<unsigned>(kind));
  }
}

TEST(LineEnds, WideFixedWidthAndIsoTwoThousandTwentyTwoText) {
  std::vector<Want> rows;
  for (bool big : {false, true}) {  // UTF-16 found by scoring; U+2028 is a unit of its own
    const Bytes ls = big ? Bytes{0x20, 0x28} : Bytes{0x28, 0x20}, word = wide("Hello", 2, big);
    rows.push_back(
        {.in = wide("Hello\r\nWorld\r\n!", 2, big), .name = "UTF-16", .be = big, .nl = 1});
    rows.push_back(
        {.in = word + ls + word + ls + wide("Again\n", 2, big), .name = "UTF-16", .nl = 4});
  }
  rows.push_back({.in = Bytes{0xFF, 0xFE, 0, 0} + wide("a\rb\rc\r\nd", 4, false), .nl = 2});
  // Fixed-width EUC in two-byte units: 00 0D 00 0A byte by byte would be a lone CR.
  const Bytes fixed = repeat({0, 'a', 0xA4, 0xA2, 0, 'b', 0, '\r', 0, '\n'}, 4);
  rows.push_back({.in = fixed, .name = "EUC-JP-FIX", .nl = 1});
  // ISO-2022-JP has its own rule: here the other one would say CR LF.
  const std::string kanji = "\x1B$B$\"$$\x1B(B";
  rows.push_back(
      {.in = bytesOf("a" + kanji + "\r\nb" + kanji + "\nc"), .name = "ISO-2022-JP", .nl = 3});
  rows.push_back(
      {.in = bytesOf("a" + kanji + "\rb" + kanji + "\nc\r\nd"), .name = "ISO-2022-JP", .nl = 1});
  rows.push_back({.in = bytesOf("a" + kanji + "\rb\rc"), .nl = 2});
  // The census looks at the 2048 bytes from inPos only.
  const Bytes tail = bytesOf("\nb\nc\n\n\n\n\n");
  rows.push_back({.in = Bytes(2040, 'a') + tail, .nl = 3});
  rows.push_back({.in = Bytes(2048, 'a') + tail, .nl = 0});
  rows.push_back({.in = Bytes(2048, 'a') + tail, .pos = 2040, .nl = 3});
  expectAll(rows);
}

}  // namespace
