// PLACEHOLDER: replaced by the real implementation of this module.
#include "defs/defs.h"

namespace zk {

CharsetDef* charsetDefCreate(const char*, std::uint16_t, std::uint16_t) { return nullptr; }
void charsetDefDestroy(CharsetDef*) {}
CharsetDef* parseSubsetA(DefDoc*, std::uint32_t, std::uint32_t) { return nullptr; }
CharsetDef* parseSubsetB(DefDoc*, std::uint32_t, std::uint32_t) { return nullptr; }
CharsetDef* parseCodecSet(DefDoc*, std::uint32_t, std::uint32_t) { return nullptr; }
int parseDefined(const DefDoc*, std::uint32_t, std::uint32_t, CodeRanges*) { return 0; }

}  // namespace zk
