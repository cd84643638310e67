// A damaged copy of the shipped directory: the encodings that do not depend
// on the damaged file still convert correctly, the damaged one fails the way
// the loader is built to, and deleting the compiled files (after repairing
// the source file) recovers it. Definitions and tables load once per
// process, so every stage runs in a child process of its own.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <functional>
#include <set>

#include "shipped.h"

namespace zktest {
namespace {

struct Sample {
  const char* name;
  Bytes bytes;
  Cps cps;
};

const Sample kSamples[] = {
    {"Shift_JIS", {0x82, 0xA0, 0x88, 0x9F, 0x41, 0xB1}, {0x3042, 0x4E9C, 0x41, 0xFF71}},
    {"EUC-JP", {0xB0, 0xA1, 0x41}, {0x4E9C, 0x41}},
    {"EUC-JP", {0x8F, 0xB0, 0xA1}, {0x4E02}},
    {"EUC-JIS-2004", {0x8F, 0xA1, 0xA1, 0xA4, 0xA2}, {0x20089, 0x3042}},
    {"GBK", {0xB0, 0xA1, 0x41}, {0x554A, 0x41}},
    {"Big5", {0xA4, 0x40}, {0x4E00}},
    {"EUC-KR", {0xB0, 0xA1}, {0xAC00}},
    {"UTF-8", {0xE3, 0x81, 0x82}, {0x3042}},
};

// True when exactly the samples named in `want` fail to convert either way;
// else the broken ones are named on standard error.
bool brokenAre(const std::set<std::string>& want) {
  std::set<std::string> got;
  for (const Sample& s : kSamples) {
    ConvertResult out = run(ucs4(s.cps), "ISO-10646-UCS-4", s.name);
    if (decode(s.bytes, s.name) != s.cps || out.status != CCONV_OK || out.out != s.bytes)
      got.insert(std::string(s.name) + " " + hexString(s.bytes));
  }
  if (got == want) return true;
  for (const auto& g : got) std::fprintf(stderr, "broken: %s\n", g.c_str());
  return false;
}

// Runs `body` in a child process; true when it returned true.
bool inChild(const std::function<bool()>& body) {
  std::fflush(nullptr);
  pid_t pid = ::fork();
  if (pid == 0) ::_exit(body() ? 0 : 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class Damage : public ::testing::Test {
 protected:
  void SetUp() override {
    if (KVT_getCharsetPath()[0] != '\0') GTEST_SKIP() << "needs a process of its own (ctest)";
    shippedDir();
    // Every table the samples use is compiled before the damage is done.
    ASSERT_TRUE(inChild([] { return brokenAre({}); }));
  }
  const TestDir& dir() { return shippedDir(); }
  void replace(const std::string& name, const Bytes& bytes) {
    ::unlink(dir().file(name).c_str());
    dir().writeBytes(name, bytes);
  }
};

TEST_F(Damage, DeletedTableFile) {
  ::unlink(dir().file("jisx0212.txt").c_str());
  ::unlink(dir().file("jisx0212.cmp").c_str());
  EXPECT_TRUE(inChild([] {
    // The first request finds no table: an empty compiled file is left and
    // the set is taken as an identity, so JIS X 0212 0x3021 reads as
    // U+3021; the next request marks the empty table loaded and the code is
    // unmappable. Everything else is intact.
    std::optional<Cps> first = decode({0x8F, 0xB0, 0xA1}, "EUC-JP");
    ConvertResult second = run({0x8F, 0xB0, 0xA1}, "EUC-JP", "ISO-10646-UCS-4");
    return first == Cps{0x3021} && second.status == CCONV_UNMAPPABLE &&
           brokenAre({"EUC-JP 8FB0A1"});
  }));
  EXPECT_TRUE(dir().exists("jisx0212.cmp"));
  EXPECT_TRUE(dir().read("jisx0212.cmp").empty());
  // Putting the table file back is not enough: the empty compiled file wins.
  ASSERT_EQ(::symlink(ZK_SOURCE_DIR "/data/base2/jisx0212.txt", dir().file("jisx0212.txt").c_str()),
            0);
  EXPECT_TRUE(inChild([] { return brokenAre({"EUC-JP 8FB0A1"}); }));
  // Deleting the compiled file recovers.
  ::unlink(dir().file("jisx0212.cmp").c_str());
  EXPECT_TRUE(inChild([] { return brokenAre({}); }));
}

TEST_F(Damage, TruncatedCompiledTable) {
  // 125 records of JIS X 0208 are left: the kanji are gone from every
  // encoding that uses the table, the rest is intact.
  Bytes b = dir().read("jisx0208.cmp");
  replace("jisx0208.cmp", Bytes(b.begin(), b.begin() + 1000));
  EXPECT_TRUE(inChild([] { return brokenAre({"Shift_JIS 82A0889F41B1", "EUC-JP B0A141"}); }));
  ::unlink(dir().file("jisx0208.cmp").c_str());
  EXPECT_TRUE(inChild([] { return brokenAre({}); }));
}

TEST_F(Damage, CompiledTableOfAnotherTable) {
  Bytes big5 = dir().read("big5.cmp");
  ASSERT_FALSE(big5.empty());
  replace("gbk.cmp", big5);
  // GBK now reads Big5 codes: B0A1 is no longer U+554A.
  EXPECT_TRUE(inChild([] {
    return decode({0xA4, 0x40}, "GBK") == Cps{0x4E00} && brokenAre({"GBK B0A141"});
  }));
  ::unlink(dir().file("gbk.cmp").c_str());
  EXPECT_TRUE(inChild([] { return brokenAre({}); }));
}

TEST_F(Damage, NonsenseRuleFile) {
  replace("euc-kr.xml",
          encodeText("<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<charset><nme>EUC-KR",
                     Enc::Utf16LE, true));
  EXPECT_TRUE(inChild([] {
    CconvRecord rec;
    std::memset(&rec, 0, sizeof rec);
    return cconvLoadRule() == 1 && cconvInitConvert(&rec, nullptr, "EUC-KR") == CCONV_ERROR &&
           brokenAre({"EUC-KR B0A1"});
  }));
  // Bytes that are no text at all.
  replace("euc-kr.xml", {0x00, 0xFF, 0x13, 0x37, 0x42});
  EXPECT_TRUE(inChild([] { return brokenAre({"EUC-KR B0A1"}); }));
}

}  // namespace
}  // namespace zktest
