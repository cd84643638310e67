// CodeTable: a sparse map from 32-bit keys to unsigned values of a fixed
// byte width, filled by the table loader and then only read.
//
// The table keeps the record of its blocks (ranges of 4096 keys starting at
// the key that made them, possibly overlapping; the earliest covering block
// owns a key). Because a key's owning block never changes once one covers
// it, the stored values form a plain map: the values themselves live in a
// two-level page index over aligned pages of 4096 keys, each split into
// chunks of 128 values made when a value is first stored there, so a look-up
// costs the same however many blocks the table has, and a table touches
// memory only near its keys (a JIS row of 94 codes fits one chunk).
#ifndef ZRKVT16_CODETABLE_H
#define ZRKVT16_CODETABLE_H

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "tables/ptrlist.h"

namespace zk {

constexpr std::uint32_t kBlockKeys = 4096;

struct CodeBlock {
  std::uint32_t firstKey;
  // firstKey + 4096; a block made for a key of 0xFFFFF000 or more is cut at
  // the top of the key space and has limitKey 0 (it covers up to 0xFFFFFFFF).
  std::uint32_t limitKey;
  std::uint16_t width;
};

constexpr std::uint32_t kChunkKeys = 128;

// Values (already cut to the table's width) of 128 aligned keys.
struct CodeChunk {
  std::uint32_t values[kChunkKeys];
};

// One aligned page of 4096 keys: its chunks (null where no value was ever
// stored: all 0) and which keys some block covers.
struct CodePage {
  CodeChunk* chunks[kBlockKeys / kChunkKeys];
  std::uint64_t covered[kBlockKeys / 64];
};

struct CodeTable {
  std::uint32_t direction;  // 1: first column is the key; 0: second column is
  std::uint16_t width;      // bytes per value (1 to 4; wider keeps 32 bits)
  std::uint32_t minKey;
  std::uint32_t maxKey;
  PtrList* blocks;  // of CodeBlock, in the order they were made
  char sourceName[260];
  std::uint32_t sourceEncoding;
  std::uint32_t sourceBigEndian;
  std::int32_t loadAttempts;
  std::atomic<std::uint32_t> loaded;  // release-stored by the loader
  std::uint32_t hasEntries;
  // Pages of keys below kFlatKeys, one load away: nearly every look-up
  // (Unicode's first two planes, JIS codes) lands there.
  CodePage* flat[32];
  // Pages of the keys above: (*high)[key >> 24][(key >> 12) & 0xFFF], made
  // when the first such key is stored.
  CodePage** (*high)[256];
  // Pages and chunks come from slabs of growing size, handed out in order
  // and cleared then, so that a table's memory stays together.
  struct CodeSlab* slabs;
  std::uint32_t slabLeft;  // bytes of the newest slab not handed out
};

constexpr std::uint32_t kFlatKeys = 32 * kBlockKeys;

// Advanced just before any table becomes loaded: tables change in no other
// way, so what was derived from them at one value still holds while it stays.
extern std::atomic<std::uint32_t> gTableEpoch;

CodeTable* ctableCreate(std::uint16_t width, std::uint32_t direction);
void ctableDestroy(CodeTable* table);
// Removes every block and value: the table is again as ctableCreate made it.
void ctableClear(CodeTable* table);
// Destroys every table of a PtrList of CodeTable, then the list.
void ctableListDestroy(PtrList* list);
// 1 when stored, 0 when memory ran out (the table is then unchanged).
int ctableSet(CodeTable* table, std::uint32_t key, std::uint32_t value);
// Stores `count` records of 8 bytes (two 32-bit columns, least significant
// byte first; the key is the first column when `keyFirst`) in order, with the
// same result as ctableSet on each. Returns how many were stored: fewer only
// when memory ran out, which stops it.
std::size_t ctableSetRecords(CodeTable* table, const std::uint8_t* records, std::size_t count,
                             bool keyFirst);
// Found: the key lies in [minKey, maxKey], a block covers it, and it is key 0
// or its value is not 0. `value` is written whenever a covering block exists.
int ctableGet(const CodeTable* table, std::uint32_t key, std::uint32_t* value);
// The stored value, or 0.
std::uint32_t ctableValue(const CodeTable* table, std::uint32_t key);
// Fills the table from its file (compiled or text); the caller holds the lock.
void ctableLoad(CodeTable* table);

inline bool ctableIsLoaded(const CodeTable* table) {
  return table->loaded.load(std::memory_order_acquire) != 0;
}

inline const CodePage* ctablePage(const CodeTable* table, std::uint32_t key) {
  if (key < kFlatKeys) return table->flat[key >> 12];
  if (!table->high) return nullptr;
  CodePage* const* mid = (*table->high)[key >> 24];
  return mid ? mid[(key >> 12) & 0xFFF] : nullptr;
}

// The hot-path look-up: the value stored for `key`, 0 when there is none.
inline std::uint32_t ctableValueFast(const CodeTable* table, std::uint32_t key) {
  const CodePage* page = ctablePage(table, key);
  if (!page) return 0;
  const CodeChunk* chunk = page->chunks[(key & 0xFFF) / kChunkKeys];
  return chunk ? chunk->values[key % kChunkKeys] : 0;
}

// Whether some block covers `key` (the distinction only matters for key 0).
inline bool ctableCovers(const CodeTable* table, std::uint32_t key) {
  const CodePage* page = ctablePage(table, key);
  if (!page) return false;
  std::uint32_t i = key & 0xFFF;
  return (page->covered[i >> 6] >> (i & 63)) & 1;
}

}  // namespace zk

#endif
