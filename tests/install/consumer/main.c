/* Converts a short Shift_JIS string to UTF-8 with the installed library and
   its default charset directory; prints that directory and exits 0 only when
   the bytes are right. */
#include <stdio.h>
#include <string.h>

#include "zrkvt16.h"

int main(void) {
  static const unsigned char in[] = {0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA, 0x21}; /* 日本語! */
  static const unsigned char want[] = {0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC, 0xE8, 0xAA, 0x9E, 0x21};
  unsigned char out[64];
  CconvRecord rec;
  CconvSrcOptions src;
  memset(&rec, 0, sizeof rec);
  memset(&src, 0, sizeof src);
  src.inBigEndian = 1;
  if (cconvInitConvert(&rec, NULL, "UTF-8") != CCONV_OK) {
    fprintf(stderr, "cconvInitConvert failed; charset directory %s\n", KVT_getCharsetPath());
    return 1;
  }
  if (cconvChgCharset(&rec, &src, "Shift_JIS") != CCONV_OK) {
    fprintf(stderr, "cconvChgCharset failed\n");
    return 1;
  }
  rec.inBuf = in;
  rec.inPos = 0;
  rec.inLen = (int32_t)sizeof in;
  rec.outBuf = out;
  rec.outPos = 0;
  rec.outSize = (int32_t)sizeof out;
  if (cconvConvert(&rec) != CCONV_OK || cconvTermConvert(&rec) != CCONV_OK) {
    fprintf(stderr, "conversion failed with status %u\n", rec.status);
    return 1;
  }
  printf("charset directory: %s\n", KVT_getCharsetPath());
  if (rec.outPos != (int32_t)sizeof want || memcmp(out, want, sizeof want) != 0) {
    fprintf(stderr, "wrong output (%d bytes)\n", (int)rec.outPos);
    return 1;
  }
  printf("converted: %.*s\n", (int)rec.outPos, (const char*)out);
  return 0;
}
