// What a charset directory can reach: table files inside it only, compiled
// files written without following a planted link, and a table lock that no
// process of another user, who cannot write the directory, can hold.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

#include "frame/state.h"
#include "support/convert.h"
#include "support/testdir.h"

namespace {

namespace fs = std::filesystem;
using zktest::TestDir;

// A charset directory `cs/` under `root` with UTF-8 and a one-byte rule "T"
// whose only table file is named `table`; cs/t.txt maps 41 to U+3042.
void writeCharsetDir(const TestDir& root, const std::string& table) {
  fs::create_directories(root.file("cs/sub"));
  root.write("cs/utf-8.xml", zktest::ruleFile("UTF-8", "constUTF-8", "destUTF-8",
                                              {{"u", "ucs.def"}}, "<baseset>&u;</baseset>"));
  root.write("cs/ucs.def", zktest::subsetA("iso-10646", 2, ""));
  root.write("cs/t.xml",
             zktest::ruleFile("T", "constSAME", "destSAME", {{"s", "t.def"}, {"tab", table}},
                              "<baseset>&s;</baseset>"));
  root.write("cs/t.def", zktest::subsetA("tset", 1, "tab"));
  root.write("cs/t.txt", "41 3042\n");
}

// Every rule names one table file; the conversion shows whether it was read.
// Names that leave the directory count as table files that cannot be read
// (as a missing one, but no compiled file is made for them); one compiled
// file is written beside a link planted under its temporary name.
TEST(Confinement, TableFilesOutsideTheDirectoryAreNotRead) {
  struct Row {
    const char* name;      // as the rule file names the table ("@" = the root folder)
    const char* placed;    // where the table file is
    const char* compiled;  // the only compiled file expected, or ""
  } rows[] = {
      // clang-format off
      {"sub/t.txt", "cs/sub/t.txt", "cs/sub/t.cmp"}, {"sub\\T.TXT", "cs/sub/t.txt", "cs/sub/t.cmp"},
      {"t.txt", "cs/t.txt", "cs/t.cmp"},     {"missing.txt", "cs/other.txt", "cs/missing.cmp"},
      {"../out/t.txt", "out/t.txt", ""},     {"sub/../../out/t.txt", "out/t.txt", ""},
      {"@out/t.txt", "out/t.txt", ""},       {"c:/out/t.txt", "cs/c:/out/t.txt", ""},
      {"\\..\\out\\t.txt", "out/t.txt", ""}, {"Z:/out/t.txt", "cs/Z:/out/t.txt", ""},
  };
  // clang-format on
  for (const Row& row : rows) {
    TestDir root;
    const std::string name = row.name[0] == '@' ? root.path() + (row.name + 1) : row.name;
    const bool read = fs::path(row.placed).replace_extension(".cmp") == row.compiled;
    writeCharsetDir(root, name);
    fs::create_directories(root.file(fs::path(row.placed).parent_path()));
    root.write(row.placed, "41 3042\n");
    root.write("victim", "untouched", zktest::Enc::Raw);
    pid_t pid = fork();
    if (pid == 0) {
      std::string temp = root.file("cs/t.cmp.tmp") + std::to_string(getpid());
      if (name == "t.txt" && symlink(root.file("victim").c_str(), temp.c_str()) != 0) _exit(2);
      KVT_setCharsetPath(root.file("cs").c_str());
      zktest::ConvertResult r = zktest::convert("UTF-8", "T", {0x41});
      _exit(r.status != CCONV_OK ? 3 : r.out == zktest::Bytes{0xE3, 0x81, 0x82} ? 0 : 1);
    }
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_EQ(WIFEXITED(status) ? WEXITSTATUS(status) : -1, read ? 0 : 1) << name;
    std::set<std::string> compiled, want;
    for (const auto& e : fs::recursive_directory_iterator(root.path()))
      if (e.path().extension() == ".cmp") compiled.insert(fs::relative(e.path(), root.path()));
    if (row.compiled[0]) want.insert(row.compiled);
    EXPECT_EQ(compiled, want) << name;
    EXPECT_EQ(root.read("victim"), zktest::encodeText("untouched", zktest::Enc::Raw, false))
        << name;
  }
}

// While `nobody` holds every lock it can (the old shared /tmp/CtableMutex.lock,
// the lock of a directory of its own, and ours if it could open it), a
// conversion in a directory it cannot write finishes.
TEST(Confinement, AnotherUsersLockNeverStallsOurDirectory) {
  const passwd* nobody = getpwnam("nobody");
  if (geteuid() != 0 || !nobody) GTEST_SKIP() << "needs root and the user nobody";
  TestDir ours, theirs;
  writeCharsetDir(ours, "t.txt");
  ASSERT_EQ(chmod(ours.path().c_str(), 0755), 0);
  ASSERT_EQ(chown(theirs.path().c_str(), nobody->pw_uid, nobody->pw_gid), 0);
  ASSERT_EQ(KVT_setCharsetPath(ours.file("cs").c_str()), 1);  // makes our lock file
  struct stat st;
  ASSERT_EQ(stat(ours.file("cs/CtableMutex.lock").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u) << "only the directory's writers may open it";
  const std::string files[] = {"/tmp/CtableMutex.lock", theirs.file("CtableMutex.lock"),
                               ours.file("cs/CtableMutex.lock")};
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) || setgid(nobody->pw_gid) || setuid(nobody->pw_uid)) _exit(2);
    char held = 0;  // bit k: files[k] is locked
    for (int k = 0; k < 3; ++k) {
      int fd = open(files[k].c_str(), O_RDONLY | O_CREAT, 0644);
      if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0) held |= static_cast<char>(1 << k);
    }
    if (write(ready[1], &held, 1) != 1) _exit(3);
    sleep(30);  // killed sooner; never outlives a stalled test for long
    _exit(0);
  }
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  EXPECT_EQ(held & 6, 2) << "nobody must hold a lock of its own directory, and not ours";
  alarm(20);  // a stalled conversion fails the test instead of hanging it
  EXPECT_EQ(zktest::convert("UTF-8", "T", {0x41}).out, zktest::Bytes({0xE3, 0x81, 0x82}));
  alarm(0);
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  if (stat(files[0].c_str(), &st) == 0 && st.st_uid == nobody->pw_uid) unlink(files[0].c_str());
}

// The table lock excludes other processes, not only other threads: a
// process that asks for it while another holds it waits until it is let go.
TEST(Confinement, TheTableLockExcludesAnotherProcess) {
  TestDir dir;
  ASSERT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1);
  int go[2], got[2];
  ASSERT_EQ(pipe(go), 0);
  ASSERT_EQ(pipe(got), 0);
  pid_t pid = fork();
  if (pid == 0) {
    char c;
    if (read(go[0], &c, 1) != 1) _exit(2);
    const bool taken = zk::stateLock();
    c = taken ? 'y' : 'n';
    _exit(write(got[1], &c, 1) == 1 ? 0 : 2);
  }
  ASSERT_TRUE(zk::stateLock());
  ASSERT_EQ(write(go[1], "g", 1), 1);
  pollfd p{got[0], POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 300), 0) << "the other process took the lock while it was held";
  zk::stateUnlock(true);
  char c = 0;
  EXPECT_EQ(read(got[0], &c, 1), 1);
  EXPECT_EQ(c, 'y');
  int status = -1;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
