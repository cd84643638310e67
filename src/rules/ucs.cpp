// The fixed-width Unicode encodings. UCS-2: 2-byte units, no characters above
// U+FFFF (optionally written as numeric character references). UCS-4: 4-byte
// units of any 32-bit value. UTF-16: 2-byte units, U+10000..U+10FFFF as a
// high (D800-DBFF) and low (DC00-DFFF) surrogate; a pair that comes in reverse
// order is read too. Units are in the byte order of inBigEndian/outBigEndian;
// marks: FF FE / FE FF, for UCS-4 FF FE 00 00 / 00 00 FE FF.
#include "frame/state.h"
#include "rules/unicode.h"

namespace zk {

namespace {

constexpr unsigned char kBom2Le[2] = {0xFF, 0xFE};
constexpr unsigned char kBom2Be[2] = {0xFE, 0xFF};
constexpr unsigned char kBom4Le[4] = {0xFF, 0xFE, 0x00, 0x00};
constexpr unsigned char kBom4Be[4] = {0x00, 0x00, 0xFE, 0xFF};

bool isHighSurrogate(std::uint32_t u) { return u - 0xD800u < 0x400u; }
bool isLowSurrogate(std::uint32_t u) { return u - 0xDC00u < 0x400u; }

}  // namespace

// ---- decoding ----

int destUcs2(CconvRecord* rec) {
  if (rec->inPos >= rec->inLen) {
    rec->status = CCONV_OK;
    return 0;
  }
  if (!ucsDetectBom(rec, kBom2Le, kBom2Be, 2)) return 0;
  int got = decodeTable(rec, nullptr);
  // Control codes that the sets take without a Unicode value keep their own.
  if (got && rec->ucs == 0) rec->ucs = rec->rawCode;
  return got;
}

int destUcs4(CconvRecord* rec) {
  if (rec->inPos >= rec->inLen) {
    rec->status = CCONV_OK;
    return 0;
  }
  if (!ucsDetectBom(rec, kBom4Le, kBom4Be, 4)) return 0;
  for (;;) {
    if (rec->inPos >= rec->inLen) {
      rec->status = CCONV_OK;
      return 0;
    }
    if (rec->inLen - rec->inPos < 4) {
      rec->status = CCONV_NEED_INPUT;
      return 0;
    }
    const std::int32_t start = rec->inPos;
    ucsReadUnit(rec, &rec->rawCode, 4);
    ucsClassify(rec, start);
    if (rec->status != CCONV_NEXT) return rec->status == CCONV_CHAR;
  }
}

int destUtf16(CconvRecord* rec) {
  if (rec->inPos >= rec->inLen) {
    rec->status = CCONV_OK;
    return 0;
  }
  if (!ucsDetectBom(rec, kBom2Le, kBom2Be, 2)) return 0;
  for (;;) {
    if (rec->inPos >= rec->inLen) {
      rec->status = CCONV_OK;
      return 0;
    }
    if (rec->inLen - rec->inPos < 2) {
      rec->status = CCONV_NEED_INPUT;
      return 0;
    }
    const std::int32_t start = rec->inPos;
    std::uint32_t u;
    ucsReadUnit(rec, &u, 2);
    if (!isHighSurrogate(u) && !isLowSurrogate(u)) {
      rec->rawCode = u;
      if (ucsMayBePairBase(u) && rec->inLen - rec->inPos >= 2) {
        // A base followed by its combining mark is one JIS X 0213 character.
        std::uint32_t v;
        ucsReadUnit(rec, &v, 2);
        if (jisIsPair(u, v)) {
          rec->ucs2 = v;
        } else {
          rec->inPos -= 2;
        }
      }
    } else {
      if (rec->inLen - rec->inPos < 2) {
        rec->inPos = start;
        rec->status = CCONV_NEED_INPUT;
        return 0;
      }
      std::uint32_t v;
      ucsReadUnit(rec, &v, 2);
      if (isHighSurrogate(u) && isLowSurrogate(v)) {
        rec->rawCode = 0x10000u + (u - 0xD800u) * 0x400u + (v - 0xDC00u);
      } else if (isLowSurrogate(u) && isHighSurrogate(v)) {
        rec->rawCode = 0x10000u + (v - 0xD800u) * 0x400u + (u - 0xDC00u);  // reverse order
      } else {
        // A lone surrogate is passed on as its own value; the unit after it is
        // a character of its own and is decoded next, not folded into a
        // pair that never was.
        rec->inPos -= 2;
        rec->rawCode = u;
      }
    }
    ucsClassify(rec, start);
    if (rec->status != CCONV_NEXT) return rec->status == CCONV_CHAR;
    rec->ucs2 = 0;  // a stray tag character was dropped: decode the next one
  }
}

// ---- writers ----

int ucs4WriteUnit(CconvRecord* rec, std::uint32_t value) { return ucsPutUnit(rec, value, 4); }

int utf16WriteUnit(CconvRecord* rec, std::uint32_t value) {
  return ucsPutUnit(rec, value & 0xFFFF, 2);
}

int utf16WriteChar(CconvRecord* rec, std::uint32_t value) {
  if (value > 0x10FFFF) {
    rec->status = CCONV_UNMAPPABLE;
    return 0;
  }
  if (value <= 0xFFFF) return utf16WriteUnit(rec, value);
  // Room for both halves is checked first, so a pair is never cut in two.
  if (static_cast<std::int64_t>(rec->outPos) + 4 > rec->outSize) {
    rec->status = CCONV_OUTPUT_FULL;
    return 0;
  }
  utf16WriteUnit(rec, 0xD800 + ((value - 0x10000) >> 10));
  return utf16WriteUnit(rec, 0xDC00 + (value & 0x3FF));
}

int ucs2InWindows31j(const CconvRecord* rec) {
  switch (rec->inCharset) {
    case kIdJisX0201Latin:
    case kIdJisX0201Kana:
    case kIdJisX0208:
    case kIdNecExt:
    case kIdIbmExt:
      return 1;
    default:
      break;
  }
  const std::uint32_t oc = rec->outCode;
  if (oc >= 0xE000 && oc <= 0xF8FF) return oc <= 0xE758;
  if (oc >= 0xFF00 && oc <= 0xFFFE)
    return (oc >= 0xFF01 && oc <= 0xFF5E) || (oc >= 0xFF61 && oc <= 0xFF9F) ||
           (oc >= 0xFFE0 && oc <= 0xFFE2) || oc == 0xFFE5;
  if (oc == rec->subNarrow.code || oc == rec->subWide.code) return 1;
  const RuleDef* w31j = stateRuleById(kIdWindows31j);
  if (!w31j || !w31j->charsets) return 0;
  for (std::uint32_t i = 0; i < w31j->charsets->count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(w31j->charsets->items[i]);
    if (set->type == kSetUserArea) continue;
    CodeTable* toCode = set->toCode;
    if (toCode && !ctableIsLoaded(toCode) && toCode->sourceName[0] != '\0' && tProbeOnly) {
      tProbeNeedsLoad = true;
    } else if (toCode && !ctableIsLoaded(toCode) && toCode->sourceName[0] != '\0') {
      // Only a target's tables are loaded when it is prepared. Unloaded, this
      // table would count as the identity and take every character, so the
      // answer would depend on what the process converted before.
      const bool taken = stateLock();
      if (!ctableIsLoaded(toCode)) ctableLoad(toCode);
      stateUnlock(taken);
    }
    const std::uint32_t v =
        toCode && ctableIsLoaded(toCode) ? ctableValue(toCode, rec->ucs) : rec->ucs;
    if (v != 0) return 1;
  }
  return 0;
}

int ucs2WriteNcr(CconvRecord* rec, std::uint32_t value) {
  const bool hex = rec->dstOptions.ncrMode == 1;
  char digits[10];  // at most 10 decimal digits for 32 bits
  int nd = 0;
  do {
    const std::uint32_t d = hex ? value % 16 : value % 10;
    digits[nd++] = static_cast<char>(d < 10 ? '0' + d : 'A' + (d - 10));
    value = hex ? value / 16 : value / 10;
  } while (value != 0);
  const int n = 2 + (hex ? 1 : 0) + nd + 1;
  // A reference is written only when a byte of room stays free behind it.
  if (static_cast<std::int64_t>(rec->outPos) + 2 * n >= rec->outSize) {
    rec->status = CCONV_OUTPUT_FULL;
    return 0;
  }
  ucsPutUnit(rec, '&', 2);
  ucsPutUnit(rec, '#', 2);
  if (hex) ucsPutUnit(rec, 'x', 2);
  while (nd > 0) ucsPutUnit(rec, static_cast<unsigned char>(digits[--nd]), 2);
  return ucsPutUnit(rec, ';', 2);
}

int ucs2WriteUnit(CconvRecord* rec, std::uint32_t value) {
  if (rec->dstOptions.ncrMode && !ucs2InWindows31j(rec)) return ucs2WriteNcr(rec, value);
  return ucsPutUnit(rec, value & 0xFFFF, 2);
}

// ---- const functions ----

int constUcs2(CconvRecord* rec) {
  const std::uint32_t entry = rec->status;
  const unsigned char* bom = rec->dstOptions.outBigEndian ? kBom2Be : kBom2Le;
  if (entry == CCONV_OUTPUT_FULL && rec->outSeqLen == kUcsUnplaced)
    return ucsUnmappable(rec, bom, 2);
  if (entry != CCONV_OUTPUT_FULL && entry != CCONV_TERMINATE) {
    // Above U+FFFF nothing fits a unit, placed or not (a set without a table
    // places everything): with references on, the character becomes one.
    if (!ucsPlace(rec) || rec->ucs >= 0x10000) {
      if (!rec->dstOptions.ncrMode || rec->ucs < 0x10000 || rec->ucs > 0x10FFFF)
        return ucsUnmappable(rec, bom, 2);
      // Pending as a reference: no set (unit 0) and the value in outCode, so
      // that a retry after CCONV_OUTPUT_FULL writes the reference again.
      rec->outCharset = 0;
      rec->outCharsetType = 0;
      rec->outUnit = 0;
      rec->outSeqLen = 0;
      rec->ucs2 = 0;
      rec->outCode = rec->ucs;
    }
  }
  if (rec->dstOptions.outWriteBom && !ucsWriteBom(rec, bom, 2)) {
    rec->status = CCONV_OUTPUT_FULL;
    return 0;
  }
  if (entry == CCONV_TERMINATE) {
    rec->status = CCONV_OK;
    return 1;
  }
  if (rec->outUnit == 0) {
    if (rec->outCode != 0 && rec->dstOptions.ncrMode) return ucs2WriteNcr(rec, rec->outCode);
    rec->status = CCONV_NEXT;  // the driver's empty substitute: dropped
    return 1;
  }
  return writeChar(rec, nullptr, ucs2WriteUnit);
}

int constUcs4(CconvRecord* rec) {
  return ucsConstWith<ucs4WriteUnit>(rec, rec->dstOptions.outBigEndian ? kBom4Be : kBom4Le, 4);
}

int constUtf16(CconvRecord* rec) {
  return ucsConstWith<utf16WriteChar>(rec, rec->dstOptions.outBigEndian ? kBom2Be : kBom2Le, 2);
}

}  // namespace zk
