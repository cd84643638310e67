// PLACEHOLDER: replaced by the real implementation of this module.
#include "defs/reader.h"
#include "tables/codetable.h"

namespace zk {

int defOpen(const char*, std::uint32_t, std::uint32_t, DefDoc*) { return 0; }
void defClose(DefDoc*) {}
int defFindKey(const DefDoc*, const char*, std::uint32_t*) { return 0; }
int defFindElement(DefDoc*, const char*, std::uint32_t*, std::uint32_t*) { return 0; }
void defQuotedValue(const DefDoc*, std::uint32_t, char* out) { out[0] = 0; }
void defDomainValue(const DefDoc*, std::uint32_t, std::uint32_t, char* out) { out[0] = 0; }
std::uint16_t defBytenumValue(const DefDoc*, std::uint32_t, std::uint32_t) { return 2; }
int defHexNumber(const std::uint32_t*, std::uint32_t, std::uint32_t, std::uint32_t*, std::uint32_t*) { return 0; }
char* defEntityRef(const DefDoc*, std::uint32_t, std::uint32_t) { return nullptr; }
char* defEntityFile(DefDoc*, const char*) { return nullptr; }
int defBindTable(DefDoc*, const DefDoc*, std::uint32_t, std::uint32_t, CodeTable*, CodeTable*) { return 0; }
void splitPath(const char*, char* a, char* b, char* c, char* d) { a[0] = b[0] = c[0] = d[0] = 0; }

}  // namespace zk
