// Helpers of the rule tests: hand-made rules and a decode loop for driving the
// decoders directly, an output buffer for the byte writers, and a host that
// offers a given room per call.
#ifndef ZK_TEST_RULES_SUPPORT_H
#define ZK_TEST_RULES_SUPPORT_H

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "frame/registry.h"
#include "rules/rules.h"
#include "support/convert.h"
#include "support/testdir.h"

namespace zktest {

constexpr std::uint32_t kIrv = 2001, kRoman = 2002, kKana = 2003, kC6226 = 2004, kX0208 = 2006,
                        kX0212 = 2007, kX0213 = 2011;

// Calls `dest` on `bytes` until the input is used up or needs more, stepping
// over invalid bytes as a skipping driver would; `rec` keeps the shift state.
// Each outcome is "set:code@inPos" for a character, else "bad@inPos",
// "more@inPos" or "ok@inPos".
inline std::string decodeAll(CconvRecord& rec, int (*dest)(CconvRecord*), const Bytes& bytes) {
  static const std::map<std::uint32_t, const char*> names = {
      {kIrv, "irv"},          {kRoman, "roman"},         {kKana, "kana"},  {kC6226, "c6226"},
      {kX0208, "0208"},       {kX0212, "0212"},          {kX0213, "0213"}, {CCONV_OK, "ok"},
      {CCONV_INVALID, "bad"}, {CCONV_NEED_INPUT, "more"}};
  rec.inBuf = bytes.data(), rec.inLen = static_cast<std::int32_t>(bytes.size()), rec.inPos = 0;
  std::ostringstream os;
  for (int i = 0; i < 64; ++i) {
    rec.status = CCONV_NEXT;
    dest(&rec);
    const bool c = rec.status == CCONV_CHAR;
    os << (i ? " " : "") << names.at(c ? rec.inCharset : rec.status);
    if (c) os << ':' << std::hex << std::uppercase << rec.code << std::dec;
    os << '@' << rec.inPos;
    if (!c && rec.status != CCONV_INVALID) break;
  }
  return os.str();
}

// Converts `in` offering `rooms[k]` bytes of output to the k-th call (a
// negative room: a cconvTermConvert with that much room), and tells what each
// call returned and wrote: "F|1B 24 42 K|30 21" (K: CCONV_OK, F: output full,
// ?: any other status).
inline std::string byRoom(const char* to, const char* from, const Bytes& in, std::vector<int> rooms,
                          const CconvDstOptions* dst = nullptr,
                          const CconvSrcOptions* src = nullptr) {
  CconvRecord rec{};
  EXPECT_EQ(cconvInitConvert(&rec, dst, to) + cconvChgCharset(&rec, src, from), CCONV_OK);
  rec.inBuf = in.data(), rec.inLen = static_cast<std::int32_t>(in.size());
  std::string s;
  for (int room : rooms) {
    Bytes out(static_cast<std::size_t>(std::abs(room)) + 1, 0xEE);
    rec.outBuf = out.data(), rec.outPos = 0, rec.outSize = std::abs(room);
    const std::uint32_t st = room < 0 ? cconvTermConvert(&rec) : cconvConvert(&rec);
    EXPECT_EQ(out.back(), 0xEE) << "written past outSize";
    s += std::string(s.empty() ? "" : " ") +
         (st == CCONV_OK            ? "K"
          : st == CCONV_OUTPUT_FULL ? "F"
                                    : "?") +
         "|" + hex(Bytes(out.begin(), out.begin() + rec.outPos));
  }
  return s;
}

// A row of an exported-call table: `in` from `from` to `to` gives `out` (hex),
// `status` with the input stopped at `pos` (-1: the whole input), one shot
// and in every split of input and output (but where a split may part a
// JIS X 0213 pair: `split` false).
struct Row {
  const char *from, *to, *in, *out;
  std::uint32_t status = CCONV_OK;
  std::int64_t pos = -1;
  bool split = true;
};

inline const CconvDstOptions kOutBE{1, 0, 0, 0, {}, 0, 0, 0};

inline void expectRows(const std::vector<Row>& rows, const CconvSrcOptions* src = nullptr,
                       const CconvDstOptions* dst = &kOutBE) {
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.from) + " to " + r.to + ": " + r.in);
    const Bytes in = hexBytes(r.in);
    const ConvertResult c = convert(r.to, r.from, in, src, dst);
    EXPECT_EQ(hex(c.out), hex(hexBytes(r.out)));
    EXPECT_EQ(c.status, r.status);
    EXPECT_EQ(c.inPos, r.pos < 0 ? static_cast<std::int64_t>(in.size()) : r.pos);
    EXPECT_TRUE(r.split ? piecewiseSame(r.to, r.from, in, src, dst) : testing::AssertionSuccess());
  }
}

}  // namespace zktest

#endif
