// The definition-file reader: encoding detection and decoding, preprocessing,
// searches (the tag index against a plain scan), values, entities and paths.
#include "defs/reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/convert.h"
#include "support/testdir.h"
#include "zrkvt16.h"

namespace {

using namespace zktest;

// One opened document; its text with characters beyond ASCII as "{decimal}".
struct Doc {
  zk::DefDoc doc{};
  int opened;
  Doc(const char* name, std::uint32_t enc = zk::kTextUtf16, std::uint32_t big = 0)
      : opened(zk::defOpen(name, enc, big, &doc)) {}
  ~Doc() { zk::defClose(&doc); }
  std::string text() const {
    std::string s;
    for (std::int32_t i = 0; i < doc.byteLen / 4; ++i)
      doc.text[i] < 0x80 ? s.push_back(char(doc.text[i]))
                         : (void)s.append("{").append(std::to_string(doc.text[i])).append("}");
    return s;
  }
  // The span of the first element `name` from `from` ("<none>" if none); the
  // search leaves the cursor where it was.
  std::string span(const char* name, std::uint32_t from = 0, std::uint32_t* s = nullptr,
                   std::uint32_t* e = nullptr) {
    std::uint32_t s0, e0;
    s = s ? s : &s0, e = e ? e : &e0, doc.cursor = from;
    const int found = zk::defFindElement(&doc, name, s, e);
    EXPECT_EQ(doc.cursor, from);
    return found ? text().substr(*s / 4, (*e - *s) / 4) : "<none>";
  }
};

class Reader : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1); }
  Doc& open(const std::string& text, Enc enc = Enc::Utf16LE, bool bom = false) {
    dir.write("doc.xml", text, enc, bom);
    docs.emplace_back(std::make_unique<Doc>("doc.xml"));
    EXPECT_EQ(docs.back()->opened, 1);
    return *docs.back();
  }
  TestDir dir;
  std::vector<std::unique_ptr<Doc>> docs;
};

// The mark stays as a character; the declaration goes. Without a declaration
// on the first line the caller's defaults hold (as for a file reached through
// an entity of another document). A declaration may end the file.
TEST_F(Reader, EncodingFromTheMarkAndTheDeclaration) {
  const Enc encs[] = {Enc::Utf16LE, Enc::Utf16BE, Enc::Ucs2LE,
                      Enc::Ucs2BE,  Enc::Ucs4LE,  Enc::Ucs4BE};
  const std::string decls[] = {"UTF-16", "ISO-10646-UCS-2", "UCS-4"};
  const std::uint32_t wants[] = {zk::kTextUtf16, zk::kTextUcs2, zk::kTextUcs4};
  for (int k = 0; k < 6; ++k) {
    Doc& d =
        open("<?xml encoding=\"" + decls[k / 2] + "\"?><name>X\xE3\x81\x82</name>", encs[k], true);
    EXPECT_EQ(std::make_pair(d.doc.encoding, d.doc.bigEndian),
              std::make_pair(wants[k / 2], k % 2u));
    EXPECT_EQ(d.text(), "{65279}<name>X{12354}</name>") << k;
    Doc& cut = open("<?xml encoding=\"" + decls[k / 2], encs[k], true);
    EXPECT_EQ(cut.doc.bigEndian, k % 2u) << k;
  }
  dir.write("doc.xml", "<a>x</a>\n<?xml encoding=\"UTF-16\"?>", Enc::Utf16BE, true);
  Doc le("doc.xml", zk::kTextUtf16, 0), ucs2("doc.xml", zk::kTextUcs2, 1);
  EXPECT_EQ(std::make_tuple(le.opened, le.doc.bigEndian, le.doc.tagCount),
            std::make_tuple(1, 0u, 0));
  EXPECT_EQ(ucs2.text().substr(0, 15), "{65279}<a>x</a>");
  // UTF-8 and Shift_JIS named anywhere are refused; upper case is not
  // recognised, so those bytes are read as UTF-16. The lower-cased name is
  // opened in the charset directory whatever path it carries.
  // clang-format off
  const std::tuple<const char*, const char*, int> files[] = {
      {"<?xml encoding=\"utf-8\"?><x/>", "doc.xml", 0}, {"<x><!-- shift --></x>", "doc.xml", 0},
      {"<?xml encoding=\"UTF-8\"?>", "doc.xml", 1}, {"", "doc.xml", 0}, {"<a/>", "nothing.xml", 0},
      {"<a/>", "C:\\elsewhere\\sub/DoC.XML", 1}};
  // clang-format on
  for (const auto& [text, name, opened] : files) {
    dir.write("doc.xml", text, Enc::Raw);
    Doc d(name);
    EXPECT_EQ(std::make_tuple(d.opened, d.doc.text == nullptr), std::make_tuple(opened, !opened))
        << text;
  }
  // U+20BB7 as high-low and as low-high; a lone high surrogate and an odd byte at the end go.
  dir.writeBytes("doc.xml", hexBytes("FFFE 4100 42D8 B7DF B7DF 42D8 4200 42D8 43"));
  EXPECT_EQ(Doc("doc.xml").text(), "{65279}A{134071}{134071}B");
}

}  // namespace
