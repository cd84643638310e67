// The identity rule, the Shift_JIS family (Shift_JIS, Windows-31J,
// Shift_JIS-2004) and the two OASYS word-processor encodings.
//
// Shift_JIS folds two JIS rows into one lead byte. With lead L and trail T
// (both bytes of the pair):
//   row  = 2 * (L - 0x81 [- 0x40 when L >= 0xE0]) + 0x21, + 1 for the second row
//   cell = T - 0x40 [- 1 when T >= 0x80]; cells 0..93 fall in the first of
//          the lead byte's two rows, 94..187 in the second.
// Lead bytes 0xF0-0xFC continue past row 0x7E (rows 0x7F-0x98), where
// Windows-31J keeps its user-defined characters. Shift_JIS-2004 reuses those
// leads for JIS X 0213 plane 2, whose rows are not contiguous (table below).
#include "engine/engine.h"
#include "frame/state.h"

namespace zk {

namespace {

// Plane-2 rows of Shift_JIS-2004 lead bytes 0xF0-0xFC: [lead][0] for trail
// bytes up to 0x9E, [lead][1] from 0x9F.
constexpr std::uint8_t kPlane2Rows[13][2] = {
    {1, 8},   {3, 4},   {5, 12},  {13, 14}, {15, 78}, {79, 80}, {81, 82},
    {83, 84}, {85, 86}, {87, 88}, {89, 90}, {91, 92}, {93, 94},
};

// Plane-2 rows below 64 that Shift_JIS-2004 reaches: 1, 3, 4, 5, 8, 12-15.
constexpr std::uint32_t kPlane2LowRows = 0xF13A;

inline std::uint32_t tableUcs(const CharsetDef* set, std::uint32_t code) {
  const CodeTable* t = set->toUcs;
  return (t && ctableIsLoaded(t)) ? ctableValueFast(t, code) : code;
}

inline void accept(CconvRecord* rec, const CharsetDef* set, std::uint32_t raw, std::uint32_t code,
                   std::uint32_t ucs) {
  rec->inCharset = set->id;
  rec->inCharsetType = set->type;
  rec->rawCode = raw;
  rec->code = code;
  rec->ucs = ucs;
  rec->inChars += 1;
  rec->status = CCONV_CHAR;
}

inline int invalidAt(CconvRecord* rec, std::int32_t pos) {
  rec->inPos = pos;
  rec->status = CCONV_INVALID;
  return 0;
}

// Steps shared by the Shift_JIS and Windows-31J decoders: single bytes are
// finished here (result 1 or 0 with status set); a pair leaves result -1
// with its value in *pair and inPos past it.
[[gnu::always_inline]] inline int sjisLeadIn(CconvRecord* rec, std::uint32_t* pair) {
  const std::int32_t p = rec->inPos;
  if (p >= rec->inLen) {
    rec->status = CCONV_OK;
    return 0;
  }
  const std::uint32_t b1 = rec->inBuf[p];
  rec->inPos = p + 1;
  if (b1 < 0x80) {
    const CharsetDef* set = stateCharsetById(kIdJisX0201Latin);
    if (!set) return invalidAt(rec, p + 1);
    // Every Roman byte is a character, mapped or not.
    accept(rec, set, b1, b1, tableUcs(set, b1));
    return 1;
  }
  if (b1 >= 0xA1 && b1 <= 0xDF) {
    const CharsetDef* set = stateCharsetById(kIdJisX0201Kana);
    if (!set) return invalidAt(rec, p + 1);
    const std::uint32_t ucs = tableUcs(set, b1);
    if (ucs == 0) return invalidAt(rec, p + 1);
    accept(rec, set, b1, b1, ucs);
    return 1;
  }
  if (p + 1 >= rec->inLen) {
    rec->inPos = p;
    rec->status = CCONV_NEED_INPUT;
    return 0;
  }
  *pair = (b1 << 8) | rec->inBuf[p + 1];
  rec->inPos = p + 2;
  return -1;
}

[[gnu::always_inline]] inline std::uint32_t pairToJis(std::uint32_t v) { return sjisPairToJis(v); }

}  // namespace

std::uint32_t sjisToJis(std::uint32_t v) { return pairToJis(v); }

std::uint32_t sjis2004ToJis(std::uint32_t v) {
  const std::uint32_t lead = (v >> 8) & 0xFF;
  const std::uint32_t trail = v & 0xFF;
  const std::uint32_t jis = pairToJis(v);
  if (jis == 0 || lead < 0xF0) return jis;
  const std::uint32_t row = kPlane2Rows[lead - 0xF0][trail >= 0x9F ? 1 : 0];
  return 0x10000 | ((0x20 + row) << 8) | (jis & 0xFF);
}

std::uint32_t jisToSjis(std::uint32_t v) { return jisToSjisPair(v); }

std::uint32_t jisToSjis2004(std::uint32_t v) {
  if (v < 0x100) return v;
  const std::uint32_t r = ((v >> 8) & 0xFF) - 0x20;  // wraps for row bytes below 0x20
  const std::uint32_t c = v & 0xFF;
  std::uint32_t lead = 0;
  if (v & 0x10000) {
    if (r < 16 && ((kPlane2LowRows >> r) & 1))
      lead = ((r + 479) / 2) - 3 * (r / 8);
    else if (r >= 78 && r <= 94)  // rows 64-77 are empty and would alias plane-1 leads
      lead = (r + 411) / 2;
  } else {
    if (r >= 1 && r <= 62)
      lead = (r + 257) / 2;
    else if (r >= 63 && r <= 94)
      lead = (r + 385) / 2;
  }
  std::uint32_t trail = 0;
  if (r % 2 == 0)
    trail = c + 0x7E;
  else if (c >= 0x21 && c <= 0x5F)
    trail = c + 0x1F;
  else if (c >= 0x60 && c <= 0x7E)
    trail = c + 0x20;
  // Half a pair is no code: without both bytes nothing can be written.
  if (lead == 0 || trail == 0) return 0;
  return (lead << 8) + trail;
}

int destSame(CconvRecord* rec) { return decodeTable(rec, nullptr); }

int destOasysWin(CconvRecord* rec) { return decodeTable(rec, sjisToJis); }

int constSame(CconvRecord* rec) { return constTable(rec, nullptr); }

int constShiftJis(CconvRecord* rec) { return constTable(rec, jisToSjis); }

int constShiftJis2004(CconvRecord* rec) { return constTable(rec, jisToSjis2004); }

int constWindows31j(CconvRecord* rec) { return constTable(rec, jisToSjis); }

int sjisDecode(CconvRecord* rec) {
  const std::int32_t p = rec->inPos;
  std::uint32_t v = 0;
  const int lead = sjisLeadIn(rec, &v);
  if (lead >= 0) return lead;
  const bool is2004 = rec->srcId == kIdShiftJis2004;
  const std::uint32_t jis = is2004 ? sjis2004ToJis(v) : pairToJis(v);
  // A bad pair consumes its first byte only: the second is read afresh.
  if (jis == 0) return invalidAt(rec, p + 1);
  const CharsetDef* set = stateCharsetById(is2004 ? kIdJisX0213 : kIdJisX0208);
  if (!set) return invalidAt(rec, p + 1);
  std::uint32_t ucs = 0;
  std::uint32_t ucs2 = 0;
  if (!(is2004 && jisPairOfCode(jis, &ucs, &ucs2))) ucs = tableUcs(set, jis);
  if (ucs == 0) return invalidAt(rec, p + 1);
  accept(rec, set, v, jis, ucs);
  rec->ucs2 = ucs2;
  return 1;
}

int cp932Decode(CconvRecord* rec) {
  const std::int32_t p = rec->inPos;
  std::uint32_t v = 0;
  const int lead = sjisLeadIn(rec, &v);
  if (lead >= 0) return lead;
  const std::uint32_t jis = pairToJis(v);
  if (jis == 0) return invalidAt(rec, p + 1);
  // JIS X 0208 first, then the vendor rows, then the user-defined rows.
  static constexpr std::uint32_t kOrder[] = {kIdJisX0208, kIdNecExt, kIdIbmExt,
                                             kIdWindows31jUsr};
  for (std::uint32_t id : kOrder) {
    const CharsetDef* set = stateCharsetById(id);
    if (!set) continue;
    std::uint32_t ucs;
    if (set->type == kSetUserArea) {
      // A user-defined area maps onto the private use area, as everywhere else.
      if (jis < set->defStart || jis >= static_cast<std::uint32_t>(set->defStart) + set->defNumber)
        continue;
      ucs = 0xE000 + (jis - set->defStart);
    } else {
      ucs = tableUcs(set, jis);
    }
    if (ucs == 0) continue;
    accept(rec, set, v, jis, ucs);
    return 1;
  }
  return invalidAt(rec, p + 1);
}

int oasysOnlineDecode(CconvRecord* rec) {
  const std::int32_t p = rec->inPos;
  if (p >= rec->inLen) {
    rec->status = CCONV_OK;
    return 0;
  }
  const std::uint32_t b1 = rec->inBuf[p];
  rec->inPos = p + 1;
  if (b1 >= 0x01 && b1 <= 0x20) {
    rec->status = CCONV_INVALID;
    return 0;
  }
  if (p + 1 >= rec->inLen) {
    rec->inPos = p;
    rec->status = CCONV_NEED_INPUT;
    return 0;
  }
  const std::uint32_t b2 = rec->inBuf[p + 1];
  rec->inPos = p + 2;
  std::uint32_t id;
  std::uint32_t code;
  if (b1 >= 0x80) {
    id = kIdOasysExt;
    code = ((b1 << 8) | b2) & 0x7FFF;
  } else if (b1 != 0) {
    id = kIdJisC6226;
    code = (b1 << 8) | b2;
  } else {
    id = b2 >= 0xA0 ? kIdJisX0201Kana : kIdJisX0201Latin;
    code = b2;
  }
  const RuleDef* rule = reinterpret_cast<const RuleDef*>(rec->srcRule);
  const CharsetDef* set =
      rule ? static_cast<const CharsetDef*>(ptrListFindById(rule->charsets, id)) : nullptr;
  if (!set) return invalidAt(rec, p + 1);
  // The Unicode value is left to the encoder, which derives it from the set.
  accept(rec, set, code, code, 0);
  return 1;
}

}  // namespace zk
