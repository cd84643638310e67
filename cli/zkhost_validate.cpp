// The streaming Unicode validator: the kernels pass the well-formed bulk of a
// chunk; a byte-by-byte state machine takes what they stop at (a character
// cut by the chunk's end, a byte order mark, an ill-formed sequence) and
// decides it exactly as the Unicode standard's maximal-subpart practice
// (and Python's decoders) do.
#include <cstring>

#include "zkhost.h"
#include "zkhost_kernels.h"

// Bindings mirror these layouts (ctypes); the header states the sizes.
static_assert(sizeof(ZkhIssue) == 24 && sizeof(ZkhValidator) == 48 &&
              sizeof(ZkhConfirmation) == 272);

namespace {

using zkh::unit16;
using zkh::unit32;

enum Step { kTaken, kIssueTaken, kIssueNotTaken };

void hold(ZkhValidator* v, unsigned char b) {
  v->pending[v->pendingLen++] = b;
  ++v->offset;
}

void completeHeld(ZkhValidator* v) {
  v->pendingLen = 0;
  v->complete = v->offset;
}

// Reports the first k held bytes; the rest stay held.
void report(ZkhValidator* v, std::uint32_t k, std::uint32_t kind, ZkhIssue* issue) {
  std::memset(issue, 0, sizeof *issue);
  issue->offset = v->offset - v->pendingLen;
  issue->length = k;
  issue->kind = kind;
  std::memcpy(issue->bytes, v->pending, k);
  std::memmove(v->pending, v->pending + k, v->pendingLen - k);
  v->pendingLen -= k;
  v->complete = issue->offset + k;
}

Step stepUtf8(ZkhValidator* v, unsigned char b, ZkhIssue* issue) {
  if (v->pendingLen == 0) {
    const zkh::Utf8Lead l = zkh::utf8Lead(b);
    hold(v, b);
    if (l.length == 0) {
      report(v, 1, ZKH_BAD_BYTE, issue);
      return kIssueTaken;
    }
    if (l.length == 1) completeHeld(v);
    return kTaken;
  }
  const zkh::Utf8Lead l = zkh::utf8Lead(v->pending[0]);
  const bool fits = v->pendingLen == 1 ? b >= l.lo && b <= l.hi : (b & 0xC0) == 0x80;
  if (!fits) {
    // The lead and the continuation bytes that fitted are one sequence; the
    // byte that broke it is read anew.
    report(v, v->pendingLen, ZKH_BAD_SEQUENCE, issue);
    return kIssueNotTaken;
  }
  hold(v, b);
  if (v->pendingLen == l.length) completeHeld(v);
  return kTaken;
}

bool takeMark(ZkhValidator* v, std::uint32_t size) {
  v->detectBom = 0;
  const unsigned char* p = v->pending;
  const bool little = p[0] == 0xFF && p[1] == 0xFE && (size == 2 || (p[2] == 0 && p[3] == 0));
  const bool big = size == 2 ? p[0] == 0xFE && p[1] == 0xFF
                             : p[0] == 0 && p[1] == 0 && p[2] == 0xFE && p[3] == 0xFF;
  if (!little && !big) return false;
  v->bigEndian = big ? 1 : 0;
  completeHeld(v);
  return true;
}

Step stepUtf16(ZkhValidator* v, unsigned char b, ZkhIssue* issue) {
  hold(v, b);
  if (v->pendingLen % 2 != 0) return kTaken;
  if (v->detectBom && takeMark(v, 2)) return kTaken;
  const bool pairs = v->form == ZKH_UTF16;
  const std::uint32_t u = unit16(v->pending, v->bigEndian != 0);
  if (v->pendingLen == 2) {
    if (u < 0xD800 || u > 0xDFFF) {
      completeHeld(v);
      return kTaken;
    }
    if (!pairs || u >= 0xDC00) {
      report(v, 2, ZKH_SURROGATE, issue);
      return kIssueTaken;
    }
    return kTaken;  // a high surrogate waits for its partner
  }
  const std::uint32_t w = unit16(v->pending + 2, v->bigEndian != 0);
  if (w >= 0xDC00 && w <= 0xDFFF) {
    completeHeld(v);
    return kTaken;
  }
  // A high surrogate without its low one; the unit after it is read anew,
  // so its last byte (this one) is handed back.
  report(v, 2, ZKH_SURROGATE, issue);
  --v->pendingLen;
  --v->offset;
  return kIssueNotTaken;
}

Step stepUcs4(ZkhValidator* v, unsigned char b, ZkhIssue* issue) {
  hold(v, b);
  if (v->pendingLen < 4) return kTaken;
  if (v->detectBom && takeMark(v, 4)) return kTaken;
  const std::uint32_t u = unit32(v->pending, v->bigEndian != 0);
  if (u > 0x10FFFF) {
    report(v, 4, ZKH_OUT_OF_RANGE, issue);
    return kIssueTaken;
  }
  if (u >= 0xD800 && u <= 0xDFFF) {
    report(v, 4, ZKH_SURROGATE, issue);
    return kIssueTaken;
  }
  completeHeld(v);
  return kTaken;
}

std::size_t kernel(const ZkhValidator* v, const unsigned char* p, std::size_t n) {
  const bool big = v->bigEndian != 0;
  switch (v->form) {
    case ZKH_UTF8: return zkh::utf8Prefix(p, n, nullptr);
    case ZKH_UTF16: return zkh::utf16Prefix(p, n, big, true);
    case ZKH_UCS2: return zkh::utf16Prefix(p, n, big, false);
    default: return zkh::ucs4Prefix(p, n, big);
  }
}

}  // namespace

extern "C" {

int zkhValidatorInit(ZkhValidator* v, uint32_t form, uint32_t bigEndian, uint32_t detectBom) {
  if (!v || form < ZKH_UTF8 || form > ZKH_UCS4) return -1;
  std::memset(v, 0, sizeof *v);
  v->form = form;
  v->bigEndian = bigEndian ? 1 : 0;
  v->detectBom = detectBom && form != ZKH_UTF8 ? 1 : 0;
  return 0;
}

int zkhValidate(ZkhValidator* v, const unsigned char* data, size_t len, size_t* used,
                ZkhIssue* issue) {
  if (!v || !used || !issue || (!data && len > 0)) return -1;
  std::size_t i = 0;
  while (i < len) {
    if (v->pendingLen == 0 && !v->detectBom) {
      const std::size_t k = kernel(v, data + i, len - i);
      if (k > 0) {
        i += k;
        v->offset += k;
        v->complete = v->offset;
      }
      if (i == len) break;
    }
    Step s;
    switch (v->form) {
      case ZKH_UTF8: s = stepUtf8(v, data[i], issue); break;
      case ZKH_UTF16:
      case ZKH_UCS2: s = stepUtf16(v, data[i], issue); break;
      default: s = stepUcs4(v, data[i], issue); break;
    }
    if (s != kIssueNotTaken) ++i;
    if (s != kTaken) {
      *used = i;
      return 1;
    }
  }
  *used = len;
  return 0;
}

int zkhValidateEnd(ZkhValidator* v, ZkhIssue* issue) {
  if (!v || !issue) return -1;
  v->detectBom = 0;
  if (v->pendingLen == 0) return 0;
  report(v, v->pendingLen, ZKH_TRUNCATED, issue);
  return 1;
}

size_t zkhReplacement(const ZkhValidator* v, unsigned char out[4]) {
  if (!v || !out) return 0;
  const bool big = v->bigEndian != 0;
  switch (v->form) {
    case ZKH_UTF8:
      out[0] = 0xEF, out[1] = 0xBF, out[2] = 0xBD;
      return 3;
    case ZKH_UTF16:
    case ZKH_UCS2:
      out[0] = big ? 0xFF : 0xFD, out[1] = big ? 0xFD : 0xFF;
      return 2;
    default: {
      const unsigned char be[4] = {0, 0, 0xFF, 0xFD};
      for (int k = 0; k < 4; ++k) out[k] = be[big ? k : 3 - k];
      return 4;
    }
  }
}

size_t zkhUtf8Prefix(const unsigned char* data, size_t len, int* multiByte) {
  if (!data) {
    if (multiByte) *multiByte = 0;
    return 0;
  }
  return zkh::utf8Prefix(data, len, multiByte);
}

}  // extern "C"
