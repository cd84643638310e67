// Real Japanese text (a translated manual page, tests/detect/data) in every
// family, encoded by the peer iconv, in pieces of 16 bytes to 64 KiB.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "detect_support.h"

namespace {

using zkdetect::Bytes;
using zkdetect::detect;

struct Family {
  const char* peer;
  const char* name;
  unsigned bigEndian;
  bool eightBit;
};

const Family kFamilies[] = {
    {"UTF-8", "UTF-8", 1, true},
    {"CP932", "WINDOWS31J", 1, true},
    {"EUC-JP", "EUC-JP", 1, true},
    {"ISO-2022-JP", "ISO-2022-JP", 1, true},
    {"UTF-16LE", "UTF-16", 0, false},
    {"UTF-16BE", "UTF-16", 1, false},
    {"UCS-4LE", "ISO-10646-UCS-4", 0, false},
    {"UCS-4BE", "ISO-10646-UCS-4", 1, false},
};

struct Piece {
  Bytes data;
  std::string utf8;
};

// `count` pieces of about `size` bytes in the peer's encoding, from starts
// spread over the first half of the page; each is the longest run of whole
// characters that fits, as a file of that size would hold it.
std::vector<Piece> pieces(const char* peer, std::size_t size, int count) {
  std::ifstream in(ZK_SOURCE_DIR "/tests/detect/data/futex.7.ja.txt", std::ios::binary);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_GT(text.size(), 4000u);
  while (text.size() < 3 * size) text += text;  // long pieces repeat the page
  std::vector<std::size_t> starts;              // of the characters, plus the end
  for (std::size_t k = 0; k <= text.size(); ++k) {
    if (k == text.size() || (static_cast<unsigned char>(text[k]) & 0xC0) != 0x80) {
      starts.push_back(k);
    }
  }
  std::vector<Piece> out;
  for (int k = 0; k < count; ++k) {
    const std::size_t first = (starts.size() - 1) / 2 * k / count;
    std::size_t lo = first, hi = starts.size() - 1;
    Piece p;
    while (hi > lo) {  // the most characters whose encoding fits
      const std::size_t mid = (lo + hi + 1) / 2;
      zkdetect::peerConvert(text.substr(starts[first], starts[mid] - starts[first]), "UTF-8", peer,
                            &p.data);
      if (p.data.size() <= size) {
        lo = mid;
      } else {
        hi = mid - 1;
      }
    }
    p.utf8 = text.substr(starts[first], starts[lo] - starts[first]);
    if (zkdetect::peerConvert(p.utf8, "UTF-8", peer, &p.data) && p.data.size() + 8 >= size) {
      out.push_back(p);
    }
  }
  return out;
}

// A piece of ASCII alone is "ISO-646IRV" in the 8-bit families, since
// nothing else can be told of it.
bool namedRight(const Family& f, const Piece& p) {
  const auto d = detect(p.data);
  bool ascii = true;
  for (unsigned char c : p.utf8) ascii = ascii && c < 0x80;
  if (f.eightBit && ascii) return d.name() == "ISO-646IRV";
  return d.name() == f.name && d.rec.bigEndian == f.bigEndian;
}

TEST(RealText, EveryFamilyIsNamed) {
  for (const Family& f : kFamilies) {
    const std::string peer = f.peer;
    std::vector<std::size_t> sizes = {256, 1024, 2048, 8192, 65536};
    // Short pieces too, but for EUC-JP and UTF-16 (below).
    if (peer != "EUC-JP" && peer.rfind("UTF-16", 0) != 0) {
      sizes.insert(sizes.end(), {16, 32, 64, 128});
    }
    for (std::size_t size : sizes) {
      const int count = size > 8192 ? 4 : size >= 256 ? 12 : 40;
      const auto all = pieces(f.peer, size, count);
      EXPECT_GE(all.size(), count >= 40 ? 35u : static_cast<std::size_t>(count)) << peer << size;
      for (const Piece& p : all) EXPECT_TRUE(namedRight(f, p)) << peer << " " << size << p.utf8;
    }
  }
}

TEST(RealText, ShortEucPiecesAreMostlyNamed) {
  // Few bytes leave EUC-JP open to Shift_JIS, where its pairs read as kana
  // or as Shift_JIS pairs. The floors are a little below what this text
  // gives today (24, 30, 37 and 40 of 40), to catch a change of behaviour.
  const std::pair<std::size_t, int> floors[] = {{16, 22}, {32, 28}, {64, 35}, {128, 40}};
  for (const auto& [size, floor] : floors) {
    const auto all = pieces("EUC-JP", size, 40);
    ASSERT_EQ(all.size(), 40u);
    int named = 0;
    for (const Piece& p : all) named += namedRight(kFamilies[2], p);
    EXPECT_GE(named, floor) << size;
  }
}

TEST(RealText, ShortUtf16PiecesNeedAnAsciiCharacter) {
  // Without one unit of printable ASCII neither pass is believed; with one,
  // the piece is named unless a rival happens to score as high.
  for (const Family& f : {kFamilies[4], kFamilies[5]}) {
    for (std::size_t size : {16u, 32u, 64u}) {
      SCOPED_TRACE(std::string(f.peer) + " " + std::to_string(size));
      int with = 0, without = 0, named = 0;
      for (const Piece& p : pieces(f.peer, size, 60)) {
        bool ascii = false;
        for (unsigned char c : p.utf8) ascii = ascii || (c >= 0x21 && c <= 0x7E);
        const auto d = detect(p.data);
        if (ascii) {
          ++with;
          named += d.name() == "UTF-16";
          EXPECT_TRUE(d.name() != "UTF-16" || d.rec.bigEndian == f.bigEndian) << p.utf8;
        } else {
          ++without;
          EXPECT_NE(d.name(), "UTF-16") << p.utf8;
        }
      }
      EXPECT_GT(with, 10);
      EXPECT_GE(named * 10, with * 9);
      EXPECT_GT(without, size < 64 ? 10 : 0);
    }
  }
}

}  // namespace
