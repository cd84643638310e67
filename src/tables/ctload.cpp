// The table loader. A table file is text: pairs of hexadecimal numbers (a
// charset code and its Unicode value), in the encoding of the definition file
// that named it, with "<...>" markup skipped. Its first load also writes the
// compiled file beside it: nothing but 8-byte records, one per stored pair,
//   bytes 0-3  first column, least significant byte first
//   bytes 4-7  second column, least significant byte first
// in file order. Every later load, in any process, reads that file instead.
//
// The compiled file is written under a name of this process's own, created
// exclusively, made durable and renamed into place when complete, so that no
// process ever reads a partial one, even when the process that was writing
// it died or the machine stopped.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "defs/reader.h"
#include "frame/state.h"
#include "platform/platform.h"
#include "tables/codetable.h"

namespace zk {

namespace {

constexpr std::size_t kWindow = 16384;
constexpr std::size_t kRefillAfter = 8192;

// The table file seen through a fixed window, so that a file of any size is
// read with one buffer.
struct TableReader {
  PlatformFile file;
  long long fileLeft;  // bytes not yet read into the window
  bool fileEnded;      // a read delivered less than asked
  std::size_t len;     // bytes in the window
  std::size_t pos;     // bytes of the window consumed
  std::uint8_t window[kWindow];
};

void fill(TableReader* r, std::size_t want) {
  if (r->fileEnded || r->fileLeft <= 0 || want == 0) return;
  if (static_cast<long long>(want) > r->fileLeft) want = static_cast<std::size_t>(r->fileLeft);
  std::size_t got = platformFileRead(r->file, r->window + r->len, want);
  r->len += got;
  r->fileLeft -= static_cast<long long>(got);
  if (got < want) r->fileEnded = true;
}

// One unit of `width` bytes; false at the end of the file.
bool readUnit(TableReader* r, int width, bool big, std::uint32_t* unit) {
  if (r->pos > kRefillAfter) {
    std::size_t consumed = r->pos;
    std::memmove(r->window, r->window + consumed, r->len - consumed);
    r->len -= consumed;
    r->pos = 0;
    fill(r, consumed);
  }
  if (r->len - r->pos < static_cast<std::size_t>(width)) return false;
  const std::uint8_t* p = r->window + r->pos;
  std::uint32_t v = 0;
  for (int k = 0; k < width; ++k) v |= std::uint32_t{p[k]} << (8 * (big ? width - 1 - k : k));
  r->pos += width;
  *unit = v;
  return true;
}

// One character; a UTF-16 surrogate takes the next unit with it and the two
// are returned as a value that is never a digit or markup.
bool readChar(TableReader* r, std::uint32_t encoding, bool big, std::uint32_t* ch) {
  int width = encoding == kTextUcs4 ? 4 : (encoding == kTextUtf16 || encoding == kTextUcs2) ? 2 : 0;
  if (width == 0 || !readUnit(r, width, big, ch)) return false;
  if (encoding == kTextUtf16 && *ch >= 0xD800 && *ch <= 0xDFFF) {
    std::uint32_t second;
    if (!readUnit(r, 2, big, &second)) return false;
    *ch = 0x10000;
  }
  return true;
}

int hexValue(std::uint32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return -1;
}

// Whether a table file name stays inside the charset directory: no drive,
// no leading separator, no ".." component. Subdirectories are fine.
bool staysInside(const char* name) {
  if (name[0] == '/' || name[0] == '\\' ||
      (((name[0] | 0x20) >= 'a' && (name[0] | 0x20) <= 'z') && name[1] == ':'))
    return false;
  for (const char* p = name; *p;) {
    std::size_t n = std::strcspn(p, "/\\");
    if (n == 2 && p[0] == '.' && p[1] == '.') return false;
    p += n;
    if (*p) ++p;
  }
  return true;
}

// The file names of a table: the table file (base name and extension
// lower-cased) and the compiled file beside it. False when they do not fit,
// or when the name would leave the charset directory: such a table file
// counts as one that cannot be read, and no compiled file is made for it.
bool tablePaths(const CodeTable* t, char* text, char* compiled, std::size_t size) {
  if (!staysInside(t->sourceName)) return false;
  char dir[kFieldSize];
  if (!stateCharsetDir(dir, kFieldSize)) dir[0] = '\0';
  // Joined by hand: the formatted-output code of the C library would be
  // paged in for nothing else on a short run.
  char full[2 * kFieldSize];
  const std::size_t dirLen = std::strlen(dir), nameLen = std::strlen(t->sourceName);
  const std::size_t n = dirLen + nameLen;
  if (n >= sizeof full || n + 5 > size) return false;
  std::memcpy(full, dir, dirLen);
  std::memcpy(full + dirLen, t->sourceName, nameLen + 1);
  std::size_t parts[3];
  splitPathParts(full, parts);
  // Definition files written for Windows separate directories of a table's
  // name with backslashes; here they name subdirectories too.
  for (std::size_t i = dirLen; i < parts[1]; ++i)
    if (full[i] == '\\') full[i] = kPathSeparator;
  for (std::size_t i = parts[1]; full[i]; ++i)
    if (full[i] >= 'A' && full[i] <= 'Z') full[i] = static_cast<char>(full[i] + 32);
  std::memcpy(text, full, n + 1);
  std::memcpy(compiled, full, parts[2]);
  std::memcpy(compiled + parts[2], ".cmp", 5);
  return true;
}

void store(CodeTable* t, std::uint32_t first, std::uint32_t second, bool* ok) {
  *ok = t->direction == 1 ? ctableSet(t, first, second) : ctableSet(t, second, first);
}

// Reads an existing compiled file; false when it cannot be opened or sized,
// in which case the table file is compiled instead.
bool readCompiled(CodeTable* t, const char* path) {
  std::int64_t size;
  PlatformFile f = platformFileOpenRead(path, &size);
  if (f == kNoFile) return false;
  // Whatever its size or age, an existing compiled file is used: an empty or
  // unreadable one leaves the table empty.
  if (size > 0 && size <= 0x7FFFFFFF) {
    // The file goes through a small buffer, so that reading it touches no
    // fresh memory. A file that delivers fewer bytes than its size stores
    // nothing: what was stored before that showed is removed again (the
    // table was empty, being loaded for the first time). After memory ran
    // out nothing more is stored, but the file is still read to the end to
    // tell a short one.
    std::uint8_t buf[8192];  // a whole number of records
    std::size_t left = static_cast<std::size_t>(size);
    bool storing = true;
    while (left > 0) {
      const std::size_t want = left < sizeof buf ? left : sizeof buf;
      if (platformFileRead(f, buf, want) != want) {
        ctableClear(t);
        break;
      }
      left -= want;
      // A shorter rest after the last whole record is ignored.
      if (storing) storing = ctableSetRecords(t, buf, want / 8, t->direction == 1) == want / 8;
    }
  }
  platformFileClose(f);
  return true;
}

// The compiled file being written: records gather in a buffer that goes to
// the file when full. `file` is kNoFile when there is none, or once a write
// failed.
struct CompiledWriter {
  PlatformFile file;
  std::size_t len;
  std::uint8_t buf[4096];
};

void flush(CompiledWriter* w) {
  if (w->file != kNoFile && w->len > 0 && !platformFileWrite(w->file, w->buf, w->len)) {
    platformFileClose(w->file);
    w->file = kNoFile;  // the caller removes what was written
  }
  w->len = 0;
}

void putLe(std::uint8_t* p, std::uint32_t v) {
  for (int k = 0; k < 4; ++k) p[k] = static_cast<std::uint8_t>(v >> (8 * k));
}

// Reads the pairs of the table file into the table and, while `out` (may be
// null) has a file, writes their records. Returns false when memory ran out.
bool compileText(CodeTable* t, const char* path, CompiledWriter* out) {
  std::int64_t size;
  PlatformFile f = platformFileOpenRead(path, &size);
  if (f == kNoFile) return true;
  auto* r = static_cast<TableReader*>(std::malloc(sizeof(TableReader)));
  if (!r) {
    platformFileClose(f);
    return false;
  }
  r->file = f;
  r->fileLeft = size;
  r->fileEnded = false;
  r->len = r->pos = 0;
  fill(r, kWindow);

  const bool big = t->sourceBigEndian != 0;
  bool stored = true;
  bool inMarkup = false, inNumber = false, haveFirst = false;
  std::uint32_t number = 0, first = 0, ch;
  while (readChar(r, t->sourceEncoding, big, &ch)) {
    if (inMarkup) {
      inMarkup = ch != '>';
      continue;
    }
    int d = hexValue(ch);
    if (d >= 0) {
      // Modulo 2^32: a run of any length keeps its last eight digits.
      number = inNumber ? (number << 4) | static_cast<std::uint32_t>(d) : static_cast<std::uint32_t>(d);
      inNumber = true;
      continue;
    }
    if (inNumber) {
      inNumber = false;
      if (!haveFirst) {
        first = number;
        haveFirst = true;
      } else {
        haveFirst = false;
        store(t, first, number, &stored);
        if (!stored) break;
        if (out && out->file != kNoFile) {
          if (out->len == sizeof out->buf) flush(out);
          putLe(out->buf + out->len, first);
          putLe(out->buf + out->len + 4, number);
          out->len += 8;
        }
      }
    }
    if (ch == '<') inMarkup = true;
  }
  // A run of digits that reaches the end of the file is not a number.
  platformFileClose(f);
  std::free(r);
  return stored;
}

void markLoaded(CodeTable* t) {
  // A table with at most one distinct key counts as loaded only when that key
  // is a plausible code; otherwise the next request marks it without reading.
  if (t->maxKey != t->minKey || (t->minKey != 0 && t->minKey < 0x10000000u)) {
    gTableEpoch.fetch_add(1, std::memory_order_acq_rel);
    t->loaded.store(1, std::memory_order_release);
  }
}

}  // namespace

void ctableLoad(CodeTable* t) {
  if (!t || t->sourceName[0] == '\0' || ctableIsLoaded(t)) return;
  if (++t->loadAttempts != 0) {
    gTableEpoch.fetch_add(1, std::memory_order_acq_rel);
    t->loaded.store(1, std::memory_order_release);
    return;
  }
  char text[2 * kFieldSize], compiled[2 * kFieldSize];
  if (!tablePaths(t, text, compiled, sizeof text)) {
    markLoaded(t);
    return;
  }
  if (readCompiled(t, compiled)) {
    markLoaded(t);
    return;
  }
  // A process killed while compiling this table left its temporary file.
  platformRemoveStaleTemps(compiled);
  // The temporary name is this process's own; one left by a dead process
  // that had the same number, or a planted link, is passed over.
  char temp[2 * kFieldSize + 32];
  auto* out = static_cast<CompiledWriter*>(std::malloc(sizeof(CompiledWriter)));
  if (out) {
    out->file = kNoFile;
    out->len = 0;
    for (unsigned k = 0; k < 8 && out->file == kNoFile; ++k) {
      std::snprintf(temp, sizeof temp, k ? "%s.tmp%u-%u" : "%s.tmp%u", compiled,
                    platformProcessId(), k);
      out->file = platformFileCreateNew(temp);
    }
  }
  const bool writing = out && out->file != kNoFile;
  bool complete = compileText(t, text, writing ? out : nullptr);
  if (writing) {
    flush(out);
    // A compile cut short by lack of memory is not kept: later loads would
    // trust it for good. Neither is one that may not have reached the disk.
    bool written = out->file != kNoFile && platformFileSync(out->file);
    if (out->file != kNoFile) written = platformFileClose(out->file) && written;
    if (written && complete) platformReplaceFile(temp, compiled);
    else platformFileRemove(temp);
  }
  std::free(out);
  markLoaded(t);
}

}  // namespace zk
