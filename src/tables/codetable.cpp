#include "tables/codetable.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

namespace zk {

std::atomic<std::uint32_t> gTableEpoch{0};

// Slabs come from the ordinary heap, 4 KB for a table's first and twice the
// size for each next one up to 64 KB, which stays below the size from which
// the C library maps each block on its own: a small table (most hold a few
// hundred codes) then takes no mapping of its own, which costs a system call
// to make and one to free. Only what is handed out is touched, and cleared
// then, so a slab's unused end costs no memory.
constexpr std::uint32_t kFirstSlabBytes = 4 * 1024;
constexpr std::uint32_t kMaxSlabBytes = 64 * 1024;

struct CodeSlab {
  CodeSlab* next;
  unsigned char* bytes;  // 64-byte aligned, inside the same block
  std::uint32_t size;    // bytes at `bytes`
};

CodeTable* ctableCreate(std::uint16_t width, std::uint32_t direction) {
  auto* t = static_cast<CodeTable*>(std::calloc(1, sizeof(CodeTable)));
  if (!t) return nullptr;
  new (&t->loaded) std::atomic<std::uint32_t>(0);
  t->blocks = ptrListCreate();
  if (!t->blocks) {
    std::free(t);
    return nullptr;
  }
  t->width = width;
  t->direction = direction;
  t->loadAttempts = -1;
  return t;
}

namespace {

// Frees the blocks (not their list), the upper page index and the slabs.
void freeContents(CodeTable* t) {
  for (std::uint32_t i = 0; t->blocks && i < t->blocks->count; ++i) std::free(t->blocks->items[i]);
  if (t->high) {
    for (CodePage** mid : *t->high) std::free(mid);
    std::free(t->high);
    t->high = nullptr;
  }
  while (t->slabs) {
    CodeSlab* next = t->slabs->next;
    std::free(t->slabs);
    t->slabs = next;
  }
}

}  // namespace

void ctableDestroy(CodeTable* t) {
  if (!t) return;
  freeContents(t);
  ptrListDestroy(t->blocks);
  std::free(t);
}

void ctableClear(CodeTable* t) {
  freeContents(t);
  std::free(t->blocks->items);
  t->blocks->items = nullptr;
  t->blocks->count = 0;
  std::memset(t->flat, 0, sizeof t->flat);
  t->slabLeft = 0;
  t->minKey = t->maxKey = 0;
  t->hasEntries = 0;
}

void ctableListDestroy(PtrList* list) {
  if (!list) return;
  for (std::uint32_t i = 0; i < list->count; ++i) ctableDestroy(static_cast<CodeTable*>(list->items[i]));
  ptrListDestroy(list);
}

namespace {

// Zeroed, 64-byte aligned memory from the table's slabs; sizes are
// multiples of 64 and at most kFirstSlabBytes.
void* slabTake(CodeTable* t, std::uint32_t size) {
  if (t->slabLeft < size) {
    const std::uint32_t bytes =
        !t->slabs ? kFirstSlabBytes
                  : (t->slabs->size < kMaxSlabBytes ? 2 * t->slabs->size : kMaxSlabBytes);
    auto* slab = static_cast<CodeSlab*>(std::malloc(sizeof(CodeSlab) + 63 + bytes));
    if (!slab) return nullptr;
    const auto start = reinterpret_cast<std::uintptr_t>(slab + 1);
    slab->bytes = reinterpret_cast<unsigned char*>((start + 63) & ~std::uintptr_t{63});
    slab->size = bytes;
    slab->next = t->slabs;
    t->slabs = slab;
    t->slabLeft = bytes;
  }
  void* p = t->slabs->bytes + (t->slabs->size - t->slabLeft);
  t->slabLeft -= size;
  std::memset(p, 0, size);
  return p;
}

static_assert(sizeof(CodePage) % 64 == 0 && sizeof(CodeChunk) % 64 == 0, "slab alignment");
static_assert(sizeof(CodePage) <= kFirstSlabBytes && sizeof(CodeChunk) <= kFirstSlabBytes);

CodePage* newPage(CodeTable* t) { return static_cast<CodePage*>(slabTake(t, sizeof(CodePage))); }

// The chunk of `key` in its page, made (zero-filled) when it does not exist yet.
CodeChunk* chunkFor(CodeTable* t, CodePage* page, std::uint32_t key) {
  CodeChunk*& chunk = page->chunks[(key & 0xFFF) / kChunkKeys];
  if (!chunk) chunk = static_cast<CodeChunk*>(slabTake(t, sizeof(CodeChunk)));
  return chunk;
}

// The page of `key`, made (zero-filled) when it does not exist yet.
CodePage* pageFor(CodeTable* t, std::uint32_t key) {
  if (key < kFlatKeys) {
    CodePage*& page = t->flat[key >> 12];
    if (!page) page = newPage(t);
    return page;
  }
  if (!t->high) {
    t->high = static_cast<CodePage** (*)[256]>(std::calloc(1, sizeof *t->high));
    if (!t->high) return nullptr;
  }
  CodePage**& mid = (*t->high)[key >> 24];
  if (!mid) {
    mid = static_cast<CodePage**>(std::calloc(4096, sizeof(CodePage*)));
    if (!mid) return nullptr;
  }
  CodePage*& page = mid[(key >> 12) & 0xFFF];
  if (!page) page = newPage(t);
  return page;
}

// Marks [first, last] covered; the range spans at most two aligned pages,
// both of which already exist. Whole 64-bit words at a time.
void cover(CodeTable* t, std::uint32_t first, std::uint32_t last) {
  for (std::uint64_t k = first; k <= last;) {
    CodePage* page = pageFor(t, static_cast<std::uint32_t>(k));
    const std::uint64_t pageEnd = (k | 0xFFF) < last ? (k | 0xFFF) : last;
    std::uint32_t i = static_cast<std::uint32_t>(k) & 0xFFF;
    const std::uint32_t end = static_cast<std::uint32_t>(pageEnd) & 0xFFF;
    while (i <= end) {
      const std::uint32_t bit = i & 63;
      const std::uint32_t n = end - i + 1 < 64 - bit ? end - i + 1 : 64 - bit;
      const std::uint64_t mask = n == 64 ? ~std::uint64_t{0} : ((std::uint64_t{1} << n) - 1) << bit;
      page->covered[i >> 6] |= mask;
      i += n;
    }
    k = pageEnd + 1;
  }
}

std::uint32_t cutToWidth(std::uint32_t value, std::uint16_t width) {
  return width >= 4 ? value : value & ((std::uint32_t{1} << (8 * width)) - 1);
}

}  // namespace

int ctableSet(CodeTable* t, std::uint32_t key, std::uint32_t value) {
  CodePage* covering = const_cast<CodePage*>(ctablePage(t, key));
  if (covering && ctableCovers(t, key) && t->hasEntries) {
    // A key some block already covers: at most its chunk to make.
    CodeChunk* chunk = chunkFor(t, covering, key);
    if (!chunk) return 0;
    chunk->values[key % kChunkKeys] = cutToWidth(value, t->width);
    if (key < t->minKey) t->minKey = key;
    else if (key > t->maxKey) t->maxKey = key;
    return 1;
  }
  if (!ctableCovers(t, key)) {
    // A new block starts at the key itself. Make every page it touches, and
    // the key's chunk, before changing anything, so that no memory failure
    // leaves it half made.
    std::uint32_t last = key > 0xFFFFFFFFu - (kBlockKeys - 1) ? 0xFFFFFFFFu : key + (kBlockKeys - 1);
    auto* block = static_cast<CodeBlock*>(std::malloc(sizeof(CodeBlock)));
    CodePage* first = block ? pageFor(t, key) : nullptr;
    if (!first || !pageFor(t, last) || !chunkFor(t, first, key) || !ptrListAppend(t->blocks, block)) {
      std::free(block);
      return 0;
    }
    block->firstKey = key;
    block->limitKey = last + 1;
    block->width = t->width;
    cover(t, key, last);
  }
  CodeChunk* chunk = chunkFor(t, pageFor(t, key), key);
  if (!chunk) return 0;  // only for a covered key of a table without entries
  chunk->values[key % kChunkKeys] = cutToWidth(value, t->width);
  if (t->minKey == 0 && t->hasEntries == 0) {
    t->hasEntries = 1;
    t->minKey = t->maxKey = key;
  } else if (key < t->minKey) {
    t->minKey = key;
  } else if (key > t->maxKey) {
    t->maxKey = key;
  }
  return 1;
}

namespace {

template <bool kKeyFirst>
std::size_t setRecords(CodeTable* t, const std::uint8_t* records, std::size_t count) {
  const std::uint32_t mask = cutToWidth(0xFFFFFFFFu, t->width);
  // The page of the key stored last: consecutive keys mostly share it, and
  // where a block already covers the key, storing is one write. The key range
  // of those writes is folded into minKey and maxKey before the next
  // ctableSet and at the end, which gives the same range as key by key.
  CodePage* page = nullptr;
  std::uint32_t pageNo = 0, lo = 0, hi = 0;
  const auto fold = [&] {
    if (!page) return;
    if (lo < t->minKey) t->minKey = lo;
    if (hi > t->maxKey) t->maxKey = hi;
  };
  for (std::size_t i = 0; i < count; ++i) {
    const std::uint8_t* p = records + 8 * i;
    const std::uint32_t first = p[0] | p[1] << 8 | p[2] << 16 | std::uint32_t{p[3]} << 24;
    const std::uint32_t second = p[4] | p[5] << 8 | p[6] << 16 | std::uint32_t{p[7]} << 24;
    const std::uint32_t key = kKeyFirst ? first : second, value = kKeyFirst ? second : first;
    const std::uint32_t at = key & 0xFFF;
    if (page && key >> 12 == pageNo && ((page->covered[at >> 6] >> (at & 63)) & 1)) {
      CodeChunk* chunk = page->chunks[at / kChunkKeys];
      // A chunk that cannot be made is left to ctableSet, which fails too.
      if (chunk || (chunk = chunkFor(t, page, key))) {
        chunk->values[at % kChunkKeys] = value & mask;
        lo = key < lo ? key : lo;
        hi = key > hi ? key : hi;
        continue;
      }
    }
    fold();
    if (!ctableSet(t, key, value)) return i;
    page = const_cast<CodePage*>(ctablePage(t, key));
    pageNo = key >> 12;
    lo = hi = key;
  }
  fold();
  return count;
}

}  // namespace

std::size_t ctableSetRecords(CodeTable* t, const std::uint8_t* records, std::size_t count,
                             bool keyFirst) {
  return keyFirst ? setRecords<true>(t, records, count) : setRecords<false>(t, records, count);
}

int ctableGet(const CodeTable* t, std::uint32_t key, std::uint32_t* value) {
  if (key < t->minKey || key > t->maxKey) return 0;
  const CodePage* page = ctablePage(t, key);
  if (!page || !ctableCovers(t, key)) return 0;
  const std::uint32_t v = ctableValueFast(t, key);
  *value = v;
  return key == 0 || v != 0;
}

std::uint32_t ctableValue(const CodeTable* t, std::uint32_t key) {
  if (key < t->minKey || key > t->maxKey) return 0;
  return ctableValueFast(t, key);
}

}  // namespace zk
