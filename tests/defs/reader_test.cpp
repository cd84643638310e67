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

#include "support/testdir.h"
#include "zrkvt16.h"

namespace {

using zktest::Enc;
using zktest::TestDir;

// One opened document in a charset directory of its own.
struct Doc {
  zk::DefDoc doc{};
  int opened = 0;
  ~Doc() { zk::defClose(&doc); }
  // The text, with characters beyond ASCII as "{decimal}".
  std::string text() const {
    std::string s;
    for (std::int32_t i = 0; i < doc.byteLen / 4; ++i) {
      std::uint32_t c = doc.text[i];
      if (c < 0x80)
        s += static_cast<char>(c);
      else
        s.append("{").append(std::to_string(c)).append("}");
    }
    return s;
  }
  // The span of the first element `name` from `from`, "<none>" if none; the
  // search leaves the cursor where it was.
  std::string span(const char* name, std::uint32_t from = 0, std::uint32_t* s = nullptr,
                   std::uint32_t* e = nullptr) {
    std::uint32_t s0 = 0, e0 = 0;
    s = s ? s : &s0;
    e = e ? e : &e0;
    doc.cursor = from;
    int found = zk::defFindElement(&doc, name, s, e);
    EXPECT_EQ(doc.cursor, from);
    return found ? text().substr(*s / 4, (*e - *s) / 4) : "<none>";
  }
};

class Reader : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1); }
  void open(Doc& d, const std::string& name, std::uint32_t enc = zk::kTextUtf16,
            std::uint32_t big = 0) {
    d.opened = zk::defOpen(name.c_str(), enc, big, &d.doc);
  }
  void openText(Doc& d, const std::string& text) {
    dir.write("doc.xml", text);
    open(d, "doc.xml");
    ASSERT_EQ(d.opened, 1);
  }
  TestDir dir;
};

// The mark stays as a character; the declaration goes. (The loading tests
// carry the encoding on to set files and tables.)
TEST_F(Reader, DetectsEncodingFromMarkAndDeclaration) {
  const Enc encs[] = {Enc::Utf16LE, Enc::Utf16BE, Enc::Ucs2LE,
                      Enc::Ucs2BE,  Enc::Ucs4LE,  Enc::Ucs4BE};
  const char* decls[] = {"UTF-16", "ISO-10646-UCS-2", "UCS-4"};
  const std::uint32_t wantEnc[] = {zk::kTextUtf16, zk::kTextUcs2, zk::kTextUcs4};
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    dir.write("doc.xml",
              std::string("<?xml version=\"1.0\" encoding=\"") + decls[k / 2] +
                  "\"?><name>X\xE3\x81\x82</name>",
              encs[k], true);
    Doc d;
    open(d, "doc.xml");
    ASSERT_EQ(d.opened, 1);
    EXPECT_EQ(d.doc.encoding, wantEnc[k / 2]);
    EXPECT_EQ(d.doc.bigEndian, k % 2u);
    EXPECT_EQ(d.text(), "{65279}<name>X{12354}</name>");
  }
}

TEST_F(Reader, MarkWithoutDeclarationFallsBackToCallerDefaults) {
  // Big-endian mark, but the first line names no encoding: the defaults win,
  // so the text is read little-endian and no tag survives.
  dir.write("doc.xml", "<a>x</a>\n<?xml encoding=\"UTF-16\"?>", Enc::Utf16BE, true);
  Doc d, e;
  open(d, "doc.xml", zk::kTextUtf16, 0);
  ASSERT_EQ(d.opened, 1);
  EXPECT_EQ(d.doc.bigEndian, 0u);
  EXPECT_EQ(d.doc.tagCount, 0);
  // Reached through an entity of a UCS-2 big-endian document, the same file
  // takes that document's settings.
  open(e, "doc.xml", zk::kTextUcs2, 1);
  ASSERT_EQ(e.opened, 1);
  EXPECT_EQ(e.doc.encoding, zk::kTextUcs2);
  EXPECT_EQ(e.text().substr(0, 15), "{65279}<a>x</a>");
}

// UTF-8 and Shift_JIS named anywhere are refused; upper case is not
// recognised, so those bytes are read as UTF-16. The lower-cased name is
// opened in the charset directory whatever path it carries.
TEST_F(Reader, WhichFilesOpen) {
  struct Case {
    const char* text;  // written as raw bytes; nullptr: no file
    const char* openAs;
    int opened;
  } cases[] = {
      {"<?xml encoding=\"utf-8\"?><x/>", "doc.xml", 0},
      {"<x><!-- shift --></x>", "doc.xml", 0},
      {"<?xml encoding=\"UTF-8\"?>", "doc.xml", 1},
      {"", "doc.xml", 0},
      {nullptr, "nothing.xml", 0},
      {"<a/>", "C:\\elsewhere\\sub/DoC.XML", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text ? c.text : c.openAs);
    if (c.text) dir.write("doc.xml", c.text, Enc::Raw);
    Doc d;
    open(d, c.openAs);
    ASSERT_EQ(d.opened, c.opened);
    if (d.opened) {
      EXPECT_EQ(d.doc.encoding, zk::kTextUtf16);
    } else {
      EXPECT_EQ(d.doc.text, nullptr);
      EXPECT_EQ(d.doc.tagPos, nullptr);
    }
  }
}

TEST_F(Reader, DecodesSurrogatesInEitherOrderAndDropsTrailingOne) {
  // U+20BB7 as high-low, then as low-high, then a lone high surrogate last.
  std::vector<std::uint8_t> b = {0xFF, 0xFE};
  for (std::uint16_t u : {0x0041, 0xD842, 0xDFB7, 0xDFB7, 0xD842, 0x0042, 0xD842}) {
    b.push_back(u & 0xFF);
    b.push_back(u >> 8);
  }
  b.push_back(0x43);  // an odd last byte is ignored
  dir.writeBytes("doc.xml", b);
  Doc d;
  open(d, "doc.xml");
  ASSERT_EQ(d.opened, 1);
  EXPECT_EQ(d.text(), "{65279}A{134071}{134071}B");
}

// Two dashes remove themselves and everything up to the next pair; an
// unclosed pair loses its dashes one at a time. Many unclosed "<?" stay
// linear: each scanning to the end would take minutes.
TEST_F(Reader, PreprocessingRemovesDeclarationsCommentsAndLineEnds) {
  std::string openers;
  for (int i = 0; i < 200000; ++i) openers += "<?";
  struct Case {
    std::string text, want;
  } cases[] = {
      {"<?xml version=\"1.0\"?>A<!-- note -->B\r\nC\r\r\nD\tE\rF\nG<?H", "A<!>B C  D E F G?H"},
      {"x--y--z \"a--b--c\" q--r-s", "xz \"ac\" q-r-s"},
      {"a<?b?c?>d<?>e", "ade"},
      {openers + "<a/>", std::string(200000, '?') + "<a/>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text.substr(0, 40));
    Doc d;
    openText(d, c.text);
    EXPECT_EQ(d.text(), c.want);
  }
}

// Where the key ends (in bytes) from the cursor on by a plain scan; 0 if nowhere.
std::uint32_t naiveFind(const zk::DefDoc& doc, const std::string& key, std::uint32_t from) {
  const std::uint32_t *text = doc.text, *end = text + doc.byteLen / 4;
  const std::uint32_t* at =
      std::search(text + from, end, key.begin(), key.end(),
                  [](std::uint32_t c, char k) { return c == static_cast<std::uint8_t>(k); });
  return at == end ? 0 : static_cast<std::uint32_t>(at - text + key.size()) * 4;
}

TEST_F(Reader, TagIndexSearchAgreesWithPlainScan) {
  std::mt19937 rng(7);
  const char alphabet[] = "<>/ab ";
  const char* keys[] = {"<a", "<a>", "</a>", "/>", "<b ", "/a", "ab", "<"};
  for (int round = 0; round < 40; ++round) {
    std::string s;
    for (int i = 0; i < 300; ++i) s += alphabet[rng() % 6];
    Doc d;
    openText(d, s);
    for (const char* key : keys)
      for (std::uint32_t cur = 0; cur <= static_cast<std::uint32_t>(d.doc.byteLen); cur += 4 * 13) {
        d.doc.cursor = cur;
        std::uint32_t end = 0;
        int found = zk::defFindKey(&d.doc, key, &end);
        ASSERT_EQ(found ? end : 0u, naiveFind(d.doc, key, cur / 4))
            << "key " << key << " cursor " << cur << " in " << s;
        ASSERT_EQ(d.doc.cursor, cur);
      }
  }
  // Keys of 128 characters or more are never found.
  std::string key(128, 'k');
  Doc d;
  openText(d, "x" + key + "x");
  std::uint32_t end;
  EXPECT_EQ(zk::defFindKey(&d.doc, key.c_str(), &end), 0);
  EXPECT_EQ(zk::defFindKey(&d.doc, key.substr(1).c_str(), &end), 1);
  EXPECT_EQ(end, 128u * 4);
}

TEST_F(Reader, ElementSpans) {
  Doc d, only, unended;
  openText(d, "<r><e a=\"1\"/><e>body</e><f x/></r>");
  EXPECT_EQ(d.span("e"),
            "a=\"1\"/><e>body");  // the closing tag further on wins over the nearer "/>"
  EXPECT_EQ(d.span("e", 13 * 4), "body");
  EXPECT_EQ(d.span("f"), "x");
  EXPECT_EQ(d.span("g"), "<none>");
  openText(only, "<lang domain=\"ja\"/> tail");
  std::uint32_t s, e;
  EXPECT_EQ(only.span("lang", 0, &s, &e), "domain=\"ja\"");
  char out[260];
  EXPECT_EQ(zk::defDomainValue(&only.doc, s, e, out), 1);
  EXPECT_STREQ(out, "ja");
  openText(unended, "<e>text");
  EXPECT_EQ(unended.span("e"), "<none>");
}

// A value that does not fit its 260-byte field is refused. bytenum= -1 keeps
// its low 16 bits, as atoi reads it; without bytenum=, or with no closing
// quote inside the element, it is 2.
TEST_F(Reader, QuotedValuesAndBytenum) {
  std::string fits(259, 'v'), over(260, 'v');
  Doc d;
  openText(d, "<a n=\"" + fits + "\"/><b n=\"" + over +
                  "\"/><c bytenum=\"4\"/><d bytenum=\" -1\"/><e bytenum=\"x3\"/><f z=\"1\"/>"
                  "<g bytenum=\"7/>");
  char out[260];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(zk::defQuotedValue(&d.doc, 0, out), 1);
  EXPECT_EQ(std::string(out), fits);
  std::uint32_t s, e;
  d.doc.cursor = 0;
  ASSERT_EQ(zk::defFindKey(&d.doc, "<b", &s), 1);
  EXPECT_EQ(zk::defQuotedValue(&d.doc, s, out), 0);
  EXPECT_STREQ(out, "");
  EXPECT_EQ(zk::defQuotedValue(&d.doc, static_cast<std::uint32_t>(d.doc.byteLen) - 8, out), 1);
  EXPECT_STREQ(out, "");
  const std::pair<const char*, int> cases[] = {
      {"c", 4}, {"d", 0xFFFF}, {"e", 0}, {"f", 2}, {"g", 2}};
  for (const auto& [el, want] : cases) {
    ASSERT_NE(d.span(el, 0, &s, &e), "<none>") << el;
    EXPECT_EQ(zk::defBytenumValue(&d.doc, s, e), want) << el;
  }
}

// Successive numbers of a text: value and where the scan stopped. A limit cuts
// a run; the rest, 101 digits, keeps its value modulo 2^32.
TEST(HexNumbers, RunsAreCutByTheLimitAndKeepTheirLastEightDigits) {
  std::string text = "  0x8140 face-G12" + std::string(92, 'f') + "1234abcd";
  std::vector<std::uint32_t> a(text.begin(), text.end());
  struct Step {
    std::uint32_t limit, value, next;
  } steps[] = {{17, 0, 3}, {17, 0x8140, 8}, {17, 0xFACE, 13}, {16, 1, 16}, {117, 0x1234ABCD, 117}};
  std::uint32_t at = 0, next, v;
  for (const Step& s : steps) {
    ASSERT_EQ(zk::defHexNumber(a.data(), at, s.limit, &next, &v), 1) << at;
    EXPECT_EQ(v, s.value) << at;
    EXPECT_EQ(next, s.next) << at;
    at = next;
  }
  EXPECT_EQ(zk::defHexNumber(a.data(), 16, 16, &next, &v), 0);
}

TEST_F(Reader, EntityReferencesAndDeclarations) {
  Doc d;
  openText(d,
           "<!DOCTYPE x [<!ENTITY longname SYSTEM \"long.xml\"><!ENTITY name SYSTEM \"short.xml\">"
           "<!ENTITY bad SYSTEM noquote><!ENTITY open SYSTEM \"unterminated>]>"
           "<a>& name;</a><b>&name ;</b><c>& x</c><d>&longname;</d>");
  using P = std::pair<const char*, const char*>;
  auto str = [](char* p) {
    std::string out = p ? p : "<none>";
    std::free(p);
    return out;
  };
  // Spaces before the semicolon belong to the name.
  for (auto [el, want] : {P{"a", "name"}, P{"b", "name "}, P{"c", "<none>"}}) {
    std::uint32_t s, e;
    ASSERT_NE(d.span(el, 0, &s, &e), "<none>");
    EXPECT_EQ(str(zk::defEntityRef(&d.doc, s, e)), want) << el;
  }
  // "name" is the tail of the earlier "longname": the first match followed by
  // a space wins.
  for (auto [ent, want] : {P{"name", "long.xml"}, P{"longname", "long.xml"}, P{"bad", "<none>"},
                           P{"open", "<none>"}, P{"missing", "<none>"}, P{"", "<none>"}}) {
    d.doc.cursor = 12;
    EXPECT_EQ(str(zk::defEntityFile(&d.doc, ent)), want) << ent;
    EXPECT_EQ(d.doc.cursor, 12u);
  }
}

TEST(SplitPath, DriveDirectoryNameAndExtension) {
  const std::pair<const char*, const char*> cases[] = {
      {"C:\\dir\\sub/File.Name.TXT", "C:|\\dir\\sub/|File.Name|.TXT"},
      {"\\\\server\\share\\x", "\\\\server|\\share\\|x|"},
      {"//srv", "//srv|||"},
      {"/abs/table", "/|abs/|table|"},
      {"rel.d/name", "|rel.d/|name|"},
      {".hidden", "|||.hidden"},
      {"", "|||"},
  };
  for (const auto& [path, want] : cases) {
    char out[4][260];
    std::memset(out, 'z', sizeof out);
    zk::splitPath(path, out[0], out[1], out[2], out[3]);
    EXPECT_EQ(std::string(out[0]) + '|' + out[1] + '|' + out[2] + '|' + out[3], want) << path;
  }
}

}  // namespace
