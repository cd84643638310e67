/* A Windows host that loads ZRKVT16.dll at run time, reaches every export by
   its ordinal, finds the default directory beside the DLL, and converts the
   Shift_JIS file named by argv[1] to UTF-8 on standard output. */
#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>
#include <windows.h>

#include "zrkvt16.h"

typedef int (*LoadRuleFn)(void);
typedef uint32_t (*InitFn)(CconvRecord *, const CconvDstOptions *, const char *);
typedef uint32_t (*ChgFn)(CconvRecord *, const CconvSrcOptions *, const char *);
typedef uint32_t (*RecFn)(CconvRecord *);
typedef int (*ChkFn)(CconvChkRecord *);
typedef const char *(*GetPathFn)(void);
typedef int (*SetPathFn)(const char *);

static int failures = 0;
#define CHECK(c)                                                      \
  do {                                                                \
    if (!(c)) {                                                       \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #c); \
      ++failures;                                                     \
    }                                                                 \
  } while (0)

int main(int argc, char **argv) {
  static const struct { int ordinal; const char *name; } kExports[] = {
      {2, "cconvLoadRule"},  {3, "cconvInitConvert"}, {4, "cconvTermConvert"},
      {5, "cconvChgCharset"}, {6, "cconvConvert"},     {7, "cconvChkEncode"},
      {10, "KVT_getCharsetPath"}, {11, "KVT_setCharsetPath"}};
  static unsigned char in[1 << 16], out[1 << 18];
  void (*fn[12])(void) = {0}; /* the generic function pointer type, cast at the calls */
  char expect[MAX_PATH];
  HMODULE dll = LoadLibraryA("ZRKVT16.dll");
  size_t i;
  if (!dll || argc < 2) return 2;
  for (i = 0; i < sizeof kExports / sizeof kExports[0]; ++i) {
    FARPROC byOrdinal = GetProcAddress(dll, MAKEINTRESOURCEA(kExports[i].ordinal));
    CHECK(byOrdinal && byOrdinal == GetProcAddress(dll, kExports[i].name));
    fn[kExports[i].ordinal] = (void (*)(void))byOrdinal;
  }
  CHECK(!GetProcAddress(dll, MAKEINTRESOURCEA(1)) && !GetProcAddress(dll, MAKEINTRESOURCEA(8)) &&
        !GetProcAddress(dll, MAKEINTRESOURCEA(9)) && !GetProcAddress(dll, MAKEINTRESOURCEA(12)));
  if (failures) return 1;

  CHECK(strcmp(((GetPathFn)fn[10])(), "") == 0);
  CHECK(((LoadRuleFn)fn[2])() == 1);
  GetModuleFileNameA(dll, expect, MAX_PATH);
  strcpy(strrchr(expect, '\\') + 1, "base2\\");
  CHECK(strcmp(((GetPathFn)fn[10])(), expect) == 0);
  CHECK(((SetPathFn)fn[11])("C:\\elsewhere") == 0);

  FILE *f = fopen(argv[1], "rb");
  CconvChkRecord chk;
  CconvRecord rec;
  memset(&chk, 0, sizeof chk);
  memset(&rec, 0, sizeof rec);
  rec.inLen = chk.inLen = f ? (int32_t)fread(in, 1, sizeof in, f) : 0;
  rec.inBuf = chk.inBuf = in;
  CHECK(((ChkFn)fn[7])(&chk) == 1 && strcmp(chk.encodingName, "WINDOWS31J") == 0);
  CHECK(((InitFn)fn[3])(&rec, NULL, "UTF-8") == CCONV_OK);
  CHECK(((ChgFn)fn[5])(&rec, NULL, "Shift_JIS") == CCONV_OK);
  rec.outBuf = out;
  rec.outSize = sizeof out;
  CHECK(((RecFn)fn[6])(&rec) == CCONV_OK && rec.inPos == rec.inLen);
  CHECK(((RecFn)fn[4])(&rec) == CCONV_OK);
  _setmode(_fileno(stdout), _O_BINARY);
  fwrite(out, 1, (size_t)rec.outPos, stdout);
  fprintf(stderr, "%s\n", failures ? "FAILED" : "passed");
  return failures != 0;
}
