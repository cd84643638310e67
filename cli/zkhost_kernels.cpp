// Validator kernels: SSE2 (the x86-64 baseline) passes whole vectors that need
// no care (16 ASCII bytes; 8 UTF-16 units without a surrogate; 4 UCS-4 values
// in range), a scalar loop takes the characters in between. Other
// processors run the scalar loops alone.
#include "zkhost_kernels.h"

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ZKH_SSE2 1
#endif

namespace zkh {

namespace {

#if ZKH_SSE2
inline __m128i load16(const unsigned char* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
#endif

// Bytes of ASCII from p on, within n.
inline std::size_t asciiRun(const unsigned char* p, std::size_t n) {
  std::size_t i = 0;
#if ZKH_SSE2
  for (; i + 16 <= n; i += 16) {
    const int mask = _mm_movemask_epi8(load16(p + i));
    if (mask != 0) return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
  }
#endif
  while (i < n && p[i] < 0x80) ++i;
  return i;
}

inline bool cont(unsigned char b) { return (b & 0xC0) == 0x80; }

}  // namespace

std::size_t utf8Prefix(const unsigned char* p, std::size_t n, int* multi) {
  return haveAvx2() ? utf8PrefixAvx2(p, n, multi) : utf8PrefixSse2(p, n, multi);
}

std::size_t utf8PrefixSse2(const unsigned char* p, std::size_t n, int* multi) {
  std::size_t i = 0;
  int seen = 0;
  while (i < n) {
    if (p[i] < 0x80) {
      i += asciiRun(p + i, n - i);
      continue;
    }
    // A run of multi-byte characters, the bulk of Japanese text; three-byte
    // ones first.
    const std::size_t run = i;
    do {
      const unsigned char b = p[i];
      if (b >= 0xE0 && b < 0xF0) {
        if (n - i < 3) break;
        const unsigned char b1 = p[i + 1];
        const bool ok = b == 0xE0 ? b1 >= 0xA0 : b == 0xED ? b1 < 0xA0 : true;
        if (!ok || !cont(b1) || !cont(p[i + 2])) break;
        i += 3;
      } else if (b >= 0xC2 && b < 0xE0) {
        if (n - i < 2 || !cont(p[i + 1])) break;
        i += 2;
      } else if (b >= 0xF0 && b <= 0xF4) {
        if (n - i < 4) break;
        const Utf8Lead l = utf8Lead(b);
        const unsigned char b1 = p[i + 1];
        if (b1 < l.lo || b1 > l.hi || !cont(p[i + 2]) || !cont(p[i + 3])) break;
        i += 4;
      } else {
        break;
      }
    } while (i < n && p[i] >= 0x80);
    seen |= i > run;
    if (i < n && p[i] >= 0x80) break;
  }
  if (multi) *multi = seen;
  return i;
}

std::size_t utf16Prefix(const unsigned char* p, std::size_t n, bool big, bool pairs) {
  std::size_t i = 0;
  for (;;) {
#if ZKH_SSE2
    // A unit is a surrogate when its high byte is D8-DF; in little-endian
    // 16-bit lanes the high byte of a big-endian unit is the low one.
    const __m128i mask = _mm_set1_epi16(static_cast<short>(big ? 0x00F8 : 0xF800));
    const __m128i sur = _mm_set1_epi16(static_cast<short>(big ? 0x00D8 : 0xD800));
    while (i + 16 <= n &&
           _mm_movemask_epi8(_mm_cmpeq_epi16(_mm_and_si128(load16(p + i), mask), sur)) == 0)
      i += 16;
#endif
    // Up to the next vector: units one by one.
    const std::size_t stop = n - i >= 16 ? i + 16 : n;
    while (i + 2 <= stop) {
      const std::uint32_t u = unit16(p + i, big);
      if (u < 0xD800 || u > 0xDFFF) {
        i += 2;
        continue;
      }
      if (!pairs || u > 0xDBFF || n - i < 4) return i;
      const std::uint32_t v = unit16(p + i + 2, big);
      if (v < 0xDC00 || v > 0xDFFF) return i;
      i += 4;
    }
    if (i + 2 > n) return i;
  }
}

std::size_t ucs4Prefix(const unsigned char* p, std::size_t n, bool big) {
  std::size_t i = 0;
#if ZKH_SSE2
  const __m128i surMask = _mm_set1_epi32(static_cast<int>(0xFFFFF800u));
  const __m128i sur = _mm_set1_epi32(0xD800);
  const __m128i top = _mm_set1_epi32(0x10);
  for (; i + 16 <= n; i += 16) {
    __m128i v = load16(p + i);
    if (big) {  // swap the bytes of each 32-bit lane
      v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
      v = _mm_shufflehi_epi16(_mm_shufflelo_epi16(v, 0xB1), 0xB1);
    }
    const __m128i bad = _mm_or_si128(_mm_cmpgt_epi32(_mm_srli_epi32(v, 16), top),
                                     _mm_cmpeq_epi32(_mm_and_si128(v, surMask), sur));
    if (_mm_movemask_epi8(bad) != 0) break;
  }
#endif
  for (; i + 4 <= n; i += 4) {
    const std::uint32_t u = unit32(p + i, big);
    if (u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) break;
  }
  return i;
}

// ---- references: one character at a time, straight from the tables ----

std::size_t utf8PrefixRef(const unsigned char* p, std::size_t n, int* multi) {
  std::size_t i = 0;
  int seen = 0;
  while (i < n) {
    const Utf8Lead l = utf8Lead(p[i]);
    if (l.length == 0 || n - i < l.length) break;
    bool ok = true;
    for (std::size_t k = 1; k < l.length && ok; ++k)
      ok = k == 1 ? p[i + 1] >= l.lo && p[i + 1] <= l.hi : cont(p[i + k]);
    if (!ok) break;
    seen |= l.length > 1;
    i += l.length;
  }
  if (multi) *multi = seen;
  return i;
}

std::size_t utf16PrefixRef(const unsigned char* p, std::size_t n, bool big, bool pairs) {
  std::size_t i = 0;
  while (n - i >= 2) {
    const std::uint32_t u = unit16(p + i, big);
    if (u < 0xD800 || u > 0xDFFF) {
      i += 2;
    } else if (pairs && u < 0xDC00 && n - i >= 4 && unit16(p + i + 2, big) >= 0xDC00 &&
               unit16(p + i + 2, big) <= 0xDFFF) {
      i += 4;
    } else {
      break;
    }
  }
  return i;
}

std::size_t ucs4PrefixRef(const unsigned char* p, std::size_t n, bool big) {
  std::size_t i = 0;
  while (n - i >= 4) {
    const std::uint32_t u = unit32(p + i, big);
    if (u > 0x10FFFF || (u >= 0xD800 && u <= 0xDFFF)) break;
    i += 4;
  }
  return i;
}

}  // namespace zkh
