/* A C host of the shared object: the header compiles as C and the exported
   calls behave as documented on a directory without rule files. */
#include <stdio.h>
#include <string.h>

#include "zrkvt16.h"

static int failures = 0;
#define CHECK(c)                                                \
  do {                                                          \
    if (!(c)) {                                                 \
      fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #c); \
      ++failures;                                               \
    }                                                           \
  } while (0)

int main(void) {
  CconvRecord rec;
  char dir[] = "/nonexistent-zrkvt16-dir/";
  CHECK(strcmp(KVT_getCharsetPath(), "") == 0);
  CHECK(KVT_setCharsetPath(dir) == 1);
  CHECK(strcmp(KVT_getCharsetPath(), dir) == 0);
  CHECK(KVT_setCharsetPath("/elsewhere/") == 0);
  CHECK(cconvLoadRule() == 0);
  memset(&rec, 0, sizeof rec);
  CHECK(cconvConvert(&rec) == CCONV_ERROR);
  CHECK(cconvInitConvert(&rec, NULL, "UTF-8") == CCONV_ERROR);
  CHECK(cconvTermConvert(&rec) == CCONV_OK);
  printf("%d passed, %d failed\n", failures ? 0 : 1, failures ? 1 : 0);
  return failures != 0;
}
