// PtrList: the growable list of pointers of every registry in the library.
#ifndef ZRKVT16_PTRLIST_H
#define ZRKVT16_PTRLIST_H

#include <cstdint>

namespace zk {

struct PtrList {
  std::uint16_t count;  // at most 65535
  void** items;         // owned array; null while count is 0
};

PtrList* ptrListCreate();
// Frees the array and the list, never the objects the entries point to.
void ptrListDestroy(PtrList* list);
// Returns the new count, or 0 (list unchanged) for a null list or item, no
// memory, or a list that already holds 65535 entries.
std::uint32_t ptrListAppend(PtrList* list, void* item);
// First entry, in list order, whose id equals `id`. Entries must be CharsetDef
// or RuleDef records, which both start with a name field and the id.
void* ptrListFindById(const PtrList* list, std::uint32_t id);

}  // namespace zk

#endif
