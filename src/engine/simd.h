// Kernels for runs of plain ASCII in the bulk path, 16 bytes (or 8 UTF-16
// units) at a time. Each has a portable scalar version, which is also the
// reference that the SSE2 version is tested against; SSE2 is part of every
// x86-64 processor, so no run-time dispatch is needed for it.
//
// A byte is plain when the conversion writes it as itself and needs no
// decision about it: below 0x80, not below `lo` and none of the exceptions
// (the line ends, when line ends are converted).
#ifndef ZRKVT16_SIMD_H
#define ZRKVT16_SIMD_H

#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define ZK_HAVE_SSE2 1
#endif

namespace zk {

struct PlainAscii {
  std::uint8_t lo = 0;       // plain bytes are lo..0x7F ...
  std::uint8_t ex[3] = {};   // ... except these (repeat one to use fewer)
};

inline bool isPlainAscii(const PlainAscii& c, std::uint32_t b) {
  return b < 0x80 && b >= c.lo && b != c.ex[0] && b != c.ex[1] && b != c.ex[2];
}

// ---- scalar references ----

// Leading plain bytes among the 16 at p.
inline std::uint32_t plainPrefix16Scalar(const unsigned char* p, const PlainAscii& c) {
  std::uint32_t k = 0;
  while (k < 16 && isPlainAscii(c, p[k])) ++k;
  return k;
}

// Leading UTF-16 units among the 8 at p (byte order `big`) that are plain.
inline std::uint32_t plainPrefix8x16Scalar(const unsigned char* p, bool big, const PlainAscii& c) {
  std::uint32_t k = 0;
  while (k < 8) {
    const std::uint32_t u = big ? (std::uint32_t{p[2 * k]} << 8) | p[2 * k + 1]
                                : (std::uint32_t{p[2 * k + 1]} << 8) | p[2 * k];
    if (u >= 0x80 || !isPlainAscii(c, u)) break;
    ++k;
  }
  return k;
}

// 16 bytes as 16 UTF-16 units (32 bytes) in byte order `big`.
inline void widen16Scalar(unsigned char* d, const unsigned char* s, bool big) {
  for (int i = 0; i < 16; ++i) {
    d[2 * i] = big ? 0 : s[i];
    d[2 * i + 1] = big ? s[i] : 0;
  }
}

// 8 UTF-16 units below 0x100 as 8 bytes.
inline void narrow8Scalar(unsigned char* d, const unsigned char* s, bool big) {
  for (int i = 0; i < 8; ++i) d[i] = s[2 * i + (big ? 1 : 0)];
}

// ---- vector versions ----

#if ZK_HAVE_SSE2
// The bounds of plain bytes in every lane, made once per run of a loop.
struct PlainVectors {
  __m128i lo, ex0, ex1, ex2;
  explicit PlainVectors(const PlainAscii& c)
      : lo(_mm_set1_epi8(static_cast<char>(c.lo))),
        ex0(_mm_set1_epi8(static_cast<char>(c.ex[0]))),
        ex1(_mm_set1_epi8(static_cast<char>(c.ex[1]))),
        ex2(_mm_set1_epi8(static_cast<char>(c.ex[2]))) {}
};

// Bit i set when byte i of v is not plain.
inline std::uint32_t notPlainMask(__m128i v, const PlainVectors& c) {
  // Bytes of 0x80 and above are negative as signed bytes, so "below lo"
  // (signed) catches them too, lo being at most 0x7F.
  __m128i bad = _mm_cmplt_epi8(v, c.lo);
  bad = _mm_or_si128(bad, _mm_cmpeq_epi8(v, c.ex0));
  bad = _mm_or_si128(bad, _mm_cmpeq_epi8(v, c.ex1));
  bad = _mm_or_si128(bad, _mm_cmpeq_epi8(v, c.ex2));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(bad));
}

inline std::uint32_t plainPrefix16(const unsigned char* p, const PlainVectors& c) {
  const std::uint32_t bad = notPlainMask(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), c);
  return bad == 0 ? 16 : static_cast<std::uint32_t>(__builtin_ctz(bad));
}

inline std::uint32_t plainPrefix8x16(const unsigned char* p, bool big, const PlainVectors& c) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i u = big ? _mm_or_si128(_mm_srli_epi16(v, 8), _mm_slli_epi16(v, 8)) : v;
  const __m128i low = _mm_set1_epi16(0x00FF);
  // Units whose high byte is 0, as bytes of all ones; and the low bytes.
  const __m128i narrow = _mm_cmpeq_epi16(_mm_andnot_si128(low, u), _mm_setzero_si128());
  const __m128i bytes = _mm_packus_epi16(_mm_and_si128(u, low), _mm_setzero_si128());
  const std::uint32_t wide = ~static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_packs_epi16(narrow, narrow)));
  const std::uint32_t bad = ((notPlainMask(bytes, c) | wide) & 0xFF) | 0x100;
  return static_cast<std::uint32_t>(__builtin_ctz(bad));
}

inline void widen16(unsigned char* d, const unsigned char* s, bool big) {
  const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  const __m128i z = _mm_setzero_si128();
  const __m128i a = big ? _mm_unpacklo_epi8(z, v) : _mm_unpacklo_epi8(v, z);
  const __m128i b = big ? _mm_unpackhi_epi8(z, v) : _mm_unpackhi_epi8(v, z);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d), a);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), b);
}

inline void narrow8(unsigned char* d, const unsigned char* s, bool big) {
  __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s));
  v = big ? _mm_srli_epi16(v, 8) : _mm_and_si128(v, _mm_set1_epi16(0x00FF));
  _mm_storel_epi64(reinterpret_cast<__m128i*>(d), _mm_packus_epi16(v, v));
}

inline void copy16(unsigned char* d, const unsigned char* s) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(d),
                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(s)));
}
#else
struct PlainVectors {
  PlainAscii c;
  explicit PlainVectors(const PlainAscii& a) : c(a) {}
};
inline std::uint32_t plainPrefix16(const unsigned char* p, const PlainVectors& v) {
  return plainPrefix16Scalar(p, v.c);
}
inline std::uint32_t plainPrefix8x16(const unsigned char* p, bool big, const PlainVectors& v) {
  return plainPrefix8x16Scalar(p, big, v.c);
}
inline void widen16(unsigned char* d, const unsigned char* s, bool big) { widen16Scalar(d, s, big); }
inline void narrow8(unsigned char* d, const unsigned char* s, bool big) { narrow8Scalar(d, s, big); }
inline void copy16(unsigned char* d, const unsigned char* s) { std::memcpy(d, s, 16); }
#endif

// Copies exactly k bytes, 1 <= k <= 16, with at most two overlapping moves:
// nothing outside d[0..k) is written.
inline void copyUpTo16(unsigned char* d, const unsigned char* s, std::uint32_t k) {
  if (k >= 8) {
    std::uint64_t a, b;
    std::memcpy(&a, s, 8);
    std::memcpy(&b, s + k - 8, 8);
    std::memcpy(d, &a, 8);
    std::memcpy(d + k - 8, &b, 8);
  } else if (k >= 4) {
    std::uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + k - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + k - 4, &b, 4);
  } else if (k >= 2) {
    std::uint16_t a, b;
    std::memcpy(&a, s, 2);
    std::memcpy(&b, s + k - 2, 2);
    std::memcpy(d, &a, 2);
    std::memcpy(d + k - 2, &b, 2);
  } else if (k == 1) {
    d[0] = s[0];
  }
}

}  // namespace zk

#endif
