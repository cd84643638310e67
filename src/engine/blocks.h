// Block kernels between UTF-8 and UTF-16 for runs of three-byte sequences
// (kana, kanji and most other Japanese text). Each converts whole blocks as
// long as they need nothing but arithmetic and returns how many it did; the
// caller goes on character by character where a block stops. A block stops
// before a JIS X 0213 combining mark (or what may start one after the
// block), and, with line ends converted, before U+2028 and U+2029.
//
// The vector versions need SSSE3 and are chosen once at run time; the scalar
// versions do exactly the same and are their reference.
#ifndef ZRKVT16_BLOCKS_H
#define ZRKVT16_BLOCKS_H

#include <cstddef>
#include <cstdint>

namespace zk {

// UTF-8 to UTF-16: blocks of four three-byte sequences (12 bytes in, 8 out).
// Needs 16 readable bytes per block (the block and what follows it).
using Utf8To16Blocks = std::size_t (*)(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                       std::size_t outLeft, bool big, bool newline);
// UTF-16 to UTF-8: blocks of eight units from U+0800 to U+FFFF outside the
// surrogates (16 bytes in, 24 out). Needs 18 readable bytes per block.
using Utf16To8Blocks = std::size_t (*)(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                       std::size_t outLeft, bool big, bool newline);

std::size_t utf8To16BlocksScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                 std::size_t outLeft, bool big, bool newline);
std::size_t utf16To8BlocksScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                 std::size_t outLeft, bool big, bool newline);
// The vector versions, or null when the processor lacks SSSE3.
Utf8To16Blocks utf8To16BlocksVector();
Utf16To8Blocks utf16To8BlocksVector();

}  // namespace zk

#endif
