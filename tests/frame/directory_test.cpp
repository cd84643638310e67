// The charset directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "frame/state.h"
#include "support/convert.h"

namespace {

// What KVT_getCharsetPath and the directory query (into 260 bytes) give after
// the calls of `sets`, each row in a fresh process: a path can be set once,
// and the default is fixed by the first query.
TEST(CharsetDirectory, SetOnceAndQueriedWithASeparator) {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  // The internal library is linked into this program: the library file is the program.
  std::string def(exe, n);
  def = def.substr(0, def.rfind('/') + 1) + "base2/";
  const std::string p257(257, 'c'), p258(258, 'b');
  const struct {
    std::vector<std::string> sets;
    std::string get, query;  // query "": no room for the separator and the NUL
  } rows[] = {
      {{}, def, def},
      {{"", "/data/charsets", "/other/"}, "/data/charsets", "/data/charsets/"},
      {{"C:\\app\\base2\\"}, "C:\\app\\base2\\", "C:\\app\\base2\\"},  // not doubled
      {{p257}, p257, p257 + "/"},
      {{p258}, p258, ""},
  };
  for (const auto& r : rows)
    EXPECT_TRUE(zktest::inChild([&] {
      bool ok = KVT_getCharsetPath() == std::string() && KVT_setCharsetPath(nullptr) == 1;
      bool fixed = false;
      for (const std::string& s : r.sets) {
        ok &= KVT_setCharsetPath(s.c_str()) == (fixed ? 0 : 1);
        fixed |= !s.empty();
      }
      char buf[260];
      const char* q = zk::stateCharsetDir(buf, sizeof buf);
      ok &= (q ? std::string(q) : "") == r.query && (q || buf[0] == '\0');
      return ok && KVT_getCharsetPath() == r.get && KVT_setCharsetPath("/elsewhere") == 0;
    })) << r.get;
}

}  // namespace
