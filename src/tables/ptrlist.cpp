#include "tables/ptrlist.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "defs/defs.h"

namespace zk {

static_assert(offsetof(CharsetDef, id) == offsetof(RuleDef, id),
              "ptrListFindById reads the id of both record kinds at one offset");

PtrList* ptrListCreate() { return static_cast<PtrList*>(std::calloc(1, sizeof(PtrList))); }

void ptrListDestroy(PtrList* list) {
  if (!list) return;
  std::free(list->items);
  std::free(list);
}

std::uint32_t ptrListAppend(PtrList* list, void* item) {
  if (!list || !item || list->count == 0xFFFF) return 0;
  // Grow by doubling: the array's capacity is implied by the count (the
  // next power of two), so appends stay cheap without another field.
  std::uint32_t n = list->count;
  if ((n & (n - 1)) == 0) {
    std::uint32_t cap = n ? n * 2 : 1;
    void** grown = static_cast<void**>(std::realloc(list->items, sizeof(void*) * cap));
    if (!grown) return 0;
    list->items = grown;
  }
  list->items[n] = item;
  list->count = static_cast<std::uint16_t>(n + 1);
  return n + 1;
}

void* ptrListFindById(const PtrList* list, std::uint32_t id) {
  if (!list) return nullptr;
  for (std::uint32_t i = 0; i < list->count; ++i) {
    auto* rec = static_cast<const unsigned char*>(list->items[i]);
    std::uint32_t itemId;
    std::memcpy(&itemId, rec + offsetof(CharsetDef, id), sizeof itemId);
    if (itemId == id) return list->items[i];
  }
  return nullptr;
}

}  // namespace zk
