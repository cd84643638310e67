// The process-wide memos of the bulk path: finding or making the one for a
// record's conversion, and filling entries by converting one character at a
// time with the general path.
#include "engine/memo.h"

#include <cstdlib>
#include <cstring>

#include "defs/defs.h"
#include "engine/blocks.h"
#include "rules/unicode.h"

namespace zk {

MemoPage gEmptyMemoPage;
thread_local bool tProbeOnly = false;
thread_local bool tProbeNeedsLoad = false;

namespace {

// Few combinations are in use at once; a memo with no user is freed once the
// tables it was made from have changed.
constexpr int kSlots = 32;
// Entries of all memos together: 2 KiB a page, 3 MiB at most. A full budget
// only means that characters without an entry take the general path.
constexpr std::uint32_t kMaxPages = 1536;

std::atomic_flag gLock = ATOMIC_FLAG_INIT;
Memo* gSlots[kSlots];
std::atomic<std::uint32_t> gPages{0};

void lock() {
  while (gLock.test_and_set(std::memory_order_acquire)) {
  }
}
void unlock() { gLock.clear(std::memory_order_release); }

void makeKey(const CconvRecord* rec, MemoKey* k) {
  std::memset(k, 0, sizeof *k);
  k->srcRule = rec->srcRule;
  k->dstRule = rec->dstRule;
  k->destEntry = rec->destEntry;
  k->constEntry = rec->constEntry;
  k->srcId = rec->srcId;
  k->dstId = rec->dstId;
  k->inBig = rec->srcOptions.inBigEndian != 0;
  k->outBig = rec->dstOptions.outBigEndian != 0;
  k->ncrMode = rec->dstOptions.ncrMode == 0 ? 0 : rec->dstOptions.ncrMode == 1 ? 1 : 2;
  if (rec->dstOptions.newlineConvert) {
    k->newline = 1;
    k->newlineKind = rec->dstOptions.newlineKind;
  }
  if (rec->dstOptions.substitute) {
    k->substitute = 1;
    const CconvSubstitute* subs[2] = {&rec->subNarrow, &rec->subWide};
    std::uint32_t* dst[2] = {k->subNarrow, k->subWide};
    for (int i = 0; i < 2; ++i) {
      dst[i][0] = subs[i]->charset;
      dst[i][1] = subs[i]->type;
      dst[i][2] = subs[i]->code;
      dst[i][3] = subs[i]->unit;
    }
  }
}

void freeMemo(Memo* m) {
  if (!m) return;
  std::uint32_t pages = 0;
  for (std::uint32_t i = 0; i < m->pageCount; ++i) {
    MemoPage* page = m->pages[i].load(std::memory_order_relaxed);
    if (page != &gEmptyMemoPage) {
      std::free(page);
      ++pages;
    }
  }
  gPages.fetch_sub(pages, std::memory_order_relaxed);
  std::free(m->dense);
  std::free(m->ucs);
  std::free(m->pages);
  std::free(m);
}

MemoPage* pageFor(Memo* m, std::uint32_t key) {
  std::atomic<MemoPage*>& slot = m->pages[key >> 8];
  MemoPage* page = slot.load(std::memory_order_acquire);
  if (page != &gEmptyMemoPage) return page;
  if (gPages.fetch_add(1, std::memory_order_relaxed) >= kMaxPages) {
    gPages.fetch_sub(1, std::memory_order_relaxed);
    return nullptr;
  }
  auto* fresh = static_cast<MemoPage*>(std::calloc(1, sizeof(MemoPage)));
  if (!fresh) {
    gPages.fetch_sub(1, std::memory_order_relaxed);
    return nullptr;
  }
  if (slot.compare_exchange_strong(page, fresh, std::memory_order_acq_rel)) return fresh;
  std::free(fresh);  // another thread made it first
  gPages.fetch_sub(1, std::memory_order_relaxed);
  return page;
}

// The class of the designation an ISO-2022-JP target is left in, with the
// escape sequence written for it; 0 when there is no room for another.
std::uint32_t outClass(Memo* m, std::uint32_t designation, std::uint32_t plane,
                       const unsigned char* esc, std::uint32_t escLen) {
  while (m->classLock.test_and_set(std::memory_order_acquire)) {
  }
  std::uint32_t count = m->classCount.load(std::memory_order_relaxed);
  std::uint32_t found = 0;
  for (std::uint32_t i = 0; i < count && !found; ++i) {
    const MemoOutClass& c = m->classes[i];
    if (c.designation == designation && (designation != kIdJisX0213 || c.plane == plane) &&
        c.escLen == escLen && std::memcmp(c.esc, esc, escLen) == 0)
      found = i + 1;
  }
  if (!found && count < kMemoMaxClasses) {
    MemoOutClass& c = m->classes[count];
    c.designation = designation;
    c.plane = plane;
    std::memcpy(c.esc, esc, escLen);
    c.escLen = static_cast<std::uint8_t>(escLen);
    m->classCount.store(count + 1, std::memory_order_release);
    found = count + 1;
  }
  m->classLock.clear(std::memory_order_release);
  return found;
}

// Converts one character alone with the general path and describes what it
// wrote. Returns the entry (kStop when the bulk path must leave the
// character alone), or 0 when nothing can be said now.
std::uint64_t convertAlone(Memo* m, const unsigned char* bytes, std::int32_t n,
                           std::uint32_t inDesignation, std::uint32_t inPlane) {
  CconvRecord r = m->tmpl;
  unsigned char out[32];
  r.inBuf = bytes;
  r.inPos = 0;
  r.inLen = n;
  r.outBuf = out;
  r.outPos = 0;
  r.outSize = sizeof out;
  r.inDesignation = inDesignation;
  r.inPlane = inPlane;
  const std::uint32_t st = driverRun(&r, false);
  if (st != CCONV_OK || r.inPos != n || r.inChars != 1 || r.inDesignation != inDesignation ||
      r.inPlane != inPlane || r.outChars < 0 || r.outChars > 15)
    return memo::kStop;
  const unsigned char* body = out;
  std::int32_t len = r.outPos;
  std::uint64_t cls = 0;
  if (m->isoTarget) {
    // Written from no designation at all, the character comes after the
    // escape sequence of the designation it needs.
    if (len < 4 || out[0] != 0x1B) return memo::kStop;
    const std::uint32_t escLen = out[1] == 0x24 && out[2] == 0x28 ? 4 : 3;
    cls = outClass(m, r.outDesignation, r.outPlane, out, escLen);
    if (cls == 0) return memo::kStop;
    body += escLen;
    len -= static_cast<std::int32_t>(escLen);
  }
  if (len < 1 || len > 4) return memo::kStop;
  std::uint32_t packed = 0;
  for (std::int32_t i = 0; i < len; ++i) packed |= std::uint32_t{body[i]} << (8 * i);
  std::uint64_t e = memo::kReady | packed | (static_cast<std::uint64_t>(len) << memo::kLenShift) |
                    (static_cast<std::uint64_t>(r.outChars) << memo::kUnitShift) |
                    (cls << memo::kClassShift);
  if (m->key.newline) {
    if (r.rawCode == 0x0D) e |= memo::kRawCr;
    if (r.rawCode == 0x0A) e |= memo::kRawLf;
  }
  if ((m->src == BulkSrc::kUtf8 || m->src == BulkSrc::kUtf16) && ucsMayBePairBase(r.rawCode))
    e |= memo::kPairBase;
  if (!(e & (memo::kRawCr | memo::kRawLf)) && r.outChars == 1) e |= memo::kFast;
  return e;
}

std::uint64_t fill(Memo* m, std::uint32_t key, const unsigned char* bytes, std::int32_t n,
                   std::uint32_t inDesignation, std::uint32_t inPlane, bool probe) {
  if ((key >> 8) >= m->pageCount) return 0;
  if (gTableEpoch.load(std::memory_order_acquire) != m->epoch) return 0;
  tProbeOnly = probe;
  tProbeNeedsLoad = false;
  const std::uint64_t e = convertAlone(m, bytes, n, inDesignation, inPlane);
  tProbeOnly = false;
  if (probe && tProbeNeedsLoad) return 0;
  // A table loaded meanwhile may have changed the answer.
  if (gTableEpoch.load(std::memory_order_acquire) != m->epoch) return 0;
  MemoPage* page = pageFor(m, key);
  if (!page) return 0;
  page->e[key & 0xFF].store(e, std::memory_order_release);
  // LF with line ends converted goes into the code-point table too: the
  // bulk loop counts the units it adds.
  const bool lf = key == 0x0A && (e & memo::kRawLf) && (e & memo::kReady);
  if ((m->dense || m->ucs) && key < 0x10000 && (e & memo::kFast || lf)) {
    const std::uint32_t bytes = memo::bytesOf(e);
    const std::int32_t len = memo::lenOf(e);
    // Possible pair bases too: the loop looks at what follows every character it takes.
    if (m->dense && !lf && key >= 0x800 && ((len == 1 && bytes != 0) || (len == 2 && (bytes >> 8) != 0)))
      m->dense[denseIndex(key >> 12, 0x80 | ((key >> 6) & 0x3F), 0x80 | (key & 0x3F))].store(
          static_cast<std::uint16_t>(bytes), std::memory_order_relaxed);
    // Not the combining marks of pairs: the kernel stops at them.
    if (m->ucs && !ucsIsPairMark(key) && ((len == 1 && bytes != 0) || (len == 2 && (bytes & 0xFF) != 0 && (bytes >> 8) != 0)))
      m->ucs[key].store(static_cast<std::uint16_t>(bytes), std::memory_order_relaxed);
  }
  return e;
}

// ASCII that comes out as itself, from entries made without loading
// anything. For ISO-2022-JP sources this is ASCII under ESC ( B; for
// ISO-2022-JP targets, ASCII that needs the same designation throughout.
void findPlainAscii(Memo* m) {
  m->asciiPlain = false;
  if (m->src == BulkSrc::kIso2022 && m->inMode[0] != 1) return;
  const bool inBig = m->key.inBig != 0;
  const bool outBig = m->key.outBig != 0;
  bool plain[128];
  std::uint32_t width = 0, cls = 0;
  for (std::uint32_t b = 0; b < 0x80; ++b) {
    unsigned char bytes[2];
    std::int32_t n = 1;
    if (m->src == BulkSrc::kUtf16) {
      bytes[0] = static_cast<unsigned char>(inBig ? 0 : b);
      bytes[1] = static_cast<unsigned char>(inBig ? b : 0);
      n = 2;
    } else {
      bytes[0] = static_cast<unsigned char>(b);
    }
    const std::uint64_t e = fill(m, b, bytes, n, kIdIso646Irv, 11, true);
    plain[b] = false;
    if ((e & (memo::kFast | memo::kPairBase)) != memo::kFast) continue;
    const std::uint32_t w = static_cast<std::uint32_t>(memo::lenOf(e));
    const std::uint32_t want = w == 1 ? b : outBig ? b << 8 : b;
    if ((w != 1 && w != 2) || memo::bytesOf(e) != want) continue;
    if (width == 0) {
      width = w;
      cls = memo::classOf(e);
    }
    plain[b] = w == width && memo::classOf(e) == cls;
  }
  if (width == 0 || (m->src == BulkSrc::kUtf16 && width != 1)) return;
  if ((m->src == BulkSrc::kIso2022 || m->isoTarget) && width != 1) return;
  // Plain bytes must be lo..0x7F but for at most three.
  for (std::uint32_t lo = 0; lo < 0x21; ++lo) {
    std::uint8_t ex[3];
    std::uint32_t exCount = 0;
    for (std::uint32_t b = lo; b < 0x80 && exCount <= 3; ++b)
      if (!plain[b]) {
        if (exCount < 3) ex[exCount] = static_cast<std::uint8_t>(b);
        ++exCount;
      }
    if (exCount > 3) continue;
    m->ascii.lo = static_cast<std::uint8_t>(lo);
    // Unused exception slots repeat another exception, or a byte that is
    // never plain anyway.
    const std::uint8_t filler = exCount > 0 ? ex[0] : static_cast<std::uint8_t>(lo == 0 ? 0x80 : 0);
    for (std::uint32_t i = 0; i < 3; ++i) m->ascii.ex[i] = i < exCount ? ex[i] : filler;
    m->asciiWidth = static_cast<std::uint8_t>(width);
    m->asciiClass = cls;
    m->asciiPlain = true;
    return;
  }
}

Memo* createMemo(const CconvRecord* rec, const MemoKey& key, std::uint32_t epoch, BulkSrc src,
                 bool isoTarget, bool dense, bool codePoints, std::int32_t reserve) {
  auto* m = static_cast<Memo*>(std::calloc(1, sizeof(Memo)));
  if (!m) return nullptr;
  m->key = key;
  m->epoch = epoch;
  m->src = src;
  m->isoTarget = isoTarget;
  m->reserve = reserve;
  // Keys: bytes and pairs of the legacy sources, 0x10000 | SS3 pairs of
  // EUC, class << 16 | code of ISO-2022-JP, and code points up to U+2FFFF.
  m->pageCount = src == BulkSrc::kSjis      ? 0x100
                 : src == BulkSrc::kEuc     ? 0x200
                 : src == BulkSrc::kIso2022 ? 0x600
                                            : 0x300;
  m->pages = static_cast<std::atomic<MemoPage*>*>(
      std::calloc(m->pageCount, sizeof(std::atomic<MemoPage*>)));
  if (!m->pages) {
    std::free(m);
    return nullptr;
  }
  for (std::uint32_t i = 0; i < m->pageCount; ++i)
    m->pages[i].store(&gEmptyMemoPage, std::memory_order_relaxed);
  if (dense) {
    // Untouched pages of it cost no memory.
    m->dense = static_cast<std::atomic<std::uint16_t>*>(
        std::calloc(kDenseSlots, sizeof(std::atomic<std::uint16_t>)));
    if (!m->dense) {
      freeMemo(m);
      return nullptr;
    }
  }
  if (codePoints && (src == BulkSrc::kUtf8 ? dense && utf8MapVector() : src == BulkSrc::kUtf16 && utf16MapVector())) {
    m->ucs = static_cast<std::atomic<std::uint16_t>*>(std::calloc(0x10001, sizeof(std::atomic<std::uint16_t>)));
    if (!m->ucs) {
      freeMemo(m);
      return nullptr;
    }
  }
  m->classLock.clear();
  m->tmpl = *rec;
  CconvRecord& t = m->tmpl;
  t.inBuf = nullptr;
  t.outBuf = nullptr;
  t.inPos = t.inLen = t.inChars = 0;
  t.outPos = t.outSize = t.outChars = 0;
  t.status = CCONV_NEXT;
  t.inCharset = t.outCharset = 0;
  t.inCharsetType = t.outCharsetType = 0;
  t.inDesignation = kIdIso646Irv;
  t.inPlane = 11;
  t.outDesignation = t.outPlane = 0;
  t.rawCode = t.code = t.ucs = t.outCode = t.prevRawCode = t.ucs2 = 0;
  t.outUnit = t.outSeqLen = 0;
  std::memset(t.lang, 0, sizeof t.lang);
  std::memset(t.langWritten, 0, sizeof t.langWritten);
  std::memset(t.langCurrent, 0, sizeof t.langCurrent);
  t.srcOptions.skipInvalid = 0;
  t.srcOptions.inDetectBom = 0;
  t.dstOptions.outWriteBom = 0;
  if (src == BulkSrc::kIso2022) {
    const RuleDef* rule = reinterpret_cast<const RuleDef*>(rec->srcRule);
    const PtrList* sets = rule ? rule->charsets : nullptr;
    for (int c = 0; c < 6; ++c) {
      for (std::uint32_t i = 0; sets && i < sets->count; ++i) {
        const CharsetDef* s = static_cast<const CharsetDef*>(sets->items[i]);
        if (s && s->id == kIsoClassDesignation[c] &&
            (s->bytenum == 1 || s->bytenum == 2 || s->bytenum == 4)) {
          m->inMode[c] = s->bytenum == 1 ? 1 : 2;
          break;
        }
      }
    }
  }
  findPlainAscii(m);
  // The map kernel stops at every character its table lacks. A target that
  // writes ASCII in more than one byte (EUC-JP-FIX writes a zero first)
  // would stop it at every ASCII character, so such a memo keeps none.
  if (m->ucs && !(m->asciiPlain && m->asciiWidth == 1)) {
    std::free(m->ucs);
    m->ucs = nullptr;
  }
  return m;
}

}  // namespace

Memo* memoAcquire(const CconvRecord* rec, BulkSrc src, bool isoTarget, bool dense,
                  bool codePoints, std::int32_t reserve) {
  MemoKey key;
  makeKey(rec, &key);
  const std::uint32_t epoch = gTableEpoch.load(std::memory_order_acquire);
  lock();
  for (Memo*& m : gSlots) {
    if (!m) continue;
    if (m->epoch == epoch && std::memcmp(&m->key, &key, sizeof key) == 0) {
      m->users.fetch_add(1, std::memory_order_relaxed);
      unlock();
      return m;
    }
    if (m->epoch != epoch && m->users.load(std::memory_order_acquire) == 0) {
      freeMemo(m);
      m = nullptr;
    }
  }
  unlock();
  Memo* fresh = createMemo(rec, key, epoch, src, isoTarget, dense, codePoints, reserve);
  if (!fresh) return nullptr;
  lock();
  Memo** free = nullptr;
  for (Memo*& m : gSlots) {
    if (!m) {
      if (!free) free = &m;
      continue;
    }
    if (m->epoch == epoch && std::memcmp(&m->key, &key, sizeof key) == 0) {
      m->users.fetch_add(1, std::memory_order_relaxed);
      unlock();
      freeMemo(fresh);
      return m;
    }
  }
  if (!free) {
    unlock();
    freeMemo(fresh);
    return nullptr;
  }
  fresh->users.store(1, std::memory_order_relaxed);
  *free = fresh;
  unlock();
  return fresh;
}

void memoRelease(Memo* m) {
  if (m) m->users.fetch_sub(1, std::memory_order_acq_rel);
}

void memoFreeAll() {
  lock();
  for (Memo*& m : gSlots) {
    freeMemo(m);
    m = nullptr;
  }
  unlock();
}

std::uint64_t memoFill(Memo* m, std::uint32_t key, const unsigned char* bytes, std::int32_t n,
                       std::uint32_t inDesignation, std::uint32_t inPlane) {
  return fill(m, key, bytes, n, inDesignation, inPlane, false);
}

std::uint64_t memoProbe(Memo* m, std::uint32_t key, const unsigned char* bytes, std::int32_t n) {
  return fill(m, key, bytes, n, kIdIso646Irv, 11, true);
}

}  // namespace zk
