#include "frame/registry.h"

#include <cstring>

#include "engine/engine.h"
#include "rules/rules.h"

namespace zk {

const CharsetName kCharsetNames[kCharsetNameCount] = {
    {"shift_jis", 1001},       {"windows31j", 1002},      {"iso-10646-ucs-2", 1003},
    {"iso-10646-ucs-4", 1004}, {"utf-16", 1005},          {"utf-8", 1006},
    {"euc-jp", 1007},          {"euc-jp-fix", 1008},      {"iso-2022-jp", 1009},
    {"shift_jis-2004", 1010},  {"euc-jis-2004", 1011},    {"iso-2022-jp-2004", 1012},
    {"iso-646irv", 2001},      {"jis_x0201latin", 2002},  {"jis_x0201kana", 2003},
    {"jis_c6226-1978", 2004},  {"jis_x0208-1983", 2005},  {"jis_x0208-1990", 2006},
    {"jis_x0212-1990", 2007},  {"nec_extset", 2008},      {"ibm_extset", 2009},
    {"jis-78-83", 2010},       {"jis_x0213", 2011},       {"windows31j-usr", 3001},
    {"windowsntj-usr", 3002},  {"oasys_extset", 3003},    {"oasys2_extset", 3004},
    {"chinesegbk", 5000},      {"chinesebig5", 5001},     {"koreanksc", 5002},
    {"gb18030", 5003},
};

const RuleFunctionEntry kRuleFunctions[kRuleFunctionCount] = {
    {"destSAME", destSame},
    {"constSAME", constSame},
    {"destShift_JIS", sjisDecode},
    {"constShift_JIS", constShiftJis},
    {"destShift_JIS-2004", sjisDecode},
    {"constShift_JIS-2004", constShiftJis2004},
    {"destWINDOWS31J", cp932Decode},
    {"constWINDOWS31J", constWindows31j},
    {"destISO-10646-UCS-2", destUcs2},
    {"constISO-10646-UCS-2", constUcs2},
    {"destISO-10646-UCS-4", destUcs4},
    {"constISO-10646-UCS-4", constUcs4},
    {"destUTF-16", destUtf16},
    {"constUTF-16", constUtf16},
    {"destUTF-8", destUtf8},
    {"constUTF-8", constUtf8},
    {"destEUC-JP", destEucJp},
    {"constEUC-JP", eucjpEncode},
    {"destEUC-JP-FIX", eucjpfixDecode},
    {"constEUC-JP-FIX", eucjpfixEncode},
    {"destEUC-JIS-2004", destEucJis2004},
    {"constEUC-JIS-2004", eucjpEncode},
    {"destISO-2022-JP", iso2022jpDecode},
    {"constISO-2022-JP", iso2022jpEncode},
    {"destISO-2022-JP-2004", iso2022jpDecode},
    {"constISO-2022-JP-2004", iso2022jpEncode},
    {"destOASYS_WIN", destOasysWin},
    {"constOASYS_WIN", constWindows31j},
    {"destOASYS_ONLINE", oasysOnlineDecode},
    {"constOASYS_ONLINE", constSame},
};

std::uint32_t registryCharsetId(char* name) {
  for (char* p = name; *p; ++p)
    if (*p >= 'A' && *p <= 'Z') *p = static_cast<char>(*p + 0x20);
  for (const CharsetName& row : kCharsetNames)
    if (row.name[0] == name[0] && std::strcmp(name, row.name) == 0) return row.id;
  std::uint32_t sum = 4000;
  std::uint32_t pos = 1;
  for (const unsigned char* p = reinterpret_cast<const unsigned char*>(name); *p; ++p, ++pos)
    sum += static_cast<std::uint32_t>(*p) * pos;
  return sum;
}

const RuleFunctionEntry* registryRuleFunction(const char* name) {
  if (!name || !name[0]) return nullptr;
  for (const RuleFunctionEntry& e : kRuleFunctions)
    if (std::strcmp(name, e.name) == 0) return &e;
  return nullptr;
}

}  // namespace zk
