// Win32 implementation of the platform interface, and the DLL's entry point.
//
// The table lock is the named mutex "CtableMutex" that every process loading
// the library opens, as the hosts of this interface expect. A Win32 mutex is
// re-entrant for its owning thread, and one whose owner ended without
// releasing it is handed to the next waiter as abandoned, which counts as
// held here: the section runs under the lock and releases it.
#include <windows.h>

#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/state.h"
#include "platform/platform.h"

namespace zk {

const char kPathSeparator = '\\';

struct PlatformLock {
  HANDLE mutex;
};

PlatformLock* platformLockCreate(const char* name) {
  HANDLE h = CreateMutexA(nullptr, FALSE, name);
  if (!h) return nullptr;
  auto* lock = static_cast<PlatformLock*>(std::malloc(sizeof(PlatformLock)));
  if (!lock) {
    CloseHandle(h);
    return nullptr;
  }
  lock->mutex = h;
  return lock;
}

void platformLockDestroy(PlatformLock* lock) {
  if (!lock) return;
  CloseHandle(lock->mutex);
  std::free(lock);
}

// The named mutex is shared by name, whatever the directory.
void platformLockBind(PlatformLock*, const char*) {}

bool platformLockAcquire(PlatformLock* lock) {
  if (!lock) return false;
  DWORD rc = WaitForSingleObject(lock->mutex, INFINITE);
  return rc == WAIT_OBJECT_0 || rc == WAIT_ABANDONED;
}

void platformLockRelease(PlatformLock* lock) {
  if (lock) ReleaseMutex(lock->mutex);
}

bool platformModulePath(char* buf, std::size_t size) {
  // The module that holds this code, whatever name it was loaded under.
  HMODULE self = nullptr;
  if (size == 0 || size > 0x7FFFFFFF ||
      !GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                              GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&platformModulePath), &self))
    return false;
  DWORD n = GetModuleFileNameA(self, buf, static_cast<DWORD>(size));
  // A path that filled the buffer was cut.
  if (n == 0 || n >= size) return false;
  buf[n] = '\0';
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
  char pattern[MAX_PATH + 8];
  if (std::snprintf(pattern, sizeof pattern, "%s*.xml", dir) >= static_cast<int>(sizeof pattern))
    return -1;
  struct _finddata64i32_t found;
  intptr_t h = _findfirst64i32(pattern, &found);
  if (h == -1) return 0;
  char** names = nullptr;
  int count = 0, cap = 0;
  do {
    // The pattern also matches short names ("*.xml" finds "a.xmlx" through
    // "A~1.XML"): the long name must end in ".xml" itself.
    if ((found.attrib & _A_SUBDIR) || !endsWithXml(found.name)) continue;
    if (count == cap) {
      int ncap = cap ? cap * 2 : 16;
      auto* grown = static_cast<char**>(std::realloc(names, sizeof(char*) * ncap));
      if (!grown) break;
      names = grown;
      cap = ncap;
    }
    const std::size_t len = std::strlen(found.name) + 1;
    auto* copy = static_cast<char*>(std::malloc(len));
    if (!copy) break;
    std::memcpy(copy, found.name, len);
    names[count++] = copy;
  } while (_findnext64i32(h, &found) == 0);
  _findclose(h);
  // The order of a listing depends on the file system; sort for a stable one.
  if (count > 1) std::qsort(names, count, sizeof(char*), byName);
  for (int i = 0; i < count; ++i) {
    fn(names[i], ctx);
    std::free(names[i]);
  }
  std::free(names);
  return count;
}

namespace {

HANDLE handleOf(PlatformFile f) { return reinterpret_cast<HANDLE>(f); }

PlatformFile fileOf(HANDLE h) {
  return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<PlatformFile>(h);
}

}  // namespace

PlatformFile platformFileOpenRead(const char* path, std::int64_t* size) {
  // Others may read, write, rename or delete meanwhile: a compiled file can
  // be replaced by another process while this one reads the old one.
  PlatformFile f = fileOf(CreateFileA(path, GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER n;
  if (f == kNoFile) return kNoFile;
  if (!GetFileSizeEx(handleOf(f), &n)) {
    CloseHandle(handleOf(f));
    return kNoFile;
  }
  *size = n.QuadPart;
  return f;
}

PlatformFile platformFileCreateNew(const char* path) {
  // CREATE_NEW fails when the name exists, as a link or anything else.
  return fileOf(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                            nullptr));
}

std::size_t platformFileRead(PlatformFile f, void* buf, std::size_t n) {
  std::size_t got = 0;
  while (got < n) {
    DWORD want = n - got > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n - got);
    DWORD k = 0;
    if (!ReadFile(handleOf(f), static_cast<char*>(buf) + got, want, &k, nullptr) || k == 0) break;
    got += k;
  }
  return got;
}

bool platformFileWrite(PlatformFile f, const void* buf, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    DWORD want = n - done > 0x40000000 ? 0x40000000 : static_cast<DWORD>(n - done);
    DWORD k = 0;
    if (!WriteFile(handleOf(f), static_cast<const char*>(buf) + done, want, &k, nullptr) || k == 0)
      return false;
    done += k;
  }
  return true;
}

bool platformFileSync(PlatformFile f) { return FlushFileBuffers(handleOf(f)) != 0; }

bool platformFileClose(PlatformFile f) { return CloseHandle(handleOf(f)) != 0; }

bool platformFileRemove(const char* path) { return DeleteFileA(path) != 0; }

bool platformReplaceFile(const char* from, const char* to) {
  if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING)) return true;
  DeleteFileA(from);
  return false;
}

void platformRemoveStaleTemps(const char* compiled) {
  char pattern[MAX_PATH + 8], path[MAX_PATH + 8];
  if (std::snprintf(pattern, sizeof pattern, "%s.tmp*", compiled) >= static_cast<int>(sizeof pattern))
    return;
  const char* cut = std::strrchr(compiled, '\\');
  const char* slash = std::strrchr(compiled, '/');
  if (!cut || (slash && slash > cut)) cut = slash;
  const std::size_t dirLen = cut ? static_cast<std::size_t>(cut + 1 - compiled) : 0;
  struct _finddata64i32_t found;
  intptr_t h = _findfirst64i32(pattern, &found);
  if (h == -1) return;
  // A file that another process still has open is not deleted: Windows
  // refuses, which is what keeps a compile in progress elsewhere intact.
  do {
    if (!(found.attrib & _A_SUBDIR) &&
        std::snprintf(path, sizeof path, "%.*s%s", static_cast<int>(dirLen), compiled, found.name) <
            static_cast<int>(sizeof path))
      DeleteFileA(path);
  } while (_findnext64i32(h, &found) == 0);
  _findclose(h);
}

std::uint32_t platformProcessId() { return GetCurrentProcessId(); }

}  // namespace zk

// Process attach makes the mutex and the two empty lists, and refuses the
// load when the lists cannot be made; the last detach frees everything.
// At process exit the system reclaims the memory, and other threads may have
// died holding the heap's lock, so nothing is freed then.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) return zk::stateAttach() ? TRUE : FALSE;
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) zk::stateDetach();
  return TRUE;
}
