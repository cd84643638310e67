// Throughput of libzrkvt16 against glibc iconv(3) and ICU, in one process on
// the same input buffers: Japanese encodings to and from UTF-8, UTF-8 to and
// from UTF-16, EUC-JP to and from Windows-31J, and encoding detection.
//
// The corpora are UTF-8 text made by make_corpus.py in three shapes:
// ZK_BENCH_CORPUS (mostly kana and kanji), ZK_BENCH_PROSE (20-50% ASCII) and
// ZK_BENCH_ASCII (ASCII only); a shape whose variable is unset is skipped.
// The input of each pair is made from the corpus with iconv, and every
// converter's output is compared with iconv's before timing. The shape
// "kanji+eol" converts the kana and kanji corpus with line-end conversion
// (to CR LF, as for Windows) on, against the peers' plain conversion.
#include <benchmark/benchmark.h>
#include <iconv.h>
#include <unicode/ucnv.h>
#include <unicode/ucsdet.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "zrkvt16.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kChunk = 64 * 1024;

// One encoding as each converter names it.
struct Enc {
  const char* label;  // in benchmark names
  const char* zk;
  const char* iconv;
  const char* icu;
  bool legacyOrder;  // double-byte units row byte first
};

const Enc kUtf8 = {"UTF-8", "UTF-8", "UTF-8", "UTF-8", false};
const Enc kUtf16 = {"UTF-16LE", "UTF-16", "UTF-16LE", "UTF-16LE", false};
const Enc kJapanese[] = {
    {"Shift_JIS", "Shift_JIS", "SHIFT_JIS", "Shift_JIS", true},
    {"Windows-31J", "WINDOWS31J", "CP932", "windows-31j", true},
    {"EUC-JP", "EUC-JP", "EUC-JP", "EUC-JP", true},
    {"ISO-2022-JP", "ISO-2022-JP", "ISO-2022-JP", "ISO-2022-JP", true},
};

// Shape -> encoding label -> the corpus of that shape in that encoding.
std::map<std::string, std::map<std::string, Bytes>> gIn;

Bytes readFile(const char* path) {
  std::ifstream f(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), {});
}

// --- the three converters, each streaming through a 64 KiB output chunk ----

size_t viaIconv(iconv_t cd, const Bytes& in, Bytes& out) {
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* src = reinterpret_cast<char*>(const_cast<unsigned char*>(in.data()));
  size_t left = in.size();
  size_t total = 0;
  bool closing = false;  // the last call, with no input, ends the shift state
  for (;;) {
    char* dst = reinterpret_cast<char*>(out.data());
    size_t room = out.size();
    size_t rc = closing ? iconv(cd, nullptr, nullptr, &dst, &room)
                        : iconv(cd, &src, &left, &dst, &room);
    total += out.size() - room;
    if (rc == static_cast<size_t>(-1)) {
      if (errno == E2BIG) continue;
      return 0;
    }
    if (closing) return total;
    closing = true;
  }
}

size_t viaIcu(UConverter* from, UConverter* to, const Bytes& in, Bytes& out) {
  ucnv_reset(from);
  ucnv_reset(to);
  UChar pivot[8192];
  UChar* pivotSource = pivot;
  UChar* pivotTarget = pivot;
  const char* src = reinterpret_cast<const char*>(in.data());
  const char* srcEnd = src + in.size();
  size_t total = 0;
  bool reset = true;
  for (;;) {
    char* dst = reinterpret_cast<char*>(out.data());
    UErrorCode err = U_ZERO_ERROR;
    ucnv_convertEx(to, from, &dst, dst + out.size(), &src, srcEnd, pivot, &pivotSource,
                   &pivotTarget, pivot + 8192, reset, true, &err);
    reset = false;
    total += static_cast<size_t>(dst - reinterpret_cast<char*>(out.data()));
    if (err == U_BUFFER_OVERFLOW_ERROR) continue;
    if (U_FAILURE(err)) return 0;
    return total;
  }
}

struct ZkPair {
  CconvSrcOptions src;
  CconvDstOptions dst;
  const char* from;
  const char* to;
};

ZkPair zkPair(const Enc& from, const Enc& to, bool eol) {
  ZkPair p;
  std::memset(&p, 0, sizeof p);
  p.src.inBigEndian = from.legacyOrder ? 1 : 0;
  p.dst.outBigEndian = to.legacyOrder ? 1 : 0;
  if (eol) {
    p.dst.newlineConvert = 1;
    p.dst.newlineKind = 1;
  }
  p.from = from.zk;
  p.to = to.zk;
  return p;
}

size_t viaZk(const ZkPair& p, CconvRecord& rec, const Bytes& in, Bytes& out) {
  if (cconvInitConvert(&rec, &p.dst, p.to) != CCONV_OK) return 0;
  if (cconvChgCharset(&rec, &p.src, p.from) != CCONV_OK) return 0;
  rec.inBuf = in.data();
  rec.inPos = 0;
  rec.inLen = static_cast<int32_t>(in.size());
  size_t total = 0;
  for (;;) {
    rec.outBuf = out.data();
    rec.outPos = 0;
    rec.outSize = static_cast<int32_t>(out.size());
    uint32_t st = cconvConvert(&rec);
    total += static_cast<size_t>(rec.outPos);
    if (st == CCONV_OUTPUT_FULL) continue;
    if (st != CCONV_OK) return 0;
    break;
  }
  for (;;) {
    rec.outBuf = out.data();
    rec.outPos = 0;
    uint32_t st = cconvTermConvert(&rec);
    total += static_cast<size_t>(rec.outPos);
    if (st == CCONV_OUTPUT_FULL) continue;
    return st == CCONV_OK ? total : 0;
  }
}

// Whole outputs, for the agreement check before timing.
Bytes collect(const std::string& which, const Bytes& in, const Enc& from, const Enc& to) {
  Bytes all;
  Bytes big(in.size() * 4 + 64);
  size_t n = 0;
  if (which == "iconv") {
    iconv_t cd = iconv_open(to.iconv, from.iconv);
    n = viaIconv(cd, in, big);
    iconv_close(cd);
  } else if (which == "icu") {
    UErrorCode err = U_ZERO_ERROR;
    UConverter* f = ucnv_open(from.icu, &err);
    UConverter* t = ucnv_open(to.icu, &err);
    n = U_SUCCESS(err) ? viaIcu(f, t, in, big) : 0;
    ucnv_close(f);
    ucnv_close(t);
  } else {
    CconvRecord rec;
    std::memset(&rec, 0, sizeof rec);
    n = viaZk(zkPair(from, to, false), rec, in, big);
  }
  all.assign(big.begin(), big.begin() + static_cast<long>(n));
  return all;
}

// --- benchmarks --------------------------------------------------------------

void setBytes(benchmark::State& state, size_t in, size_t out) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in));
  state.counters["out_bytes"] = static_cast<double>(out);
}

void benchZk(benchmark::State& state, std::string shape, Enc from, Enc to, bool eol) {
  const Bytes& in = gIn[shape][from.label];
  Bytes out(kChunk);
  CconvRecord rec;
  std::memset(&rec, 0, sizeof rec);
  ZkPair p = zkPair(from, to, eol);
  size_t n = 0;
  for (auto _ : state) {
    n = viaZk(p, rec, in, out);
    benchmark::DoNotOptimize(n);
  }
  if (n == 0) state.SkipWithError("conversion failed");
  setBytes(state, in.size(), n);
}

void benchIconv(benchmark::State& state, std::string shape, Enc from, Enc to) {
  const Bytes& in = gIn[shape][from.label];
  Bytes out(kChunk);
  iconv_t cd = iconv_open(to.iconv, from.iconv);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    state.SkipWithError("iconv_open failed");
    return;
  }
  size_t n = 0;
  for (auto _ : state) {
    n = viaIconv(cd, in, out);
    benchmark::DoNotOptimize(n);
  }
  iconv_close(cd);
  if (n == 0) state.SkipWithError("conversion failed");
  setBytes(state, in.size(), n);
}

void benchIcu(benchmark::State& state, std::string shape, Enc from, Enc to) {
  const Bytes& in = gIn[shape][from.label];
  Bytes out(kChunk);
  UErrorCode err = U_ZERO_ERROR;
  UConverter* f = ucnv_open(from.icu, &err);
  UConverter* t = ucnv_open(to.icu, &err);
  if (U_FAILURE(err)) {
    state.SkipWithError("ucnv_open failed");
    return;
  }
  size_t n = 0;
  for (auto _ : state) {
    n = viaIcu(f, t, in, out);
    benchmark::DoNotOptimize(n);
  }
  ucnv_close(f);
  ucnv_close(t);
  if (n == 0) state.SkipWithError("conversion failed");
  setBytes(state, in.size(), n);
}

// Detection on the first 4 KiB of the corpus in each encoding (the library
// scores only the first 2048 bytes; ICU reads all it is given).
constexpr size_t kDetect = 4096;

void benchZkDetect(benchmark::State& state, Enc enc) {
  const Bytes& in = gIn["kanji"][enc.label];
  CconvChkRecord chk;
  for (auto _ : state) {
    std::memset(&chk, 0, sizeof chk);
    chk.inBuf = in.data();
    chk.inLen = static_cast<int32_t>(std::min(in.size(), kDetect));
    benchmark::DoNotOptimize(cconvChkEncode(&chk));
  }
  state.SetLabel(chk.encodingName);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kDetect));
}

void benchIcuDetect(benchmark::State& state, Enc enc) {
  const Bytes& in = gIn["kanji"][enc.label];
  UErrorCode err = U_ZERO_ERROR;
  UCharsetDetector* det = ucsdet_open(&err);
  std::string name;
  for (auto _ : state) {
    err = U_ZERO_ERROR;
    ucsdet_setText(det, reinterpret_cast<const char*>(in.data()),
                   static_cast<int32_t>(std::min(in.size(), kDetect)), &err);
    const UCharsetMatch* m = ucsdet_detect(det, &err);
    benchmark::DoNotOptimize(m);
    if (m && name.empty()) name = ucsdet_getName(m, &err);
  }
  ucsdet_close(det);
  state.SetLabel(name);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kDetect));
}

void registerPair(const std::string& shape, const Enc& from, const Enc& to) {
  std::string pair = std::string(from.label) + "->" + to.label;
  const Bytes& in = gIn[shape][from.label];
  // Only converters that agree with iconv are timed; a disagreement is shown.
  Bytes ref = collect("iconv", in, from, to);
  for (const char* who : {"zrkvt16", "iconv", "icu"}) {
    if (std::strcmp(who, "iconv") != 0) {
      Bytes got = collect(who, in, from, to);
      if (got != ref) {
        size_t at = 0;
        while (at < got.size() && at < ref.size() && got[at] == ref[at]) ++at;
        std::fprintf(stderr, "note: %s %s %s differs from iconv at byte %zu (%zu vs %zu bytes)\n",
                     who, shape.c_str(), pair.c_str(), at, got.size(), ref.size());
      }
    }
    std::string name = std::string(who) + "/" + shape + "/" + pair;
    if (std::strcmp(who, "zrkvt16") == 0)
      benchmark::RegisterBenchmark(name.c_str(), benchZk, shape, from, to, false);
    else if (std::strcmp(who, "iconv") == 0)
      benchmark::RegisterBenchmark(name.c_str(), benchIconv, shape, from, to);
    else
      benchmark::RegisterBenchmark(name.c_str(), benchIcu, shape, from, to);
  }
  if (shape == "kanji") {
    std::string name = "zrkvt16/kanji+eol/" + pair;
    benchmark::RegisterBenchmark(name.c_str(), benchZk, shape, from, to, true);
  }
}

Bytes encodeWithIconv(const Bytes& utf8, const char* to) {
  iconv_t cd = iconv_open(to, "UTF-8");
  Bytes out(utf8.size() * 4 + 64);
  char* src = reinterpret_cast<char*>(const_cast<unsigned char*>(utf8.data()));
  size_t left = utf8.size();
  char* dst = reinterpret_cast<char*>(out.data());
  size_t room = out.size();
  if (iconv(cd, &src, &left, &dst, &room) == static_cast<size_t>(-1)) {
    std::fprintf(stderr, "iconv to %s failed at byte %zu\n", to, utf8.size() - left);
    std::exit(2);
  }
  iconv(cd, nullptr, nullptr, &dst, &room);
  iconv_close(cd);
  out.resize(out.size() - room);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (cconvLoadRule() != 1) {
    std::fprintf(stderr, "libzrkvt16 found no rule files in %s\n", KVT_getCharsetPath());
    return 2;
  }
  const std::pair<const char*, const char*> shapes[] = {
      {"kanji", "ZK_BENCH_CORPUS"}, {"prose", "ZK_BENCH_PROSE"}, {"ascii", "ZK_BENCH_ASCII"}};
  for (const auto& [shape, var] : shapes) {
    const char* path = std::getenv(var);
    if (!path) continue;
    Bytes corpus = readFile(path);
    if (corpus.empty()) {
      std::fprintf(stderr, "no corpus at %s (%s)\n", path, var);
      return 2;
    }
    auto& in = gIn[shape];
    in[kUtf8.label] = corpus;
    in[kUtf16.label] = encodeWithIconv(corpus, kUtf16.iconv);
    for (const Enc& e : kJapanese) in[e.label] = encodeWithIconv(corpus, e.iconv);
  }
  if (gIn.count("kanji") == 0) {
    std::fprintf(stderr, "set ZK_BENCH_CORPUS to a corpus made by make_corpus.py\n");
    return 2;
  }
  const Enc& euc = kJapanese[2];
  const Enc& cp932 = kJapanese[1];
  for (const auto& [shape, in] : gIn) {
    (void)in;
    for (const Enc& e : kJapanese) {
      registerPair(shape, e, kUtf8);
      registerPair(shape, kUtf8, e);
    }
    registerPair(shape, kUtf8, kUtf16);
    registerPair(shape, kUtf16, kUtf8);
    registerPair(shape, euc, cp932);
    registerPair(shape, cp932, euc);
    // Windows' own UTF-16 and its Japanese code page.
    registerPair(shape, kUtf16, cp932);
    registerPair(shape, cp932, kUtf16);
  }
  for (const Enc& e : kJapanese) {
    benchmark::RegisterBenchmark((std::string("zrkvt16/detect ") + e.label).c_str(), benchZkDetect, e);
    benchmark::RegisterBenchmark((std::string("icu/detect ") + e.label).c_str(), benchIcuDetect, e);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
