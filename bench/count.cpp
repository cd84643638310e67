// Converts a file in one process, through 64 KiB output buffers, for
// instruction counts: run it under callgrind with
//   --toggle-collect=convertAll
// and divide by the characters converted (printed on stderr).
//
// usage: zk_count FROM TO FILE [FLAGS] [REPEAT]
//   FLAGS as for zk_trace (b big-endian, s substitute, n/N line ends, ...).
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zrkvt16.h"

extern "C" [[gnu::noinline]] long long convertAll(CconvRecord* rec, const unsigned char* in,
                                                  int len, unsigned char* out, int outSize) {
  long long total = 0;
  rec->inBuf = in;
  rec->inPos = 0;
  rec->inLen = len;
  for (;;) {
    rec->outBuf = out;
    rec->outPos = 0;
    rec->outSize = outSize;
    const std::uint32_t st = cconvConvert(rec);
    total += rec->outPos;
    if (st == CCONV_OUTPUT_FULL) continue;
    if (st == CCONV_OK) break;
    if (st == CCONV_INVALID || st == CCONV_UNMAPPABLE) continue;
    return -1;
  }
  return total;
}

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: zk_count FROM TO FILE [FLAGS] [REPEAT]\n");
    return 2;
  }
  const char* flags = argc > 4 ? argv[4] : "";
  const int repeat = argc > 5 ? std::atoi(argv[5]) : 1;
  FILE* f = std::fopen(argv[3], "rb");
  if (!f) return 2;
  std::vector<unsigned char> in;
  unsigned char buf[65536];
  for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) in.insert(in.end(), buf, buf + n);
  std::fclose(f);
  CconvSrcOptions so{};
  CconvDstOptions dopt{};
  if (std::strchr(flags, 'b')) so.inBigEndian = dopt.outBigEndian = 1;
  if (std::strchr(flags, 's')) dopt.substitute = 1;
  if (std::strchr(flags, 'k')) so.skipInvalid = 1;
  if (std::strchr(flags, 'n')) dopt.newlineConvert = 1, dopt.newlineKind = 3;
  if (std::strchr(flags, 'N')) dopt.newlineConvert = 1, dopt.newlineKind = 1;
  std::vector<unsigned char> out(65536);
  long long chars = 0, bytes = 0;
  for (int i = 0; i < repeat; ++i) {
    CconvRecord rec;
    std::memset(&rec, 0, sizeof rec);
    if (cconvInitConvert(&rec, &dopt, argv[2]) != CCONV_OK ||
        cconvChgCharset(&rec, &so, argv[1]) != CCONV_OK)
      return 1;
    const long long n = convertAll(&rec, in.data(), static_cast<int>(in.size()), out.data(),
                                   static_cast<int>(out.size()));
    if (n < 0) return 1;
    bytes += n;
    chars += rec.inChars;
  }
  std::fprintf(stderr, "chars=%lld bytes_in=%zu bytes_out=%lld\n", chars, in.size() * repeat, bytes);
  return 0;
}
