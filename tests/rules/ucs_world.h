// Definitions for the Unicode rule tests, put in place by hand: the four
// Unicode encodings over two sets that take every scalar value except the tag
// block U+E0000..U+E007F (so that tags are read as tags), rules whose one set
// takes every value, and Windows-31J over small JIS tables.
#ifndef ZK_TEST_UCS_WORLD_H
#define ZK_TEST_UCS_WORLD_H

#include <cstdio>
#include <string>
#include <vector>

#include "frame/registry.h"
#include "rules/jis_world.h"
#include "tables/codetable.h"

namespace zktest {

// Kanji, hiragana, katakana, halfwidth katakana, ASCII, CR LF.
inline const std::string kSampleText =
    "吾輩は猫である。名前はまだ無い。ｶﾀｶﾅとカタカナ、ABC-123 漢字「試験」\r\n";

// Fills both tables of `set` with the identity over [first, last].
inline void identityRange(zk::CharsetDef* set, std::uint32_t first, std::uint32_t last) {
  for (std::uint32_t v = first; v <= last; ++v) {
    zk::ctableSet(set->toUcs, v, v);
    zk::ctableSet(set->toCode, v, v);
  }
  set->toUcs->loaded.store(1, std::memory_order_release);
  set->toCode->loaded.store(1, std::memory_order_release);
}

struct UcsWorld {
  TestDir dir;

  // userArea: a set of type 3 at the front of every Unicode rule, with codes
  // 0xF040..0xF13F standing for U+E000..U+E0FF.
  // w31jFiles: Windows31J comes from definition files in the directory
  // (A and U+3042 only), its tables left for first use.
  explicit UcsWorld(bool userArea = false, bool w31jFiles = false) {
    if (w31jFiles) writeWindows31j();
    injectStart(dir.path());
    std::vector<zk::CharsetDef*> sets;
    if (userArea) sets.push_back(injectUserArea("test-usr", 2, 0xF040, 0x100));
    zk::CharsetDef* bmp = injectSet("test-ucs-bmp", 2, {});
    identityRange(bmp, 0, 0xFFFF);
    zk::CharsetDef* sup = injectSet("test-ucs-sup", 4, {});
    identityRange(sup, 0x10000, 0xDFFFF);
    identityRange(sup, 0xE0080, 0x10FFFF);
    sets.push_back(bmp);
    injectRule("ISO-10646-UCS-2", "constISO-10646-UCS-2", "destISO-10646-UCS-2", sets);
    sets.push_back(sup);
    injectRule("UTF-8", "constUTF-8", "destUTF-8", sets);
    injectRule("UTF-16", "constUTF-16", "destUTF-16", sets);
    injectRule("ISO-10646-UCS-4", "constISO-10646-UCS-4", "destISO-10646-UCS-4", sets);
    // Rules whose one set takes every value (no tables).
    zk::CharsetDef* any = injectSet("test-any", 4, {}, false);
    injectRule("UTF8-ANY", "constUTF-8", "destUTF-8", {any});
    injectRule("UCS4-ANY", "constISO-10646-UCS-4", "destISO-10646-UCS-4", {any});
    injectRule("UCS2-ANY", "constISO-10646-UCS-2", "destISO-10646-UCS-2",
               {injectSet("test-any2", 2, {}, false)});
    if (!w31jFiles) {
      zk::CharsetDef* latin = injectSet("jis_x0201latin", 1, {});
      identityRange(latin, 0, 0x7F);
      injectRule("Windows31J", "constWINDOWS31J", "destWINDOWS31J",
                 {latin, injectSet("jis_x0208-1990", 2, {{0x2422, 0x3042}})});
    }
    injectDone();
  }

  void writeWindows31j() const {
    dir.write("w31j-roman.txt", "41 0041\r\n", Enc::Utf16LE, true);
    dir.write("w31j-jis.txt", "2422 3042\r\n", Enc::Utf16LE, true);
    dir.write("w31j-roman.def", subsetA("w31j-roman", 1, "tab_roman"), Enc::Utf16LE, true);
    dir.write("w31j-jis.def", subsetA("w31j-jis", 2, "tab_jis"), Enc::Utf16LE, true);
    dir.write("windows31j.xml",
              ruleFile("Windows31J", "constWINDOWS31J", "destWINDOWS31J",
                       {{"set_roman", "w31j-roman.def"},
                        {"tab_roman", "w31j-roman.txt"},
                        {"set_jis", "w31j-jis.def"},
                        {"tab_jis", "w31j-jis.txt"}},
                       "<baseset>&set_roman;</baseset>\n<baseset>&set_jis;</baseset>\n"),
              Enc::Utf16LE, true);
  }
};

// A record prepared through the exported calls, fed by hand.
struct Rec : Out {
  Bytes in;
  Rec(const char* target, const char* source, const CconvSrcOptions* src = nullptr,
      const CconvDstOptions* dst = nullptr) {
    EXPECT_EQ(cconvInitConvert(&rec, dst, target), CCONV_OK);
    EXPECT_EQ(cconvChgCharset(&rec, src, source), CCONV_OK);
    room(sizeof buf);
  }
  void input(const Bytes& b) {
    in = b;
    rec.inBuf = in.data();
    rec.inPos = 0;
    rec.inLen = static_cast<std::int32_t>(in.size());
  }
  // One dest call as the driver makes it.
  std::uint32_t step(RuleFunction fn) {
    clearForDecode(&rec);
    fn(&rec);
    return rec.status;
  }
};

// Big-endian units of `width` bytes.
inline Bytes units(std::initializer_list<std::uint32_t> values, int width) {
  Bytes b;
  for (std::uint32_t v : values)
    for (int i = width - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return b;
}

inline Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Converts to UCS-4 big-endian and returns the values as hex, "3042 41".
inline std::string decodeValues(const char* source, const Bytes& in, const CconvSrcOptions* src,
                                ConvertResult* res = nullptr) {
  const CconvDstOptions be = dstOpts(1);
  const ConvertResult r = convert("ISO-10646-UCS-4", source, in, src, &be);
  if (res) *res = r;
  std::string s;
  char buf[12];
  for (std::size_t i = 0; i + 3 < r.out.size(); i += 4) {
    const unsigned v =
        unsigned{r.out[i]} << 24 | r.out[i + 1] << 16 | r.out[i + 2] << 8 | r.out[i + 3];
    std::snprintf(buf, sizeof buf, " %X", v);
    s += buf;
  }
  return s.empty() ? s : s.substr(1);
}

}  // namespace zktest

#endif
