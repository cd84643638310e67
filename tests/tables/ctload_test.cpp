// The table loader: table-file grammar, the compiled file it writes and
// trusts, file naming, marking, whole tables checked against glibc's iconv,
// and several processes compiling one charset directory at once.
#include <gtest/gtest.h>
#include <iconv.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "defs/defs.h"
#include "frame/registry.h"
#include "frame/state.h"
#include "support/testdir.h"
#include "tables/codetable.h"
#include "zrkvt16.h"

namespace {

using zktest::Enc;
using zktest::TestDir;
using Pairs = std::vector<std::pair<std::uint32_t, std::uint32_t>>;
using Bytes = std::vector<std::uint8_t>;
using TablePtr = std::unique_ptr<zk::CodeTable, void (*)(zk::CodeTable*)>;

void load(zk::CodeTable* t) {
  bool taken = zk::stateLock();
  zk::ctableLoad(t);
  zk::stateUnlock(taken);
}

// A table named after `source`, loaded once.
TablePtr loaded(const std::string& source, std::uint32_t direction = 1, std::uint16_t width = 4,
                std::uint32_t encoding = zk::kTextUtf16, std::uint32_t big = 0) {
  TablePtr t(zk::ctableCreate(width, direction), zk::ctableDestroy);
  std::snprintf(t->sourceName, sizeof t->sourceName, "%s", source.c_str());
  t->sourceEncoding = encoding;
  t->sourceBigEndian = big;
  load(t.get());
  return t;
}

// The keys of `want` that the table holds, with the values it holds.
Pairs stored(const zk::CodeTable* t, const Pairs& want) {
  Pairs out;
  std::uint32_t got = 0;
  for (const auto& kv : want)
    if (zk::ctableGet(t, kv.first, &got)) out.emplace_back(kv.first, got);
  return out;
}

Bytes records(const Pairs& pairs) {
  Bytes out;
  for (const auto& [a, b] : pairs)
    for (std::uint32_t v : {a, b})
      for (int k = 0; k < 4; ++k) out.push_back(static_cast<std::uint8_t>(v >> (8 * k)));
  return out;
}

// "p" 3 ".txt" gives "p3.txt".
std::string numbered(const char* prefix, int k, const char* suffix = "") {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s%d%s", prefix, k, suffix);
  return buf;
}

bool noTempFiles(const TestDir& dir) {
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    if (e.path().filename().string().find(".tmp") != std::string::npos) return false;
  return true;
}

// Written the way mapping files usually are, with comments in markup and
// mixed separators, so that pairs straddle every window refill.
std::string tableText(const Pairs& pairs) {
  std::string s = "<code to Unicode>\r\n";
  char line[64];
  int i = 0;
  for (const auto& [code, ucs] : pairs) {
    ++i;
    std::snprintf(line, sizeof line, (i % 3) ? "%04X\t%04X <#%d>\r\n" : "%04x %04x\n", code, ucs,
                  i);
    s += line;
  }
  return s;
}

// Shift_JIS double-byte codes and their Unicode values from glibc's iconv:
// a table of JIS X 0208 size, as a peer converter maps it.
Pairs sjisPairs() {
  Pairs out;
  iconv_t cd = iconv_open("UCS-4BE", "SHIFT_JIS");
  if (cd == reinterpret_cast<iconv_t>(-1)) return out;
  for (std::uint32_t code = 0x8140; code <= 0xEFFC; ++code) {
    char in[2] = {static_cast<char>(code >> 8), static_cast<char>(code)};
    unsigned char u[8];
    char *ip = in, *op = reinterpret_cast<char*>(u);
    size_t il = 2, ol = sizeof u;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    // Exactly one character from both bytes: a double-byte code.
    if (iconv(cd, &ip, &il, &op, &ol) != static_cast<size_t>(-1) && ol == 4)
      out.emplace_back(code, (u[0] << 24) | (u[1] << 16) | (u[2] << 8) | u[3]);
  }
  iconv_close(cd);
  return out;
}

// A child process that opens the lock anew, as a separately started one
// would, and exits with what `body` returns.
template <class Body>
pid_t spawn(Body body) {
  pid_t pid = fork();
  if (pid == 0) {
    zk::stateDetach();
    zk::stateAttach();
    _exit(body());
  }
  return pid;
}

class TableLoad : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1); }
  TestDir dir;
};

// The file name is lower-cased, extension included.
TEST_F(TableLoad, CompilesTwoPairsToSixteenBytes) {
  dir.write("jis0208.txt", "8140 3000\r\n8141 3001\r\n", Enc::Utf16LE);
  TablePtr t = loaded("JIS0208.TXT");
  EXPECT_TRUE(zk::ctableIsLoaded(t.get()));
  EXPECT_EQ(zk::ctableValue(t.get(), 0x8140), 0x3000u);
  EXPECT_EQ(zk::ctableValue(t.get(), 0x8141), 0x3001u);
  EXPECT_EQ(dir.read("jis0208.cmp"),
            (Bytes{0x40, 0x81, 0, 0, 0x00, 0x30, 0, 0, 0x41, 0x81, 0, 0, 0x01, 0x30, 0, 0}));
  EXPECT_TRUE(noTempFiles(dir));
}

TEST_F(TableLoad, GrammarOfTableFiles) {
  const std::string run(92, '9');
  struct Case {
    std::string text;
    Pairs want;
  } cases[] = {
      {"8140 3000\n8141 3001", {{0x8140, 0x3000}}},  // a number at the very end is dropped
      {"<7 8 9>8140 3000\n", {{0x8140, 0x3000}}},    // digits inside markup are not read
      {"0x8140 0x3000\n", {{0, 0x8140}, {0, 0x3000}}},
      {"face 12>34 ", {{0xFACE, 0x12}}},  // ">" outside markup separates
      {"1 2 3\n", {{1, 2}}},              // a last number without partner
      {"1 2 <3 4\n", {{1, 2}}},           // the file ends inside markup
      {"AbC1 fFfF\n", {{0xABC1, 0xFFFF}}},
      {run + "0000ABCD " + run + "12345678\n", {{0xABCD, 0x12345678}}},  // last eight digits
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string base = numbered("g", i++);
    dir.write(base + ".txt", c.text);
    TablePtr t = loaded(base + ".txt");
    EXPECT_EQ(dir.read(base + ".cmp"), records(c.want));
  }
}

// Each readable encoding in either byte order, over a table long enough for
// pairs to straddle window refills. A mark at the start and a character
// beyond the BMP are ordinary separators; read in the other byte order, the
// digits become other characters and nothing is stored.
TEST_F(TableLoad, ReadsEveryUnitWidthInEitherOrder) {
  Pairs pairs;
  for (std::uint32_t k = 0; k < 2000; ++k) pairs.emplace_back(0x8840 + k, 0x4E00 + 7 * k);
  const std::string text =
      "<\xE6\xBC\xA2 \xF0\xA0\xAE\xB7>8140 3000 \xF0\xA0\xAE\xB7 20 21\n" + tableText(pairs);
  pairs.insert(pairs.begin(), {{0x8140, 0x3000}, {0x20, 0x21}});
  struct Case {
    Enc enc;
    std::uint32_t encoding, big;
  } cases[] = {
      {Enc::Utf16LE, zk::kTextUtf16, 0}, {Enc::Utf16BE, zk::kTextUtf16, 1},
      {Enc::Ucs2LE, zk::kTextUcs2, 0},   {Enc::Ucs2BE, zk::kTextUcs2, 1},
      {Enc::Ucs4LE, zk::kTextUcs4, 0},   {Enc::Ucs4BE, zk::kTextUcs4, 1},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string base = numbered("w", i++);
    SCOPED_TRACE(base);
    dir.write(base + ".txt", text, c.enc, true);
    TablePtr t = loaded(base + ".txt", 1, 4, c.encoding, c.big);
    EXPECT_EQ(dir.read(base + ".cmp"), records(pairs));
    dir.write(base + "o.txt", text, c.enc, false);
    TablePtr u = loaded(base + "o.txt", 1, 4, c.encoding, !c.big);
    EXPECT_TRUE(dir.read(base + "o.cmp").empty());
  }
  // An encoding that cannot be read gives an empty table and compiled file.
  dir.write("utf8.txt", "8140 3000\n", Enc::Raw);
  TablePtr t = loaded("utf8.txt", 1, 4, zk::kTextUtf8, 0);
  EXPECT_TRUE(dir.exists("utf8.cmp"));
  EXPECT_TRUE(dir.read("utf8.cmp").empty());
  EXPECT_FALSE(t->hasEntries);
}

// Only the file name is lower-cased (as "JIS0208.TXT" is above); a backslash
// separates as "/" does. Another extension, same base name: the compiled file
// is shared and trusted, so the .lst file is never read.
TEST_F(TableLoad, DirectoryKeepsItsCaseAndExtensionsShareACompiledFile) {
  ASSERT_EQ(::mkdir((dir.path() + "Sub").c_str(), 0755), 0);
  dir.write("Sub/inner", "30 40 31 41\n");
  TablePtr t = loaded("Sub\\INNER");
  EXPECT_TRUE(dir.exists("Sub/inner.cmp"));
  EXPECT_EQ(zk::ctableValue(t.get(), 0x31), 0x41u);
  dir.write("Sub/inner.lst", "99 98\n");
  TablePtr u = loaded("Sub/INNER.LST");
  EXPECT_EQ(zk::ctableValue(u.get(), 0x30), 0x40u);
  EXPECT_EQ(zk::ctableValue(u.get(), 0x99), 0u);
}

TEST_F(TableLoad, ExistingCompiledFileIsTrustedWhateverItsSize) {
  dir.write("t.txt", "1 2 3 4\n");
  Bytes cmp = records({{0x8140, 0x3000}, {0x8141, 0x3001}});
  cmp.resize(13);  // a short last record is ignored
  dir.writeBytes("t.cmp", cmp);
  TablePtr t = loaded("t.txt");
  EXPECT_EQ(zk::ctableValue(t.get(), 0x8140), 0x3000u);
  EXPECT_EQ(zk::ctableValue(t.get(), 0x8141), 0u);
  EXPECT_EQ(zk::ctableValue(t.get(), 1), 0u);
  EXPECT_EQ(dir.read("t.cmp"), cmp) << "a trusted compiled file is never rewritten";
}

// A table whose one key is not a plausible code is marked loaded by the
// second request, which reads nothing. (A table file that is missing, and
// the empty compiled file it leaves, are tested on a copy of the shipped
// data, in the damaged-directory tests.)
TEST_F(TableLoad, MarkedOnTheFirstRequestOnlyWhenPlausible) {
  struct Case {
    const char* text;
    std::uint32_t key;
    bool markedFirst;
  } cases[] = {{"41 41\n", 0x41, true}, {"0 41\n", 0, false}, {"10000000 41\n", 0x10000000, false}};
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    dir.write(numbered("m", i, ".txt"), c.text);
    TablePtr t = loaded(numbered("m", i++, ".txt"));
    EXPECT_EQ(zk::ctableIsLoaded(t.get()), c.markedFirst);
    EXPECT_EQ(stored(t.get(), {{c.key, 0}}), (Pairs{{c.key, 0x41}}));
    load(t.get());
    EXPECT_TRUE(zk::ctableIsLoaded(t.get()));
    EXPECT_EQ(t->loadAttempts, c.markedFirst ? 0 : 1);
  }
  // No source name: never loaded, never counted.
  TablePtr none = loaded("");
  EXPECT_FALSE(zk::ctableIsLoaded(none.get()));
  EXPECT_EQ(none->loadAttempts, -1);
}

// A set's toCode loaded after its toUcs reads the compiled file written by
// the first load: removing the table file in between changes nothing.
TEST_F(TableLoad, BothDirectionsOfASetShareOneCompiledFile) {
  dir.write("set.xml", zktest::subsetA("JIS_X0208-1990", 2, "tab"));
  dir.write("rule.xml", zktest::ruleFile("Shift_JIS", "constShift_JIS", "destShift_JIS",
                                         {{"jset", "set.xml"}, {"tab", "JIS0208.TXT"}},
                                         "<baseset>&jset;</baseset>"));
  dir.write("jis0208.txt", "<row 1>2121 3000 2122 3001\n2123 3002 <bad>2124 FF0C\n");
  ASSERT_EQ(cconvLoadRule(), 1);
  zk::CharsetDef* cs = zk::stateCharsetById(zk::kIdJisX0208);
  ASSERT_NE(cs, nullptr);
  load(cs->toUcs);
  ASSERT_TRUE(zk::ctableIsLoaded(cs->toUcs));
  EXPECT_EQ(zk::ctableValue(cs->toUcs, 0x2124), 0xFF0Cu);
  ASSERT_EQ(std::remove(dir.file("jis0208.txt").c_str()), 0);
  load(cs->toCode);
  ASSERT_TRUE(zk::ctableIsLoaded(cs->toCode));
  EXPECT_EQ(stored(cs->toCode, {{0x3000, 0}, {0x3002, 0}, {0xFF0C, 0}}),
            (Pairs{{0x3000, 0x2121}, {0x3002, 0x2123}, {0xFF0C, 0x2124}}));
  EXPECT_EQ(dir.read("jis0208.cmp").size(), 32u);
}

TEST_F(TableLoad, WholeTableAgreesWithIconv) {
  Pairs pairs = sjisPairs();
  ASSERT_GT(pairs.size(), 6800u) << "glibc's iconv should know JIS X 0208";
  dir.write("sjis.txt", tableText(pairs), Enc::Utf16LE, true);
  ASSERT_GT(dir.read("sjis.txt").size(), 3u * 16384);
  TablePtr t = loaded("sjis.txt");
  TablePtr u = loaded("sjis.txt", 0, 2);  // from the compiled file
  EXPECT_EQ(dir.read("sjis.cmp"), records(pairs));
  EXPECT_EQ(stored(t.get(), pairs), pairs);
  // Unicode to code: where iconv maps two codes to one character, the later
  // pair in the file wins.
  for (const auto& [code, ucs] : pairs) {
    std::uint32_t back = zk::ctableValue(u.get(), ucs);
    ASSERT_NE(back, 0u) << std::hex << ucs;
    ASSERT_EQ(zk::ctableValue(t.get(), back), ucs);
  }
}

// Several processes start at once on a fresh directory: each loads correct
// tables, and each table ends up with one correct compiled file.
TEST_F(TableLoad, ConcurrentProcessesCompileEachTableOnce) {
  Pairs pairs = sjisPairs();
  ASSERT_FALSE(pairs.empty());
  const int kTables = 3, kProcs = 4;
  std::vector<Pairs> want(kTables);
  for (int k = 0; k < kTables; ++k) {
    for (std::size_t i = k; i < pairs.size(); i += kTables) want[k].push_back(pairs[i]);
    dir.write(numbered("p", k, ".txt"), tableText(want[k]));
  }
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> kids;
  for (int p = 0; p < kProcs; ++p)
    kids.push_back(spawn([&] {
      close(go[1]);
      char c;
      (void)!read(go[0], &c, 1);  // all start together
      int bad = 0;
      for (int k = 0; k < kTables; ++k) {
        int idx = (k + p) % kTables;
        TablePtr t = loaded(numbered("p", idx, ".txt"));
        bad |= !zk::ctableIsLoaded(t.get()) || stored(t.get(), want[idx]) != want[idx];
      }
      return bad;
    }));
  close(go[0]);
  close(go[1]);
  for (pid_t pid : kids) {
    int status = -1;
    EXPECT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_EQ(status, 0) << "child " << pid << " failed or did not exit";
  }
  for (int k = 0; k < kTables; ++k)
    EXPECT_EQ(dir.read(numbered("p", k, ".cmp")), records(want[k])) << k;
  EXPECT_TRUE(noTempFiles(dir));
}

// A process killed while compiling leaves no compiled file behind, so the
// next load compiles the whole table instead of trusting a partial one.
TEST_F(TableLoad, KilledCompileLeavesNoPartialCompiledFile) {
  Pairs pairs;
  for (std::uint32_t k = 1; k <= 400000; ++k) pairs.emplace_back(k, k ^ 0x5A5A5);
  dir.write("big.txt", tableText(pairs));
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = spawn([&] {
    (void)!write(ready[1], "x", 1);
    loaded("big.txt");
    return 0;
  });
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  usleep(20000);
  kill(pid, SIGKILL);
  ASSERT_EQ(waitpid(pid, nullptr, 0), pid);
  close(ready[0]);
  close(ready[1]);
  // Nothing under the compiled name, or all of it.
  EXPECT_TRUE(!dir.exists("big.cmp") || dir.read("big.cmp") == records(pairs));
  TablePtr t = loaded("big.txt");
  EXPECT_EQ(zk::ctableValue(t.get(), 400000), 400000u ^ 0x5A5A5);
  EXPECT_EQ(dir.read("big.cmp"), records(pairs));
}

}  // namespace
