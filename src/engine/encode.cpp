// The encoding side shared by every const function: placing the decoded
// character in one of the target rule's sets (same set first, then through
// Unicode) and writing its code as bytes, whole or not at all.
#include "engine/engine.h"
#include "frame/state.h"
#include "rules/unicode.h"

namespace zk {

namespace {

struct JisPair {
  std::uint32_t code;
  std::uint32_t base;
  std::uint32_t combining;
};

// JIS X 0213 plane-1 characters that stand for a base and a combining code point.
constexpr JisPair kJisPairs[] = {
    {0x2477, 0x304B, 0x309A}, {0x2478, 0x304D, 0x309A}, {0x2479, 0x304F, 0x309A},
    {0x247A, 0x3051, 0x309A}, {0x247B, 0x3053, 0x309A}, {0x2577, 0x30AB, 0x309A},
    {0x2578, 0x30AD, 0x309A}, {0x2579, 0x30AF, 0x309A}, {0x257A, 0x30B1, 0x309A},
    {0x257B, 0x30B3, 0x309A}, {0x257C, 0x30BB, 0x309A}, {0x257D, 0x30C4, 0x309A},
    {0x257E, 0x30C8, 0x309A}, {0x2678, 0x31F7, 0x309A}, {0x2B44, 0x00E6, 0x0300},
    {0x2B48, 0x0254, 0x0300}, {0x2B49, 0x0254, 0x0301}, {0x2B4A, 0x028C, 0x0300},
    {0x2B4B, 0x028C, 0x0301}, {0x2B4C, 0x0259, 0x0300}, {0x2B4D, 0x0259, 0x0301},
    {0x2B4E, 0x025A, 0x0300}, {0x2B4F, 0x025A, 0x0301}, {0x2B65, 0x02E9, 0x02E5},
    {0x2B66, 0x02E5, 0x02E9}, {0, 0, 0},
};

// The pair rows lie in rows 0x24-0x2B of plane 1.
inline bool mayBePairCode(std::uint32_t code) { return code >= 0x2477 && code <= 0x2B66; }

constexpr std::uint32_t kControlExcluded = 0x2600;  // TAB, LF, CR

inline bool isBareControl(std::uint32_t code) {
  if (code == 0x7F) return true;
  return code < 0x20 && ((kControlExcluded >> code) & 1) == 0;
}

inline void placeIn(CconvRecord* rec, const CharsetDef* set, std::uint32_t code) {
  rec->outCharset = set->id;
  rec->outCharsetType = set->type;
  rec->outCode = code;
  rec->outUnit = set->bytenum;
}

// ucs and ucs2 of a character whose decoder gave only its set and code.
[[gnu::noinline]] void deriveUcs(CconvRecord* rec) {
  const CharsetDef* set = stateCharsetById(rec->inCharset);
  if (!set) return;
  if (set->id == kIdJisX0213) {
    std::uint32_t base = 0;
    std::uint32_t comb = 0;
    if (jisPairOfCode(rec->code, &base, &comb)) {
      rec->ucs = base;
      rec->ucs2 = comb;
      return;
    }
  }
  const CodeTable* t = set->toUcs;
  rec->ucs = (t && ctableIsLoaded(t)) ? ctableValueFast(t, rec->code) : rec->code;
}

// The control fallback: a control code without a Unicode value is written
// as itself in the rule's Roman set, or else in its narrowest set.
[[gnu::noinline]] int placeControl(CconvRecord* rec, const PtrList* sets) {
  const std::uint32_t code = rec->code;
  if (!isBareControl(code) || !sets || sets->count == 0) return 0;
  const CharsetDef* pick = nullptr;
  for (std::uint32_t i = 0; i < sets->count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
    if (set->id == kIdIso646Irv || set->id == kIdJisX0201Latin) {
      pick = set;
      break;
    }
  }
  if (!pick) {
    for (std::uint32_t i = 0; i < sets->count; ++i) {
      const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
      if (!pick || set->bytenum < pick->bytenum) pick = set;
    }
  }
  placeIn(rec, pick, code);
  return 1;
}

// A combining code point left beside a base that the target placed on its
// own goes through the same set's table, so the second unit is a code of
// the target and not a raw Unicode value. 0 when that set cannot write it.
int placeCombining(CconvRecord* rec, const CharsetDef* set, std::uint32_t dsIndex,
                   const RuleDef* rule) {
  const CodeTable* t = set->toCode;
  if (!t || !ctableIsLoaded(t)) return 1;  // identity set: the code point is the code
  std::uint32_t value = 0;
  if (ctableGet(t, rec->ucs2, &value) && value != 0) {
    rec->ucs2 = value;
    return 1;
  }
  const PtrList* ds = rule->dsTables;
  std::uint16_t seqLen = 0;
  if (ds && dsIndex < ds->count && rec->outSeqLen == 0 &&
      dsLookup(static_cast<const PtrList*>(ds->items[dsIndex]), rec->ucs2, &value, &seqLen) &&
      seqLen == set->bytenum) {
    rec->ucs2 = value;
    return 1;
  }
  return 0;
}

// Whether the transform can express what was placed; a code it maps to 0
// would otherwise come out as bytes of 0x00.
bool expressible(const CconvRecord* rec, CodeTransform transform) {
  if (!transform || rec->outSeqLen != 0) return true;
  const std::uint32_t code = rec->outCode;
  const bool lineEnd = rec->dstOptions.newlineConvert && code == 0x0D;
  if (!lineEnd && code >= 0x100 && transform(code) == 0) return false;
  if (rec->ucs2 >= 0x100 && !lineEnd && transform(rec->ucs2) == 0) return false;
  return true;
}

}  // namespace

int jisPairOfCode(std::uint32_t code, std::uint32_t* base, std::uint32_t* combining) {
  if (!mayBePairCode(code)) return 0;
  for (const JisPair* row = kJisPairs; row->code != 0; ++row) {
    if (row->code == code) {
      *base = row->base;
      *combining = row->combining;
      return 1;
    }
  }
  return 0;
}

int jisIsPair(std::uint32_t base, std::uint32_t combining) {
  if (!ucsIsPairMark(combining)) return 0;  // keeps the search off ordinary characters
  for (const JisPair* row = kJisPairs; row->code != 0; ++row)
    if (row->base == base && row->combining == combining) return 1;
  return 0;
}

namespace {

std::uint32_t pairCode(std::uint32_t base, std::uint32_t combining) {
  for (const JisPair* row = kJisPairs; row->code != 0; ++row)
    if (row->base == base && row->combining == combining) return row->code;
  return 0;
}

}  // namespace

int placeDirect(CconvRecord* rec, const RuleDef* rule) {
  const PtrList* sets = rule ? rule->charsets : nullptr;
  const std::uint32_t count = sets ? sets->count : 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
    if (set->type == kSetUserArea) {
      if (rec->ucs >= 0xE000 && rec->ucs < 0xE000u + set->defNumber) {
        placeIn(rec, set, set->defStart + (rec->ucs - 0xE000));
        return 1;
      }
    } else if (set->id == rec->inCharset) {
      placeIn(rec, set, rec->code);
      // A JIS X 0213 code already stands for its whole pair.
      if (set->id == kIdJisX0213) rec->ucs2 = 0;
      return 1;
    }
  }
  rec->status = CCONV_UNMAPPABLE;
  return 0;
}

namespace {

// The rarer half of placing through Unicode, kept out of the per-character path.
[[gnu::noinline]] int placeViaUcsSlow(CconvRecord* rec, const RuleDef* rule, std::uint32_t from) {
  const PtrList* sets = rule->charsets;
  const std::uint32_t ucs = rec->ucs;
  for (std::uint32_t i = from; i < sets->count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
    if (set->type == kSetUserArea) continue;
    const CodeTable* t = set->toCode;
    std::uint32_t code = 0;
    std::uint16_t seqLen = 0;
    bool taken = false;
    if (!t || !ctableIsLoaded(t)) {
      code = ucs;
      taken = true;
    } else if (ctableGet(t, ucs, &code)) {
      taken = true;
    } else {
      const PtrList* ds = rule->dsTables;
      if (ds && i < ds->count &&
          dsLookup(static_cast<const PtrList*>(ds->items[i]), ucs, &code, &seqLen))
        taken = true;
    }
    if (!taken) continue;
    placeIn(rec, set, code);
    rec->outSeqLen = seqLen;
    if (rec->ucs2 != 0) {
      if (set->id == kIdJisX0213 && ucsIsPairMark(rec->ucs2)) {
        const std::uint32_t pair = pairCode(ucs, rec->ucs2);
        if (pair != 0) {
          rec->outCode = pair;
          rec->ucs2 = 0;
          return 1;
        }
      }
      if (!placeCombining(rec, set, i, rule)) return 0;
    }
    return 1;
  }
  return placeControl(rec, sets);
}

}  // namespace

int placeViaUcs(CconvRecord* rec, const RuleDef* rule) {
  if (rec->ucs == 0 && rec->code != 0) deriveUcs(rec);
  const PtrList* sets = rule ? rule->charsets : nullptr;
  // No Unicode value (and not a NUL): only the control fallback can place it.
  if (rec->ucs == 0 && rec->rawCode != 0) return placeControl(rec, sets);
  if (!sets) return 0;
  // The common case inline: a set whose own table (or identity) has the
  // character, and no combining code point to see to. Everything else, from
  // the first set that needs more, goes the long way.
  const std::uint32_t ucs = rec->ucs;
  const std::uint32_t count = sets->count;
  for (std::uint32_t i = 0; i < count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
    if (set->type == kSetUserArea) continue;
    const CodeTable* t = set->toCode;
    std::uint32_t code = ucs;
    if (t && ctableIsLoaded(t)) {
      code = (ucs < t->minKey || ucs > t->maxKey) ? 0 : ctableValueFast(t, ucs);
      if (code == 0) {
        // A set that surely cannot take the character is passed over here;
        // anything the long way might still find (or load) goes that way.
        if (ucs != 0 && dsSurelyMisses(rule, i, ucs)) continue;
        return placeViaUcsSlow(rec, rule, i);
      }
    }
    if (rec->ucs2 != 0) return placeViaUcsSlow(rec, rule, i);
    placeIn(rec, set, code);
    rec->outSeqLen = 0;
    return 1;
  }
  return placeControl(rec, sets);
}

int placeChar(CconvRecord* rec) {
  if (rec->status == CCONV_OUTPUT_FULL) return 1;
  if (rec->status == CCONV_TERMINATE) {
    rec->status = CCONV_OK;
    return 0;
  }
  const RuleDef* rule = reinterpret_cast<const RuleDef*>(rec->dstRule);
  if (placeDirect(rec, rule) || placeViaUcs(rec, rule)) return 1;
  rec->status = CCONV_UNMAPPABLE;
  return 0;
}

int writeUnit(CconvRecord* rec, CodeTransform transform, ByteWriter writer, std::uint32_t value,
              std::uint32_t width) {
  if (transform) value = transform(value);
  if (writer) return writer(rec, value);
  if (static_cast<std::int64_t>(rec->outPos) + width > rec->outSize) {
    rec->status = CCONV_OUTPUT_FULL;
    return 0;
  }
  unsigned char* out = rec->outBuf + rec->outPos;
  // Values hold 32 bits; bytes of a wider unit beyond them are 0.
  if (rec->dstOptions.outBigEndian) {
    for (std::uint32_t k = 0; k < width; ++k) {
      const std::uint32_t shift = width - 1 - k;
      out[k] = shift < 4 ? static_cast<unsigned char>(value >> (8 * shift)) : 0;
    }
  } else {
    for (std::uint32_t k = 0; k < width; ++k)
      out[k] = k < 4 ? static_cast<unsigned char>(value >> (8 * k)) : 0;
  }
  rec->outPos += static_cast<std::int32_t>(width);
  rec->outChars += 1;
  rec->status = CCONV_NEXT;
  return 1;
}

int writeSeq(CconvRecord* rec, CodeTransform transform, ByteWriter writer, std::uint32_t value,
             std::uint32_t width) {
  const std::uint32_t n = rec->outSeqLen;
  if (width == 0 || n < width) {
    rec->status = CCONV_ERROR;
    return 0;
  }
  const std::int32_t startPos = rec->outPos;
  const std::int32_t startChars = rec->outChars;
  // The value laid out big-endian in n bytes, the high ones 0 when n > 4;
  // each unit is read from that layout without a work buffer.
  for (std::uint32_t first = 0; first + width <= n; first += width) {
    std::uint32_t unit = 0;
    for (std::uint32_t k = first; k < first + width; ++k) {
      const std::uint32_t shift = n - 1 - k;  // byte index counted from the low end
      unit = (unit << 8) | (shift < 4 ? (value >> (8 * shift)) & 0xFF : 0);
    }
    if (!writeUnit(rec, transform, writer, unit, width)) {
      rec->outPos = startPos;
      rec->outChars = startChars;
      return 0;
    }
  }
  return 1;
}

int writeChar(CconvRecord* rec, CodeTransform transform, ByteWriter writer) {
  const std::uint32_t width = rec->outCharset == kIdJisX0213 ? 2 : rec->outUnit;
  const std::int32_t startPos = rec->outPos;
  const std::int32_t startChars = rec->outChars;
  const std::uint32_t code = rec->outCode;
  const std::uint32_t ucs2 = rec->ucs2;
  const bool lineEnd = rec->outSeqLen == 0 && rec->dstOptions.newlineConvert && code == 0x0D;
  if (rec->outSeqLen == 0 && ucs2 == 0 && !lineEnd) {
    // One unit: writeUnit itself checks the room before it writes.
    if (writeUnit(rec, transform, writer, code, width)) return 1;
    rec->outPos = startPos;
    rec->outChars = startChars;
    return 0;
  }
  if (!writer) {
    // Refuse before writing, so not even the buffer beyond outPos sees part
    // of a character that does not fit.
    std::int64_t units = 1;
    std::int64_t unitBytes = width;
    if (rec->outSeqLen != 0) {
      unitBytes = width == 0 ? 0 : (rec->outSeqLen / width) * width;
      units = ucs2 != 0 ? 2 : 1;
    } else if (lineEnd) {
      const std::uint32_t kind = rec->dstOptions.newlineKind;
      const bool single = kind == 2 || kind == 3 || (width != 1 && (kind == 4 || kind == 5));
      units = single ? 1 : 2;
    } else if (ucs2 != 0) {
      units = 2;
    }
    if (static_cast<std::int64_t>(rec->outPos) + units * unitBytes > rec->outSize &&
        !(rec->outSeqLen != 0 && rec->outSeqLen < width)) {
      rec->status = CCONV_OUTPUT_FULL;
      return 0;
    }
  }
  bool ok;
  if (rec->outSeqLen != 0) {
    ok = writeSeq(rec, transform, writer, code, width);
    if (ok && ucs2 != 0) ok = writeSeq(rec, transform, writer, ucs2, width);
  } else if (lineEnd) {
    const std::uint32_t kind = rec->dstOptions.newlineKind;
    if (kind == 2) {
      ok = writeUnit(rec, transform, writer, 0x0D, width);
    } else if (kind == 3) {
      ok = writeUnit(rec, transform, writer, 0x0A, width);
    } else if (width != 1 && (kind == 4 || kind == 5)) {
      ok = writeUnit(rec, transform, writer, kind == 4 ? 0x2028 : 0x2029, width);
    } else {
      ok = writeUnit(rec, transform, writer, 0x0D, width) &&
           writeUnit(rec, transform, writer, 0x0A, width);
    }
  } else {
    ok = writeUnit(rec, transform, writer, code, width);
    if (ok && ucs2 != 0) ok = writeUnit(rec, transform, writer, ucs2, width);
  }
  if (!ok) {
    // Whole or nothing: the next call writes the pending character afresh.
    rec->outPos = startPos;
    rec->outChars = startChars;
    return 0;
  }
  return 1;
}

int dsLookup(const PtrList* tables, std::uint32_t key, std::uint32_t* value,
             std::uint16_t* seqLen) {
  if (!tables) return 0;
  for (std::uint32_t i = 0; i < tables->count; ++i) {
    CodeTable* t = static_cast<CodeTable*>(tables->items[i]);
    if (!t) continue;
    if (!ctableIsLoaded(t) && t->sourceName[0] != '\0') {
      if (tProbeOnly) {
        tProbeNeedsLoad = true;
        continue;
      }
      const bool taken = stateLock();
      if (!ctableIsLoaded(t)) ctableLoad(t);
      stateUnlock(taken);
    }
    if (!ctableIsLoaded(t)) continue;
    std::uint32_t v = 0;
    if (key < t->minKey || key > t->maxKey || !ctableCovers(t, key)) continue;
    v = ctableValueFast(t, key);
    if (v != 0) {
      *value = v;
      *seqLen = t->width;
      return 1;
    }
  }
  return 0;
}

int constTable(CconvRecord* rec, CodeTransform transform) {
  if (rec->status == CCONV_OUTPUT_FULL) return writeChar(rec, transform, nullptr);
  if (rec->status == CCONV_TERMINATE) {
    rec->status = CCONV_OK;
    return 0;
  }
  const RuleDef* rule = reinterpret_cast<const RuleDef*>(rec->dstRule);
  const std::uint32_t ucs2 = rec->ucs2;
  bool placed = placeDirect(rec, rule) && expressible(rec, transform);
  if (!placed) {
    rec->outSeqLen = 0;
    rec->ucs2 = ucs2;
    placed = placeViaUcs(rec, rule) && expressible(rec, transform);
  }
  if (!placed) {
    rec->status = CCONV_UNMAPPABLE;
    return 0;
  }
  return writeChar(rec, transform, nullptr);
}

}  // namespace zk
