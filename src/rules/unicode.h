// Steps that the Unicode rules (UTF-8, UCS-2, UCS-4, UTF-16) share beyond the
// declarations of rules.h: unit I/O, byte order marks, placement and the common
// shape of their const functions.
#ifndef ZRKVT16_UNICODE_H
#define ZRKVT16_UNICODE_H

#include <cstdint>
#include <cstring>

#include "rules/rules.h"

namespace zk {

constexpr std::uint32_t kUcsLanguageTag = 0xE0001;
constexpr std::uint32_t kUcsTagFirst = 0xE0020;  // tag characters stand for U+0020..U+007E
constexpr std::uint32_t kUcsCancelTag = 0xE007F;
constexpr std::uint32_t kUcsPrivateUse = 0xE000;

inline const RuleDef* ucsSrcRule(const CconvRecord* rec) {
  return reinterpret_cast<const RuleDef*>(rec->srcRule);
}

// The code points that can end a JIS X 0213 pair.
constexpr bool ucsIsPairMark(std::uint32_t v) {
  return v == 0x309A || v == 0x02E5 || v == 0x02E9 || v == 0x0300 || v == 0x0301;
}

// Whether the UTF-8 at p may start such a mark: U+309A, the lead byte CB or
// CC of the others, or FE or FF, which the reader skips before one. Reads
// four bytes, without branches: kana leads E3 82 are common, the mark rare.
inline bool utf8MayStartPairMark(const unsigned char* p) {
  std::uint32_t x;
  std::memcpy(&x, p, 4);
  const std::uint32_t lead = x & 0xFF;
  return ((lead == 0xCB) | (lead == 0xCC) | (lead >= 0xFE) | ((x & 0xFFFFFF) == 0x9A82E3)) != 0;
}

// Cheap pre-test for the base-plus-combining look-ahead: true for exactly the
// base code points of the JIS X 0213 pair table, so that other text (most
// kana included) skips the second read.
constexpr bool ucsMayBePairBase(std::uint32_t v) {
  if (v < 0x00E6 || v > 0x31F7) return false;  // kanji and ASCII leave at once
  // clang-format off
  switch (v) {
    case 0x00E6: case 0x0254: case 0x0259: case 0x025A: case 0x028C: case 0x02E5: case 0x02E9:
    case 0x304B: case 0x304D: case 0x304F: case 0x3051: case 0x3053:
    case 0x30AB: case 0x30AD: case 0x30AF: case 0x30B1: case 0x30B3: case 0x30BB: case 0x30C4:
    case 0x30C8: case 0x31F7:
      return true;
    default:
      return false;
  }
  // clang-format on
}

// Writes the low n bytes of v as one unit in outBigEndian order: outPos + n,
// outChars + 1, CCONV_NEXT; without room CCONV_OUTPUT_FULL and nothing written.
inline int ucsPutUnit(CconvRecord* rec, std::uint32_t v, int n) {
  if (static_cast<std::int64_t>(rec->outPos) + n > rec->outSize) {
    rec->status = CCONV_OUTPUT_FULL;
    return 0;
  }
  unsigned char* p = rec->outBuf + rec->outPos;
  if (rec->dstOptions.outBigEndian) {
    for (int i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(v >> (8 * (n - 1 - i)));
  } else {
    for (int i = 0; i < n; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
  }
  rec->outPos += n;
  rec->outChars += 1;
  rec->status = CCONV_NEXT;
  return 1;
}

// Input byte order mark: while inDetectBom is set and input remains, needs len
// bytes (else CCONV_NEED_INPUT, result 0, flag kept); steps over `le` or `be`
// setting inBigEndian, then clears the flag. 1 = go on decoding.
int ucsDetectBom(CconvRecord* rec, const unsigned char* le, const unsigned char* be, int len);

// placeDirect, then placeViaUcs, on the target rule. 1 placed.
int ucsPlace(CconvRecord* rec);

// Writes a pending output mark (clearing outWriteBom). 0 = no room, nothing written.
int ucsWriteBom(CconvRecord* rec, const unsigned char* bom, int len);

// outSeqLen of a character that could not be placed, waiting behind a mark
// that did not fit (nothing is placed: outUnit 0).
constexpr std::uint16_t kUcsUnplaced = 0xFFFF;

// A character that cannot be placed: writes a pending mark first and reports
// CCONV_UNMAPPABLE; when the mark does not fit, CCONV_OUTPUT_FULL with the
// character pending as kUcsUnplaced. Returns 0.
int ucsUnmappable(CconvRecord* rec, const unsigned char* bom, int bomLen);

// The const function of UTF-8, UCS-4 and UTF-16: placement, mark, language
// tag, then the character through `writer`.
int ucsConst(CconvRecord* rec, const unsigned char* bom, int bomLen, ByteWriter writer);

// ucsConst with the writer known at compile time, so that the common case (one
// unit, no mark, no tag, no line end) writes without any indirect call.
template <ByteWriter kWriter>
[[gnu::always_inline]] inline int ucsConstWith(CconvRecord* rec, const unsigned char* bom,
                                               int bomLen) {
  if (rec->status == CCONV_CHAR && !rec->dstOptions.outWriteBom && rec->lang[0] == '\0') {
    if (!ucsPlace(rec)) {
      rec->status = CCONV_UNMAPPABLE;
      return 0;
    }
    if (rec->outUnit == 0) {
      rec->status = CCONV_NEXT;
      return 1;
    }
    if (rec->outSeqLen == 0 && rec->ucs2 == 0 &&
        !(rec->dstOptions.newlineConvert && rec->outCode == 0x0D)) {
      // The single-unit case of writeChar: the writer stores nothing unless
      // it stores the whole unit.
      const std::int32_t startPos = rec->outPos;
      const std::int32_t startChars = rec->outChars;
      if (kWriter(rec, rec->outCode)) return 1;
      rec->outPos = startPos;
      rec->outChars = startChars;
      return 0;
    }
    return writeChar(rec, nullptr, kWriter);
  }
  return ucsConst(rec, bom, bomLen, kWriter);
}

}  // namespace zk

#endif
