// UTF-8 validation 32 bytes at a time with AVX2, by the lookup-table method
// of Keiser and Lemire ("Validating UTF-8 in less than one instruction per
// byte", 2021): three 16-entry tables indexed by the high and low nibbles of
// each byte and the high nibble of the byte before it flag every error of a
// two-byte window; lead bytes two and three places back say where
// continuation bytes must be. Only the functions here use AVX2; the kernel is
// chosen at run time (zkhost_kernels.cpp).
#include "zkhost_kernels.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define ZKH_AVX2 __attribute__((target("avx2")))

namespace zkh {
namespace {

// Error classes of a pair of bytes (the byte before, this byte).
constexpr char kTooShort = 1 << 0;   // lead then ASCII or lead
constexpr char kTooLong = 1 << 1;    // ASCII then continuation
constexpr char kOverlong3 = 1 << 2;  // E0 80-9F
constexpr char kTooLarge = 1 << 3;   // F4 90-BF, F5-FF ..
constexpr char kSurrogate = 1 << 4;  // ED A0-BF
constexpr char kOverlong2 = 1 << 5;  // C0, C1
constexpr char kTooLarge1000 = 1 << 6;
constexpr char kOverlong4 = 1 << 6;  // F0 80-8F
constexpr char kTwoConts = static_cast<char>(1 << 7);  // continuation then continuation
constexpr char kCarry = kTooShort | kTooLong | kTwoConts;

ZKH_AVX2 inline __m256i table(char a0, char a1, char a2, char a3, char a4, char a5, char a6,
                              char a7, char a8, char a9, char a10, char a11, char a12,
                              char a13, char a14, char a15) {
  return _mm256_setr_epi8(a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15,
                          a0, a1, a2, a3, a4, a5, a6, a7, a8, a9, a10, a11, a12, a13, a14, a15);
}

// The input moved N bytes later, with the end of the previous block in front.
template <int N>
ZKH_AVX2 inline __m256i before(__m256i in, __m256i prev) {
  return _mm256_alignr_epi8(in, _mm256_permute2x128_si256(prev, in, 0x21), 16 - N);
}

ZKH_AVX2 inline __m256i nibbleHigh(__m256i v) {
  return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}

ZKH_AVX2 __m256i blockErrors(__m256i in, __m256i prev) {
  const __m256i prev1 = before<1>(in, prev);
  const __m256i byte1High = _mm256_shuffle_epi8(
      table(kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong, kTooLong,
            kTwoConts, kTwoConts, kTwoConts, kTwoConts, kTooShort | kOverlong2, kTooShort,
            kTooShort | kOverlong3 | kSurrogate,
            kTooShort | kTooLarge | kTooLarge1000 | kOverlong4),
      nibbleHigh(prev1));
  const __m256i byte1Low = _mm256_shuffle_epi8(
      table(kCarry | kOverlong3 | kOverlong2 | kOverlong4, kCarry | kOverlong2, kCarry, kCarry,
            kCarry | kTooLarge, kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000,
            kCarry | kTooLarge | kTooLarge1000 | kSurrogate,
            kCarry | kTooLarge | kTooLarge1000, kCarry | kTooLarge | kTooLarge1000),
      _mm256_and_si256(prev1, _mm256_set1_epi8(0x0F)));
  const char c1000 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4;
  const char c1001 = kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge;
  const char c101 = kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge;
  const __m256i byte2High = _mm256_shuffle_epi8(
      table(kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort, kTooShort,
            kTooShort, c1000, c1001, c101, c101, kTooShort, kTooShort, kTooShort, kTooShort),
      nibbleHigh(in));
  const __m256i special = _mm256_and_si256(_mm256_and_si256(byte1High, byte1Low), byte2High);
  // Where a third or fourth byte must stand: two after E0-FF, three after F0-FF.
  const __m256i third = _mm256_subs_epu8(before<2>(in, prev), _mm256_set1_epi8(0xE0 - 0x80));
  const __m256i fourth = _mm256_subs_epu8(before<3>(in, prev), _mm256_set1_epi8(0xF0 - 0x80));
  const __m256i must = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(-128));
  return _mm256_xor_si256(must, special);
}

// Not zero when the block ends inside a character.
ZKH_AVX2 inline __m256i unfinished(__m256i in) {
  const __m256i max = _mm256_setr_epi8(-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                       -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,
                                       -1, char(0xF0 - 1), char(0xE0 - 1), char(0xC0 - 1));
  return _mm256_subs_epu8(in, max);
}

}  // namespace

ZKH_AVX2 std::size_t utf8PrefixAvx2(const unsigned char* p, std::size_t n, int* multi) {
  std::size_t i = 0;
  int seen = 0;
  __m256i prev = _mm256_setzero_si256();
  __m256i pending = _mm256_setzero_si256();
  for (; i + 32 <= n; i += 32) {
    const __m256i in = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i));
    const unsigned high = static_cast<unsigned>(_mm256_movemask_epi8(in));
    const __m256i err = high == 0 ? pending : blockErrors(in, prev);
    if (!_mm256_testz_si256(err, err)) break;
    // A well-formed block whose first 29 bytes hold a non-ASCII byte holds a
    // whole multi-byte character.
    seen |= (high & 0x1FFFFFFFu) != 0;
    pending = high == 0 ? _mm256_setzero_si256() : unfinished(in);
    prev = in;
  }
  // A character that begins in the last three bytes of a block is checked
  // only with the next block: the exact loop takes over from its start.
  std::size_t start = i;
  for (std::size_t k = 1; k <= 3 && k <= i; ++k) {
    const unsigned char c = p[i - k];
    if ((c & 0xC0) == 0x80) continue;
    if (c >= 0x80) start = i - k;
    break;
  }
  int tail = 0;
  const std::size_t len = start + utf8PrefixSse2(p + start, n - start, &tail);
  if (multi) *multi = seen | tail;
  return len;
}

bool haveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have;
}

}  // namespace zkh

#else

namespace zkh {
std::size_t utf8PrefixAvx2(const unsigned char* p, std::size_t n, int* multi) {
  return utf8PrefixSse2(p, n, multi);
}
bool haveAvx2() { return false; }
}  // namespace zkh

#endif
