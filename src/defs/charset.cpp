// Set files: a base set ("subseta"), a difference set ("subsetb") or a
// user-defined area (codec file), each reached from a rule file through an
// entity and read into one CharsetDef. Every search positions the set
// document's cursor itself; the grammars are orders of searches.
#include <cstdlib>
#include <cstring>

#include "defs/defs.h"
#include "frame/registry.h"

namespace zk {

namespace {

// The conversion cores handle codes of 1 to 4 bytes; any other width is
// refused here so that it never reaches them.
bool usableBytenum(std::uint16_t n) { return n >= 1 && n <= 4; }

// Opens the set file named by the first entity reference in [start, end) of
// the rule document, with the rule document's encoding as the default.
bool openSetFile(DefDoc* rule, std::uint32_t start, std::uint32_t end, DefDoc* set) {
  char* entity = defEntityRef(rule, start, end);
  if (!entity) return false;
  char* file = defEntityFile(rule, entity);
  std::free(entity);
  if (!file) return false;
  int ok = defOpen(file, rule->encoding, rule->bigEndian, set);
  std::free(file);
  return ok != 0;
}

bool findFrom(DefDoc* doc, std::uint32_t from, const char* element, std::uint32_t* start,
              std::uint32_t* end) {
  doc->cursor = from;
  return defFindElement(doc, element, start, end) != 0;
}

// Skips the "range" elements that follow `from`; returns where the search
// for what comes after them begins.
std::uint32_t skipRanges(DefDoc* doc, std::uint32_t from) {
  std::uint32_t s, e;
  while (findFrom(doc, from, "range", &s, &e)) from = e;  // e > from: progress
  return from;
}

// name, lang and the code element that follow `from`: the head shared by
// "subseta" and "subsetb" files.
struct SetHead {
  char name[kFieldSize];
  char lang[kFieldSize];
  std::uint32_t codeStart, codeEnd;
  std::uint16_t bytenum;
};

bool readHead(DefDoc* set, std::uint32_t from, const char* codeElement, SetHead* head) {
  std::uint32_t s, e;
  if (!findFrom(set, from, "name", &s, &e) || !defElementText(set, s, e, head->name)) return false;
  if (!findFrom(set, e, "lang", &s, &e) || !defDomainValue(set, s, e, head->lang)) return false;
  if (!findFrom(set, e, codeElement, &head->codeStart, &head->codeEnd)) return false;
  head->bytenum = defBytenumValue(set, head->codeStart, head->codeEnd);
  return usableBytenum(head->bytenum);
}

// "defined" from `from`, then "srtable" after it (or from `from` when there is
// no "defined"); `srtableFrom` overrides where "srtable" is looked for then.
bool readDefinedAndTable(DefDoc* rule, DefDoc* set, CharsetDef* cs, std::uint32_t from,
                         std::uint32_t srtableFrom) {
  std::uint32_t s, e;
  if (findFrom(set, from, "defined", &s, &e)) {
    if (!parseDefined(set, s, e, cs->defined)) return false;
    srtableFrom = e;
  }
  if (findFrom(set, srtableFrom, "srtable", &s, &e) &&
      !defBindTable(rule, set, s, e, cs->toUcs, cs->toCode))
    return false;
  return true;
}

std::size_t boundedCopy(char* dst, const char* src) {
  std::size_t n = std::strlen(src);
  if (n > static_cast<std::size_t>(kFieldSize - 1)) n = kFieldSize - 1;
  std::memcpy(dst, src, n);
  dst[n] = '\0';
  return n;
}

}  // namespace

CharsetDef* charsetDefCreate(const char* name, std::uint16_t type, std::uint16_t bytenum) {
  auto* cs = static_cast<CharsetDef*>(std::calloc(1, sizeof(CharsetDef)));
  if (!cs) return nullptr;
  boundedCopy(cs->name, name);
  char lower[kFieldSize];
  std::memcpy(lower, cs->name, sizeof lower);
  cs->id = registryCharsetId(lower);
  cs->type = type;
  cs->bytenum = bytenum;
  cs->defined = ptrListCreate();
  cs->toUcs = ctableCreate(4, 1);
  cs->toCode = ctableCreate(bytenum, 0);
  if (!cs->defined || !cs->toUcs || !cs->toCode) {
    charsetDefDestroy(cs);
    return nullptr;
  }
  return cs;
}

void charsetDefDestroy(CharsetDef* cs) {
  if (!cs) return;
  if (cs->defined) {
    for (std::uint32_t i = 0; i < cs->defined->count; ++i) std::free(cs->defined->items[i]);
    ptrListDestroy(cs->defined);
  }
  ctableDestroy(cs->toUcs);
  ctableDestroy(cs->toCode);
  std::free(cs);
}

int parseDefined(const DefDoc* doc, std::uint32_t start, std::uint32_t end, CodeRanges* ranges) {
  std::uint32_t n = doc->text && doc->byteLen > 0 ? static_cast<std::uint32_t>(doc->byteLen) / 4 : 0;
  std::uint32_t first = start / 4, stop = end / 4 < n ? end / 4 : n;
  if (first >= stop) return 1;
  const std::uint32_t* cps = doc->text + first;
  const std::uint32_t limit = stop - first;
  std::uint32_t i = 0, next, value;
  while (defHexNumber(cps, i, limit, &next, &value)) {
    std::uint32_t last = value;
    if (next < limit && cps[next] == '-') {
      std::uint32_t next2, value2;
      if (!defHexNumber(cps, next + 1, limit, &next2, &value2)) {
        // A hyphen with nothing after it joins nothing; its first code goes too.
        i = next + 1;
        continue;
      }
      last = value2;
      next = next2;
    }
    auto* r = static_cast<CodeRange*>(std::malloc(sizeof(CodeRange)));
    if (!r) return 0;
    r->first = value;
    r->last = last;
    if (!ptrListAppend(ranges, r)) {
      std::free(r);
      return 0;
    }
    i = next;
  }
  return 1;
}

CharsetDef* parseSubsetA(DefDoc* rule, std::uint32_t start, std::uint32_t end) {
  DefDoc set = {};
  if (!openSetFile(rule, start, end, &set)) return nullptr;
  CharsetDef* cs = nullptr;
  SetHead head;
  std::uint32_t s, e;
  if (findFrom(&set, 0, "subseta", &s, &e) && readHead(&set, s, "code", &head)) {
    cs = charsetDefCreate(head.name, kSetBase, head.bytenum);
    std::uint32_t pos = cs ? skipRanges(&set, head.codeStart) : 0;
    if (cs && readDefinedAndTable(rule, &set, cs, pos, pos)) {
      boundedCopy(cs->lang, head.lang);
    } else {
      charsetDefDestroy(cs);
      cs = nullptr;
    }
  }
  defClose(&set);
  return cs;
}

CharsetDef* parseSubsetB(DefDoc* rule, std::uint32_t start, std::uint32_t end) {
  DefDoc set = {};
  if (!openSetFile(rule, start, end, &set)) return nullptr;
  CharsetDef* cs = nullptr;
  SetHead head;
  std::uint32_t s, e;
  if (findFrom(&set, 0, "subsetb", &s, &e) && readHead(&set, s, "codeb", &head)) {
    char basedon[kFieldSize] = "";
    std::uint32_t past;
    set.cursor = head.codeStart;
    bool ok = !defFindKey(&set, "basedon=", &past) || defQuotedValue(&set, past, basedon);
    cs = ok ? charsetDefCreate(head.name, kSetDiff, head.bytenum) : nullptr;
    if (cs) {
      boundedCopy(cs->basedon, basedon);
      if (readDefinedAndTable(rule, &set, cs, head.codeStart, head.codeEnd)) {
        boundedCopy(cs->lang, head.lang);
      } else {
        charsetDefDestroy(cs);
        cs = nullptr;
      }
    }
  }
  defClose(&set);
  return cs;
}

namespace {

// "start=" or "number=" searched from the start of "defrange" (not limited
// to it), as a 16-bit hexadecimal value.
bool defrangeValue(DefDoc* set, std::uint32_t from, const char* key, std::uint16_t* out) {
  set->cursor = from;
  std::uint32_t past, value;
  if (!defFindKey(set, key, &past) || !defQuotedHex(set, past, &value)) return false;
  *out = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace

CharsetDef* parseCodecSet(DefDoc* rule, std::uint32_t start, std::uint32_t end) {
  DefDoc set = {};
  if (!openSetFile(rule, start, end, &set)) return nullptr;
  CharsetDef* cs = nullptr;
  char name[kFieldSize];
  std::uint32_t s, e, cStart, cEnd;
  if (findFrom(&set, 0, "name", &s, &e) && defElementText(&set, s, e, name) &&
      findFrom(&set, e, "codec", &cStart, &cEnd)) {
    std::uint16_t bytenum = defBytenumValue(&set, cStart, cEnd);
    std::uint16_t defStart = 0, defNumber = 0;
    std::uint32_t pos = skipRanges(&set, cStart);
    bool ok = usableBytenum(bytenum);
    if (ok && findFrom(&set, pos, "defrange", &s, &e))
      ok = defrangeValue(&set, s, "start=", &defStart) &&
           defrangeValue(&set, s, "number=", &defNumber);
    cs = ok ? charsetDefCreate(name, kSetUserArea, bytenum) : nullptr;
    if (cs) {
      cs->defStart = defStart;
      cs->defNumber = defNumber;
    }
  }
  defClose(&set);
  return cs;
}

}  // namespace zk
