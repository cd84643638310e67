// Converts a short Shift_JIS string to UTF-8 with the installed library and
// its default charset directory; prints that directory and exits 0 only when
// the bytes are right.
#include <stdio.h>
#include <string.h>

#include "zrkvt16.h"

int main(void) {
  static const unsigned char in[] = {0x93, 0xFA, 0x96, 0x7B, 0x8C, 0xEA, 0x21};  // 日本語!
  static const unsigned char want[] = {0xE6, 0x97, 0xA5, 0xE6, 0x9C, 0xAC, 0xE8, 0xAA, 0x9E, 0x21};
  unsigned char out[64];
  CconvRecord rec;
  CconvSrcOptions src = {1, 0, 0};  // row byte first
  memset(&rec, 0, sizeof rec);
  if (cconvInitConvert(&rec, NULL, "UTF-8") != CCONV_OK ||
      cconvChgCharset(&rec, &src, "Shift_JIS") != CCONV_OK)
    return fprintf(stderr, "cannot prepare; directory %s\n", KVT_getCharsetPath()), 1;
  rec.inBuf = in, rec.inLen = (int32_t)sizeof in;
  rec.outBuf = out, rec.outSize = (int32_t)sizeof out;
  if (cconvConvert(&rec) != CCONV_OK || cconvTermConvert(&rec) != CCONV_OK)
    return fprintf(stderr, "conversion failed with status %u\n", rec.status), 1;
  printf("charset directory: %s\n", KVT_getCharsetPath());
  if (rec.outPos != (int32_t)sizeof want || memcmp(out, want, sizeof want) != 0)
    return fprintf(stderr, "wrong output (%d bytes)\n", (int)rec.outPos), 1;
  printf("converted: %.*s\n", (int)rec.outPos, (const char*)out);
  return 0;
}
