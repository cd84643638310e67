// Confirming the detector's answer against more of the input, and telling an
// unknown ISO-2022-JP escape sequence from a truncated one.
#include <cstdint>
#include <cstring>

#include "zkhost.h"

namespace {

// Names compare in any case of ASCII letters.
bool sameName(const char* a, const char* b) {
  for (;; ++a, ++b) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
    if (x == 0) return true;
  }
}

bool unicodeForm(const char* name, std::uint32_t* form) {
  static const struct {
    const char* name;
    std::uint32_t form;
  } forms[] = {{"UTF-8", ZKH_UTF8},
               {"UTF-16", ZKH_UTF16},
               {"ISO-10646-UCS-2", ZKH_UCS2},
               {"ISO-10646-UCS-4", ZKH_UCS4}};
  for (const auto& f : forms) {
    if (sameName(name, f.name)) {
      *form = f.form;
      return true;
    }
  }
  return false;
}

// A prefix of the input may end inside a character; the whole input may not.
bool cleanUnicode(std::uint32_t form, std::uint32_t big, const unsigned char* data,
                  std::size_t len, bool whole) {
  ZkhValidator v;
  zkhValidatorInit(&v, form, big, 1);
  std::size_t used = 0;
  ZkhIssue issue;
  if (zkhValidate(&v, data, len, &used, &issue) != 0) return false;
  return !whole || zkhValidateEnd(&v, &issue) == 0;
}

// Whether the library's decoder for `name` reads data without an invalid
// byte. The probe writes UTF-8, which every character with a Unicode value
// reaches, so an unmappable one is a code without a character: bytes that
// the decoder takes as codes of no set (ISO-2022-JP reads 8-bit bytes so),
// which is no clean decoding either.
bool cleanLegacy(const char* name, const unsigned char* data, std::size_t len, bool whole) {
  CconvRecord rec;
  std::memset(&rec, 0, sizeof rec);
  CconvDstOptions dst;
  std::memset(&dst, 0, sizeof dst);
  dst.outBigEndian = 1;
  if (cconvInitConvert(&rec, &dst, "UTF-8") != CCONV_OK &&
      cconvInitConvert(&rec, &dst, name) != CCONV_OK)
    return false;
  CconvSrcOptions src;
  std::memset(&src, 0, sizeof src);
  src.inBigEndian = 1;  // double-byte units row byte first
  if (cconvChgCharset(&rec, &src, name) != CCONV_OK) return false;
  if (len > 0x7FFFFFFF) {
    len = 0x7FFFFFFF;
    whole = false;
  }
  unsigned char out[8192];
  rec.inBuf = data;
  rec.inPos = 0;
  rec.inLen = static_cast<std::int32_t>(len);
  for (;;) {
    rec.outBuf = out;
    rec.outPos = 0;
    rec.outSize = static_cast<std::int32_t>(sizeof out);
    const std::uint32_t st = cconvConvert(&rec);
    if (st == CCONV_OK) return true;
    if (st == CCONV_OUTPUT_FULL && rec.outPos > 0) continue;
    // Stuck before the end: a character cut by the end of a prefix is fine,
    // anything longer (an unknown escape sequence) is not.
    if (st == CCONV_NEED_INPUT) return !whole && rec.inLen - rec.inPos < 8;
    return false;
  }
}

bool clean(const char* name, std::uint32_t big, const unsigned char* data, std::size_t len,
           bool whole) {
  std::uint32_t form = 0;
  if (unicodeForm(name, &form)) return cleanUnicode(form, big, data, len, whole);
  return cleanLegacy(name, data, len, whole);
}

void setName(ZkhConfirmation* out, const char* name) {
  std::memset(out->encodingName, 0, sizeof out->encodingName);
  std::strncpy(out->encodingName, name, sizeof out->encodingName - 1);
}

}  // namespace

extern "C" {

int zkhConfirmEncoding(const CconvChkRecord* chk, const unsigned char* data, size_t len,
                       int whole, ZkhConfirmation* out) {
  if (!chk || !out || (!data && len > 0)) return -1;
  std::memset(out, 0, sizeof *out);
  char detected[CCONV_TEXT_SIZE];
  std::memcpy(detected, chk->encodingName, sizeof detected);
  detected[sizeof detected - 1] = '\0';
  setName(out, detected);
  out->bigEndian = chk->bigEndian;
  const bool known = detected[0] != '\0' && !sameName(detected, "unknown");

  // Well-formed UTF-8 with a multi-byte sequence: only a prefix cut inside a
  // character may end unfinished.
  int multi = 0;
  const std::size_t k = zkhUtf8Prefix(data, len, &multi);
  if (multi && (k == len || cleanUnicode(ZKH_UTF8, 1, data + k, len - k, whole != 0))) {
    setName(out, "UTF-8");
    out->bigEndian = 1;
    out->corrected = !sameName(detected, "UTF-8");
    out->reason = out->corrected ? ZKH_WAS_UTF8 : ZKH_KEPT;
    return 1;
  }
  if (!known) return 0;
  if (chk->hasBom || clean(detected, chk->bigEndian, data, len, whole != 0)) return 1;

  static const char* const candidates[] = {"ISO-2022-JP", "UTF-8", "EUC-JP", "WINDOWS31J"};
  for (const char* c : candidates) {
    if (sameName(c, detected) || !clean(c, 1, data, len, whole != 0)) continue;
    setName(out, c);
    out->bigEndian = 1;
    out->corrected = 1;
    out->reason = ZKH_DECODED;
    return 1;
  }
  return 1;
}

int zkhUnknownEscape(const unsigned char* data, size_t len) {
  if (!data || len == 0 || data[0] != 0x1B) return -1;
  static const char* const known[] = {"\x1B(B", "\x1B(J", "\x1B$@", "\x1B$B", "\x1B$(Q", "\x1B$(P"};
  std::size_t longest = 0;
  for (const char* s : known) {
    const std::size_t n = std::strlen(s);
    std::size_t c = 0;
    while (c < n && c < len && data[c] == static_cast<unsigned char>(s[c])) ++c;
    if (c == n || c == len) return 0;  // a known sequence, or its start
    if (c > longest) longest = c;
  }
  return static_cast<int>(longest + 1);
}

}  // extern "C"
