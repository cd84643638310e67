// UTF-8 in its original form of up to six bytes, carrying any value below
// 2^31. The lead byte gives the length (00-BF: 1, C0-DF: 2, E0-EF: 3, F0-F7: 4,
// F8-FB: 5, FC-FD: 6) and its low bits the top of the value; every following
// byte adds its low 6 bits, whatever its high bits are. Bytes 80-BF alone stand
// for U+0080..U+00BF. FE and FF are dropped between characters. Continuation
// bytes, overlong forms and surrogate values are not checked.
#include <array>

#include "rules/unicode.h"

namespace zk {

namespace {

constexpr std::array<std::uint8_t, 256> makeLengths() {
  std::array<std::uint8_t, 256> len{};
  for (int b = 0; b < 256; ++b)
    len[b] = b < 0xC0   ? 1
             : b < 0xE0 ? 2
             : b < 0xF0 ? 3
             : b < 0xF8 ? 4
             : b < 0xFC ? 5
             : b < 0xFE ? 6
                        : 0;
  return len;
}

constexpr std::array<std::uint8_t, 256> kSeqLength = makeLengths();
// Value bits of the lead byte, by sequence length.
constexpr std::uint8_t kLeadMask[7] = {0, 0xFF, 0x1F, 0x0F, 0x07, 0x03, 0x01};
// Lead byte pattern, by sequence length.
constexpr std::uint8_t kLeadMark[7] = {0, 0x00, 0xC0, 0xE0, 0xF0, 0xF8, 0xFC};

constexpr unsigned char kUtf8Bom[3] = {0xEF, 0xBB, 0xBF};

}  // namespace

int utf8ReadSequence(CconvRecord* rec, std::uint32_t* value) {
  const unsigned char* p = rec->inBuf;
  const std::int32_t start = rec->inPos;
  std::int32_t pos = start;
  while (pos < rec->inLen && p[pos] >= 0xFE) ++pos;
  if (pos >= rec->inLen) {
    rec->inPos = start;  // a run of FE/FF bytes alone is not consumed
    rec->status = CCONV_NEED_INPUT;
    return 0;
  }
  const unsigned lead = p[pos];
  const int n = kSeqLength[lead];
  rec->inPos = pos;
  if (rec->inLen - pos < n) {
    rec->status = CCONV_NEED_INPUT;  // inPos at the lead byte
    return 0;
  }
  std::uint32_t v = lead & kLeadMask[n];
  for (int i = 1; i < n; ++i) v = (v << 6) | (p[pos + i] & 0x3Fu);
  rec->inPos = pos + n;
  rec->status = CCONV_CHAR;
  *value = v;
  return 1;
}

int utf8WriteUnit(CconvRecord* rec, std::uint32_t value) {
  if (value >= 0x80000000u) {
    rec->status = CCONV_UNMAPPABLE;
    return 0;
  }
  const int n = value < 0x80        ? 1
                : value < 0x800     ? 2
                : value < 0x10000   ? 3
                : value < 0x200000  ? 4
                : value < 0x4000000 ? 5
                                    : 6;
  if (static_cast<std::int64_t>(rec->outPos) + n > rec->outSize) {
    rec->status = CCONV_OUTPUT_FULL;
    return 0;
  }
  unsigned char* p = rec->outBuf + rec->outPos;
  if (n == 1) {
    p[0] = static_cast<unsigned char>(value);
  } else {
    p[0] = static_cast<unsigned char>(kLeadMark[n] | (value >> (6 * (n - 1))));
    for (int i = 1; i < n; ++i)
      p[i] = static_cast<unsigned char>(0x80 | ((value >> (6 * (n - 1 - i))) & 0x3F));
  }
  rec->outPos += n;
  rec->outChars += 1;  // one per character, whatever its length
  rec->status = CCONV_NEXT;
  return 1;
}

int destUtf8(CconvRecord* rec) {
  if (rec->inPos >= rec->inLen) {
    rec->status = CCONV_OK;
    return 0;
  }
  if (rec->srcOptions.inDetectBom) {
    const unsigned char* p = rec->inBuf + rec->inPos;
    if (rec->inLen - rec->inPos < 3) {
      rec->status = CCONV_NEED_INPUT;
      return 0;
    }
    if (p[0] == kUtf8Bom[0] && p[1] == kUtf8Bom[1] && p[2] == kUtf8Bom[2]) rec->inPos += 3;
    rec->srcOptions.inDetectBom = 0;
  }
  for (;;) {
    if (rec->inPos >= rec->inLen) {
      rec->status = CCONV_OK;
      return 0;
    }
    const std::int32_t start = rec->inPos;
    std::uint32_t v;
    if (!utf8ReadSequence(rec, &v)) return 0;
    rec->rawCode = v;
    if (ucsMayBePairBase(v) && rec->inPos < rec->inLen) {
      // A base followed by its combining mark is one JIS X 0213 character.
      const std::int32_t after = rec->inPos;
      std::uint32_t next;
      if (utf8ReadSequence(rec, &next) && jisIsPair(v, next)) {
        rec->ucs2 = next;
      } else {
        rec->inPos = after;
      }
      rec->status = CCONV_CHAR;
    }
    ucsClassify(rec, start);
    if (rec->status != CCONV_NEXT) return rec->status == CCONV_CHAR;
    rec->ucs2 = 0;  // a stray tag character was dropped: decode the next one
  }
}

int constUtf8(CconvRecord* rec) { return ucsConstWith<utf8WriteUnit>(rec, kUtf8Bom, 3); }

}  // namespace zk
