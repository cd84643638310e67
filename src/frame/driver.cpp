// PLACEHOLDER: replaced by the real implementation of this module.
#include "zrkvt16.h"

namespace zk {

}  // namespace zk
extern "C" ZRKVT16_API uint32_t cconvInitConvert(CconvRecord*, const CconvDstOptions*, const char*) { return CCONV_ERROR; }
extern "C" ZRKVT16_API uint32_t cconvTermConvert(CconvRecord*) { return CCONV_ERROR; }
extern "C" ZRKVT16_API uint32_t cconvChgCharset(CconvRecord*, const CconvSrcOptions*, const char*) { return CCONV_ERROR; }
extern "C" ZRKVT16_API uint32_t cconvConvert(CconvRecord*) { return CCONV_ERROR; }
namespace zk {

}  // namespace zk
