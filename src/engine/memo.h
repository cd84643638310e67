// What the bulk path knows about a conversion: for each input character it
// has met, the bytes that the general path writes for it, found by letting
// the general path itself convert that character alone. Such a memo is kept
// per process for each combination of source, target and the options that
// change how a character comes out, and is shared by every record that
// converts with that combination.
//
// A memo entry is exact because converting an ordinary character depends on
// nothing but its bytes, those settings and the code tables; the bulk path
// stops before everything that depends on more (shift states it does not
// track, what follows a possible JIS X 0213 base, the LF of a CR LF). Code
// tables change only by being loaded, which advances gTableEpoch; a memo
// made before that is retired and a new one made on the next call.
#ifndef ZRKVT16_MEMO_H
#define ZRKVT16_MEMO_H

#include <atomic>
#include <cstdint>

#include "engine/simd.h"
#include "tables/codetable.h"
#include "zrkvt16.h"

namespace zk {

// How the bulk path reads the source: the byte structure of its characters.
enum class BulkSrc : std::uint8_t { kSjis, kEuc, kIso2022, kUtf8, kUtf16 };

// An entry: the output bytes (first byte lowest), their count, the units
// counted in outChars, and flags. 0 = not known yet.
namespace memo {
constexpr std::uint64_t kUnitShift = 32;
constexpr std::uint64_t kReady = std::uint64_t{1} << 40;    // the bulk path may take it
constexpr std::uint64_t kStop = std::uint64_t{1} << 41;     // known: leave it to the general path
constexpr std::uint64_t kRawCr = std::uint64_t{1} << 42;    // rawCode 0x0D (line ends converted)
constexpr std::uint64_t kRawLf = std::uint64_t{1} << 43;    // rawCode 0x0A (line ends converted)
constexpr std::uint64_t kPairBase = std::uint64_t{1} << 44; // may start a JIS X 0213 pair
constexpr std::uint64_t kAttention = kRawCr | kRawLf | kPairBase;
// Ready, no line end and counting one unit: what the fast loop takes (after
// looking at what follows a possible pair base).
constexpr std::uint64_t kFast = std::uint64_t{1} << 45;
constexpr int kClassShift = 48;  // ISO-2022-JP targets: designation class, from 1
constexpr int kLenShift = 60;

inline std::uint32_t bytesOf(std::uint64_t e) { return static_cast<std::uint32_t>(e); }
inline std::int32_t lenOf(std::uint64_t e) { return static_cast<std::int32_t>(e >> kLenShift); }
inline std::int32_t unitsOf(std::uint64_t e) { return static_cast<std::int32_t>((e >> kUnitShift) & 0xF); }
inline std::uint32_t classOf(std::uint64_t e) { return static_cast<std::uint32_t>((e >> kClassShift) & 0xFF); }
}  // namespace memo

struct MemoPage {
  std::atomic<std::uint64_t> e[256];
};

// A designation an ISO-2022-JP target switches to, and the escape sequence
// that the encoder writes for it.
struct MemoOutClass {
  std::uint32_t designation;
  std::uint32_t plane;
  std::uint8_t esc[4];
  std::uint8_t escLen;
};
constexpr std::uint32_t kMemoMaxClasses = 8;

// Everything in a record that changes the bytes of one ordinary character.
struct MemoKey {
  const void* srcRule;
  const void* dstRule;
  const void* destEntry;
  const void* constEntry;
  std::uint32_t srcId, dstId;
  std::uint32_t inBig, outBig, substitute, newline, newlineKind, ncrMode;
  std::uint32_t subNarrow[4], subWide[4];
};

struct Memo {
  MemoKey key;
  std::uint32_t epoch;
  std::atomic<std::int32_t> users;
  BulkSrc src;
  bool isoTarget;
  std::int32_t reserve;  // bytes the target's writer never fills at the end of the buffer
  // ISO-2022-JP sources: 0 no character, 1 single byte, 2 double byte, by input class.
  std::uint8_t inMode[6];
  // ASCII written as itself: plain bytes (byte sources) or units.
  bool asciiPlain;
  std::uint8_t asciiWidth;  // 1: as one byte, 2: as a UTF-16 unit in the record's order
  std::uint32_t asciiClass;  // ISO-2022-JP targets: the designation class it is written in
  PlainAscii ascii;
  std::uint32_t pageCount;
  std::atomic<MemoPage*>* pages;
  // UTF-8 to targets whose bytes come from the memo, but ISO-2022-JP (null
  // otherwise): for each three-byte character (U+0800 to U+FFFF, well
  // formed) whose entry the fast loop takes as it is (one unit, no line end)
  // and whose bytes are one nonzero byte or two bytes with a nonzero second,
  // those bytes, first lowest; 0 = ask the memo. Possible JIS X 0213 pair
  // bases are there too: the loop takes none before a combining mark.
  // Indexed by the character's UTF-8 bytes themselves (denseIndex), so the
  // loop needs no decoding; two bytes an entry keep the kanji a text uses in
  // few cache lines.
  std::atomic<std::uint16_t>* dense;
  // Beside it (or alone, from UTF-16), when the processor has the kernel
  // that reads it (utf8MapVector, utf16MapVector), the same by code point
  // for every character below U+10000, ASCII included, whose bytes are one
  // or two nonzero ones.
  std::atomic<std::uint16_t>* ucs;
  std::atomic<std::uint32_t> classCount;
  MemoOutClass classes[kMemoMaxClasses];
  std::atomic_flag classLock;
  CconvRecord tmpl;  // the record a character is converted with, alone
};

// The memo for the record's conversion, counted as used until memoRelease;
// null when there is none (not a combination the bulk path reads, or memory
// ran out). `dense`: whether it keeps a dense table, which only UTF-8 to a
// target whose bytes come from the memo (not ISO-2022-JP) reads;
// `codePoints`: whether it keeps a code-point table (beside the dense one
// from UTF-8, alone from UTF-16), when the processor has the kernel that
// reads it.
Memo* memoAcquire(const CconvRecord* rec, BulkSrc src, bool isoTarget, bool dense,
                  bool codePoints, std::int32_t reserve);
void memoRelease(Memo* m);
// Frees every memo; the library calls it when it is unloaded.
void memoFreeAll();

// The dense table's slot for the three UTF-8 bytes of a character: the
// lead byte's low four bits, then the two following bytes.
constexpr std::uint32_t kDenseSlots = 0x100000;
inline std::uint32_t denseIndex(std::uint32_t lead, std::uint32_t b1, std::uint32_t b2) {
  return ((lead & 0x0Fu) << 16) | (b1 << 8) | b2;
}

// Pages not made yet are this one, all 0, so a look-up needs no test.
extern MemoPage gEmptyMemoPage;

inline std::uint64_t memoGet(const Memo* m, std::uint32_t key) {
  const MemoPage* page = m->pages[key >> 8].load(std::memory_order_acquire);
  return page->e[key & 0xFF].load(std::memory_order_acquire);
}

// Converts the character `bytes` (n bytes; for ISO-2022-JP sources under
// the designation inDesignation/inPlane) alone, stores and returns its entry.
// 0 when no entry can be made now (the memo is out of date, or its memory
// is used up): the caller stops.
std::uint64_t memoFill(Memo* m, std::uint32_t key, const unsigned char* bytes, std::int32_t n,
                       std::uint32_t inDesignation, std::uint32_t inPlane);

// memoFill for a character the conversion may never reach: nothing is
// loaded for it, and the entry is 0 when something would have to be.
std::uint64_t memoProbe(Memo* m, std::uint32_t key, const unsigned char* bytes, std::int32_t n);

// The input class of an ISO-2022-JP designation (2001, 2002, 2004, 2006,
// JIS X 0213 plane 1, plane 2), or -1 for a state the bulk path leaves alone.
inline int memoIsoClass(std::uint32_t designation, std::uint32_t plane) {
  switch (designation) {
    case 2001: return plane == 11 ? 0 : -1;
    case 2002: return plane == 11 ? 1 : -1;
    case 2004: return plane == 11 ? 2 : -1;
    case 2006: return plane == 11 ? 3 : -1;
    case 2011: return plane == 11 ? 4 : plane == 12 ? 5 : -1;
    default: return -1;
  }
}
constexpr std::uint32_t kIsoClassDesignation[6] = {2001, 2002, 2004, 2006, 2011, 2011};
constexpr std::uint32_t kIsoClassPlane[6] = {11, 11, 11, 11, 11, 12};

// The general path, without the bulk path: what memoFill runs.
std::uint32_t driverRun(CconvRecord* rec, bool bulk);

// Set while memoFill looks at characters the conversion has not reached:
// then no code table is loaded, and tProbeNeedsLoad tells that one would be.
extern thread_local bool tProbeOnly;
extern thread_local bool tProbeNeedsLoad;

}  // namespace zk

#endif
