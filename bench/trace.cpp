// Conversion trace for comparing two builds of the library: converts a file
// in input chunks of a given size into an output buffer of a given size and
// writes the output, plus one log line per call with the status and every
// field of the record. Two builds behave the same exactly when both files
// are byte-identical (bench/diffcheck.sh compares them).
//
// usage: zk_trace CHARSET_DIR FROM TO IN OUT LOG|- OUTSIZE INCHUNK [FLAGS]
//   INCHUNK 0 gives the whole input at once. FLAGS, any of:
//   b big-endian in and out, s substitute, k skip invalid input,
//   n line ends to CR LF, N line ends to LF, l language "ja",
//   B detect and write a byte order mark.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "zrkvt16.h"

static void dump(FILE* log, const CconvRecord& r, std::uint32_t st) {
  std::fprintf(log,
               "st=%u %u ip=%d il=%d ic=%d op=%d oc=%d ics=%u ict=%u idz=%u ipl=%u ocs=%u "
               "oct=%u odz=%u opl=%u raw=%x code=%x ucs=%x outc=%x ou=%u osl=%u prev=%x u2=%x "
               "lc=%s lw=%s\n",
               st, r.status, r.inPos, r.inLen, r.inChars, r.outPos, r.outChars, r.inCharset,
               r.inCharsetType, r.inDesignation, r.inPlane, r.outCharset, r.outCharsetType,
               r.outDesignation, r.outPlane, r.rawCode, r.code, r.ucs, r.outCode, r.outUnit,
               r.outSeqLen, r.prevRawCode, r.ucs2, r.langCurrent, r.langWritten);
}

int main(int argc, char** argv) {
  if (argc < 9) {
    std::fprintf(stderr,
                 "usage: zk_trace CHARSET_DIR FROM TO IN OUT LOG|- OUTSIZE INCHUNK [FLAGS]\n");
    return 2;
  }
  KVT_setCharsetPath(argv[1]);
  FILE* f = std::fopen(argv[4], "rb");
  if (!f) {
    std::perror(argv[4]);
    return 2;
  }
  std::vector<unsigned char> in;
  for (int c; (c = std::fgetc(f)) != EOF;) in.push_back(static_cast<unsigned char>(c));
  std::fclose(f);
  FILE* out = std::fopen(argv[5], "wb");
  FILE* log = std::strcmp(argv[6], "-") != 0 ? std::fopen(argv[6], "w") : nullptr;
  if (!out || (!log && std::strcmp(argv[6], "-") != 0)) {
    std::perror("output");
    return 2;
  }
  const int outSize = std::atoi(argv[7]);
  const int chunk = std::atoi(argv[8]);
  const char* flags = argc > 9 ? argv[9] : "";

  CconvSrcOptions so{};
  CconvDstOptions dopt{};
  if (std::strchr(flags, 'b')) {
    so.inBigEndian = 1;
    dopt.outBigEndian = 1;
  }
  if (std::strchr(flags, 's')) dopt.substitute = 1;
  if (std::strchr(flags, 'k')) so.skipInvalid = 1;
  if (std::strchr(flags, 'n')) {
    dopt.newlineConvert = 1;
    dopt.newlineKind = 3;
  }
  if (std::strchr(flags, 'N')) {
    dopt.newlineConvert = 1;
    dopt.newlineKind = 1;
  }
  if (std::strchr(flags, 'l')) std::strcpy(dopt.lang, "ja");
  if (std::strchr(flags, 'B')) {
    dopt.outWriteBom = 1;
    so.inDetectBom = 1;
  }
  CconvRecord rec;
  std::memset(&rec, 0, sizeof rec);
  if (cconvInitConvert(&rec, &dopt, argv[3]) != CCONV_OK) {
    std::fprintf(stderr, "cannot convert to %s\n", argv[3]);
    return 1;
  }
  if (cconvChgCharset(&rec, &so, argv[2]) != CCONV_OK) {
    std::fprintf(stderr, "cannot convert from %s\n", argv[2]);
    return 1;
  }
  std::vector<unsigned char> ob(outSize > 0 ? outSize : 1);
  const int total = static_cast<int>(in.size());
  rec.inBuf = in.data();
  rec.inPos = 0;
  rec.inLen = chunk > 0 && chunk < total ? chunk : total;
  long fullCalls = 0;
  for (;;) {
    rec.outBuf = ob.data();
    rec.outPos = 0;
    rec.outSize = outSize;
    const int before = rec.inPos;
    const std::uint32_t st = cconvConvert(&rec);
    std::fwrite(ob.data(), 1, rec.outPos, out);
    if (log) dump(log, rec, st);
    if (st == CCONV_OUTPUT_FULL) {
      if (++fullCalls > 10000000) return 3;  // no progress: give up
      continue;
    }
    if (st == CCONV_OK || st == CCONV_NEED_INPUT) {
      if (rec.inLen >= total) break;
      rec.inLen = rec.inLen + chunk < total ? rec.inLen + chunk : total;
      continue;
    }
    // Step over what could not be converted, as a caller would.
    if (st == CCONV_INVALID && rec.inPos == before) rec.inPos++;
    if (st == CCONV_ERROR) break;
  }
  for (int i = 0; i < 1000; ++i) {
    rec.outBuf = ob.data();
    rec.outPos = 0;
    rec.outSize = outSize;
    const std::uint32_t st = cconvTermConvert(&rec);
    std::fwrite(ob.data(), 1, rec.outPos, out);
    if (log) dump(log, rec, st);
    if (st != CCONV_OUTPUT_FULL) break;
  }
  std::fclose(out);
  if (log) std::fclose(log);
  return 0;
}
