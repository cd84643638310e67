// Conversion between any two shipped encodings with any options, driven as a
// host drives it. The first 12 bytes choose the pair, the options and a seed;
// the rest is the input. The input is converted twice: once in one piece into
// one large buffer, and once fed in random pieces into random small buffers
// that are drained when full and grown when not even one character fits.
// Every buffer is a heap block of exactly its size plus guard bytes, fresh
// for each call, so that the sanitizers see any access outside it.
//
// Checked after every call: the guard bytes behind outSize and the bytes
// before the starting outPos are untouched, inPos stays within [0, inLen],
// outPos within [start, outSize]; the number of calls, of buffer growths and
// of output bytes stay bounded. Both runs must then agree on the output
// bytes, the final status, the input position and both counters, except
// where the library is built to decide on the bytes it has been given:
//   - the JIS X 0213 pair look-ahead of the UTF-8 and UTF-16 decoders does
//     not wait for more input: a base character at the very end of one piece
//     and its combining mark at the start of the next are delivered as two
//     characters (a piece boundary after a possible base disables the
//     comparison);
//   - UTF-8 bytes FE and FF before an incomplete sequence are consumed (inPos
//     stops at the lead byte), but not before an incomplete language tag
//     (inPos goes back to where the tag's character began): a conversion that
//     ends waiting for input may stop on either side of such a run.
// Mark detection at the end of the input (too short for a mark) is handled
// as kvtconv does it: the host clears inDetectBom and calls again.
#include <dirent.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "defs/defs.h"
#include "frame/state.h"
#include "fuzz_common.h"
#include "rules/unicode.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kHeader = 12;
constexpr std::size_t kGuard = 16;
constexpr std::uint8_t kFill = 0xA5;

std::vector<std::string>& encodings() {
  static std::vector<std::string> names;
  return names;
}

// The shipped charset directory, copied so that the compiled files are
// written in the fuzzing process's own directory.
void setUp() {
  if (!zkfuzz::charsetDir().empty()) return;
  zkfuzz::setUpDir();
  const std::string from = ZK_SOURCE_DIR "/data/base2/";
  DIR* d = opendir(from.c_str());
  if (!d) abort();
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::string name = e->d_name;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cmp") == 0) continue;
    std::FILE* f = std::fopen((from + name).c_str(), "rb");
    if (!f) abort();
    Bytes b;
    int c;
    while ((c = std::fgetc(f)) != EOF) b.push_back(static_cast<std::uint8_t>(c));
    std::fclose(f);
    zkfuzz::writeFile(name, b.data(), b.size());
  }
  closedir(d);
  if (cconvLoadRule() != 1) abort();
  for (std::uint32_t i = 0; i < zk::gState.rules->count; ++i)
    encodings().push_back(static_cast<const zk::RuleDef*>(zk::gState.rules->items[i])->name);
}

// A tiny generator for piece sizes and rooms, seeded from the input.
struct Rng {
  std::uint32_t s;
  std::uint32_t next() {
    s ^= s << 13;
    s ^= s >> 17;
    s ^= s << 5;
    return s;
  }
  // Mostly 1..16, sometimes up to 256.
  std::int32_t size() {
    std::uint32_t r = next();
    return static_cast<std::int32_t>((r & 7) == 0 ? 1 + (r >> 8) % 256 : 1 + (r >> 8) % 16);
  }
};

struct Setup {
  std::string source, target;
  CconvSrcOptions src;
  CconvDstOptions dst;
  std::uint32_t seed;
};

struct Outcome {
  Bytes out;
  std::uint32_t status = CCONV_OK, termStatus = CCONV_OK;
  std::int64_t inPos = 0;
  std::int32_t inChars = 0, outChars = 0;
  bool pairMaySplit = false;  // a piece ended right after a possible pair base
};

// One host call with fresh, exactly sized buffers. `pending` holds the input
// from inPos on; `start` is the output position the call begins at.
std::uint32_t call(CconvRecord* rec, Bytes* pending, std::int32_t start, std::int32_t room,
                   Outcome* o, bool term) {
  std::unique_ptr<std::uint8_t[]> in(new std::uint8_t[pending->size() + 1]);
  if (!pending->empty()) std::memcpy(in.get(), pending->data(), pending->size());
  const std::size_t outLen = static_cast<std::size_t>(start + room) + kGuard;
  std::unique_ptr<std::uint8_t[]> out(new std::uint8_t[outLen]);
  std::memset(out.get(), kFill, outLen);
  rec->inBuf = in.get();
  rec->inPos = 0;
  rec->inLen = static_cast<std::int32_t>(pending->size());
  rec->outBuf = out.get();
  rec->outPos = start;
  rec->outSize = start + room;
  const std::int32_t inChars = rec->inChars;
  const std::uint32_t s = term ? cconvTermConvert(rec) : cconvConvert(rec);
  if (rec->inPos < 0 || rec->inPos > rec->inLen ||
      rec->inLen != static_cast<std::int32_t>(pending->size()))
    abort();
  if (rec->outPos < start || rec->outPos > rec->outSize || rec->outSize != start + room) abort();
  if (rec->inChars < inChars) abort();
  for (std::size_t i = 0; i < outLen; ++i)
    if ((i < static_cast<std::size_t>(start) || i >= static_cast<std::size_t>(start + room)) &&
        out[i] != kFill)
      abort();  // a byte before the starting position or at/after outSize
  if (!pending->empty() && std::memcmp(in.get(), pending->data(), pending->size()) != 0) abort();
  o->out.insert(o->out.end(), out.get() + start, out.get() + rec->outPos);
  pending->erase(pending->begin(), pending->begin() + rec->inPos);
  o->inPos += rec->inPos;
  return s;
}

bool mayBePairBase(std::uint32_t v) { return zk::ucsMayBePairBase(v); }

Outcome convert(const Setup& su, const Bytes& input, bool oneShot) {
  Outcome o;
  CconvRecord rec;
  std::memset(&rec, 0, sizeof rec);
  if (cconvInitConvert(&rec, &su.dst, su.target.c_str()) != CCONV_OK) abort();
  if (cconvChgCharset(&rec, &su.src, su.source.c_str()) != CCONV_OK) abort();
  Rng rng{su.seed | 1};
  const std::size_t big = input.size() * 64 + 4096;
  auto room = [&] { return oneShot ? static_cast<std::int32_t>(big) : rng.size(); };
  auto start = [&] { return oneShot ? 0 : static_cast<std::int32_t>(rng.next() % 4); };
  Bytes pending;
  std::size_t fed = 0;
  auto feed = [&] {
    const std::size_t n = oneShot ? input.size() : static_cast<std::size_t>(rng.size());
    const std::size_t take = std::min(n, input.size() - fed);
    pending.insert(pending.end(), input.begin() + fed, input.begin() + fed + take);
    fed += take;
  };
  feed();
  std::int32_t r = room();
  std::size_t calls = 0, grown = 0, refills = 0, stuck = 0;
  std::uint32_t s;
  for (;;) {
    // Every call but a growth or a refill consumes input or writes output.
    if (++calls > 64 + 4 * input.size() + o.out.size() + grown + refills) abort();
    if (o.out.size() > 512 * input.size() + 65536) abort();
    const std::size_t before = o.out.size();
    s = call(&rec, &pending, start(), r, &o, false);
    if (s == CCONV_OUTPUT_FULL) {
      if (o.out.size() == before) {
        ++grown;
        if (++stuck > 24) abort();  // no character needs that much room
        r *= 2;
      } else {
        stuck = 0;
        if (!oneShot) r = room();
      }
      continue;
    }
    if (s == CCONV_UNMAPPABLE) continue;  // consumed: go on after it
    if (s != CCONV_OK && s != CCONV_NEED_INPUT) break;
    // The last character delivered before the piece ended.
    if (fed < input.size() && mayBePairBase(s == CCONV_OK ? rec.rawCode : rec.prevRawCode))
      o.pairMaySplit = true;
    if (fed < input.size()) {
      ++refills;
      feed();
      continue;
    }
    if (s == CCONV_NEED_INPUT && rec.srcOptions.inDetectBom) {
      rec.srcOptions.inDetectBom = 0;  // too short for a mark: read it as text
      continue;
    }
    break;
  }
  o.status = s;
  o.inChars = rec.inChars;
  if (s != CCONV_ERROR) {
    std::int32_t tr = oneShot ? 64 : rng.size();
    for (int i = 0;; ++i) {
      if (i > 24) abort();
      const std::size_t before = o.out.size();
      o.termStatus = call(&rec, &pending, start(), tr, &o, true);
      if (o.termStatus != CCONV_OUTPUT_FULL) break;
      if (o.out.size() == before) tr *= 2;
    }
  }
  o.outChars = rec.outChars;
  return o;
}

Setup decodeHeader(const std::uint8_t* h) {
  Setup su;
  const std::vector<std::string>& names = encodings();
  su.source = names[h[0] % names.size()];
  su.target = names[h[1] % names.size()];
  std::memset(&su.src, 0, sizeof su.src);
  su.src.skipInvalid = h[2] & 1;
  su.src.inBigEndian = (h[2] >> 1) & 1;
  su.src.inDetectBom = (h[2] >> 2) & 1;
  std::memset(&su.dst, 0, sizeof su.dst);
  su.dst.outBigEndian = h[3] & 1;
  su.dst.outWriteBom = (h[3] >> 1) & 1;
  su.dst.substitute = (h[3] >> 2) & 1;
  su.dst.newlineConvert = (h[3] >> 3) & 1;
  su.dst.ncrMode = (h[3] >> 4) & 3;
  switch (h[3] >> 6) {  // the default language: none, short, full, unterminated
    case 1:
      std::memcpy(su.dst.lang, "ja", 3);
      break;
    case 2:
      std::memset(su.dst.lang, 'x', sizeof su.dst.lang - 1);
      break;
    case 3:
      for (std::size_t i = 0; i < sizeof su.dst.lang; ++i)
        su.dst.lang[i] = static_cast<char>(0x20 + (h[4] + i) % 0x5F);
      break;
    default:
      break;
  }
  su.dst.newlineKind = h[4] % 8;
  su.dst.replacement = static_cast<std::uint32_t>(h[5] | h[6] << 8 | h[7] << 16 | h[8] << 24);
  su.seed = static_cast<std::uint32_t>(h[9] | h[10] << 8 | h[11] << 16);
  return su;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  setUp();
  if (size < kHeader || size > 4096 + kHeader) return 0;
  const Setup su = decodeHeader(data);
  const Bytes input(data + kHeader, data + size);
  const Outcome whole = convert(su, input, true);
  const Outcome parts = convert(su, input, false);
  if (parts.pairMaySplit) return 0;
  bool samePos = whole.inPos == parts.inPos;
  if (!samePos && whole.status == CCONV_NEED_INPUT) {
    samePos = true;  // only FE and FF between the two
    for (std::int64_t i = std::min(whole.inPos, parts.inPos);
         i < std::max(whole.inPos, parts.inPos); ++i)
      samePos &= input[static_cast<std::size_t>(i)] >= 0xFE;
  }
  if (whole.out != parts.out || whole.status != parts.status || !samePos ||
      whole.inChars != parts.inChars || whole.outChars != parts.outChars ||
      whole.termStatus != parts.termStatus)
    abort();
  return 0;
}
