#include "frame/state.h"

#include <atomic>
#include <cstring>

#include "defs/defs.h"
#include "engine/memo.h"
#include "frame/registry.h"
#include "platform/platform.h"

namespace zk {

LibraryState gState;
const char kTableMutexName[] = "CtableMutex";
CharsetDef* gCharsetIndex[kCharsetNameCount];
std::atomic<bool> gCharsetIndexed{false};

namespace {

void tearDown() {
  memoFreeAll();
  if (gState.rules) {
    for (std::uint32_t i = 0; i < gState.rules->count; ++i)
      ruleDefDestroy(static_cast<RuleDef*>(gState.rules->items[i]));
    ptrListDestroy(gState.rules);
    gState.rules = nullptr;
  }
  if (gState.charsets) {
    for (std::uint32_t i = 0; i < gState.charsets->count; ++i)
      charsetDefDestroy(static_cast<CharsetDef*>(gState.charsets->items[i]));
    ptrListDestroy(gState.charsets);
    gState.charsets = nullptr;
  }
  gCharsetIndexed.store(false);
  std::memset(gCharsetIndex, 0, sizeof gCharsetIndex);
}

// Copies at most 259 characters and terminates at the 260th byte. Called
// with the table lock held; from now on the lock also spans the processes
// that use this directory.
void storeDir(const char* path) {
  std::strncpy(gState.charsetDir, path, sizeof gState.charsetDir - 1);
  gState.charsetDir[sizeof gState.charsetDir - 1] = '\0';
  platformLockBind(gState.tableMutex, gState.charsetDir);
}

}  // namespace

bool stateAttach() {
  if (gState.attachCount != 0) {
    ++gState.attachCount;
    return true;
  }
  gState.tableMutex = platformLockCreate(kTableMutexName);
  gState.rules = ptrListCreate();
  gState.charsets = ptrListCreate();
  if (!gState.rules || !gState.charsets) {
    tearDown();
    platformLockDestroy(gState.tableMutex);
    gState.tableMutex = nullptr;
    return false;
  }
  gState.attachCount = 1;
  return true;
}

void stateDetach() {
  if (gState.attachCount == 0) return;
  if (--gState.attachCount != 0) return;
  platformLockDestroy(gState.tableMutex);
  gState.tableMutex = nullptr;
  tearDown();
}

bool stateLock() {
  if (!gState.tableMutex || !platformLockAcquire(gState.tableMutex)) return false;
  // Binds a lock made after the directory was fixed (a later attach).
  if (gState.charsetDir[0] != '\0') platformLockBind(gState.tableMutex, gState.charsetDir);
  return true;
}

void stateUnlock(bool taken) {
  if (taken) platformLockRelease(gState.tableMutex);
}

char* stateCharsetDir(char* dst, int size) {
  if (gState.charsetDir[0] == '\0') {
    char def[260] = {0};
    char module[260] = {0};
    // The default is the library's own directory followed by "base2/"; a
    // path that cannot be read, or that would not leave room for the rest,
    // gives the relative "base2/".
    if (platformModulePath(module, 254)) {
      char* slash = std::strrchr(module, '/');
      char* back = std::strrchr(module, '\\');
      if (back > slash) slash = back;
      if (slash) {
        slash[1] = '\0';
        std::memcpy(def, module, std::strlen(module) + 1);  // at most 253 characters
      }
    }
    // Joined by hand: the formatted-output code of the C library would be
    // paged in for nothing else on a short run.
    const char tail[] = {'b', 'a', 's', 'e', '2', kPathSeparator, '\0'};
    std::memcpy(def + std::strlen(def), tail, sizeof tail);
    bool taken = stateLock();
    if (gState.charsetDir[0] == '\0') storeDir(def);
    stateUnlock(taken);
  }
  int n = static_cast<int>(std::strlen(gState.charsetDir));
  if (n >= size - 2) {
    if (dst && size > 0) dst[0] = '\0';
    return nullptr;
  }
  if (!dst) return nullptr;
  std::memcpy(dst, gState.charsetDir, n + 1);
  if (n == 0 || (dst[n - 1] != '/' && dst[n - 1] != '\\')) {
    dst[n] = kPathSeparator;
    dst[n + 1] = '\0';
  }
  return dst;
}

bool stateRulesLoaded() {
  return std::atomic_ref<std::uint32_t>(gState.rulesLoaded).load(std::memory_order_acquire) != 0;
}

void statePublishRulesLoaded(std::int32_t count) {
  gState.rulesLoadedCount = count;
  stateIndexCharsets();
  std::atomic_ref<std::uint32_t>(gState.rulesLoaded).store(1, std::memory_order_release);
}

void stateIndexCharsets() {
  for (int i = 0; i < kCharsetNameCount; ++i)
    gCharsetIndex[i] = static_cast<CharsetDef*>(ptrListFindById(gState.charsets, kCharsetNames[i].id));
  gCharsetIndexed.store(true, std::memory_order_release);
}

CharsetDef* stateCharsetByIdSearch(std::uint32_t id) {
  return static_cast<CharsetDef*>(ptrListFindById(gState.charsets, id));
}

RuleDef* stateRuleById(std::uint32_t id) {
  return static_cast<RuleDef*>(ptrListFindById(gState.rules, id));
}

}  // namespace zk

extern "C" ZRKVT16_API int KVT_setCharsetPath(const char* path) {
  using namespace zk;
  if (!path || !path[0]) return 1;
  bool taken = stateLock();
  int result = 0;
  if (gState.charsetDir[0] == '\0') {
    storeDir(path);
    result = 1;
  }
  stateUnlock(taken);
  return result;
}

extern "C" ZRKVT16_API const char* KVT_getCharsetPath(void) { return zk::gState.charsetDir; }
