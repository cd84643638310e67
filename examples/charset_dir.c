/* Prints the charset directory the library uses, and whether its rule
   files load. */
#include <stdio.h>

#include "zrkvt16.h"

int main(void) {
  int loaded = cconvLoadRule();
  printf("charset directory: %s\n", KVT_getCharsetPath());
  printf("rule files loaded: %s\n", loaded ? "yes" : "none");
  return 0;
}
