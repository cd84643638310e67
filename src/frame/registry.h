// The compiled-in vocabulary: charset names to ids, rule-function names to
// functions.
#ifndef ZRKVT16_REGISTRY_H
#define ZRKVT16_REGISTRY_H

#include <cstdint>

#include "zrkvt16.h"

using RuleFunction = int (*)(CconvRecord* rec);

struct RuleFunctionEntry {
  char name[264];
  RuleFunction fn;
};

namespace zk {

// Charset ids that carry meaning in code.
enum CharsetId : std::uint32_t {
  kIdShiftJis = 1001,
  kIdWindows31j = 1002,
  kIdUcs2 = 1003,
  kIdUcs4 = 1004,
  kIdUtf16 = 1005,
  kIdUtf8 = 1006,
  kIdEucJp = 1007,
  kIdEucJpFix = 1008,
  kIdIso2022Jp = 1009,
  kIdShiftJis2004 = 1010,
  kIdEucJis2004 = 1011,
  kIdIso2022Jp2004 = 1012,
  kIdIso646Irv = 2001,
  kIdJisX0201Latin = 2002,
  kIdJisX0201Kana = 2003,
  kIdJisC6226 = 2004,
  kIdJisX0208_1983 = 2005,
  kIdJisX0208 = 2006,
  kIdJisX0212 = 2007,
  kIdNecExt = 2008,
  kIdIbmExt = 2009,
  kIdJis7883 = 2010,
  kIdJisX0213 = 2011,
  kIdWindows31jUsr = 3001,
  kIdWindowsNtjUsr = 3002,
  kIdOasysExt = 3003,
  kIdOasys2Ext = 3004,
  kIdChineseGbk = 5000,
  kIdChineseBig5 = 5001,
  kIdKoreanKsc = 5002,
  kIdGb18030 = 5003,
};

constexpr int kCharsetNameCount = 31;
struct CharsetName {
  const char* name;
  std::uint32_t id;
};
extern const CharsetName kCharsetNames[kCharsetNameCount];

constexpr int kRuleFunctionCount = 30;
extern const RuleFunctionEntry kRuleFunctions[kRuleFunctionCount];

// Lower-cases `name` in place (ASCII A-Z only) and returns its charset id.
std::uint32_t registryCharsetId(char* name);
// Exact, case-sensitive look-up; null for null, empty or unknown names.
const RuleFunctionEntry* registryRuleFunction(const char* name);

}  // namespace zk

#endif
