// Fault injection: every allocation of loading and table compilation fails
// in turn, then every write of a compiled table (a full disk, and a short
// write followed by a full disk), one child process per site, until a run
// meets no site. Never a crash or a stray temporary file, and a compiled file
// is either absent or complete, so the next process converts correctly; a
// failed write costs nothing but the compiled file. This program is linked
// with --wrap for the calls below, so the library carries no hook.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "support/convert.h"
#include "support/testdir.h"

extern "C" {
void* __real_malloc(size_t n);
void* __real_calloc(size_t n, size_t size);
void* __real_realloc(void* p, size_t n);
ssize_t __real_write(int fd, const void* buf, size_t n);
int __real_fdatasync(int fd);
}

namespace {

// The gFailAt-th allocation fails, or every write (and sync) of a file from
// the gFailAt-th on; 0 = no fault.
enum Fault { kAlloc, kFullDisk, kShortWrite };
Fault gFault;
long gFailAt = 0, gCalls = 0;

bool fails(bool alloc) {
  if (gFailAt == 0 || alloc != (gFault == kAlloc)) return false;
  ++gCalls;
  return alloc ? gCalls == gFailAt : gCalls >= gFailAt;
}

}  // namespace

extern "C" {
void* __wrap_malloc(size_t n) { return fails(true) ? nullptr : __real_malloc(n); }
void* __wrap_calloc(size_t n, size_t size) {
  return fails(true) ? nullptr : __real_calloc(n, size);
}
void* __wrap_realloc(void* p, size_t n) { return fails(true) ? nullptr : __real_realloc(p, n); }
ssize_t __wrap_write(int fd, const void* buf, size_t n) {
  if (!fails(false)) return __real_write(fd, buf, n);
  if (gFault == kShortWrite && gCalls == gFailAt && n > 1) return __real_write(fd, buf, n / 2);
  errno = ENOSPC;
  return -1;
}
int __wrap_fdatasync(int fd) { return fails(false) ? (errno = EIO, -1) : __real_fdatasync(fd); }
}

namespace {

namespace fs = std::filesystem;
using zktest::Bytes;
const char* const kOutcomes[] = {"exact", "stopped early", "rule not loaded", "table cut short"};

// In a fresh process on a fresh copy of the Shift_JIS and UTF-8 definitions:
// the sample to UTF-8 (compiling three tables) and back (reading their
// compiled files). The exit code tells the outcome against `want` (an index
// of kOutcomes; + 8 when no fault was met); without `want` the outputs are
// saved in the directory.
int runChild(const zktest::TestDir& dir, Fault fault, long failAt, const Bytes& in,
             const Bytes* want) {
  for (const char* f :
       {"shift_jis.xml", "utf-8.xml", "ucs.def", "jisx0201latin.def", "jisx0201latin.txt",
        "jisx0201kana.def", "jisx0201kana.txt", "jisx0208.def", "jisx0208.txt"})
    fs::copy_file(ZK_SOURCE_DIR "/data/base2/" + std::string(f), dir.file(f));
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid == 0) {
    KVT_setCharsetPath(dir.path().c_str());
    gFault = fault;
    gFailAt = failAt;
    zktest::ConvertResult r[2];
    r[0] = zktest::convert("UTF-8", "Shift_JIS", in);
    r[1] = zktest::convert("Shift_JIS", "UTF-8", r[0].out);
    const int missed = gCalls < failAt ? 8 : 0;
    gFailAt = 0;
    for (int k = 0; k < 2 && !want; ++k)
      std::ofstream(dir.file("out" + std::to_string(k)))
          .write(reinterpret_cast<const char*>(r[k].out.data()), r[k].out.size());
    if (!want) _exit(0);
    int outcome = 0;
    for (int k = 0; k < 2; ++k) {
      const Bytes& w = want[k];
      if (r[k].status == CCONV_ERROR)
        outcome = std::max(outcome, 2);
      else if (r[k].out.size() > w.size() ||
               !std::equal(r[k].out.begin(), r[k].out.end(), w.begin()))
        outcome = 3;
      else if (r[k].out != w)
        outcome = std::max(outcome, 1);
    }
    _exit(missed + outcome);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(FaultInjection, EveryAllocationAndWriteFailsInTurn) {
  std::ifstream sample(ZK_SOURCE_DIR "/data/samples/sample-sjis.txt", std::ios::binary);
  const Bytes in{std::istreambuf_iterator<char>(sample), {}};
  zktest::TestDir clean;
  ASSERT_EQ(runChild(clean, kAlloc, 0, in, nullptr), 0);
  const Bytes want[2] = {clean.read("out0"), clean.read("out1")};
  for (Fault fault : {kAlloc, kFullDisk, kShortWrite}) {
    int runs[4] = {0, 0, 0, 0};
    long n = 1;
    for (;; ++n) {
      zktest::TestDir dir;
      const int code = runChild(dir, fault, n, in, want);
      ASSERT_GE(code, 0) << "crashed at site " << n;
      if (code >= 8) break;
      ++runs[code];
      int compiled = 0;
      for (const auto& e : fs::directory_iterator(dir.path())) {
        const std::string name = e.path().filename();
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name << ", site " << n;
        if (e.path().extension() != ".cmp") continue;
        ++compiled;
        EXPECT_EQ(dir.read(name), clean.read(name)) << name << " is not complete, site " << n;
      }
      // A failed write costs the compiled file only: the table is still filled.
      EXPECT_TRUE(fault == kAlloc || (code == 0 && compiled < 3)) << "site " << n;
    }
    std::printf("fault %d: %ld sites;", fault, n - 1);
    for (int k = 0; k < 4; ++k) std::printf(" %s: %d;", kOutcomes[k], runs[k]);
    std::printf("\n");
    EXPECT_GT(n, 1) << "no site was reached";
  }
}

}  // namespace
