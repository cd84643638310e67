/* A Windows host that loads ZRKVT16.dll at run time and calls every export
   through its ordinal: the default directory is "base2\" beside the DLL, and
   a Shift_JIS buffer is detected and converted to UTF-8. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "zrkvt16.h"

static int failures = 0;
#define CHECK(c) \
  ((c) ? (void)0 : (void)(++failures, fprintf(stderr, "line %d: %s\n", __LINE__, #c)))

int main(void) {
  static const char* const kNames[12] = {
      [2] = "cconvLoadRule",       [3] = "cconvInitConvert",   [4] = "cconvTermConvert",
      [5] = "cconvChgCharset",     [6] = "cconvConvert",       [7] = "cconvChkEncode",
      [10] = "KVT_getCharsetPath", [11] = "KVT_setCharsetPath"};
  void (*fn[12])(void) = {0}; /* the generic function pointer type, cast at each call */
  const unsigned char sjis[] = "A\x82\xa0\x93\xfa\x96\x7b\x8c\xea\xb1";
  unsigned char out[64];
  char dir[MAX_PATH];
  CconvChkRecord chk;
  CconvRecord rec;
  HMODULE dll = LoadLibraryA("ZRKVT16.dll");
  int i;
  if (!dll) return 2;
  for (i = 1; i < 13; ++i) {
    FARPROC byOrdinal = GetProcAddress(dll, MAKEINTRESOURCEA(i));
    CHECK(i < 12 && kNames[i] ? byOrdinal && byOrdinal == GetProcAddress(dll, kNames[i])
                              : !byOrdinal);
    if (i < 12) fn[i] = (void (*)(void))byOrdinal;
  }
  if (failures) return 1;
  CHECK(strcmp(((const char* (*)(void))fn[10])(), "") == 0);
  CHECK(((int (*)(void))fn[2])() == 1);
  GetModuleFileNameA(dll, dir, MAX_PATH);
  strcpy(strrchr(dir, '\\') + 1, "base2\\");
  CHECK(strcmp(((const char* (*)(void))fn[10])(), dir) == 0);
  CHECK(((int (*)(const char*))fn[11])("C:\\elsewhere") == 0);

  memset(&chk, 0, sizeof chk);
  memset(&rec, 0, sizeof rec);
  chk.inBuf = rec.inBuf = sjis;
  chk.inLen = rec.inLen = (int32_t)sizeof sjis - 1;
  CHECK(((int (*)(CconvChkRecord*))fn[7])(&chk) == 1 &&
        strcmp(chk.encodingName, "WINDOWS31J") == 0);
  CHECK(((uint32_t(*)(CconvRecord*, const CconvDstOptions*, const char*))fn[3])(&rec, NULL,
                                                                                "UTF-8") == 0);
  CHECK(((uint32_t(*)(CconvRecord*, const CconvSrcOptions*, const char*))fn[5])(
            &rec, NULL, chk.encodingName) == 0);
  rec.outBuf = out;
  rec.outSize = sizeof out;
  CHECK(((uint32_t(*)(CconvRecord*))fn[6])(&rec) == CCONV_OK && rec.inPos == rec.inLen);
  CHECK(((uint32_t(*)(CconvRecord*))fn[4])(&rec) == CCONV_OK);
  CHECK(rec.outPos == 16 &&
        memcmp(out, "A\xe3\x81\x82\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e\xef\xbd\xb1", 16) == 0);
  printf("%s\n", failures ? "FAILED" : "passed");
  return failures != 0;
}
