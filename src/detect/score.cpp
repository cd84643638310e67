// Scoring of a window of bytes against seven candidate encodings.
//
// Every scorer is one forward pass with a few counters and rates the share of
// well-formed units, in units of 1/10000. The tests are byte-class tests; the
// two tables below stand in for the repertoires of UCS-2 and Shift_JIS.
#include <cstdint>
#include <cstring>

#include "detect/detect.h"

namespace zk {

namespace {

constexpr std::int32_t kWindow = 2048;

struct Span {
  const unsigned char* buf;
  std::int32_t pos;
  std::int32_t end;
};

// The scorers are reachable on their own: a range that makes no sense is empty.
Span spanOf(const CconvChkRecord* rec) {
  Span s{rec->inBuf, rec->inPos, rec->inLen};
  if (s.buf == nullptr || s.pos < 0 || s.end < s.pos) s.pos = s.end = 0;
  return s;
}

int ratio(std::uint32_t good, std::uint32_t bad) {
  if (good == 0) return 0;
  return static_cast<int>(static_cast<std::uint64_t>(good) * 10000u / (good + bad));
}

bool isText(unsigned b) {
  return (b >= 0x21 && b <= 0x7E) || b == 0x09 || b == 0x0A || b == 0x0D || b == 0x20;
}

bool isKana(unsigned b) { return b >= 0xA1 && b <= 0xDF; }

struct ByteRange {
  std::uint8_t from;
  std::uint8_t to;
};

// Accepted low bytes per high byte 0x00 to 0x33; {1, 0} marks "none".
struct Ucs2Row {
  ByteRange a;
  ByteRange b;
};

constexpr ByteRange kNone{1, 0};

constexpr Ucs2Row kUcs2Rows[0x34] = {
    /* 00 */ {{0x20, 0x7E}, {0xA0, 0xFF}},  // plus 09, 0A, 0D below
    /* 01 */ {{0x00, 0xF5}, kNone},
    /* 02 */ {{0x50, 0xA8}, {0xB0, 0xE9}},
    /* 03 */ {{0x00, 0x7E}, {0x84, 0xF3}},
    /* 04 */ {{0x00, 0xF9}, kNone},
    /* 05 */ {{0x31, 0x5F}, {0x61, 0xF4}},
    /* 06 */ {{0x0C, 0x52}, {0x60, 0xF9}},
    /* 07 */ {kNone, kNone},
    /* 08 */ {kNone, kNone},
    /* 09 */ {{0x01, 0x70}, {0x81, 0xFA}},
    /* 0A */ {{0x02, 0x74}, {0x81, 0xEF}},
    /* 0B */ {{0x82, 0xF2}, kNone},
    /* 0C */ {{0x01, 0x6F}, {0x82, 0xEF}},
    /* 0D */ {{0x02, 0x6F}, kNone},
    /* 0E */ {{0x01, 0xDD}, kNone},
    /* 0F */ {{0x00, 0xB9}, kNone},
    /* 10 */ {{0xA0, 0xF9}, kNone},
    /* 11 */ {{0x00, 0xF9}, kNone},
    /* 12 */ {kNone, kNone},
    /* 13 */ {kNone, kNone},
    /* 14 */ {kNone, kNone},
    /* 15 */ {kNone, kNone},
    /* 16 */ {kNone, kNone},
    /* 17 */ {kNone, kNone},
    /* 18 */ {kNone, kNone},
    /* 19 */ {kNone, kNone},
    /* 1A */ {kNone, kNone},
    /* 1B */ {kNone, kNone},
    /* 1C */ {kNone, kNone},
    /* 1D */ {kNone, kNone},
    /* 1E */ {{0x00, 0xF9}, kNone},
    /* 1F */ {{0x00, 0x7D}, kNone},
    /* 20 */ {{0x10, 0xE1}, kNone},
    /* 21 */ {{0x00, 0xEA}, kNone},
    /* 22 */ {{0x00, 0xF1}, kNone},
    /* 23 */ {{0x00, 0x7A}, kNone},
    /* 24 */ {{0x00, 0xEA}, kNone},
    /* 25 */ {{0x00, 0xEF}, kNone},
    /* 26 */ {{0x00, 0x6F}, kNone},
    /* 27 */ {{0x01, 0xBE}, kNone},
    /* 28 */ {kNone, kNone},
    /* 29 */ {kNone, kNone},
    /* 2A */ {kNone, kNone},
    /* 2B */ {kNone, kNone},
    /* 2C */ {kNone, kNone},
    /* 2D */ {kNone, kNone},
    /* 2E */ {kNone, kNone},
    /* 2F */ {kNone, kNone},
    /* 30 */ {{0x00, 0xFE}, kNone},
    /* 31 */ {{0x05, 0x9F}, kNone},
    /* 32 */ {{0x00, 0x7F}, kNone},
    /* 33 */ {{0x00, 0xFE}, kNone},
};

struct UnitRange {
  std::uint32_t from;
  std::uint32_t to;
};

// From high byte 0x4F on, whole blocks decide. U+4E00 to U+4EA5 is handled
// with the row of 0x4E, which stops short of U+4EA6.
constexpr UnitRange kUcs2Blocks[] = {
    {0x4E00, 0x9FA5}, {0xAC00, 0xD7A3}, {0xF900, 0xFA2D}, {0xFB00, 0xFBB1},
    {0xFBD3, 0xFDFB}, {0xFE20, 0xFEFC}, {0xFFCA, 0xFFEE},
};

constexpr UnitRange kSjisRanges[] = {
    {0x8140, 0x81AC}, {0x81B8, 0x81BF}, {0x81C8, 0x81CE}, {0x81DA, 0x81E8}, {0x81F0, 0x81F7},
    {0x81FC, 0x81FC}, {0x824F, 0x8258}, {0x8260, 0x8279}, {0x8281, 0x829A}, {0x829F, 0x82F1},
    {0x8340, 0x8396}, {0x839F, 0x83B6}, {0x83BF, 0x83D6}, {0x8440, 0x8460}, {0x8470, 0x8491},
    {0x849F, 0x84BE}, {0x8740, 0x8775}, {0x877E, 0x877E}, {0x8780, 0x879C}, {0x889F, 0x9872},
    {0x989F, 0x9FFC}, {0xE040, 0xEAA2}, {0xEAA3, 0xEAA4}, {0xED40, 0xEEEC}, {0xEEEF, 0xEEFC},
    {0xF040, 0xF9FC}, {0xFA40, 0xFC4B},
};

bool inByteRange(ByteRange r, std::uint8_t v) { return v >= r.from && v <= r.to; }

}  // namespace

bool isUcs2Assigned(std::uint8_t hi, std::uint8_t lo) {
  if (hi == 0x00 && (lo == 0x09 || lo == 0x0A || lo == 0x0D)) return true;
  if (hi < 0x34) return inByteRange(kUcs2Rows[hi].a, lo) || inByteRange(kUcs2Rows[hi].b, lo);
  if (hi < 0x4E) return false;
  if (hi == 0x4E) return lo <= 0xA5;
  const std::uint32_t unit = (static_cast<std::uint32_t>(hi) << 8) | lo;
  if (unit >= 0xFF00 && unit <= 0xFFC9) return false;  // full- and half-width forms
  for (const UnitRange& r : kUcs2Blocks) {
    if (unit >= r.from && unit <= r.to) return true;
  }
  return false;
}

bool isSjisCode(std::uint32_t pair) {
  for (const UnitRange& r : kSjisRanges) {
    if (pair < r.from) return false;  // ranges are sorted
    if (pair <= r.to) return true;
  }
  return false;
}

int scoreIso2022jp(const CconvChkRecord* rec) {
  enum Mode { kUndefined, kAscii, kRoman, kKatakana, kJisC6226, kJisX0208, kJisX0212 };
  const Span s = spanOf(rec);
  Mode mode = kRoman;
  std::uint32_t good = 0;
  std::uint32_t bad = 0;
  std::int32_t i = s.pos;
  while (i < s.end) {
    const unsigned b = s.buf[i];
    if (b == 0x1B) {
      if (s.end - i < 3) break;
      const unsigned b1 = s.buf[i + 1];
      const unsigned b2 = s.buf[i + 2];
      i += 3;
      if (b1 == 0x24 && b2 == 0x42) {
        mode = kJisX0208;
      } else if (b1 == 0x24 && b2 == 0x40) {
        mode = kJisC6226;
      } else if (b1 == 0x24 && b2 == 0x28) {
        if (i >= s.end) break;
        if (s.buf[i] == 0x44) mode = kJisX0212;
        ++i;
      } else if (b1 == 0x28 && b2 == 0x4A) {
        mode = kRoman;
      } else if (b1 == 0x28 && b2 == 0x42) {
        mode = kAscii;
      } else if (b1 == 0x28 && b2 == 0x49) {
        mode = kKatakana;
      } else {
        mode = kUndefined;
      }
      continue;
    }
    ++i;
    switch (mode) {
      case kUndefined:
        ++bad;
        break;
      case kAscii:
      case kRoman:
        isText(b) ? ++good : ++bad;
        break;
      case kKatakana:
        (isKana(b) || b == 0x09 || b == 0x0A || b == 0x0D || b == 0x20) ? ++good : ++bad;
        break;
      default:  // the two-byte modes
        if (b < 0x21 || b > 0x7E) {
          ++bad;
          break;
        }
        if (i >= s.end) return ratio(good, bad);
        {
          const unsigned b2 = s.buf[i++];
          (b2 >= 0x21 && b2 <= 0x7E) ? ++good : ++bad;
        }
        break;
    }
  }
  return ratio(good, bad);
}

int scoreUtf8(const CconvChkRecord* rec, std::uint32_t* multiCount, std::uint32_t* latinCount) {
  const Span s = spanOf(rec);
  std::uint32_t good = 0;
  std::uint32_t bad = 0;
  std::uint32_t multi = 0;
  std::uint32_t latin = 0;
  int result = -1;
  std::int32_t i = s.pos;
  while (i < s.end) {
    const unsigned b = s.buf[i];
    if (isText(b)) {
      ++good;
      ++i;
      continue;
    }
    if (b == 0xFE || b == 0xFF) {
      ++i;
      continue;
    }
    int more = 0;
    unsigned payload = 0;
    std::uint32_t lo = 0;
    std::uint32_t hi = 0;
    if (b >= 0xFC) {
      more = 5, payload = 0x01, lo = 0x4000000, hi = 0x7FFFFFFF;
    } else if (b >= 0xF8) {
      more = 4, payload = 0x03, lo = 0x200000, hi = 0x3FFFFFF;
    } else if (b >= 0xF0) {
      more = 3, payload = 0x07, lo = 0x10000, hi = 0x1FFFFF;
    } else if (b >= 0xE0) {
      more = 2, payload = 0x0F, lo = 0x800, hi = 0xFFFF;
    } else if (b >= 0xC0) {
      more = 1, payload = 0x1F, lo = 0x80, hi = 0x7FF;
    }
    if (more > 0 && s.end - i - 1 >= more) {
      std::uint32_t value = b & payload;
      for (int k = 1; k <= more; ++k) value = (value << 6) | (s.buf[i + k] & 0x3Fu);
      i += 1 + more;
      if (value >= lo && value <= hi) {
        ++good;
        ++multi;
        if (more == 1 && value >= 0xA0 && value <= 0xFF) ++latin;
      } else {
        ++bad;
      }
      continue;
    }
    // A failure: NUL and ESC rule the encoding out altogether.
    if (b == 0x00 || b == 0x1B) {
      result = 0;
      break;
    }
    ++bad;
    ++i;
  }
  if (multiCount != nullptr) *multiCount = multi;
  if (latinCount != nullptr) *latinCount = latin;
  return result == 0 ? 0 : ratio(good, bad);
}

int scoreEucjp(const CconvChkRecord* rec) {
  const Span s = spanOf(rec);
  std::uint32_t good = 0;
  std::uint32_t bad = 0;
  std::int32_t i = s.pos;
  while (i < s.end) {
    const unsigned b = s.buf[i++];
    if (b == 0x00 || b == 0x1B) return 0;
    if (isKana(b)) {
      if (i >= s.end) break;
      (s.buf[i++] >= 0xA1) ? ++good : ++bad;
    } else if (b == 0x8E || b == 0x8F) {
      if (i >= s.end) break;
      const unsigned b2 = s.buf[i++];
      if (!isKana(b2)) {
        ++bad;
      } else if (b == 0x8E) {
        ++good;
      } else {
        if (i >= s.end) break;
        (s.buf[i++] >= 0xA1) ? ++good : ++bad;
      }
    } else {
      isText(b) ? ++good : ++bad;
    }
  }
  return ratio(good, bad);
}

int scoreEucjpFix(const CconvChkRecord* rec) {
  const Span s = spanOf(rec);
  std::uint32_t good = 0;
  std::uint32_t bad = 0;
  std::int32_t i = s.pos;
  while (i < s.end) {
    const unsigned b = s.buf[i++];
    if (b == 0x1B) return 0;
    if (b == 0x00) {
      if (i >= s.end) break;
      const unsigned b2 = s.buf[i++];
      (isText(b2) || isKana(b2)) ? ++good : ++bad;
    } else if (isKana(b)) {
      if (i >= s.end) break;
      const unsigned b2 = s.buf[i++];
      ((b2 >= 0x21 && b2 <= 0x7E) || b2 >= 0xA1) ? ++good : ++bad;
    } else {
      ++bad;
    }
  }
  return ratio(good, bad);
}

int scoreUtf16(const CconvChkRecord* rec, int* beScore, int* leScore) {
  const Span s = spanOf(rec);
  std::uint32_t good[2] = {0, 0};
  std::uint32_t bad[2] = {0, 0};
  bool ascii[2] = {false, false};
  for (std::int32_t i = s.pos; s.end - i >= 2; i += 2) {
    const std::uint8_t b0 = s.buf[i];
    const std::uint8_t b1 = s.buf[i + 1];
    for (int order = 0; order < 2; ++order) {  // 0 high byte first, 1 low byte first
      const std::uint8_t hi = order == 0 ? b0 : b1;
      const std::uint8_t lo = order == 0 ? b1 : b0;
      if (isUcs2Assigned(hi, lo)) {
        ++good[order];
        if (hi == 0x00 && lo >= 0x21 && lo <= 0x7E) ascii[order] = true;
      } else {
        ++bad[order];
      }
    }
  }
  // Without a single ASCII unit, the pass is not believed: any byte pairs
  // from the CJK block would otherwise pass for UTF-16.
  const int be = ascii[0] ? ratio(good[0], bad[0]) : 0;
  const int le = ascii[1] ? ratio(good[1], bad[1]) : 0;
  if (beScore != nullptr) *beScore = be;
  if (leScore != nullptr) *leScore = le;
  return be > le ? be : le;
}

int scoreUcs4(const CconvChkRecord* rec, int* beScore, int* leScore) {
  const Span s = spanOf(rec);
  std::uint32_t good[2] = {0, 0};
  std::uint32_t bad[2] = {0, 0};
  bool ended[2] = {false, false};
  for (std::int32_t i = s.pos; s.end - i >= 4; i += 4) {
    const std::uint8_t* u = s.buf + i;
    for (int order = 0; order < 2; ++order) {  // 0 high byte first, 1 low byte first
      if (ended[order]) continue;
      const std::uint32_t upper = order == 0 ? (u[0] << 8 | u[1]) : (u[3] << 8 | u[2]);
      const std::uint8_t hi = order == 0 ? u[2] : u[1];
      const std::uint8_t lo = order == 0 ? u[3] : u[0];
      if (upper >= 0x11 && upper <= 0x7F) {
        ended[order] = true;
      } else if (upper >= 0x80) {
        ++bad[order];
      } else {
        isUcs2Assigned(hi, lo) ? ++good[order] : ++bad[order];
      }
    }
  }
  const int be = ended[0] ? 0 : ratio(good[0], bad[0]);
  const int le = ended[1] ? 0 : ratio(good[1], bad[1]);
  if (beScore != nullptr) *beScore = be;
  if (leScore != nullptr) *leScore = le;
  return be > le ? be : le;
}

int scoreSjis(const CconvChkRecord* rec, std::uint32_t* dblCount, std::uint32_t* highCount) {
  const Span s = spanOf(rec);
  std::uint32_t good = 0;
  std::uint32_t bad = 0;
  std::uint32_t dbl = 0;
  std::uint32_t high = 0;
  int result = -1;
  std::int32_t i = s.pos;
  while (i < s.end) {
    const unsigned b = s.buf[i];
    if (s.end - i >= 2 && isSjisCode(b << 8 | s.buf[i + 1])) {
      ++good;
      ++dbl;
      i += 2;
      continue;
    }
    ++i;
    if (b == 0x00 || b == 0x1B || b == 0x7F) {
      result = 0;
      break;
    }
    if (isText(b)) {
      ++good;
    } else if (isKana(b)) {
      ++good;
      ++high;
    } else if (b == 0xA0 || b >= 0xE0) {
      ++bad;
      ++high;
    } else {
      ++bad;
    }
  }
  if (dblCount != nullptr) *dblCount = dbl;
  if (highCount != nullptr) *highCount = high;
  return result == 0 ? 0 : ratio(good, bad);
}

const char* chkDecide(const ChkScores& s, std::uint32_t* bigEndian) {
  // The threshold falls from certainty in steps of 1/100; within a step the
  // candidates are tried in a fixed order, each against its rivals. ISO-2022-JP
  // is compared with nothing, so it wins only a step that nobody else takes.
  for (int t = 10000; t >= 7000; t -= 100) {
    if (s.fix > t && s.fix > s.u8 && s.fix > s.euc && s.fix > s.u16 && s.fix > s.u4 &&
        s.fix > s.sj) {
      return "EUC-JP-FIX";
    }
    if (s.euc > t && s.euc >= s.fix && s.euc > s.u8 && s.euc > s.u16 && s.euc > s.u4 &&
        s.euc > s.sj) {
      return "EUC-JP";
    }
    if (s.u16 > t && s.u16 >= s.fix && s.u16 > s.u8 && s.u16 > s.euc && s.u16 > s.u4 &&
        s.u16 > s.sj) {
      if (bigEndian != nullptr) *bigEndian = s.u16be > s.u16le ? 1 : 0;
      return "UTF-16";
    }
    if (s.u4 > t && s.u4 >= s.fix && s.u4 > s.u8 && s.u4 > s.euc && s.u4 > s.u16 && s.u4 > s.sj) {
      if (bigEndian != nullptr) *bigEndian = s.u4be > s.u4le ? 1 : 0;
      return "ISO-10646-UCS-4";
    }
    if (s.sj > t && s.sj >= s.fix && s.sj > s.u8 && s.sj >= s.euc && s.sj >= s.u16 && s.sj > s.u4) {
      return s.dblCount > 0 ? "WINDOWS31J" : s.highCount > 0 ? "ISO-8859-1" : "ISO-646IRV";
    }
    if (s.u8 > t && s.u8 >= s.fix && s.u8 >= s.euc && s.u8 >= s.u16 && s.u8 >= s.u4 &&
        s.u8 >= s.sj) {
      return s.multiCount > 0 ? "UTF-8" : s.latinCount > 0 ? "ISO-8859-1" : "ISO-646IRV";
    }
    if (s.jis > t) return "ISO-2022-JP";
  }
  return nullptr;
}

void chkScoreAll(CconvChkRecord* rec, ChkScores* s) {
  const std::int32_t savedLen = rec->inLen;
  if (rec->inLen - rec->inPos > kWindow) rec->inLen = rec->inPos + kWindow;
  s->jis = scoreIso2022jp(rec);
  s->u8 = scoreUtf8(rec, &s->multiCount, &s->latinCount);
  s->fix = scoreEucjpFix(rec);
  s->u16 = scoreUtf16(rec, &s->u16be, &s->u16le);
  s->u4 = scoreUcs4(rec, &s->u4be, &s->u4le);
  s->euc = scoreEucjp(rec);
  s->sj = scoreSjis(rec, &s->dblCount, &s->highCount);
  rec->inLen = savedLen;
}

int chkScore(CconvChkRecord* rec) {
  ChkScores s{};
  chkScoreAll(rec, &s);
  std::uint32_t bigEndian = rec->bigEndian;
  const char* name = chkDecide(s, &bigEndian);
  if (name == nullptr) return 0;
  rec->bigEndian = bigEndian;
  chkSetName(rec, name);
  return 1;
}

}  // namespace zk
