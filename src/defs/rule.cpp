// PLACEHOLDER: replaced by the real implementation of this module.
#include "defs/defs.h"
#include "zrkvt16.h"

namespace zk {

RuleDef* ruleDefCreate(const char*, const char*, const char*) { return nullptr; }
void ruleDefDestroy(RuleDef*) {}
CodeTable* parseDsTable(DefDoc*, std::uint32_t, std::uint32_t) { return nullptr; }
int loadDefinitionFile(const char*) { return 0; }
}  // namespace zk
extern "C" ZRKVT16_API int cconvLoadRule(void) { return 0; }
namespace zk {

}  // namespace zk
