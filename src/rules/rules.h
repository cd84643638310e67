// Rule functions of the EUC, ISO-2022 and Unicode encodings.
#ifndef ZRKVT16_RULES_H
#define ZRKVT16_RULES_H

#include <cstdint>

#include "engine/engine.h"

namespace zk {

// EUC-JP family.
int eucjpDecode(CconvRecord* rec, std::uint32_t ss3Charset);
int destEucJp(CconvRecord* rec);       // eucjpDecode with JIS X 0212
int destEucJis2004(CconvRecord* rec);  // eucjpDecode with JIS X 0213
int eucjpfixDecode(CconvRecord* rec);
int eucjpEncode(CconvRecord* rec);  // constEUC-JP and constEUC-JIS-2004
int eucjpfixEncode(CconvRecord* rec);
int eucjpWriteUnit(CconvRecord* rec, std::uint32_t code);
// The EUC-JP bytes of `code` in the set `setId`: how many (1 to 3), or 0 when
// EUC-JP has no form for it (another set, or JIS X 0208 rows 95 to 114).
inline int eucjpForm(std::uint32_t setId, std::uint32_t code, unsigned char bytes[3]) {
  const auto hi = static_cast<unsigned char>((code >> 8) & 0xFF);
  const auto lo = static_cast<unsigned char>(code & 0xFF);
  bool ss3;
  switch (setId) {
    case kIdIso646Irv:
      bytes[0] = lo;
      return 1;
    case kIdJisX0201Kana:
      bytes[0] = 0x8E;
      bytes[1] = lo;
      return 2;
    case kIdJisX0208:
      if (hi >= 0x7F && hi <= 0x92) return 0;
      ss3 = false;
      break;
    case kIdJisX0212:
      ss3 = true;
      break;
    case kIdJisX0213:
      ss3 = (code & 0x10000) != 0;  // plane 2
      break;
    default:
      return 0;
  }
  unsigned char* p = bytes;
  if (ss3) *p++ = 0x8F;
  p[0] = hi | 0x80;
  p[1] = lo | 0x80;
  return ss3 ? 3 : 2;
}
int eucjpfixWriteUnit(CconvRecord* rec, std::uint32_t code);

// ISO-2022-JP family.
int iso2022jpDecode(CconvRecord* rec);
int iso2022jpEncode(CconvRecord* rec);

// UTF-8.
int destUtf8(CconvRecord* rec);
int constUtf8(CconvRecord* rec);
int utf8ReadSequence(CconvRecord* rec, std::uint32_t* value);
int utf8WriteUnit(CconvRecord* rec, std::uint32_t value);

// UCS-2, UCS-4, UTF-16 and what every Unicode rule shares.
int destUcs2(CconvRecord* rec);
int constUcs2(CconvRecord* rec);
int destUcs4(CconvRecord* rec);
int constUcs4(CconvRecord* rec);
int destUtf16(CconvRecord* rec);
int constUtf16(CconvRecord* rec);
int ucsClassify(CconvRecord* rec, std::int32_t start);
int ucsWriteLangTag(CconvRecord* rec, ByteWriter writer);
void ucsReadUnit(CconvRecord* rec, std::uint32_t* value, int n);
int ucs2WriteUnit(CconvRecord* rec, std::uint32_t value);
int ucs4WriteUnit(CconvRecord* rec, std::uint32_t value);
int utf16WriteUnit(CconvRecord* rec, std::uint32_t value);
int utf16WriteChar(CconvRecord* rec, std::uint32_t value);
int ucs2InWindows31j(const CconvRecord* rec);
int ucs2WriteNcr(CconvRecord* rec, std::uint32_t value);

}  // namespace zk

#endif
