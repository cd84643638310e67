// The operating-system services the library needs, behind one small
// interface: a lock shared by every process, the library's own file path,
// directory listing and atomic replacement of a file.
#ifndef ZRKVT16_PLATFORM_H
#define ZRKVT16_PLATFORM_H

#include <cstddef>
#include <cstdint>

namespace zk {

// A lock shared by every process on the machine that opens the same name.
// Re-entrant for the thread that holds it. A process that dies while holding
// it releases it. Returns null when the lock cannot be created; callers then
// run unguarded.
struct PlatformLock;
PlatformLock* platformLockCreate(const char* name);
void platformLockDestroy(PlatformLock* lock);
// Waits without time-out. True when the caller now holds the lock (a lock
// abandoned by a dead owner counts as held); false when the wait failed.
bool platformLockAcquire(PlatformLock* lock);
void platformLockRelease(PlatformLock* lock);

// Full path of the file the library was loaded from, NUL-terminated.
// False when it cannot be read or does not fit in `size` bytes.
bool platformModulePath(char* buf, std::size_t size);

// The separator the platform prefers when it forms paths.
extern const char kPathSeparator;

// Calls `fn` for every regular file in `dir` (which ends with a separator)
// whose name ends in ".xml" (any case), in byte order of the names.
// Returns the number of entries listed, or -1 when the directory cannot be read.
using PlatformListFn = void (*)(const char* name, void* ctx);
int platformListXml(const char* dir, PlatformListFn fn, void* ctx);

// Replaces `to` with `from` in one step, so that no reader ever sees a
// half-written `to`. False when that fails (`from` is then removed).
bool platformReplaceFile(const char* from, const char* to);

// Removes what processes that died while compiling left beside the compiled
// file `compiled`: the files named `compiled` followed by ".tmp" and anything.
// Only for a caller that holds the table lock, under which every compiled
// file is written: no live process is writing one of them then.
void platformRemoveStaleTemps(const char* compiled);

// A number that tells this process from others running at the same time.
std::uint32_t platformProcessId();

}  // namespace zk

#endif
