// Process-wide state: the definition lists, the table lock and the charset
// directory. Created at load, torn down at unload.
#ifndef ZRKVT16_STATE_H
#define ZRKVT16_STATE_H

#include <atomic>
#include <cstdint>

#include "frame/registry.h"
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

// Charsets of the charset-name table, by the id's position in that table,
// filled once after the loading pass; gCharsetIndexed tells when.
extern CharsetDef* gCharsetIndex[kCharsetNameCount];
extern std::atomic<bool> gCharsetIndexed;

// The ids of the charset-name table come in four runs; their position in
// the table follows from the id alone.
inline int nameTableSlot(std::uint32_t id) {
  if (id >= 1001 && id <= 1012) return static_cast<int>(id - 1001);
  if (id >= 2001 && id <= 2011) return static_cast<int>(id - 2001 + 12);
  if (id >= 3001 && id <= 3004) return static_cast<int>(id - 3001 + 23);
  if (id >= 5000 && id <= 5003) return static_cast<int>(id - 5000 + 27);
  return -1;
}

// The search of the charset list that stateCharsetById falls back on.
CharsetDef* stateCharsetByIdSearch(std::uint32_t id);

// First CharsetDef of `id` in the charset list. Ids of the charset-name table
// are answered from an index made once after the loading pass. Inline, as the
// decoders ask for a constant id on every character.
inline CharsetDef* stateCharsetById(std::uint32_t id) {
  if (gCharsetIndexed.load(std::memory_order_acquire)) {
    const int slot = nameTableSlot(id);
    if (slot >= 0) return gCharsetIndex[slot];
  }
  return stateCharsetByIdSearch(id);
}
RuleDef* stateRuleById(std::uint32_t id);
// Builds the index; the loading pass calls it once the lists are complete.
void stateIndexCharsets();

// Attach and detach, run once at load and unload; exposed for tests.
bool stateAttach();
void stateDetach();

}  // namespace zk

#endif
