// A C host of the shared object: the header compiles as C and the exported
// calls behave as documented on a directory without rule files.
#include <stdio.h>
#include <string.h>

#include "zrkvt16.h"

int main(void) {
  CconvRecord rec;
  char dir[] = "/nonexistent-zrkvt16-dir/";
  int ok = strcmp(KVT_getCharsetPath(), "") == 0 && KVT_setCharsetPath(dir) == 1 &&
           strcmp(KVT_getCharsetPath(), dir) == 0 && KVT_setCharsetPath("/elsewhere/") == 0 &&
           cconvLoadRule() == 0;
  memset(&rec, 0, sizeof rec);
  ok = ok && cconvConvert(&rec) == CCONV_ERROR && cconvTermConvert(&rec) == CCONV_OK &&
       cconvInitConvert(&rec, NULL, "UTF-8") == CCONV_ERROR;
  printf("%s\n", ok ? "passed" : "failed");
  return !ok;
}
