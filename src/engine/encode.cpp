// PLACEHOLDER: replaced by the real implementation of this module.
#include "engine/engine.h"

namespace zk {

int placeDirect(CconvRecord*, const RuleDef*) { return 0; }
int placeViaUcs(CconvRecord*, const RuleDef*) { return 0; }
int placeChar(CconvRecord*) { return 0; }
int writeChar(CconvRecord*, CodeTransform, ByteWriter) { return 0; }
int writeUnit(CconvRecord*, CodeTransform, ByteWriter, std::uint32_t, std::uint32_t) { return 0; }
int writeSeq(CconvRecord*, CodeTransform, ByteWriter, std::uint32_t, std::uint32_t) { return 0; }
int dsLookup(const PtrList*, std::uint32_t, std::uint32_t*, std::uint16_t*) { return 0; }
int jisPairOfCode(std::uint32_t, std::uint32_t*, std::uint32_t*) { return 0; }
int jisIsPair(std::uint32_t, std::uint32_t) { return 0; }
int constTable(CconvRecord* rec, CodeTransform) { rec->status = CCONV_ERROR; return 0; }

}  // namespace zk
