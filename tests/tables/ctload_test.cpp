// The table loader: table-file grammar in every readable encoding, file
// naming, and the compiled file it writes and trusts.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "defs/defs.h"
#include "frame/state.h"
#include "support/convert.h"
#include "support/testdir.h"
#include "tables/codetable.h"

namespace {

using namespace zktest;
using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
using TablePtr = std::unique_ptr<zk::CodeTable, void (*)(zk::CodeTable*)>;

// A table named after `source`, asked to load once.
TablePtr loaded(const std::string& source, std::uint32_t encoding = zk::kTextUtf16,
                std::uint32_t big = 0) {
  TablePtr t(zk::ctableCreate(4, 1), zk::ctableDestroy);
  std::snprintf(t->sourceName, sizeof t->sourceName, "%s", source.c_str());
  t->sourceEncoding = encoding, t->sourceBigEndian = big;
  const bool taken = zk::stateLock();
  zk::ctableLoad(t.get());
  zk::stateUnlock(taken);
  return t;
}

// The compiled form: 8-byte records of two little-endian values.
Bytes records(const Pairs& pairs) {
  Bytes out;
  for (const auto& [a, b] : pairs)
    for (std::uint32_t v : {a, b})
      for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  return out;
}

bool noTempFiles(const TestDir& dir) {
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    if (e.path().filename().string().find(".tmp") != std::string::npos) return false;
  return true;
}

class TableLoad : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1); }
  TestDir dir;
};

TEST_F(TableLoad, GrammarOfTableFiles) {
  const std::string run(92, '9');
  const std::pair<std::string, Pairs> cases[] = {
      {"8140 3000\r\n8141 3001\r\n", {{0x8140, 0x3000}, {0x8141, 0x3001}}},
      {"8140 3000\n8141 3001", {{0x8140, 0x3000}}},  // a number at the very end is dropped
      {"<7 8 9>8140 3000\n", {{0x8140, 0x3000}}},    // digits inside markup are not read
      {"0x8140 0x3000\n", {{0, 0x8140}, {0, 0x3000}}},
      {"face 12>34 ", {{0xFACE, 0x12}}},  // ">" outside markup separates
      {"1 2 3\n", {{1, 2}}},              // a last number without partner
      {"1 2 <3 4\n", {{1, 2}}},           // the file ends inside markup
      {"AbC1 fFfF\n", {{0xABC1, 0xFFFF}}},
      {run + "0000ABCD " + run + "12345678\n", {{0xABCD, 0x12345678}}},  // the last eight digits
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    // The file name is lower-cased, extension included.
    const std::string n = std::to_string(i);
    dir.write("g" + n + ".txt", cases[i].first);
    loaded("G" + n + ".TXT");
    EXPECT_EQ(dir.read("g" + n + ".cmp"), records(cases[i].second)) << cases[i].first;
  }
  EXPECT_TRUE(noTempFiles(dir));
  // Only the file name is lower-cased; a backslash separates as "/" does; a
  // compiled file, once there, is trusted (another extension shares it).
  ASSERT_EQ(::mkdir((dir.path() + "Sub").c_str(), 0755), 0);
  dir.write("Sub/inner", "30 40 31 41\n");
  dir.write("Sub/inner.lst", "99 98\n");
  EXPECT_EQ(zk::ctableValue(loaded("Sub\\INNER").get(), 0x31), 0x41u);
  EXPECT_EQ(zk::ctableValue(loaded("Sub/INNER.LST").get(), 0x31), 0x41u);
  EXPECT_EQ(dir.read("Sub/inner.cmp"), records({{0x30, 0x40}, {0x31, 0x41}}));
  // Only UTF-16 pairs surrogates: in UCS-2 a unit of that range is one more
  // character that ends a number, and the digit after it is read.
  Bytes ucs2;
  for (std::uint16_t u :
       {u'4', u'1', u' ', u'3', u'0', u'\xD800', u'4', u'2', u' ', u'5', u'0', u'\n'})
    ucs2.insert(ucs2.end(), {static_cast<std::uint8_t>(u), static_cast<std::uint8_t>(u >> 8)});
  dir.writeBytes("ucs2.txt", ucs2);
  loaded("ucs2.txt", zk::kTextUcs2);
  EXPECT_EQ(dir.read("ucs2.cmp"), records({{0x41, 0x30}, {0x42, 0x50}}));
}

}  // namespace
