// The charset directory: set once, read back unchanged, defaulted beside the
// library file, and copied with a trailing separator within buffer bounds.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "frame/state.h"
#include "zrkvt16.h"

namespace {

TEST(CharsetDirectory, EmptyBeforeFirstUse) { EXPECT_STREQ(KVT_getCharsetPath(), ""); }

TEST(CharsetDirectory, SetStoresPathUnchangedAndOnlyOnce) {
  EXPECT_EQ(KVT_setCharsetPath(nullptr), 1);
  EXPECT_EQ(KVT_setCharsetPath(""), 1);
  EXPECT_STREQ(KVT_getCharsetPath(), "");
  EXPECT_EQ(KVT_setCharsetPath("/data/charsets"), 1);
  EXPECT_STREQ(KVT_getCharsetPath(), "/data/charsets");
  EXPECT_EQ(KVT_setCharsetPath("/other/"), 0);
  EXPECT_STREQ(KVT_getCharsetPath(), "/data/charsets");
  char buf[260];
  ASSERT_NE(zk::stateCharsetDir(buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "/data/charsets/");
  // A stored trailing separator of either kind is not doubled.
  EXPECT_STREQ(KVT_getCharsetPath(), "/data/charsets");
}

TEST(CharsetDirectory, BackslashCountsAsTrailingSeparator) {
  ASSERT_EQ(KVT_setCharsetPath("C:\\app\\base2\\"), 1);
  char buf[260];
  ASSERT_NE(zk::stateCharsetDir(buf, sizeof buf), nullptr);
  EXPECT_STREQ(buf, "C:\\app\\base2\\");
}

TEST(CharsetDirectory, LongPathIsCutTo259Characters) {
  std::string path(300, 'a');
  path[0] = '/';
  ASSERT_EQ(KVT_setCharsetPath(path.c_str()), 1);
  EXPECT_EQ(std::strlen(KVT_getCharsetPath()), 259u);
  EXPECT_EQ(std::string(KVT_getCharsetPath()), path.substr(0, 259));
}

TEST(CharsetDirectory, QueryNeedsRoomForSeparatorAndNul) {
  std::string path258(258, 'b');
  ASSERT_EQ(KVT_setCharsetPath(path258.c_str()), 1);
  char buf[260];
  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(zk::stateCharsetDir(buf, sizeof buf), nullptr);
  EXPECT_EQ(buf[0], '\0');
  // A bigger buffer takes it.
  char big[300];
  ASSERT_NE(zk::stateCharsetDir(big, sizeof big), nullptr);
  EXPECT_EQ(std::strlen(big), 259u);
}

TEST(CharsetDirectory, QueryAt257CharactersSucceeds) {
  std::string path257(257, 'c');
  ASSERT_EQ(KVT_setCharsetPath(path257.c_str()), 1);
  char buf[260];
  ASSERT_EQ(zk::stateCharsetDir(buf, sizeof buf), buf);
  EXPECT_EQ(std::string(buf), path257 + "/");
}

TEST(CharsetDirectory, DefaultIsBaseDirBesideTheLibraryFile) {
  // The internal library is linked into this test program, so the library
  // file is the program itself.
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  ASSERT_GT(n, 0);
  exe[n] = '\0';
  std::string expected(exe);
  expected = expected.substr(0, expected.rfind('/') + 1) + "base2/";
  EXPECT_EQ(zk::stateCharsetDir(nullptr, 0), nullptr);
  EXPECT_EQ(std::string(KVT_getCharsetPath()), expected);
  // Once defaulted, the directory is fixed.
  EXPECT_EQ(KVT_setCharsetPath("/elsewhere"), 0);
  char buf[260];
  ASSERT_NE(zk::stateCharsetDir(buf, sizeof buf), nullptr);
  EXPECT_EQ(std::string(buf), expected);
}

TEST(LibraryState, AttachCreatesEmptyListsAndDetachFreesThem) {
  EXPECT_EQ(zk::gState.attachCount, 1u);
  ASSERT_NE(zk::gState.rules, nullptr);
  ASSERT_NE(zk::gState.charsets, nullptr);
  EXPECT_EQ(zk::gState.rules->count, 0);
  EXPECT_TRUE(zk::stateAttach());
  EXPECT_EQ(zk::gState.attachCount, 2u);
  zk::stateDetach();
  EXPECT_NE(zk::gState.rules, nullptr);
  zk::stateDetach();
  EXPECT_EQ(zk::gState.rules, nullptr);
  EXPECT_EQ(zk::gState.charsets, nullptr);
  EXPECT_EQ(zk::gState.tableMutex, nullptr);
  // Attach again so the library's own unload finds a consistent state.
  EXPECT_TRUE(zk::stateAttach());
}

}  // namespace
