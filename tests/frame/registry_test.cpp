// The charset-name table, its hash, and the rule-function table.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "frame/registry.h"

namespace {

std::uint32_t idOf(std::string s) { return zk::registryCharsetId(s.data()); }

TEST(CharsetIds, TableNamesMatchInAnyCaseAndAreLowerCasedInPlace) {
  char name[] = "SHIFT_JIS";
  EXPECT_EQ(zk::registryCharsetId(name), 1001u);
  EXPECT_STREQ(name, "shift_jis");
  EXPECT_EQ(idOf("Shift_JIS"), 1001u);
  EXPECT_EQ(idOf("jis_x0213"), 2011u);
  EXPECT_EQ(idOf("GB18030"), 5003u);
  for (const auto& row : zk::kCharsetNames) EXPECT_EQ(idOf(row.name), row.id) << row.name;
}

TEST(CharsetIds, OtherNamesHashToWeightedByteSum) {
  EXPECT_EQ(idOf("abc"), 4590u);
  EXPECT_EQ(idOf(""), 4000u);
  EXPECT_GE(idOf("Shift_JIS "), 4000u);
  EXPECT_NE(idOf("Shift_JIS "), 1001u);
  // Bytes of 0x80 and above count unsigned and are not case-folded.
  EXPECT_EQ(idOf("\xC4"), 4000u + 0xC4);
  // A weighted sum of 1000 lands on the id of "chinesegbk": no guard.
  EXPECT_EQ(idOf("d\x96\xC8"), 5000u);
}

TEST(RuleFunctions, LookupIsExactAndCaseSensitive) {
  EXPECT_EQ(zk::registryRuleFunction(nullptr), nullptr);
  EXPECT_EQ(zk::registryRuleFunction(""), nullptr);
  EXPECT_EQ(zk::registryRuleFunction("destshift_jis"), nullptr);
  const RuleFunctionEntry* e = zk::registryRuleFunction("destShift_JIS");
  ASSERT_NE(e, nullptr);
  EXPECT_STREQ(e->name, "destShift_JIS");
}

TEST(RuleFunctions, SharedFunctionsHaveEntriesOfTheirOwn) {
  const RuleFunctionEntry* a = zk::registryRuleFunction("constEUC-JIS-2004");
  const RuleFunctionEntry* b = zk::registryRuleFunction("constEUC-JP");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_NE(a, b);
  EXPECT_EQ(a->fn, b->fn);
  EXPECT_EQ(zk::registryRuleFunction("constOASYS_WIN")->fn,
            zk::registryRuleFunction("constWINDOWS31J")->fn);
  EXPECT_EQ(zk::registryRuleFunction("constOASYS_ONLINE")->fn,
            zk::registryRuleFunction("constSAME")->fn);
  EXPECT_EQ(zk::registryRuleFunction("destShift_JIS-2004")->fn,
            zk::registryRuleFunction("destShift_JIS")->fn);
}

TEST(RuleFunctions, EveryEntryHasAFunctionAndAUniqueName) {
  for (int i = 0; i < zk::kRuleFunctionCount; ++i) {
    EXPECT_NE(zk::kRuleFunctions[i].fn, nullptr) << zk::kRuleFunctions[i].name;
    EXPECT_EQ(zk::registryRuleFunction(zk::kRuleFunctions[i].name), &zk::kRuleFunctions[i]);
  }
}

}  // namespace
