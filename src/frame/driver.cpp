// The conversion record's four exported calls. cconvConvert is a driver
// loop that never reads bytes itself: the source rule's dest function
// decodes one character into the record, the target rule's const function
// encodes it, and the driver only substitutes, skips and normalises.
#include <cstddef>
#include <cstring>
#include <initializer_list>

#include "defs/defs.h"
#include "engine/engine.h"
#include "frame/registry.h"
#include "frame/state.h"
#include "tables/codetable.h"
#include "zrkvt16.h"

namespace zk {

namespace {

// Names are turned into ids in a work copy of this size; longer names
// match no rule.
constexpr std::size_t kNameWork = 272;

// The rule of an encoding name, or null (unknown, or too long to copy).
RuleDef* ruleByName(const char* name) {
  if (!name) return nullptr;
  char work[kNameWork];
  const std::size_t n = strnlen(name, kNameWork);
  if (n >= kNameWork) return nullptr;
  std::memcpy(work, name, n + 1);
  return stateRuleById(registryCharsetId(work));
}

// Loads the tables of one direction of a rule's sets that are still on file.
void loadRuleTables(const RuleDef* rule, bool toCode) {
  const PtrList* sets = rule->charsets;
  if (!sets) return;
  bool locked = false;
  bool taken = false;
  for (std::uint32_t i = 0; i < sets->count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
    if (set->type == kSetUserArea) continue;
    CodeTable* t = toCode ? set->toCode : set->toUcs;
    if (!t || ctableIsLoaded(t) || t->sourceName[0] == '\0') continue;
    if (!locked) {
      taken = stateLock();
      locked = true;
    }
    if (!ctableIsLoaded(t)) ctableLoad(t);
  }
  if (locked) stateUnlock(taken);
}

void clearLibraryFields(CconvRecord* rec) {
  char* first = reinterpret_cast<char*>(&rec->status);
  char* end = reinterpret_cast<char*>(rec->langCurrent) + sizeof rec->langCurrent;
  std::memset(first, 0, static_cast<std::size_t>(end - first));
  std::memset(&rec->subNarrow, 0, sizeof rec->subNarrow);
  std::memset(&rec->subWide, 0, sizeof rec->subWide);
}

// The target's code for one replacement character in one set, 0 for none.
std::uint32_t substituteCode(const CharsetDef* set, std::uint32_t ucs) {
  const CodeTable* t = set->toCode;
  if (!t || !ctableIsLoaded(t)) return ucs;
  std::uint32_t code = 0;
  if (!ctableGet(t, ucs, &code)) return 0;
  return code;
}

// One search for the two substitutes with `replacement`; true when both are filled.
bool substituteAttempt(CconvRecord* rec, const RuleDef* rule, std::uint32_t replacement) {
  const PtrList* sets = rule->charsets;
  const std::uint32_t count = sets ? sets->count : 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
    if (set->type == kSetUserArea) continue;
    CconvSubstitute* subs[2] = {&rec->subNarrow, &rec->subWide};
    const std::uint32_t wanted[2] = {replacement & 0xFFFF, replacement >> 16};
    for (int k = 0; k < 2; ++k) {
      if (subs[k]->code != 0) continue;
      const std::uint32_t code = substituteCode(set, wanted[k]);
      if (code == 0) continue;
      subs[k]->charset = set->id;
      subs[k]->type = set->type;
      subs[k]->code = code;
      subs[k]->unit = set->bytenum;
    }
  }
  return rec->subNarrow.code != 0 && rec->subWide.code != 0;
}

void findSubstitutes(CconvRecord* rec, const RuleDef* rule) {
  std::uint32_t& replacement = rec->dstOptions.replacement;
  if (substituteAttempt(rec, rule, replacement)) return;
  // GETA MARK, then FULLWIDTH EQUALS SIGN, for wide characters; "?" for narrow ones.
  replacement = 0x3013003F;
  if (substituteAttempt(rec, rule, replacement)) return;
  replacement = 0xFF1D003F;
  if (substituteAttempt(rec, rule, replacement)) return;
  replacement = 0x003F003F;
}

// Whether a placed character waits in the record. The driver clears these
// fields before every decode, and no empty substitute is ever put in place,
// so all of them 0 means nothing was placed.
inline bool somethingPending(const CconvRecord* rec) {
  return rec->outUnit != 0 || rec->outSeqLen != 0 || rec->outCode != 0;
}

// Whether the placed character waiting in the record is a substitute.
inline bool pendingIsSubstitute(const CconvRecord* rec) {
  for (const CconvSubstitute* sub : {&rec->subNarrow, &rec->subWide})
    if (sub->code != 0 && rec->outCharset == sub->charset && rec->outCode == sub->code &&
        rec->outUnit == sub->unit)
      return true;
  return false;
}

inline void dropPending(CconvRecord* rec) {
  rec->outCode = 0;
  rec->outUnit = 0;
  rec->outSeqLen = 0;
  rec->ucs2 = 0;
}

inline bool isDriverState(std::uint32_t s) {
  return s == CCONV_CHAR || s == CCONV_NEED_INPUT || s == CCONV_NEXT || s == CCONV_OUTPUT_FULL;
}

// Buffer fields that would make a rule function read or write out of bounds.
inline bool buffersUnusable(const CconvRecord* rec) {
  if (rec->inPos < 0 || rec->outPos < 0 || rec->outSize < 0) return true;
  if (!rec->inBuf && rec->inPos < rec->inLen) return true;
  if (!rec->outBuf && rec->outSize > 0) return true;
  return rec->outPos > rec->outSize;
}

}  // namespace

}  // namespace zk

extern "C" ZRKVT16_API uint32_t cconvInitConvert(CconvRecord* rec, const CconvDstOptions* opts,
                                                 const char* target) {
  using namespace zk;
  if (!rec) return CCONV_ERROR;
  cconvLoadRule();
  zk::RuleDef* rule = ruleByName(target);
  clearLibraryFields(rec);
  if (!rule) {
    rec->status = CCONV_ERROR;
    return CCONV_ERROR;
  }
  loadRuleTables(rule, true);
  rec->dstId = rule->id;
  rec->dstRule = reinterpret_cast<::RuleDef*>(rule);
  rec->constEntry = registryRuleFunction(rule->constRule);
  if (opts)
    rec->dstOptions = *opts;
  else
    std::memset(&rec->dstOptions, 0, sizeof rec->dstOptions);
  // The caller's tag need not be terminated: keep at most 259 characters.
  rec->dstOptions.lang[sizeof rec->dstOptions.lang - 1] = '\0';
  if (rec->dstOptions.substitute) findSubstitutes(rec, rule);
  std::memcpy(rec->lang, rec->dstOptions.lang, sizeof rec->lang);
  std::memcpy(rec->langWritten, rec->dstOptions.lang, sizeof rec->langWritten);
  std::memcpy(rec->langCurrent, rec->dstOptions.lang, sizeof rec->langCurrent);
  rec->status = CCONV_OK;
  return CCONV_OK;
}

extern "C" ZRKVT16_API uint32_t cconvChgCharset(CconvRecord* rec, const CconvSrcOptions* opts,
                                                const char* source) {
  using namespace zk;
  if (!rec) return CCONV_ERROR;
  zk::RuleDef* rule = ruleByName(source);
  if (!rule) {
    rec->status = CCONV_ERROR;
    return CCONV_ERROR;
  }
  loadRuleTables(rule, false);
  rec->srcId = rule->id;
  rec->srcRule = reinterpret_cast<::RuleDef*>(rule);
  rec->destEntry = registryRuleFunction(rule->destRule);
  rec->inCharset = 0;
  rec->inCharsetType = 0;
  rec->inDesignation = kIdIso646Irv;
  rec->inPlane = 11;
  rec->rawCode = 0;
  rec->code = 0;
  rec->ucs = 0;
  rec->outCode = 0;
  if (opts)
    rec->srcOptions = *opts;
  else
    std::memset(&rec->srcOptions, 0, sizeof rec->srcOptions);
  rec->status = CCONV_OK;
  return CCONV_OK;
}

namespace zk {

namespace {
constexpr std::int32_t kBulkMinInput = 32;
}

std::uint32_t driverRun(CconvRecord* rec, bool useBulk) {
  const RuleFunction dest = rec->destEntry->fn;
  const RuleFunction encode = rec->constEntry->fn;
  const bool skipInvalid = rec->srcOptions.skipInvalid != 0;
  const bool newlines = rec->dstOptions.newlineConvert != 0;
  const bool substitute = rec->dstOptions.substitute != 0;
  if (!isDriverState(rec->status)) rec->status = CCONV_NEXT;
  // A full buffer with nothing placed (left by closing the output) has no
  // character to write again.
  if (rec->status == CCONV_OUTPUT_FULL && !somethingPending(rec)) rec->status = CCONV_NEXT;
  BulkPlan plan;
  // A few bytes go faster one by one than through making the bulk path's
  // memo for them.
  bool bulk = useBulk && rec->inLen - rec->inPos >= kBulkMinInput && bulkPrepare(rec, &plan);

  for (;;) {
    std::uint32_t status = rec->status;
    if (status == CCONV_NEXT || status == CCONV_NEED_INPUT) {
      // Ordinary characters go through the bulk path; the one it stops at
      // (and the last one it took) through the general path below.
      if (!bulk && plan.afterMarks && !rec->srcOptions.inDetectBom && !rec->dstOptions.outWriteBom)
        bulk = bulkPrepare(rec, &plan);
      if (bulk && status == CCONV_NEXT) bulkConvert(rec, plan);
      if (rec->inPos >= rec->inLen) {
        rec->status = CCONV_OK;
        return CCONV_OK;
      }
      // After NEED_INPUT no character came between: keep the one before, so
      // a CR LF split across calls is still one line end.
      if (status != CCONV_NEED_INPUT) rec->prevRawCode = rec->rawCode;
      rec->rawCode = 0;
      rec->code = 0;
      rec->ucs = 0;
      rec->outCode = 0;
      rec->outUnit = 0;
      rec->outSeqLen = 0;
      rec->ucs2 = 0;
      const std::int32_t before = rec->inPos;
      dest(rec);
      status = rec->status;
      if (status == CCONV_INVALID && skipInvalid) {
        // A skip always moves on, whatever the rule did with inPos.
        if (rec->inPos <= before) rec->inPos = before + 1;
        rec->status = CCONV_NEXT;
        continue;
      }
    }
    if (status == CCONV_CHAR || status == CCONV_OUTPUT_FULL) {
      // A pending character was normalised when it was first seen.
      if (newlines && status == CCONV_CHAR) {
        if (rec->rawCode == 0x0A) {
          if (rec->prevRawCode == 0x0D) {  // the LF of CR LF
            rec->status = CCONV_NEXT;
            continue;
          }
          rec->code = 0x0D;
          rec->ucs = 0x0D;
        } else if (rec->rawCode == 0x0D || rec->ucs == 0x2028 || rec->ucs == 0x2029) {
          rec->code = 0x0D;
          rec->ucs = 0x0D;
        }
      }
      // A substitute that the target refuses is not substituted again: the
      // rule would otherwise be asked for ever. Any other character is, even
      // when it turns out unmappable only on the retry after a full buffer.
      const bool mayReplace = status == CCONV_CHAR || !pendingIsSubstitute(rec);
      encode(rec);
      status = rec->status;
      if (status == CCONV_UNMAPPABLE && substitute && mayReplace) {
        const bool wide = rec->code > 0xFF;
        const CconvSubstitute* sub = wide ? &rec->subWide : &rec->subNarrow;
        // A target without a wide substitute still marks the spot with the
        // narrow one (and the other way round); with neither, the character
        // stays reported as unmappable instead of vanishing.
        if (sub->unit == 0 && sub->code == 0) sub = wide ? &rec->subNarrow : &rec->subWide;
        if (sub->unit == 0 && sub->code == 0) return CCONV_UNMAPPABLE;
        rec->outCharset = sub->charset;
        rec->outCharsetType = sub->type;
        rec->outCode = sub->code;
        rec->outUnit = sub->unit;
        rec->outSeqLen = 0;
        // The substitute stands for the whole character, combining mark included.
        rec->ucs2 = 0;
        rec->status = CCONV_OUTPUT_FULL;
        continue;
      }
    }
    if (status == CCONV_NEXT || status == CCONV_CHAR) continue;
    return status;
  }
}

}  // namespace zk

extern "C" ZRKVT16_API uint32_t cconvConvert(CconvRecord* rec) {
  using namespace zk;
  if (!rec) return CCONV_ERROR;
  if (!rec->destEntry || !rec->constEntry || !rec->destEntry->fn || !rec->constEntry->fn ||
      buffersUnusable(rec)) {
    rec->status = CCONV_ERROR;
    return CCONV_ERROR;
  }
  return driverRun(rec, true);
}

extern "C" ZRKVT16_API uint32_t cconvTermConvert(CconvRecord* rec) {
  if (!rec) return CCONV_ERROR;
  if (!rec->constEntry || !rec->constEntry->fn) {
    rec->status = CCONV_OK;
    return CCONV_OK;
  }
  using namespace zk;
  if (rec->status == CCONV_OUTPUT_FULL && somethingPending(rec)) {
    // A character still waits for room: it goes out before the output closes.
    rec->constEntry->fn(rec);
    if (rec->status != CCONV_NEXT) return rec->status;
  }
  // What closes the output is not a character: a later retry must not write
  // the last one again.
  dropPending(rec);
  rec->status = CCONV_TERMINATE;
  rec->constEntry->fn(rec);
  return rec->status;
}
