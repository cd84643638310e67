// Rule files and the loading pass. A rule file names one encoding, its pair
// of rule functions and its sets in the order the engine tries them; the
// pass reads every rule file of the charset directory once per process.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "defs/defs.h"
#include "frame/registry.h"
#include "frame/state.h"
#include "platform/platform.h"
#include "zrkvt16.h"

namespace zk {

namespace {

void copyName(char* dst, const char* src) {
  std::size_t n = src ? std::strlen(src) : 0;
  if (n > static_cast<std::size_t>(kFieldSize - 1)) n = kFieldSize - 1;
  if (n) std::memcpy(dst, src, n);
  dst[n] = '\0';
}

bool findFrom(DefDoc* doc, std::uint32_t from, const char* element, std::uint32_t* start,
              std::uint32_t* end) {
  doc->cursor = from;
  return defFindElement(doc, element, start, end) != 0;
}

// The value of `key` searched from `from`; false when the keyword is missing
// or its value does not fit its field.
bool keywordValue(DefDoc* doc, std::uint32_t from, const char* key, char* out,
                  std::uint32_t* past) {
  doc->cursor = from;
  return defFindKey(doc, key, past) && defQuotedValue(doc, *past, out);
}

// Registers a parsed set in the charset list (the first set of an id stays)
// and in the rule's own list. Takes ownership of `set`.
bool registerSet(RuleDef* rule, CharsetDef* set) {
  auto* known = static_cast<CharsetDef*>(ptrListFindById(gState.charsets, set->id));
  if (known) {
    charsetDefDestroy(set);
  } else if (ptrListAppend(gState.charsets, set)) {
    known = set;
  } else {
    charsetDefDestroy(set);
    return false;
  }
  return ptrListAppend(rule->charsets, known) != 0;
}

// The "dstable" elements inside the set element [setStart, setEnd).
PtrList* readDsTables(DefDoc* doc, std::uint32_t setStart, std::uint32_t setEnd) {
  PtrList* tables = ptrListCreate();
  if (!tables) return nullptr;
  std::uint32_t s, e;
  std::uint32_t from = setStart;
  while (findFrom(doc, from, "dstable", &s, &e) && e < setEnd) {
    if (CodeTable* t = parseDsTable(doc, s, e)) {
      if (!ptrListAppend(tables, t)) {
        ctableDestroy(t);
        ctableListDestroy(tables);
        return nullptr;
      }
    }
    from = e;
  }
  return tables;
}

// Steps after opening: false rejects the file. `*rule` is set once created,
// so that the caller can free it.
int readRuleFile(DefDoc* doc, RuleDef** out) {
  std::uint32_t cStart, cEnd, nStart, nEnd, s, e;
  if (!findFrom(doc, 0, "charset", &cStart, &cEnd)) return 0;
  if (!findFrom(doc, cStart, "name", &nStart, &nEnd)) return 0;
  char name[kFieldSize];
  if (!defElementText(doc, nStart, nEnd, name)) return 0;
  char lower[kFieldSize];
  std::memcpy(lower, name, sizeof lower);
  if (ptrListFindById(gState.rules, registryCharsetId(lower))) return 1;  // first file wins

  char constRule[kFieldSize] = "", destRule[kFieldSize] = "";
  if (findFrom(doc, nStart, "rule", &s, &e)) {
    std::uint32_t past;
    if (!keywordValue(doc, s, "construle=", constRule, &past)) return 0;
    if (!keywordValue(doc, past, "destrule=", destRule, &past)) return 0;
  }
  RuleDef* rule = ruleDefCreate(name, constRule, destRule);
  if (!rule) return 0;
  *out = rule;

  std::uint32_t pos = 0;
  for (;;) {
    std::uint32_t bS, bE, dS, dE;
    bool base = findFrom(doc, pos, "baseset", &bS, &bE);
    bool diff = findFrom(doc, pos, "diffset", &dS, &dE);
    CharsetDef* set;
    std::uint32_t setStart;
    if (base && (!diff || bS < dS)) {
      set = parseSubsetA(doc, bS, bE);
      setStart = bS;
      pos = bE;
    } else if (diff) {
      set = parseSubsetB(doc, dS, dE);
      setStart = dS;
      pos = dE;
    } else {
      break;
    }
    if (!set) return 0;
    PtrList* tables = readDsTables(doc, setStart, pos);
    if (!tables || !ptrListAppend(rule->dsTables, tables)) {
      ctableListDestroy(tables);
      charsetDefDestroy(set);
      return 0;
    }
    if (!registerSet(rule, set)) return 0;
  }
  if (findFrom(doc, pos, "eudcset", &s, &e)) {
    CharsetDef* set = parseCodecSet(doc, s, e);
    if (!set || !registerSet(rule, set)) return 0;
  }
  if (!ptrListAppend(gState.rules, rule)) return 0;
  *out = nullptr;  // the rule list owns it now
  return 1;
}

void loadListed(const char* name, void* ctx) {
  auto* count = static_cast<std::int32_t*>(ctx);
  if (loadDefinitionFile(name)) ++*count;
}

}  // namespace

RuleDef* ruleDefCreate(const char* name, const char* constRule, const char* destRule) {
  auto* rule = static_cast<RuleDef*>(std::calloc(1, sizeof(RuleDef)));
  if (!rule) return nullptr;
  copyName(rule->name, name);
  rule->id = registryCharsetId(rule->name);  // lower-cases the stored name
  copyName(rule->constRule, constRule);
  copyName(rule->destRule, destRule);
  rule->charsets = ptrListCreate();
  rule->dsTables = ptrListCreate();
  if (!rule->charsets || !rule->dsTables) {
    ruleDefDestroy(rule);
    return nullptr;
  }
  return rule;
}

void ruleDefDestroy(RuleDef* rule) {
  if (!rule) return;
  ptrListDestroy(rule->charsets);
  if (rule->dsTables) {
    for (std::uint32_t i = 0; i < rule->dsTables->count; ++i)
      ctableListDestroy(static_cast<PtrList*>(rule->dsTables->items[i]));
    ptrListDestroy(rule->dsTables);
  }
  std::free(rule);
}

CodeTable* parseDsTable(DefDoc* doc, std::uint32_t start, std::uint32_t end) {
  std::uint16_t width = 2;
  std::uint32_t past;
  doc->cursor = start;
  if (defFindKey(doc, "bytenum=", &past) && past <= end) {
    // Hexadecimal here, unlike the decimal "bytenum=" of a set file.
    std::uint32_t value;
    if (!defQuotedHex(doc, past, &value)) return nullptr;
    width = static_cast<std::uint16_t>(value);
  }
  CodeTable* t = ctableCreate(width, 0);
  if (!t) return nullptr;
  if (!defBindTable(doc, nullptr, start, end, t, nullptr)) {
    ctableDestroy(t);
    return nullptr;
  }
  return t;
}

int loadDefinitionFile(const char* path) {
  if (!gState.rules || !gState.charsets) return 0;
  DefDoc doc = {};
  if (!defOpenOnce(path, kTextUtf16, 0, &doc)) return 0;
  RuleDef* rule = nullptr;
  int accepted = readRuleFile(&doc, &rule);
  ruleDefDestroy(rule);  // null unless the file was rejected after creating it
  defClose(&doc);
  return accepted;
}

}  // namespace zk

extern "C" ZRKVT16_API int cconvLoadRule(void) {
  using namespace zk;
  if (!stateRulesLoaded()) {
    bool taken = stateLock();
    if (!stateRulesLoaded()) {
      std::int32_t count = 0;
      char dir[kFieldSize];
      defCacheBegin();
      if (stateCharsetDir(dir, kFieldSize)) platformListXml(dir, loadListed, &count);
      defCacheEnd();
      statePublishRulesLoaded(count);
    }
    stateUnlock(taken);
  }
  return gState.rulesLoadedCount > 0 ? 1 : 0;
}
