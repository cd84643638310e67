// PLACEHOLDER: replaced by the real implementation of this module.
#include "tables/codetable.h"

namespace zk {

void ctableLoad(CodeTable*) {}

}  // namespace zk
