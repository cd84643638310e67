// Input that makes no sense or ends anywhere: a settled name or "unknown",
// and the range put back. Arbitrary bytes and ranges are left to the fuzzer
// (tests/fuzz/fuzz_detect.cpp).
#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "detect_support.h"

namespace {

using zkdetect::Bytes;
using zkdetect::bytesOf;
using zkdetect::detect;

TEST(BadInput, EmptyOrSenselessRangesAreUnknownWithDefaults) {
  EXPECT_EQ(cconvChkEncode(nullptr), 0);
  const Bytes data = bytesOf("<?xml encoding='EUC-JP'?>");
  // At the end, past it, before the start, a negative length, at both extremes.
  const std::pair<std::int32_t, std::int32_t> ranges[] = {
      {25, 25}, {30, 25}, {-1, 25}, {0, -1}, {INT32_MAX, 25}, {INT32_MIN, INT32_MIN}};
  for (const auto& [pos, len] : ranges) {
    SCOPED_TRACE(std::to_string(pos) + "/" + std::to_string(len));
    const auto buf = zkdetect::exactCopy(data);
    CconvChkRecord rec;
    std::memset(&rec, 0x5A, sizeof rec);
    rec.inBuf = buf.get();
    rec.inPos = pos;
    rec.inLen = len;
    EXPECT_EQ(cconvChkEncode(&rec), 0);
    EXPECT_STREQ(rec.encodingName, "unknown");
    for (int k = 8; k < CCONV_TEXT_SIZE; ++k) ASSERT_EQ(rec.encodingName[k], 0) << k;
    // The range put back; class, order, mark, declaration and line end at their defaults.
    EXPECT_EQ(std::tuple(rec.inPos, rec.inLen, rec.encodingClass, rec.bigEndian, rec.hasBom,
                         rec.xmlDeclared, rec.newlineKind),
              std::tuple(pos, len, 0u, 1u, 0u, 0u, 0u));
  }
  CconvChkRecord rec{};
  rec.inLen = 100;  // and no buffer
  EXPECT_EQ(cconvChkEncode(&rec), 0);
  EXPECT_EQ(rec.inLen, 100);
  for (std::size_t len : {1u, 4u, 17u, 5000u}) EXPECT_EQ(detect(Bytes(len, 0)).name(), "unknown");
}

TEST(BadInput, DeclarationsCutAtEveryByteInEveryWidth) {
  const std::string decl = "<?xml version='1.0' encoding='EUC-JP'?>";
  const std::size_t close = decl.rfind('\'');
  const std::set<std::string> scored = {
      "UTF-8",      "UTF-16",     "ISO-10646-UCS-4", "EUC-JP",     "EUC-JP-FIX",
      "WINDOWS31J", "ISO-8859-1", "ISO-2022-JP",     "ISO-646IRV", "unknown"};
  const std::pair<int, bool> forms[] = {{1, true}, {2, false}, {2, true}, {4, false}, {4, true}};
  for (const auto& [width, big] : forms) {
    const char* fallback = width == 1 ? "UTF-8" : width == 2 ? "UTF-16" : "ISO-10646-UCS-4";
    const Bytes full = zkdetect::wide(decl, width, big);
    for (std::size_t len = 0; len <= full.size(); ++len) {
      SCOPED_TRACE(std::to_string(width) + (big ? " BE, " : " LE, ") + std::to_string(len));
      const auto d = detect(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len)));
      if (width == 1) {
        EXPECT_EQ(d.rec.xmlDeclared, len > 5 ? 1u : 0u);
        // The closing quote must lie before the last byte of the range.
        if (len > 5) {
          EXPECT_EQ(d.name(), len >= close + 2 ? "EUC-JP" : "UTF-8");
        }
      }
      if (!d.rec.xmlDeclared) {
        EXPECT_TRUE(scored.count(d.name())) << d.name();  // only the fixed names
      } else {
        EXPECT_TRUE(d.name() == "EUC-JP" || d.name() == fallback) << d.name();
      }
    }
    EXPECT_EQ(detect(full).name(), "EUC-JP");
  }
}

TEST(BadInput, CallsOnSeparateRecordsMayRunAtOnce) {
  // A declaration, a mark and scored text, each with line ends.
  const std::pair<Bytes, std::string> cases[] = {
      {bytesOf("<?xml encoding='EUC-JP'?>\r\n"), "EUC-JP"},
      {Bytes{0xFF, 0xFE, 'a', 0, '\n', 0, 'b', 0}, "UTF-16"},
      {bytesOf("\x93\xFA\x96\x7B\r\n"), "WINDOWS31J"}};
  std::vector<std::thread> threads;
  for (std::size_t t = 0; t < 4; ++t) {
    threads.emplace_back([&cases, t] {
      for (std::size_t round = 0; round < 300; ++round) {
        const auto& [in, name] = cases[(round + t) % std::size(cases)];
        EXPECT_EQ(detect(in).name(), name);
      }
    });
  }
  for (auto& th : threads) th.join();
}

}  // namespace
