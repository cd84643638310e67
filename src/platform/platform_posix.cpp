// POSIX implementation of the platform interface.
//
// The table lock is an advisory lock (flock) on a fixed file in /tmp, which
// every process that uses the library opens: the kernel drops it when its
// holder dies, so an abandoned lock never blocks the others. Threads of one
// process are serialised by a recursive mutex first, which also makes the
// lock re-entrant for the thread that holds it.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "platform/platform.h"

namespace zk {

const char kPathSeparator = '/';

struct PlatformLock {
  std::recursive_mutex threads;
  char path[320];
  int fd;
  pid_t owner;  // process that opened fd
  int depth;    // nesting of the holding thread; guarded by `threads`
};

namespace {

int openLockFile(const char* path) {
  // Read-only is enough for flock, and lets every user open a lock file that
  // another user created.
  int fd = open(path, O_RDONLY | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) fd = open(path, O_RDONLY | O_CLOEXEC);
  return fd;
}

}  // namespace

PlatformLock* platformLockCreate(const char* name) {
  auto* lock = new (std::nothrow) PlatformLock;
  if (!lock) return nullptr;
  if (std::snprintf(lock->path, sizeof lock->path, "/tmp/%s.lock", name) >=
          static_cast<int>(sizeof lock->path) ||
      (lock->fd = openLockFile(lock->path)) < 0) {
    delete lock;
    return nullptr;
  }
  lock->owner = getpid();
  lock->depth = 0;
  return lock;
}

void platformLockDestroy(PlatformLock* lock) {
  if (!lock) return;
  close(lock->fd);
  delete lock;
}

bool platformLockAcquire(PlatformLock* lock) {
  if (!lock) return false;
  lock->threads.lock();
  if (lock->depth == 0) {
    // A forked child shares its parent's open file, and with it the flock:
    // it needs a descriptor of its own to be excluded from its parent.
    if (lock->owner != getpid()) {
      int fd = openLockFile(lock->path);
      if (fd < 0) {
        lock->threads.unlock();
        return false;
      }
      close(lock->fd);
      lock->fd = fd;
      lock->owner = getpid();
    }
    int rc;
    do rc = flock(lock->fd, LOCK_EX);
    while (rc != 0 && errno == EINTR);
    if (rc != 0) {
      lock->threads.unlock();
      return false;
    }
  }
  ++lock->depth;
  return true;
}

void platformLockRelease(PlatformLock* lock) {
  if (!lock) return;
  if (--lock->depth == 0) flock(lock->fd, LOCK_UN);
  lock->threads.unlock();
}

bool platformModulePath(char* buf, std::size_t size) {
  Dl_info info;
  if (size == 0 || !dladdr(reinterpret_cast<void*>(&platformModulePath), &info) ||
      !info.dli_fname)
    return false;
  const char* name = info.dli_fname;
  char resolved[4096];
  // dli_fname is the name the loader was given, which may be relative.
  if (name[0] != '/' && realpath(name, resolved)) name = resolved;
  std::size_t n = std::strlen(name);
  if (n + 1 > size) return false;
  std::memcpy(buf, name, n + 1);
  return true;
}

namespace {

bool endsWithXml(const char* name) {
  std::size_t n = std::strlen(name);
  if (n < 4) return false;
  const char* e = name + n - 4;
  return e[0] == '.' && (e[1] | 0x20) == 'x' && (e[2] | 0x20) == 'm' && (e[3] | 0x20) == 'l';
}

int byName(const void* a, const void* b) {
  return std::strcmp(*static_cast<char* const*>(a), *static_cast<char* const*>(b));
}

}  // namespace

int platformListXml(const char* dir, PlatformListFn fn, void* ctx) {
  DIR* d = opendir(dir);
  if (!d) return -1;
  char** names = nullptr;
  int count = 0, cap = 0;
  while (struct dirent* e = readdir(d)) {
    if (!endsWithXml(e->d_name)) continue;
    char full[4096];
    struct stat st;
    if (std::snprintf(full, sizeof full, "%s%s", dir, e->d_name) >= static_cast<int>(sizeof full) ||
        stat(full, &st) != 0 || !S_ISREG(st.st_mode))
      continue;
    if (count == cap) {
      int ncap = cap ? cap * 2 : 16;
      auto* grown = static_cast<char**>(std::realloc(names, sizeof(char*) * ncap));
      if (!grown) break;
      names = grown;
      cap = ncap;
    }
    char* copy = strdup(e->d_name);
    if (!copy) break;
    names[count++] = copy;
  }
  closedir(d);
  // readdir's order depends on the file system; sort for a stable one.
  if (count > 1) std::qsort(names, count, sizeof(char*), byName);
  for (int i = 0; i < count; ++i) {
    fn(names[i], ctx);
    std::free(names[i]);
  }
  std::free(names);
  return count;
}

bool platformReplaceFile(const char* from, const char* to) {
  if (std::rename(from, to) == 0) return true;
  std::remove(from);
  return false;
}

void platformRemoveStaleTemps(const char* compiled) {
  const char* slash = std::strrchr(compiled, '/');
  const std::size_t dirLen = slash ? static_cast<std::size_t>(slash + 1 - compiled) : 0;
  char path[4096], prefix[4096];
  if (std::snprintf(prefix, sizeof prefix, "%s.tmp", compiled + dirLen) >=
          static_cast<int>(sizeof prefix) ||
      dirLen >= sizeof path)
    return;
  std::memcpy(path, compiled, dirLen);
  path[dirLen] = '\0';
  DIR* d = opendir(dirLen ? path : ".");
  if (!d) return;
  const std::size_t n = std::strlen(prefix);
  while (struct dirent* e = readdir(d))
    if (std::strncmp(e->d_name, prefix, n) == 0 &&
        std::snprintf(path + dirLen, sizeof path - dirLen, "%s", e->d_name) <
            static_cast<int>(sizeof path - dirLen))
      unlink(path);
  closedir(d);
}

std::uint32_t platformProcessId() { return static_cast<std::uint32_t>(getpid()); }

}  // namespace zk
