// The definition-file reader: encoding detection and decoding, preprocessing,
// searches (the tag index against a plain scan), values, entities and paths.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "defs/reader.h"
#include "support/testdir.h"
#include "tables/codetable.h"
#include "zrkvt16.h"

namespace {

using zktest::Enc;
using zktest::TestDir;

// One opened document in a charset directory of its own.
struct Doc {
  zk::DefDoc doc{};
  int opened = 0;
  ~Doc() { zk::defClose(&doc); }
  std::string text() const {
    std::string s;
    for (std::int32_t i = 0; i < doc.byteLen / 4; ++i) {
      std::uint32_t c = doc.text[i];
      if (c < 0x80) s += static_cast<char>(c);
      else s.append("{").append(std::to_string(c)).append("}");
    }
    return s;
  }
};

class Reader : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1); }
  void open(Doc& d, const std::string& name, std::uint32_t enc = zk::kTextUtf16,
            std::uint32_t big = 0) {
    d.opened = zk::defOpen(name.c_str(), enc, big, &d.doc);
  }
  void openText(Doc& d, const std::string& text, Enc e = Enc::Utf16LE, bool bom = false) {
    dir.write("doc.xml", text, e, bom);
    open(d, "doc.xml");
    ASSERT_EQ(d.opened, 1);
  }
  TestDir dir;
};

TEST_F(Reader, DetectsEncodingFromMarkAndDeclaration) {
  const std::string body = "<charset><name>X\xE3\x81\x82</name></charset>";
  struct Case {
    Enc enc;
    const char* decl;
    std::uint32_t wantEnc;
    std::uint32_t wantBig;
  } cases[] = {
      {Enc::Utf16LE, "UTF-16", zk::kTextUtf16, 0},
      {Enc::Utf16BE, "UTF-16", zk::kTextUtf16, 1},
      {Enc::Ucs2LE, "ISO-10646-UCS-2", zk::kTextUcs2, 0},
      {Enc::Ucs2BE, "ISO-10646-UCS-2", zk::kTextUcs2, 1},
      {Enc::Ucs4LE, "UCS-4", zk::kTextUcs4, 0},
      {Enc::Ucs4BE, "UCS-4", zk::kTextUcs4, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.decl + std::string(c.wantBig ? " BE" : " LE"));
    std::string text = std::string("<?xml version=\"1.0\" encoding=\"") + c.decl + "\"?>" + body;
    dir.write("doc.xml", text, c.enc, true);
    Doc d;
    open(d, "doc.xml", zk::kTextUtf16, 0);
    ASSERT_EQ(d.opened, 1);
    EXPECT_EQ(d.doc.encoding, c.wantEnc);
    EXPECT_EQ(d.doc.bigEndian, c.wantBig);
    // The mark stays as a character; the declaration goes.
    EXPECT_EQ(d.text(), "{65279}<charset><name>X{12354}</name></charset>");
  }
}

TEST_F(Reader, MarkWithoutDeclarationFallsBackToCallerDefaults) {
  // Big-endian mark, but the first line names no encoding: the defaults win,
  // so the text is read little-endian and no tag survives.
  dir.write("doc.xml", "<a>x</a>\n<?xml encoding=\"UTF-16\"?>", Enc::Utf16BE, true);
  Doc d;
  open(d, "doc.xml", zk::kTextUtf16, 0);
  ASSERT_EQ(d.opened, 1);
  EXPECT_EQ(d.doc.bigEndian, 0u);
  EXPECT_EQ(d.doc.tagCount, 0);
  // Reached through an entity of a UCS-2 big-endian document, the same file
  // takes that document's settings.
  Doc e;
  open(e, "doc.xml", zk::kTextUcs2, 1);
  ASSERT_EQ(e.opened, 1);
  EXPECT_EQ(e.doc.encoding, zk::kTextUcs2);
  EXPECT_EQ(e.text().substr(0, 15), "{65279}<a>x</a>");
}

TEST_F(Reader, RefusesUtf8AndShiftJisNamedAnywhere) {
  Doc a, b, c, e;
  dir.write("a.xml", "<?xml encoding=\"utf-8\"?><x/>", Enc::Raw);
  open(a, "a.xml");
  EXPECT_EQ(a.opened, 0);
  dir.write("b.xml", "<x><!-- shift --></x>", Enc::Raw);
  open(b, "b.xml");
  EXPECT_EQ(b.opened, 0);
  EXPECT_EQ(b.doc.text, nullptr);
  EXPECT_EQ(b.doc.tagPos, nullptr);
  // Upper case is not recognised: the bytes are read as UTF-16 instead.
  dir.write("c.xml", "<?xml encoding=\"UTF-8\"?>", Enc::Raw);
  open(c, "c.xml");
  EXPECT_EQ(c.opened, 1);
  EXPECT_EQ(c.doc.encoding, zk::kTextUtf16);
  dir.write("e.xml", "", Enc::Raw);
  open(e, "e.xml");
  EXPECT_EQ(e.opened, 0);
  Doc missing;
  open(missing, "nothing.xml");
  EXPECT_EQ(missing.opened, 0);
}

TEST_F(Reader, OpensLowerCasedNameInCharsetDirectoryWhateverPathItCarries) {
  dir.write("mixed.xml", "<a/>");
  Doc d;
  open(d, "C:\\elsewhere\\sub/MiXeD.XML");
  EXPECT_EQ(d.opened, 1);
  EXPECT_EQ(d.text(), "<a/>");
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

TEST_F(Reader, PreprocessingRemovesDeclarationsCommentsAndLineEnds) {
  Doc d;
  openText(d, "<?xml version=\"1.0\"?>A<!-- note -->B\r\nC\r\r\nD\tE\rF\nG<?H");
  EXPECT_EQ(d.text(), "A<!>B C  D E F G?H");
  Doc e;
  openText(e, "x--y--z \"a--b--c\" q--r-s");
  // Two dashes remove themselves and everything up to the next pair; an
  // unclosed pair loses its dashes one at a time.
  EXPECT_EQ(e.text(), "xz \"ac\" q-r-s");
  Doc f;
  openText(f, "a<?b?c?>d<?>e");
  EXPECT_EQ(f.text(), "ade");
}

TEST_F(Reader, ManyUnclosedOpenersStayLinear) {
  // 200000 unclosed "<?" would take minutes if each scanned to the end.
  std::string s;
  for (int i = 0; i < 200000; ++i) s += "<?";
  s += "<a/>";
  Doc d;
  openText(d, s);
  EXPECT_EQ(d.text().size(), 200000u + 4u);
}

std::uint32_t naiveFind(const zk::DefDoc& doc, const std::string& key, std::uint32_t from) {
  std::uint32_t n = static_cast<std::uint32_t>(doc.byteLen / 4);
  for (std::uint32_t at = from; at + key.size() <= n; ++at) {
    bool ok = true;
    for (std::size_t k = 0; k < key.size() && ok; ++k) ok = doc.text[at + k] == static_cast<std::uint8_t>(key[k]);
    if (ok) return (at + static_cast<std::uint32_t>(key.size())) * 4;
  }
  return 0;
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
        std::uint32_t want = naiveFind(d.doc, key, cur / 4);
        ASSERT_EQ(found ? end : 0u, want) << "key " << key << " cursor " << cur << " in " << s;
        ASSERT_EQ(d.doc.cursor, cur);
      }
  }
}

TEST_F(Reader, LongKeysAreNeverFound) {
  std::string key(128, 'k');
  Doc d;
  openText(d, "x" + key + "x");
  std::uint32_t end;
  EXPECT_EQ(zk::defFindKey(&d.doc, key.c_str(), &end), 0);
  EXPECT_EQ(zk::defFindKey(&d.doc, key.substr(1).c_str(), &end), 1);
  EXPECT_EQ(end, 128u * 4);
}

TEST_F(Reader, ElementSpans) {
  Doc d;
  openText(d, "<r><e a=\"1\"/><e>body</e><f x/></r>");
  std::string t = d.text();
  auto span = [&](const char* name, std::uint32_t from) {
    d.doc.cursor = from;
    std::uint32_t s = 0, e = 0;
    if (!zk::defFindElement(&d.doc, name, &s, &e)) return std::string("<none>");
    EXPECT_EQ(d.doc.cursor, from);
    return t.substr(s / 4, (e - s) / 4);
  };
  // The closing tag further on wins over the nearer "/>".
  EXPECT_EQ(span("e", 0), "a=\"1\"/><e>body");
  EXPECT_EQ(span("e", 13 * 4), "body");
  EXPECT_EQ(span("f", 0), "x");
  EXPECT_EQ(span("g", 0), "<none>");
  Doc only;
  openText(only, "<lang domain=\"ja\"/> tail");
  only.doc.cursor = 0;
  std::uint32_t s, e;
  ASSERT_EQ(zk::defFindElement(&only.doc, "lang", &s, &e), 1);
  EXPECT_EQ(only.text().substr(s / 4, (e - s) / 4), "domain=\"ja\"");
  char out[260];
  EXPECT_EQ(zk::defDomainValue(&only.doc, s, e, out), 1);
  EXPECT_STREQ(out, "ja");
  // An element that never ends is not found.
  Doc open1;
  openText(open1, "<e>text");
  open1.doc.cursor = 0;
  EXPECT_EQ(zk::defFindElement(&open1.doc, "e", &s, &e), 0);
}

TEST_F(Reader, QuotedValuesAndBytenum) {
  Doc d;
  openText(d, "<c bytenum=\"4\"/><d bytenum=\" -1\"/><e bytenum=\"x3\"/><f z=\"1\"/><g bytenum=\"7/>");
  auto bytenumOf = [&](const char* el) {
    d.doc.cursor = 0;
    std::uint32_t s, e;
    EXPECT_EQ(zk::defFindElement(&d.doc, el, &s, &e), 1) << el;
    return zk::defBytenumValue(&d.doc, s, e);
  };
  EXPECT_EQ(bytenumOf("c"), 4);
  EXPECT_EQ(bytenumOf("d"), 0xFFFF);  // low 16 bits of -1, as atoi reads it
  EXPECT_EQ(bytenumOf("e"), 0);
  EXPECT_EQ(bytenumOf("f"), 2);
  EXPECT_EQ(bytenumOf("g"), 2);  // no closing quote inside the element
  char out[260];
  EXPECT_EQ(zk::defQuotedValue(&d.doc, 0, out), 1);
  EXPECT_STREQ(out, "4");
  EXPECT_EQ(zk::defQuotedValue(&d.doc, static_cast<std::uint32_t>(d.doc.byteLen) - 8, out), 1);
  EXPECT_STREQ(out, "");
}

TEST_F(Reader, ValuesLongerThanTheirFieldAreRefused) {
  std::string fits(259, 'v'), over(260, 'v');
  Doc d;
  openText(d, "<a n=\"" + fits + "\"/><b n=\"" + over + "\"/>");
  char out[260];
  std::memset(out, 'x', sizeof out);
  EXPECT_EQ(zk::defQuotedValue(&d.doc, 0, out), 1);
  EXPECT_EQ(std::string(out), fits);
  std::uint32_t past;
  d.doc.cursor = 0;
  ASSERT_EQ(zk::defFindKey(&d.doc, "<b", &past), 1);
  EXPECT_EQ(zk::defQuotedValue(&d.doc, past, out), 0);
  EXPECT_STREQ(out, "");
}

TEST_F(Reader, HexNumbersAndLongRuns) {
  auto cps = [](const std::string& s) { return std::vector<std::uint32_t>(s.begin(), s.end()); };
  std::vector<std::uint32_t> a = cps("  0x8140 face-G12");
  std::uint32_t next, v;
  ASSERT_EQ(zk::defHexNumber(a.data(), 0, a.size(), &next, &v), 1);
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(next, 3u);
  ASSERT_EQ(zk::defHexNumber(a.data(), next, a.size(), &next, &v), 1);
  EXPECT_EQ(v, 0x8140u);
  ASSERT_EQ(zk::defHexNumber(a.data(), next, a.size(), &next, &v), 1);
  EXPECT_EQ(v, 0xFACEu);
  EXPECT_EQ(a[next], static_cast<std::uint32_t>('-'));
  // The limit cuts a run.
  ASSERT_EQ(zk::defHexNumber(a.data(), next, a.size() - 1, &next, &v), 1);
  EXPECT_EQ(v, 1u);
  EXPECT_EQ(next, a.size() - 1);
  EXPECT_EQ(zk::defHexNumber(a.data(), next, a.size() - 1, &next, &v), 0);
  // A run of 100 digits keeps its value modulo 2^32: its last eight digits.
  std::string run(92, 'f');
  run += "1234abcd";
  std::vector<std::uint32_t> b = cps(run);
  ASSERT_EQ(zk::defHexNumber(b.data(), 0, b.size(), &next, &v), 1);
  EXPECT_EQ(v, 0x1234ABCDu);
  EXPECT_EQ(next, 100u);
}

TEST_F(Reader, EntityReferencesAndDeclarations) {
  Doc d;
  openText(d,
           "<!DOCTYPE x [<!ENTITY longname SYSTEM \"long.xml\"><!ENTITY name SYSTEM \"short.xml\">"
           "<!ENTITY bad SYSTEM noquote><!ENTITY open SYSTEM \"unterminated>]>"
           "<a>& name;</a><b>&name ;</b><c>& x</c><d>&longname;</d>");
  auto refIn = [&](const char* el) -> std::string {
    d.doc.cursor = 0;
    std::uint32_t s, e;
    EXPECT_EQ(zk::defFindElement(&d.doc, el, &s, &e), 1);
    char* r = zk::defEntityRef(&d.doc, s, e);
    std::string out = r ? r : "<none>";
    std::free(r);
    return out;
  };
  EXPECT_EQ(refIn("a"), "name");
  EXPECT_EQ(refIn("b"), "name ");  // spaces before the semicolon belong to the name
  EXPECT_EQ(refIn("c"), "<none>");
  auto fileOf = [&](const char* ent) -> std::string {
    d.doc.cursor = 12;
    char* f = zk::defEntityFile(&d.doc, ent);
    EXPECT_EQ(d.doc.cursor, 12u);
    std::string out = f ? f : "<none>";
    std::free(f);
    return out;
  };
  // "name" is the tail of the earlier "longname": the first match followed by
  // a space wins.
  EXPECT_EQ(fileOf("name"), "long.xml");
  EXPECT_EQ(fileOf("longname"), "long.xml");
  EXPECT_EQ(fileOf("bad"), "<none>");
  EXPECT_EQ(fileOf("open"), "<none>");
  EXPECT_EQ(fileOf("missing"), "<none>");
  EXPECT_EQ(fileOf(""), "<none>");
}

TEST_F(Reader, BindTableRecordsNameAndEncodingOfDeclaringDocument) {
  Doc decl, ref;
  dir.write("decl.xml", "<?xml encoding=\"ISO-10646-UCS-2\"?><!ENTITY t SYSTEM \"Tab.TXT\">",
            Enc::Ucs2BE, true);
  open(decl, "decl.xml");
  ASSERT_EQ(decl.opened, 1);
  dir.write("ref.xml", "<srtable>&t;</srtable><x>&u;</x>", Enc::Ucs2BE);
  open(ref, "ref.xml", decl.doc.encoding, decl.doc.bigEndian);
  ASSERT_EQ(ref.opened, 1);
  zk::CodeTable* t1 = zk::ctableCreate(4, 1);
  zk::CodeTable* t2 = zk::ctableCreate(2, 0);
  EXPECT_EQ(zk::defBindTable(&decl.doc, &ref.doc, 0, 12 * 4, t1, t2), 1);
  for (zk::CodeTable* t : {t1, t2}) {
    EXPECT_STREQ(t->sourceName, "Tab.TXT");
    EXPECT_EQ(t->sourceEncoding, zk::kTextUcs2);
    EXPECT_EQ(t->sourceBigEndian, 1u);
  }
  EXPECT_EQ(zk::defBindTable(&decl.doc, &ref.doc, 22 * 4, 32 * 4, t1, nullptr), 0);
  EXPECT_EQ(zk::defBindTable(&decl.doc, nullptr, 0, 12 * 4, t1, nullptr), 0);
  zk::ctableDestroy(t1);
  zk::ctableDestroy(t2);
}

TEST(SplitPath, PartsConcatenateToThePath) {
  struct Case {
    const char* path;
    const char* parts[4];
  } cases[] = {
      {"C:\\dir\\sub/File.Name.TXT", {"C:", "\\dir\\sub/", "File.Name", ".TXT"}},
      {"\\\\server\\share\\x", {"\\\\server", "\\share\\", "x", ""}},
      {"//srv", {"//srv", "", "", ""}},
      {"/abs/table", {"/", "abs/", "table", ""}},
      {"rel.d/name", {"", "rel.d/", "name", ""}},
      {".hidden", {"", "", "", ".hidden"}},
      {"", {"", "", "", ""}},
  };
  for (const Case& c : cases) {
    char out[4][260];
    std::memset(out, 'z', sizeof out);
    zk::splitPath(c.path, out[0], out[1], out[2], out[3]);
    std::string joined;
    for (int k = 0; k < 4; ++k) {
      EXPECT_STREQ(out[k], c.parts[k]) << c.path << " part " << k;
      joined += out[k];
    }
    EXPECT_EQ(joined, c.path);
  }
}

}  // namespace
