// The operating-system services the library needs, behind one small
// interface implemented once per system (platform_posix.cpp,
// platform_win32.cpp): the table lock, the library's own file path,
// directory listing and the file operations of loading and compilation.
#ifndef ZRKVT16_PLATFORM_H
#define ZRKVT16_PLATFORM_H

#include <cstddef>
#include <cstdint>

namespace zk {

// The table lock. Threads of one process always exclude each other, and the
// lock is re-entrant for the thread that holds it. Across processes it is
// shared by every process that uses the same charset directory: on Windows
// through the named mutex `name`, elsewhere through a lock file in the
// directory, bound once the directory is fixed. A process that dies while
// holding it releases it. Create returns null when the lock cannot be made;
// callers then run unguarded.
struct PlatformLock;
PlatformLock* platformLockCreate(const char* name);
void platformLockDestroy(PlatformLock* lock);
// Binds the cross-process part to the charset directory `dir`; the first
// call counts, later ones cost a test. Called by a thread that holds the
// lock, which then also holds the new part. Only a process that may write the
// directory can open its lock file; one that cannot compiles nothing there
// (compiled files are published by rename) and stays unbound.
void platformLockBind(PlatformLock* lock, const char* dir);
// Waits without time-out. True when the caller now holds the lock (a lock
// abandoned by a dead owner counts as held); false when the wait failed.
bool platformLockAcquire(PlatformLock* lock);
void platformLockRelease(PlatformLock* lock);

// Full path of the file the library was loaded from (the executable's, in a
// statically linked program), NUL-terminated.
// False when it cannot be read or does not fit in `size` bytes.
bool platformModulePath(char* buf, std::size_t size);

// The separator the platform prefers when it forms paths.
extern const char kPathSeparator;

// Calls `fn` for every regular file in `dir` (which ends with a separator)
// whose name ends in ".xml" (any case), in byte order of the names.
// Returns the number of entries listed, or -1 when the directory cannot be read.
using PlatformListFn = void (*)(const char* name, void* ctx);
int platformListXml(const char* dir, PlatformListFn fn, void* ctx);

// Files, unbuffered and always in binary mode. A handle is a file
// descriptor or a Windows HANDLE; kNoFile when an open fails.
using PlatformFile = std::intptr_t;
constexpr PlatformFile kNoFile = -1;
// An existing regular file, for reading, and its size in bytes: kNoFile
// when it cannot be opened or its size cannot be told.
PlatformFile platformFileOpenRead(const char* path, std::int64_t* size);
// A new file for writing: fails when anything, a link included, already
// has that name, so a planted link can never redirect the write.
PlatformFile platformFileCreateNew(const char* path);
// Reads up to n bytes; fewer only at the end of the file or on an error.
std::size_t platformFileRead(PlatformFile f, void* buf, std::size_t n);
// Writes all n bytes; false when that fails (a full disk, a short write).
bool platformFileWrite(PlatformFile f, const void* buf, std::size_t n);
// Makes what was written durable, so that a file published after it never
// turns out empty or partial after a crash. False when that fails.
bool platformFileSync(PlatformFile f);
// False when the system reports an error of earlier writes.
bool platformFileClose(PlatformFile f);
bool platformFileRemove(const char* path);
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
