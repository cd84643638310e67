// The bulk path: runs of ordinary characters converted in one tight loop
// instead of one dest and one const call per character, from Shift_JIS,
// Windows-31J, EUC-JP, UTF-8 or UTF-16 to UTF-8 or UTF-16, and from UTF-8 or
// UTF-16 to Shift_JIS, Windows-31J or EUC-JP.
//
// It takes only what the general path would convert the same way with no
// decision left to make: a character that decodes to a set with a Unicode
// value and is placed by a set's own table (or as itself), with room for all
// of its bytes. Anything else (invalid or unmappable bytes, input that ends
// inside a character, a value that may start or end a JIS X 0213 pair,
// UTF-16 surrogates, a character found only in a rule's extra tables, a full
// buffer, line-end conversion, marks, language tags) stops the loop before
// that character, which the driver then gives to the general path. The
// record is left exactly as the driver leaves it after the last character of
// the run.
#include "engine/engine.h"
#include "frame/state.h"
#include "rules/rules.h"
#include "rules/unicode.h"

namespace zk {

namespace {

using Src = BulkSrc;
using Dst = BulkDst;
using Plan = BulkPlan;

// One decoded character, as the general path would leave it in the record.
struct Decoded {
  const CharsetDef* set;
  std::uint32_t raw;
  std::uint32_t code;
  std::uint32_t ucs;
};

inline std::uint32_t tableUcs(const CharsetDef* set, std::uint32_t code) {
  const CodeTable* t = set->toUcs;
  return (t && ctableIsLoaded(t)) ? ctableValueFast(t, code) : code;
}

// A table that is absent, or can never be loaded, makes its set the identity.
inline bool neverTable(const CodeTable* t) {
  return !t || (!ctableIsLoaded(t) && t->sourceName[0] == '\0');
}

const CharsetDef* firstInRule(const RuleDef* rule, std::uint32_t id) {
  const PtrList* sets = rule ? rule->charsets : nullptr;
  for (std::uint32_t i = 0; sets && i < sets->count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
    if (set && set->id == id) return set;
  }
  return nullptr;
}

// The Unicode source's set, which must take every value as itself.
bool prepareUnicodeSource(const CconvRecord* rec, Plan* plan) {
  const RuleDef* srcRule = reinterpret_cast<const RuleDef*>(rec->srcRule);
  if (!srcRule || !srcRule->charsets || srcRule->charsets->count == 0) return false;
  const CharsetDef* set = static_cast<const CharsetDef*>(srcRule->charsets->items[0]);
  if (!set || set->type == kSetUserArea || !neverTable(set->toUcs)) return false;
  plan->ucsSet = set;
  plan->inBig = rec->srcOptions.inBigEndian != 0;
  return true;
}

// Shift_JIS, Windows-31J and EUC-JP targets from a Unicode source: sets that
// the writers know, none of them the source's own set (which would be
// placed directly, by code).
bool prepareLegacyTarget(const CconvRecord* rec, const RuleDef* dstRule, Plan* plan) {
  if (!prepareUnicodeSource(rec, plan)) return false;
  if (!dstRule || !dstRule->charsets) return false;
  const PtrList* sets = dstRule->charsets;
  if (sets->count == 0 || sets->count > kBulkMaxSets) return false;
  plan->out = nullptr;
  plan->dstRule = dstRule;
  plan->setCount = sets->count;
  plan->hasUserArea = false;
  const PtrList* ds = dstRule->dsTables;
  for (std::uint32_t i = 0; i < sets->count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
    if (!set || set->id == plan->ucsSet->id || set->id == kIdJisX0213) return false;
    plan->sets[i] = set;
    plan->toCode[i] = nullptr;
    plan->dsCount[i] = 0;
    if (set->type == kSetUserArea) {
      plan->hasUserArea = true;
      continue;
    }
    // Every table the general path could consult must already be loaded (or
    // never loadable), so that what it holds cannot change during the call.
    const CodeTable* t = set->toCode;
    if (t && ctableIsLoaded(t)) {
      plan->toCode[i] = t;
    } else if (!neverTable(t)) {
      plan->waitsForTables = true;
      return false;
    }
    const PtrList* extra =
        ds && i < ds->count ? static_cast<const PtrList*>(ds->items[i]) : nullptr;
    for (std::uint32_t k = 0; extra && k < extra->count; ++k) {
      const CodeTable* x = static_cast<const CodeTable*>(extra->items[k]);
      if (!x) continue;
      if (!ctableIsLoaded(x)) {
        if (x->sourceName[0] != '\0') {
          plan->waitsForTables = true;
          return false;
        }
        continue;
      }
      if (plan->dsCount[i] == kBulkMaxExtra) return false;
      plan->ds[i][plan->dsCount[i]++] = x;
    }
  }
  plan->outBig = rec->dstOptions.outBigEndian != 0;
  for (std::uint64_t& word : plan->placedValid) word = 0;
  return true;
}

bool prepare(const CconvRecord* rec, Plan* plan) {
  if (rec->dstOptions.newlineConvert || rec->dstOptions.outWriteBom || rec->lang[0] != '\0')
    return false;
  const RuleFunction dest = rec->destEntry->fn;
  const RuleFunction encode = rec->constEntry->fn;
  if (encode == constUtf8)
    plan->dst = Dst::kUtf8;
  else if (encode == constUtf16)
    plan->dst = Dst::kUtf16;
  else if (encode == constShiftJis || encode == constWindows31j)
    plan->dst = Dst::kSjis;
  else if (encode == eucjpEncode)
    plan->dst = Dst::kEucJp;
  else
    return false;
  const bool unicodeSource = dest == destUtf8 || dest == destUtf16;
  if (dest == sjisDecode && rec->srcId != kIdShiftJis2004)
    plan->src = Src::kSjis;
  else if (dest == cp932Decode)
    plan->src = Src::kCp932;
  else if (dest == destEucJp)
    plan->src = Src::kEucJp;
  else if (dest == destUtf8)
    plan->src = Src::kUtf8;
  else if (dest == destUtf16)
    plan->src = Src::kUtf16;
  else
    return false;
  if (unicodeSource && rec->srcOptions.inDetectBom) return false;

  const RuleDef* dstRule = reinterpret_cast<const RuleDef*>(rec->dstRule);
  if (plan->dst == Dst::kSjis || plan->dst == Dst::kEucJp)
    return unicodeSource && prepareLegacyTarget(rec, dstRule, plan);

  // A Unicode target: one set, taking every value as itself.
  if (!dstRule || !dstRule->charsets || dstRule->charsets->count != 1) return false;
  const CharsetDef* out = static_cast<const CharsetDef*>(dstRule->charsets->items[0]);
  if (!out || out->type == kSetUserArea || out->id == kIdJisX0213 || out->bytenum == 0 ||
      !neverTable(out->toCode))
    return false;
  plan->out = out;

  if (unicodeSource) {
    // The first set takes every value, so nothing reaches the tag handling.
    if (!prepareUnicodeSource(rec, plan)) return false;
  } else {
    // A target set that is also one of the source's would be placed
    // directly, by its code rather than its Unicode value.
    static constexpr std::uint32_t kLegacyIds[] = {kIdIso646Irv, kIdJisX0201Latin, kIdJisX0201Kana,
                                                   kIdJisX0208,  kIdJisX0212,      kIdNecExt,
                                                   kIdIbmExt,    kIdWindows31jUsr};
    for (std::uint32_t id : kLegacyIds)
      if (out->id == id) return false;
    if (plan->src == Src::kEucJp) {
      static constexpr std::uint32_t kEucIds[4] = {kIdIso646Irv, kIdJisX0201Kana, kIdJisX0208,
                                                   kIdJisX0212};
      const RuleDef* srcRule = reinterpret_cast<const RuleDef*>(rec->srcRule);
      for (int i = 0; i < 4; ++i) {
        plan->euc[i] = firstInRule(srcRule, kEucIds[i]);
        plan->eucUcs[i] = stateCharsetById(kEucIds[i]);
      }
    } else {
      plan->latin = stateCharsetById(kIdJisX0201Latin);
      plan->kana = stateCharsetById(kIdJisX0201Kana);
      static constexpr std::uint32_t kOrder[4] = {kIdJisX0208, kIdNecExt, kIdIbmExt,
                                                  kIdWindows31jUsr};
      for (int i = 0; i < 4; ++i) plan->cp932[i] = stateCharsetById(kOrder[i]);
    }
  }
  plan->outBig = rec->dstOptions.outBigEndian != 0;
  return true;
}

// ---- decoding: true with *next past the character, false to stop ----

// sjisPairToJis for a lead byte of 0x81-0xFC, written so that the choices
// that vary from character to character (trail below or above 0x80, first or
// second row of the lead) are arithmetic rather than branches.
[[gnu::always_inline]] inline std::uint32_t pairToJisFlat(std::uint32_t lead, std::uint32_t trail) {
  if (!((lead >= 0x81 && lead <= 0x9F) || (lead >= 0xE0 && lead <= 0xFC))) return 0;
  if (trail < 0x40 || trail > 0xFC || trail == 0x7F) return 0;
  const std::uint32_t row = 2 * (lead - (lead >= 0xE0 ? 0x40u : 0u)) - 0xE1;
  const std::uint32_t t = trail - 0x40 - static_cast<std::uint32_t>(trail >= 0x80);
  const std::uint32_t second = static_cast<std::uint32_t>(t >= 0x5E);
  return ((row + second) << 8) + (t - 0x5E * second) + 0x21;
}

// sjisDecode and cp932Decode on their successful paths.
template <Src kSrc>
[[gnu::always_inline]] inline bool decodeSjis(const Plan& plan, const unsigned char* in,
                                              std::int32_t p, std::int32_t len, Decoded* d,
                                              std::int32_t* next) {
  const std::uint32_t b1 = in[p];
  if (b1 < 0x80 || (b1 >= 0xA1 && b1 <= 0xDF)) {
    const CharsetDef* set = b1 < 0x80 ? plan.latin : plan.kana;
    if (!set) return false;
    const std::uint32_t ucs = tableUcs(set, b1);
    if (ucs == 0) return false;
    *d = {set, b1, b1, ucs};
    *next = p + 1;
    return true;
  }
  if (p + 1 >= len) return false;
  const std::uint32_t b2 = in[p + 1];
  const std::uint32_t v = (b1 << 8) | b2;
  const std::uint32_t jis = pairToJisFlat(b1, b2);
  if (jis == 0) return false;
  if constexpr (kSrc == Src::kSjis) {
    const CharsetDef* set = plan.cp932[0];
    if (!set) return false;
    const std::uint32_t ucs = tableUcs(set, jis);
    if (ucs == 0) return false;
    *d = {set, v, jis, ucs};
  } else {
    const CharsetDef* found = nullptr;
    std::uint32_t ucs = 0;
    for (const CharsetDef* set : plan.cp932) {
      if (!set) continue;
      if (set->type == kSetUserArea) {
        if (jis < set->defStart ||
            jis >= static_cast<std::uint32_t>(set->defStart) + set->defNumber)
          continue;
        ucs = 0xE000 + (jis - set->defStart);
      } else {
        ucs = tableUcs(set, jis);
      }
      if (ucs == 0) continue;
      found = set;
      break;
    }
    if (!found) return false;
    *d = {found, v, jis, ucs};
  }
  *next = p + 2;
  return true;
}

// destEucJp, with the Unicode value the encoder would derive from the set.
[[gnu::always_inline]] inline bool decodeEuc(const Plan& plan, const unsigned char* in,
                                             std::int32_t p, std::int32_t len, Decoded* d,
                                             std::int32_t* next) {
  const std::uint32_t b1 = in[p];
  int which;
  std::uint32_t code;
  std::int32_t need;
  if (b1 <= 0x7E) {
    which = 0;
    code = b1;
    need = 1;
  } else if (b1 >= 0xA0) {
    if (len - p < 2) return false;
    const std::uint32_t b2 = in[p + 1];
    if (b2 < 0xA0) return false;
    which = 2;
    code = ((b1 << 8) | b2) & 0x7F7F;
    need = 2;
  } else if (b1 == 0x8E) {
    if (len - p < 2) return false;
    const std::uint32_t b2 = in[p + 1];
    if (b2 < 0xA0) return false;
    which = 1;
    code = b2;
    need = 2;
  } else if (b1 == 0x8F) {
    if (len - p < 3) return false;
    const std::uint32_t b2 = in[p + 1];
    const std::uint32_t b3 = in[p + 2];
    if (b2 < 0xA0 || b3 < 0xA0) return false;
    which = 3;
    code = ((b2 << 8) | b3) & 0x7F7F;
    need = 3;
  } else {
    return false;
  }
  const CharsetDef* set = plan.euc[which];
  const CharsetDef* from = plan.eucUcs[which];
  if (!set || !from) return false;
  const std::uint32_t ucs = tableUcs(from, code);
  if (ucs == 0) return false;
  *d = {set, code, code, ucs};
  *next = p + need;
  return true;
}

// The code points that can end a JIS X 0213 pair (a superset of what
// jisIsPair accepts after a given base).
inline bool mayCombineInPair(std::uint32_t v) {
  return v == 0x309A || v == 0x02E5 || v == 0x02E9 || v == 0x0300 || v == 0x0301;
}

// After a possible pair base, whether destUtf8's look-ahead surely finds no
// combining mark at q: input ends, or the next sequence is none of them.
// FE and FF bytes (skipped by the reader) are left to the general path.
inline bool noPairFollowsUtf8(const unsigned char* in, std::int32_t q, std::int32_t len) {
  if (q >= len) return true;
  const std::uint32_t lead = in[q];
  if (lead < 0xC0) return true;  // one byte: below U+00C0
  if (lead >= 0xFE) return false;
  const std::int32_t n = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : lead < 0xFC ? 5 : 6;
  if (len - q < n) return true;  // the reader asks for more input: no pair
  std::uint32_t v = lead & (0xFFu >> (n + 1));
  for (std::int32_t i = 1; i < n; ++i) v = (v << 6) | (in[q + i] & 0x3Fu);
  return !mayCombineInPair(v);
}

// destUtf8 on a sequence that its first set takes as it is.
[[gnu::always_inline]] inline bool decodeUtf8(const Plan& plan, const unsigned char* in,
                                              std::int32_t p, std::int32_t len, Decoded* d,
                                              std::int32_t* next) {
  const std::uint32_t lead = in[p];
  std::uint32_t v;
  std::int32_t n;
  if (lead < 0xC0) {
    v = lead;
    n = 1;
  } else {
    if (lead >= 0xFE) return false;
    n = lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF8 ? 4 : lead < 0xFC ? 5 : 6;
    if (len - p < n) return false;
    if (n == 3) {
      v = ((lead & 0x0Fu) << 12) | ((in[p + 1] & 0x3Fu) << 6) | (in[p + 2] & 0x3Fu);
    } else if (n == 2) {
      v = ((lead & 0x1Fu) << 6) | (in[p + 1] & 0x3Fu);
    } else {
      v = lead & (0xFFu >> (n + 1));
      for (std::int32_t i = 1; i < n; ++i) v = (v << 6) | (in[p + i] & 0x3Fu);
    }
    if (ucsMayBePairBase(v) && !noPairFollowsUtf8(in, p + n, len)) return false;
  }
  *d = {plan.ucsSet, v, v, v};
  *next = p + n;
  return true;
}

// destUtf16 on a unit that is no surrogate.
[[gnu::always_inline]] inline bool decodeUtf16(const Plan& plan, const unsigned char* in,
                                               std::int32_t p, std::int32_t len, Decoded* d,
                                               std::int32_t* next) {
  if (len - p < 2) return false;
  const std::uint32_t u = plan.inBig ? (std::uint32_t{in[p]} << 8) | in[p + 1]
                                     : (std::uint32_t{in[p + 1]} << 8) | in[p];
  if (u - 0xD800u < 0x800u) return false;
  if (ucsMayBePairBase(u) && len - p >= 4) {
    const std::uint32_t w = plan.inBig ? (std::uint32_t{in[p + 2]} << 8) | in[p + 3]
                                       : (std::uint32_t{in[p + 3]} << 8) | in[p + 2];
    if (mayCombineInPair(w)) return false;
  }
  *d = {plan.ucsSet, u, u, u};
  *next = p + 2;
  return true;
}

template <Src kSrc>
[[gnu::always_inline]] inline bool decodeOne(const Plan& plan, const unsigned char* in,
                                             std::int32_t p, std::int32_t len, Decoded* d,
                                             std::int32_t* next) {
  if constexpr (kSrc == Src::kSjis || kSrc == Src::kCp932)
    return decodeSjis<kSrc>(plan, in, p, len, d, next);
  else if constexpr (kSrc == Src::kEucJp)
    return decodeEuc(plan, in, p, len, d, next);
  else if constexpr (kSrc == Src::kUtf8)
    return decodeUtf8(plan, in, p, len, d, next);
  else
    return decodeUtf16(plan, in, p, len, d, next);
}

// ---- writing: the bytes and units utf8WriteUnit / utf16WriteChar produce ----

template <Dst kDst>
[[gnu::always_inline]] inline bool writeOne(const Plan& plan, std::uint32_t v, unsigned char* out,
                                            std::int32_t* o, std::int32_t size,
                                            std::int32_t* units) {
  const std::int64_t at = *o;
  if constexpr (kDst == Dst::kUtf8) {
    if (v < 0x80) {
      if (at + 1 > size) return false;
      out[at] = static_cast<unsigned char>(v);
      *o += 1;
    } else if (v < 0x800) {
      if (at + 2 > size) return false;
      out[at] = static_cast<unsigned char>(0xC0 | (v >> 6));
      out[at + 1] = static_cast<unsigned char>(0x80 | (v & 0x3F));
      *o += 2;
    } else if (v < 0x10000) {
      if (at + 3 > size) return false;
      out[at] = static_cast<unsigned char>(0xE0 | (v >> 12));
      out[at + 1] = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
      out[at + 2] = static_cast<unsigned char>(0x80 | (v & 0x3F));
      *o += 3;
    } else {
      if (v >= 0x80000000u) return false;
      const int n = v < 0x200000 ? 4 : v < 0x4000000 ? 5 : 6;
      if (at + n > size) return false;
      unsigned char* q = out + at;
      q[0] = static_cast<unsigned char>(((0xFF00u >> n) & 0xFF) | (v >> (6 * (n - 1))));
      for (int i = 1; i < n; ++i)
        q[i] = static_cast<unsigned char>(0x80 | ((v >> (6 * (n - 1 - i))) & 0x3F));
      *o += n;
    }
    *units += 1;
  } else {
    if (v > 0x10FFFF) return false;
    std::uint32_t u[2];
    int n = 1;
    if (v <= 0xFFFF) {
      u[0] = v;
    } else {
      u[0] = 0xD800 + ((v - 0x10000) >> 10);
      u[1] = 0xDC00 + (v & 0x3FF);
      n = 2;
    }
    if (at + 2 * n > size) return false;
    unsigned char* q = out + at;
    for (int i = 0; i < n; ++i) {
      const unsigned char hi = static_cast<unsigned char>(u[i] >> 8);
      const unsigned char lo = static_cast<unsigned char>(u[i]);
      q[2 * i] = plan.outBig ? hi : lo;
      q[2 * i + 1] = plan.outBig ? lo : hi;
    }
    *o += 2 * n;
    *units += n;
  }
  return true;
}

// placeDirect and placeViaUcs (then expressible, for Shift_JIS) on the
// paths that need no decision: the set, the code placed and the value to
// write (the Shift_JIS pair, or the code), or false to stop.
template <Dst kDst>
[[gnu::always_inline]] inline bool placeLegacy(const Plan& plan, std::uint32_t v,
                                               std::uint32_t* placed, std::uint32_t* code,
                                               std::uint32_t* value) {
  if (v == 0) return false;
  if (plan.hasUserArea && v >= 0xE000) {
    for (std::uint32_t i = 0; i < plan.setCount; ++i) {
      const CharsetDef* set = plan.sets[i];
      if (set->type == kSetUserArea && v < 0xE000u + set->defNumber) {
        const std::uint32_t c = set->defStart + (v - 0xE000);
        const std::uint32_t w = kDst == Dst::kSjis ? jisToSjisPair(c) : c;
        if (kDst == Dst::kSjis && c >= 0x100 && w == 0) return false;
        *placed = i;
        *code = c;
        *value = w;
        return true;
      }
    }
  }
  for (std::uint32_t i = 0; i < plan.setCount; ++i) {
    const CharsetDef* set = plan.sets[i];
    if (set->type == kSetUserArea) continue;
    const CodeTable* t = plan.toCode[i];
    std::uint32_t c = v;
    if (t) {
      c = (v < t->minKey || v > t->maxKey) ? 0 : ctableValueFast(t, v);
      if (c == 0) {
        // Not in the set's table: the general path then looks in its extra
        // tables, and what it finds there is left to it.
        for (std::uint32_t k = 0; k < plan.dsCount[i]; ++k) {
          const CodeTable* x = plan.ds[i][k];
          if (v >= x->minKey && v <= x->maxKey && ctableCovers(x, v) && ctableValueFast(x, v) != 0)
            return false;
        }
        continue;
      }
    }
    const std::uint32_t w = kDst == Dst::kSjis ? jisToSjisPair(c) : c;
    if (kDst == Dst::kSjis && c >= 0x100 && w == 0) return false;
    *placed = i;
    *code = c;
    *value = w;
    return true;
  }
  return false;
}

// placeLegacy through the placements already made in this call: with the
// tables fixed for its duration, a value is always placed the same way.
template <Dst kDst>
[[gnu::always_inline]] inline bool placeRemembered(Plan& plan, std::uint32_t v,
                                                   const BulkPlaced** placed) {
  static_assert(kBulkPlacedSlots == 1u << 10, "the hash keeps 10 bits");
  const std::uint32_t slot = (v * 0x9E3779B1u) >> 22;
  BulkPlaced& e = plan.placed[slot];
  std::uint64_t& valid = plan.placedValid[slot >> 6];
  const std::uint64_t bit = std::uint64_t{1} << (slot & 63);
  if (!(valid & bit) || e.ucs != v) {
    BulkPlaced fresh;
    if (!placeLegacy<kDst>(plan, v, &fresh.set, &fresh.code, &fresh.value)) return false;
    fresh.ucs = v;
    e = fresh;
    valid |= bit;
  }
  *placed = &e;
  return true;
}

// writeUnit of the Shift_JIS pair, and eucjpWriteUnit, on their successful paths.
template <Dst kDst>
[[gnu::always_inline]] inline bool writeLegacy(const Plan& plan, const CharsetDef* set,
                                               std::uint32_t code, std::uint32_t value,
                                               unsigned char* out, std::int32_t* o,
                                               std::int32_t size) {
  const std::int64_t at = *o;
  if constexpr (kDst == Dst::kSjis) {
    const std::uint32_t width = set->bytenum;
    if (at + width > size) return false;
    unsigned char* q = out + at;
    if (width == 2) {
      const unsigned char hi = static_cast<unsigned char>(value >> 8);
      const unsigned char lo = static_cast<unsigned char>(value);
      q[0] = plan.outBig ? hi : lo;
      q[1] = plan.outBig ? lo : hi;
    } else if (width == 1) {
      q[0] = static_cast<unsigned char>(value);
    } else {
      for (std::uint32_t k = 0; k < width; ++k)
        q[k] = static_cast<unsigned char>(value >> (8 * (plan.outBig ? width - 1 - k : k)));
    }
    *o += static_cast<std::int32_t>(width);
  } else {
    unsigned char b[3];
    const int n = eucjpForm(set->id, code, b);
    if (n == 0) return false;
    // The EUC-JP writer never stores into the last byte of the buffer.
    if (at + n > static_cast<std::int64_t>(size) - 1) return false;
    for (int i = 0; i < n; ++i) out[at + i] = b[i];
    *o += n;
  }
  return true;
}

template <Src kSrc, Dst kDst>
void run(CconvRecord* rec, Plan& plan) {
  const unsigned char* in = rec->inBuf;
  const std::int32_t len = rec->inLen;
  unsigned char* out = rec->outBuf;
  const std::int32_t size = rec->outSize;
  std::int32_t p = rec->inPos;
  std::int32_t o = rec->outPos;
  std::int32_t chars = 0;
  std::int32_t units = 0;
  Decoded last{};
  std::uint32_t beforeLast = rec->rawCode;  // what prevRawCode would become
  const CharsetDef* outSet = plan.out;
  std::uint32_t outCode = 0;
  while (p < len) {
    Decoded d;
    std::int32_t next;
    if (!decodeOne<kSrc>(plan, in, p, len, &d, &next)) break;
    if constexpr (kDst == Dst::kUtf8 || kDst == Dst::kUtf16) {
      if (!writeOne<kDst>(plan, d.ucs, out, &o, size, &units)) break;
    } else {
      const BulkPlaced* e;
      if (!placeRemembered<kDst>(plan, d.ucs, &e)) break;
      const CharsetDef* set = plan.sets[e->set];
      if (!writeLegacy<kDst>(plan, set, e->code, e->value, out, &o, size)) break;
      outSet = set;
      outCode = e->code;
      ++units;
    }
    p = next;
    if (chars != 0) beforeLast = last.raw;
    last = d;
    ++chars;
  }
  if (chars == 0) return;
  rec->inPos = p;
  rec->outPos = o;
  rec->inChars += chars;
  rec->outChars += units;
  rec->prevRawCode = beforeLast;
  rec->inCharset = last.set->id;
  rec->inCharsetType = last.set->type;
  rec->rawCode = last.raw;
  rec->code = last.code;
  rec->ucs = last.ucs;
  rec->ucs2 = 0;
  if constexpr (kDst == Dst::kUtf8 || kDst == Dst::kUtf16) outCode = last.ucs;
  rec->outCharset = outSet->id;
  rec->outCharsetType = outSet->type;
  rec->outCode = outCode;
  rec->outUnit = outSet->bytenum;
  rec->outSeqLen = 0;
  rec->status = CCONV_NEXT;
}

template <Dst kDst>
void runFrom(CconvRecord* rec, Plan& plan) {
  if constexpr (kDst == Dst::kSjis || kDst == Dst::kEucJp) {
    // Only Unicode sources reach these targets.
    if (plan.src == Src::kUtf8) return run<Src::kUtf8, kDst>(rec, plan);
    if (plan.src == Src::kUtf16) return run<Src::kUtf16, kDst>(rec, plan);
    return;
  }
  switch (plan.src) {
    case Src::kSjis:
      return run<Src::kSjis, kDst>(rec, plan);
    case Src::kCp932:
      return run<Src::kCp932, kDst>(rec, plan);
    case Src::kEucJp:
      return run<Src::kEucJp, kDst>(rec, plan);
    case Src::kUtf8:
      return run<Src::kUtf8, kDst>(rec, plan);
    case Src::kUtf16:
      return run<Src::kUtf16, kDst>(rec, plan);
  }
}

}  // namespace

bool bulkPrepare(const CconvRecord* rec, BulkPlan* plan) {
  plan->waitsForTables = false;
  return prepare(rec, plan);
}

void bulkConvert(CconvRecord* rec, BulkPlan& plan) {
  switch (plan.dst) {
    case Dst::kUtf8:
      return runFrom<Dst::kUtf8>(rec, plan);
    case Dst::kUtf16:
      return runFrom<Dst::kUtf16>(rec, plan);
    case Dst::kSjis:
      return runFrom<Dst::kSjis>(rec, plan);
    case Dst::kEucJp:
      return runFrom<Dst::kEucJp>(rec, plan);
  }
}

}  // namespace zk
