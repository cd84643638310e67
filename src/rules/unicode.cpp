// What every Unicode rule shares: finding the set of a decoded scalar value,
// language tags in (U+E0001, tag characters U+E0020..U+E007E, U+E007F) and
// out, byte order marks and the common shape of the const functions.
#include "rules/unicode.h"

#include <cstring>

#include "frame/registry.h"

namespace zk {

namespace {

// Set while a language tag is being read. The reader decodes the tag through
// the source's own dest function, which then hands every tag character (a
// nested U+E0001 included) back to the reader instead of acting on it: the
// reader never recurses more than one level, whatever the input holds.
thread_local bool tReadingTag = false;

bool isTagChar(std::uint32_t v) { return v >= kUcsTagFirst && v <= kUcsCancelTag; }

// Reads the tag that starts with the U+E0001 at `start`; inPos is past it.
int readLangTag(CconvRecord* rec, std::int32_t start) {
  const RuleFunctionEntry* entry = registryRuleFunction(ucsSrcRule(rec)->destRule);
  if (!entry) {
    rec->status = CCONV_INVALID;  // inPos stays after the U+E0001: skipping moves on
    return 0;
  }
  char text[CCONV_TEXT_SIZE];
  std::size_t len = 0;
  int result = 0;
  tReadingTag = true;
  for (;;) {
    rec->rawCode = rec->code = rec->ucs = rec->ucs2 = 0;
    rec->inCharset = 0;  // tells a tag character (no set) from a character some set took
    rec->inCharsetType = 0;
    entry->fn(rec);
    if (rec->status == CCONV_INVALID) {
      // An invalid character ends the tag. It is reported with inPos after it,
      // as any invalid character is; rewinding to the tag's start would make a
      // skipping conversion read the same tag for ever.
      text[len] = '\0';
      std::memcpy(rec->langCurrent, text, len + 1);
      break;
    }
    if (rec->status != CCONV_CHAR) {
      // Input ends inside the tag (CCONV_OK as well as CCONV_NEED_INPUT): the
      // tag is decoded again once more input is there.
      rec->inPos = start;
      rec->status = CCONV_NEED_INPUT;
      break;
    }
    std::uint32_t v = rec->rawCode;
    if (rec->inCharset == 0 && v == kUcsLanguageTag) {
      len = 0;  // a new tag replaces the unfinished one
      continue;
    }
    if (rec->inCharset == 0 && v == kUcsCancelTag) {
      text[len] = '\0';
      std::memcpy(rec->langCurrent, text, len + 1);
      rec->status = CCONV_INVALID;
      break;
    }
    if (rec->inCharset == 0 && isTagChar(v)) {
      text[len++] = static_cast<char>(v & 0xFF);
      if (len >= CCONV_TEXT_SIZE) {
        rec->status = CCONV_INVALID;  // too long: langCurrent unchanged
        break;
      }
      continue;
    }
    // The character after the tag: the inner call has classified it, and it
    // is the character this call delivers.
    text[len] = '\0';
    std::memcpy(rec->langCurrent, text, len + 1);
    result = 1;
    break;
  }
  tReadingTag = false;
  return result;
}

}  // namespace

// Besides the dest-function statuses it may leave CCONV_NEXT: the value was a
// tag character outside any tag, dropped, and the caller decodes the next
// character. The dest functions never pass that status on.
int ucsClassify(CconvRecord* rec, std::int32_t start) {
  const std::uint32_t v = rec->rawCode;
  const RuleDef* rule = ucsSrcRule(rec);
  const PtrList* sets = rule ? rule->charsets : nullptr;
  const std::uint32_t count = sets ? sets->count : 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const CharsetDef* set = static_cast<const CharsetDef*>(sets->items[i]);
    if (set->type == kSetUserArea) {
      if (v >= set->defStart && v < static_cast<std::uint32_t>(set->defStart) + set->defNumber) {
        rec->inCharset = set->id;
        rec->inCharsetType = kSetUserArea;
        rec->code = v;
        rec->ucs = kUcsPrivateUse + (v - set->defStart);
        rec->inChars += 1;
        rec->status = CCONV_CHAR;
        return 1;
      }
      continue;
    }
    // Below 0x80 every set takes the value: no look-up needed.
    const CodeTable* toUcs = set->toUcs;
    if (v < 0x80 || !toUcs || !ctableIsLoaded(toUcs) || ctableValueFast(toUcs, v) != 0) {
      rec->inCharset = set->id;
      rec->inCharsetType = set->type;
      rec->code = v;
      rec->ucs = v;
      rec->inChars += 1;
      rec->status = CCONV_CHAR;
      return 1;
    }
  }
  if (tReadingTag) {
    if (v == kUcsLanguageTag || isTagChar(v)) {
      rec->status = CCONV_CHAR;  // for the tag reader: no set, no code
      return 1;
    }
  } else if (v == kUcsLanguageTag) {
    return readLangTag(rec, start);
  } else if (isTagChar(v)) {
    // A tag character outside a tag carries no text: it is dropped, and
    // CCONV_NEXT tells the dest function to go on with the next character.
    rec->status = CCONV_NEXT;
    return 0;
  }
  rec->status = CCONV_INVALID;  // inPos stays after it: skipping goes on with the next
  return 0;
}

int ucsWriteLangTag(CconvRecord* rec, ByteWriter writer) {
  if (rec->lang[0] == '\0') return 1;
  if (rec->langCurrent[0] == '\0') std::memcpy(rec->langCurrent, rec->lang, sizeof rec->lang);
  if (std::strcmp(rec->langWritten, rec->langCurrent) == 0) return 1;
  const std::int32_t pos = rec->outPos;
  const std::int32_t chars = rec->outChars;
  int ok = writer(rec, kUcsLanguageTag);
  if (std::strcmp(rec->langCurrent, rec->lang) == 0) {
    ok = ok && writer(rec, kUcsCancelTag);
  } else {
    for (const char* c = rec->langCurrent; ok && *c; ++c)
      ok = writer(rec, 0xE0000u + static_cast<unsigned char>(*c));
  }
  if (!ok) {
    // The whole tag is written again next time; the units counted so far are
    // taken back with it.
    rec->outPos = pos;
    rec->outChars = chars;
    rec->status = CCONV_OUTPUT_FULL;
    return 0;
  }
  std::memcpy(rec->langWritten, rec->langCurrent, sizeof rec->langCurrent);
  return 1;
}

void ucsReadUnit(CconvRecord* rec, std::uint32_t* value, int n) {
  const unsigned char* p = rec->inBuf + rec->inPos;
  std::uint32_t v = 0;
  if (rec->srcOptions.inBigEndian) {
    for (int i = 0; i < n; ++i) v = (v << 8) | p[i];
  } else {
    for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  }
  rec->inPos += n;
  *value = v;
}

int ucsDetectBom(CconvRecord* rec, const unsigned char* le, const unsigned char* be, int len) {
  if (!rec->srcOptions.inDetectBom || rec->inPos >= rec->inLen) return 1;
  if (rec->inLen - rec->inPos < len) {
    rec->status = CCONV_NEED_INPUT;
    return 0;
  }
  const unsigned char* p = rec->inBuf + rec->inPos;
  if (std::memcmp(p, le, len) == 0) {
    rec->srcOptions.inBigEndian = 0;
    rec->inPos += len;
  } else if (std::memcmp(p, be, len) == 0) {
    rec->srcOptions.inBigEndian = 1;
    rec->inPos += len;
  }
  rec->srcOptions.inDetectBom = 0;
  return 1;
}

int ucsPlace(CconvRecord* rec) {
  const RuleDef* rule = reinterpret_cast<const RuleDef*>(rec->dstRule);
  return placeDirect(rec, rule) || placeViaUcs(rec, rule);
}

int ucsWriteBom(CconvRecord* rec, const unsigned char* bom, int len) {
  if (static_cast<std::int64_t>(rec->outPos) + len > rec->outSize) return 0;
  std::memcpy(rec->outBuf + rec->outPos, bom, len);
  rec->outPos += len;
  rec->dstOptions.outWriteBom = 0;
  rec->status = CCONV_NEXT;
  return 1;
}

int ucsUnmappable(CconvRecord* rec, const unsigned char* bom, int bomLen) {
  // The mark goes first, so that a host that stops at the character still
  // has it. Without room for it the host is asked for room, and the retry
  // writes the mark and reports the character then: the output does not
  // depend on the size of the buffers.
  if (rec->dstOptions.outWriteBom && !ucsWriteBom(rec, bom, bomLen)) {
    rec->outCharset = 0;
    rec->outCharsetType = 0;
    rec->outCode = 0;
    rec->outUnit = 0;
    rec->ucs2 = 0;
    rec->outSeqLen = kUcsUnplaced;
    rec->status = CCONV_OUTPUT_FULL;
    return 0;
  }
  rec->status = CCONV_UNMAPPABLE;
  return 0;
}

int ucsConst(CconvRecord* rec, const unsigned char* bom, int bomLen, ByteWriter writer) {
  const std::uint32_t entry = rec->status;
  if (entry == CCONV_OUTPUT_FULL && rec->outSeqLen == kUcsUnplaced)
    return ucsUnmappable(rec, bom, bomLen);
  // Placement comes before the mark: when the mark does not fit, the retry
  // (CCONV_OUTPUT_FULL) then finds the character already placed.
  if (entry != CCONV_OUTPUT_FULL && entry != CCONV_TERMINATE && !ucsPlace(rec))
    return ucsUnmappable(rec, bom, bomLen);
  if (rec->dstOptions.outWriteBom && !ucsWriteBom(rec, bom, bomLen)) {
    rec->status = CCONV_OUTPUT_FULL;
    return 0;
  }
  if (entry == CCONV_TERMINATE) {
    rec->status = CCONV_OK;
    return 1;
  }
  if (rec->outUnit == 0) {
    // Nothing placed (an empty substitute): write nothing rather than a
    // unit of value 0.
    rec->status = CCONV_NEXT;
    return 1;
  }
  if (!ucsWriteLangTag(rec, writer)) return 0;
  return writeChar(rec, nullptr, writer);
}

}  // namespace zk
