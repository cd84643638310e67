// PLACEHOLDER: replaced by the real implementation of this module.
#include "engine/engine.h"

namespace zk {

std::uint32_t sjisToJis(std::uint32_t) { return 0; }
std::uint32_t sjis2004ToJis(std::uint32_t) { return 0; }
std::uint32_t jisToSjis(std::uint32_t) { return 0; }
std::uint32_t jisToSjis2004(std::uint32_t) { return 0; }
int destSame(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int constSame(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int sjisDecode(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int constShiftJis(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int constShiftJis2004(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int cp932Decode(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int constWindows31j(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int destOasysWin(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }
int oasysOnlineDecode(CconvRecord* rec) { rec->status = CCONV_ERROR; return 0; }

}  // namespace zk
