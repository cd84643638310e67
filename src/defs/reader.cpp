// The definition-file reader. A file is read whole, its encoding found from
// its first bytes, decoded to code points and preprocessed once; every later
// operation is a search over that flat text.
#include "defs/reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/state.h"
#include "platform/platform.h"
#include "tables/codetable.h"

namespace zk {

namespace {

constexpr std::uint32_t kSpace = 0x20;

bool isSep(char c) { return c == '/' || c == '\\'; }

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; }

bool hexDigit(std::uint32_t c, std::uint32_t* v) {
  if (c >= '0' && c <= '9') *v = c - '0';
  else if (c >= 'A' && c <= 'F') *v = c - 'A' + 10;
  else if (c >= 'a' && c <= 'f') *v = c - 'a' + 10;
  else return false;
  return true;
}

std::uint32_t cpCount(const DefDoc* doc) {
  return doc->text && doc->byteLen > 0 ? static_cast<std::uint32_t>(doc->byteLen) / 4 : 0;
}

// Copies code points [from, to) as bytes (low 8 bits each) into a 260-byte
// field. Returns 0, leaving an empty string, when they do not fit.
int copyField(const DefDoc* doc, std::uint32_t from, std::uint32_t to, char* out) {
  out[0] = '\0';
  if (to < from) return 1;
  if (to - from > static_cast<std::uint32_t>(kFieldSize - 1)) return 0;
  std::uint32_t n = 0;
  for (std::uint32_t i = from; i < to; ++i) out[n++] = static_cast<char>(doc->text[i]);
  out[n] = '\0';
  return 1;
}

// The byte copy of a document's text (see preprocess).
const std::uint8_t* narrowText(const DefDoc* doc) {
  return reinterpret_cast<const std::uint8_t*>(doc->text + cpCount(doc));
}

// Index of the first character `c` (1 to 0xFF) in [from, to), or `to`.
std::uint32_t scanFor(const DefDoc* doc, std::uint32_t from, std::uint32_t to, std::uint32_t c) {
  if (from >= to) return to;
  const std::uint8_t* narrow = narrowText(doc);
  const void* hit = std::memchr(narrow + from, static_cast<int>(c), to - from);
  return hit ? static_cast<std::uint32_t>(static_cast<const std::uint8_t*>(hit) - narrow) : to;
}

// Code-point index of the first `c` in [from, to), or `to`.
std::uint32_t findChar(const DefDoc* doc, std::uint32_t from, std::uint32_t to, std::uint32_t c) {
  return scanFor(doc, from, to, c);
}

// The first quoted value at or after code point `from` whose closing quote
// lies before `limit`: sets [*open, *close) to the characters between.
bool quotedSpan(const DefDoc* doc, std::uint32_t from, std::uint32_t limit, std::uint32_t* open,
                std::uint32_t* close) {
  std::uint32_t q1 = findChar(doc, from, limit, '"');
  if (q1 >= limit) return false;
  std::uint32_t q2 = findChar(doc, q1 + 1, limit, '"');
  if (q2 >= limit) return false;
  *open = q1 + 1;
  *close = q2;
  return true;
}

// Searches `key` from byte offset `from`; the match must end by `limit` (code
// points). Returns the code-point index just past it.
bool findKeyFrom(const DefDoc* doc, const char* key, std::uint32_t from, std::uint32_t limit,
                 std::uint32_t* past) {
  DefDoc probe = *doc;
  probe.cursor = from * 4;
  std::uint32_t end;
  if (!defFindKey(&probe, key, &end) || end / 4 > limit) return false;
  *past = end / 4;
  return true;
}

// ---- Opening --------------------------------------------------------------

bool matchAt(const std::uint8_t* b, std::size_t n, std::size_t at, const char* ascii,
             std::size_t compared) {
  if (at + compared > n) return false;
  for (std::size_t k = 0; k < compared; ++k) {
    std::uint8_t want = (k % 2 == 0) ? static_cast<std::uint8_t>(ascii[k / 2]) : 0;
    if (b[at + k] != want) return false;
  }
  return true;
}

// First occurrence of `s` in b[0..n), found through memchr on its first byte.
bool containsBytes(const std::uint8_t* b, std::size_t n, const char* s, std::size_t* at) {
  const std::size_t len = std::strlen(s);
  for (std::size_t i = 0; i + len <= n;) {
    const void* hit = std::memchr(b + i, s[0], n - len + 1 - i);
    if (!hit) return false;
    i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(hit) - b);
    if (std::memcmp(b + i, s, len) == 0) {
      *at = i;
      return true;
    }
    ++i;
  }
  return false;
}

// Sets *enc and *big from the raw bytes; false when the bytes do not tell.
bool detectEncoding(const std::uint8_t* b, std::size_t n, std::uint32_t* enc,
                    std::uint32_t* big) {
  // A UCS-4 byte order mark is taken before the UTF-16 one it begins with:
  // a definition file never starts with a NUL character.
  if (n >= 4 && b[0] == 0xFF && b[1] == 0xFE && b[2] == 0 && b[3] == 0) {
    *enc = kTextUcs4;
    *big = 0;
    return true;
  }
  if (n >= 4 && b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF) {
    *enc = kTextUcs4;
    *big = 1;
    return true;
  }
  if (n >= 2 && ((b[0] == 0xFF && b[1] == 0xFE) || (b[0] == 0xFE && b[1] == 0xFF))) {
    *big = b[0] == 0xFE;
    for (std::size_t i = 0; i < n && b[i] != 0x0D && b[i] != 0x0A; ++i) {
      if (b[i] != 'U' && b[i] != 'I') continue;
      // Both patterns end in a character without its trailing zero byte, so
      // that one test also matches big-endian text one byte later.
      if (matchAt(b, n, i, "UTF-16", 11)) {
        *enc = kTextUtf16;
        return true;
      }
      if (matchAt(b, n, i, "ISO-10646-UCS-2", 29)) {
        *enc = kTextUcs2;
        return true;
      }
    }
    return false;
  }
  if (n >= 4 && ((b[0] == 0xFF && b[3] == 0xFE) || (b[0] == 0xFE && b[3] == 0xFF))) {
    *enc = kTextUcs4;
    *big = b[0] == 0xFE;
    return true;
  }
  std::size_t utf8At = 0, shiftAt = 0;
  bool utf8 = containsBytes(b, n, "utf-8", &utf8At);
  bool shift = containsBytes(b, n, "shift", &shiftAt);
  if (!utf8 && !shift) return false;
  *enc = (utf8 && (!shift || utf8At < shiftAt)) ? kTextUtf8 : kTextShiftJis;
  *big = 0;
  return true;
}

std::uint32_t unit(const std::uint8_t* p, int width, bool big) {
  std::uint32_t v = 0;
  for (int k = 0; k < width; ++k) v |= std::uint32_t{p[k]} << (8 * (big ? width - 1 - k : k));
  return v;
}

// Every 2-byte unit as one code point; returns whether any unit is a
// surrogate. One plain loop per byte order, which the compiler vectorises.
bool widenUnits(const std::uint8_t* b, std::size_t units, bool big, std::uint32_t* out) {
  std::uint32_t surrogates = 0;
  const int hi = big ? 0 : 1, lo = big ? 1 : 0;
  for (std::size_t i = 0; i < units; ++i) {
    const std::uint32_t u = std::uint32_t{b[2 * i + hi]} << 8 | b[2 * i + lo];
    out[i] = u;
    surrogates |= static_cast<std::uint32_t>(u - 0xD800u < 0x800u);
  }
  return surrogates != 0;
}

// Decodes raw bytes into `out`, which holds n / 2 code points; false when
// the encoding is not one of the readable ones. The result is bounded so that
// 4 bytes per code point still fit a signed 32-bit length.
bool decode(const std::uint8_t* b, std::size_t n, std::uint32_t enc, bool big, std::uint32_t* out,
            std::uint32_t* count) {
  int width = enc == kTextUcs4 ? 4 : (enc == kTextUcs2 || enc == kTextUtf16) ? 2 : 0;
  if (width == 0) return false;
  std::size_t units = n / width;
  if (units > 0x1FFFFFFFu) return false;
  // Text without surrogates (nearly every file) is done in one pass.
  if (width == 2 && (!widenUnits(b, units, big, out) || enc == kTextUcs2)) {
    *count = static_cast<std::uint32_t>(units);
    return true;
  }
  std::uint32_t m = 0;
  for (std::size_t i = 0; i < units; ++i) {
    std::uint32_t u = unit(b + i * width, width, big);
    if (enc == kTextUtf16 && u >= 0xD800 && u <= 0xDFFF) {
      if (i + 1 >= units) break;  // a surrogate in the last unit is dropped
      std::uint32_t u2 = unit(b + (i + 1) * width, width, big);
      ++i;
      std::uint32_t hi = u, lo = u2;
      if (u2 >= 0xD800 && u2 <= 0xDBFF) {
        hi = u2;
        lo = u;
      }
      // Unsigned arithmetic: an ill-formed pair gives some value, never a trap.
      u = (hi - 0xD800) * 0x400 + (lo - 0xDC00) + 0x10000;
    }
    out[m++] = u;
  }
  *count = m;
  return true;
}

// Characters below 0x40 that preprocessing looks at: TAB, LF, CR, "-", "/", "<".
constexpr std::uint64_t kSpecial = (std::uint64_t{1} << 0x09) | (std::uint64_t{1} << 0x0A) |
                                   (std::uint64_t{1} << 0x0D) | (std::uint64_t{1} << '-') |
                                   (std::uint64_t{1} << '/') | (std::uint64_t{1} << '<');

// Removes processing instructions and "--" spans, turns line ends and tabs
// into spaces and indexes the tags, in place over c[0..n), into `tagWork` (n
// entries). The document then gets arrays of exactly the size they need: the
// working ones are sized by the input, and documents kept for the whole
// loading pass stay small.
bool preprocess(DefDoc* doc, std::uint32_t* c, std::uint32_t n, std::int32_t* tagWork) {
  // Where the next "?>" and the next "--" begin; a failed search is final, so
  // remembering it keeps a file full of unclosed openers linear.
  constexpr std::uint32_t kUnknown = 0xFFFFFFFFu, kNone = 0xFFFFFFFEu;
  std::uint32_t qgt = kUnknown, dd = kUnknown;
  std::uint32_t w = 0;
  std::int32_t tags = 0;
  for (std::uint32_t i = 0; i < n;) {
    std::uint32_t ch = c[i];
    if (ch >= 0x40 || !((kSpecial >> ch) & 1)) {
      c[w++] = ch;
      ++i;
      continue;
    }
    bool hasNext = i + 1 < n;
    if (ch == '<' && hasNext && c[i + 1] == '?') {
      if (qgt != kNone && (qgt == kUnknown || qgt < i + 1)) {
        qgt = kNone;
        for (std::uint32_t j = i + 1; j + 1 < n; ++j)
          if (c[j] == '?' && c[j + 1] == '>') {
            qgt = j;
            break;
          }
      }
      i = qgt == kNone ? i + 1 : qgt + 2;
      continue;
    }
    if (ch == '-' && hasNext && c[i + 1] == '-') {
      if (dd != kNone && (dd == kUnknown || dd < i + 2)) {
        dd = kNone;
        for (std::uint32_t j = i + 2; j + 1 < n; ++j)
          if (c[j] == '-' && c[j + 1] == '-') {
            dd = j;
            break;
          }
      }
      i = dd == kNone ? i + 1 : dd + 2;
      continue;
    }
    if (ch == 0x0D && hasNext && c[i + 1] == 0x0A) {
      c[w++] = kSpace;
      i += 2;
      continue;
    }
    if (ch == 0x0D || ch == 0x0A || ch == 0x09) {
      c[w++] = kSpace;
      ++i;
      continue;
    }
    if (ch == '<' || (ch == '/' && hasNext && c[i + 1] == '>'))
      tagWork[tags++] = static_cast<std::int32_t>(w);
    c[w++] = ch;
    ++i;
  }
  doc->byteLen = static_cast<std::int32_t>(w * 4);
  doc->tagCount = tags;
  // The text is followed in its block by a copy of one byte per character
  // (0 for characters beyond 0xFF), in which plain scans use memchr.
  auto* text = static_cast<std::uint32_t*>(std::malloc(w * 5 + 4));
  auto* tagPos = static_cast<std::int32_t*>(std::malloc((tags ? tags : 1) * sizeof(std::int32_t)));
  if (text && tagPos) {
    std::memcpy(text, c, w * 4);
    auto* narrow = reinterpret_cast<std::uint8_t*>(text + w);
    for (std::uint32_t i = 0; i < w; ++i) narrow[i] = c[i] < 0x100 ? static_cast<std::uint8_t>(c[i]) : 0;
    std::memcpy(tagPos, tagWork, static_cast<std::size_t>(tags) * sizeof(std::int32_t));
  }
  doc->text = text;
  doc->tagPos = tagPos;
  return text && tagPos;
}

// Files read during the loading pass: set files are named by many rule files.
// The cache owns the arrays of every document that defOpen reads meanwhile;
// opening the file again hands out the same arrays (searches never change
// them), and closing such a document leaves them to the cache.
struct CachedDoc {
  char* path;
  std::uint32_t hash;
  std::uint32_t defaultEncoding, defaultBigEndian;
  DefDoc doc;
};
bool gCacheOn = false;
CachedDoc* gCache = nullptr;
std::size_t gCacheCount = 0, gCacheCap = 0;

std::uint32_t pathHash(const char* p) {
  std::uint32_t h = 2166136261u;
  for (; *p; ++p) h = (h ^ static_cast<std::uint8_t>(*p)) * 16777619u;
  return h;
}

// Working memory of one open: the file's bytes, their code points and the
// tag index before it is compacted. During the loading pass one block serves
// every file in turn, instead of each file's working copies landing on heap
// pages not touched before; any other open takes and frees its own.
unsigned char* gWork = nullptr;
std::size_t gWorkSize = 0;

unsigned char* takeWork(std::size_t n) {
  if (!gCacheOn) return static_cast<unsigned char*>(std::malloc(n));
  if (gWorkSize < n) {
    std::free(gWork);
    const std::size_t size = n > 2 * gWorkSize ? n : 2 * gWorkSize;
    gWork = static_cast<unsigned char*>(std::malloc(size));
    gWorkSize = gWork ? size : 0;
  }
  return gWork;
}

void dropWork(unsigned char* work) {
  if (work != gWork) std::free(work);
}

bool cachedArrays(const DefDoc* doc) {
  for (std::size_t i = 0; i < gCacheCount; ++i)
    if (gCache[i].doc.text == doc->text) return true;
  return false;
}

// Lets go of the document's arrays without freeing them.
void forgetArrays(DefDoc* doc) {
  doc->text = nullptr;
  doc->tagPos = nullptr;
  doc->byteLen = 0;
  doc->tagCount = 0;
}

void clearDoc(DefDoc* doc) {
  std::free(doc->text);
  std::free(doc->tagPos);
  forgetArrays(doc);
}

}  // namespace

void splitPathParts(const char* path, std::size_t parts[3]) {
  std::size_t n = std::strlen(path);
  std::size_t drive = 0;
  if (n > 0 && isSep(path[0])) {
    drive = 1;
    if (n > 1 && isSep(path[1])) {
      drive = 2;
      while (drive < n && !isSep(path[drive])) ++drive;  // server name
    }
  } else if (n >= 2 && path[1] == ':') {
    drive = 2;
  }
  std::size_t dirEnd = drive;
  for (std::size_t i = drive; i < n; ++i)
    if (isSep(path[i])) dirEnd = i + 1;
  std::size_t baseEnd = n;
  for (std::size_t i = dirEnd; i < n; ++i)
    if (path[i] == '.') baseEnd = i;
  parts[0] = drive;
  parts[1] = dirEnd;
  parts[2] = baseEnd;
}

void splitPath(const char* path, char* drive, char* dir, char* base, char* ext) {
  std::size_t p[3];
  splitPathParts(path, p);
  std::size_t bounds[5] = {0, p[0], p[1], p[2], std::strlen(path)};
  char* outs[4] = {drive, dir, base, ext};
  for (int k = 0; k < 4; ++k) {
    std::size_t len = bounds[k + 1] - bounds[k];
    if (len > static_cast<std::size_t>(kFieldSize - 1)) len = kFieldSize - 1;
    std::memcpy(outs[k], path + bounds[k], len);
    outs[k][len] = '\0';
  }
}

namespace {

int openDoc(const char* name, std::uint32_t defaultEncoding, std::uint32_t defaultBigEndian,
            DefDoc* doc, bool keep) {
  forgetArrays(doc);
  doc->cursor = 0;
  if (!name) return 0;
  char dir[kFieldSize];
  if (!stateCharsetDir(dir, kFieldSize)) dir[0] = '\0';
  // Only the last component counts: every definition file lives in the
  // charset directory, under a lower-case name.
  std::size_t p[3];
  splitPathParts(name, p);
  const char* leaf = name + p[1];
  std::size_t leafLen = std::strlen(leaf), dirLen = std::strlen(dir);
  if (leafLen == 0 || leafLen > static_cast<std::size_t>(kFieldSize - 1)) return 0;
  char path[2 * kFieldSize];
  std::memcpy(path, dir, dirLen);
  for (std::size_t i = 0; i <= leafLen; ++i) path[dirLen + i] = lowerAscii(leaf[i]);

  const std::uint32_t hash = gCacheOn ? pathHash(path) : 0;
  if (gCacheOn) {
    for (std::size_t i = 0; i < gCacheCount; ++i) {
      const CachedDoc& c = gCache[i];
      if (c.hash == hash && c.defaultEncoding == defaultEncoding &&
          c.defaultBigEndian == defaultBigEndian && std::strcmp(c.path, path) == 0) {
        *doc = c.doc;
        return 1;
      }
    }
  }
  std::int64_t size = -1;
  PlatformFile f = platformFileOpenRead(path, &size);
  if (f == kNoFile) return 0;
  if (size <= 0 || size > 0x7FFFFFFF) {
    platformFileClose(f);
    return 0;
  }
  // The bytes, then room for a code point and a tag position per 2 bytes.
  const std::size_t rawSize = static_cast<std::size_t>(size), units = rawSize / 2 + 1;
  const std::size_t cpAt = (rawSize + 15) & ~std::size_t{15};
  unsigned char* work = takeWork(cpAt + 8 * units);
  if (!work) {
    platformFileClose(f);
    return 0;
  }
  auto* raw = static_cast<std::uint8_t*>(work);
  std::size_t got = platformFileRead(f, raw, rawSize);
  platformFileClose(f);

  std::uint32_t enc = defaultEncoding, big = defaultBigEndian;
  if (!detectEncoding(raw, got, &enc, &big)) {
    enc = defaultEncoding;
    big = defaultBigEndian;
  }
  doc->encoding = enc;
  doc->bigEndian = big;
  if (got != rawSize) {
    // A short read leaves an empty document: every search in it fails.
    dropWork(work);
    return 1;
  }
  std::uint32_t count = 0;
  auto* cps = reinterpret_cast<std::uint32_t*>(work + cpAt);
  const bool read = decode(raw, got, enc, big != 0, cps, &count) &&
                    preprocess(doc, cps, count, reinterpret_cast<std::int32_t*>(cps + units));
  dropWork(work);
  if (!read) {
    clearDoc(doc);
    return 0;
  }
  if (gCacheOn && keep) {
    // Kept for the rest of the pass; a failure here only means a re-read.
    if (gCacheCount == gCacheCap) {
      const std::size_t cap = gCacheCap ? gCacheCap * 2 : 64;
      auto* grown = static_cast<CachedDoc*>(std::realloc(gCache, cap * sizeof(CachedDoc)));
      if (grown) {
        gCache = grown;
        gCacheCap = cap;
      }
    }
    const std::size_t pathLen = std::strlen(path) + 1;
    char* kept = gCacheCount < gCacheCap ? static_cast<char*>(std::malloc(pathLen)) : nullptr;
    if (kept) {
      std::memcpy(kept, path, pathLen);
      gCache[gCacheCount++] = CachedDoc{kept, hash, defaultEncoding, defaultBigEndian, *doc};
    }
  }
  return 1;
}

}  // namespace

int defOpen(const char* name, std::uint32_t defaultEncoding, std::uint32_t defaultBigEndian,
            DefDoc* doc) {
  return openDoc(name, defaultEncoding, defaultBigEndian, doc, true);
}

int defOpenOnce(const char* name, std::uint32_t defaultEncoding, std::uint32_t defaultBigEndian,
                DefDoc* doc) {
  return openDoc(name, defaultEncoding, defaultBigEndian, doc, false);
}

void defCacheBegin() { gCacheOn = true; }

void defCacheEnd() {
  for (std::size_t i = 0; i < gCacheCount; ++i) {
    std::free(gCache[i].path);
    clearDoc(&gCache[i].doc);
  }
  std::free(gCache);
  gCache = nullptr;
  gCacheCount = gCacheCap = 0;
  std::free(gWork);
  gWork = nullptr;
  gWorkSize = 0;
  gCacheOn = false;
}

void defClose(DefDoc* doc) {
  if (!doc) return;
  if (gCacheOn && doc->text && cachedArrays(doc)) {
    forgetArrays(doc);  // the cache owns them
    return;
  }
  clearDoc(doc);
}

namespace {

// The first position `at` in [from, last] whose character is `lead` ("<" or
// "/") and at which `match` holds. The tag index holds every "<" and every
// "/" written before a ">", so it is walked instead of the text; only a "/"
// that came to stand before a ">" when something between them was removed
// is missing from it, and a plain scan looks for that.
template <class Match>
bool findTag(const DefDoc* doc, std::uint32_t from, std::uint32_t last, std::uint32_t lead,
             Match match, std::uint32_t* at) {
  const std::uint32_t* t = doc->text;
  if (doc->tagCount > 0) {
    // First index entry at or after `from`.
    std::int32_t lo = 0, hi = doc->tagCount;
    while (lo < hi) {
      std::int32_t mid = lo + (hi - lo) / 2;
      if (static_cast<std::uint32_t>(doc->tagPos[mid]) < from) lo = mid + 1;
      else hi = mid;
    }
    for (std::int32_t k = lo; k < doc->tagCount; ++k) {
      const std::uint32_t p = static_cast<std::uint32_t>(doc->tagPos[k]);
      if (p > last) break;
      if (t[p] == lead && match(p)) {
        *at = p;
        return true;
      }
    }
    if (lead == '<') return false;
  }
  for (std::uint32_t p = from; p <= last; ++p) {
    if ((p = scanFor(doc, p, last + 1, lead)) > last) break;
    if (match(p)) {
      *at = p;
      return true;
    }
  }
  return false;
}

// Whether the ASCII bytes key[0..len) stand at code point `at`.
inline bool sameAt(const std::uint32_t* t, std::uint32_t at, const char* key, std::size_t len) {
  for (std::size_t k = 0; k < len; ++k)
    if (t[at + k] != static_cast<std::uint8_t>(key[k])) return false;
  return true;
}

}  // namespace

int defFindKey(const DefDoc* doc, const char* key, std::uint32_t* end) {
  std::size_t klen = std::strlen(key);
  std::uint32_t n = cpCount(doc);
  std::uint32_t from = doc->cursor / 4;
  if (klen == 0 || klen > static_cast<std::size_t>(kMaxKeyLen) || from >= n || klen > n - from)
    return 0;
  const std::uint32_t last = n - static_cast<std::uint32_t>(klen);  // last possible start
  const std::uint32_t* t = doc->text;
  const std::uint32_t lead = static_cast<std::uint8_t>(key[0]);
  std::uint32_t at;
  if (lead == '<' || lead == '/') {
    if (!findTag(doc, from, last, lead,
                 [&](std::uint32_t p) { return sameAt(t, p + 1, key + 1, klen - 1); }, &at))
      return 0;
    *end = (at + static_cast<std::uint32_t>(klen)) * 4;
    return 1;
  }
  for (at = from; at <= last; ++at) {
    // The first character alone decides most positions.
    if ((at = scanFor(doc, at, last + 1, lead)) > last) return 0;
    if (sameAt(t, at + 1, key + 1, klen - 1)) {
      *end = (at + static_cast<std::uint32_t>(klen)) * 4;
      return 1;
    }
  }
  return 0;
}

int defFindElement(DefDoc* doc, const char* name, std::uint32_t* start, std::uint32_t* end) {
  std::size_t len = std::strlen(name);
  if (len + 3 > static_cast<std::size_t>(kMaxKeyLen)) return 0;
  const std::uint32_t n = cpCount(doc), from = doc->cursor / 4;
  const std::uint32_t* t = doc->text;
  const auto nameAt = [&](std::uint32_t p) { return sameAt(t, p, name, len); };
  // "<name>" and "<name " have the same length: the first position at which
  // either stands gives the earlier end. The cursor is never moved.
  std::uint32_t at;
  if (len + 2 > n || from > n - (len + 2) ||
      !findTag(doc, from, n - static_cast<std::uint32_t>(len + 2), '<',
               [&](std::uint32_t p) {
                 const std::uint32_t after = t[p + 1 + len];
                 return (after == '>' || after == kSpace) && nameAt(p + 1);
               },
               &at))
    return 0;
  const std::uint32_t s = at + static_cast<std::uint32_t>(len) + 2;
  // "</name>" from the start, else "/>".
  if (len + 3 <= n && s <= n - (len + 3) &&
      findTag(doc, s, n - static_cast<std::uint32_t>(len + 3), '<',
              [&](std::uint32_t p) { return t[p + 1] == '/' && t[p + 2 + len] == '>' && nameAt(p + 2); },
              &at)) {
    *start = s * 4;
    *end = at * 4;
    return 1;
  }
  if (n >= 2 && s <= n - 2 &&
      findTag(doc, s, n - 2, '/', [&](std::uint32_t p) { return t[p + 1] == '>'; }, &at)) {
    *start = s * 4;
    *end = at * 4;
    return 1;
  }
  return 0;
}

int defQuotedValue(const DefDoc* doc, std::uint32_t offset, char* out) {
  out[0] = '\0';
  std::uint32_t open, close;
  if (!quotedSpan(doc, offset / 4, cpCount(doc), &open, &close)) return 1;
  return copyField(doc, open, close, out);
}

int defDomainValue(const DefDoc* doc, std::uint32_t start, std::uint32_t end, char* out) {
  out[0] = '\0';
  std::uint32_t limit = end / 4 < cpCount(doc) ? end / 4 : cpCount(doc);
  std::uint32_t past, open, close;
  if (!findKeyFrom(doc, "domain=", start / 4, limit, &past)) return 1;
  if (!quotedSpan(doc, past, limit, &open, &close)) return 1;
  return copyField(doc, open, close, out);
}

namespace {

// As atoi reads a number (white space, a sign, digits), modulo 2^32.
std::uint32_t decimalAt(const DefDoc* doc, std::uint32_t i, std::uint32_t end) {
  const std::uint32_t* c = doc->text;
  while (i < end && (c[i] == ' ' || (c[i] >= '\t' && c[i] <= '\r'))) ++i;
  bool negative = i < end && c[i] == '-';
  if (i < end && (c[i] == '-' || c[i] == '+')) ++i;
  std::uint32_t v = 0;
  for (; i < end && c[i] >= '0' && c[i] <= '9'; ++i) v = v * 10 + (c[i] - '0');
  return negative ? 0u - v : v;
}

std::uint32_t hexAt(const DefDoc* doc, std::uint32_t i, std::uint32_t end) {
  const std::uint32_t* c = doc->text;
  while (i < end && (c[i] == ' ' || c[i] == '\t')) ++i;
  std::uint32_t v = 0, d;
  for (; i < end && hexDigit(c[i], &d); ++i) v = (v << 4) | d;
  return v;
}

}  // namespace

int defElementText(const DefDoc* doc, std::uint32_t start, std::uint32_t end, char* out) {
  std::uint32_t n = cpCount(doc);
  return copyField(doc, start / 4 < n ? start / 4 : n, end / 4 < n ? end / 4 : n, out);
}

int defQuotedHex(const DefDoc* doc, std::uint32_t offset, std::uint32_t* value) {
  std::uint32_t open, close;
  if (!quotedSpan(doc, offset / 4, cpCount(doc), &open, &close)) return 0;
  *value = hexAt(doc, open, close);
  return 1;
}

std::uint16_t defBytenumValue(const DefDoc* doc, std::uint32_t start, std::uint32_t end) {
  std::uint32_t limit = end / 4 < cpCount(doc) ? end / 4 : cpCount(doc);
  std::uint32_t past, open, close;
  if (!findKeyFrom(doc, "bytenum=", start / 4, limit, &past)) return 2;
  if (!quotedSpan(doc, past, limit, &open, &close)) return 2;
  return static_cast<std::uint16_t>(decimalAt(doc, open, close));
}

int defHexNumber(const std::uint32_t* cps, std::uint32_t first, std::uint32_t limit,
                 std::uint32_t* next, std::uint32_t* value) {
  std::uint32_t i = first, d;
  while (i < limit && !hexDigit(cps[i], &d)) ++i;
  if (i >= limit) return 0;
  std::uint32_t v = 0;  // modulo 2^32: a long run keeps its last eight digits
  while (i < limit && hexDigit(cps[i], &d)) {
    v = (v << 4) | d;
    ++i;
  }
  *next = i;
  *value = v;
  return 1;
}

char* defEntityRef(const DefDoc* doc, std::uint32_t start, std::uint32_t end) {
  std::uint32_t limit = end / 4 < cpCount(doc) ? end / 4 : cpCount(doc);
  for (std::uint32_t i = start / 4; i < limit; ++i) {
    if ((i = scanFor(doc, i, limit, '&')) >= limit) break;
    std::uint32_t from = i + 1;
    while (from < limit && doc->text[from] == kSpace) ++from;
    std::uint32_t semi = findChar(doc, from, limit, ';');
    if (semi >= limit) continue;
    auto* out = static_cast<char*>(std::malloc(semi - from + 1));
    if (!out) return nullptr;
    for (std::uint32_t k = from; k < semi; ++k) out[k - from] = static_cast<char>(doc->text[k]);
    out[semi - from] = '\0';
    return out;
  }
  return nullptr;
}

char* defEntityFile(DefDoc* doc, const char* entity) {
  const std::uint32_t saved = doc->cursor;
  const std::uint32_t n = cpCount(doc);
  doc->cursor = 0;
  std::uint32_t end = 0;
  char* out = nullptr;
  for (;;) {
    if (!defFindKey(doc, entity, &end)) {
      doc->cursor = saved;
      return nullptr;
    }
    if (end / 4 < n && doc->text[end / 4] == kSpace) break;
    doc->cursor = end;
  }
  doc->cursor = end;
  std::uint32_t past;
  if (defFindKey(doc, "SYSTEM ", &past) && past / 4 < n && doc->text[past / 4] == '"') {
    std::uint32_t from = past / 4 + 1;
    std::uint32_t close = findChar(doc, from, n, '"');
    if (close < n) {
      out = static_cast<char*>(std::malloc(close - from + 1));
      if (out) {
        for (std::uint32_t k = from; k < close; ++k) out[k - from] = static_cast<char>(doc->text[k]);
        out[close - from] = '\0';
      }
    }
  }
  doc->cursor = saved;
  return out;
}

int defBindTable(DefDoc* declaring, const DefDoc* refer, std::uint32_t start, std::uint32_t end,
                 CodeTable* t1, CodeTable* t2) {
  char* entity = defEntityRef(refer ? refer : declaring, start, end);
  if (!entity) return 0;
  char* file = defEntityFile(declaring, entity);
  std::free(entity);
  if (!file) return 0;
  // A name that does not fit the table's field is refused rather than cut:
  // a shortened name would name some other file.
  std::size_t len = std::strlen(file);
  int ok = len <= static_cast<std::size_t>(kFieldSize - 1);
  for (CodeTable* t : {t1, t2}) {
    if (!t || !ok) continue;
    std::memcpy(t->sourceName, file, len + 1);
    t->sourceEncoding = declaring->encoding;
    t->sourceBigEndian = declaring->bigEndian;
  }
  std::free(file);
  return ok;
}

}  // namespace zk
