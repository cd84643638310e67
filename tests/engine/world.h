// The charset directory of the engine and driver tests, written as files and
// loaded by the library: the Shift_JIS family, the OASYS encodings, an
// EUC-like table-driven encoding (Roman, kanji as JIS | 0x8080, a user-defined
// area, two extra tables), a four-byte identity encoding to look at Unicode
// values directly, and small rules for single behaviours. The JIS X 0208 table
// comes from the C library's iconv (EUC-JP), a converter independent of this one.
#ifndef ZK_TEST_ENGINE_WORLD_H
#define ZK_TEST_ENGINE_WORLD_H

#include <cctype>
#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "frame/registry.h"
#include "frame/state.h"
#include "support/convert.h"
#include "support/testdir.h"

namespace zktest {

using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

inline std::string tableText(const Pairs& pairs, std::uint32_t codeOr = 0) {
  std::string s;
  char line[32];
  for (const auto& [code, ucs] : pairs)
    s += (std::snprintf(line, sizeof line, "%X %X\n", code | codeOr, ucs), line);
  return s;
}

struct World {
  TestDir dir;
  std::set<std::string> tabled;  // sets with a table file

  void set(const std::string& stem, const std::string& name, int bytenum,
           const std::string& table = "") {
    dir.write(stem + ".def", subsetA(name, bytenum, table.empty() ? "" : "t_" + stem));
    if (!table.empty()) dir.write(stem + ".txt", table), tabled.insert(stem);
  }
  // A user-defined area of two-byte codes.
  void area(const std::string& stem, const std::string& name, const std::string& start,
            const std::string& n) {
    dir.write(stem + ".def", "<name>" + name + "</name><codec bytenum=\"2\"><defrange start=\"" +
                                 start + "\" number=\"" + n + "\"/></codec>");
  }
  // A rule over the base sets `sets` ("!stem": a user-defined area), then `more`.
  void rule(const std::string& name, const std::string& fns, const std::string& sets,
            const std::string& more = "",
            std::vector<std::pair<std::string, std::string>> ents = {}) {
    std::string body, file = name;
    std::istringstream words(sets);
    for (std::string s; words >> s;) {
      const std::string tag = s[0] == '!' ? "eudcset" : "baseset";
      if (s[0] == '!') s.erase(0, 1);
      ents.push_back({"s_" + s, s + ".def"});
      if (tabled.count(s)) ents.push_back({"t_" + s, s + ".txt"});
      body += "<" + tag + ">&s_" + s + ";</" + tag + ">";
    }
    for (char& c : file) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    dir.write(file + ".xml", ruleFile(name, "const" + fns, "dest" + fns, ents, body + more));
  }

  World() {
    // Roman: printable ASCII and TAB, LF, CR; other controls stay unmapped.
    Pairs ascii{{0x09, 0x09}, {0x0A, 0x0A}, {0x0D, 0x0D}}, halfKana, kanji;
    for (std::uint32_t c = 0x20; c <= 0x7E; ++c) ascii.push_back({c, c});
    for (std::uint32_t c = 0xA1; c <= 0xDF; ++c) halfKana.push_back({c, 0xFF61 + (c - 0xA1)});
    for (std::uint32_t row = 0x21; row <= 0x74; ++row)
      for (std::uint32_t cell = 0x21; cell <= 0x7E; ++cell) {
        const Bytes u =
            peer("UCS-4BE", "EUC-JP", {std::uint8_t(row | 0x80), std::uint8_t(cell | 0x80)});
        if (u.size() == 4) kanji.push_back({(row << 8) | cell, (u[1] << 16) | (u[2] << 8) | u[3]});
      }
    set("latin", "JIS_X0201LATIN", 1, tableText(ascii));
    set("kana", "jis_x0201kana", 1, tableText(halfKana));
    set("x0208", "jis_x0208-1990", 2, tableText(kanji));
    set("nec", "nec_extset", 2, "2D21 2460\n2D22 2461\n2D62 2116\n");
    // Codes of an area run on linearly: 0x7F21 + 0x15D is 0x807E, the last
    // cell of row 0x80 (bytes F0 FC).
    area("w31usr", "windows31j-usr", "7F21", "15E");
    // A few JIS X 0213 codes: plane 1 kana, the pair row, plane 2. Four bytes
    // per code, so that its table keeps the plane bit.
    set("x0213", "jis_x0213", 4,
        "2422 3042\n2421 3041\n242B 304B\n222E 3013\n2B5C 300\n12121 20089\n17E7E 2A6B2\n");
    set("ucs4", "ucs4-identity", 4);
    set("c6226", "jis_c6226-1978", 2, "2422 3042\n3021 4E9C\n");
    set("oext", "oasys_extset", 2, "24A2 E0A2\n");
    set("eucj", "euct-kanji", 2, tableText(kanji, 0x8080));
    area("eucusr", "euct-usr", "F5A1", "A");
    // FULLWIDTH HYPHEN-MINUS also goes to the minus sign's code; U+1F600
    // becomes two units of the kanji set.
    dir.write("eucds2.txt", "A1DD FF0D\n");
    dir.write("eucds4.txt", "A1A9A1AA 1F600\n");
    // A set that maps "A" only, a two-byte identity set, and a two-byte set
    // that lacks most codes.
    set("letters", "letters-only", 1, "41 41\n");
    set("ident2", "ident-2", 2);
    set("empty2", "empty-2", 2, "2121 3000\n");
    rule("Shift_JIS", "Shift_JIS", "latin kana x0208");
    rule("WINDOWS31J", "WINDOWS31J", "latin kana x0208 nec !w31usr");
    rule("Shift_JIS-2004", "Shift_JIS-2004", "latin kana x0213");
    rule("OASYS_WIN", "OASYS_WIN", "latin kana x0208 !w31usr");
    rule("OASYS_ONLINE", "OASYS_ONLINE", "latin kana c6226 oext");
    rule("UCS4T", "SAME", "ucs4");
    rule("EUCT", "SAME", "latin",
         "<baseset>&s_eucj;<dstable bytenum=\"2\">&ds2;</dstable><dstable "
         "bytenum=\"4\">&ds4;</dstable>"
         "</baseset><eudcset>&s_eucusr;</eudcset>",
         {{"s_eucj", "eucj.def"},
          {"t_eucj", "eucj.txt"},
          {"s_eucusr", "eucusr.def"},
          {"ds2", "eucds2.txt"},
          {"ds4", "eucds4.txt"}});
    rule("LETTERS", "SAME", "letters");
    rule("ID2", "SAME", "ident2");
    rule("KANJIONLY", "SAME", "eucj ucs4");
    rule("TWOSETS", "SAME", "empty2 x0208");
    rule("BROKEN", "NOWHERE", "latin");  // rule functions that do not exist
    rule("NOSETS", "SAME", "");
    rule("U8T", "UTF-8", "ucs4");
    EXPECT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1);
    EXPECT_EQ(cconvLoadRule(), 1);
  }

  static zk::CharsetDef* find(std::string name) {
    return zk::stateCharsetById(zk::registryCharsetId(name.data()));
  }
};

// Big-endian options, as a host of double-byte legacy encodings and of the
// four-byte identity encoding sets them.
inline const CconvSrcOptions kBigIn{1, 0, 0}, kBigSkip{1, 0, 1};
inline const CconvDstOptions kBigOut{1, 0, 0, 0, {}, 0, 0, 0};

// Bytes written as hex words: "82A0 41" is three bytes; in the four-byte
// UCS4T each word is a code point.
inline Bytes bytesOf(const std::string& charset, const std::string& text) {
  Bytes b;
  std::istringstream words(text);
  for (std::string w; words >> w;) {
    const std::uint32_t v = std::stoul(w, nullptr, 16);
    for (int i = charset == "UCS4T" ? 3 : int(w.size() / 2) - 1; i >= 0; --i)
      b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  }
  return b;
}

// One conversion and what its host sees: the bytes, the status and the input
// offset where it stopped (pos < 0: the whole input).
struct Case {
  const char *to, *from;
  std::string in, out;  // as bytesOf() reads them
  std::uint32_t status = CCONV_OK;
  std::int64_t pos = -1;
};

inline void expectCases(const std::vector<Case>& cases, const CconvSrcOptions* src = &kBigIn,
                        const CconvDstOptions* dst = &kBigOut) {
  for (const Case& c : cases) {
    const Bytes in = bytesOf(c.from, c.in);
    SCOPED_TRACE(std::string(c.from) + " -> " + c.to + ": " + c.in);
    const ConvertResult r = convert(c.to, c.from, in, src, dst);
    EXPECT_EQ(hex(r.out), hex(bytesOf(c.to, c.out)));
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.inPos, c.pos < 0 ? static_cast<std::int64_t>(in.size()) : c.pos);
  }
}

}  // namespace zktest

#endif
