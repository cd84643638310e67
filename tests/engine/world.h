// The charset directory of the engine and driver tests. The JIS X 0208
// table comes from the C library's iconv (EUC-JP), a converter independent
// of this one.
#ifndef ZK_TEST_ENGINE_WORLD_H
#define ZK_TEST_ENGINE_WORLD_H

#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "frame/registry.h"
#include "frame/state.h"
#include "support/convert.h"
#include "support/testdir.h"

namespace zktest {

using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;

// Converts `in` with iconv; empty when iconv refuses it.
inline Bytes peer(const char* to, const char* from, const Bytes& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  Bytes out(in.size() * 8 + 16);
  char* ip = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
  std::size_t il = in.size();
  char* op = reinterpret_cast<char*>(out.data());
  std::size_t ol = out.size();
  std::size_t rc = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1) || il != 0) return {};
  out.resize(out.size() - ol);
  return out;
}

inline std::uint32_t be32(const Bytes& b, std::size_t at = 0) {
  return (std::uint32_t{b[at]} << 24) | (b[at + 1] << 16) | (b[at + 2] << 8) | b[at + 3];
}

// JIS X 0208 code -> Unicode for every code iconv's EUC-JP knows.
inline Pairs jis0208FromPeer() {
  Pairs pairs;
  for (std::uint32_t row = 0x21; row <= 0x74; ++row) {
    for (std::uint32_t cell = 0x21; cell <= 0x7E; ++cell) {
      Bytes u = peer("UCS-4BE", "EUC-JP",
                     {static_cast<std::uint8_t>(row | 0x80), static_cast<std::uint8_t>(cell | 0x80)});
      if (u.size() == 4) pairs.push_back({(row << 8) | cell, be32(u)});
    }
  }
  return pairs;
}

inline std::string tableText(const Pairs& pairs, std::uint32_t codeOr = 0) {
  std::string s;
  char line[32];
  for (const auto& [code, ucs] : pairs) {
    std::snprintf(line, sizeof line, "%X %X\n", code | codeOr, ucs);
    s += line;
  }
  return s;
}

inline std::string codecSet(const std::string& name, const std::string& start,
                            const std::string& number) {
  return "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<name>" + name +
         "</name>\n<codec bytenum=\"2\"><defrange start=\"" + start + "\" number=\"" + number +
         "\"/></codec>\n";
}

// The charset directory of the engine tests, written as files and loaded by
// the library: the Shift_JIS family, the OASYS encodings, an EUC-like
// table-driven encoding (Roman, kanji as JIS | 0x8080, a user-defined area,
// two extra tables) and a four-byte identity encoding to look at Unicode
// values directly. The sets are looked up afterwards for tests that build
// records by hand.
struct World {
  TestDir dir;
  zk::CharsetDef* latin = nullptr;
  zk::CharsetDef* kana = nullptr;
  zk::CharsetDef* jis0208 = nullptr;
  zk::CharsetDef* nec = nullptr;
  zk::CharsetDef* winUsr = nullptr;
  zk::CharsetDef* jis0213 = nullptr;
  zk::CharsetDef* ucs4 = nullptr;
  zk::CharsetDef* c6226 = nullptr;
  zk::CharsetDef* oasysExt = nullptr;
  zk::CharsetDef* eucKanji = nullptr;
  zk::CharsetDef* eucUsr = nullptr;

  World() {
    // Roman: printable ASCII and TAB, LF, CR; other controls stay unmapped.
    Pairs ascii{{0x09, 0x09}, {0x0A, 0x0A}, {0x0D, 0x0D}};
    for (std::uint32_t c = 0x20; c <= 0x7E; ++c) ascii.push_back({c, c});
    Pairs halfKana;
    for (std::uint32_t c = 0xA1; c <= 0xDF; ++c) halfKana.push_back({c, 0xFF61 + (c - 0xA1)});
    const Pairs kanji = jis0208FromPeer();

    dir.write("latin.def", subsetA("JIS_X0201LATIN", 1, "t_latin"));
    dir.write("latin.txt", tableText(ascii));
    dir.write("kana.def", subsetA("jis_x0201kana", 1, "t_kana"));
    dir.write("kana.txt", tableText(halfKana));
    dir.write("jis0208.def", subsetA("jis_x0208-1990", 2, "t_0208"));
    dir.write("jis0208.txt", tableText(kanji));
    dir.write("nec.def", subsetA("nec_extset", 2, "t_nec"));
    dir.write("nec.txt", "2D21 2460\n2D22 2461\n2D62 2116\n");
    // Codes of an area run on linearly: 0x7F21 + 0x15D is 0x807E, the last
    // cell of row 0x80 (bytes F0 FC).
    dir.write("w31usr.def", codecSet("windows31j-usr", "7F21", "15E"));
    // A few JIS X 0213 codes: plane 1 kana, the pair row, plane 2. Four
    // bytes per code, so that its table keeps the plane bit.
    dir.write("jis0213.def", subsetA("jis_x0213", 4, "t_0213"));
    dir.write("jis0213.txt",
              "2422 3042\n2421 3041\n242B 304B\n222E 3013\n2B5C 300\n12121 20089\n17E7E 2A6B2\n");
    dir.write("ucs4.def", subsetA("ucs4-identity", 4, ""));
    dir.write("c6226.def", subsetA("jis_c6226-1978", 2, "t_c6226"));
    dir.write("c6226.txt", "2422 3042\n3021 4E9C\n");
    dir.write("oasysext.def", subsetA("oasys_extset", 2, "t_oext"));
    dir.write("oasysext.txt", "24A2 E0A2\n");
    dir.write("eucj.def", subsetA("euct-kanji", 2, "t_eucj"));
    dir.write("eucj.txt", tableText(kanji, 0x8080));
    dir.write("eucusr.def", codecSet("euct-usr", "F5A1", "A"));
    // FULLWIDTH HYPHEN-MINUS also goes to the minus sign's code; U+1F600
    // becomes two units of the kanji set.
    dir.write("eucds2.txt", "A1DD FF0D\n");
    dir.write("eucds4.txt", "A1A9A1AA 1F600\n");

    using Ents = std::vector<std::pair<std::string, std::string>>;
    const Ents roman{{"s_latin", "latin.def"}, {"t_latin", "latin.txt"}};
    const Ents halfwidth{{"s_kana", "kana.def"}, {"t_kana", "kana.txt"}};
    const Ents x0208{{"s_0208", "jis0208.def"}, {"t_0208", "jis0208.txt"}};
    auto join = [](std::initializer_list<Ents> parts) {
      Ents all;
      for (const Ents& p : parts) all.insert(all.end(), p.begin(), p.end());
      return all;
    };
    const std::string base = "<baseset>&s_latin;</baseset><baseset>&s_kana;</baseset>"
                             "<baseset>&s_0208;</baseset>";
    dir.write("sjis.xml", ruleFile("Shift_JIS", "constShift_JIS", "destShift_JIS",
                                   join({roman, halfwidth, x0208}), base));
    dir.write("cp932.xml",
              ruleFile("WINDOWS31J", "constWINDOWS31J", "destWINDOWS31J",
                       join({roman, halfwidth, x0208,
                             {{"s_nec", "nec.def"}, {"t_nec", "nec.txt"}, {"s_usr", "w31usr.def"}}}),
                       base + "<baseset>&s_nec;</baseset><eudcset>&s_usr;</eudcset>"));
    dir.write("sjis2004.xml",
              ruleFile("Shift_JIS-2004", "constShift_JIS-2004", "destShift_JIS-2004",
                       join({roman, halfwidth, {{"s_0213", "jis0213.def"}, {"t_0213", "jis0213.txt"}}}),
                       "<baseset>&s_latin;</baseset><baseset>&s_kana;</baseset>"
                       "<baseset>&s_0213;</baseset>"));
    dir.write("oasyswin.xml",
              ruleFile("OASYS_WIN", "constOASYS_WIN", "destOASYS_WIN",
                       join({roman, halfwidth, x0208, {{"s_usr", "w31usr.def"}}}),
                       base + "<eudcset>&s_usr;</eudcset>"));
    dir.write("oasysonline.xml",
              ruleFile("OASYS_ONLINE", "constOASYS_ONLINE", "destOASYS_ONLINE",
                       join({roman, halfwidth,
                             {{"s_c6226", "c6226.def"}, {"t_c6226", "c6226.txt"},
                              {"s_oext", "oasysext.def"}, {"t_oext", "oasysext.txt"}}}),
                       "<baseset>&s_latin;</baseset><baseset>&s_kana;</baseset>"
                       "<baseset>&s_c6226;</baseset><baseset>&s_oext;</baseset>"));
    dir.write("ucs4t.xml", ruleFile("UCS4T", "constSAME", "destSAME", {{"s_ucs4", "ucs4.def"}},
                                    "<baseset>&s_ucs4;</baseset>"));
    const Ents euc{{"s_eucj", "eucj.def"}, {"t_eucj", "eucj.txt"}, {"s_usr", "eucusr.def"},
                   {"ds2", "eucds2.txt"}, {"ds4", "eucds4.txt"}};
    dir.write("euct.xml", ruleFile("EUCT", "constSAME", "destSAME", join({roman, euc}),
                                   "<baseset>&s_latin;</baseset>"
                                   "<baseset>&s_eucj;<dstable bytenum=\"2\">&ds2;</dstable>"
                                   "<dstable bytenum=\"4\">&ds4;</dstable></baseset>"
                                   "<eudcset>&s_usr;</eudcset>"));
    // Shift_JIS writing through a set whose codes are not JIS codes.
    dir.write("sjisx.xml", ruleFile("SJISX", "constShift_JIS", "destShift_JIS",
                                    join({roman, {{"s_eucj", "eucj.def"}, {"t_eucj", "eucj.txt"}}}),
                                    "<baseset>&s_latin;</baseset><baseset>&s_eucj;</baseset>"));
    // Small rules for single behaviours: a target without the GETA MARK, one
    // with narrow characters only, one without any replacement character, a
    // set that maps "A" only, a two-byte identity set, a rule without a
    // Roman set, and two two-byte sets of which the first lacks most codes.
    dir.write("nogeta.def", subsetA("no-geta", 2, "t_nogeta"));
    dir.write("nogeta.txt", "2161 FF1D\n2422 3042\n");
    dir.write("nogeta.xml", ruleFile("NOGETA", "constShift_JIS", "destShift_JIS",
                                     join({roman, {{"s_ng", "nogeta.def"}, {"t_nogeta", "nogeta.txt"}}}),
                                     "<baseset>&s_latin;</baseset><baseset>&s_ng;</baseset>"));
    dir.write("narrow.xml", ruleFile("NARROW", "constSAME", "destSAME", roman,
                                     "<baseset>&s_latin;</baseset>"));
    dir.write("nothing.xml", ruleFile("NOTHING", "constSAME", "destSAME", halfwidth,
                                      "<baseset>&s_kana;</baseset>"));
    dir.write("letters.def", subsetA("letters-only", 1, "t_letters"));
    dir.write("letters.txt", "41 41\n");
    dir.write("letters.xml", ruleFile("LETTERS", "constSAME", "destSAME",
                                      {{"s_l", "letters.def"}, {"t_letters", "letters.txt"}},
                                      "<baseset>&s_l;</baseset>"));
    dir.write("ident2.def", subsetA("ident-2", 2, ""));
    dir.write("id2.xml", ruleFile("ID2", "constSAME", "destSAME", {{"s_i", "ident2.def"}},
                                  "<baseset>&s_i;</baseset>"));
    dir.write("kanjionly.xml",
              ruleFile("KANJIONLY", "constSAME", "destSAME",
                       {{"s_eucj", "eucj.def"}, {"t_eucj", "eucj.txt"}, {"s_ucs4", "ucs4.def"}},
                       "<baseset>&s_eucj;</baseset><baseset>&s_ucs4;</baseset>"));
    dir.write("empty2.def", subsetA("empty-2", 2, "t_empty"));
    dir.write("empty2.txt", "2121 3000\n");
    dir.write("twosets.xml", ruleFile("TWOSETS", "constSAME", "destSAME",
                                      join({{{"s_e", "empty2.def"}, {"t_empty", "empty2.txt"}}, x0208}),
                                      "<baseset>&s_e;</baseset><baseset>&s_0208;</baseset>"));
    // Rule functions that do not exist.
    dir.write("broken.xml", ruleFile("BROKEN", "constNOWHERE", "destNOWHERE", roman,
                                     "<baseset>&s_latin;</baseset>"));

    EXPECT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1);
    EXPECT_EQ(cconvLoadRule(), 1);
    latin = set("jis_x0201latin");
    kana = set("jis_x0201kana");
    jis0208 = set("jis_x0208-1990");
    nec = set("nec_extset");
    winUsr = set("windows31j-usr");
    jis0213 = set("jis_x0213");
    ucs4 = set("ucs4-identity");
    c6226 = set("jis_c6226-1978");
    oasysExt = set("oasys_extset");
    eucKanji = set("euct-kanji");
    eucUsr = set("euct-usr");
  }

  static zk::CharsetDef* set(std::string name) {
    zk::CharsetDef* s = zk::stateCharsetById(zk::registryCharsetId(name.data()));
    EXPECT_NE(s, nullptr) << name;
    return s;
  }
};

// Big-endian source and target options, as a host of double-byte legacy
// encodings and of the four-byte identity encoding sets them.
inline CconvSrcOptions srcBig(bool skip = false) {
  CconvSrcOptions o{};
  o.inBigEndian = 1;
  o.skipInvalid = skip ? 1 : 0;
  return o;
}

inline CconvDstOptions dstBig() {
  CconvDstOptions o{};
  o.outBigEndian = 1;
  return o;
}

inline Bytes ucs4(const std::vector<std::uint32_t>& cps) {
  Bytes b;
  for (std::uint32_t c : cps) {
    b.push_back(static_cast<std::uint8_t>(c >> 24));
    b.push_back(static_cast<std::uint8_t>(c >> 16));
    b.push_back(static_cast<std::uint8_t>(c >> 8));
    b.push_back(static_cast<std::uint8_t>(c));
  }
  return b;
}

}  // namespace zktest

#endif
