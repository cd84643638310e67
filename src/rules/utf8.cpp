// PLACEHOLDER: replaced by the real implementation of this module.
#include "rules/rules.h"

namespace zk {

int destUtf8(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int constUtf8(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int utf8ReadSequence(CconvRecord* rec, std::uint32_t*) { rec->status = CCONV_ERROR; return 0; }
int utf8WriteUnit(CconvRecord* rec, std::uint32_t) { rec->status = CCONV_ERROR; return 0; }

}  // namespace zk
