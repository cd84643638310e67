// The vector kernels of the bulk path against their scalar references, on
// random inputs of every length around the vector width, at every alignment,
// in both byte orders: same results, same bytes, nothing written beyond them;
// and what the wide UTF-8 kernel takes against the characters themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <tuple>
#include <vector>

#include "engine/blocks.h"
#include "engine/simd.h"

namespace {

using Bytes = std::vector<unsigned char>;

// Random text of mostly the characters a kernel takes, with what stops it
// mixed in: ASCII, line ends, combining marks, U+2028, surrogates, FE/FF.
Bytes randomUtf16(std::mt19937& rnd, std::size_t units, bool big) {
  static const std::uint32_t kOdd[] = {0x41, 0x0A, 0x0D, 0x309A, 0x02E5, 0x0301, 0x2028, 0x2029,
                                       0x304B, 0x07FF, 0x0800, 0xD800, 0xDFFF, 0xFFFF, 0x00E6};
  Bytes out;
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t r = rnd() % 8;
    std::uint32_t u = r > 2 ? 0x800 + rnd() % 0xF800 : r ? rnd() % 0x800 : kOdd[rnd() % std::size(kOdd)];
    out.push_back(static_cast<unsigned char>(big ? u >> 8 : u));
    out.push_back(static_cast<unsigned char>(big ? u : u >> 8));
  }
  return out;
}

Bytes randomUtf8(std::mt19937& rnd, std::size_t chars) {
  Bytes out;
  for (std::size_t i = 0; i < chars; ++i) {
    const std::uint32_t pick = rnd() % 25;
    switch (pick < 6 ? 0 : pick < 8 ? 5 : pick < 12 ? pick - 7 : 9) {
      case 0: out.push_back(static_cast<unsigned char>(rnd() % 0x80)); break;
      case 5:
        out.insert(out.end(), {static_cast<unsigned char>(0xC0 + rnd() % 32), 0x8A});
        break;
      case 6: out.push_back(static_cast<unsigned char>(0x80 + rnd() % 0x40)); break;  // stray
      case 1: out.insert(out.end(), {0xE3, 0x82, 0x9A}); break;         // U+309A
      case 2: out.insert(out.end(), {0xCB, static_cast<unsigned char>(0xA5 + rnd() % 8)}); break;
      case 3: out.insert(out.end(), {0xE2, 0x80, static_cast<unsigned char>(0xA8 + rnd() % 2)}); break;
      case 4: out.push_back(static_cast<unsigned char>(0xFE + rnd() % 2)); break;
      default:  // three bytes; now and then ill-formed, which the reader takes all the same
        out.push_back(static_cast<unsigned char>(0xE0 + rnd() % 16));
        out.push_back(static_cast<unsigned char>(rnd() % 20 ? 0x80 + rnd() % 0x40 : rnd()));
        out.push_back(static_cast<unsigned char>(0x80 + rnd() % 0x40));
    }
  }
  return out;
}

// Runs a block kernel and its reference on `in` copied at offset `align`
// into room of `room` bytes followed by guard bytes; both must agree.
template <class Fn>
void sameBlocks(Fn vec, Fn ref, const Bytes& in, std::size_t align, std::size_t room, bool big,
                bool newline, std::uint32_t keep) {
  Bytes src(align + in.size() + 32, 0x5A);
  std::copy(in.begin(), in.end(), src.begin() + static_cast<long>(align));
  Bytes a(room + 40), b;
  for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<unsigned char>(i * 7);
  b = a;
  const zk::BlockResult ra = vec(src.data() + align, in.size(), a.data() + align % 16, room, big, newline, keep);
  const zk::BlockResult rb = ref(src.data() + align, in.size(), b.data() + align % 16, room, big, newline, keep);
  const auto same = ra.in == rb.in && ra.out == rb.out && ra.chars == rb.chars && ra.hold == rb.hold &&
                    ra.lines == rb.lines && (ra.chars < 2 || (ra.last == rb.last && ra.prev == rb.prev));
  ASSERT_TRUE(same) << "align " << align << " length " << in.size() << " room " << room;
  ASSERT_EQ(a, b) << "align " << align << " length " << in.size() << " room " << room;
}

// What any UTF-8 to UTF-16 kernel took must be whole well-formed characters
// of one to three bytes, written as their units (an LF as CR LF under
// kLfAsCrLf), none of them a line end that stops, a combining mark, or (but
// ASCII) followed by what may start one.
void tookOnlyPlainCharacters(const Bytes& in, const zk::BlockResult& r, const unsigned char* out,
                             bool big, bool newline, std::uint32_t keep) {
  std::size_t at = 0, k = 0, chars = 0, lines = 0;
  const auto unitAt = [&](std::size_t i) { return big ? out[2 * i] << 8 | out[2 * i + 1] : out[2 * i + 1] << 8 | out[2 * i]; };
  while (at < r.in) {
    const std::uint32_t b = in[at], len = b < 0x80                ? 1
                                          : b >= 0xC0 && b < 0xE0 ? 2
                                          : b >= 0xE0 && b < 0xF0 ? 3
                                                                  : 0;
    ASSERT_TRUE(len && at + len <= r.in) << "at " << at;
    std::uint32_t u = len == 1 ? b : b & (len == 2 ? 0x1F : 0x0F);
    for (std::uint32_t j = 1; j < len; ++j) {
      ASSERT_EQ(in[at + j] & 0xC0, 0x80) << "at " << at;
      u = (u << 6) | (in[at + j] & 0x3F);
    }
    ASSERT_FALSE(u == 0x309A || (u >= 0x2E5 && u <= 0x301)) << "at " << at;
    at += len;
    ++chars;
    if (newline && keep == zk::kLfAsCrLf && u == 0x0A) {
      ASSERT_EQ(unitAt(k), 0x0Du) << "at " << at;
      ASSERT_EQ(unitAt(k + 1), 0x0Au) << "at " << at;
      k += 2;
      ++lines;
      continue;
    }
    ASSERT_FALSE(newline && u != keep && (u == 0x0A || u == 0x0D || u == 0x2028 || u == 0x2029))
        << "at " << at;
    ASSERT_EQ(unitAt(k), u) << "at " << at;
    ++k;
  }
  ASSERT_EQ(chars, r.chars);
  ASSERT_EQ(lines, r.lines);
  ASSERT_EQ(2 * k, r.out);
  const Bytes next(in.begin() + static_cast<long>(r.in),
                   in.begin() + static_cast<long>(std::min(r.in + 3, in.size())));
  if (r.chars && in[r.in - 1] >= 0x80 && !next.empty()) {  // (no pair starts with ASCII)
    ASSERT_FALSE(next[0] == 0xCB || next[0] == 0xCC || next[0] >= 0xFE ||
                 (next == Bytes{0xE3, 0x82, 0x9A}));
  }
}

TEST(BlockKernels, AgreeWithScalarReferences) {
  const zk::Utf8To16Kernel to16 = zk::utf8To16Ssse3Only(), wide = zk::utf8To16Avx2Only();
  const zk::Utf16To8Kernel to8 = zk::utf16To8Ssse3Only(), wide8 = zk::utf16To8Avx2Only();
  if (!to16 || !to8) GTEST_SKIP() << "no SSSE3";
  std::mt19937 rnd(14);
  for (int round = 0; round < 300; ++round) {
    const bool big = round & 1, newline = round & 2;
    const std::uint32_t keeps[] = {0, 0x0A, 0x2028, zk::kLfAsCrLf};
    const std::uint32_t keep = keeps[(round >> 2) % 4];
    for (std::size_t align = 0; align < 16; ++align) {
      Bytes u8 = randomUtf8(rnd, rnd() % 24);  // 0 to 23 characters: around 16 bytes and more
      if (round % 4 == 3) {  // 16 ASCII bytes or more with a line end among them
        Bytes run(16 + rnd() % 8, 'a');
        run[rnd() % run.size()] = rnd() % 2 ? '\n' : '\r';
        u8.insert(u8.begin() + static_cast<long>(rnd() % (u8.size() + 1)), run.begin(), run.end());
      }
      sameBlocks(to16, &zk::utf8To16Scalar, u8, align, 24 + rnd() % 40, big, newline, keep);
      const Bytes u16 = randomUtf16(rnd, rnd() % 40, big);
      sameBlocks(to8, &zk::utf16To8Scalar, u16, align, 24 + rnd() % 64, big, newline, keep);
      if (!wide || !wide8) continue;
      // Windows of 32 bytes, now and then all ASCII; room around the 80 a step needs.
      Bytes w = randomUtf8(rnd, rnd() % 64);
      if (round % 5 == 0)
        w.insert(w.begin() + static_cast<long>(rnd() % (w.size() + 1)), 32 + rnd() % 40, 'a');
      for (std::size_t k = rnd() % 4; k; --k)  // lines, some of them one character long
        w.insert(w.begin() + static_cast<long>(rnd() % (w.size() + 1)), {'\n', 'x', '\n'});
      sameBlocks(wide, &zk::utf8To16WideScalar, w, align, 64 + rnd() % 96, big, newline, keep);
      Bytes got(w.size() * 2 + 200);
      const zk::BlockResult r =
          wide(w.data(), w.size(), got.data(), got.size(), big, newline, keep);
      tookOnlyPlainCharacters(w, r, got.data(), big, newline, keep);
      Bytes w16 = randomUtf16(rnd, rnd() % 72, big);
      if (round % 5 == 1) {  // a run of ASCII
        Bytes run;
        for (std::size_t k = 16 + rnd() % 20; k; --k) {
          run.push_back(big ? 0 : 'a');
          run.push_back(big ? 'a' : 0);
        }
        w16.insert(w16.begin() + static_cast<long>(2 * (rnd() % (w16.size() / 2 + 1))), run.begin(),
                   run.end());
      }
      for (std::size_t k = rnd() % 4; k; --k) {
        const unsigned char lf[] = {static_cast<unsigned char>(big ? 0 : '\n'), static_cast<unsigned char>(big ? '\n' : 0)};
        w16.insert(w16.begin() + static_cast<long>(2 * (rnd() % (w16.size() / 2 + 1))), lf, lf + 2);
      }
      sameBlocks(wide8, &zk::utf16To8WideScalar, w16, align, 48 + rnd() % 64, big, newline, keep);
    }
  }
}

// A code-point table of random one- and two-byte values with holes; ASCII
// mostly as itself, none for the combining marks.
std::vector<std::uint16_t> randomTable(std::mt19937& rnd) {
  std::vector<std::uint16_t> t(0x10001);
  for (std::uint32_t v = 1; v < 0x10000; ++v) {
    const std::uint32_t r = rnd() % 16;
    if (v < 0x80 && r) t[v] = static_cast<std::uint16_t>(v);
    else if (r > 1) t[v] = static_cast<std::uint16_t>((r > 4 ? (1 + rnd() % 0xFF) << 8 : 0) | (1 + rnd() % 0xFF));
  }
  for (const std::uint32_t mark : {0x309A, 0x02E5, 0x02E9, 0x0300, 0x0301}) t[mark] = 0;
  return t;
}

// What the map kernel took must be whole characters that are not overlong,
// in the table, written as their bytes, and not a possible pair base before
// what may be a mark.
void tookOnlyMappedCharacters(const Bytes& in, const zk::BlockResult& r, const Bytes& out,
                              const std::vector<std::uint16_t>& t) {
  std::size_t at = 0, o = 0, k = 0, lines = 0;
  std::uint32_t u = 0;
  while (at < r.in) {
    const std::uint32_t b = in[at], len = b < 0x80 ? 1 : b >= 0xC0 && b < 0xE0 ? 2 : b >= 0xE0 && b < 0xF0 ? 3 : 0;
    ASSERT_TRUE(len && at + len <= r.in) << "at " << at;
    u = len == 1 ? b : b & (len == 2 ? 0x1F : 0x0F);
    for (std::uint32_t j = 1; j < len; ++j) {
      ASSERT_EQ(in[at + j] & 0xC0, 0x80) << "at " << at;
      u = (u << 6) | (in[at + j] & 0x3F);
    }
    ASSERT_TRUE(u >= (len == 3 ? 0x800u : len == 2 ? 0x80u : 0u) && t[u]) << "at " << at;
    ASSERT_EQ(out[o], t[u] & 0xFF) << "at " << at;
    if (t[u] > 0xFF) {
      ASSERT_EQ(out[++o], t[u] >> 8) << "at " << at;
    }
    ++o;
    lines += u == 0x0A;
    at += len;
    ++k;
  }
  ASSERT_EQ(k, r.chars);
  ASSERT_EQ(o, r.out);
  ASSERT_EQ(lines, r.lines);
  const Bytes next(in.begin() + static_cast<long>(r.in), in.begin() + static_cast<long>(std::min(r.in + 3, in.size())));
  if (k && !next.empty() &&
      (next[0] == 0xCB || next[0] == 0xCC || next[0] >= 0xFE || next == Bytes{0xE3, 0x82, 0x9A})) {
    ASSERT_FALSE(u == 0x304B || u == 0x00E6 || u == 0x02E9) << "a pair base before a mark";
  }
}

TEST(BlockKernels, MapKernelAgreesWithItsReferenceAndTheTable) {
  const zk::Utf8MapKernel map = zk::utf8MapVector();
  std::mt19937 rnd(15);
  static const std::vector<Bytes> kPieces = {
      {0xE3, 0x81, 0x8B}, {0xE3, 0x82, 0x9A}, {0xC3, 0xA6}, {0xCB, 0xA9}, {0xCC, 0x80}, {0xE0, 0x80, 0x80},
      {0xC1, 0x81},       {0xFE},             {0xF0, 0x9F, 0x98, 0x80}, {0x80}, {0x0A}, {0x00}, {0xE3, 0x81}};
  for (int round = 0; round < 400; ++round) {
    const std::vector<std::uint16_t> t = randomTable(rnd);
    Bytes in;
    while (in.size() < 72 + rnd() % 300) {
      const std::uint32_t r = rnd() % 40;
      if (r < 12) {
        for (std::size_t n = r < 2 ? 64 + rnd() % 80 : 1 + rnd() % 6; n; --n) in.push_back(static_cast<unsigned char>(0x20 + rnd() % 0x5F));
      } else if (r < 34) {
        const std::uint32_t v = r < 31 ? 0x800 + rnd() % 0xF800 : 0x80 + rnd() % 0x780;
        if (v < 0x800) in.insert(in.end(), {static_cast<unsigned char>(0xC0 | v >> 6), static_cast<unsigned char>(0x80 | (v & 0x3F))});
        else in.insert(in.end(), {static_cast<unsigned char>(0xE0 | v >> 12), static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F)),
                                  static_cast<unsigned char>(0x80 | (v & 0x3F))});
      } else {
        const Bytes& piece = kPieces[rnd() % kPieces.size()];
        in.insert(in.end(), piece.begin(), piece.end());
      }
    }
    const std::size_t room = 64 + rnd() % 200;
    Bytes a(room + 64, 0xA5), b = a;
    const zk::BlockResult rb = zk::utf8MapScalar(in.data(), in.size(), b.data(), room, t.data());
    tookOnlyMappedCharacters(in, rb, b, t);
    if (::testing::Test::HasFatalFailure()) return;
    ASSERT_TRUE(std::all_of(b.begin() + static_cast<long>(rb.out), b.end(), [](unsigned char c) { return c == 0xA5; }));
    if (!map) continue;
    const zk::BlockResult ra = map(in.data(), in.size(), a.data(), room, t.data());
    ASSERT_TRUE(ra.in == rb.in && ra.out == rb.out && ra.chars == rb.chars && ra.lines == rb.lines &&
                (ra.chars < 1 || (ra.last == rb.last && ra.lastOut == rb.lastOut)) && (ra.chars < 2 || ra.prev == rb.prev))
        << "round " << round << ": in " << ra.in << "/" << rb.in << " chars " << ra.chars << "/" << rb.chars << " out " << ra.out << "/" << rb.out << " last " << ra.last << "/" << rb.last << " prev " << ra.prev << "/" << rb.prev << " lastOut " << ra.lastOut << "/" << rb.lastOut << " lines " << ra.lines << "/" << rb.lines;
    ASSERT_EQ(a, b) << "round " << round;
  }
  if (!map) GTEST_SKIP() << "no AVX-512: only the reference was checked";
}

// The same from UTF-16: what was taken must be units in the table, no
// surrogate, written as their bytes, and not a possible pair base before
// what may start a mark; the vector version must agree with the reference.
TEST(BlockKernels, Utf16MapKernelAgreesWithItsReferenceAndTheTable) {
  const zk::Utf16MapKernel map = zk::utf16MapVector();
  std::mt19937 rnd(17);
  static const std::uint32_t kOdd[] = {0x304B, 0x309A, 0x00E6, 0x0300, 0x02E9, 0x02E5, 0x02F0,
                                       0xD800, 0xDC00, 0x0A,   0x0D,   0x00,   0xFFFF};
  for (int round = 0; round < 400; ++round) {
    const bool big = round & 1;
    const std::vector<std::uint16_t> t = randomTable(rnd);
    std::vector<std::uint32_t> units;
    while (units.size() < 33 + rnd() % 150) {
      const std::uint32_t r = rnd() % 40;
      if (r < 10) {
        for (std::size_t n = r < 2 ? 32 + rnd() % 40 : 1 + rnd() % 6; n; --n)
          units.push_back(rnd() % 16 ? 0x20 + rnd() % 0x5F : 0x0A);
      } else {
        units.push_back(r < 34 ? 0x80 + rnd() % 0xFF80 : kOdd[rnd() % std::size(kOdd)]);
      }
    }
    Bytes in;
    for (const std::uint32_t u : units) {
      in.push_back(static_cast<unsigned char>(big ? u >> 8 : u));
      in.push_back(static_cast<unsigned char>(big ? u : u >> 8));
    }
    const std::size_t room = 64 + rnd() % 200;
    Bytes a(room + 64, 0xA5), b = a;
    const zk::BlockResult rb = zk::utf16MapScalar(in.data(), in.size(), b.data(), room, big, t.data());
    std::size_t o = 0, lines = 0;
    for (std::size_t k = 0; k < rb.chars; ++k) {
      const std::uint32_t u = units[k];
      ASSERT_TRUE((u < 0xD800 || u > 0xDFFF) && t[u]) << "unit " << k;
      ASSERT_EQ(b[o++], t[u] & 0xFF) << "unit " << k;
      if (t[u] > 0xFF) {
        ASSERT_EQ(b[o++], t[u] >> 8) << "unit " << k;
      }
      lines += u == 0x0A;
    }
    ASSERT_EQ(std::make_tuple(rb.in, rb.out, rb.lines), std::make_tuple(2 * rb.chars, o, lines));
    if (rb.chars) {
      const std::uint32_t next = units[rb.chars];
      ASSERT_FALSE((next == 0x309A || (next >= 0x2E5 && next <= 0x301)) &&
                   (units[rb.chars - 1] == 0x304B || units[rb.chars - 1] == 0x00E6 || units[rb.chars - 1] == 0x02E9))
          << "a pair base before a mark";
    }
    ASSERT_TRUE(std::all_of(b.begin() + static_cast<long>(rb.out), b.end(), [](unsigned char c) { return c == 0xA5; }));
    if (!map) continue;
    const zk::BlockResult ra = map(in.data(), in.size(), a.data(), room, big, t.data());
    ASSERT_TRUE(ra.in == rb.in && ra.out == rb.out && ra.chars == rb.chars && ra.lines == rb.lines &&
                (ra.chars < 1 || (ra.last == rb.last && ra.lastOut == rb.lastOut)) && (ra.chars < 2 || ra.prev == rb.prev))
        << "round " << round << ": chars " << ra.chars << "/" << rb.chars << " out " << ra.out << "/" << rb.out;
    ASSERT_EQ(a, b) << "round " << round;
  }
  if (!map) GTEST_SKIP() << "no AVX-512: only the reference was checked";
}

#if ZK_HAVE_SSE2
TEST(AsciiKernels, AgreeWithScalarReferences) {
  std::mt19937 rnd(16);
  for (int round = 0; round < 2000; ++round) {
    zk::PlainAscii c;
    c.lo = static_cast<std::uint8_t>(rnd() % 0x22);
    for (auto& e : c.ex) e = static_cast<std::uint8_t>(rnd() % 0x81);
    const zk::PlainVectors v(c);
    const std::size_t align = static_cast<std::size_t>(round % 16);
    Bytes buf(align + 48);
    for (auto& b : buf) b = static_cast<unsigned char>(rnd() % 5 ? rnd() % 0x80 : rnd());
    // A plain run of random length from the start, so every prefix length occurs.
    for (std::size_t i = 0, n = rnd() % 18; i < n && i < 32; ++i)
      buf[align + i] = static_cast<unsigned char>(0x60 + rnd() % 0x1F);
    const unsigned char* p = buf.data() + align;
    ASSERT_EQ(zk::plainPrefix16(p, v), zk::plainPrefix16Scalar(p, c)) << round;
    for (bool big : {false, true})
      ASSERT_EQ(zk::plainPrefix8x16(p, big, v), zk::plainPrefix8x16Scalar(p, big, c)) << round;

    Bytes a(align + 40, 0xA5), b(align + 40, 0xA5);
    const bool big = round & 1;
    zk::widen16(a.data() + align, p, big);
    zk::widen16Scalar(b.data() + align, p, big);
    ASSERT_EQ(a, b);
    zk::narrow8(a.data() + align, p, big);
    zk::narrow8Scalar(b.data() + align, p, big);
    ASSERT_EQ(a, b);
  }
}
#endif

TEST(AsciiKernels, CopyUpTo16WritesExactlyItsBytes) {
  Bytes src(64);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<unsigned char>(i + 1);
  for (std::uint32_t k = 1; k <= 16; ++k)
    for (std::size_t align = 0; align < 16; ++align) {
      Bytes dst(48, 0xA5), want(48, 0xA5);
      zk::copyUpTo16(dst.data() + align, src.data() + align, k);
      std::copy(src.begin() + static_cast<long>(align), src.begin() + static_cast<long>(align + k),
                want.begin() + static_cast<long>(align));
      ASSERT_EQ(dst, want) << "k " << k << " align " << align;
    }
}

}  // namespace
