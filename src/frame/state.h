// Process-wide state: the definition lists, the table lock and the charset
// directory. Created at load, torn down at unload.
#ifndef ZRKVT16_STATE_H
#define ZRKVT16_STATE_H

#include <cstdint>

#include "tables/ptrlist.h"

namespace zk {

struct CharsetDef;
struct RuleDef;
struct PlatformLock;

struct LibraryState {
  std::uint32_t attachCount;
  PlatformLock* tableMutex;  // null: every guarded section runs unguarded
  PtrList* rules;            // of RuleDef*
  PtrList* charsets;         // of CharsetDef*
  // Written once by the loading pass under the lock; read without it after.
  std::uint32_t rulesLoaded;  // atomic access only (stateRulesLoaded)
  std::int32_t rulesLoadedCount;
  char charsetDir[260];
};

extern LibraryState gState;

// Name of the lock shared by every process that uses the library.
extern const char kTableMutexName[];

// Takes the table lock when it exists; returns whether it was taken, which is
// what stateUnlock must be given.
bool stateLock();
void stateUnlock(bool taken);

// The charset directory with a guaranteed trailing separator, copied into
// `dst` of `size` bytes. Defaults the directory first when none is set.
// Returns dst, or null (with dst[0] cleared) when the directory does not fit
// (its length is at least size - 2). With dst null and size 0 it only
// establishes the default.
char* stateCharsetDir(char* dst, int size);

// The loading pass publishes its result through these.
bool stateRulesLoaded();
void statePublishRulesLoaded(std::int32_t count);

// First CharsetDef of `id` in the charset list. Ids of the charset-name table
// are answered from an index made once after the loading pass.
CharsetDef* stateCharsetById(std::uint32_t id);
RuleDef* stateRuleById(std::uint32_t id);
// Builds the index; the loading pass calls it once the lists are complete.
void stateIndexCharsets();

// Attach and detach, run once at load and unload; exposed for tests.
bool stateAttach();
void stateDetach();

}  // namespace zk

#endif
