// PLACEHOLDER: replaced by the real implementation of this module.
#include "rules/rules.h"

namespace zk {

int eucjpDecode(CconvRecord* rec, std::uint32_t) { rec->status = CCONV_ERROR; return 0; }
int destEucJp(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int destEucJis2004(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int eucjpfixDecode(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int eucjpEncode(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int eucjpfixEncode(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int eucjpWriteUnit(CconvRecord* rec, std::uint32_t) { rec->status = CCONV_ERROR; return 0; }
int eucjpfixWriteUnit(CconvRecord* rec, std::uint32_t) { rec->status = CCONV_ERROR; return 0; }

}  // namespace zk
