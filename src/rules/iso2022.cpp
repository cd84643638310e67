// ISO-2022-JP and ISO-2022-JP-2004: 7-bit text in which escape sequences
// designate the set that the following bytes belong to.
//
//   ESC ( B     ISO 646 IRV            ESC $ @     JIS C 6226-1978
//   ESC ( J     JIS X 0201 Roman       ESC $ B     JIS X 0208
//   ESC $ ( Q   JIS X 0213 plane 1     ESC $ ( P   JIS X 0213 plane 2
//
// Single-byte sets take one byte per character, double-byte sets two (row
// byte first on input); TAB, LF and CR stay single ISO 646 bytes even in
// double-byte mode. The shift state lives in the record: inDesignation and
// inPlane for the input, outDesignation and outPlane for the output.
// Termination returns the output to ISO 646 IRV.
#include "rules/rules.h"

namespace zk {

namespace {

// The record holds the rules through the opaque C type of the public header.
inline const RuleDef* srcRuleOf(const CconvRecord* rec) {
  return reinterpret_cast<const RuleDef*>(rec->srcRule);
}

constexpr std::uint32_t kPlane1 = 11;
constexpr std::uint32_t kPlane2 = 12;

const unsigned char kEscIrv[] = {0x1B, 0x28, 0x42};
const unsigned char kEscRoman[] = {0x1B, 0x28, 0x4A};
const unsigned char kEsc1978[] = {0x1B, 0x24, 0x40};
const unsigned char kEscX0208[] = {0x1B, 0x24, 0x42};
const unsigned char kEscPlane1[] = {0x1B, 0x24, 0x28, 0x51};
const unsigned char kEscPlane2[] = {0x1B, 0x24, 0x28, 0x50};

int needInput(CconvRecord* rec, std::int32_t p) {
  rec->inPos = p;
  rec->status = CCONV_NEED_INPUT;
  return 0;
}

// Reads the escape sequence at p. Returns its length, 0 when the input ends
// inside it, -1 when it is not one of ours.
int readEscape(const CconvRecord* rec, std::int32_t p, std::uint32_t* designation,
               std::uint32_t* plane) {
  const std::int32_t left = rec->inLen - p;
  if (left < 3) return 0;
  const unsigned char b1 = rec->inBuf[p + 1];
  const unsigned char b2 = rec->inBuf[p + 2];
  *plane = kPlane1;
  if (b1 == 0x24 && b2 == 0x42)
    *designation = kIdJisX0208;
  else if (b1 == 0x24 && b2 == 0x40)
    *designation = kIdJisC6226;
  else if (b1 == 0x28 && b2 == 0x42)
    *designation = kIdIso646Irv;
  else if (b1 == 0x28 && b2 == 0x4A)
    *designation = kIdJisX0201Latin;
  else if (b1 == 0x24 && b2 == 0x28) {
    if (left < 4) return 0;
    const unsigned char b3 = rec->inBuf[p + 3];
    if (b3 == 0x51)
      *plane = kPlane1;
    else if (b3 == 0x50)
      *plane = kPlane2;
    else
      return -1;
    *designation = kIdJisX0213;
    return 4;
  } else {
    return -1;
  }
  return 3;
}

// Escape bytes never go into the last byte of the output buffer; a sequence
// that does not fit whole is not written at all.
int putEscape(CconvRecord* rec, const unsigned char* seq, int n) {
  if (static_cast<std::int64_t>(rec->outPos) + n >= rec->outSize) {
    rec->status = CCONV_OUTPUT_FULL;
    return 0;
  }
  for (int i = 0; i < n; ++i) rec->outBuf[rec->outPos + i] = seq[i];
  rec->outPos += n;
  return 1;
}

}  // namespace

int iso2022jpDecode(CconvRecord* rec) {
  const unsigned char* in = rec->inBuf;
  for (;;) {
    const std::int32_t p = rec->inPos;
    if (p >= rec->inLen) {
      rec->status = CCONV_OK;
      return 0;
    }
    const std::uint32_t b = in[p];
    if (b == 0x1B) {
      std::uint32_t designation = 0;
      std::uint32_t plane = kPlane1;
      const int len = readEscape(rec, p, &designation, &plane);
      // An unknown sequence is reported like a truncated one, at its ESC.
      if (len <= 0) return needInput(rec, p);
      rec->inDesignation = designation;
      rec->inPlane = plane;
      rec->inPos = p + len;
      continue;
    }

    const CharsetDef* set = nullptr;
    const RuleDef* rule = srcRuleOf(rec);
    if (rule && rule->charsets) {
      const PtrList* sets = rule->charsets;
      for (std::uint32_t i = 0; i < sets->count; ++i) {
        const CharsetDef* s = static_cast<const CharsetDef*>(sets->items[i]);
        if (s && s->id == rec->inDesignation &&
            (s->bytenum == 1 || s->bytenum == 2 || s->bytenum == 4)) {
          set = s;
          break;
        }
      }
    }
    if (!set) {
      rec->inPos = p + 1;
      rec->status = CCONV_INVALID;
      return 0;
    }

    std::uint32_t code;
    if (set->bytenum == 1) {
      rec->inCharset = set->id;
      rec->inCharsetType = set->type;
      code = b;
      rec->inPos = p + 1;
    } else if (b == 0x09 || b == 0x0A || b == 0x0D) {
      rec->inCharset = kIdIso646Irv;
      rec->inCharsetType = kSetBase;
      code = b;
      rec->inPos = p + 1;
    } else {
      if (rec->inLen - p < 2) return needInput(rec, p);
      code = (b << 8) | in[p + 1];
      if (rec->inDesignation == kIdJisX0213 && rec->inPlane == kPlane2) code |= 0x10000;
      rec->inCharset = set->id;
      rec->inCharsetType = set->type;
      rec->inPos = p + 2;
    }
    rec->rawCode = code;
    rec->code = code;
    rec->inChars += 1;
    rec->status = CCONV_CHAR;
    return 1;
  }
}

int iso2022jpEncode(CconvRecord* rec) {
  if (rec->status == CCONV_TERMINATE) {
    // Also closes when the last character's own designation never made it
    // into the output, so the text always ends in ISO 646 IRV.
    if (rec->outCharset != kIdIso646Irv || rec->outDesignation != kIdIso646Irv) {
      if (!putEscape(rec, kEscIrv, 3)) return 0;
    }
    rec->status = CCONV_OK;
    return 0;
  }
  const bool pending = rec->status == CCONV_OUTPUT_FULL;
  if (!placeChar(rec)) return 0;

  if (rec->outCharset == kIdJisX0213) {
    const std::uint32_t plane = (rec->outCode & 0x10000) ? kPlane2 : kPlane1;
    if (rec->outDesignation != kIdJisX0213 || rec->outPlane != plane) {
      if (!putEscape(rec, plane == kPlane2 ? kEscPlane2 : kEscPlane1, 4)) return 0;
      rec->outPlane = plane;
      rec->outDesignation = kIdJisX0213;
    }
  } else if (rec->outCharset != rec->outDesignation) {
    const unsigned char* seq = nullptr;
    int n = 3;
    switch (rec->outCharset) {
      case kIdJisX0208:
        if (rec->dstId == kIdIso2022Jp2004) {
          seq = kEscPlane1;
          n = 4;
        } else {
          seq = kEscX0208;
        }
        break;
      case kIdJisX0201Latin:
        seq = kEscRoman;
        break;
      case kIdIso646Irv:
        seq = kEscIrv;
        break;
      case kIdJisC6226:
        seq = kEsc1978;
        break;
      default:  // half-width katakana, JIS X 0212, user-defined areas
        // A pending one is a substitute (or an empty one): refusing it again
        // would make the driver substitute forever, so it is dropped as an
        // empty substitute is, nothing written and one unit counted.
        if (pending) {
          rec->outChars += 1;
          rec->status = CCONV_NEXT;
          return 1;
        }
        rec->status = CCONV_UNMAPPABLE;
        return 0;
    }
    if (!putEscape(rec, seq, n)) return 0;
    rec->outDesignation = rec->outCharset;
  }
  return writeChar(rec, nullptr, nullptr);
}

}  // namespace zk
