// PLACEHOLDER: replaced by the real implementation of this module.
#include "engine/engine.h"

namespace zk {

int decodeTable(CconvRecord* rec, CodeTransform) { rec->status = CCONV_ERROR; return 0; }

}  // namespace zk
