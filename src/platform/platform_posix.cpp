// POSIX implementation of the platform interface.
//
// The table lock is an advisory lock (flock) on a file inside the charset
// directory, so only processes that share that directory share the lock.
// The file is opened for writing, which only those who may write the
// directory can do; nobody else can hold it and stall the others. The
// kernel drops the lock when its holder dies, so an abandoned lock never
// blocks anyone. Threads of one process are serialised by a recursive mutex
// first, which also makes the lock re-entrant for the thread that holds it.
#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/auxv.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/state.h"
#include "platform/platform.h"

namespace zk {

const char kPathSeparator = '/';

// Plain pthreads rather than std::recursive_mutex: the library then needs
// nothing from the C++ runtime, which a host need not load for it.
struct PlatformLock {
  pthread_mutex_t threads;
  char name[64];
  char path[PATH_MAX + 80];  // the bound lock file; empty while unbound
  int fd;                    // -1 while unbound
  pid_t owner;               // process that opened fd
  int depth;                 // nesting of the holding thread; guarded by `threads`
  bool flocked;              // the file lock is held; guarded by `threads`
  bool bindTried;            // guarded by `threads`
};

namespace {

// Opens the lock file for reading and writing: only a writer of the
// directory can. The process that creates it (`create`) gives it the
// directory's write permissions as read and write permissions, and none to
// anyone else, so that nobody who cannot write there can even open it.
int openLockFile(const char* path, bool create, mode_t dirMode) {
  const int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
  int fd = create ? open(path, flags | O_CREAT | O_EXCL, 0600) : -1;
  if (fd >= 0) {
    const mode_t w = dirMode & 0222;
    fchmod(fd, w | (w << 1));
  } else if (!create || errno == EEXIST) {
    fd = open(path, flags);
  }
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    fd = -1;
  }
  return fd;
}

bool takeFileLock(PlatformLock* lock) {
  int rc;
  do rc = flock(lock->fd, LOCK_EX);
  while (rc != 0 && errno == EINTR);
  lock->flocked = rc == 0;
  return lock->flocked;
}

}  // namespace

PlatformLock* platformLockCreate(const char* name) {
  auto* lock = static_cast<PlatformLock*>(std::calloc(1, sizeof(PlatformLock)));
  if (!lock) return nullptr;
  pthread_mutexattr_t attr;
  bool made = pthread_mutexattr_init(&attr) == 0;
  made = made && pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
         pthread_mutex_init(&lock->threads, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  if (!made) {
    std::free(lock);
    return nullptr;
  }
  // Names are joined by hand here and below: the formatted-output code of
  // the C library would be paged in for nothing else on a short run.
  const std::size_t nameLen = std::strlen(name);
  if (nameLen + sizeof ".lock" > sizeof lock->name) {
    pthread_mutex_destroy(&lock->threads);
    std::free(lock);
    return nullptr;
  }
  std::memcpy(lock->name, name, nameLen);
  std::memcpy(lock->name + nameLen, ".lock", sizeof ".lock");
  lock->path[0] = '\0';
  lock->fd = -1;
  lock->owner = getpid();
  lock->depth = 0;
  lock->flocked = false;
  lock->bindTried = false;
  return lock;
}

void platformLockDestroy(PlatformLock* lock) {
  if (!lock) return;
  if (lock->fd >= 0) close(lock->fd);
  pthread_mutex_destroy(&lock->threads);
  std::free(lock);
}

void platformLockBind(PlatformLock* lock, const char* dir) {
  if (!lock || !dir || !dir[0]) return;
  struct Guard {
    pthread_mutex_t* m;
    ~Guard() { pthread_mutex_unlock(m); }
  } guard{&lock->threads};
  pthread_mutex_lock(&lock->threads);
  if (lock->bindTried) return;
  lock->bindTried = true;
  // An absolute name, so that a forked child reopens the same file whatever
  // its working directory.
  char real[PATH_MAX];
  const char* base = dir;
  if (dir[0] != '/') {
    if (!realpath(dir, real)) return;
    base = real;
  }
  std::size_t baseLen = std::strlen(base);
  while (baseLen > 1 && base[baseLen - 1] == '/') --baseLen;
  char path[sizeof lock->path];
  const std::size_t nameLen = std::strlen(lock->name);
  if (baseLen + 1 + nameLen >= sizeof path) return;
  std::memcpy(path, base, baseLen);
  path[baseLen] = '/';
  std::memcpy(path + baseLen + 1, lock->name, nameLen + 1);
  // The file normally exists: open it; only its creator needs the
  // directory's permissions.
  int fd = openLockFile(path, false, 0);
  if (fd < 0 && errno == ENOENT) {
    struct stat st;
    path[baseLen] = '\0';
    const bool isDir = stat(path, &st) == 0 && S_ISDIR(st.st_mode);
    path[baseLen] = '/';
    if (isDir) fd = openLockFile(path, true, st.st_mode);
  }
  if (fd < 0) return;
  std::memcpy(lock->path, path, sizeof path);
  lock->fd = fd;
  lock->owner = getpid();
  // The section that fixed the directory goes on under the new lock too.
  if (lock->depth > 0) takeFileLock(lock);
}

bool platformLockAcquire(PlatformLock* lock) {
  if (!lock) return false;
  pthread_mutex_lock(&lock->threads);
  if (lock->depth == 0 && lock->fd >= 0) {
    // A forked child shares its parent's open file, and with it the flock:
    // it needs a descriptor of its own to be excluded from its parent.
    if (lock->owner != getpid()) {
      close(lock->fd);
      lock->fd = openLockFile(lock->path, false, 0);
      lock->owner = getpid();
    }
    // Without the file (it was removed) the threads are still excluded.
    if (lock->fd >= 0) takeFileLock(lock);
  }
  ++lock->depth;
  return true;
}

void platformLockRelease(PlatformLock* lock) {
  if (!lock) return;
  if (--lock->depth == 0 && lock->flocked) {
    flock(lock->fd, LOCK_UN);
    lock->flocked = false;
  }
  pthread_mutex_unlock(&lock->threads);
}

bool platformModulePath(char* buf, std::size_t size) {
  if (size == 0) return false;
  Dl_info info;
  const char* name = nullptr;
  char resolved[4096];
  if (dladdr(reinterpret_cast<void*>(&platformModulePath), &info)) {
    name = info.dli_fname;
  } else {
    // A statically linked program has no loader to ask: the library is part
    // of the executable, whose directory is then the library's. Without
    // /proc (a bare chroot) the name it was started by is resolved instead.
    ssize_t n = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
    if (n > 0) {
      resolved[n] = '\0';
      name = resolved;
    } else {
      const char* exec = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
      if (!exec || !realpath(exec, resolved)) return false;
      name = resolved;
    }
  }
  if (!name) return false;
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
    // The entry's own type answers for regular files without a stat call;
    // links and file systems that do not say are asked.
    if (e->d_type != DT_REG) {
      char full[4096];
      struct stat st;
      if (std::snprintf(full, sizeof full, "%s%s", dir, e->d_name) >= static_cast<int>(sizeof full) ||
          stat(full, &st) != 0 || !S_ISREG(st.st_mode))
        continue;
    }
    if (count == cap) {
      int ncap = cap ? cap * 2 : 16;
      auto* grown = static_cast<char**>(std::realloc(names, sizeof(char*) * ncap));
      if (!grown) break;
      names = grown;
      cap = ncap;
    }
    const std::size_t len = std::strlen(e->d_name) + 1;
    auto* copy = static_cast<char*>(std::malloc(len));
    if (!copy) break;
    std::memcpy(copy, e->d_name, len);
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

PlatformFile platformFileOpenRead(const char* path, std::int64_t* size) {
  int fd;
  // Non-blocking, so that a FIFO under a table's name cannot stall the open;
  // it makes no difference to reading a regular file.
  do fd = open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  while (fd < 0 && errno == EINTR);
  // One fstat tells both that it is a regular file and its size.
  struct stat st;
  if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    close(fd);
    fd = -1;
  }
  if (fd < 0) return kNoFile;
  *size = st.st_size;
  return fd;
}

PlatformFile platformFileCreateNew(const char* path) {
  // O_EXCL never follows a link in the last component; O_NOFOLLOW says so.
  int fd = open(path, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  return fd < 0 ? kNoFile : fd;
}

std::size_t platformFileRead(PlatformFile f, void* buf, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    ssize_t k = read(static_cast<int>(f), static_cast<char*>(buf) + got, n - got);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) break;
    got += static_cast<std::size_t>(k);
  }
  return got;
}

bool platformFileWrite(PlatformFile f, const void* buf, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    ssize_t k = write(static_cast<int>(f), static_cast<const char*>(buf) + done, n - done);
    if (k < 0 && errno == EINTR) continue;
    if (k <= 0) return false;
    done += static_cast<std::size_t>(k);
  }
  return true;
}

bool platformFileSync(PlatformFile f) {
  // EINVAL: a file system without synchronisation, where there is nothing to wait for.
  return fdatasync(static_cast<int>(f)) == 0 || errno == EINVAL;
}

bool platformFileClose(PlatformFile f) { return close(static_cast<int>(f)) == 0 || errno == EINTR; }

bool platformFileRemove(const char* path) { return unlink(path) == 0; }

bool platformReplaceFile(const char* from, const char* to) {
  if (rename(from, to) == 0) return true;
  unlink(from);
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

namespace {

// A shared object cannot refuse to load from here: when attaching fails,
// every call works as with an empty charset directory.
__attribute__((constructor)) void onLoad() { stateAttach(); }
__attribute__((destructor)) void onUnload() { stateDetach(); }

}  // namespace

}  // namespace zk
