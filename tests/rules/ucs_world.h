// Definitions for the Unicode rule tests, put in place by hand: the four
// Unicode encodings over two sets that take every scalar value except the tag
// block U+E0000..U+E007F (so that tags are read as tags), and Shift_JIS and
// Windows-31J over JIS tables that cover the sample text. The JIS codes and
// the Shift_JIS bytes of the sample come from Python's codecs.
#ifndef ZK_TEST_UCS_WORLD_H
#define ZK_TEST_UCS_WORLD_H

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "frame/registry.h"
#include "support/convert.h"
#include "support/testdir.h"
#include "tables/codetable.h"

namespace zktest {

// A Japanese sample: kanji, hiragana, katakana, halfwidth katakana, ASCII, CR LF.
inline const char* const kSampleText =
    "\xE5\x90\xBE\xE8\xBC\xA9\xE3\x81\xAF\xE7\x8C\xAB\xE3\x81\xA7\xE3\x81\x82\xE3\x82\x8B\xE3\x80"
    "\x82\xE5\x90\x8D\xE5\x89\x8D\xE3\x81\xAF\xE3\x81\xBE\xE3\x81\xA0\xE7\x84\xA1\xE3\x81\x84\xE3"
    "\x80\x82\xE3\x81\xA9\xE3\x81\x93\xE3\x81\xA7\xE7\x94\x9F\xE3\x82\x8C\xE3\x81\x9F\xE3\x81\x8B"
    "\xE3\x81\xA8\xE3\x82\x93\xE3\x81\xA8\xE8\xA6\x8B\xE5\xBD\x93\xE3\x81\x8C\xE3\x81\xA4\xE3\x81"
    "\x8B\xE3\x81\xAC\xE3\x80\x82\xEF\xBD\xB6\xEF\xBE\x80\xEF\xBD\xB6\xEF\xBE\x85\xE3\x81\xA8\xE3"
    "\x82\xAB\xE3\x82\xBF\xE3\x82\xAB\xE3\x83\x8A\xE3\x80\x81\x41\x42\x43\x2D\x31\x32\x33\x20\xE6"
    "\xBC\xA2\xE5\xAD\x97\xE3\x80\x8C\xE8\xA9\xA6\xE9\xA8\x93\xE3\x80\x8D\x0D\x0A";

// The sample as Python's "shift_jis" codec writes it.
inline const Bytes kSampleSjis = {
    0x8C, 0xE1, 0x94, 0x79, 0x82, 0xCD, 0x94, 0x4C, 0x82, 0xC5, 0x82, 0xA0, 0x82, 0xE9, 0x81,
    0x42, 0x96, 0xBC, 0x91, 0x4F, 0x82, 0xCD, 0x82, 0xDC, 0x82, 0xBE, 0x96, 0xB3, 0x82, 0xA2,
    0x81, 0x42, 0x82, 0xC7, 0x82, 0xB1, 0x82, 0xC5, 0x90, 0xB6, 0x82, 0xEA, 0x82, 0xBD, 0x82,
    0xA9, 0x82, 0xC6, 0x82, 0xF1, 0x82, 0xC6, 0x8C, 0xA9, 0x93, 0x96, 0x82, 0xAA, 0x82, 0xC2,
    0x82, 0xA9, 0x82, 0xCA, 0x81, 0x42, 0xB6, 0xC0, 0xB6, 0xC5, 0x82, 0xC6, 0x83, 0x4A, 0x83,
    0x5E, 0x83, 0x4A, 0x83, 0x69, 0x81, 0x41, 0x41, 0x42, 0x43, 0x2D, 0x31, 0x32, 0x33, 0x20,
    0x8A, 0xBF, 0x8E, 0x9A, 0x81, 0x75, 0x8E, 0x8E, 0x8C, 0xB1, 0x81, 0x76, 0x0D, 0x0A};

// The sample's UTF-16LE bytes as Python's "utf-16-le" codec writes them.
inline const char* const kSampleUtf16LeHex =
    "3e54298f6f302b73673042308b3002300d544d526f307e3060302171443002306930533067301f758c305f304b30"
    "6830933068308b89535f4c3064304b306c30023076ff80ff76ff85ff6830ab30bf30ab30ca300130410042004300"
    "2d003100320033002000226f575b0c30668a139a0d300d000a00";

inline Bytes fromHex(const std::string& hexText) {
  Bytes b;
  for (std::size_t i = 0; i + 1 < hexText.size(); i += 2)
    b.push_back(static_cast<std::uint8_t>(std::stoul(hexText.substr(i, 2), nullptr, 16)));
  return b;
}

inline Bytes utf8Of(const std::string& s) { return Bytes(s.begin(), s.end()); }

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
  zk::RuleDef* utf8 = nullptr;
  zk::RuleDef* utf16 = nullptr;
  zk::RuleDef* ucs4 = nullptr;
  zk::RuleDef* ucs2 = nullptr;
  zk::CharsetDef* bmp = nullptr;
  zk::CharsetDef* sup = nullptr;

  // userArea: a set of type 3 at the front of every Unicode rule, with codes
  // 0xF040.. 0xF13F standing for U+E000..U+E0FF.
  // w31jFiles: Windows31J comes from definition files in the directory
  // (ASCII letters and U+3042 only), its tables left for first use.
  explicit UcsWorld(bool userArea = false, bool w31jFiles = false) {
    if (w31jFiles) writeWindows31j();
    injectStart(dir.path());
    std::vector<zk::CharsetDef*> front;
    if (userArea) front.push_back(injectUserArea("test-usr", 2, 0xF040, 0x100));
    bmp = injectSet("test-ucs-bmp", 2, {});
    identityRange(bmp, 0, 0xFFFF);
    sup = injectSet("test-ucs-sup", 4, {});
    identityRange(sup, 0x10000, 0xDFFFF);
    identityRange(sup, 0xE0080, 0x10FFFF);
    std::vector<zk::CharsetDef*> both = front;
    both.push_back(bmp);
    both.push_back(sup);
    std::vector<zk::CharsetDef*> bmpOnly = front;
    bmpOnly.push_back(bmp);
    utf8 = injectRule("UTF-8", "constUTF-8", "destUTF-8", both);
    utf16 = injectRule("UTF-16", "constUTF-16", "destUTF-16", both);
    ucs4 = injectRule("ISO-10646-UCS-4", "constISO-10646-UCS-4", "destISO-10646-UCS-4", both);
    ucs2 = injectRule("ISO-10646-UCS-2", "constISO-10646-UCS-2", "destISO-10646-UCS-2", bmpOnly);

    zk::CharsetDef* latin = injectSet("jis_x0201latin", 1, {});
    identityRange(latin, 0, 0x7F);
    zk::CharsetDef* kana =
        injectSet("jis_x0201kana", 1, {{0xB6, 0xFF76}, {0xC0, 0xFF80}, {0xC5, 0xFF85}});
    zk::CharsetDef* x0208 = injectSet(
        "jis_x0208-1990", 2,
        {{0x3863, 0x543E}, {0x475A, 0x8F29}, {0x244F, 0x306F}, {0x472D, 0x732B}, {0x2447, 0x3067},
         {0x2422, 0x3042}, {0x246B, 0x308B}, {0x2123, 0x3002}, {0x4C3E, 0x540D}, {0x4130, 0x524D},
         {0x245E, 0x307E}, {0x2440, 0x3060}, {0x4C35, 0x7121}, {0x2424, 0x3044}, {0x2449, 0x3069},
         {0x2433, 0x3053}, {0x4038, 0x751F}, {0x246C, 0x308C}, {0x243F, 0x305F}, {0x242B, 0x304B},
         {0x2448, 0x3068}, {0x2473, 0x3093}, {0x382B, 0x898B}, {0x4576, 0x5F53}, {0x242C, 0x304C},
         {0x2444, 0x3064}, {0x244C, 0x306C}, {0x252B, 0x30AB}, {0x253F, 0x30BF}, {0x254A, 0x30CA},
         {0x2122, 0x3001}, {0x3441, 0x6F22}, {0x3B7A, 0x5B57}, {0x2156, 0x300C}, {0x3B6E, 0x8A66},
         {0x3833, 0x9A13}, {0x2157, 0x300D}, {0x222E, 0x3013}});
    // Rules whose one set takes every 32-bit value (no tables).
    zk::CharsetDef* any = injectSet("test-any", 4, {}, false);
    injectRule("UTF8-ANY", "constUTF-8", "destUTF-8", {any});
    injectRule("UCS4-ANY", "constISO-10646-UCS-4", "destISO-10646-UCS-4", {any});
    injectRule("UTF16-ANY", "constUTF-16", "destUTF-16", {any});
    injectRule("Shift_JIS", "constShift_JIS", "destShift_JIS", {latin, kana, x0208});
    if (!w31jFiles)
      injectRule("Windows31J", "constWINDOWS31J", "destWINDOWS31J", {latin, kana, x0208});
    zk::CharsetDef* any2 = injectSet("test-any2", 2, {}, false);
    injectRule("UCS2-ANY", "constISO-10646-UCS-2", "destISO-10646-UCS-2", {any2});
    injectDone();
  }

  void writeWindows31j() const {
    std::string letters;
    for (int c = 0x41; c <= 0x5A; ++c) {
      char line[32];
      std::snprintf(line, sizeof line, "%02X %04X\r\n", c, c);
      letters += line;
    }
    dir.write("w31j-roman.txt", letters, Enc::Utf16LE, true);
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
struct Rec {
  CconvRecord r;
  Bytes in;
  Bytes out;

  Rec(const char* target, const char* source, const CconvSrcOptions* src = nullptr,
      const CconvDstOptions* dst = nullptr) {
    std::memset(&r, 0, sizeof r);
    init = cconvInitConvert(&r, dst, target);
    chg = cconvChgCharset(&r, src, source);
  }
  void input(const Bytes& b) {
    in = b;
    r.inBuf = in.data();
    r.inPos = 0;
    r.inLen = static_cast<std::int32_t>(in.size());
  }
  void room(int n) {
    out.assign(static_cast<std::size_t>(n), 0xEE);
    r.outBuf = out.data();
    r.outPos = 0;
    r.outSize = n;
  }
  Bytes written() const { return Bytes(out.begin(), out.begin() + r.outPos); }

  std::uint32_t init = 0;
  std::uint32_t chg = 0;
};

// One dest call as the driver makes it.
inline std::uint32_t decodeStep(Rec& x, RuleFunction fn) {
  x.r.rawCode = x.r.code = x.r.ucs = x.r.outCode = x.r.ucs2 = 0;
  x.r.outUnit = x.r.outSeqLen = 0;
  x.r.status = CCONV_NEXT;
  fn(&x.r);
  return x.r.status;
}

// The values of UCS-4 big-endian bytes.
inline std::vector<std::uint32_t> ucs4Values(const Bytes& b) {
  std::vector<std::uint32_t> v;
  for (std::size_t i = 0; i + 3 < b.size(); i += 4)
    v.push_back(std::uint32_t{b[i]} << 24 | std::uint32_t{b[i + 1]} << 16 |
                std::uint32_t{b[i + 2]} << 8 | b[i + 3]);
  return v;
}

// Big-endian units of `width` bytes.
inline Bytes units(std::initializer_list<std::uint32_t> values, int width) {
  Bytes b;
  for (std::uint32_t v : values)
    for (int i = width - 1; i >= 0; --i) b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
  return b;
}

inline CconvSrcOptions srcOpts(std::uint32_t bigEndian, std::uint32_t detectBom = 0,
                               std::uint32_t skipInvalid = 0) {
  return CconvSrcOptions{bigEndian, detectBom, skipInvalid};
}

inline CconvDstOptions dstOpts(std::uint32_t bigEndian, std::uint32_t writeBom = 0,
                               const char* lang = "") {
  CconvDstOptions o;
  std::memset(&o, 0, sizeof o);
  o.outBigEndian = bigEndian;
  o.outWriteBom = writeBom;
  std::strncpy(o.lang, lang, sizeof o.lang - 1);
  return o;
}

}  // namespace zktest

#endif
