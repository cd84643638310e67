// Encoding detection: a byte order mark, then an XML declaration and its
// encoding pseudo-attribute, otherwise scoring of the first 2048 bytes
// (score.cpp); once a name is settled, a census of line ends.
//
// Every read is bounded by inLen; a test that needs more bytes than remain is
// simply not made. The keyword search and the value copy are also held to the
// 2048 bytes after inPos, so that the work is fixed whatever the buffer size.
#include "detect/detect.h"

#include <cstdint>
#include <cstring>

namespace zk {

namespace {

constexpr std::int32_t kWindow = 2048;

// Limit of the scans that follow a declaration.
std::int32_t scanLimit(const CconvChkRecord* rec) {
  return rec->inLen - rec->inPos > kWindow ? rec->inPos + kWindow : rec->inLen;
}

// A unit of `width` bytes at `at`; the caller has checked that it is in range.
std::uint32_t readUnit(const unsigned char* p, int width, bool bigEndian) {
  std::uint32_t u = 0;
  for (int k = 0; k < width; ++k) {
    const unsigned b = p[bigEndian ? k : width - 1 - k];
    u = (u << 8) | b;
  }
  return u;
}

// Whether `word` (ASCII letters) is spelt at p with every letter but the last
// followed by width - 1 zero bytes. The caller checked the length.
bool matchWide(const unsigned char* p, const char* word, int width) {
  for (int k = 0; word[k] != '\0'; ++k) {
    if (p[0] != static_cast<unsigned char>(word[k])) return false;
    ++p;
    if (word[k + 1] == '\0') break;
    for (int z = 1; z < width; ++z, ++p) {
      if (*p != 0x00) return false;
    }
  }
  return true;
}

std::int32_t wideLength(int letters, int width) { return letters + (letters - 1) * (width - 1); }

}  // namespace

void chkSetName(CconvChkRecord* rec, const char* name) {
  std::memcpy(rec->encodingName, name, std::strlen(name) + 1);
}

void chkBom(CconvChkRecord* rec) {
  struct Mark {
    std::int32_t length;
    unsigned char bytes[4];
    const char* name;
    std::uint32_t bigEndian;
  };
  // Order matters: FF FE 00 00 is UCS-4, not UTF-16 followed by a NUL.
  static const Mark kMarks[] = {
      {4, {0x00, 0x00, 0xFE, 0xFF}, "ISO-10646-UCS-4", 1},
      {4, {0xFF, 0xFE, 0x00, 0x00}, "ISO-10646-UCS-4", 0},
      {3, {0xEF, 0xBB, 0xBF, 0x00}, "UTF-8", 1},
      {2, {0xFE, 0xFF, 0x00, 0x00}, "UTF-16", 1},
      {2, {0xFF, 0xFE, 0x00, 0x00}, "UTF-16", 0},
  };
  const std::int32_t n = rec->inLen - rec->inPos;
  const unsigned char* p = rec->inBuf + rec->inPos;
  for (const Mark& m : kMarks) {
    if (n < m.length || std::memcmp(p, m.bytes, static_cast<std::size_t>(m.length)) != 0) continue;
    chkSetName(rec, m.name);
    rec->bigEndian = m.bigEndian;
    rec->hasBom = 1;
    rec->inPos += m.length;
    return;
  }
}

int chkXmlDecl(CconvChkRecord* rec) {
  struct Form {
    int width;
    std::int32_t offset;
  };
  // The 16- and 32-bit forms of either byte order share one signature; the
  // high-byte-first text carries it width - 1 bytes further on.
  static const Form kForms[] = {{1, 0}, {2, 0}, {2, 1}, {4, 0}, {4, 3}};
  const std::int32_t n = rec->inLen - rec->inPos;
  const unsigned char* p = rec->inBuf + rec->inPos;
  for (const Form& f : kForms) {
    const std::int32_t sigLen = wideLength(5, f.width);
    for (int shifted = 0; shifted <= (rec->hasBom ? 1 : 0); ++shifted) {
      const std::int32_t at = f.offset + (shifted ? 2 : 0);
      if (n <= at + sigLen) continue;
      if (!matchWide(p + at, "<?xml", f.width) && !matchWide(p + at, "<?XML", f.width)) continue;
      rec->xmlDeclared = 1;
      if (f.width > 1) rec->bigEndian = p[0] == 0x00 ? 1 : 0;
      return f.width;
    }
  }
  rec->xmlDeclared = 0;
  return 1;
}

int chkFindEncodingKeyword(CconvChkRecord* rec, int width) {
  if (width != 2 && width != 4) width = 1;
  const std::int32_t patLen = wideLength(8, width);
  const std::int32_t limit = scanLimit(rec);
  // The keyword is sought from the start of the buffer, on its first line.
  for (std::int32_t i = 0; i < limit - patLen; ++i) {
    const unsigned char* p = rec->inBuf + i;
    if (matchWide(p, "encoding", width) || matchWide(p, "ENCODING", width)) {
      return i - i % width;
    }
    if (*p == 0x0D || *p == 0x0A) return 0;
  }
  return 0;
}

int chkCopyEncodingValue(CconvChkRecord* rec, int width, int offset) {
  if (width != 2 && width != 4) width = 1;
  const std::int32_t limit = scanLimit(rec);
  const bool big = rec->bigEndian != 0;
  std::int32_t start = -1;
  std::int32_t end = -1;
  for (std::int32_t o = offset < 0 ? 0 : offset; o < limit - width; o += width) {
    const std::uint32_t u = readUnit(rec->inBuf + o, width, big);
    if (u != 0x22 && u != 0x27) continue;
    if (start < 0) {
      start = o + width;
    } else {
      end = o;
      break;
    }
  }
  // A value that never closes, or that would not fit, leaves the name alone.
  if (end >= 0 && (end - start) + 1 < CCONV_TEXT_SIZE) {
    int k = 0;
    for (std::int32_t o = start; o < end; o += width, ++k) {
      rec->encodingName[k] = static_cast<char>(readUnit(rec->inBuf + o, width, big) & 0xFF);
    }
    rec->encodingName[k] = '\0';
  }
  return rec->encodingName[0] != '\0';
}

void chkNewline(CconvChkRecord* rec, int width) {
  bool big = rec->bigEndian != 0;
  if (std::strcmp(rec->encodingName, "EUC-JP-FIX") == 0) {
    width = 2;
    big = true;
  } else if (std::strcmp(rec->encodingName, "UTF-16") == 0) {
    width = 2;
  } else if (std::strcmp(rec->encodingName, "ISO-10646-UCS-4") == 0) {
    width = 4;
  } else if (width != 2 && width != 4) {
    width = 1;
  }

  const std::int32_t limit = scanLimit(rec);
  std::uint32_t crlf = 0, cr = 0, lf = 0, ls = 0, ps = 0;
  std::uint32_t prev = 0;
  std::int32_t i = rec->inPos;
  while (limit - i >= width) {
    const std::uint32_t u = readUnit(rec->inBuf + i, width, big);
    i += width;
    if (prev == 0xE2 && u == 0x80) {
      // The UTF-8 forms E2 80 A8 and E2 80 A9. In wider units the third
      // unit is read whole, so that the census stays on unit boundaries.
      if (limit - i >= width) {
        const std::uint32_t v = readUnit(rec->inBuf + i, width, big);
        i += width;
        if (v == 0xA8) ++ls;
        if (v == 0xA9) ++ps;
      }
      prev = 0;
    } else if (prev == 0x0D) {
      u == 0x0A ? ++crlf : ++cr;
      prev = 0;
    } else if (prev == 0x0A) {
      u == 0x0D ? ++crlf : ++lf;  // LF CR counts as CR LF
      prev = 0;
    } else {
      if (u == 0x2028) ++ls;
      if (u == 0x2029) ++ps;
      prev = u;
    }
  }

  std::uint32_t kind = 0;
  if (std::strcmp(rec->encodingName, "ISO-2022-JP") == 0) {
    if (cr != 0 && cr > lf) {
      kind = 2;
    } else if (lf != 0 && lf > cr) {
      kind = 3;
    } else if (crlf != 0) {
      kind = 1;
    }
  } else {
    const std::uint32_t counts[5] = {ls, ps, cr, lf, crlf};
    const std::uint32_t kinds[4] = {4, 5, 2, 3};
    for (int c = 0; c < 4 && kind == 0; ++c) {
      bool wins = counts[c] != 0;
      for (int o = 0; o < 5 && wins; ++o) {
        if (o != c && counts[c] <= counts[o]) wins = false;
      }
      if (wins) kind = kinds[c];
    }
    if (kind == 0 && crlf != 0) kind = 1;
  }
  rec->newlineKind = kind;
}

}  // namespace zk

extern "C" ZRKVT16_API int cconvChkEncode(CconvChkRecord* rec) {
  // Without a record there is nowhere to answer; "unknown" is all we can say.
  if (rec == nullptr) return 0;
  const std::int32_t savedPos = rec->inPos;
  const std::int32_t savedLen = rec->inLen;
  cconvLoadRule();

  std::memset(rec->encodingName, 0, sizeof rec->encodingName);
  rec->xmlDeclared = 0;
  rec->hasBom = 0;
  rec->newlineKind = 0;
  rec->encodingClass = 0;
  rec->bigEndian = 1;

  // A range that makes no sense is examined as an empty one.
  if (rec->inBuf == nullptr || rec->inLen < 0 || rec->inPos < 0 || rec->inPos > rec->inLen) {
    rec->inPos = 0;
    rec->inLen = 0;
  }
  const std::int32_t startPos = rec->inPos;

  zk::chkBom(rec);
  const int width = zk::chkXmlDecl(rec);
  if (rec->xmlDeclared) {
    const int offset = zk::chkFindEncodingKeyword(rec, width);
    bool named = false;
    if (offset > 0) named = zk::chkCopyEncodingValue(rec, width, offset) != 0;
    if (offset == 0 || !named) {
      zk::chkSetName(rec, width == 2 ? "UTF-16" : width == 4 ? "ISO-10646-UCS-4" : "UTF-8");
    }
  } else if (!rec->hasBom) {
    zk::chkScore(rec);
  }
  rec->inPos = startPos;

  int settled = 0;
  if (rec->encodingName[0] == '\0') {
    zk::chkSetName(rec, "unknown");
  } else {
    zk::chkNewline(rec, width);
    const char* n = rec->encodingName;
    rec->encodingClass = (std::strcmp(n, "UTF-16") == 0 || std::strcmp(n, "ISO-10646-UCS-2") == 0 ||
                          std::strcmp(n, "ISO-10646-UCS-4") == 0)
                             ? 0x1002u
                             : 1u;
    settled = 1;
  }
  rec->inPos = savedPos;
  rec->inLen = savedLen;
  return settled;
}
