// Block kernels between UTF-8 and UTF-16 (see blocks.h).
//
// The SSSE3 UTF-8 steps find their four characters from where continuation
// bytes lie (a table from the 12-bit mask of character ends to the lengths,
// and the byte moves that gather each character into a 16-bit lane) and then
// check that each character starts with the lead byte its length needs;
// anything else is left to the general path, which reads ill-formed bytes its
// own way.
// UTF-16 steps write each unit as one to three bytes into a 32-bit lane and
// pack the lanes with a table indexed by the four lengths; the packed bytes
// are merged with what the buffer held beyond them before the 16-byte store,
// so no byte past the output is changed.
//
// The AVX2 versions read 32-byte windows instead: UTF-8 by bit masks of the
// window's bytes (see widePlan) and a value computed at every byte as if a
// character ended there, packed by the mask of ends; UTF-16 as sixteen
// lanes of UTF-8 bytes packed four at a time by the same table as above.
// Their 16-byte stores may run past the output; what the buffer held there
// is kept in a register and written back.
//
// The map kernel (UTF-8 to a code-point table's bytes) needs AVX-512 with
// VBMI2: it compresses the characters' bytes to the front of a vector and
// fetches table values with gathers, and its stores are masked.
//
// The SSSE3 and AVX2 versions are ordinary functions compiled for those
// instruction sets and only called after a run-time check, so the library
// itself runs on any x86-64.
#include "engine/blocks.h"

#include <algorithm>
#include <cstring>

#include "engine/simd.h"
#include "rules/unicode.h"

#if defined(__x86_64__) || defined(_M_X64)
#include <immintrin.h>
#define ZK_BLOCKS_SSSE3 1
#endif

namespace zk {

namespace {

// ---- tables ----

struct Utf8Step {
  std::uint8_t consumed;
  std::uint8_t starts[4];             // where each character begins
  std::uint16_t lead1, lead2, lead3;  // starts of one-, two- and three-byte characters
  std::int8_t gatherP[16];            // lane i: the character's last byte, and the one before
  std::int8_t gatherQ[16];            // lane i: the lead byte of a three-byte character
};

constexpr std::uint8_t kNoStep = 81;

struct Utf8Tables {
  std::uint8_t byEnds[4096] = {};  // the step for a mask of character ends, or kNoStep
  Utf8Step steps[81] = {};
  constexpr Utf8Tables() {
    for (int id = 0; id < 81; ++id) {
      Utf8Step& s = steps[id];
      for (int i = 0; i < 16; ++i) s.gatherP[i] = s.gatherQ[i] = -1;
      int start = 0;
      for (int j = 0, rest = id; j < 4; ++j, rest /= 3) {
        const int len = rest % 3 + 1, end = start + len - 1;
        s.starts[j] = static_cast<std::uint8_t>(start);
        const std::uint16_t bit = static_cast<std::uint16_t>(1u << start);
        if (len == 1) s.lead1 |= bit;
        if (len == 2) s.lead2 |= bit;
        if (len == 3) s.lead3 |= bit;
        s.gatherP[2 * j] = static_cast<std::int8_t>(end);
        if (len >= 2) s.gatherP[2 * j + 1] = static_cast<std::int8_t>(end - 1);
        if (len == 3) s.gatherQ[2 * j] = static_cast<std::int8_t>(start);
        start = end + 1;
      }
      s.consumed = static_cast<std::uint8_t>(start);
    }
    for (int ends = 0; ends < 4096; ++ends) {
      int id = 0, scale = 1, start = 0, found = 0;
      for (int i = 0; i < 12 && found < 4; ++i) {
        if (!((ends >> i) & 1)) continue;
        const int len = i - start + 1;
        if (len > 3) break;
        id += (len - 1) * scale;
        scale *= 3;
        start = i + 1;
        ++found;
      }
      byEnds[ends] = found == 4 ? static_cast<std::uint8_t>(id) : kNoStep;
    }
  }
};
constexpr Utf8Tables kUtf8Tables;

// Packing four 32-bit lanes of one to three UTF-8 bytes, indexed by the sum
// of (length - 1) << (2 * lane).
struct Utf16Packing {
  std::int8_t pack[256][16] = {};
  std::uint8_t length[256] = {};
  constexpr Utf16Packing() {
    for (int idx = 0; idx < 256; ++idx) {
      int n = 0;
      bool valid = true;
      for (int j = 0; j < 4; ++j) {
        const int len = ((idx >> (2 * j)) & 3) + 1;
        if (len > 3) valid = false;
        for (int k = 0; k < len && valid; ++k) pack[idx][n++] = static_cast<std::int8_t>(4 * j + k);
      }
      for (int k = n; k < 16; ++k) pack[idx][k] = -1;
      length[idx] = valid ? static_cast<std::uint8_t>(n) : 0;
    }
  }
};
constexpr Utf16Packing kUtf16Packing;

// ---- what both versions share ----

inline bool isCombining(std::uint32_t u) { return u == 0x309A || (u >= 0x2E5 && u <= 0x301); }

inline bool isLineEnd(std::uint32_t u) { return u == 0x0A || u == 0x0D || u == 0x2028 || u == 0x2029; }

// With line ends converted, every line end but the one written as itself
// (`keep`, 0 for none) stops a step.
inline bool stops(std::uint32_t u, bool newline, std::uint32_t keep) {
  return isCombining(u) || (newline && isLineEnd(u) && u != keep);
}

// Where a step of four values stops: the first value that stops it (4 for
// none); `partial` when it is a line end, before which the step is written.
inline int firstStop(const std::uint32_t* u, bool newline, std::uint32_t keep, bool* partial) {
  for (int j = 0; j < 4; ++j)
    if (stops(u[j], newline, keep)) {
      *partial = !isCombining(u[j]);
      return j;
    }
  *partial = false;
  return 4;
}

// Whether a combining mark, or bytes the UTF-8 reader skips, may start at q.
inline bool utf8MayCombine(const unsigned char* q) {
  if (q[0] == 0xE3) return q[1] == 0x82 && q[2] == 0x9A;
  return q[0] == 0xCB || q[0] == 0xCC || q[0] >= 0xFE;
}

inline std::uint32_t unitAt(const unsigned char* p, bool big) {
  return big ? (std::uint32_t{p[0]} << 8) | p[1] : (std::uint32_t{p[1]} << 8) | p[0];
}

inline void putUnit(unsigned char* p, std::uint32_t u, bool big) {
  p[0] = static_cast<unsigned char>(big ? u >> 8 : u);
  p[1] = static_cast<unsigned char>(big ? u : u >> 8);
}

inline std::uint32_t utf8Length(std::uint32_t u) { return u < 0x80 ? 1 : u < 0x800 ? 2 : 3; }

// The value of the well-formed one-, two- or three-byte sequence at p.
inline std::uint32_t utf8Value(const unsigned char* p, std::uint32_t len) {
  const std::uint32_t b = p[0];
  return len == 1   ? b
         : len == 2 ? ((b & 0x1Fu) << 6) | (p[1] & 0x3Fu)
                    : ((b & 0x0Fu) << 12) | ((p[1] & 0x3Fu) << 6) | (p[2] & 0x3Fu);
}

// Writes u (below U+10000, not a surrogate) as UTF-8; returns its length.
inline std::uint32_t putUtf8(unsigned char* q, std::uint32_t u) {
  if (u < 0x80) {
    q[0] = static_cast<unsigned char>(u);
  } else if (u < 0x800) {
    q[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
    q[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
  } else {
    q[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
    q[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
    q[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
  }
  return utf8Length(u);
}

// Scalar steps over n ASCII characters that need no stop: n bytes of UTF-8
// (or n UTF-16 units) at the step's input, written as n UTF-16 units (or n
// bytes). False, with nothing written, when any of them is not such.
inline bool asciiStep8(const unsigned char* in, unsigned char* out, int n, bool big, bool newline,
                       std::uint32_t keep, BlockResult* r) {
  const unsigned char* p = in + r->in;
  for (int i = 0; i < n; ++i)
    if (p[i] >= 0x80 || stops(p[i], newline, keep)) return false;
  for (int i = 0; i < n; ++i) putUnit(out + r->out + 2 * i, p[i], big);
  r->prev = r->in + static_cast<std::size_t>(n) - 2;
  r->last = r->in + static_cast<std::size_t>(n) - 1;
  r->in += static_cast<std::size_t>(n);
  r->out += 2 * static_cast<std::size_t>(n);
  r->chars += static_cast<std::size_t>(n);
  return true;
}

inline bool asciiStep16(const unsigned char* in, unsigned char* out, int n, bool big, bool newline,
                        std::uint32_t keep, BlockResult* r) {
  const unsigned char* p = in + r->in;
  for (int i = 0; i < n; ++i) {
    const std::uint32_t u = unitAt(p + 2 * i, big);
    if (u >= 0x80 || stops(u, newline, keep)) return false;
  }
  for (int i = 0; i < n; ++i) out[r->out + i] = static_cast<unsigned char>(unitAt(p + 2 * i, big));
  r->prev = r->in + 2 * static_cast<std::size_t>(n) - 4;
  r->last = r->in + 2 * static_cast<std::size_t>(n) - 2;
  r->in += 2 * static_cast<std::size_t>(n);
  r->out += static_cast<std::size_t>(n);
  r->chars += static_cast<std::size_t>(n);
  return true;
}

// A reference's bookkeeping for an LF of `inLen` bytes written as CR LF in
// `outLen` bytes (keep kLfAsCrLf).
inline void tookCrLf(BlockResult* r, std::size_t inLen, std::size_t outLen) {
  r->prev = r->last;
  r->last = r->in;
  r->in += inLen;
  r->out += outLen;
  ++r->chars;
  ++r->lines;
}

// A UTF-16 step that took `units` units from the step's input on.
inline void unitsTaken(BlockResult* r, std::size_t units) {
  if (units >= 2) r->prev = r->in + 2 * units - 4;
  if (units == 1) r->prev = r->last;
  if (units >= 1) r->last = r->in + 2 * units - 2;
  r->in += 2 * units;
  r->chars += units;
}

// ---- UTF-8 to UTF-16 in 32-byte windows ----
//
// A wide step reads 32 bytes and takes every character that ends within the
// first kWideSpan of them, cut short before the first byte that is not part
// of a well-formed one-, two- or three-byte sequence, before the character
// ahead of what may start a combining mark (and that mark), and before a
// line end that stops. Everything is decided on bit masks of the window,
// which both versions make and hand to widePlan.
constexpr int kWideSpan = 29;  // the next character's three bytes stay in the window

struct WideMasks {
  std::uint32_t cont = 0, ascii = 0, lead2 = 0, lead3 = 0;
  std::uint32_t overlong = 0;  // C0, C1, or E0 80..9F: the values checked as bytes elsewhere
  std::uint32_t mark = 0;      // CB, CC, or E3 82 9A: what may start a combining mark
  std::uint32_t lineEnd = 0;   // the last byte of a line end that stops
};

struct WidePlan {
  std::uint32_t take = 0;  // the last byte of each character taken
  bool partial = false;    // cut short: the kernel stops after this step
  std::uint32_t hold = 0;
};

inline std::uint32_t below(int k) { return k >= 32 ? ~0u : k <= 0 ? 0u : (1u << k) - 1; }

inline int lowest(std::uint32_t m) { return m ? __builtin_ctz(m) : 32; }

inline WidePlan widePlan(const WideMasks& m) {
  const std::uint32_t other = ~(m.ascii | m.cont | m.lead2 | m.lead3) | m.overlong;  // and F0..FF
  const std::uint32_t needed = ((m.lead2 | m.lead3) << 1) | (m.lead3 << 2);
  const int bad = lowest((m.cont ^ needed) | other);
  // A missing continuation byte cuts the character before it; F0..FF (which
  // may be skipped ahead of a mark) and overlong forms the one before as well.
  const int wellFormed = bad - (bad < 32 ? static_cast<int>(((needed | other) >> bad) & 1) : 0);
  const int beforeMark = lowest(m.mark & below(kWideSpan + 1)) - 1;
  const int beforeLineEnd = lowest(m.lineEnd);
  int limit = kWideSpan;
  if (wellFormed < limit) limit = wellFormed;
  if (beforeMark < limit) limit = beforeMark;
  WidePlan p;
  p.hold = 4;
  if (beforeLineEnd < limit) {
    limit = beforeLineEnd;
    p.hold = 1;
  }
  p.take = (~m.cont >> 1) & below(limit);
  p.partial = limit < kWideSpan;
  if (!p.partial) p.hold = 0;
  return p;
}

// Where the last two characters of a step of `take` began, from `at` on.
inline void lastTwo(std::uint32_t take, std::size_t at, std::size_t* last, std::size_t* prev) {
  const int e1 = 31 - __builtin_clz(take);
  const std::uint32_t rest = take & ~(1u << e1);
  if (!rest) {
    *prev = *last;
    *last = at;
    return;
  }
  const int e2 = 31 - __builtin_clz(rest);
  const std::uint32_t more = rest & ~(1u << e2);
  *last = at + static_cast<std::size_t>(e2) + 1;
  *prev = more ? at + static_cast<std::size_t>(31 - __builtin_clz(more)) + 1 : at;
}

}  // namespace

BlockResult utf8To16Scalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                           std::size_t outLeft, bool big, bool newline, std::uint32_t keep) {
  BlockResult r;
  while (inLeft - r.in >= 16 && outLeft - r.out >= 32) {
    if (asciiStep8(in, out, 16, big, newline, keep, &r)) continue;
    const unsigned char* p = in + r.in;
    // The next four characters as the continuation bytes delimit them: a
    // start byte and the continuation bytes after it (at most two), which
    // must end by byte 12 and start with the lead byte of their length.
    // Four three-byte leads are taken as they are: the reader takes the two
    // bytes after each lead whatever they are.
    std::uint32_t u[4];
    std::size_t at = 0, starts[5];
    bool ok = true;
    const bool threes = (p[0] & 0xF0) == 0xE0 && (p[3] & 0xF0) == 0xE0 && (p[6] & 0xF0) == 0xE0 &&
                        (p[9] & 0xF0) == 0xE0;
    for (int j = 0; j < 4 && ok; ++j) {
      starts[j] = at;
      std::size_t len = 3;
      if (!threes) {
        len = 1;
        while (len <= 3 && at + len < 13 && (p[at + len] & 0xC0) == 0x80) ++len;
      }
      const std::uint32_t b = p[at];
      ok = at + len <= 12 && (len == 1 ? b < 0x80 : len == 2 ? (b & 0xE0) == 0xC0 : len == 3 && (b & 0xF0) == 0xE0);
      if (!ok) break;
      u[j] = utf8Value(p + at, static_cast<std::uint32_t>(len));
      at += len;
    }
    starts[4] = at;
    if (!ok) {
      r.hold = 4;
      break;
    }
    bool partial;
    const int stop = firstStop(u, newline, keep, &partial);
    const int take = stop < 4 ? (partial ? stop : 0) : utf8MayCombine(p + at) ? 0 : 4;
    for (int j = 0; j < take; ++j) putUnit(out + r.out + 2 * j, u[j], big);
    if (take >= 2) {
      r.prev = r.in + starts[take - 2];
      r.last = r.in + starts[take - 1];
    } else if (take == 1) {
      r.prev = r.last;
      r.last = r.in;
    }
    r.in += starts[take];
    r.out += 2 * static_cast<std::size_t>(take);
    r.chars += static_cast<std::size_t>(take);
    if (take < 4) {
      r.hold = stop < 4 ? (partial ? 1 : stop + 1) : 4;
      break;
    }
  }
  return r;
}

BlockResult utf8To16WideScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                               std::size_t outLeft, bool big, bool newline, std::uint32_t keep) {
  BlockResult r;
  while (inLeft - r.in >= 32 && outLeft - r.out >= 80) {
    if (asciiStep8(in, out, 32, big, newline, keep, &r)) continue;
    const unsigned char* p = in + r.in;
    WideMasks m;
    for (int i = 0; i < 32; ++i) {
      const std::uint32_t b = p[i], bit = 1u << i;
      if (b < 0x80) m.ascii |= bit;
      if ((b & 0xC0) == 0x80) m.cont |= bit;
      if ((b & 0xE0) == 0xC0) m.lead2 |= bit;
      if ((b & 0xF0) == 0xE0) m.lead3 |= bit;
      if ((b & 0xFE) == 0xC0 || (b == 0xE0 && i < 31 && (p[i + 1] & 0xE0) == 0x80))
        m.overlong |= bit;
      if (b == 0xCB || b == 0xCC || (i < 30 && b == 0xE3 && p[i + 1] == 0x82 && p[i + 2] == 0x9A))
        m.mark |= bit;
      const std::uint32_t u = b < 0x80                                         ? b
                              : i >= 2 && p[i - 2] == 0xE2 && p[i - 1] == 0x80 ? 0x1F80 + b
                                                                               : 0;
      if (newline && isLineEnd(u) && u != keep) m.lineEnd |= bit;
    }
    const WidePlan plan = widePlan(m);
    std::size_t start = 0, n = 0;
    for (int e = 0; e < 32; ++e) {
      if (!((plan.take >> e) & 1)) continue;
      const std::uint32_t len = static_cast<std::uint32_t>(e) + 1 - static_cast<std::uint32_t>(start);
      putUnit(out + r.out + 2 * n++, utf8Value(p + start, len), big);
      start = static_cast<std::size_t>(e) + 1;
    }
    if (n) lastTwo(plan.take, r.in, &r.last, &r.prev);
    r.in += start;
    r.out += 2 * n;
    r.chars += n;
    if (plan.partial) {
      if (newline && keep == kLfAsCrLf && plan.hold == 1 && in[r.in] == 0x0A) {
        putUnit(out + r.out, 0x0D, big);
        putUnit(out + r.out + 2, 0x0A, big);
        tookCrLf(&r, 1, 4);
        continue;
      }
      r.hold = plan.hold;
      break;
    }
  }
  return r;
}

BlockResult utf16To8Scalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                           std::size_t outLeft, bool big, bool newline, std::uint32_t keep) {
  BlockResult r;
  while (inLeft - r.in >= 18 && outLeft - r.out >= 40) {
    if (asciiStep16(in, out, 8, big, newline, keep, &r)) continue;
    const unsigned char* p = in + r.in;
    // Eight units of three bytes, else four of any length; before a line
    // end, those before it.
    const bool nextCombines = isCombining(unitAt(p + 16, big));
    bool threes = !nextCombines;
    for (int i = 0; i < 8; ++i) {
      const std::uint32_t u = unitAt(p + 2 * i, big);
      threes = threes && u >= 0x800 && (u < 0xD800 || u > 0xDFFF) && !stops(u, newline, keep);
    }
    int units = threes ? 8 : 4;
    if (!threes) {
      for (int i = 0; i < 4; ++i) {
        const std::uint32_t u = unitAt(p + 2 * i, big);
        const bool surrogate = u >= 0xD800 && u <= 0xDFFF;
        if (!surrogate && !stops(u, newline, keep)) continue;
        const bool partial = !surrogate && !isCombining(u);
        r.hold = partial ? 1 : static_cast<std::size_t>(i) + 1;
        units = partial ? i : 0;
        break;
      }
      if (units == 4 && isCombining(unitAt(p + 8, big))) {
        r.hold = 4;
        units = 0;
      }
    }
    for (int i = 0; i < units; ++i) r.out += putUtf8(out + r.out, unitAt(p + 2 * i, big));
    unitsTaken(&r, static_cast<std::size_t>(units));
    if (r.hold) break;
  }
  return r;
}

BlockResult utf16To8WideScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                               std::size_t outLeft, bool big, bool newline, std::uint32_t keep) {
  BlockResult r;
  while (inLeft - r.in >= 34 && outLeft - r.out >= 64) {
    if (asciiStep16(in, out, 16, big, newline, keep, &r)) continue;
    const unsigned char* p = in + r.in;
    // Sixteen units, cut before a surrogate or a line end, and before the
    // unit ahead of a combining mark (the seventeenth included).
    std::size_t units = 16;
    for (std::size_t j = 0; j <= 16; ++j) {
      const std::uint32_t u = unitAt(p + 2 * j, big);
      if (isCombining(u)) {
        units = j ? j - 1 : 0;
        r.hold = 4;
        break;
      }
      if (j < 16 && ((u >= 0xD800 && u <= 0xDFFF) || stops(u, newline, keep))) {
        units = j;
        r.hold = u >= 0xD800 && u <= 0xDFFF ? 4 : 1;
        break;
      }
    }
    for (std::size_t j = 0; j < units; ++j) r.out += putUtf8(out + r.out, unitAt(p + 2 * j, big));
    unitsTaken(&r, units);
    if (newline && keep == kLfAsCrLf && r.hold == 1 && unitAt(in + r.in, big) == 0x0A) {
      out[r.out] = 0x0D;
      out[r.out + 1] = 0x0A;
      tookCrLf(&r, 2, 2);
      r.hold = 0;
      continue;
    }
    if (r.hold) break;
  }
  return r;
}

namespace {

// The map kernel's bookkeeping for a window of 64 ASCII characters copied
// as they are, `lines` of them LF.
inline void tookAsciiWindow(BlockResult* r, std::size_t lines) {
  r->lines += lines;
  r->prev = r->in + 62;
  r->last = r->in + 63;
  r->lastOut = r->out + 63;
  r->in += 64;
  r->out += 64;
  r->chars += 64;
}

}  // namespace

BlockResult utf8MapScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                          std::size_t outLeft, const std::uint16_t* ucs) {
  BlockResult r;
  while (inLeft - r.in >= 72 && outLeft - r.out >= 64) {
    const unsigned char* const w = in + r.in;
    std::size_t self = 0;
    while (self < 64 && w[self] < 0x80 && ucs[w[self]] == w[self]) ++self;
    if (self == 64) {
      std::memcpy(out + r.out, w, 64);
      tookAsciiWindow(&r, static_cast<std::size_t>(std::count(w, w + 64, 0x0A)));
      continue;
    }
    // The window's characters up to the first that is not well formed by
    // its bytes or ends beyond it, at most 24.
    std::size_t start[25], q = 0, n = 0;
    std::uint32_t cp[24];
    bool atEnd = false;
    for (; n < 24; ++n) {
      const std::uint32_t b = w[q];
      const std::size_t len = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : 0;
      if (len == 0) break;
      if (q + len > 64) {
        atEnd = true;
        break;
      }
      std::uint32_t v = len == 1 ? b : b & (len == 2 ? 0x1F : 0x0F);
      bool whole = true;
      for (std::size_t j = 1; j < len; ++j) {
        whole = whole && (w[q + j] & 0xC0) == 0x80;
        v = (v << 6) | (w[q + j] & 0x3F);
      }
      if (!whole) break;
      start[n] = q;
      cp[n] = v;
      q += len;
      if (q == 64) {
        atEnd = true;
        ++n;
        break;
      }
    }
    start[n] = q;
    const bool capped = n == 24 && q < 64;
    // The first character in an overlong form or that the table lacks.
    std::size_t k = 0;
    for (; k < n; ++k) {
      const std::uint32_t v = cp[k], b = w[start[k]];
      const bool overlong = (b >= 0xE0 && v < 0x800) || (b >= 0xC0 && v < 0x80);
      if (overlong || ucs[v] == 0) break;
    }
    bool stopped = k < n || !(atEnd || capped);
    // A possible pair base stays behind when a mark may follow it.
    if (k && utf8MayStartPairMark(w + start[k]) && ucsMayBePairBase(cp[k - 1])) {
      --k;
      stopped = true;
    }
    if (k == 0) break;
    for (std::size_t j = 0; j < k; ++j) {
      const std::uint32_t d = ucs[cp[j]];
      r.prev = j ? r.in + start[j - 1] : r.last;
      r.last = r.in + start[j];
      r.lastOut = r.out;
      r.lines += cp[j] == 0x0A;
      out[r.out++] = static_cast<unsigned char>(d);
      if (d > 0xFF) out[r.out++] = static_cast<unsigned char>(d >> 8);
    }
    r.in += start[k];
    r.chars += k;
    if (stopped) break;
  }
  return r;
}

BlockResult utf16MapScalar(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                           std::size_t outLeft, bool big, const std::uint16_t* ucs) {
  BlockResult r;
  while (inLeft - r.in >= 66 && outLeft - r.out >= 64) {
    const unsigned char* const w = in + r.in;
    std::size_t k = 0;
    while (k < 32) {
      const std::uint32_t u = unitAt(w + 2 * k, big);
      if (u - 0xD800u < 0x800u || ucs[u] == 0) break;
      ++k;
    }
    bool stopped = k < 32;
    // A possible pair base stays behind when a mark may follow it.
    if (k && isCombining(unitAt(w + 2 * k, big)) && ucsMayBePairBase(unitAt(w + 2 * k - 2, big))) {
      --k;
      stopped = true;
    }
    if (k == 0) break;
    for (std::size_t j = 0; j < k; ++j) {
      const std::uint32_t u = unitAt(w + 2 * j, big), d = ucs[u];
      r.prev = j ? r.in + 2 * j - 2 : r.last;
      r.last = r.in + 2 * j;
      r.lastOut = r.out;
      r.lines += u == 0x0A;
      out[r.out++] = static_cast<unsigned char>(d);
      if (d > 0xFF) out[r.out++] = static_cast<unsigned char>(d >> 8);
    }
    r.in += 2 * k;
    r.chars += k;
    if (stopped) break;
  }
  return r;
}

#if ZK_BLOCKS_SSSE3

namespace {

#define ZK_AVX2 gnu::target("avx2,popcnt")

// Lanes of 16 bits within [lo, lo + n] (unsigned).
[[gnu::target("ssse3")]] inline __m128i inRange16(__m128i v, short lo, short n) {
  const __m128i d = _mm_sub_epi16(v, _mm_set1_epi16(lo));
  return _mm_cmpeq_epi16(_mm_subs_epu16(d, _mm_set1_epi16(n)), _mm_setzero_si128());
}

// The line ends that stop a step, in every lane: LF, CR, U+2028 and U+2029,
// the one written as itself replaced by CR.
struct LineEnds16 {
  __m128i lf, cr, ls, ps;
};

[[gnu::target("ssse3")]] inline LineEnds16 lineEnds16(std::uint32_t keep) {
  const auto stop = [keep](short u) {
    return _mm_set1_epi16(static_cast<unsigned short>(u) == keep ? 0x0D : u);
  };
  return {stop(0x0A), stop(0x0D), stop(0x2028), stop(0x2029)};
}

// Line ends in 16-bit lanes, but the one written as itself.
[[gnu::target("ssse3")]] inline __m128i lineEndLanes(__m128i u, const LineEnds16& e) {
  return _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi16(u, e.lf), _mm_cmpeq_epi16(u, e.cr)),
                      _mm_or_si128(_mm_cmpeq_epi16(u, e.ls), _mm_cmpeq_epi16(u, e.ps)));
}

[[gnu::target("ssse3")]] inline __m128i stopLanes(__m128i u, bool newline, const LineEnds16& keep) {
  __m128i bad = _mm_or_si128(_mm_cmpeq_epi16(u, _mm_set1_epi16(0x309A)), inRange16(u, 0x2E5, 0x301 - 0x2E5));
  if (newline) bad = _mm_or_si128(bad, lineEndLanes(u, keep));
  return bad;
}

[[gnu::target("ssse3")]] inline __m128i load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}

// Writes CR LF (its kW bytes, first lowest) at r, where `held` keeps what
// the buffer had there; `held` then keeps what it had kW bytes on, which no
// store of the step reached.
template <int kW>
[[gnu::target("ssse3")]] inline void crLfIntoHeld(unsigned char* r, __m128i& held,
                                                  std::uint32_t crLf) {
  std::uint32_t beyond = 0;
  std::memcpy(&beyond, r + 16, kW);
  held = _mm_alignr_epi8(_mm_cvtsi32_si128(static_cast<int>(beyond)), held, kW);
  std::memcpy(r, &crLf, kW);
}

template <bool kBig, bool kNewline>
[[gnu::target("ssse3")]] BlockResult utf8To16Steps(const unsigned char* in, std::size_t inLeft,
                                                   unsigned char* out, std::size_t outLeft,
                                                   std::uint32_t keep) {
  const LineEnds16 keep16 = lineEnds16(keep);
  // ASCII line ends that stop a step, as bytes (0x80 never matches ASCII).
  const __m128i stopLf = _mm_set1_epi8(static_cast<char>(keep == 0x0A ? 0x80 : 0x0A));
  const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  // Four three-byte characters: lanes of lead << 8 | second byte, and third byte.
  const __m128i pickA = _mm_setr_epi8(1, 0, 4, 3, 7, 6, 10, 9, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i pickB = _mm_setr_epi8(2, -1, 5, -1, 8, -1, 11, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i zero = _mm_setzero_si128();
  const __m128i x0F = _mm_set1_epi16(0x0F), x3F = _mm_set1_epi16(0x3F), x7F = _mm_set1_epi16(0x7F);
  const __m128i xF0 = _mm_set1_epi8(static_cast<char>(0xF0)), xE0 = _mm_set1_epi8(static_cast<char>(0xE0));
  const __m128i xC0 = _mm_set1_epi8(static_cast<char>(0xC0)), x80 = _mm_set1_epi8(static_cast<char>(0x80));
  std::size_t i = 0, o = 0, chars = 0, last = 0, prev = 0, hold = 0;
  while (inLeft - i >= 16 && outLeft - o >= 32) {
    const unsigned char* p = in + i;
    const __m128i v = load(p);
    const int high = _mm_movemask_epi8(v);
    if (high == 0 && !(kNewline && _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(v, stopLf),
                                                                  _mm_cmpeq_epi8(v, _mm_set1_epi8(0x0D)))))) {
      const __m128i a = kBig ? _mm_unpacklo_epi8(zero, v) : _mm_unpacklo_epi8(v, zero);
      const __m128i b = kBig ? _mm_unpackhi_epi8(zero, v) : _mm_unpackhi_epi8(v, zero);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), a);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o + 16), b);
      prev = i + 14;
      last = i + 15;
      i += 16;
      o += 32;
      chars += 16;
      continue;
    }
    const std::uint32_t lead3 = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, xF0), xE0)));
    __m128i u;
    const std::uint8_t* starts;
    std::size_t consumed;
    static constexpr std::uint8_t kThrees[4] = {0, 3, 6, 9};
    if ((lead3 & 0x249) == 0x249) {
      // Four three-byte characters: the reader takes the two bytes after
      // each lead whatever they are.
      const __m128i a = _mm_shuffle_epi8(v, pickA);
      const __m128i b = _mm_shuffle_epi8(v, pickB);
      u = _mm_or_si128(_mm_or_si128(_mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(a, 8), x0F), 12),
                                    _mm_slli_epi16(_mm_and_si128(a, x3F), 6)),
                       _mm_and_si128(b, x3F));
      starts = kThrees;
      consumed = 12;
    } else {
      const std::uint32_t cont = static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, xC0), x80)));
      const std::uint8_t id = kUtf8Tables.byEnds[(~cont >> 1) & 0xFFF];
      if (id == kNoStep) {
        hold = 4;
        break;
      }
      const Utf8Step& s = kUtf8Tables.steps[id];
      const std::uint32_t begins = s.lead1 | s.lead2 | s.lead3;
      const std::uint32_t lead2 =
          static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(_mm_and_si128(v, xE0), xC0)));
      if ((~static_cast<std::uint32_t>(high) & begins) != s.lead1 || (lead2 & begins) != s.lead2 ||
          (lead3 & begins) != s.lead3) {
        hold = 4;
        break;
      }
      const __m128i pq = _mm_shuffle_epi8(v, load(s.gatherP));
      const __m128i q = _mm_shuffle_epi8(v, load(s.gatherQ));
      u = _mm_or_si128(_mm_or_si128(_mm_and_si128(pq, x7F), _mm_slli_epi16(_mm_and_si128(_mm_srli_epi16(pq, 8), x3F), 6)),
                       _mm_slli_epi16(_mm_and_si128(q, x0F), 12));
      starts = s.starts;
      consumed = s.consumed;
    }
    const __m128i outU = kBig ? _mm_shuffle_epi8(u, swap) : u;
    const int stopBits = _mm_movemask_epi8(stopLanes(u, kNewline, keep16)) & 0xFF;
    if (stopBits == 0 && !utf8MayCombine(p + consumed)) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + o), outU);
      prev = i + starts[2];
      last = i + starts[3];
      i += consumed;
      o += 8;
      chars += 4;
      continue;
    }
    // Stopped: before a line end the characters before it are written.
    const int j = stopBits ? __builtin_ctz(static_cast<unsigned>(stopBits)) / 2 : 4;
    const int combining = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi16(u, _mm_set1_epi16(0x309A)),
                                                         inRange16(u, 0x2E5, 0x301 - 0x2E5)));
    const bool partial = j < 4 && !((combining >> (2 * j)) & 1);
    hold = j == 4 ? 4 : partial ? 1 : static_cast<std::size_t>(j) + 1;
    if (partial && j > 0) {
      alignas(16) unsigned char units[16];
      _mm_store_si128(reinterpret_cast<__m128i*>(units), outU);
      copyUpTo16(out + o, units, static_cast<std::uint32_t>(2 * j));
      if (j >= 2) {
        prev = i + starts[j - 2];
      } else {
        prev = last;
      }
      last = i + starts[j - 1];
      i += j < 4 ? starts[j] : consumed;
      o += 2 * static_cast<std::size_t>(j);
      chars += static_cast<std::size_t>(j);
    }
    break;
  }
  return BlockResult{i, o, chars, last, prev, hold};
}

[[gnu::target("ssse3")]] BlockResult utf8To16Ssse3(const unsigned char* in, std::size_t inLeft,
                                                   unsigned char* out, std::size_t outLeft, bool big,
                                                   bool newline, std::uint32_t keep) {
  if (big) return newline ? utf8To16Steps<true, true>(in, inLeft, out, outLeft, keep)
                          : utf8To16Steps<true, false>(in, inLeft, out, outLeft, keep);
  return newline ? utf8To16Steps<false, true>(in, inLeft, out, outLeft, keep)
                 : utf8To16Steps<false, false>(in, inLeft, out, outLeft, keep);
}

// Byte moves that shift a 32-byte pair left by n: [a + n .. 16) from the
// first vector, then [0 .. n) of the second.
struct ShiftMasks {
  std::int8_t fromFirst[17][16] = {};
  std::int8_t fromSecond[17][16] = {};
  constexpr ShiftMasks() {
    for (int n = 0; n <= 16; ++n)
      for (int i = 0; i < 16; ++i) {
        fromFirst[n][i] = static_cast<std::int8_t>(i + n < 16 ? i + n : -1);
        fromSecond[n][i] = static_cast<std::int8_t>(i >= 16 - n ? i - (16 - n) : -1);
      }
  }
};
constexpr ShiftMasks kShift;
alignas(16) constexpr std::int8_t kIota[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

// Bit j of a 4-bit mask at bit 2j.
constexpr std::uint8_t kSpread[16] = {0x00, 0x01, 0x04, 0x05, 0x10, 0x11, 0x14, 0x15,
                                      0x40, 0x41, 0x44, 0x45, 0x50, 0x51, 0x54, 0x55};

template <bool kBig, bool kNewline>
[[gnu::target("ssse3")]] BlockResult utf16To8Steps(const unsigned char* in, std::size_t inLeft,
                                                   unsigned char* out, std::size_t outLeft,
                                                   std::uint32_t keep) {
  const LineEnds16 keep16 = lineEnds16(keep);
  const __m128i swap = _mm_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  const __m128i zero = _mm_setzero_si128();
  const __m128i iota = load(kIota);
  // From [t1 x8 | t2 x8] and [t3 x8 | t3 x8]: the 24 bytes t1 t2 t3 of each unit.
  const __m128i lo12 = _mm_setr_epi8(0, 8, -1, 1, 9, -1, 2, 10, -1, 3, 11, -1, 4, 12, -1, 5);
  const __m128i lo3 = _mm_setr_epi8(-1, -1, 0, -1, -1, 1, -1, -1, 2, -1, -1, 3, -1, -1, 4, -1);
  const __m128i hi12 = _mm_setr_epi8(13, -1, 6, 14, -1, 7, 15, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  const __m128i hi3 = _mm_setr_epi8(-1, 5, -1, -1, 6, -1, -1, 7, -1, -1, -1, -1, -1, -1, -1, -1);
  if (inLeft < 18 || outLeft < 40) return {};
  std::size_t i = 0, o = 0, chars = 0, last = 0, prev = 0, hold = 0;
  // What the buffer holds from the next byte to write on: merged into every
  // 16-byte store, so that only the bytes written change.
  __m128i held = load(out);
  while (inLeft - i >= 18 && outLeft - o >= 40) {
    const unsigned char* p = in + i;
    __m128i u = load(p);
    if (kBig) u = _mm_shuffle_epi8(u, swap);
    const __m128i lineEnds = kNewline ? lineEndLanes(u, keep16) : zero;
    const __m128i ascii = _mm_cmpeq_epi16(_mm_and_si128(u, _mm_set1_epi16(static_cast<short>(0xFF80))), zero);
    __m128i bytes;
    std::size_t n;
    if (_mm_movemask_epi8(_mm_andnot_si128(lineEnds, ascii)) == 0xFFFF) {
      bytes = _mm_packus_epi16(u, u);
      n = 8;
      prev = i + 12;
      last = i + 14;
      i += 16;
      chars += 8;
    } else {
      const __m128i bias = _mm_set1_epi16(static_cast<short>(0x8000));
      const __m128i below800 = _mm_cmplt_epi16(_mm_xor_si128(u, bias), _mm_set1_epi16(static_cast<short>(0x8800)));
      const __m128i surrogate = inRange16(u, static_cast<short>(0xD800), 0x7FF);
      const __m128i stop = _mm_or_si128(surrogate, stopLanes(u, kNewline, keep16));
      const bool nextCombines = isCombining(unitAt(p + 16, kBig));
      if (!_mm_movemask_epi8(_mm_or_si128(below800, stop)) && !nextCombines) {
        // Eight units of three bytes each, written whole.
        const __m128i t1 = _mm_or_si128(_mm_srli_epi16(u, 12), _mm_set1_epi16(0xE0));
        const __m128i t2 = _mm_or_si128(_mm_and_si128(_mm_srli_epi16(u, 6), _mm_set1_epi16(0x3F)),
                                        _mm_set1_epi16(0x80));
        const __m128i t3 = _mm_or_si128(_mm_and_si128(u, _mm_set1_epi16(0x3F)), _mm_set1_epi16(0x80));
        const __m128i p12 = _mm_packus_epi16(t1, t2);
        const __m128i p3 = _mm_packus_epi16(t3, t3);
        unsigned char* q = out + o;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q),
                         _mm_or_si128(_mm_shuffle_epi8(p12, lo12), _mm_shuffle_epi8(p3, lo3)));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(q + 16),
                         _mm_or_si128(_mm_shuffle_epi8(p12, hi12), _mm_shuffle_epi8(p3, hi3)));
        held = load(q + 24);
        prev = i + 12;
        last = i + 14;
        i += 16;
        o += 24;
        chars += 8;
        continue;
      }
      // Four units of one to three bytes; before a line end, those before it.
      const int stopBits = _mm_movemask_epi8(stop) & 0xFF;
      std::size_t take = 4;
      if (stopBits) {
        const int j = __builtin_ctz(static_cast<unsigned>(stopBits)) / 2;
        const int ends = kNewline ? _mm_movemask_epi8(lineEnds) : 0;
        const bool partial = (ends >> (2 * j)) & 1;
        hold = partial ? 1 : static_cast<std::size_t>(j) + 1;
        if (!partial || j == 0) break;
        take = static_cast<std::size_t>(j);
      } else if (isCombining(unitAt(p + 8, kBig))) {
        hold = 4;
        break;
      }
      const __m128i w = _mm_unpacklo_epi16(u, zero);
      const __m128i one = _mm_cmplt_epi32(w, _mm_set1_epi32(0x80));
      const __m128i two = _mm_cmplt_epi32(w, _mm_set1_epi32(0x800));
      const __m128i low6 = _mm_or_si128(_mm_and_si128(w, _mm_set1_epi32(0x3F)), _mm_set1_epi32(0x80));
      const __m128i mid6 = _mm_or_si128(_mm_and_si128(_mm_srli_epi32(w, 6), _mm_set1_epi32(0x3F)),
                                        _mm_set1_epi32(0x80));
      const __m128i form2 = _mm_or_si128(_mm_or_si128(_mm_srli_epi32(w, 6), _mm_set1_epi32(0xC0)),
                                         _mm_slli_epi32(low6, 8));
      const __m128i form3 = _mm_or_si128(
          _mm_or_si128(_mm_srli_epi32(w, 12), _mm_set1_epi32(0xE0)),
          _mm_or_si128(_mm_slli_epi32(mid6, 8), _mm_slli_epi32(low6, 16)));
      const __m128i lanes = _mm_or_si128(
          _mm_and_si128(one, w),
          _mm_andnot_si128(one, _mm_or_si128(_mm_and_si128(two, form2), _mm_andnot_si128(two, form3))));
      const std::uint32_t notOne = ~static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(one))) & 0xF;
      const std::uint32_t notTwo = ~static_cast<std::uint32_t>(_mm_movemask_ps(_mm_castsi128_ps(two))) & 0xF;
      const std::uint32_t idx = kSpread[notOne] + kSpread[notTwo];
      bytes = _mm_shuffle_epi8(lanes, load(kUtf16Packing.pack[idx]));
      n = kUtf16Packing.length[idx];
      if (take < 4) {
        n = 0;
        for (std::size_t j = 0; j < take; ++j) n += 1 + ((notOne >> j) & 1) + ((notTwo >> j) & 1);
      }
      prev = take >= 2 ? i + 2 * take - 4 : last;
      last = i + 2 * take - 2;
      i += 2 * take;
      chars += take;
    }
    const __m128i keep = _mm_cmplt_epi8(iota, _mm_set1_epi8(static_cast<char>(n)));
    const __m128i stored = _mm_or_si128(_mm_and_si128(keep, bytes), _mm_andnot_si128(keep, held));
    unsigned char* q = out + o;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(q), stored);
    held = _mm_or_si128(_mm_shuffle_epi8(stored, load(kShift.fromFirst[n])),
                        _mm_shuffle_epi8(load(q + 16), load(kShift.fromSecond[n])));
    o += n;
    if (hold) break;  // a step cut short before a line end
  }
  return BlockResult{i, o, chars, last, prev, hold};
}

[[gnu::target("ssse3")]] BlockResult utf16To8Ssse3(const unsigned char* in, std::size_t inLeft,
                                                   unsigned char* out, std::size_t outLeft, bool big,
                                                   bool newline, std::uint32_t keep) {
  if (big) return newline ? utf16To8Steps<true, true>(in, inLeft, out, outLeft, keep)
                          : utf16To8Steps<true, false>(in, inLeft, out, outLeft, keep);
  return newline ? utf16To8Steps<false, true>(in, inLeft, out, outLeft, keep)
                 : utf16To8Steps<false, false>(in, inLeft, out, outLeft, keep);
}

// Byte moves that pack the 16-bit lanes of an 8-bit mask to the front.
struct PackUnits {
  std::int8_t moves[256][16] = {};
  constexpr PackUnits() {
    for (int m = 0; m < 256; ++m) {
      int n = 0;
      for (int j = 0; j < 8; ++j)
        if ((m >> j) & 1) {
          moves[m][2 * n] = static_cast<std::int8_t>(2 * j);
          moves[m][2 * n + 1] = static_cast<std::int8_t>(2 * j + 1);
          ++n;
        }
      for (int k = 2 * n; k < 16; ++k) moves[m][k] = -1;
    }
  }
};
alignas(16) constexpr PackUnits kPackUnits;

[[ZK_AVX2]] inline std::uint32_t bits(__m256i v) {
  return static_cast<std::uint32_t>(_mm256_movemask_epi8(v));
}

// Byte constants made once per call: the empty asm hides their values, so
// that the compiler keeps them (in a register or on the stack) rather than
// making them again on every step.
[[ZK_AVX2]] inline __m256i all(int c) {
  __m256i v = _mm256_set1_epi8(static_cast<char>(c));
  asm("" : "+x"(v));
  return v;
}

[[ZK_AVX2]] inline __m256i splat(int c) { return _mm256_set1_epi8(static_cast<char>(c)); }

[[ZK_AVX2]] inline std::uint32_t equal(__m256i v, __m256i c) {
  return bits(_mm256_cmpeq_epi8(v, c));
}

// The moves packing the lanes of mask a in the low half, of b in the high.
[[ZK_AVX2]] inline __m256i packMoves(std::uint32_t a, std::uint32_t b) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kPackUnits.moves[a]))),
      _mm_load_si128(reinterpret_cast<const __m128i*>(kPackUnits.moves[b])), 1);
}

// Each step of utf8To16WideScalar: the window's masks made with byte
// compares, the value of a character computed at every byte as if it ended
// there, and the values at the ends taken packed eight lanes at a time. The
// four 16-byte stores run past the step's output by up to 16 bytes; `held`
// keeps what the buffer had there, written back when the kernel stops.
template <bool kBig, bool kNewline>
[[ZK_AVX2]] BlockResult utf8To16Wide(const unsigned char* in, std::size_t inLeft,
                                     unsigned char* out, std::size_t outLeft, std::uint32_t keep) {
  if (inLeft < 32 || outLeft < 80) return {};
  // Line ends: CR, LF, and the last bytes of U+2028 and U+2029 after E2 80,
  // but the one kept (its place taken by another).
  const __m256i cr = all(0x0D), lf = all(keep == 0x0A ? 0x0D : 0x0A), k80 = all(0x80),
                kE2 = all(0xE2);
  const __m256i ls = all(keep == 0x2028 ? 0xA9 : 0xA8), ps = all(keep == 0x2029 ? 0xA8 : 0xA9);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i k3F = all(0x3F), kC0 = all(0xC0), k0F = all(0x0F), kF0 = all(0xF0), kE0 = all(0xE0);
  const __m256i kEF = all(0xEF), k82 = all(0x82), k9A = all(0x9A), kE3 = all(0xE3);
  std::size_t i = 0, o = 0, chars = 0, last = 0, prev = 0, hold = 0, lines = 0;
  // The last step that took characters, resolved into last and prev at the end.
  std::uint32_t lastTake = 0;
  std::size_t lastAt = 0;
  __m128i held = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
  while (inLeft - i >= 32 && outLeft - o >= 80) {
    const unsigned char* p = in + i;
    unsigned char* q = out + o;
    const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    const std::uint32_t high = bits(v);
    __m256i ends = zero;
    if (kNewline) ends = _mm256_or_si256(_mm256_cmpeq_epi8(v, cr), _mm256_cmpeq_epi8(v, lf));
    if (high == 0 && (!kNewline || bits(ends) == 0)) {
      const __m256i a = _mm256_permute4x64_epi64(v, 0xD8);  // 64-bit quarters 0, 2, 1, 3
      const __m256i lo = kBig ? _mm256_unpacklo_epi8(zero, a) : _mm256_unpacklo_epi8(a, zero);
      const __m256i hi = kBig ? _mm256_unpackhi_epi8(zero, a) : _mm256_unpackhi_epi8(a, zero);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(q), lo);
      _mm256_storeu_si256(reinterpret_cast<__m256i*>(q + 32), hi);
      held = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 64));
      lastTake = ~0u;
      lastAt = i;
      i += 32;
      o += 64;
      chars += 32;
      continue;
    }
    // The bytes one and two places before each byte.
    const __m256i carry = _mm256_permute2x128_si256(v, v, 0x08);
    const __m256i b1 = _mm256_alignr_epi8(v, carry, 15);
    const __m256i b2 = _mm256_alignr_epi8(v, carry, 14);
    WideMasks m;
    m.ascii = ~high;
    m.cont = bits(_mm256_cmpgt_epi8(kC0, v));  // 80..BF: below C0 as signed bytes
    const __m256i lead3 = _mm256_cmpeq_epi8(_mm256_and_si256(v, kF0), kE0);
    m.lead3 = bits(lead3);
    // Leads of two bytes: neither ASCII, continuation, three-byte lead nor F0..FF.
    m.lead2 = high & ~m.cont & ~m.lead3 & ~bits(_mm256_cmpgt_epi8(v, kEF));
    // U+309A, found at its last byte.
    m.mark = bits(_mm256_and_si256(
                 _mm256_and_si256(_mm256_cmpeq_epi8(v, k9A), _mm256_cmpeq_epi8(b1, k82)),
                 _mm256_cmpeq_epi8(b2, kE3))) >>
             2;
    const std::uint32_t e0 = m.lead3 ? equal(v, kE0) : 0;
    if (m.lead2 | e0) {
      m.mark |= equal(v, splat(0xCB)) | equal(v, splat(0xCC));
      m.overlong = (m.lead2 & bits(_mm256_cmpeq_epi8(_mm256_and_si256(v, splat(0xFE)), kC0))) |
                   (e0 & (bits(_mm256_cmpeq_epi8(_mm256_and_si256(v, kE0), splat(0x80))) >> 1));
    }
    if (kNewline) {
      const __m256i sep = _mm256_and_si256(
          _mm256_or_si256(_mm256_cmpeq_epi8(v, ls), _mm256_cmpeq_epi8(v, ps)),
          _mm256_and_si256(_mm256_cmpeq_epi8(b1, k80), _mm256_cmpeq_epi8(b2, kE2)));
      m.lineEnd = bits(_mm256_or_si256(ends, sep));
    }
    WidePlan plan;
    const std::uint32_t needed = ((m.lead2 | m.lead3) << 1) | (m.lead3 << 2);
    const std::uint32_t other = ~(m.ascii | m.cont | m.lead2 | m.lead3) | m.overlong;
    if (((m.cont ^ needed) | other | m.mark) & below(kWideSpan + 1) ||
        (m.lineEnd & below(kWideSpan))) {
      plan = widePlan(m);
    } else {
      plan.take = (~m.cont >> 1) & below(kWideSpan);
    }
    const __m256i low = _mm256_blendv_epi8(
        v,
        _mm256_or_si256(_mm256_and_si256(v, k3F), _mm256_and_si256(_mm256_slli_epi16(b1, 6), kC0)),
        v);
    const __m256i l3 = _mm256_alignr_epi8(lead3, _mm256_permute2x128_si256(lead3, lead3, 0x08), 14);
    const __m256i top = _mm256_and_si256(
        _mm256_cmpgt_epi8(zero, v),
        _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi16(b1, 2), k0F),
                        _mm256_and_si256(l3, _mm256_and_si256(_mm256_slli_epi16(b2, 4), kF0))));
    const __m256i units0 =
        kBig ? _mm256_unpacklo_epi8(top, low) : _mm256_unpacklo_epi8(low, top);  // bytes 0-7, 16-23
    const __m256i units1 = kBig ? _mm256_unpackhi_epi8(top, low)
                                : _mm256_unpackhi_epi8(low, top);  // bytes 8-15, 24-31
    const std::uint32_t t = plan.take;
    const __m256i packed0 = _mm256_shuffle_epi8(units0, packMoves(t & 0xFF, (t >> 16) & 0xFF));
    const __m256i packed1 = _mm256_shuffle_epi8(units1, packMoves((t >> 8) & 0xFF, t >> 24));
    const std::size_t n0 = static_cast<std::size_t>(_mm_popcnt_u32(t & 0xFF));
    const std::size_t n01 = static_cast<std::size_t>(_mm_popcnt_u32(t & 0xFFFF));
    const std::size_t n012 = static_cast<std::size_t>(_mm_popcnt_u32(t & 0xFFFFFF));
    const std::size_t n = static_cast<std::size_t>(_mm_popcnt_u32(t));
    // What the buffer holds 2n bytes on: still there unless a store of the
    // step before reached it, in which case `held` has it.
    __m128i next;
    if (2 * n >= 16) {
      next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 2 * n));
    } else {
      next = _mm_or_si128(_mm_shuffle_epi8(held, load(kShift.fromFirst[2 * n])),
                          _mm_shuffle_epi8(load(q + 16), load(kShift.fromSecond[2 * n])));
    }
    if (n) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm256_castsi256_si128(packed0));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 2 * n0), _mm256_castsi256_si128(packed1));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 2 * n01),
                       _mm256_extracti128_si256(packed0, 1));
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q + 2 * n012),
                       _mm256_extracti128_si256(packed1, 1));
      if (plan.partial && lastTake) lastTwo(lastTake, lastAt, &last, &prev);
      lastTake = t;
      lastAt = i;
      i += static_cast<std::size_t>(32 - __builtin_clz(t));
    }
    held = next;
    o += 2 * n;
    chars += n;
    if (plan.partial) {
      if (kNewline && keep == kLfAsCrLf && plan.hold == 1 && in[i] == 0x0A) {
        // The CR LF goes where `held` keeps what the buffer had.
        crLfIntoHeld<4>(out + o, held, kBig ? 0x0A000D00u : 0x000A000Du);
        if (lastTake) lastTwo(lastTake, lastAt, &last, &prev);
        lastTake = 0;
        prev = last;
        last = i;
        i += 1;
        o += 4;
        ++chars;
        ++lines;
        continue;
      }
      hold = plan.hold;
      break;
    }
  }
  if (lastTake) lastTwo(lastTake, lastAt, &last, &prev);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), held);
  BlockResult r{i, o, chars, last, prev, hold};
  r.lines = lines;
  return r;
}

[[ZK_AVX2]] BlockResult utf8To16Avx2(const unsigned char* in, std::size_t inLeft,
                                     unsigned char* out, std::size_t outLeft, bool big,
                                     bool newline, std::uint32_t keep) {
  if (big)
    return newline ? utf8To16Wide<true, true>(in, inLeft, out, outLeft, keep)
                   : utf8To16Wide<true, false>(in, inLeft, out, outLeft, keep);
  return newline ? utf8To16Wide<false, true>(in, inLeft, out, outLeft, keep)
                 : utf8To16Wide<false, false>(in, inLeft, out, outLeft, keep);
}

[[ZK_AVX2]] inline __m256i lanes16(std::uint32_t u) {
  __m256i v = _mm256_set1_epi16(static_cast<short>(u));
  asm("" : "+x"(v));
  return v;
}

// The moves packing four lanes of UTF-8 bytes of lengths a in the low half, b in the high.
[[ZK_AVX2]] inline __m256i packBytes(std::uint32_t a, std::uint32_t b) {
  return _mm256_inserti128_si256(_mm256_castsi128_si256(load(kUtf16Packing.pack[a])),
                                 load(kUtf16Packing.pack[b]), 1);
}

// Each step of utf16To8WideScalar: sixteen units widened to 32-bit lanes of
// one to three UTF-8 bytes, packed four lanes at a time by the lengths'
// table. As in utf8To16Wide, the stores run past the output by up to 16
// bytes and `held` keeps what the buffer had there.
template <bool kBig, bool kNewline>
[[ZK_AVX2]] BlockResult utf16To8Wide(const unsigned char* in, std::size_t inLeft,
                                     unsigned char* out, std::size_t outLeft, std::uint32_t keep) {
  if (inLeft < 34 || outLeft < 64) return {};
  // The line ends that stop a step, the one kept replaced by CR.
  const __m256i lf = lanes16(keep == 0x0A ? 0x0D : 0x0A), cr = lanes16(0x0D);
  const __m256i ls = lanes16(keep == 0x2028 ? 0x0D : 0x2028),
                ps = lanes16(keep == 0x2029 ? 0x0D : 0x2029);
  const __m256i swap = _mm256_setr_epi8(1, 0, 3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14, 1, 0,
                                        3, 2, 5, 4, 7, 6, 9, 8, 11, 10, 13, 12, 15, 14);
  const __m256i zero = _mm256_setzero_si256();
  const __m256i xFF80 = _mm256_set1_epi16(static_cast<short>(0xFF80)),
                xF800 = _mm256_set1_epi16(static_cast<short>(0xF800));
  const __m256i xD800 = _mm256_set1_epi16(static_cast<short>(0xD800)),
                x309A = _mm256_set1_epi16(0x309A);
  const __m256i x2E5 = _mm256_set1_epi16(0x2E5), x1C = _mm256_set1_epi16(0x301 - 0x2E5);
  const __m256i x3F = _mm256_set1_epi32(0x3F), x80 = _mm256_set1_epi32(0x80),
                xC0 = _mm256_set1_epi32(0xC0);
  const __m256i xE0 = _mm256_set1_epi32(0xE0), x800 = _mm256_set1_epi32(0x800);
  std::size_t i = 0, o = 0, chars = 0, last = 0, prev = 0, hold = 0, lines = 0;
  __m128i held = _mm_loadu_si128(reinterpret_cast<const __m128i*>(out));
  while (inLeft - i >= 34 && outLeft - o >= 64) {
    const unsigned char* p = in + i;
    unsigned char* q = out + o;
    __m256i u = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    if (kBig) u = _mm256_shuffle_epi8(u, swap);
    __m256i ends = zero;
    if (kNewline)
      ends = _mm256_or_si256(_mm256_or_si256(_mm256_cmpeq_epi16(u, lf), _mm256_cmpeq_epi16(u, cr)),
                             _mm256_or_si256(_mm256_cmpeq_epi16(u, ls), _mm256_cmpeq_epi16(u, ps)));
    const std::uint32_t notOne = ~bits(_mm256_cmpeq_epi16(_mm256_and_si256(u, xFF80), zero));
    if (notOne == 0 && (!kNewline || bits(ends) == 0)) {
      const __m256i b = _mm256_permute4x64_epi64(_mm256_packus_epi16(u, u), 0x08);
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm256_castsi256_si128(b));
      held = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + 16));
      prev = i + 28;
      last = i + 30;
      i += 32;
      o += 16;
      chars += 16;
      continue;
    }
    // Two bits a unit: stops, and combining marks (the one after the window too).
    const __m256i marks = _mm256_or_si256(
        _mm256_cmpeq_epi16(u, x309A),
        _mm256_cmpeq_epi16(_mm256_subs_epu16(_mm256_sub_epi16(u, x2E5), x1C), zero));
    const __m256i surrogates = _mm256_cmpeq_epi16(_mm256_and_si256(u, xF800), xD800);
    const std::uint32_t markBits = bits(marks), endBits = kNewline ? bits(ends) : 0;
    const std::uint32_t stopBits = markBits | endBits | bits(surrogates);
    std::size_t units = 16;
    if (stopBits || isCombining(unitAt(p + 32, kBig))) {
      const int firstStop = stopBits ? __builtin_ctz(stopBits) / 2 : 16;
      const int firstMark = markBits ? __builtin_ctz(markBits) / 2 : 16;
      units = static_cast<std::size_t>(firstMark ? firstMark - 1 : 0);
      hold = 4;
      if (firstStop < firstMark) {
        units = static_cast<std::size_t>(firstStop);
        if ((endBits >> (2 * firstStop)) & 1) hold = 1;
      }
    }
    const std::uint32_t notTwo = ~bits(_mm256_cmpeq_epi16(_mm256_and_si256(u, xF800), zero));
    // Each unit's UTF-8 length less one, in two bits.
    const std::uint32_t lengths = (notOne & 0x55555555u) + (notTwo & 0x55555555u);
    const std::uint32_t inStep = units == 16 ? ~0u : (1u << (2 * units)) - 1;
    const std::size_t n =
        units + static_cast<std::size_t>(_mm_popcnt_u32(notOne & inStep & 0x55555555u) +
                                         _mm_popcnt_u32(notTwo & inStep & 0x55555555u));
    __m128i next;
    if (n >= 16) {
      next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q + n));
    } else {
      next = _mm_or_si128(_mm_shuffle_epi8(held, load(kShift.fromFirst[n])),
                          _mm_shuffle_epi8(load(q + 16), load(kShift.fromSecond[n])));
    }
    if (units) {
      __m256i lanes[2];
      for (int h = 0; h < 2; ++h) {
        const __m256i w =
            _mm256_cvtepu16_epi32(h ? _mm256_extracti128_si256(u, 1) : _mm256_castsi256_si128(u));
        const __m256i low6 = _mm256_or_si256(_mm256_and_si256(w, x3F), x80);
        const __m256i mid6 = _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(w, 6), x3F), x80);
        const __m256i form2 = _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi32(w, 6), xC0),
                                              _mm256_slli_epi32(low6, 8));
        const __m256i form3 = _mm256_or_si256(
            _mm256_or_si256(_mm256_srli_epi32(w, 12), xE0),
            _mm256_or_si256(_mm256_slli_epi32(mid6, 8), _mm256_slli_epi32(low6, 16)));
        const __m256i one = _mm256_cmpgt_epi32(x80, w), two = _mm256_cmpgt_epi32(x800, w);
        lanes[h] = _mm256_blendv_epi8(_mm256_blendv_epi8(form3, form2, two), w, one);
      }
      const std::uint32_t g0 = lengths & 0xFF, g1 = (lengths >> 8) & 0xFF,
                          g2 = (lengths >> 16) & 0xFF, g3 = lengths >> 24;
      const __m256i packed0 = _mm256_shuffle_epi8(lanes[0], packBytes(g0, g1));
      const __m256i packed1 = _mm256_shuffle_epi8(lanes[1], packBytes(g2, g3));
      const std::size_t n0 = kUtf16Packing.length[g0], n01 = n0 + kUtf16Packing.length[g1];
      const std::size_t n012 = n01 + kUtf16Packing.length[g2];
      // Only the groups with units taken, so that no store reaches 16 bytes past.
      _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm256_castsi256_si128(packed0));
      if (units > 4)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + n0), _mm256_extracti128_si256(packed0, 1));
      if (units > 8)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + n01), _mm256_castsi256_si128(packed1));
      if (units > 12)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q + n012),
                         _mm256_extracti128_si256(packed1, 1));
      prev = units >= 2 ? i + 2 * units - 4 : last;
      last = i + 2 * units - 2;
    }
    held = next;
    i += 2 * units;
    o += n;
    chars += units;
    if (kNewline && keep == kLfAsCrLf && hold == 1 && (kBig ? in[i] << 8 | in[i + 1] : in[i + 1] << 8 | in[i]) == 0x0A) {
      // As in utf8To16Wide, with the 2 bytes of CR LF.
      crLfIntoHeld<2>(out + o, held, 0x0A0D);
      prev = last;
      last = i;
      i += 2;
      o += 2;
      ++chars;
      ++lines;
      hold = 0;
      continue;
    }
    if (hold) break;
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), held);
  BlockResult r{i, o, chars, last, prev, hold};
  r.lines = lines;
  return r;
}

[[ZK_AVX2]] BlockResult utf16To8Avx2(const unsigned char* in, std::size_t inLeft,
                                     unsigned char* out, std::size_t outLeft, bool big,
                                     bool newline, std::uint32_t keep) {
  if (big)
    return newline ? utf16To8Wide<true, true>(in, inLeft, out, outLeft, keep)
                   : utf16To8Wide<true, false>(in, inLeft, out, outLeft, keep);
  return newline ? utf16To8Wide<false, true>(in, inLeft, out, outLeft, keep)
                 : utf16To8Wide<false, false>(in, inLeft, out, outLeft, keep);
}

// GCC 12 warns that its own AVX-512 intrinsics read an undefined vector
// (they start from _mm512_undefined_*, on purpose).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif
#define ZK_AVX512 gnu::target("avx512f,avx512bw,avx512vl,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt,lzcnt")

// The map kernel takes the first k characters of the window at w (their
// bytes end at q; cp holds their code points, c0 their lead bytes, d their
// table values), but a possible pair base before what may be a mark.
// Returns whether the next window follows.
[[ZK_AVX512]] inline bool mapTake(const unsigned char* w, std::uint64_t starts, __m512i cp, __m512i d, __m512i c0,
                                  std::uint64_t k, std::uint64_t q, bool stopped, unsigned char* out,
                                  BlockResult* res) {
  BlockResult& r = *res;
  if (k && utf8MayStartPairMark(w + q)) {
    std::uint16_t cps[32];
    _mm512_storeu_si512(cps, cp);
    if (ucsMayBePairBase(cps[k - 1])) {
      --k;
      q = _tzcnt_u64(_pdep_u64(std::uint64_t{1} << k, starts));
      stopped = true;
    }
  }
  if (k == 0) return false;
  const std::uint64_t kept = _mm512_test_epi8_mask(d, d) & _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(2 * k));
  const std::uint64_t bytes = static_cast<std::uint64_t>(_mm_popcnt_u64(kept));
  _mm512_mask_storeu_epi8(out + r.out, _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(bytes)),
                          _mm512_maskz_compress_epi8(kept, d));
  const std::uint64_t taken = _bzhi_u64(starts, static_cast<unsigned>(q));
  const std::uint64_t lastAt = 63 - _lzcnt_u64(taken), before = taken ^ (std::uint64_t{1} << lastAt);
  r.prev = before ? r.in + 63 - _lzcnt_u64(before) : r.last;
  r.last = r.in + lastAt;
  r.out += bytes;
  r.lastOut = r.out - 1 - ((kept >> (2 * k - 1)) & 1);
  r.lines += static_cast<std::size_t>(
      _mm_popcnt_u32(_mm512_cmpeq_epi16_mask(c0, _mm512_set1_epi16(0x0A)) & _bzhi_u32(~0u, static_cast<unsigned>(k))));
  r.in += q;
  r.chars += k;
  return !stopped;
}

// For each ASCII byte, itself where the table gives it as itself, else a
// byte that matches neither it nor it | 0x80 (the bytes that look it up):
// permutex2var with these and a window of bytes gives the window back where
// all of it comes out as itself.
[[ZK_AVX512]] inline void asciiSelf(const std::uint16_t* ucs, __m512i self[2]) {
  for (int h = 0; h < 2; ++h) {
    const __m512i iota = _mm512_add_epi8(
        _mm512_set_epi8(63, 62, 61, 60, 59, 58, 57, 56, 55, 54, 53, 52, 51, 50, 49, 48, 47, 46, 45, 44, 43, 42, 41,
                        40, 39, 38, 37, 36, 35, 34, 33, 32, 31, 30, 29, 28, 27, 26, 25, 24, 23, 22, 21, 20, 19, 18,
                        17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1, 0),
        _mm512_set1_epi8(static_cast<char>(64 * h)));
    const __m512i lo = _mm512_loadu_si512(ucs + 64 * h), hi = _mm512_loadu_si512(ucs + 64 * h + 32);
    const __mmask64 same = static_cast<__mmask64>(_mm512_cmpeq_epi16_mask(lo, _mm512_cvtepu8_epi16(_mm512_castsi512_si256(iota)))) |
                           static_cast<__mmask64>(_mm512_cmpeq_epi16_mask(hi, _mm512_cvtepu8_epi16(_mm512_extracti64x4_epi64(iota, 1)))) << 32;
    self[h] = _mm512_mask_blend_epi8(same, _mm512_xor_si512(iota, _mm512_set1_epi8(0x40)), iota);
  }
}

// utf8MapScalar 64 bytes a step: the characters' starts as a bit mask, their
// bytes gathered to the front of three vectors (byte 0, 1 and 2 of each),
// the code points worked out in 16-bit lanes, their table values fetched
// with gathers, and the zero bytes of the values (the missing second byte of
// one-byte results) squeezed out. Where the next window starts depends on
// the bytes alone, not on the table, so steps overlap.
[[ZK_AVX512]] BlockResult utf8MapAvx512(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                        std::size_t outLeft, const std::uint16_t* ucs) {
  BlockResult r;
  const __m512i b80 = _mm512_set1_epi8(static_cast<char>(0x80)), bC0 = _mm512_set1_epi8(static_cast<char>(0xC0)),
                bE0 = _mm512_set1_epi8(static_cast<char>(0xE0)), bF0 = _mm512_set1_epi8(static_cast<char>(0xF0));
  const __m512i w3F = _mm512_set1_epi16(0x3F), w1F = _mm512_set1_epi16(0x1F), wE0 = _mm512_set1_epi16(0xE0),
                w80 = _mm512_set1_epi16(0x80), w800 = _mm512_set1_epi16(0x800);
  // ASCII that the table gives as itself: windows of nothing else are copied.
  __m512i self[2];
  asciiSelf(ucs, self);
  while (inLeft - r.in >= 72 && outLeft - r.out >= 64) {
    const unsigned char* const w = in + r.in;
    const __m512i v = _mm512_loadu_si512(w), v1 = _mm512_loadu_si512(w + 1), v2 = _mm512_loadu_si512(w + 2);
    if (_mm512_cmpneq_epi8_mask(_mm512_permutex2var_epi8(self[0], v, self[1]), v) == 0) {
      _mm512_storeu_si512(out + r.out, v);
      tookAsciiWindow(&r, static_cast<std::size_t>(_mm_popcnt_u64(_mm512_cmpeq_epi8_mask(v, _mm512_set1_epi8(0x0A)))));
      continue;
    }
    const std::uint64_t ascii = ~static_cast<std::uint64_t>(_mm512_movepi8_mask(v));
    const std::uint64_t cont = _mm512_cmpeq_epi8_mask(_mm512_and_si512(v, bC0), b80);
    const std::uint64_t lead3 = _mm512_cmpeq_epi8_mask(_mm512_and_si512(v, bF0), bE0);
    const std::uint64_t lead2 = _mm512_cmpeq_epi8_mask(_mm512_and_si512(v, bE0), bC0);
    // Bytes in their place: ASCII, whole leads, continuation bytes of a lead.
    const std::uint64_t placed = ascii | (lead3 & (cont >> 1) & (cont >> 2)) | (lead2 & (cont >> 1)) |
                                 (cont & ((lead3 << 1) | (lead3 << 2) | (lead2 << 1)));
    const std::uint64_t f = _tzcnt_u64(~placed);
    const std::uint64_t starts = _bzhi_u64(ascii | lead3 | lead2, static_cast<unsigned>(f));
    const std::uint64_t all = static_cast<std::uint64_t>(_mm_popcnt_u64(starts));
    const bool capped = all > 24;
    const std::uint64_t n = capped ? 24 : all;
    const std::uint64_t qn = capped ? _tzcnt_u64(_pdep_u64(std::uint64_t{1} << 24, starts)) : f;
    const __m512i c0 = _mm512_cvtepu8_epi16(_mm512_castsi512_si256(_mm512_maskz_compress_epi8(starts, v)));
    const __m512i c1 = _mm512_and_si512(
        _mm512_cvtepu8_epi16(_mm512_castsi512_si256(_mm512_maskz_compress_epi8(starts, v1))), w3F);
    const __m512i c2 = _mm512_and_si512(
        _mm512_cvtepu8_epi16(_mm512_castsi512_si256(_mm512_maskz_compress_epi8(starts, v2))), w3F);
    const __m512i cp3 = _mm512_or_si512(_mm512_or_si512(_mm512_slli_epi16(c0, 12), _mm512_slli_epi16(c1, 6)), c2);
    const __m512i cp2 = _mm512_or_si512(_mm512_slli_epi16(_mm512_and_si512(c0, w1F), 6), c1);
    const __mmask32 is3 = _mm512_cmpge_epu16_mask(c0, wE0), is1 = _mm512_cmplt_epu16_mask(c0, w80);
    const __m512i cp = _mm512_mask_blend_epi16(is1, _mm512_mask_blend_epi16(is3, cp2, cp3), c0);
    // Gathers cost about a cycle a lane here: 24 lanes, a window of kanji.
    const __m512i g0 = _mm512_i32gather_epi32(_mm512_cvtepu16_epi32(_mm512_castsi512_si256(cp)), ucs, 2);
    const __m256i g1 = _mm256_i32gather_epi32(reinterpret_cast<const int*>(ucs),
                                              _mm256_cvtepu16_epi32(_mm512_extracti32x4_epi32(cp, 2)), 2);
    const __m512i d = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(g0)),
                                         _mm256_zextsi128_si256(_mm256_cvtepi32_epi16(g1)), 1);
    // Lanes that stop: overlong forms, values the table lacks (marks among them).
    const __mmask32 overlong = (is3 & _mm512_cmplt_epu16_mask(cp, w800)) |
                               (~(is3 | is1) & _mm512_cmplt_epu16_mask(cp, w80));
    const __mmask32 stop = (overlong | _mm512_testn_epi16_mask(d, d)) &
                           static_cast<__mmask32>(_bzhi_u32(~0u, static_cast<unsigned>(n)));
    // A lane that stops ends the call; the common case's next window
    // depends on the bytes alone, not on the gathers.
    if (stop) [[unlikely]] {
      const std::uint64_t k = _tzcnt_u32(stop);
      mapTake(w, starts, cp, d, c0, k, _tzcnt_u64(_pdep_u64(std::uint64_t{1} << k, starts)), true, out, &r);
      break;
    }
    if (!mapTake(w, starts, cp, d, c0, n, qn, f < 62 && !capped, out, &r)) break;
  }
  return r;
}

// utf16MapScalar 32 units a step: the units (byte-swapped for big endian)
// widened to 32-bit lanes for two gathers of 16, the zero bytes of the
// values squeezed out as in utf8MapAvx512. The next window follows unless a
// lane stops, so steps overlap as long as none does.
[[ZK_AVX512]] BlockResult utf16MapAvx512(const unsigned char* in, std::size_t inLeft, unsigned char* out,
                                         std::size_t outLeft, bool big, const std::uint16_t* ucs) {
  BlockResult r;
  const __m512i swap = _mm512_set_epi8(62, 63, 60, 61, 58, 59, 56, 57, 54, 55, 52, 53, 50, 51, 48, 49, 46, 47, 44,
                                       45, 42, 43, 40, 41, 38, 39, 36, 37, 34, 35, 32, 33, 30, 31, 28, 29, 26, 27,
                                       24, 25, 22, 23, 20, 21, 18, 19, 16, 17, 14, 15, 12, 13, 10, 11, 8, 9, 6, 7,
                                       4, 5, 2, 3, 0, 1);
  const __m512i xF800 = _mm512_set1_epi16(static_cast<short>(0xF800)),
                xD800 = _mm512_set1_epi16(static_cast<short>(0xD800)), lf = _mm512_set1_epi16(0x0A),
                x80 = _mm512_set1_epi16(0x80);
  __m512i self[2];
  asciiSelf(ucs, self);
  while (inLeft - r.in >= 66 && outLeft - r.out >= 64) {
    const unsigned char* const w = in + r.in;
    __m512i u = _mm512_loadu_si512(w);
    if (big) u = _mm512_permutexvar_epi8(swap, u);
    if (_mm512_cmpge_epu16_mask(u, x80) == 0) {
      // ASCII: narrowed, and written whole when the table gives it as itself.
      const __m512i a = _mm512_castsi256_si512(_mm512_cvtepi16_epi8(u));
      if ((_mm512_cmpneq_epi8_mask(_mm512_permutex2var_epi8(self[0], a, self[1]), a) & 0xFFFFFFFFu) == 0) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + r.out), _mm512_castsi512_si256(a));
        r.lines += static_cast<std::size_t>(_mm_popcnt_u32(_mm512_cmpeq_epi16_mask(u, lf)));
        r.prev = r.in + 60;
        r.last = r.in + 62;
        r.lastOut = r.out + 31;
        r.in += 64;
        r.out += 32;
        r.chars += 32;
        continue;
      }
    }
    const __m512i g0 = _mm512_i32gather_epi32(_mm512_cvtepu16_epi32(_mm512_castsi512_si256(u)), ucs, 2);
    const __m512i g1 = _mm512_i32gather_epi32(_mm512_cvtepu16_epi32(_mm512_extracti64x4_epi64(u, 1)), ucs, 2);
    const __m512i d = _mm512_inserti64x4(_mm512_castsi256_si512(_mm512_cvtepi32_epi16(g0)), _mm512_cvtepi32_epi16(g1), 1);
    const __mmask32 stop = _mm512_cmpeq_epi16_mask(_mm512_and_si512(u, xF800), xD800) | _mm512_testn_epi16_mask(d, d);
    std::uint32_t k = stop ? _tzcnt_u32(stop) : 32;
    bool stopped = stop != 0;
    if (k && isCombining(unitAt(w + 2 * k, big)) && ucsMayBePairBase(unitAt(w + 2 * k - 2, big))) {
      --k;
      stopped = true;
    }
    if (k == 0) break;
    const std::uint64_t kept = _mm512_test_epi8_mask(d, d) & _bzhi_u64(~std::uint64_t{0}, 2 * k);
    const std::uint64_t bytes = static_cast<std::uint64_t>(_mm_popcnt_u64(kept));
    _mm512_mask_storeu_epi8(out + r.out, _bzhi_u64(~std::uint64_t{0}, static_cast<unsigned>(bytes)),
                            _mm512_maskz_compress_epi8(kept, d));
    r.prev = k >= 2 ? r.in + 2 * k - 4 : r.last;
    r.last = r.in + 2 * k - 2;
    r.out += bytes;
    r.lastOut = r.out - 1 - ((kept >> (2 * k - 1)) & 1);
    r.lines += static_cast<std::size_t>(_mm_popcnt_u32(_mm512_cmpeq_epi16_mask(u, lf) & _bzhi_u32(~0u, k)));
    r.in += 2 * k;
    r.chars += k;
    if (stopped) break;
  }
  return r;
}

#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

bool haveAvx512() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
         __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512vbmi") &&
         __builtin_cpu_supports("avx512vbmi2") &&
         __builtin_cpu_supports("bmi2") && __builtin_cpu_supports("popcnt");
}

bool haveSsse3() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("ssse3");
}

bool haveAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
}

}  // namespace

Utf8To16Kernel utf8To16Vector() {
  return haveAvx2() ? utf8To16Avx2 : haveSsse3() ? utf8To16Ssse3 : nullptr;
}
Utf8To16Kernel utf8To16Ssse3Only() { return haveSsse3() ? utf8To16Ssse3 : nullptr; }
Utf8To16Kernel utf8To16Avx2Only() { return haveAvx2() ? utf8To16Avx2 : nullptr; }
Utf16To8Kernel utf16To8Vector() {
  return haveAvx2() ? utf16To8Avx2 : haveSsse3() ? utf16To8Ssse3 : nullptr;
}
Utf16To8Kernel utf16To8Ssse3Only() { return haveSsse3() ? utf16To8Ssse3 : nullptr; }
Utf16To8Kernel utf16To8Avx2Only() { return haveAvx2() ? utf16To8Avx2 : nullptr; }
Utf8MapKernel utf8MapVector() { return haveAvx512() ? utf8MapAvx512 : nullptr; }
Utf16MapKernel utf16MapVector() { return haveAvx512() ? utf16MapAvx512 : nullptr; }

#else

Utf8To16Kernel utf8To16Vector() { return nullptr; }
Utf8To16Kernel utf8To16Ssse3Only() { return nullptr; }
Utf8To16Kernel utf8To16Avx2Only() { return nullptr; }
Utf16To8Kernel utf16To8Vector() { return nullptr; }
Utf16To8Kernel utf16To8Ssse3Only() { return nullptr; }
Utf16To8Kernel utf16To8Avx2Only() { return nullptr; }
Utf8MapKernel utf8MapVector() { return nullptr; }
Utf16MapKernel utf16MapVector() { return nullptr; }

#endif

}  // namespace zk
