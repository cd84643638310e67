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
int jisPairOfCode(std::uint32_t code, std::uint32_t* base, std::uint32_t* combining);
int jisIsPair(std::uint32_t base, std::uint32_t combining);
int constTable(CconvRecord* rec, CodeTransform transform);

// Shift_JIS code transforms.
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

}  // namespace zk

#endif
