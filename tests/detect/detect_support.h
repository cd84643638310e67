// Helpers of the detection tests: every buffer ends exactly at the end of its
// heap block, so that AddressSanitizer reports any read past inLen.
#ifndef ZK_TEST_DETECT_SUPPORT_H
#define ZK_TEST_DETECT_SUPPORT_H

#include <gtest/gtest.h>

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
  Bytes out;
  for (std::size_t k = 0; k < times; ++k) out.insert(out.end(), unit.begin(), unit.end());
  return out;
}

// A copy of `data` in a block of exactly its size.
struct Exact {
  explicit Exact(const Bytes& data) : size(data.size()), block(new std::uint8_t[data.size()]) {
    if (size > 0) std::memcpy(block.get(), data.data(), size);
  }
  const unsigned char* ptr() const { return block.get(); }
  std::size_t size;
  std::unique_ptr<std::uint8_t[]> block;
};

struct Detected {
  int ret;
  CconvChkRecord rec;
  std::string name() const { return rec.encodingName; }
};

// Runs cconvChkEncode on [pos, data.size()) of a record first filled with
// garbage, and checks that the call put back the range.
inline Detected detect(const Bytes& data, std::int32_t pos = 0) {
  Exact buf(data);
  Detected d{};
  std::memset(&d.rec, 0xA5, sizeof d.rec);
  d.rec.inBuf = buf.ptr();
  d.rec.inPos = pos;
  d.rec.inLen = static_cast<std::int32_t>(data.size());
  d.ret = cconvChkEncode(&d.rec);
  EXPECT_EQ(d.rec.inBuf, buf.ptr());
  EXPECT_EQ(d.rec.inPos, pos);
  EXPECT_EQ(d.rec.inLen, static_cast<std::int32_t>(data.size()));
  // 0 and "unknown" go together; a settled name always has a class.
  EXPECT_EQ(d.ret, d.rec.encodingClass == 0 ? 0 : 1);
  if (d.ret == 0) {
    EXPECT_EQ(d.name(), "unknown");
  }
  d.rec.inBuf = nullptr;  // the block dies with this scope
  return d;
}

// A record over an exact copy, for calling the inner operations; the copy
// lives as long as the Scoped object.
struct Scoped {
  explicit Scoped(const Bytes& data, std::int32_t pos = 0) : buf(data) {
    std::memset(&rec, 0, sizeof rec);
    rec.inBuf = buf.ptr();
    rec.inPos = pos;
    rec.inLen = static_cast<std::int32_t>(data.size());
    rec.bigEndian = 1;
  }
  Exact buf;
  CconvChkRecord rec;
};

inline zk::ChkScores scoresOf(const Bytes& data) {
  Scoped s(data);
  zk::ChkScores out{};
  zk::chkScoreAll(&s.rec, &out);
  return out;
}

}  // namespace zkdetect

#endif
