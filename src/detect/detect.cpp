// PLACEHOLDER: replaced by the real implementation of this module.
#include "detect/detect.h"

namespace zk {

}  // namespace zk
extern "C" ZRKVT16_API int cconvChkEncode(CconvChkRecord*) { return 0; }
namespace zk {

}  // namespace zk
