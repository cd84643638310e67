// The bulk path: runs of characters converted in one tight loop instead of
// one dest and one const call each.
//
// Each character's bytes come from the memo (memo.h), which holds what the
// general path writes for that character converted alone; between Unicode
// encodings that both take every value as itself, ordinary code points are
// written by arithmetic instead. ASCII that comes out as itself is copied 16
// bytes at a time. The loop stops before anything that depends on more than
// the character: bytes that are no character (or one the general path
// refuses), input that ends inside one, a possible JIS X 0213 base followed
// by a combining mark, shift sequences it does not know, and a full buffer.
//
// When it stops, the loop hands its last character back: the record is left
// exactly as the driver leaves it just before that character, and the
// general path converts it again, setting every field as it always does.
// What a character leaves in the record therefore never has to be computed
// here; only the positions, the counters, rawCode (which becomes the next
// prevRawCode) and the ISO-2022-JP shift states are.
#include "engine/engine.h"
#include "engine/memo.h"
#include "engine/simd.h"
#include "frame/state.h"
#include "rules/rules.h"
#include "rules/unicode.h"

namespace zk {

namespace {

// ucsMayBePairBase as a bit per code point from U+00E6 to U+31F7, so that
// kana (inside that range) cost one look-up.
struct PairBaseBits {
  std::uint8_t bits[(0x31F7 - 0xE6) / 8 + 1] = {};
  constexpr PairBaseBits() {
    for (std::uint32_t v = 0xE6; v <= 0x31F7; ++v)
      if (ucsMayBePairBase(v)) bits[(v - 0xE6) >> 3] |= static_cast<std::uint8_t>(1u << ((v - 0xE6) & 7));
  }
};
constexpr PairBaseBits kPairBases;

// UTF-8 lead bytes of combining marks other than U+309A (U+02E5, U+02E9,
// U+0300, U+0301), and FE and FF, which the reader skips before one.
struct MarkLeads {
  bool is[256] = {};
  constexpr MarkLeads() { is[0xCB] = is[0xCC] = is[0xFE] = is[0xFF] = true; }
};
constexpr MarkLeads kMarkLeads;

inline bool mayBePairBase(std::uint32_t v) {
  const std::uint32_t i = v - 0xE6;
  return i <= 0x31F7 - 0xE6 && ((kPairBases.bits[i >> 3] >> (i & 7)) & 1);
}

// After a possible pair base, whether destUtf8's look-ahead surely finds no
// combining mark at q: input ends, or the next sequence is none of them.
// FE and FF bytes (skipped by the reader) are left to the general path.
inline bool noPairFollowsUtf8(const unsigned char* in, std::int32_t q, std::int32_t len) {
  if (q >= len) return true;
  const std::uint32_t lead = in[q];
  if (lead < 0xC0) return true;  // one byte: below U+00C0
  if (lead >= 0xFE) return false;
  const std::int32_t n = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : lead < 0xFC ? 5 : 6;
  if (len - q < n) return true;  // the reader asks for more input: no pair
  std::uint32_t v = lead & (0xFFu >> (n + 1));
  for (std::int32_t i = 1; i < n; ++i) v = (v << 6) | (in[q + i] & 0x3Fu);
  return !ucsIsPairMark(v);
}

// The same for destUtf16, which looks at the next unit when there is one.
inline bool noPairFollowsUtf16(const unsigned char* in, std::int32_t q, std::int32_t len, bool big) {
  if (len - q < 2) return true;
  const std::uint32_t w = big ? (std::uint32_t{in[q]} << 8) | in[q + 1]
                              : (std::uint32_t{in[q + 1]} << 8) | in[q];
  return !ucsIsPairMark(w);
}

inline std::uint32_t unit16(const unsigned char* p, bool big) {
  return big ? (std::uint32_t{p[0]} << 8) | p[1] : (std::uint32_t{p[1]} << 8) | p[0];
}

// An ISO-2022-JP escape sequence at q (left bytes there) that designates a
// set the bulk path follows: its length, and the class it selects; 0 for
// any other, which the general path reads.
[[gnu::always_inline]] inline std::int32_t isoEscape(const unsigned char* q, std::int32_t left, int* cls) {
  if (left < 3) return 0;
  const std::uint32_t b1 = q[1], b2 = q[2];
  std::uint32_t d, pl = 11;
  std::int32_t el = 3;
  if (b1 == 0x24 && b2 == 0x42)
    d = kIdJisX0208;
  else if (b1 == 0x24 && b2 == 0x40)
    d = kIdJisC6226;
  else if (b1 == 0x28 && b2 == 0x42)
    d = kIdIso646Irv;
  else if (b1 == 0x28 && b2 == 0x4A)
    d = kIdJisX0201Latin;
  else if (b1 == 0x24 && b2 == 0x28 && left >= 4 && (q[3] == 0x51 || q[3] == 0x50)) {
    d = kIdJisX0213;
    pl = q[3] == 0x50 ? 12 : 11;
    el = 4;
  } else {
    return 0;
  }
  *cls = memoIsoClass(d, pl);
  return el;
}

// The character at p: its key in the memo and its length in bytes; false
// when the bulk path leaves it to the general path. Unicode sources give the
// code point as the key.
template <BulkSrc kSrc>
[[gnu::always_inline]] inline bool parseChar(const Memo* m, const unsigned char* in, std::int32_t p,
                                             std::int32_t len, bool inBig, int cls,
                                             std::uint32_t* key, std::int32_t* n) {
  const std::uint32_t b = in[p];
  if constexpr (kSrc == BulkSrc::kSjis) {
    if (b < 0x80 || b - 0xA1u < 0x3Fu) {
      *key = b;
      *n = 1;
      return true;
    }
    if (len - p < 2) return false;
    *key = (b << 8) | in[p + 1];
    *n = 2;
    return true;
  } else if constexpr (kSrc == BulkSrc::kEuc) {
    if (b <= 0x7E) {
      *key = b;
      *n = 1;
      return true;
    }
    if (b >= 0xA0 || b == 0x8E) {
      if (len - p < 2) return false;
      *key = (b << 8) | in[p + 1];
      *n = 2;
      return true;
    }
    if (b != 0x8F || len - p < 3) return false;
    *key = 0x10000u | (std::uint32_t{in[p + 1]} << 8) | in[p + 2];
    *n = 3;
    return true;
  } else if constexpr (kSrc == BulkSrc::kIso2022) {
    const std::uint32_t mode = m->inMode[cls];
    const std::uint32_t base = static_cast<std::uint32_t>(cls) << 16;
    if (mode == 1 || (mode == 2 && (b == 0x09 || b == 0x0A || b == 0x0D))) {
      *key = base | b;
      *n = 1;
      return true;
    }
    // Double-byte codes below 0x2100 would share keys with the three
    // single bytes above; none is an ordinary character.
    if (mode != 2 || b < 0x21 || len - p < 2) return false;
    *key = base | (b << 8) | in[p + 1];
    *n = 2;
    return true;
  } else if constexpr (kSrc == BulkSrc::kUtf8) {
    if (b < 0xC0) {
      *key = b;
      *n = 1;
      return true;
    }
    if (b < 0xE0) {
      if (len - p < 2) return false;
      *key = ((b & 0x1Fu) << 6) | (in[p + 1] & 0x3Fu);
      *n = 2;
      return true;
    }
    if (b < 0xF0) {
      if (len - p < 3) return false;
      *key = ((b & 0x0Fu) << 12) | ((in[p + 1] & 0x3Fu) << 6) | (in[p + 2] & 0x3Fu);
      *n = 3;
      return true;
    }
    if (b >= 0xF8 || len - p < 4) return false;  // 5 and 6 bytes: beyond the memo's keys
    *key = ((b & 0x07u) << 18) | ((in[p + 1] & 0x3Fu) << 12) | ((in[p + 2] & 0x3Fu) << 6) |
           (in[p + 3] & 0x3Fu);
    *n = 4;
    return true;
  } else {
    if (len - p < 2) return false;
    const std::uint32_t u = unit16(in + p, inBig);
    if (u - 0xD800u >= 0x800u) {
      *key = u;
      *n = 2;
      return true;
    }
    // Only a high surrogate followed by a low one is taken.
    if (u >= 0xDC00 || len - p < 4) return false;
    const std::uint32_t w = unit16(in + p + 2, inBig);
    if (w - 0xDC00u >= 0x400u) return false;
    *key = 0x10000u + ((u - 0xD800u) << 10) + (w - 0xDC00u);
    *n = 4;
    return true;
  }
}

// Stores the n (0 to 4) bytes of an entry, first byte lowest.
[[gnu::always_inline]] inline void putBytes(unsigned char* q, std::uint32_t v, std::int32_t n) {
  if (n == 3) {
    const std::uint16_t lo = static_cast<std::uint16_t>(v);
    std::memcpy(q, &lo, 2);
    q[2] = static_cast<unsigned char>(v >> 16);
  } else if (n == 2) {
    const std::uint16_t lo = static_cast<std::uint16_t>(v);
    std::memcpy(q, &lo, 2);
  } else if (n == 1) {
    q[0] = static_cast<unsigned char>(v);
  } else if (n == 4) {
    std::memcpy(q, &v, 4);
  }
}

// UTF-8 of v below 0x200000, as bytes first-lowest, and their count.
[[gnu::always_inline]] inline std::uint32_t utf8Of(std::uint32_t v, std::int32_t* n) {
  if (v < 0x80) {
    *n = 1;
    return v;
  }
  if (v < 0x800) {
    *n = 2;
    return (0xC0 | (v >> 6)) | ((0x80 | (v & 0x3F)) << 8);
  }
  if (v < 0x10000) {
    *n = 3;
    return (0xE0 | (v >> 12)) | ((0x80 | ((v >> 6) & 0x3F)) << 8) | ((0x80 | (v & 0x3F)) << 16);
  }
  *n = 4;
  return (0xF0 | (v >> 18)) | ((0x80 | ((v >> 12) & 0x3F)) << 8) |
         ((0x80 | ((v >> 6) & 0x3F)) << 16) | ((0x80u | (v & 0x3F)) << 24);
}

inline std::uint32_t swap16(std::uint32_t u) { return ((u & 0xFF) << 8) | (u >> 8); }

inline std::ptrdiff_t utf8LengthOf(std::uint32_t v) { return v < 0x80 ? 1 : v < 0x800 ? 2 : 3; }

// How the bytes of a character are found.
enum class Out {
  kMemo,    // from the memo
  kIso,     // from the memo, after an escape sequence when the designation changes
  kUtf8,    // UTF-8 of the code point (Unicode to Unicode)
  kUtf16,   // UTF-16 of the code point (Unicode to Unicode)
};

// The key and length of the character at p, which the loop converted.
bool keyAt(const Memo* m, const unsigned char* in, std::int32_t p, std::int32_t len, bool inBig,
           int cls, std::uint32_t* key, std::int32_t* n) {
  switch (m->src) {
    case BulkSrc::kSjis:
      return parseChar<BulkSrc::kSjis>(m, in, p, len, inBig, cls, key, n);
    case BulkSrc::kEuc:
      return parseChar<BulkSrc::kEuc>(m, in, p, len, inBig, cls, key, n);
    case BulkSrc::kIso2022:
      return parseChar<BulkSrc::kIso2022>(m, in, p, len, inBig, cls, key, n);
    case BulkSrc::kUtf8:
      return parseChar<BulkSrc::kUtf8>(m, in, p, len, inBig, cls, key, n);
    case BulkSrc::kUtf16:
      return parseChar<BulkSrc::kUtf16>(m, in, p, len, inBig, cls, key, n);
  }
  return false;
}

// The raw value that the source's dest function leaves in rawCode for the
// character at p.
std::uint32_t rawAt(const CconvRecord* rec, const Memo* m, bool inBig, std::int32_t p, int cls) {
  std::uint32_t key;
  std::int32_t n;
  if (!keyAt(m, rec->inBuf, p, rec->inLen, inBig, cls, &key, &n)) return 0;  // not reached
  CconvRecord r = m->tmpl;
  r.inBuf = rec->inBuf + p;
  r.inPos = 0;
  r.inLen = n;
  if (m->src == BulkSrc::kIso2022) {
    r.inDesignation = kIsoClassDesignation[cls];
    r.inPlane = kIsoClassPlane[cls];
  }
  rec->destEntry->fn(&r);
  return r.rawCode;
}

// The units the loop counted for the character at p.
std::int32_t unitsAt(const CconvRecord* rec, const BulkPlan& plan, std::int32_t p, int cls) {
  std::uint32_t key;
  std::int32_t n;
  if (!keyAt(plan.memo, rec->inBuf, p, rec->inLen, plan.inBig, cls, &key, &n)) return 1;
  const std::uint64_t e = key < plan.memo->pageCount << 8 ? memoGet(plan.memo, key) : 0;
  if (e & memo::kReady) return memo::unitsOf(e);
  return plan.utf16Out && key > 0xFFFF ? 2 : 1;  // written by arithmetic
}

// The loop's state. The fast loop in run() keeps the few values it needs in
// registers; everything unusual goes through step(), which checks every
// bound and keeps the rest of the state here.
template <BulkSrc kSrc, Out kOut, bool kNewline>
struct Kernel {
  static constexpr bool kIdentity = kOut == Out::kUtf8 || kOut == Out::kUtf16;
  static constexpr bool kIsoIn = kSrc == BulkSrc::kIso2022;
  static constexpr bool kIsoOut = kOut == Out::kIso;

  CconvRecord* rec;
  const BulkPlan* plan;
  Memo* m;
  const unsigned char* in;
  std::int32_t len;
  unsigned char* out;
  std::int32_t size;
  bool inBig, outBig;
  std::int32_t p, o;
  // The last character converted (handed back at the end), the one before
  // it and where the last one's output began; the rest is found at the end.
  std::int32_t pLast = -1, pPrev = -1, oLast = 0;
  std::int32_t chars = 0, extraUnits = 0;
  int cls = 0, clsLast = 0, clsPrev = 0;
  // Line ends: where an LF would follow the last CR, and what a dropped LF
  // replaced as the last character.
  std::int32_t lfDropsAt = -1, dropAt = -1, crAt = -1, crPrev = -1, crOut = 0;
  int crCls = 0, crPrevCls = 0;
  // ISO-2022-JP targets: the designation in force and the class of the
  // last character; and the designation before the escape sequence written
  // for the last character, if any.
  std::uint32_t outDesig = 0, outPlane = 0, curClass = 0;
  std::int32_t escFor = -1;
  std::uint32_t desigBefore = 0, planeBefore = 0;

  // The bytes of a code point written by arithmetic, or false when it needs
  // the memo.
  [[gnu::always_inline]] bool plainCodePoint(std::uint32_t v, std::uint32_t* bytes, std::int32_t* blen,
                                             std::int32_t* units) const {
    if ((kNewline && (v == 0x0A || v == 0x0D || (v & ~1u) == 0x2028)) || mayBePairBase(v))
      return false;
    if constexpr (kOut == Out::kUtf8) {
      if (v >= 0x200000) return false;
      *bytes = utf8Of(v, blen);
      *units = 1;
    } else if (v <= 0xFFFF) {
      *bytes = outBig ? swap16(v) : v;
      *blen = 2;
      *units = 1;
    } else {
      if (v > 0x10FFFF) return false;
      const std::uint32_t hi = 0xD800 + ((v - 0x10000) >> 10);
      const std::uint32_t lo = 0xDC00 + (v & 0x3FF);
      *bytes = outBig ? swap16(hi) | (swap16(lo) << 16) : hi | (lo << 16);
      *blen = 4;
      *units = 2;
    }
    return true;
  }

  // One escape sequence or character, with every check; false to stop.
  [[gnu::noinline]] bool step() {
    if (p >= len) return false;
    if constexpr (kIsoIn) {
      if (in[p] == 0x1B) {
        const std::int32_t el = isoEscape(in + p, len - p, &cls);
        if (el == 0) return false;
        if (lfDropsAt == p) lfDropsAt = p + el;  // the escape is read with the LF
        p += el;
        return true;
      }
    }
    std::uint32_t key;
    std::int32_t n;
    if (!parseChar<kSrc>(m, in, p, len, inBig, cls, &key, &n)) return false;
    std::uint32_t bytes = 0;
    std::int32_t blen = 0, units = 0;
    std::uint64_t e = 0;
    bool arithmetic = false;
    if constexpr (kIdentity) arithmetic = plainCodePoint(key, &bytes, &blen, &units);
    if (!arithmetic) {
      if ((kSrc == BulkSrc::kUtf8 || kSrc == BulkSrc::kUtf16) && key >= m->pageCount << 8)
        return false;  // beyond the memo's keys
      e = memoGet(m, key);
      if (!(e & (memo::kReady | memo::kStop))) {
        if constexpr (kIsoIn)
          e = memoFill(m, key, in + p, n, kIsoClassDesignation[cls], kIsoClassPlane[cls]);
        else
          e = memoFill(m, key, in + p, n, kIdIso646Irv, 11);
      }
      if (!(e & memo::kReady)) return false;
      if (e & memo::kPairBase) {
        if constexpr (kSrc == BulkSrc::kUtf8) {
          if (!noPairFollowsUtf8(in, p + n, len)) return false;
        } else if constexpr (kSrc == BulkSrc::kUtf16) {
          if (!noPairFollowsUtf16(in, p + n, len, inBig)) return false;
        }
      }
      if constexpr (kNewline) {
        if ((e & memo::kRawLf) && lfDropsAt == p) {
          // The LF of a CR LF: counted, nothing written. Should the loop
          // end here, the CR before it is handed back instead.
          dropAt = p;
          crAt = pLast;
          crPrev = pPrev;
          crOut = oLast;
          crCls = clsLast;
          crPrevCls = clsPrev;
          pPrev = pLast;
          pLast = p;
          clsPrev = clsLast;
          clsLast = cls;
          p += n;
          ++chars;
          --extraUnits;
          return true;
        }
      }
      bytes = memo::bytesOf(e);
      blen = memo::lenOf(e);
      units = memo::unitsOf(e);
    }
    if constexpr (kIsoOut) {
      const std::uint32_t want = memo::classOf(e);
      const MemoOutClass* esc = nullptr;
      if (want != curClass) {
        const MemoOutClass& c = m->classes[want - 1];
        const bool needed = c.designation == kIdJisX0213
                                ? outDesig != kIdJisX0213 || outPlane != c.plane
                                : outDesig != c.designation;
        if (needed) esc = &c;
      }
      if (o + (esc ? esc->escLen : 0) + blen > size) return false;
      oLast = o;
      if (esc) {
        escFor = p;
        desigBefore = outDesig;
        planeBefore = outPlane;
        for (std::uint32_t i = 0; i < esc->escLen; ++i) out[o + i] = esc->esc[i];
        o += esc->escLen;
        outDesig = esc->designation;
        if (esc->designation == kIdJisX0213) outPlane = esc->plane;
      }
      curClass = want;
    } else {
      if (o + blen > size) return false;
      oLast = o;
    }
    pPrev = pLast;
    pLast = p;
    clsPrev = clsLast;
    clsLast = cls;
    putBytes(out + o, bytes, blen);
    o += blen;
    ++chars;
    extraUnits += units - 1;
    p += n;
    if constexpr (kNewline) {
      if (e & memo::kRawCr) lfDropsAt = p;
    }
    return true;
  }

  // Hands the last character back; a character before it is needed to have
  // made progress.
  void finish() {
    std::int32_t units = chars + extraUnits;
    std::int32_t before = 1;  // characters from the one handed back on
    if (kNewline && dropAt >= 0 && pLast == dropAt) {
      // An LF dropped after a CR came last: the CR is handed back, and the
      // LF is read again after it.
      if (crAt < 0) return;
      units -= unitsAt(rec, *plan, crAt, crCls);
      pLast = crAt;
      pPrev = crPrev;
      oLast = crOut;
      clsLast = crCls;
      clsPrev = crPrevCls;
      before = 2;
    } else if (pLast >= 0) {
      units -= unitsAt(rec, *plan, pLast, clsLast);
    }
    if (pPrev < 0 || pLast < 0 || chars <= before) return;
    rec->rawCode = rawAt(rec, m, inBig, pPrev, clsPrev);
    rec->inPos = pLast;
    rec->outPos = oLast;
    rec->inChars += chars - before;
    rec->outChars += units;
    if constexpr (kIsoIn) {
      rec->inDesignation = kIsoClassDesignation[clsLast];
      rec->inPlane = kIsoClassPlane[clsLast];
    }
    if constexpr (kIsoOut) {
      const bool escaped = escFor == pLast;
      rec->outDesignation = escaped ? desigBefore : outDesig;
      rec->outPlane = escaped ? planeBefore : outPlane;
    }
  }
};

// Whether a combining mark of a JIS X 0213 pair may start at q, read
// without bounds (at least 4 bytes are there); true also for what only the
// general path reads (FE and FF bytes before it).
template <BulkSrc kSrc, bool kInBig>
[[gnu::always_inline]] inline bool combiningMayStart(const unsigned char* q) {
  if constexpr (kSrc == BulkSrc::kUtf8) {
    return utf8MayStartPairMark(q);
  } else {
    const std::uint32_t w = unit16(q, kInBig);
    return w == 0x309A || (w - 0x2E5u <= 0x301u - 0x2E5u);
  }
}

// The loop's bookkeeping after a map kernel took r.chars characters at ip
// (prev, last and lastOut: the last two characters and where the last one's
// bytes begin).
template <bool kNewline>
[[gnu::always_inline]] inline void tookMapped(const BlockResult& r, const Memo* m, const unsigned char*& ip,
                                              unsigned char*& op, const unsigned char*& prev,
                                              const unsigned char*& last, unsigned char*& lastOut,
                                              std::int32_t& chars, std::int32_t& extraUnits) {
  prev = r.chars >= 2 ? ip + r.prev : last;
  last = ip + r.last;
  lastOut = op + r.lastOut;
  ip += r.in;
  op += r.out;
  chars += static_cast<std::int32_t>(r.chars);
  if constexpr (kNewline) {
    if (r.lines) extraUnits += static_cast<std::int32_t>(r.lines) * (memo::unitsOf(memoGet(m, 0x0A)) - 1);
  }
}

template <BulkSrc kSrc, Out kOut, bool kNewline, bool kInBig, bool kOutBig>
void run(CconvRecord* rec, const BulkPlan& plan) {
  using K = Kernel<kSrc, kOut, kNewline>;
  K k;
  k.rec = rec;
  k.plan = &plan;
  k.m = plan.memo;
  k.in = rec->inBuf;
  k.len = rec->inLen;
  k.out = rec->outBuf;
  k.size = rec->outSize - k.m->reserve;
  k.inBig = kInBig;
  k.outBig = plan.outBig;
  k.p = rec->inPos;
  k.o = rec->outPos;
  k.oLast = k.o;
  if (k.p >= k.len || k.o >= k.size) return;
  if constexpr (K::kIsoIn) {
    k.cls = memoIsoClass(rec->inDesignation, rec->inPlane);
    if (k.cls < 0) return;
    k.clsLast = k.clsPrev = k.cls;
  }
  if (kNewline && rec->rawCode == 0x0D) k.lfDropsAt = k.p;
  k.outDesig = rec->outDesignation;
  k.outPlane = rec->outPlane;

  constexpr bool kByteSource = kSrc == BulkSrc::kSjis || kSrc == BulkSrc::kEuc || kSrc == BulkSrc::kUtf8;
  constexpr bool kUnicodeSource = kSrc == BulkSrc::kUtf8 || kSrc == BulkSrc::kUtf16;
  Memo* const m = k.m;
  std::atomic<MemoPage*>* const pages = m->pages;
  const std::atomic<std::uint16_t>* const dense = m->dense;
  const unsigned char* const in = k.in;
  unsigned char* const out = k.out;
  // The fast loop reads up to 8 bytes from a character on (itself and what
  // may follow it) and writes up to 8 (an escape sequence and a character)
  // without checking: it runs while both are there.
  const bool fastOk = k.len >= 8 && k.size >= 8;
  const unsigned char* const inEnd = in + k.len;
  unsigned char* const outEnd = fastOk ? out + k.size : out;
  const unsigned char* const inSafe = fastOk ? inEnd - 8 : in;
  unsigned char* const outSafe = fastOk ? outEnd - 8 : out;
  const bool asciiOn = plan.asciiOn;
  const std::int32_t asciiWidth = plan.asciiWidth;
  const PlainVectors plain(plan.ascii);
  // Memo targets keep their byte order in the record, not in the loop.
  const bool widenBig = K::kIdentity ? kOutBig : plan.outBig;
  const std::uint32_t asciiClass = m->asciiClass;
  for (;;) {
    const unsigned char* ip = in + k.p;
    unsigned char* op = out + k.o;
    const unsigned char* pLast = k.pLast < 0 ? nullptr : in + k.pLast;
    const unsigned char* pPrev = k.pPrev < 0 ? nullptr : in + k.pPrev;
    unsigned char* oLast = out + k.oLast;
    std::int32_t chars = k.chars;
    std::int32_t extraUnits = k.extraUnits;
    int cls = k.cls, clsLast = k.clsLast, clsPrev = k.clsPrev;
    std::uint32_t mode = K::kIsoIn ? m->inMode[cls] : 0;
    std::uint32_t outDesig = k.outDesig, outPlane = k.outPlane, curClass = k.curClass;
    const unsigned char* escFor = k.escFor < 0 ? nullptr : in + k.escFor;
    std::uint32_t desigBefore = k.desigBefore, planeBefore = k.planeBefore;
    const unsigned char* lfDropsAt = k.lfDropsAt < 0 ? nullptr : in + k.lfDropsAt;
    int cooldown = 0;
    int mapWait = 0;  // characters to go one by one before the map kernel is asked again
    while (fastOk && ip <= inSafe && op <= outSafe) {
      const std::uint32_t b = ip[0];
      if constexpr (!K::kIdentity && !K::kIsoOut && kSrc == BulkSrc::kUtf16) {
        // Windows of UTF-16 through the code-point table, ASCII included, when
        // the processor has the kernel; after one that took nothing, a few
        // characters go one by one first.
        if (plan.map16 && mapWait == 0 && !(kNewline && ip == lfDropsAt)) {
          const BlockResult r = plan.map16(ip, static_cast<std::size_t>(inEnd - ip), op,
                                           static_cast<std::size_t>(outEnd - op), kInBig,
                                           reinterpret_cast<const std::uint16_t*>(m->ucs));
          if (r.chars) {
            tookMapped<kNewline>(r, m, ip, op, pPrev, pLast, oLast, chars, extraUnits);
            continue;
          }
          mapWait = 8;
        } else if (mapWait) {
          --mapWait;
        }
      }

      if constexpr (kByteSource || K::kIsoIn) {
        // Plain ASCII: under ESC ( B for ISO-2022-JP input, and in the
        // designation ASCII is written in for ISO-2022-JP output.
        if (b < 0x80 && asciiOn && (!K::kIsoIn || cls == 0) && (!K::kIsoOut || curClass == asciiClass) &&
            inEnd - ip >= 16 && outEnd - op >= 16 * asciiWidth) {
          const std::uint32_t kk = plainPrefix16(ip, plain);
          if (kk >= 2) {
            if (asciiWidth == 1) {
              if (kk == 16)
                copy16(op, ip);
              else
                copyUpTo16(op, ip, kk);
            } else if (kk == 16) {
              widen16(op, ip, widenBig);
            } else {
              for (std::uint32_t i = 0; i < kk; ++i) {
                op[2 * i] = widenBig ? 0 : ip[i];
                op[2 * i + 1] = widenBig ? ip[i] : 0;
              }
            }
            pPrev = ip + kk - 2;
            pLast = ip + kk - 1;
            oLast = op + (kk - 1) * asciiWidth;
            clsPrev = clsLast = cls;
            ip += kk;
            op += kk * asciiWidth;
            chars += static_cast<std::int32_t>(kk);
            continue;
          }
        }
      } else {
        if (asciiOn && unit16(ip, kInBig) < 0x80 && (!K::kIsoOut || curClass == asciiClass) &&
            inEnd - ip >= 16 && outEnd - op >= 8) {
          const std::uint32_t kk = plainPrefix8x16(ip, kInBig, plain);
          if (kk >= 2) {
            if (kk == 8) {
              narrow8(op, ip, kInBig);
            } else {
              for (std::uint32_t i = 0; i < kk; ++i) op[i] = ip[2 * i + (kInBig ? 1 : 0)];
            }
            pPrev = ip + 2 * (kk - 2);
            pLast = ip + 2 * (kk - 1);
            oLast = op + kk - 1;
            ip += 2 * kk;
            op += kk;
            chars += static_cast<std::int32_t>(kk);
            continue;
          }
        }
      }

      if constexpr (K::kIdentity) {
        // Runs of characters the block kernels take. After a kernel could
        // take nothing, a few characters go one by one before it is asked
        // again.
        BlockResult done;
        if (cooldown == 0) {
          // (An LF right after a CR is dropped: the loop reads it itself.)
          if constexpr (kSrc == BulkSrc::kUtf8 && kOut == Out::kUtf16) {
            if (plan.to16 && !(kNewline && ip == lfDropsAt))
              done = plan.to16(ip, static_cast<std::size_t>(inEnd - ip), op,
                               static_cast<std::size_t>(outEnd - op), kOutBig, kNewline, plan.keepLineEnd);
          } else if constexpr (kSrc == BulkSrc::kUtf16 && kOut == Out::kUtf8) {
            if (plan.to8 && !(kNewline && ip == lfDropsAt))
              done = plan.to8(ip, static_cast<std::size_t>(inEnd - ip), op,
                              static_cast<std::size_t>(outEnd - op), kInBig, kNewline, plan.keepLineEnd);
          }
          // The kernel says how many characters stopped it; without room
          // or input for a step, a few go one by one.
          cooldown = done.hold ? static_cast<int>(done.hold) : 4;
        } else {
          --cooldown;
        }
        if (done.chars) {
          // A kernel knows the character before its first only from its own steps.
          pPrev = done.chars >= 2 ? ip + done.prev : pLast;
          pLast = ip + done.last;
          ip += done.in;
          op += done.out;
          // The last character's output: one UTF-16 unit, or its UTF-8 bytes;
          // CR LF for an LF the kernel wrote so.
          if constexpr (kOut == Out::kUtf16)
            oLast = op - (kNewline && done.lines && *pLast == 0x0A ? 4 : 2);
          else
            oLast = op - (kNewline && done.lines && unit16(pLast, kInBig) == 0x0A ? 2 : utf8LengthOf(unit16(pLast, kInBig)));
          chars += static_cast<std::int32_t>(done.chars);
          if constexpr (kNewline) extraUnits += static_cast<std::int32_t>(done.lines) * plan.lfExtraUnits;
          continue;
        }
      }

      if constexpr (!K::kIdentity && (kSrc == BulkSrc::kSjis || kSrc == BulkSrc::kEuc || K::kIsoIn)) {
        // Runs of double-byte characters (kanji and kana) in a tighter loop:
        // the lead byte alone says the character has two bytes, and within
        // the run the designation (or the set of the source) does not change.
        const auto isLead = [&](std::uint32_t c) {
          if constexpr (kSrc == BulkSrc::kSjis) return c - 0x81u < 0x1Fu || c - 0xE0u < 0x1Du;
          else if constexpr (kSrc == BulkSrc::kEuc) return c - 0xA1u < 0x5Eu;
          else return mode == 2 && c - 0x21u < 0x5Eu;
        };
        if (isLead(b)) {
          std::atomic<MemoPage*>* const runPages = K::kIsoIn ? pages + (cls << 8) : pages;
          const unsigned char* const start = ip;
          std::int32_t lastLen = 0;
          std::uint32_t c = b;
          do {
            const std::uint64_t e = runPages[c].load(std::memory_order_acquire)->e[ip[1]].load(std::memory_order_acquire);
            if (!(e & memo::kFast)) break;
            if constexpr (K::kIsoOut) {
              if (memo::classOf(e) != curClass) break;
            }
            lastLen = memo::lenOf(e);
            putBytes(op, memo::bytesOf(e), lastLen);
            op += lastLen;
            ip += 2;
          } while (ip <= inSafe && op <= outSafe && isLead(c = ip[0]));
          if (ip != start) {
            const std::int32_t taken = static_cast<std::int32_t>((ip - start) / 2);
            chars += taken;
            pPrev = taken >= 2 ? ip - 4 : pLast;
            pLast = ip - 2;
            oLast = op - lastLen;
            if constexpr (K::kIsoIn) {
              clsPrev = taken >= 2 ? cls : clsLast;
              clsLast = cls;
            }
            continue;
          }
        }
      }

      if constexpr (!K::kIdentity && kSrc == BulkSrc::kUtf8) {
        // Runs of three-byte characters (kana and kanji) in a tighter loop,
        // with the short ASCII runs between them.
        if (b - 0xE0u < 0x10u) {
          const unsigned char* last = pLast;
          const unsigned char* prev = pPrev;
          unsigned char* lastOut = oLast;
          // What the 16 bytes of output before spareEnd held before a copy
          // of ASCII wrote them; those from op on are still to be written or
          // put back.
          unsigned char spare[16] = {};
          unsigned char* spareEnd = op;
          for (;;) {
            if constexpr (!K::kIsoOut) {
              // Windows of ASCII, two- and three-byte characters through the
              // code-point table, when the processor has the kernel.
              if (plan.map && mapWait == 0 && !(kNewline && ip == lfDropsAt)) {
                const BlockResult r =
                    plan.map(ip, static_cast<std::size_t>(inEnd - ip), op, static_cast<std::size_t>(outEnd - op),
                             reinterpret_cast<const std::uint16_t*>(m->ucs));
                if (r.chars) {
                  tookMapped<kNewline>(r, m, ip, op, prev, last, lastOut, chars, extraUnits);
                } else {
                  mapWait = 8;
                }
              } else if (mapWait) {
                --mapWait;
              }
              // Two characters a step while both have three bytes and
              // two-byte results in the dense table, and neither is followed
              // by what may be a combining mark (the table holds possible
              // pair bases). A step reads bytes 0 to 8.
              const unsigned char* const pairStart = ip;
              // As many steps as the input (ten bytes in reach of each) and the room allow.
              std::ptrdiff_t steps = 0;
              if (inSafe - ip >= 2 && op <= outSafe) {
                const std::ptrdiff_t inSteps = (inSafe - ip - 2) / 6, outSteps = (outSafe - op) / 4;
                steps = (inSteps < outSteps ? inSteps : outSteps) + 1;
              }
              for (; steps > 0; --steps) {
                std::uint64_t x;
                std::memcpy(&x, ip, 8);
                if ((x & 0xF00000F0u) != 0xE00000E0u) break;
                // Bytes 0-2 and 3-5 as dense slots: the lead's low bits, then the rest.
                const std::uint64_t y = __builtin_bswap64(x);
                const std::uint32_t d0 =
                    dense[(y >> 40) & (kDenseSlots - 1)].load(std::memory_order_relaxed);
                const std::uint32_t d1 =
                    dense[(y >> 16) & (kDenseSlots - 1)].load(std::memory_order_relaxed);
                if (((d0 - 0x100) | (d1 - 0x100)) >> 31) break;  // either below 0x100
                // U+309A second or third (any character ending in 82 9A
                // counts), or the lead of another mark, FE or FF third.
                std::uint16_t z;
                std::memcpy(&z, ip + 7, 2);
                const bool marks = (static_cast<std::uint16_t>(x >> 32) == 0x9A82) | (z == 0x9A82) |
                                   kMarkLeads.is[(x >> 48) & 0xFF];
                if (marks) break;
                const std::uint32_t both = d0 | (d1 << 16);
                std::memcpy(op, &both, 4);
                ip += 6;
                op += 4;
              }
              if (ip != pairStart) {
                chars += static_cast<std::int32_t>((ip - pairStart) / 3);
                prev = ip - 6;
                last = ip - 3;
                lastOut = op - 2;
              }
            }
            if (!(ip <= inSafe && op <= outSafe)) break;
            const std::uint32_t c = ip[0];
            std::int32_t len;
            if (c - 0xE0u < 0x10u) {
              // One character through the dense table or the memo.
              std::uint32_t d = 0;
              if constexpr (!K::kIsoOut) {
                d = dense[denseIndex(c, ip[1], ip[2])].load(std::memory_order_relaxed);
                // Before a possible combining mark the memo says whether it may pair.
                if (combiningMayStart<kSrc, kInBig>(ip + 3)) d = 0;
              }
              if (d > 0xFF) {
                const std::uint16_t two = static_cast<std::uint16_t>(d);
                std::memcpy(op, &two, 2);
                len = 2;
              } else if (d != 0) {
                op[0] = static_cast<unsigned char>(d);
                len = 1;
              } else {
                const std::uint32_t v =
                    ((c & 0x0Fu) << 12) | ((ip[1] & 0x3Fu) << 6) | (ip[2] & 0x3Fu);
                const std::uint64_t e = pages[v >> 8]
                                            .load(std::memory_order_acquire)
                                            ->e[v & 0xFF]
                                            .load(std::memory_order_acquire);
                if (!(e & memo::kFast)) break;
                if ((e & memo::kPairBase) && combiningMayStart<kSrc, kInBig>(ip + 3)) break;
                if constexpr (K::kIsoOut) {
                  if (memo::classOf(e) != curClass) break;
                }
                len = memo::lenOf(e);
                putBytes(op, memo::bytesOf(e), len);
              }
              prev = last;
              last = ip;
              lastOut = op;
              op += len;
              ip += 3;
              ++chars;
              continue;
            }
            if constexpr (kNewline) {
              // A line end on its own (not the LF of a CR LF), as the memo
              // writes it (for ISO-2022-JP, only in the designation it needs).
              if (c == 0x0A && ip != lfDropsAt) {
                const std::uint64_t e = memoGet(m, 0x0A);
                if ((e & memo::kReady) && (!K::kIsoOut || memo::classOf(e) == curClass)) {
                  const std::int32_t len = memo::lenOf(e);
                  putBytes(op, memo::bytesOf(e), len);
                  extraUnits += memo::unitsOf(e) - 1;
                  prev = last;
                  last = ip;
                  lastOut = op;
                  op += len;
                  ++ip;
                  ++chars;
                  continue;
                }
              }
            }
            // Up to 15 plain ASCII characters before another three-byte
            // one: spaces, punctuation and short words between kanji stay in
            // this loop (longer runs go 16 bytes at a time above). All 16
            // bytes are copied when the output there is not still waiting
            // for bytes of an earlier copy; what they cover beyond the
            // characters is put back when the loop ends, unless overwritten.
            if (K::kIsoOut || asciiWidth != 1 || !asciiOn || inEnd - ip < 16 || outEnd - op < 16)
              break;
            const std::uint32_t kk = plainPrefix16(ip, plain);
            if (kk == 0 || kk == 16 || ip[kk] - 0xE0u >= 0x10u) break;
            if (op >= spareEnd) {
              std::memcpy(spare, op, 16);
              spareEnd = op + 16;
              copy16(op, ip);
            } else {
              copyUpTo16(op, ip, kk);
            }
            prev = kk >= 2 ? ip + kk - 2 : last;
            last = ip + kk - 1;
            lastOut = op + kk - 1;
            op += kk;
            ip += kk;
            chars += static_cast<std::int32_t>(kk);
          }
          if (spareEnd > op) {
            // 1 to 15 bytes: a copy advanced op by at least one.
            const std::uint32_t n = static_cast<std::uint32_t>(spareEnd - op) & 15;
            copyUpTo16(op, spare + 16 - n, n);
          }
          if (last != pLast) {
            pPrev = prev;
            pLast = last;
            oLast = lastOut;
            continue;
          }
        }
      }

      // The character: its memo page and slot, and its length.
      std::uint32_t hi, lo;
      std::int32_t n;
      if constexpr (kSrc == BulkSrc::kSjis) {
        if (b < 0x80 || b - 0xA1u < 0x3Fu) {
          hi = 0;
          lo = b;
          n = 1;
        } else {
          hi = b;
          lo = ip[1];
          n = 2;
        }
      } else if constexpr (kSrc == BulkSrc::kEuc) {
        if (b <= 0x7E) {
          hi = 0;
          lo = b;
          n = 1;
        } else if (b >= 0xA0 || b == 0x8E) {
          hi = b;
          lo = ip[1];
          n = 2;
        } else if (b == 0x8F) {
          hi = 0x100 | ip[1];
          lo = ip[2];
          n = 3;
        } else {
          break;
        }
      } else if constexpr (kSrc == BulkSrc::kIso2022) {
        if (b == 0x1B) {
          // An escape sequence designates; read with the character after it.
          const std::int32_t el = isoEscape(ip, static_cast<std::int32_t>(inEnd - ip), &cls);
          if (el == 0) break;
          if (kNewline && ip == lfDropsAt) lfDropsAt = ip + el;
          mode = m->inMode[cls];
          ip += el;
          continue;
        }
        if (mode == 1 || (mode == 2 && (b == 0x09 || b == 0x0A || b == 0x0D))) {
          hi = static_cast<std::uint32_t>(cls) << 8;
          lo = b;
          n = 1;
        } else if (mode == 2 && b >= 0x21) {
          hi = (static_cast<std::uint32_t>(cls) << 8) | b;
          lo = ip[1];
          n = 2;
        } else {
          break;
        }
      } else if constexpr (kSrc == BulkSrc::kUtf8) {
        std::uint32_t v;
        if (b < 0xC0) {
          v = b;
          n = 1;
        } else if (b >= 0xE0 && b < 0xF0) {
          v = ((b & 0x0Fu) << 12) | ((ip[1] & 0x3Fu) << 6) | (ip[2] & 0x3Fu);
          n = 3;
        } else if (b < 0xE0) {
          v = ((b & 0x1Fu) << 6) | (ip[1] & 0x3Fu);
          n = 2;
        } else if (b < 0xF8) {
          v = ((b & 0x07u) << 18) | ((ip[1] & 0x3Fu) << 12) | ((ip[2] & 0x3Fu) << 6) | (ip[3] & 0x3Fu);
          n = 4;
        } else {
          break;
        }
        hi = v >> 8;
        lo = v & 0xFF;
      } else {
        const std::uint32_t u = unit16(ip, kInBig);
        if (u - 0xD800u < 0x800u) break;  // surrogates: step() reads them
        hi = u >> 8;
        lo = u & 0xFF;
        n = 2;
      }

      std::uint32_t bytes = 0;
      std::int32_t blen = 0;
      std::uint64_t e = memo::kFast;
      bool arithmetic = false;
      unsigned char* const charOut = op;  // an escape sequence included
      if constexpr (K::kIdentity) {
        // Code points written by arithmetic; line ends and what lies beyond
        // the BMP through the memo.
        const std::uint32_t v = (hi << 8) | lo;
        if (!(kNewline && (v == 0x0A || v == 0x0D || (v & ~1u) == 0x2028)) && v <= 0xFFFF) {
          if (combiningMayStart<kSrc, kInBig>(ip + n) && mayBePairBase(v)) break;
          arithmetic = true;
          if constexpr (kOut == Out::kUtf8) {
            bytes = utf8Of(v, &blen);
          } else {
            bytes = kOutBig ? swap16(v) : v;
            blen = 2;
          }
        }
      }
      if (!arithmetic) {
        if (kUnicodeSource && hi >= 0x300) break;  // beyond the memo's keys
        e = pages[hi].load(std::memory_order_acquire)->e[lo].load(std::memory_order_acquire);
        if (!(e & memo::kFast)) {
          // Known, but a line end, or more than one unit: still taken here.
          // Anything not known yet is made by step().
          if (!(e & memo::kReady)) break;
          if constexpr (kNewline) {
            if ((e & memo::kRawLf) && ip == lfDropsAt) {
              // The LF of a CR LF: counted, nothing written. Should the loop
              // end here, the CR before it is handed back instead.
              k.dropAt = static_cast<std::int32_t>(ip - in);
              k.crAt = pLast ? static_cast<std::int32_t>(pLast - in) : -1;
              k.crPrev = pPrev ? static_cast<std::int32_t>(pPrev - in) : -1;
              k.crOut = static_cast<std::int32_t>(oLast - out);
              k.crCls = clsLast;
              k.crPrevCls = clsPrev;
              pPrev = pLast;
              pLast = ip;
              clsPrev = clsLast;
              clsLast = cls;
              ip += n;
              ++chars;
              --extraUnits;
              continue;
            }
          }
          extraUnits += memo::unitsOf(e) - 1;
        }
        if constexpr (kUnicodeSource) {
          if ((e & memo::kPairBase) && combiningMayStart<kSrc, kInBig>(ip + n)) {
            extraUnits -= memo::unitsOf(e) - 1;
            break;
          }
        }
        if constexpr (K::kIsoOut) {
          const std::uint32_t want = memo::classOf(e);
          if (want != curClass) {
            const MemoOutClass& c = m->classes[want - 1];
            const bool needed = c.designation == kIdJisX0213
                                    ? outDesig != kIdJisX0213 || outPlane != c.plane
                                    : outDesig != c.designation;
            if (needed) {
              escFor = ip;
              desigBefore = outDesig;
              planeBefore = outPlane;
              std::memcpy(op, c.esc, 4);  // the bytes beyond escLen are overwritten below
              op += c.escLen;
              outDesig = c.designation;
              if (c.designation == kIdJisX0213) outPlane = c.plane;
            }
            curClass = want;
          }
        }
        bytes = memo::bytesOf(e);
        blen = memo::lenOf(e);
      }
      oLast = charOut;
      pPrev = pLast;
      pLast = ip;
      if constexpr (K::kIsoIn) {
        clsPrev = clsLast;
        clsLast = cls;
      }
      putBytes(op, bytes, blen);
      op += blen;
      ip += n;
      ++chars;
      if constexpr (kNewline) {
        if (e & memo::kRawCr) lfDropsAt = ip;
      }
    }
    k.p = static_cast<std::int32_t>(ip - in);
    k.o = static_cast<std::int32_t>(op - out);
    if (pLast) k.pLast = static_cast<std::int32_t>(pLast - in);
    if (pPrev) k.pPrev = static_cast<std::int32_t>(pPrev - in);
    k.oLast = static_cast<std::int32_t>(oLast - out);
    k.chars = chars;
    k.extraUnits = extraUnits;
    k.lfDropsAt = lfDropsAt ? static_cast<std::int32_t>(lfDropsAt - in) : -1;
    k.cls = cls;
    k.clsLast = clsLast;
    k.clsPrev = clsPrev;
    k.outDesig = outDesig;
    k.outPlane = outPlane;
    k.curClass = curClass;
    if (escFor) k.escFor = static_cast<std::int32_t>(escFor - in);
    k.desigBefore = desigBefore;
    k.planeBefore = planeBefore;
    if (!k.step()) break;
  }
  k.finish();
}

template <BulkSrc kSrc, Out kOut, bool kNewline>
void runOrdered(CconvRecord* rec, const BulkPlan& plan) {
  // Byte orders are fixed in the loop where they matter: UTF-16 input, and
  // UTF-16 written by arithmetic (the memo holds bytes in their order).
  constexpr bool kIn = kSrc == BulkSrc::kUtf16;
  constexpr bool kOut16 = kOut == Out::kUtf16;
  if (kIn && plan.inBig) {
    if (kOut16 && plan.outBig)
      run<kSrc, kOut, kNewline, kIn, kOut16>(rec, plan);
    else
      run<kSrc, kOut, kNewline, kIn, false>(rec, plan);
  } else {
    if (kOut16 && plan.outBig)
      run<kSrc, kOut, kNewline, false, kOut16>(rec, plan);
    else
      run<kSrc, kOut, kNewline, false, false>(rec, plan);
  }
}

template <BulkSrc kSrc, Out kOut>
void runWith(CconvRecord* rec, const BulkPlan& plan) {
  if (plan.newline)
    runOrdered<kSrc, kOut, true>(rec, plan);
  else
    runOrdered<kSrc, kOut, false>(rec, plan);
}

template <BulkSrc kSrc>
void runFrom(CconvRecord* rec, const BulkPlan& plan) {
  if constexpr (kSrc == BulkSrc::kUtf8 || kSrc == BulkSrc::kUtf16) {
    if (plan.identity) {
      if (plan.utf16Out)
        runWith<kSrc, Out::kUtf16>(rec, plan);
      else
        runWith<kSrc, Out::kUtf8>(rec, plan);
      return;
    }
  }
  if (plan.isoTarget)
    runWith<kSrc, Out::kIso>(rec, plan);
  else
    runWith<kSrc, Out::kMemo>(rec, plan);
}

// A table that is absent, or can never be loaded, makes its set the identity.
inline bool neverTable(const CodeTable* t) {
  return !t || (!ctableIsLoaded(t) && t->sourceName[0] == '\0');
}

// Whether a Unicode source and a Unicode target both take every value as
// itself: the source's first set takes everything, and the target's only
// set places everything with its own value.
bool unicodeIdentity(const CconvRecord* rec) {
  const RuleDef* src = reinterpret_cast<const RuleDef*>(rec->srcRule);
  const RuleDef* dst = reinterpret_cast<const RuleDef*>(rec->dstRule);
  if (!src || !src->charsets || src->charsets->count == 0) return false;
  if (!dst || !dst->charsets || dst->charsets->count != 1) return false;
  const CharsetDef* in = static_cast<const CharsetDef*>(src->charsets->items[0]);
  const CharsetDef* out = static_cast<const CharsetDef*>(dst->charsets->items[0]);
  if (!in || in->type == kSetUserArea || !neverTable(in->toUcs)) return false;
  return out && out->type != kSetUserArea && out->id != kIdJisX0213 && out->bytenum != 0 &&
         neverTable(out->toCode);
}

// The line end that a Unicode to Unicode conversion writes as itself (LF,
// U+2028 or U+2029, whichever the line-end kind asks for), as the general
// path converts it. A CR never is: the LF after it is dropped, which only
// the loop itself sees to. When none is, kLfAsCrLf if an LF comes out as
// CR LF, which the AVX2 kernels then write themselves (*lfExtraUnits: the
// units it counts beyond one); else 0.
std::uint32_t keptLineEnd(const BulkPlan* plan, std::int32_t* lfExtraUnits) {
  std::uint32_t otherwise = 0;
  for (std::uint32_t v : {0x0Au, 0x2028u, 0x2029u}) {
    unsigned char in[3], want[3];
    std::int32_t n = 2, wantLen = 2;
    if (plan->src == BulkSrc::kUtf8) {
      const std::uint32_t bytes = utf8Of(v, &n);
      for (std::int32_t i = 0; i < n; ++i) in[i] = static_cast<unsigned char>(bytes >> (8 * i));
    } else {
      in[0] = static_cast<unsigned char>(plan->inBig ? v >> 8 : v);
      in[1] = static_cast<unsigned char>(plan->inBig ? v : v >> 8);
    }
    if (plan->utf16Out) {
      want[0] = static_cast<unsigned char>(plan->outBig ? v >> 8 : v);
      want[1] = static_cast<unsigned char>(plan->outBig ? v : v >> 8);
    } else {
      const std::uint32_t bytes = utf8Of(v, &wantLen);
      for (std::int32_t i = 0; i < wantLen; ++i) want[i] = static_cast<unsigned char>(bytes >> (8 * i));
    }
    const std::uint64_t e = memoProbe(plan->memo, v, in, n);
    if (!(e & memo::kReady)) continue;
    const std::uint32_t crLf = !plan->utf16Out ? 0x0A0D : plan->outBig ? 0x0A000D00u : 0x000A000Du;
    if (v == 0x0A && memo::lenOf(e) == 2 * wantLen && memo::bytesOf(e) == crLf) {
      *lfExtraUnits = memo::unitsOf(e) - 1;
      otherwise = kLfAsCrLf;
    }
    if (memo::unitsOf(e) != 1 || memo::lenOf(e) != wantLen) continue;
    bool same = true;
    for (std::int32_t i = 0; i < wantLen; ++i)
      same = same && static_cast<unsigned char>(memo::bytesOf(e) >> (8 * i)) == want[i];
    if (same) return v;
  }
  return otherwise;
}

}  // namespace

BulkPlan::~BulkPlan() { memoRelease(memo); }

bool bulkPrepare(const CconvRecord* rec, BulkPlan* plan) {
  memoRelease(plan->memo);
  plan->memo = nullptr;
  plan->active = false;
  // Byte order marks are the general path's; once they are seen to, the
  // rest of the call may go the bulk way.
  plan->afterMarks = rec->dstOptions.outWriteBom || rec->srcOptions.inDetectBom;
  if (plan->afterMarks || rec->lang[0] != '\0') return false;
  const RuleFunction dest = rec->destEntry->fn;
  const RuleFunction encode = rec->constEntry->fn;
  if (dest == sjisDecode || dest == cp932Decode)
    plan->src = BulkSrc::kSjis;
  else if (dest == destEucJp || dest == destEucJis2004)
    plan->src = BulkSrc::kEuc;
  else if (dest == iso2022jpDecode)
    plan->src = BulkSrc::kIso2022;
  else if (dest == destUtf8)
    plan->src = BulkSrc::kUtf8;
  else if (dest == destUtf16)
    plan->src = BulkSrc::kUtf16;
  else
    return false;
  // Targets whose writers the loop knows: how much of the buffer's end they
  // leave unused.
  std::int32_t reserve = 0;
  plan->isoTarget = false;
  if (encode == eucjpEncode) {
    reserve = 1;
  } else if (encode == iso2022jpEncode) {
    plan->isoTarget = true;
  } else if (encode == constUcs2) {
    if (rec->dstOptions.ncrMode) return false;
  } else if (encode != constUtf8 && encode != constUtf16 && encode != constUcs4 &&
             encode != constShiftJis && encode != constShiftJis2004 && encode != constWindows31j &&
             encode != constSame && encode != eucjpfixEncode) {
    return false;
  }
  const bool unicodeSource = plan->src == BulkSrc::kUtf8 || plan->src == BulkSrc::kUtf16;
  plan->identity = unicodeSource && (encode == constUtf8 || encode == constUtf16) && unicodeIdentity(rec);
  plan->utf16Out = encode == constUtf16;
  plan->inBig = rec->srcOptions.inBigEndian != 0;
  plan->outBig = rec->dstOptions.outBigEndian != 0;
  plan->newline = rec->dstOptions.newlineConvert != 0;
  const bool dense = plan->src == BulkSrc::kUtf8 && !plan->isoTarget && !plan->identity;
  // The map kernel pays only where most characters come out as one or two
  // nonzero bytes: a Unicode target writes ASCII with zero bytes, or kanji
  // as three or four, so the kernel would stop at nearly every character.
  const bool unicodeTarget =
      encode == constUtf8 || encode == constUtf16 || encode == constUcs2 || encode == constUcs4;
  plan->memo = memoAcquire(rec, plan->src, plan->isoTarget, dense, !unicodeTarget && !plan->isoTarget, reserve);
  if (!plan->memo) return false;
  if (plan->memo->ucs) {
    if (plan->src == BulkSrc::kUtf8) plan->map = utf8MapVector();
    else plan->map16 = utf16MapVector();
  }
  if (plan->identity) {
    // The block kernels, looked up once per process (a race looks them up twice).
    static std::atomic<int> vectorState{0};
    static std::atomic<Utf8To16Kernel> to16{nullptr};
    static std::atomic<Utf16To8Kernel> to8{nullptr};
    if (vectorState.load(std::memory_order_acquire) == 0) {
      to16.store(utf8To16Vector(), std::memory_order_relaxed);
      to8.store(utf16To8Vector(), std::memory_order_relaxed);
      vectorState.store(1, std::memory_order_release);
    }
    plan->to16 = to16.load(std::memory_order_relaxed);
    plan->to8 = to8.load(std::memory_order_relaxed);
    // Every ASCII value comes out as itself but the line ends when they are converted.
    plan->asciiOn = true;
    plan->asciiWidth = plan->utf16Out ? 2 : 1;
    plan->ascii.lo = 0;
    plan->ascii.ex[0] = plan->ascii.ex[2] = plan->newline ? 0x0A : 0x80;
    plan->ascii.ex[1] = plan->newline ? 0x0D : 0x80;
    // ASCII is copied from UTF-8 to UTF-8; between UTF-8 and UTF-16 the
    // block kernels take it, or else it is widened or narrowed here.
    const bool fromUtf8 = plan->src == BulkSrc::kUtf8;
    if (fromUtf8 == !plan->utf16Out)
      plan->asciiOn = fromUtf8;
    else
      plan->asciiOn = fromUtf8 ? plan->to16 == nullptr : plan->to8 == nullptr;
    plan->keepLineEnd = plan->newline ? keptLineEnd(plan, &plan->lfExtraUnits) : 0;
  } else {
    plan->asciiOn = plan->memo->asciiPlain;
    plan->asciiWidth = plan->memo->asciiWidth;
    plan->ascii = plan->memo->ascii;
  }
  plan->active = true;
  return true;
}

void bulkConvert(CconvRecord* rec, BulkPlan& plan) {
  if (!plan.active) return;
  // A table loaded since the memo was made (by this call or another) may
  // change what a character gives: take the memo made from the tables now.
  if (plan.memo->epoch != gTableEpoch.load(std::memory_order_acquire) && !bulkPrepare(rec, &plan))
    return;
  switch (plan.src) {
    case BulkSrc::kSjis:
      return runFrom<BulkSrc::kSjis>(rec, plan);
    case BulkSrc::kEuc:
      return runFrom<BulkSrc::kEuc>(rec, plan);
    case BulkSrc::kIso2022:
      return runFrom<BulkSrc::kIso2022>(rec, plan);
    case BulkSrc::kUtf8:
      return runFrom<BulkSrc::kUtf8>(rec, plan);
    case BulkSrc::kUtf16:
      return runFrom<BulkSrc::kUtf16>(rec, plan);
  }
}

}  // namespace zk
