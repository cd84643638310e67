// Block kernels between UTF-8 and UTF-16 for text of one-, two- and
// three-byte UTF-8 sequences (ASCII, kana, kanji and most other text), as
// long as they need nothing but arithmetic; the caller goes on character by
// character where a kernel stops. A kernel stops before sequences that are
// not well formed (the general path reads those its own way), surrogates in
// UTF-16, a JIS X 0213 combining mark (or what may start one after the
// step), and, with line ends converted, CR, LF, U+2028 and U+2029 (the
// characters before a line end are still written).
//
// Each direction has two kinds of steps. With AVX2, UTF-8 to UTF-16 takes
// every character that ends within 29 bytes of a 32-byte window (32 ASCII
// bytes at once), and UTF-16 to UTF-8 sixteen units of any length. With
// SSSE3, UTF-8 to UTF-16 takes 16 ASCII characters, four three-byte ones,
// or else the next four whatever their lengths; UTF-16 to UTF-8 eight ASCII
// units, eight three-byte ones, or else four of any length.
//
// A third kernel takes UTF-8 to the one- and two-byte results of a
// code-point table (the legacy targets), in windows of 64 bytes.
//
// The vector versions are chosen once at run time; each has a scalar
// version that takes exactly the same steps and is its reference. None
// writes a byte beyond what it reports.
#ifndef ZRKVT16_BLOCKS_H
#define ZRKVT16_BLOCKS_H

#include <cstddef>
#include <cstdint>

namespace zk {

// What a kernel did: bytes read and written, characters converted and, when
// there are at least two, the input offsets where the last two began; and
// how many characters after them the caller should take one by one before
// asking again (0 when the kernel ran out of input or room).
struct BlockResult {
  std::size_t in = 0, out = 0, chars = 0, last = 0, prev = 0, hold = 0;
  std::size_t lastOut = 0;  // map kernels: where the last character's bytes begin
  std::size_t lines = 0;    // LFs taken that the caller counts units for
};

// With `newline` (line ends converted) the one line end that comes out as
// itself is given as `keep` (LF when LF is written, U+2028 or U+2029 when
// they are; 0 for none): it needs no stop. `keep` may also be kLfAsCrLf:
// every line end stops the SSSE3 kernels, but the AVX2 ones (and their
// references) write an LF that stopped a step as CR LF themselves, count it
// in `lines` and go on.
constexpr std::uint32_t kLfAsCrLf = 0xFFFFFFFFu;
//
// UTF-8 to UTF-16 in the byte order `big`. Steps while 16 bytes can be read
// and 32 written (the AVX2 steps: 32 and 80).
using Utf8To16Kernel = BlockResult (*)(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                       std::size_t outLeft, bool big, bool newline, std::uint32_t keep);
// UTF-16 in the byte order `big` to UTF-8. Steps while 18 bytes can be read
// and 40 written (the AVX2 steps: 34 and 64).
using Utf16To8Kernel = BlockResult (*)(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                       std::size_t outLeft, bool big, bool newline, std::uint32_t keep);

BlockResult utf8To16Scalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                           std::size_t outLeft, bool big, bool newline, std::uint32_t keep);
BlockResult utf8To16WideScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                               std::size_t outLeft, bool big, bool newline, std::uint32_t keep);
BlockResult utf16To8Scalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                           std::size_t outLeft, bool big, bool newline, std::uint32_t keep);
BlockResult utf16To8WideScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                               std::size_t outLeft, bool big, bool newline, std::uint32_t keep);
// The fastest vector versions, or null when the processor lacks SSSE3.
Utf8To16Kernel utf8To16Vector();
Utf16To8Kernel utf16To8Vector();
// One kind of steps, or null when the processor lacks it: the references
// are the scalar versions of the same name (Wide for AVX2).
Utf8To16Kernel utf8To16Ssse3Only();
Utf8To16Kernel utf8To16Avx2Only();
Utf16To8Kernel utf16To8Ssse3Only();
Utf16To8Kernel utf16To8Avx2Only();

// UTF-8 to the bytes of a code-point table: `ucs` holds for each code point
// below U+10000 (and one entry more, read but unused) its one byte, or its
// two bytes first byte lowest, none of them zero; 0 where the caller goes
// on itself, which must include the combining marks of JIS X 0213 pairs
// (U+02E5, U+02E9, U+0300, U+0301, U+309A). Takes ASCII, two- and
// three-byte characters in windows of 64 bytes, at most 24 a window, while
// 72 bytes can be read and 64 written. Stops before what is not well formed
// by its bytes or is overlong, a character the table lacks, and a possible
// pair base that what follows may combine with. `lastOut` tells where the last
// character's bytes begin, `lines` how many LFs (U+000A) were taken;
// `hold` is unused.
using Utf8MapKernel = BlockResult (*)(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                      std::size_t outLeft, const std::uint16_t* ucs);
BlockResult utf8MapScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                          std::size_t outLeft, const std::uint16_t* ucs);
// The AVX-512 version (with VBMI2), or null when the processor lacks it.
Utf8MapKernel utf8MapVector();

// The same from UTF-16 in the byte order `big`: 32 units a step, while 66
// bytes can be read and 64 written. Stops before a surrogate, a character
// the table lacks, and a possible pair base before what may start a mark
// (U+309A, U+02E5 to U+0301).
using Utf16MapKernel = BlockResult (*)(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                       std::size_t outLeft, bool big, const std::uint16_t* ucs);
BlockResult utf16MapScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                           std::size_t outLeft, bool big, const std::uint16_t* ucs);
Utf16MapKernel utf16MapVector();

}  // namespace zk

#endif
