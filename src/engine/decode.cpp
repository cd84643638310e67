// The generic, table-driven dest function: walks the source rule's sets in
// list order and takes the first one that accepts the bytes at inPos.
#include "engine/engine.h"

namespace zk {

namespace {

// Control codes that a set accepts even when its table does not map them:
// 0x00-0x1F except TAB, LF and CR (bits 9, 10 and 13), and DEL.
constexpr std::uint32_t kControlExcluded = 0x2600;

inline bool isBareControl(std::uint32_t code) {
  if (code == 0x7F) return true;
  return code < 0x20 && ((kControlExcluded >> code) & 1) == 0;
}

// What one call learnt about the bytes of one width; sets of equal width
// share it so the input is read and transformed once per width.
struct WidthSlot {
  bool read;
  std::uint32_t raw;
  std::uint32_t code;
  std::uint32_t ucs;
};

}  // namespace

int decodeTable(CconvRecord* rec, CodeTransform transform) {
  const std::int32_t pos = rec->inPos;
  if (pos >= rec->inLen) {
    rec->status = CCONV_OK;
    return 0;
  }
  const RuleDef* rule = reinterpret_cast<const RuleDef*>(rec->srcRule);
  const PtrList* sets = rule ? rule->charsets : nullptr;
  const std::uint32_t count = sets ? sets->count : 0;
  const unsigned char* in = rec->inBuf + pos;
  const std::int64_t left = static_cast<std::int64_t>(rec->inLen) - pos;
  const bool big = rec->srcOptions.inBigEndian != 0;

  WidthSlot slot[5] = {};
  bool tooShort = false;

  for (std::uint32_t i = 0; i < count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
    const std::uint32_t w = set->bytenum;
    // Widths outside 1..4 are refused when definitions load; never trust them here.
    if (w == 0 || w > 4) continue;
    if (static_cast<std::int64_t>(w) > left) {
      tooShort = true;
      continue;
    }
    WidthSlot& s = slot[w];
    if (!s.read) {
      std::uint32_t raw = 0;
      if (big) {
        for (std::uint32_t k = 0; k < w; ++k) raw = (raw << 8) | in[k];
      } else {
        for (std::uint32_t k = w; k-- > 0;) raw = (raw << 8) | in[k];
      }
      std::uint32_t code = raw;
      if (transform && raw != 0) {
        code = transform(raw);
        // Rejected for this set only: the next set of this width asks again.
        if (code == 0) continue;
      }
      s.read = true;
      s.raw = raw;
      s.code = code;
      s.ucs = 0;
    }
    const std::uint32_t code = s.code;
    std::uint32_t ucs;
    if (set->type == kSetUserArea) {
      if (code < set->defStart || code >= static_cast<std::uint32_t>(set->defStart) + set->defNumber)
        continue;
      ucs = 0xE000 + (code - set->defStart);
    } else {
      ucs = s.ucs;
      if (ucs == 0) {
        const CodeTable* t = set->toUcs;
        ucs = (t && ctableIsLoaded(t)) ? ctableValueFast(t, code) : code;
        s.ucs = ucs;
      }
      if (ucs == 0 && !isBareControl(code)) continue;
    }
    rec->inCharset = set->id;
    rec->inCharsetType = set->type;
    rec->rawCode = s.raw;
    rec->code = code;
    rec->ucs = ucs;
    rec->inPos = pos + static_cast<std::int32_t>(w);
    rec->inChars += 1;
    rec->status = CCONV_CHAR;
    return 1;
  }

  if (tooShort) {
    rec->status = CCONV_NEED_INPUT;
    return 0;
  }
  rec->status = CCONV_INVALID;
  if (rec->srcOptions.skipInvalid) {
    std::int32_t skip = 1;
    for (int w = 4; w > 0; --w) {
      if (slot[w].read) {
        skip = w;
        break;
      }
    }
    rec->inPos = pos + skip;
  }
  return 0;
}

}  // namespace zk
