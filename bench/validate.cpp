// What checking Unicode input costs a host: the host validator (zkhost.h)
// against the conversion it guards, on the same buffers, per byte of input.
//
// usage: zk_validate_bench CORPUS.utf8 [ROUNDS]
// The corpus is made into UTF-16 (both orders) and UCS-4 with iconv; each
// figure is the median CPU time of ROUNDS passes (default 15) over the whole
// buffer in 64 KiB chunks, as kvtconv reads it.
#include <iconv.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "zkhost.h"
#include "zkhost_kernels.h"
#include "zrkvt16.h"

namespace {

using Bytes = std::vector<unsigned char>;
constexpr size_t kChunk = 64 * 1024;

double cpuSeconds() {
  timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

Bytes recode(const Bytes& in, const char* to) {
  iconv_t cd = iconv_open(to, "UTF-8");
  Bytes out(in.size() * 4 + 16);
  char* src = reinterpret_cast<char*>(const_cast<unsigned char*>(in.data()));
  char* dst = reinterpret_cast<char*>(out.data());
  size_t left = in.size(), room = out.size();
  if (cd == reinterpret_cast<iconv_t>(-1) || iconv(cd, &src, &left, &dst, &room) == size_t(-1)) {
    std::fprintf(stderr, "iconv to %s failed\n", to);
    std::exit(1);
  }
  iconv_close(cd);
  out.resize(out.size() - room);
  return out;
}

size_t gSink = 0;

void validate(const Bytes& in, uint32_t form, uint32_t big) {
  ZkhValidator v;
  zkhValidatorInit(&v, form, big, 0);
  for (size_t pos = 0; pos < in.size();) {
    const size_t n = std::min(kChunk, in.size() - pos);
    size_t used = 0;
    ZkhIssue issue;
    if (zkhValidate(&v, in.data() + pos, n, &used, &issue) != 0) {
      std::fprintf(stderr, "corpus is ill-formed at %llu\n",
                   static_cast<unsigned long long>(issue.offset));
      std::exit(1);
    }
    pos += n;
  }
  gSink += v.complete;
}

void convert(const Bytes& in, const char* from, uint32_t inBig, const char* to, Bytes& out) {
  CconvRecord rec;
  std::memset(&rec, 0, sizeof rec);
  CconvDstOptions dst;
  std::memset(&dst, 0, sizeof dst);
  dst.outBigEndian = 1;
  CconvSrcOptions src;
  std::memset(&src, 0, sizeof src);
  src.inBigEndian = inBig;
  if (cconvInitConvert(&rec, &dst, to) != CCONV_OK ||
      cconvChgCharset(&rec, &src, from) != CCONV_OK) {
    std::fprintf(stderr, "cannot convert %s to %s\n", from, to);
    std::exit(1);
  }
  for (size_t pos = 0; pos < in.size();) {
    const size_t n = std::min(kChunk, in.size() - pos);
    rec.inBuf = in.data() + pos;
    rec.inPos = 0;
    rec.inLen = static_cast<int32_t>(n);
    uint32_t st;
    do {
      rec.outBuf = out.data();
      rec.outPos = 0;
      rec.outSize = static_cast<int32_t>(out.size());
      st = cconvConvert(&rec);
      gSink += static_cast<size_t>(rec.outPos);
    } while (st == CCONV_OUTPUT_FULL);
    if (st != CCONV_OK && st != CCONV_NEED_INPUT) {
      std::fprintf(stderr, "%s to %s stopped with %u\n", from, to, st);
      std::exit(1);
    }
    pos += static_cast<size_t>(rec.inPos);
  }
}

template <class F>
double median(int rounds, F f) {
  std::vector<double> t;
  f();  // warm caches and tables
  for (int i = 0; i < rounds; ++i) {
    const double a = cpuSeconds();
    f();
    t.push_back(cpuSeconds() - a);
  }
  std::sort(t.begin(), t.end());
  return t[t.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s CORPUS.utf8 [ROUNDS]\n", argv[0]);
    return 2;
  }
  std::ifstream f(argv[1], std::ios::binary);
  const Bytes utf8((std::istreambuf_iterator<char>(f)), {});
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  Bytes ascii;
  for (unsigned char c : utf8)
    if (c < 0x80) ascii.push_back(c);
  while (ascii.size() < utf8.size()) ascii.insert(ascii.end(), ascii.begin(), ascii.end());
  const Bytes u16be = recode(utf8, "UTF-16BE"), u16le = recode(utf8, "UTF-16LE");
  const Bytes ucs4 = recode(utf8, "UTF-32BE");
  Bytes out(kChunk);

  const struct {
    const char* name;
    const Bytes& in;
    uint32_t form, big;
    const char* from;
    const char* to;
  } rows[] = {
      {"UTF-8 → Shift_JIS", utf8, ZKH_UTF8, 0, "UTF-8", "Shift_JIS"},
      {"UTF-8 → EUC-JP", utf8, ZKH_UTF8, 0, "UTF-8", "EUC-JP"},
      {"UTF-8 → UTF-16BE", utf8, ZKH_UTF8, 0, "UTF-8", "UTF-16"},
      {"UTF-8 (ASCII only) → Shift_JIS", ascii, ZKH_UTF8, 0, "UTF-8", "Shift_JIS"},
      {"UTF-16BE → UTF-8", u16be, ZKH_UTF16, 1, "UTF-16", "UTF-8"},
      {"UTF-16LE → Shift_JIS", u16le, ZKH_UTF16, 0, "UTF-16", "Shift_JIS"},
      {"UCS-4BE → UTF-8", ucs4, ZKH_UCS4, 1, "ISO-10646-UCS-4", "UTF-8"},
  };
  std::printf("| Conversion (%zu KiB of Japanese text) | validation MB/s | conversion MB/s "
              "| validation / conversion time |\n|---|---:|---:|---:|\n",
              utf8.size() / 1024);
  for (const auto& r : rows) {
    const double mb = static_cast<double>(r.in.size()) / 1e6;
    const double tv = median(rounds, [&] { validate(r.in, r.form, r.big); });
    const double tc = median(rounds, [&] { convert(r.in, r.from, r.big, r.to, out); });
    std::printf("| %s | %.0f | %.1f | %.1f%% |\n", r.name, mb / tv, mb / tc, 100.0 * tv / tc);
  }
  // Whether the AVX2 kernel pays: the SSE2 one alone on the same UTF-8.
  const double mb = static_cast<double>(utf8.size()) / 1e6;
  const unsigned char* p = utf8.data();
  const double t2 = median(rounds, [&] { gSink += zkh::utf8PrefixSse2(p, utf8.size(), nullptr); });
  const double t3 = median(rounds, [&] { gSink += zkh::utf8Prefix(p, utf8.size(), nullptr); });
  std::printf("\nUTF-8 kernel alone: %.0f MB/s as chosen (%s), %.0f MB/s with SSE2 only\n", mb / t3,
              zkh::haveAvx2() ? "AVX2" : "SSE2", mb / t2);
  return gSink == 42 ? 1 : 0;
}
