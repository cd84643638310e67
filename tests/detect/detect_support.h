// Helpers of the detection tests. Every buffer ends exactly at the end of its
// heap block, so that AddressSanitizer reports any read past inLen; legacy
// text is made by the C library's iconv (a peer converter), so that the tests
// do not depend on our own encoders.
#ifndef ZK_TEST_DETECT_SUPPORT_H
#define ZK_TEST_DETECT_SUPPORT_H

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "detect/detect.h"
#include "zrkvt16.h"

namespace zkdetect {

using Bytes = std::vector<std::uint8_t>;

inline Bytes bytesOf(const std::string& s) { return Bytes(s.begin(), s.end()); }

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

inline Bytes repeat(const Bytes& unit, std::size_t times) {
  return times == 0 ? Bytes{} : unit + repeat(unit, times - 1);
}

// ASCII text spread into units of `width` bytes, in the given order.
inline Bytes wide(const std::string& s, int width, bool bigEndian) {
  Bytes out;
  for (unsigned char c : s) {
    for (int k = 0; k < width; ++k) out.push_back((bigEndian ? k == width - 1 : k == 0) ? c : 0);
  }
  return out;
}

// A copy of `data` in a block of exactly its size.
inline std::unique_ptr<std::uint8_t[]> exactCopy(const Bytes& data) {
  std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[data.size()]);
  if (!data.empty()) std::memcpy(block.get(), data.data(), data.size());
  return block;
}

struct Detected {
  int ret;
  CconvChkRecord rec;
  std::string name() const { return rec.encodingName; }
};

// Runs cconvChkEncode on [pos, data.size()) of a record first filled with
// garbage, and checks that the call put back the range and that 0 goes with
// "unknown" and no class.
inline Detected detect(const Bytes& data, std::int32_t pos = 0) {
  const auto buf = exactCopy(data);
  Detected d{};
  std::memset(&d.rec, 0xA5, sizeof d.rec);
  d.rec.inBuf = buf.get();
  d.rec.inPos = pos;
  d.rec.inLen = static_cast<std::int32_t>(data.size());
  d.ret = cconvChkEncode(&d.rec);
  EXPECT_EQ(d.rec.inBuf, buf.get());
  EXPECT_EQ(d.rec.inPos, pos);
  EXPECT_EQ(d.rec.inLen, static_cast<std::int32_t>(data.size()));
  EXPECT_EQ(d.ret, d.rec.encodingClass == 0 ? 0 : 1);
  EXPECT_TRUE(d.ret != 0 || d.name() == "unknown") << d.name();
  d.rec.inBuf = nullptr;  // the block dies with this scope
  return d;
}

// What a call should report; a negative field (or a null name) is not checked.
struct Want {
  Bytes in;
  const char* name = nullptr;
  std::int32_t pos = 0;
  int decl = -1, bom = -1, be = -1, nl = -1, cls = -1;
};

inline void expectDetect(const Want& w) {
  const Detected d = detect(w.in, w.pos);
  EXPECT_TRUE(w.name == nullptr || d.name() == w.name) << d.name() << ", not " << w.name;
  const int want[] = {w.decl, w.bom, w.be, w.nl, w.cls};
  const std::uint32_t got[] = {d.rec.xmlDeclared, d.rec.hasBom, d.rec.bigEndian, d.rec.newlineKind,
                               d.rec.encodingClass};
  for (int k = 0; k < 5; ++k) {
    EXPECT_TRUE(want[k] < 0 || got[k] == static_cast<std::uint32_t>(want[k]))
        << "field " << k << " (decl, bom, be, nl, cls) is " << got[k];
  }
}

// Converts `in` with iconv; characters the target lacks are dropped.
// Returns false when iconv cannot open the pair.
inline bool peerConvert(const std::string& in, const char* from, const char* to, Bytes* out) {
  iconv_t cd = iconv_open((std::string(to) + "//IGNORE").c_str(), from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  std::string src = in;
  out->assign(4 * src.size() + 16, 0);  // room for UCS-4 and for escapes
  char* inp = src.data();
  char* outp = reinterpret_cast<char*>(out->data());
  std::size_t inLeft = src.size(), outLeft = out->size();
  while (iconv(cd, &inp, &inLeft, &outp, &outLeft) == static_cast<std::size_t>(-1) &&
         errno == EILSEQ && inLeft > 0) {
    ++inp;  // skip what the target cannot take
    --inLeft;
  }
  iconv(cd, nullptr, nullptr, &outp, &outLeft);  // back to the initial shift state
  out->resize(out->size() - outLeft);
  iconv_close(cd);
  return true;
}

}  // namespace zkdetect

#endif
