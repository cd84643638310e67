// Helpers for the rule tests: hand-made rules, a decode loop and an output
// buffer for driving the rule functions directly, and for the exported calls
// the shipped definitions with the C library's iconv as an independent peer.
#ifndef ZK_TEST_JIS_WORLD_H
#define ZK_TEST_JIS_WORLD_H

#include <iconv.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "defs/defs.h"
#include "rules/rules.h"
#include "support/convert.h"
#include "support/testdir.h"
#include "zrkvt16.h"

namespace zktest {

constexpr std::uint32_t kIrv = 2001, kRoman = 2002, kKana = 2003, kC6226 = 2004, kX0208 = 2006,
                        kX0212 = 2007, kX0213 = 2011;

// "1B 24 42" as bytes.
inline Bytes hexBytes(const std::string& text) {
  Bytes b;
  std::istringstream in(text);
  for (unsigned v; in >> std::hex >> v;) b.push_back(static_cast<std::uint8_t>(v));
  return b;
}

// A rule whose charsets list holds the given sets {id, type, bytenum}, in
// order. Their code tables are loaded and empty, so a character is placed
// only in the set it was decoded from.
inline ::RuleDef* handRule(std::initializer_list<std::array<std::uint32_t, 3>> shapes) {
  static TestDir dir;
  static const bool started = (injectStart(dir.path()), true);
  (void)started;
  std::vector<zk::CharsetDef*> sets;
  for (const auto& [id, type, bytenum] : shapes) {
    sets.push_back(
        injectSet("hand-" + std::to_string(id), static_cast<std::uint16_t>(bytenum), {}));
    sets.back()->id = id;
    sets.back()->type = static_cast<std::uint16_t>(type);
  }
  return reinterpret_cast<::RuleDef*>(injectRule("hand", "", "", sets));
}

inline void clearForDecode(CconvRecord* rec) {
  rec->rawCode = rec->code = rec->ucs = rec->outCode = rec->ucs2 = 0;
  rec->outUnit = rec->outSeqLen = 0;
  rec->status = CCONV_NEXT;
}

// Calls `dest` until the input is used up or needs more, stepping over
// invalid bytes as a skipping driver would. Each outcome is written as
// "set:code@inPos" for a character, else "bad@inPos", "more@inPos", "ok@inPos".
inline std::string decodeAll(CconvRecord* rec, int (*dest)(CconvRecord*)) {
  static const std::map<std::uint32_t, const char*> names = {
      {kIrv, "irv"},          {kRoman, "roman"},         {kKana, "kana"},  {kC6226, "c6226"},
      {kX0208, "0208"},       {kX0212, "0212"},          {kX0213, "0213"}, {CCONV_OK, "ok"},
      {CCONV_INVALID, "bad"}, {CCONV_NEED_INPUT, "more"}};
  std::ostringstream os;
  for (int i = 0; i < 64; ++i) {
    clearForDecode(rec);
    dest(rec);
    const bool c = rec->status == CCONV_CHAR;
    os << (i ? " " : "") << names.at(c ? rec->inCharset : rec->status);
    if (c) os << ':' << std::hex << std::uppercase << rec->code << std::dec;
    os << '@' << rec->inPos;
    if (!c && rec->status != CCONV_INVALID) break;
  }
  return os.str();
}

// An output buffer of `size` bytes prefilled with 0xEE, written from `pos`.
struct Out {
  std::uint8_t buf[32];
  CconvRecord rec{};
  std::string drained;  // what drain() took out so far
  explicit Out(std::int32_t size = 32, std::int32_t pos = 0) { room(size, pos); }
  void room(std::int32_t size, std::int32_t pos = 0) {
    std::fill(buf, buf + sizeof buf, 0xEE);
    rec.outBuf = buf;
    rec.outSize = size;
    rec.outPos = pos;
  }
  Bytes bytes() const { return Bytes(buf, buf + rec.outPos); }
  std::string written() const { return hex(bytes()); }
  std::string drain() {
    const std::string w = written();
    drained += drained.empty() || w.empty() ? w : " " + w;
    rec.outPos = 0;
    return drained;
  }
  // Hands the encoder one decoded character, as the driver does.
  std::uint32_t put(int (*encode)(CconvRecord*), std::uint32_t set, std::uint32_t code) {
    clearForDecode(&rec);
    rec.inCharset = set;
    rec.rawCode = rec.code = code;
    rec.status = CCONV_CHAR;
    encode(&rec);
    return rec.status;
  }
  // Leaves what the driver leaves when no substitute was found: nothing placed.
  void emptySubstitute() {
    rec.outCharset = rec.outCode = rec.outUnit = 0;
    rec.status = CCONV_OUTPUT_FULL;
  }
};

// The shipped definitions, linked into a directory of their own (the loader
// writes its compiled tables beside them, so the source tree is never
// touched). The charset directory can be set once per process, so one copy
// serves every test that runs in it; it is removed at exit.
inline void useShipped() {
  static TestDir dir;
  static const bool ready = [] {
    for (const auto& e : std::filesystem::directory_iterator(ZK_SOURCE_DIR "/data/base2"))
      if (e.path().extension() != ".cmp")
        std::filesystem::create_symlink(e.path(), dir.file(e.path().filename()));
    return KVT_setCharsetPath(dir.path().c_str()) == 1;
  }();
  ASSERT_TRUE(ready);
}

// Converts `in` with iconv; empty when iconv refuses any of it.
inline Bytes iconvPeer(const char* to, const std::string& in) {
  iconv_t cd = iconv_open(to, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  Bytes out(in.size() * 8 + 16);
  char* ip = const_cast<char*>(in.data());
  std::size_t il = in.size(), ol = out.size();
  char* op = reinterpret_cast<char*>(out.data());
  std::size_t rc = iconv(cd, &ip, &il, &op, &ol);
  if (rc != static_cast<std::size_t>(-1)) rc = iconv(cd, nullptr, nullptr, &op, &ol);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1) || il != 0) return {};
  out.resize(out.size() - ol);
  return out;
}

// Double-byte legacy targets are written row byte first only when asked (outBigEndian).
inline CconvSrcOptions srcOpts(std::uint32_t bigEndian, std::uint32_t detectBom = 0,
                               std::uint32_t skipInvalid = 0) {
  return CconvSrcOptions{bigEndian, detectBom, skipInvalid};
}

inline CconvDstOptions dstOpts(std::uint32_t bigEndian, std::uint32_t writeBom = 0,
                               const char* lang = "") {
  CconvDstOptions o{};
  o.outBigEndian = bigEndian;
  o.outWriteBom = writeBom;
  std::strncpy(o.lang, lang, sizeof o.lang - 1);
  return o;
}

inline Bytes utf8(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace zktest

#endif
