// Fast kernels of the Unicode validator and their plain references.
//
// A kernel has one contract: return the length of the longest prefix of
// p[0..n) made of complete, well-formed characters. It stops before anything
// unusual (an ill-formed or unfinished character), where the validator's
// byte-by-byte state machine takes over with nothing to undo. The references
// give the same answers one character at a time; the tests compare the two.
#ifndef ZKHOST_KERNELS_H
#define ZKHOST_KERNELS_H

#include <cstddef>
#include <cstdint>

namespace zkh {

// UTF-8; *multi becomes 1 when the prefix holds a sequence of 2 to 4 bytes.
// utf8Prefix takes the AVX2 kernel where the processor has it, else the SSE2
// one (which passes only ASCII a vector at a time).
std::size_t utf8Prefix(const unsigned char* p, std::size_t n, int* multi);
std::size_t utf8PrefixSse2(const unsigned char* p, std::size_t n, int* multi);
std::size_t utf8PrefixAvx2(const unsigned char* p, std::size_t n, int* multi);
bool haveAvx2();
// UTF-16 (pairs allowed) or UCS-2 (no surrogates at all), in units of 2.
std::size_t utf16Prefix(const unsigned char* p, std::size_t n, bool big, bool pairs);
// UCS-4 in units of 4: values up to 10FFFF outside D800-DFFF.
std::size_t ucs4Prefix(const unsigned char* p, std::size_t n, bool big);

std::size_t utf8PrefixRef(const unsigned char* p, std::size_t n, int* multi);
std::size_t utf16PrefixRef(const unsigned char* p, std::size_t n, bool big, bool pairs);
std::size_t ucs4PrefixRef(const unsigned char* p, std::size_t n, bool big);

// Bytes a UTF-8 character with this lead byte has when well-formed (0: the
// byte begins none), and the range its second byte must lie in.
struct Utf8Lead {
  std::uint8_t length, lo, hi;
};
inline Utf8Lead utf8Lead(unsigned char b) {
  if (b < 0x80) return {1, 0, 0};
  if (b < 0xC2) return {0, 0, 0};
  if (b < 0xE0) return {2, 0x80, 0xBF};
  if (b == 0xE0) return {3, 0xA0, 0xBF};  // shorter forms are overlong
  if (b == 0xED) return {3, 0x80, 0x9F};  // ED A0-BF would be surrogates
  if (b < 0xF0) return {3, 0x80, 0xBF};
  if (b == 0xF0) return {4, 0x90, 0xBF};
  if (b < 0xF4) return {4, 0x80, 0xBF};
  if (b == 0xF4) return {4, 0x80, 0x8F};  // beyond would pass U+10FFFF
  return {0, 0, 0};
}

inline std::uint32_t unit16(const unsigned char* p, bool big) {
  return big ? (std::uint32_t{p[0]} << 8 | p[1]) : (std::uint32_t{p[1]} << 8 | p[0]);
}
inline std::uint32_t unit32(const unsigned char* p, bool big) {
  return big ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3])
             : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[1]} << 8 | p[0]);
}

}  // namespace zkh

#endif
