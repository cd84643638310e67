// The conversion engine: the generic table-driven decoder, the placement and
// writing machinery shared by every encoder, and the identity and Shift_JIS
// family rules.
//
// Contract between the driver and the rule functions (all report through
// rec->status; their int result is ignored by the driver):
//   dest function, called with CCONV_NEXT or CCONV_NEED_INPUT after the driver
//   cleared rawCode, code, ucs, outCode, outUnit, outSeqLen and ucs2:
//     CCONV_OK          input used up (inPos >= inLen)
//     CCONV_CHAR        one character in inCharset/inCharsetType/rawCode/code
//                       (and ucs, ucs2 when known); inPos past it; inChars + 1
//     CCONV_NEED_INPUT  input ends inside a character; inPos at its first byte
//     CCONV_INVALID     no character at inPos; inPos as the rule says
//   const function, called with
//     CCONV_CHAR         place the character, then write it, or report
//                        CCONV_UNMAPPABLE writing nothing
//     CCONV_OUTPUT_FULL  write the character already placed in the record
//     CCONV_TERMINATE    write what closes the output; CCONV_OK, or
//                        CCONV_OUTPUT_FULL when that does not fit
//   after a write: CCONV_NEXT when all fitted; CCONV_OUTPUT_FULL with outPos
//   back where the character began when it did not. No partial character is
//   ever left in the output.
#ifndef ZRKVT16_ENGINE_H
#define ZRKVT16_ENGINE_H

#include <cstdint>

#include "defs/defs.h"
#include "engine/blocks.h"
#include "engine/memo.h"
#include "frame/registry.h"
#include "zrkvt16.h"

namespace zk {

// Code transform: bytes read (or a code) to a code (or bytes); 0 = not convertible.
using CodeTransform = std::uint32_t (*)(std::uint32_t value);
// Byte writer of an encoding: writes one value; 1 written, 0 not (status says why).
using ByteWriter = int (*)(CconvRecord* rec, std::uint32_t value);

// Decoding side.
int decodeTable(CconvRecord* rec, CodeTransform transform);

// Encoding side.
int placeDirect(CconvRecord* rec, const RuleDef* rule);
int placeViaUcs(CconvRecord* rec, const RuleDef* rule);
int placeChar(CconvRecord* rec);
int writeChar(CconvRecord* rec, CodeTransform transform, ByteWriter writer);
int writeUnit(CconvRecord* rec, CodeTransform transform, ByteWriter writer, std::uint32_t value,
              std::uint32_t width);
int writeSeq(CconvRecord* rec, CodeTransform transform, ByteWriter writer, std::uint32_t value,
             std::uint32_t width);
int dsLookup(const PtrList* tables, std::uint32_t key, std::uint32_t* value,
             std::uint16_t* seqLen);

// Whether dsLookup on the set's extra tables would find nothing for `key`
// without loading any of them.
inline bool dsSurelyMisses(const RuleDef* rule, std::uint32_t index, std::uint32_t key) {
  const PtrList* ds = rule->dsTables;
  if (!ds || index >= ds->count) return true;
  const PtrList* tables = static_cast<const PtrList*>(ds->items[index]);
  if (!tables) return true;
  for (std::uint32_t k = 0; k < tables->count; ++k) {
    const CodeTable* t = static_cast<const CodeTable*>(tables->items[k]);
    if (!t) continue;
    if (!ctableIsLoaded(t)) {
      if (t->sourceName[0] != '\0') return false;
      continue;
    }
    if (key >= t->minKey && key <= t->maxKey) return false;
  }
  return true;
}

int jisPairOfCode(std::uint32_t code, std::uint32_t* base, std::uint32_t* combining);
int jisIsPair(std::uint32_t base, std::uint32_t combining);
int constTable(CconvRecord* rec, CodeTransform transform);

// Shift_JIS code transforms.
// A Shift_JIS byte pair (lead << 8 | trail, or a single byte) to its JIS
// code; 0 for a pair outside the two-byte ranges.
[[gnu::always_inline]] inline std::uint32_t sjisPairToJis(std::uint32_t v) {
  const std::uint32_t lead = (v >> 8) & 0xFF;
  const std::uint32_t trail = v & 0xFF;
  if (lead == 0) return trail;
  if (!((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC))) return 0;
  if (trail < 0x40 || trail > 0xFC || trail == 0x7F) return 0;
  std::uint32_t row = 2 * (lead >= 0xE0 ? lead - 0x40 : lead) - 0xE1;
  std::uint32_t t = trail - 0x40 - (trail >= 0x80 ? 1 : 0);
  if (t >= 0x5E) {
    row += 1;
    t -= 0x5E;
  }
  return (row << 8) + t + 0x21;
}

// A JIS code (or single byte) to its Shift_JIS pair; 0 when it has none.
[[gnu::always_inline]] inline std::uint32_t jisToSjisPair(std::uint32_t v) {
  v &= 0xFFFF;
  if (v < 0x100) return v;
  if (v <= 0x2120 || v >= 0x987F) return 0;
  const std::uint32_t d = v - 0x2121;
  std::uint32_t trail = (d & 0xFF) + 0x40;
  if (d & 0x100) trail += 94;
  if (trail >= 0x7F) trail += 1;
  const std::uint32_t half = d >> 9;
  const std::uint32_t lead = half + 0x81 + (half >= 31 ? 0x40 : 0);
  return ((lead << 8) + trail) & 0xFFFF;
}

std::uint32_t sjisToJis(std::uint32_t v);
std::uint32_t sjis2004ToJis(std::uint32_t v);
std::uint32_t jisToSjis(std::uint32_t v);
std::uint32_t jisToSjis2004(std::uint32_t v);

// Rule functions of the identity and Shift_JIS family.
int destSame(CconvRecord* rec);
int constSame(CconvRecord* rec);  // also constOASYS_ONLINE
int sjisDecode(CconvRecord* rec);  // destShift_JIS and destShift_JIS-2004
int constShiftJis(CconvRecord* rec);
int constShiftJis2004(CconvRecord* rec);
int cp932Decode(CconvRecord* rec);
int constWindows31j(CconvRecord* rec);  // also constOASYS_WIN
int destOasysWin(CconvRecord* rec);
int oasysOnlineDecode(CconvRecord* rec);

// The bulk path (bulk.cpp): what one conversion call needs to know, found
// once per call by bulkPrepare.
struct BulkPlan {
  Memo* memo = nullptr;  // held until the plan goes
  bool active = false;
  bool afterMarks = false;  // not active only while a byte order mark is pending
  BulkSrc src = BulkSrc::kSjis;
  bool isoTarget = false;
  bool identity = false;  // Unicode to Unicode, every value as itself
  bool utf16Out = false;
  bool inBig = false;
  bool outBig = false;
  bool newline = false;
  bool asciiOn = false;  // runs of plain ASCII are copied (or widened, or narrowed)
  Utf8To16Kernel to16 = nullptr;  // Unicode to Unicode: block kernels, when the
  Utf16To8Kernel to8 = nullptr;   // processor has them
  Utf8MapKernel map = nullptr;    // UTF-8 to a target with a code-point table in the memo
  Utf16MapKernel map16 = nullptr; // the same from UTF-16
  std::uint32_t keepLineEnd = 0;  // the line end written as itself, if any, or kLfAsCrLf
  std::int32_t lfExtraUnits = 0;  // with kLfAsCrLf: the units an LF counts beyond one
  std::int32_t asciiWidth = 1;
  PlainAscii ascii;
  BulkPlan() = default;
  BulkPlan(const BulkPlan&) = delete;
  BulkPlan& operator=(const BulkPlan&) = delete;
  ~BulkPlan();
};

// Whether the record's conversion has a bulk path; fills the plan when so.
bool bulkPrepare(const CconvRecord* rec, BulkPlan* plan);
// Converts the run of characters at inPos that the bulk path can take, and
// leaves the record as the driver loop leaves it just before the last of
// them, which the general path then converts (nothing changes when fewer
// than two could be taken). Called by the driver with status CCONV_NEXT.
void bulkConvert(CconvRecord* rec, BulkPlan& plan);

}  // namespace zk

#endif
