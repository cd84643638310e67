// PLACEHOLDER: replaced by the real implementation of this module.
#include "rules/rules.h"

namespace zk {

int destUcs2(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int constUcs2(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int destUcs4(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int constUcs4(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int destUtf16(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int constUtf16(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int ucsClassify(CconvRecord* rec, std::int32_t) { rec->status = CCONV_ERROR; return 0; }
int ucsWriteLangTag(CconvRecord*, ByteWriter) { return 0; }
void ucsReadUnit(CconvRecord*, std::uint32_t* v, int) { *v = 0; }
int ucs2WriteUnit(CconvRecord*, std::uint32_t) { return 0; }
int ucs4WriteUnit(CconvRecord*, std::uint32_t) { return 0; }
int utf16WriteUnit(CconvRecord*, std::uint32_t) { return 0; }
int utf16WriteChar(CconvRecord*, std::uint32_t) { return 0; }
int ucs2InWindows31j(const CconvRecord*) { return 0; }
int ucs2WriteNcr(CconvRecord*, std::uint32_t) { return 0; }

}  // namespace zk
