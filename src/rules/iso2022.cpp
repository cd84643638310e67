// PLACEHOLDER: replaced by the real implementation of this module.
#include "rules/rules.h"

namespace zk {

int iso2022jpDecode(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int iso2022jpEncode(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }

}  // namespace zk
