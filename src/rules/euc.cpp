// EUC-JP, EUC-JIS-2004 and EUC-JP-FIX.
//
// EUC-JP / EUC-JIS-2004 bytes, by first byte:
//   00-7E        one byte of ISO 646 IRV
//   8E b2        SS2: half-width katakana b2 (b2 >= A0, kept with its high bit)
//   8F b2 b3     SS3: JIS X 0212 (EUC-JP) or JIS X 0213 plane 2 (EUC-JIS-2004)
//   A0-FF b2     JIS X 0208 (EUC-JP) or JIS X 0213 plane 1 (EUC-JIS-2004)
// Double-byte codes travel in 7-bit JIS form (row << 8 | cell); JIS X 0213
// plane 2 carries 0x10000 on top.
//
// EUC-JP-FIX is fixed-width: every character is two bytes. 00 xx holds the
// single-byte sets, A0-FF A0-FF JIS X 0208, and A0-FF 21-7E JIS X 0212 (its
// cell byte keeps the high bit clear).
//
// No shift state: termination writes nothing.
#include "rules/rules.h"

namespace zk {

namespace {

// The record holds the rules through the opaque C type of the public header.
inline const RuleDef* srcRuleOf(const CconvRecord* rec) {
  return reinterpret_cast<const RuleDef*>(rec->srcRule);
}
inline const RuleDef* dstRuleOf(const CconvRecord* rec) {
  return reinterpret_cast<const RuleDef*>(rec->dstRule);
}

// First set of the rule with this id; null when the rule does not list it.
const CharsetDef* ruleSet(const RuleDef* rule, std::uint32_t id) {
  if (!rule || !rule->charsets) return nullptr;
  const PtrList* sets = rule->charsets;
  for (std::uint32_t i = 0; i < sets->count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
    if (set && set->id == id) return set;
  }
  return nullptr;
}

void decoded(CconvRecord* rec, const CharsetDef* set, std::uint32_t code, std::int32_t end) {
  rec->inCharset = set->id;
  rec->inCharsetType = set->type;
  rec->rawCode = code;
  rec->code = code;
  rec->inPos = end;
  rec->inChars += 1;
  rec->status = CCONV_CHAR;
}

int refuse(CconvRecord* rec, std::int32_t p) {
  rec->inPos = p + 1;
  rec->status = CCONV_INVALID;
  return 0;
}

// Rows 95 to 114 (first byte 0x7F to 0x92) have no EUC form.
inline bool rowOutsideEuc(std::uint32_t hi) { return hi >= 0x7F && hi <= 0x92; }

// Stores n bytes at outPos when the last of them lands below `limit`; on any
// shortfall nothing is stored and outPos stays where the unit began.
int putBytes(CconvRecord* rec, const unsigned char* bytes, int n, std::int64_t limit) {
  if (static_cast<std::int64_t>(rec->outPos) + n > limit) {
    rec->status = CCONV_OUTPUT_FULL;
    return 0;
  }
  for (int i = 0; i < n; ++i) rec->outBuf[rec->outPos + i] = bytes[i];
  rec->outPos += n;
  rec->outChars += 1;
  rec->status = CCONV_NEXT;
  return 1;
}

int unmappable(CconvRecord* rec) {
  rec->status = CCONV_UNMAPPABLE;
  return 0;
}

// A pending character that cannot be written is a substitute the driver put
// in place (an empty one has no set at all). Refusing it again would make
// the driver substitute forever, so it is dropped as an empty substitute is:
// nothing written, one unit counted.
int dropSubstitute(CconvRecord* rec) {
  rec->outChars += 1;
  rec->status = CCONV_NEXT;
  return 1;
}

int encodeWith(CconvRecord* rec, ByteWriter writer) {
  if (rec->status == CCONV_TERMINATE) {
    rec->status = CCONV_OK;
    return 0;
  }
  const bool pending = rec->status == CCONV_OUTPUT_FULL;
  if (!pending && !placeDirect(rec, dstRuleOf(rec)) && !placeViaUcs(rec, dstRuleOf(rec))) {
    rec->status = CCONV_UNMAPPABLE;
    return 0;
  }
  if (writeChar(rec, nullptr, writer)) return 1;
  if (pending && rec->status == CCONV_UNMAPPABLE) return dropSubstitute(rec);
  return 0;
}

}  // namespace

int eucjpDecode(CconvRecord* rec, std::uint32_t ss3Charset) {
  const std::int32_t p = rec->inPos;
  if (p >= rec->inLen) {
    rec->status = CCONV_OK;
    return 0;
  }
  const unsigned char* in = rec->inBuf;
  const std::uint32_t b1 = in[p];
  std::int32_t need = 1;
  if (b1 == 0x8E || b1 >= 0xA0)
    need = 2;
  else if (b1 == 0x8F)
    need = 3;
  // Every byte of the form must be present before any is judged, so a
  // truncated sequence asks for more input rather than being refused.
  if (rec->inLen - p < need) {
    rec->inPos = p;
    rec->status = CCONV_NEED_INPUT;
    return 0;
  }
  std::uint32_t charset;
  std::uint32_t code;
  if (b1 <= 0x7E) {
    charset = kIdIso646Irv;
    code = b1;
  } else if (b1 == 0x8E) {
    const std::uint32_t b2 = in[p + 1];
    if (b2 < 0xA0) return refuse(rec, p);
    charset = kIdJisX0201Kana;
    code = b2;
  } else if (b1 == 0x8F) {
    const std::uint32_t b2 = in[p + 1];
    const std::uint32_t b3 = in[p + 2];
    if (b2 < 0xA0 || b3 < 0xA0) return refuse(rec, p);
    charset = ss3Charset;
    code = ((b2 << 8) | b3) & 0x7F7F;
    if (ss3Charset == kIdJisX0213) code |= 0x10000;
  } else if (b1 >= 0xA0) {
    const std::uint32_t b2 = in[p + 1];
    if (b2 < 0xA0) return refuse(rec, p);
    charset = ss3Charset == kIdJisX0213 ? kIdJisX0213 : kIdJisX0208;
    code = ((b1 << 8) | b2) & 0x7F7F;
  } else {
    return refuse(rec, p);  // 0x7F to 0x8D, 0x90 to 0x9F
  }
  const CharsetDef* set = ruleSet(srcRuleOf(rec), charset);
  if (!set) return refuse(rec, p);
  decoded(rec, set, code, p + need);
  return 1;
}

int destEucJp(CconvRecord* rec) { return eucjpDecode(rec, kIdJisX0212); }

int destEucJis2004(CconvRecord* rec) { return eucjpDecode(rec, kIdJisX0213); }

int eucjpfixDecode(CconvRecord* rec) {
  const std::int32_t p = rec->inPos;
  if (p >= rec->inLen) {
    rec->status = CCONV_OK;
    return 0;
  }
  if (rec->inLen - p < 2) {
    rec->inPos = p;
    rec->status = CCONV_NEED_INPUT;
    return 0;
  }
  const std::uint32_t b1 = rec->inBuf[p];
  const std::uint32_t b2 = rec->inBuf[p + 1];
  std::uint32_t charset;
  std::uint32_t code;
  if (b1 == 0x00) {
    if (b2 <= 0x7E)
      charset = kIdIso646Irv;
    else if (b2 >= 0xA0)
      charset = kIdJisX0201Kana;
    else
      return refuse(rec, p);
    code = b2;
  } else if (b1 >= 0xA0) {
    if (b2 >= 0xA0) {
      charset = kIdJisX0208;
      code = ((b1 << 8) | b2) & 0x7F7F;
    } else if (b2 >= 0x21 && b2 <= 0x7E) {
      charset = kIdJisX0212;
      code = ((b1 << 8) | b2) & 0x7FFF;
    } else {
      return refuse(rec, p);
    }
  } else {
    return refuse(rec, p);
  }
  const CharsetDef* set = ruleSet(srcRuleOf(rec), charset);
  if (!set) return refuse(rec, p);
  decoded(rec, set, code, p + 2);
  return 1;
}

int eucjpEncode(CconvRecord* rec) { return encodeWith(rec, eucjpWriteUnit); }

int eucjpfixEncode(CconvRecord* rec) { return encodeWith(rec, eucjpfixWriteUnit); }

// Never stores into the last byte of the output buffer.
int eucjpWriteUnit(CconvRecord* rec, std::uint32_t code) {
  unsigned char bytes[3];
  const int n = eucjpForm(rec->outCharset, code, bytes);
  if (n == 0) return unmappable(rec);
  return putBytes(rec, bytes, n, static_cast<std::int64_t>(rec->outSize) - 1);
}

// Always two bytes; may fill the buffer to its last byte.
int eucjpfixWriteUnit(CconvRecord* rec, std::uint32_t code) {
  const unsigned char hi = static_cast<unsigned char>((code >> 8) & 0xFF);
  const unsigned char lo = static_cast<unsigned char>(code & 0xFF);
  unsigned char bytes[2];
  switch (rec->outCharset) {
    case kIdIso646Irv:
    case kIdJisX0201Kana:
      bytes[0] = 0x00;
      bytes[1] = lo;
      break;
    case kIdJisX0208:
      if (rowOutsideEuc(hi)) return unmappable(rec);
      bytes[0] = hi | 0x80;
      bytes[1] = lo | 0x80;
      break;
    case kIdJisX0212:
      bytes[0] = hi | 0x80;
      bytes[1] = lo;
      break;
    default:
      return unmappable(rec);
  }
  return putBytes(rec, bytes, 2, rec->outSize);
}

}  // namespace zk
