// Charset definitions (set files), rule definitions (rule files) and the
// once-per-process loading pass.
#ifndef ZRKVT16_DEFS_H
#define ZRKVT16_DEFS_H

#include <cstdint>

#include "defs/reader.h"
#include "tables/codetable.h"
#include "tables/ptrlist.h"

namespace zk {

enum CharsetType : std::uint16_t { kSetBase = 1, kSetDiff = 2, kSetUserArea = 3 };

struct CodeRange {
  std::uint32_t first;
  std::uint32_t last;
};
using CodeRanges = PtrList;  // of CodeRange, owned

struct CharsetDef {
  char name[260];  // must stay first, followed by id (ptrListFindById)
  std::uint32_t id;
  std::uint16_t type;
  std::uint16_t bytenum;  // 1 to 4: other values are refused at load
  char lang[260];
  CodeRanges* defined;
  CodeTable* toUcs;   // width 4, direction 1
  CodeTable* toCode;  // width bytenum, direction 0
  char basedon[260];
  std::uint16_t defStart;
  std::uint16_t defNumber;
};

struct RuleDef {
  char name[260];  // must stay first, followed by id (ptrListFindById)
  std::uint32_t id;
  char constRule[260];
  char destRule[260];
  PtrList* charsets;  // of CharsetDef*, owned by the charset list
  PtrList* dsTables;  // of PtrList* of CodeTable*, owned
};

CharsetDef* charsetDefCreate(const char* name, std::uint16_t type, std::uint16_t bytenum);
void charsetDefDestroy(CharsetDef* set);
CharsetDef* parseSubsetA(DefDoc* rule, std::uint32_t start, std::uint32_t end);
CharsetDef* parseSubsetB(DefDoc* rule, std::uint32_t start, std::uint32_t end);
CharsetDef* parseCodecSet(DefDoc* rule, std::uint32_t start, std::uint32_t end);
int parseDefined(const DefDoc* doc, std::uint32_t start, std::uint32_t end, CodeRanges* ranges);

RuleDef* ruleDefCreate(const char* name, const char* constRule, const char* destRule);
void ruleDefDestroy(RuleDef* rule);
CodeTable* parseDsTable(DefDoc* rule, std::uint32_t start, std::uint32_t end);
int loadDefinitionFile(const char* path);

}  // namespace zk

#endif
