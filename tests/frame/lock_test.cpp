// The table lock: shared by threads and by the processes that use one
// charset directory, re-entrant in the thread that holds it, and released
// when its holder dies.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/platform.h"
#include "support/testdir.h"

namespace {

// A lock bound to the directory `dir`, as the library binds its own.
zk::PlatformLock* lockIn(const zktest::TestDir& dir) {
  zk::PlatformLock* lock = zk::platformLockCreate("CtableMutex");
  if (lock) zk::platformLockBind(lock, dir.path().c_str());
  return lock;
}

TEST(TableLock, ReentrantInTheHoldingThread) {
  zktest::TestDir dir;
  zk::PlatformLock* lock = lockIn(dir);
  ASSERT_NE(lock, nullptr);
  ASSERT_TRUE(zk::platformLockAcquire(lock));
  ASSERT_TRUE(zk::platformLockAcquire(lock));
  zk::platformLockRelease(lock);
  zk::platformLockRelease(lock);
  zk::platformLockDestroy(lock);
}

TEST(TableLock, ExcludesOtherThreadsUntilFullyReleased) {
  zktest::TestDir dir;
  zk::PlatformLock* lock = lockIn(dir);
  ASSERT_NE(lock, nullptr);
  ASSERT_TRUE(zk::platformLockAcquire(lock));
  ASSERT_TRUE(zk::platformLockAcquire(lock));
  std::atomic<bool> got{false};
  std::thread other([&] {
    zk::platformLockAcquire(lock);
    got = true;
    zk::platformLockRelease(lock);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(got.load());
  zk::platformLockRelease(lock);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(got.load()) << "released one level only";
  zk::platformLockRelease(lock);
  other.join();
  EXPECT_TRUE(got.load());
  zk::platformLockDestroy(lock);
}

// The child takes the lock and reports through a pipe; the parent checks
// that its own attempt waits, and what happens when the child ends.
void holdInChild(const zktest::TestDir& dir, int readyFd, bool releaseAfterSleep) {
  zk::PlatformLock* lock = lockIn(dir);
  if (!lock || !zk::platformLockAcquire(lock)) _exit(2);
  char c = 'x';
  if (write(readyFd, &c, 1) != 1) _exit(3);
  if (releaseAfterSleep) {
    usleep(300 * 1000);
    zk::platformLockRelease(lock);
    _exit(0);
  }
  pause();  // held until killed
  _exit(0);
}

TEST(TableLock, SharedBetweenProcesses) {
  zktest::TestDir dir;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) holdInChild(dir, fds[1], true);
  char c;
  ASSERT_EQ(read(fds[0], &c, 1), 1);
  zk::PlatformLock* lock = lockIn(dir);
  ASSERT_NE(lock, nullptr);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(zk::platformLockAcquire(lock));
  auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, std::chrono::milliseconds(150)) << "the child's hold was not honoured";
  zk::platformLockRelease(lock);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  zk::platformLockDestroy(lock);
}

// A waiter in a second process gets the lock once the holder is killed.
TEST(TableLock, NotLeftHeldByAKilledProcess) {
  zktest::TestDir dir;
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) holdInChild(dir, fds[1], false);
  char c;
  ASSERT_EQ(read(fds[0], &c, 1), 1);
  pid_t waiter = fork();
  ASSERT_GE(waiter, 0);
  if (waiter == 0) {
    alarm(10);  // never hang the suite
    zk::PlatformLock* lock = lockIn(dir);
    _exit(lock && zk::platformLockAcquire(lock) ? 0 : 1);
  }
  usleep(200 * 1000);
  EXPECT_EQ(waitpid(waiter, nullptr, WNOHANG), 0) << "the waiter got a lock that was held";
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  int status = 0;
  ASSERT_EQ(waitpid(waiter, &status, 0), waiter);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the waiter never got the lock";
}

// A host that forks after loading the library: parent and child use the
// same lock object, which must still exclude one from the other.
TEST(TableLock, ExcludesAForkedChildUsingTheInheritedLock) {
  zktest::TestDir dir;
  zk::PlatformLock* lock = lockIn(dir);
  ASSERT_NE(lock, nullptr);
  ASSERT_TRUE(zk::platformLockAcquire(lock));
  zk::platformLockRelease(lock);
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (!zk::platformLockAcquire(lock)) _exit(2);
    char c = 'x';
    if (write(fds[1], &c, 1) != 1) _exit(3);
    usleep(300 * 1000);
    zk::platformLockRelease(lock);
    _exit(0);
  }
  char c;
  ASSERT_EQ(read(fds[0], &c, 1), 1);
  auto start = std::chrono::steady_clock::now();
  ASSERT_TRUE(zk::platformLockAcquire(lock));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(150))
      << "parent and forked child held the lock at once";
  zk::platformLockRelease(lock);
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  zk::platformLockDestroy(lock);
}

}  // namespace
