// Block kernels between UTF-8 and UTF-16 (see blocks.h). The SSSE3 versions
// are ordinary functions compiled for that instruction set and only called
// after a run-time check, so the library itself runs on any x86-64.
#include "engine/blocks.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <tmmintrin.h>
#define ZK_BLOCKS_SSSE3 1
#endif

namespace zk {

namespace {

// Whether a JIS X 0213 combining mark (U+309A, U+02E5, U+02E9, U+0300,
// U+0301) or bytes the UTF-8 reader skips may start at q.
inline bool utf8MayCombine(const unsigned char* q) {
  if (q[0] == 0xE3) return q[1] == 0x82 && q[2] == 0x9A;
  return q[0] == 0xCB || q[0] == 0xCC || q[0] >= 0xFE;
}

inline bool isCombining(std::uint32_t u) { return u == 0x309A || (u >= 0x2E5 && u <= 0x301); }

inline std::uint32_t unitAt(const unsigned char* p, bool big) {
  return big ? (std::uint32_t{p[0]} << 8) | p[1] : (std::uint32_t{p[1]} << 8) | p[0];
}

inline bool stops(std::uint32_t u, bool newline) {
  return isCombining(u) || (newline && (u == 0x2028 || u == 0x2029));
}

}  // namespace

std::size_t utf8To16BlocksScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                 std::size_t outLeft, bool big, bool newline) {
  std::size_t blocks = 0;
  while (inLeft >= 16 && outLeft >= 8) {
    std::uint32_t u[4];
    bool ok = true;
    for (int i = 0; i < 4 && ok; ++i) {
      const unsigned char* s = in + 3 * i;
      ok = (s[0] & 0xF0) == 0xE0;
      u[i] = ((s[0] & 0x0Fu) << 12) | ((s[1] & 0x3Fu) << 6) | (s[2] & 0x3Fu);
      ok = ok && !stops(u[i], newline);
    }
    if (!ok || utf8MayCombine(in + 12)) break;
    for (int i = 0; i < 4; ++i) {
      out[2 * i] = static_cast<unsigned char>(big ? u[i] >> 8 : u[i]);
      out[2 * i + 1] = static_cast<unsigned char>(big ? u[i] : u[i] >> 8);
    }
    in += 12;
    out += 8;
    inLeft -= 12;
    outLeft -= 8;
    ++blocks;
  }
  return blocks;
}

std::size_t utf16To8BlocksScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                 std::size_t outLeft, bool big, bool newline) {
  std::size_t blocks = 0;
  while (inLeft >= 18 && outLeft >= 24) {
    bool ok = !isCombining(unitAt(in + 16, big));
    for (int i = 0; i < 8 && ok; ++i) {
      const std::uint32_t u = unitAt(in + 2 * i, big);
      ok = u >= 0x800 && (u < 0xD800 || u > 0xDFFF) && !stops(u, newline);
    }
    if (!ok) break;
    for (int i = 0; i < 8; ++i) {
      const std::uint32_t u = unitAt(in + 2 * i, big);
      out[3 * i] = static_cast<unsigned char>(0xE0 | (u >> 12));
      out[3 * i + 1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
      out[3 * i + 2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
    }
    in += 16;
    out += 24;
    inLeft -= 16;
    outLeft -= 24;
    ++blocks;
  }
  return blocks;
}

#if ZK_BLOCKS_SSSE3

namespace {

// Lanes of 16 bits equal to v, or (unsigned) within [lo, lo + n].
[[gnu::target("ssse3")]] inline __m128i inRange16(__m128i v, short lo, short n) {
  const __m128i d = _mm_sub_epi16(v, _mm_set1_epi16(lo));
  return _mm_cmpeq_epi16(_mm_subs_epu16(d, _mm_set1_epi16(n)), _mm_setzero_si128());
}

[[gnu::target("ssse3")]] inline __m128i stopLanes(__m128i u, bool newline) {
  __m128i bad = _mm_or_si128(_mm_cmpeq_epi16(u, _mm_set1_epi16(0x309A)), inRange16(u, 0x2E5, 0x301 - 0x2E5));
  if (newline) bad = _mm_or_si128(bad, inRange16(u, 0x2028, 1));
  return bad;
}

[[gnu::target("ssse3")]] std::size_t utf8To16Ssse3(const unsigned char* in, std::size_t inLeft,
                                                   unsigned char* out, std::size_t outLeft, bool big,
                                                   bool newline) {
  // Lane i: lead << 8 | second byte, and the third byte.
  const __m128i pickA = _mm_setr_epi8(1, 0, 4, 3, 7, 6, 10, 9, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i pickB = _mm_setr_epi8(2, -1, 5, -1, 8, -1, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  std::size_t blocks = 0;
  while (inLeft >= 16 && outLeft >= 8) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    const __m128i leads = _mm_cmpeq_epi8(_mm_and_si128(v, _mm_set1_epi8(static_cast<char>(0xF0))),
                                         _mm_set1_epi8(static_cast<char>(0xE0)));
    if ((_mm_movemask_epi8(leads) & 0x249) != 0x249) break;
    const __m128i a = _mm_shuffle_epi8(v, pickA);
    const __m128i b = _mm_shuffle_epi8(v, pickB);
    const __m128i u = _mm_or_si128(
        _mm_or_si128(_mm_slli_epi16(_mm_and_si128(a, _mm_set1_epi16(0x0F00)), 4),
                     _mm_slli_epi16(_mm_and_si128(a, _mm_set1_epi16(0x003F)), 6)),
        _mm_and_si128(b, _mm_set1_epi16(0x003F)));
    if ((_mm_movemask_epi8(stopLanes(u, newline)) & 0xFF) || utf8MayCombine(in + 12)) break;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out), big ? _mm_shuffle_epi8(u, swap) : u);
    in += 12;
    out += 8;
    inLeft -= 12;
    outLeft -= 8;
    ++blocks;
  }
  return blocks;
}

[[gnu::target("ssse3")]] std::size_t utf16To8Ssse3(const unsigned char* in, std::size_t inLeft,
                                                   unsigned char* out, std::size_t outLeft, bool big,
                                                   bool newline) {
  const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  // From [t1 x8 | t2 x8] and [t3 x8 | t3 x8]: the 24 bytes t1 t2 t3 of each unit.
  const __m128i lo12 = _mm_setr_epi8(0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5);
  const __m128i lo3 = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
  const __m128i hi12 = _mm_setr_epi8(13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i hi3 = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1);
  std::size_t blocks = 0;
  while (inLeft >= 18 && outLeft >= 24) {
    __m128i u = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
    if (big) u = _mm_shuffle_epi8(u, swap);
    // Below U+0800 (signed compare after the bias keeps U+8000 and above apart).
    const __m128i bias = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i small = _mm_cmplt_epi16(_mm_xor_si128(u, bias), _mm_set1_epi16(static_cast<short>(0x8800)));
    const __m128i surrogate = inRange16(u, static_cast<short>(0xD800), 0x7FF);
    const __m128i bad = _mm_or_si128(_mm_or_si128(small, surrogate), stopLanes(u, newline));
    if (_mm_movemask_epi8(bad) || isCombining(unitAt(in + 16, big))) break;
    const __m128i t1 = _mm_or_si128(_mm_srli_epi16(u, 12), _mm_set1_epi16(0xE0));
    const __m128i t2 = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(u, 6), _mm_set1_epi16(0x3F)),
                                    _mm_set1_epi16(0x80));
    const __m128i t3 = _mm_or_si128(_mm_and_si128(u, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
    const __m128i p12 = _mm_packus_epi16(t1, t2);
    const __m128i p3 = _mm_packus_epi16(t3, t3);
    const __m128i first = _mm_or_si128(_mm_shuffle_epi8(p12, lo12), _mm_shuffle_epi8(p3, lo3));
    const __m128i rest = _mm_or_si128(_mm_shuffle_epi8(p12, hi12), _mm_shuffle_epi8(p3, hi3));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), first);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 16), rest);
    in += 16;
    out += 24;
    inLeft -= 16;
    outLeft -= 24;
    ++blocks;
  }
  return blocks;
}

bool haveSsse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}

}  // namespace

Utf8To16Blocks utf8To16BlocksVector() { return haveSsse3() ? utf8To16Ssse3 : nullptr; }
Utf16To8Blocks utf16To8BlocksVector() { return haveSsse3() ? utf16To8Ssse3 : nullptr; }

#else

Utf8To16Blocks utf8To16BlocksVector() { return nullptr; }
Utf16To8Blocks utf16To8BlocksVector() { return nullptr; }

#endif

}  // namespace zk
