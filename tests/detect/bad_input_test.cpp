// Input that makes no sense or ends anywhere: a settled name or "unknown",
// the range put back, and (under AddressSanitizer) no read outside it.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "detect_support.h"

namespace {

using zkdetect::Bytes;
using zkdetect::bytesOf;
using zkdetect::detect;

const std::set<std::string> kScoredNames = {
    "UTF-8",       "UTF-16",     "ISO-10646-UCS-4", "EUC-JP",     "EUC-JP-FIX",
    "ISO-2022-JP", "WINDOWS31J", "ISO-8859-1",      "ISO-646IRV", "unknown"};

// Without a declaration, only the fixed names can come out.
void expectSane(const zkdetect::Detected& d) {
  if (d.rec.xmlDeclared == 0) {
    EXPECT_TRUE(kScoredNames.count(d.name())) << d.name();
  }
  EXPECT_LT(std::strlen(d.rec.encodingName), static_cast<std::size_t>(CCONV_TEXT_SIZE));
  EXPECT_LE(d.rec.newlineKind, 5u);
  EXPECT_LE(d.rec.bigEndian, 1u);
}

TEST(BadInput, NullRecordReturnsZero) { EXPECT_EQ(cconvChkEncode(nullptr), 0); }

TEST(BadInput, RangesThatMakeNoSenseAreEmpty) {
  const Bytes data = bytesOf("<?xml encoding='EUC-JP'?>");
  struct Case {
    std::int32_t pos;
    std::int32_t len;
  };
  for (const Case& c : {Case{30, 25}, Case{-1, 25}, Case{-100000, 25}, Case{0, -1},
                        Case{INT32_MAX, 25}, Case{INT32_MIN, INT32_MIN}}) {
    SCOPED_TRACE(std::to_string(c.pos) + "/" + std::to_string(c.len));
    zkdetect::Exact buf(data);
    CconvChkRecord rec;
    std::memset(&rec, 0x5A, sizeof rec);
    rec.inBuf = buf.ptr();
    rec.inPos = c.pos;
    rec.inLen = c.len;
    EXPECT_EQ(cconvChkEncode(&rec), 0);
    EXPECT_STREQ(rec.encodingName, "unknown");
    EXPECT_EQ(rec.inPos, c.pos);
    EXPECT_EQ(rec.inLen, c.len);
    EXPECT_EQ(rec.encodingClass, 0u);
    EXPECT_EQ(rec.bigEndian, 1u);
  }
  CconvChkRecord rec;
  std::memset(&rec, 0, sizeof rec);
  rec.inBuf = nullptr;
  rec.inLen = 100;
  EXPECT_EQ(cconvChkEncode(&rec), 0);
  EXPECT_EQ(rec.inLen, 100);
}

TEST(BadInput, EveryOneAndTwoByteBuffer) {
  for (int a = 0; a < 256; ++a) {
    auto one = detect(Bytes{static_cast<std::uint8_t>(a)});
    expectSane(one);
    // A single byte is never a mark or a declaration.
    EXPECT_EQ(one.rec.hasBom, 0u);
    EXPECT_EQ(one.rec.xmlDeclared, 0u);
    for (int b = 0; b < 256; b += 3) {
      auto two = detect(Bytes{static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)});
      expectSane(two);
      EXPECT_EQ(two.rec.xmlDeclared, 0u);
    }
  }
}

TEST(BadInput, ShortBuffersOfTrickyBytesAtEveryStart) {
  // Bytes that open marks, declarations, quotes, escapes and line ends.
  static const char kAlphabet[] =
      "\x00\x0A\x0D\x1B\"'<?xmlXMLencodigENCODIG=$(B \x80\xA4\xE2\xA8"
      "\xEF\xBB\xBF\xFE\xFF\x8E\x8F\x82";
  const std::string alphabet(kAlphabet, sizeof kAlphabet - 1);
  std::mt19937 rng(20261206);
  for (int round = 0; round < 3000; ++round) {
    const std::size_t len = 1 + rng() % 20;
    Bytes data(len);
    for (auto& b : data) b = static_cast<std::uint8_t>(alphabet[rng() % alphabet.size()]);
    for (std::size_t pos = 0; pos <= len; ++pos) {
      auto d = detect(data, static_cast<std::int32_t>(pos));
      expectSane(d);
      if (pos == len) {
        EXPECT_EQ(d.name(), "unknown");
      }
    }
  }
}

TEST(BadInput, DeclarationsCutAtEveryByteInEveryWidth) {
  const std::string decl = "<?xml version='1.0' encoding='EUC-JP' standalone=\"yes";
  for (int width : {1, 2, 4}) {
    for (bool big : {false, true}) {
      Bytes full;
      for (unsigned char c : decl) {
        for (int k = 0; k < width; ++k) full.push_back((big ? k == width - 1 : k == 0) ? c : 0);
      }
      for (std::size_t len = 0; len <= full.size(); ++len) {
        auto d = detect(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(len)));
        expectSane(d);
        if (d.rec.xmlDeclared) {
          const std::string n = d.name();
          EXPECT_TRUE(n == "EUC-JP" || n == "UTF-8" || n == "UTF-16" || n == "ISO-10646-UCS-4")
              << n;
        }
      }
    }
  }
}

TEST(BadInput, NulBytesEverywhere) {
  for (std::size_t len : {1u, 2u, 3u, 4u, 5u, 17u, 2048u, 5000u}) {
    auto d = detect(Bytes(len, 0x00));
    EXPECT_EQ(d.name(), "unknown") << len;
    EXPECT_EQ(d.rec.newlineKind, 0u);
  }
  // The value is copied unchanged, so a NUL inside it ends the name there.
  auto d = detect(bytesOf(std::string("<?xml encoding='EU\0C'?>", 24)));
  EXPECT_EQ(d.rec.xmlDeclared, 1u);
  EXPECT_EQ(d.name(), "EU");
}

TEST(BadInput, LongSingleLineDeclarationIsBoundedByTheWindow) {
  // The keyword lies beyond the 2048 bytes after inPos: not sought there.
  std::string text = "<?xml " + std::string(3000, ' ') + "encoding='EUC-JP'?>";
  EXPECT_EQ(detect(bytesOf(text)).name(), "UTF-8");
  std::string near = "<?xml " + std::string(2000, ' ') + "encoding='EUC-JP'?>";
  EXPECT_EQ(detect(bytesOf(near)).name(), "EUC-JP");
}

TEST(BadInput, CallsOnSeparateRecordsMayRunAtOnce) {
  const std::vector<Bytes> inputs = {
      bytesOf("<?xml encoding='EUC-JP'?>\r\n"), bytesOf("Plain text\n"),
      Bytes{0xFF, 0xFE, 'a', 0, '\n', 0, 'b', 0}, bytesOf("\x1B$B$\"\x1B(B\r\n"),
      bytesOf("\x93\xFA\x96\x7B\r\n")};
  const std::vector<std::string> expected = {"EUC-JP", "ISO-646IRV", "UTF-16", "ISO-2022-JP",
                                             "WINDOWS31J"};
  for (std::size_t k = 0; k < inputs.size(); ++k) EXPECT_EQ(detect(inputs[k]).name(), expected[k]);
  std::vector<int> mismatches(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < 300; ++round) {
        const std::size_t k = static_cast<std::size_t>(round + t) % inputs.size();
        zkdetect::Exact buf(inputs[k]);
        CconvChkRecord rec{};
        rec.inBuf = buf.ptr();
        rec.inLen = static_cast<std::int32_t>(inputs[k].size());
        cconvChkEncode(&rec);
        if (expected[k] != rec.encodingName) ++mismatches[static_cast<std::size_t>(t)];
      }
    });
  }
  for (auto& th : threads) th.join();
  for (int m : mismatches) EXPECT_EQ(m, 0);
}

}  // namespace
