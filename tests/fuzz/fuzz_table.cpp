// The table-file parser and the compiled-file reader. The first byte picks
// the table's encoding, byte order and direction; the rest is a table file
// (or, with the top bit set, a compiled file). A table compiled from text
// must read back identically from the compiled file it wrote.
#include <cstdio>
#include <vector>

#include "defs/reader.h"
#include "fuzz_common.h"
#include "tables/codetable.h"

namespace {

zk::CodeTable* makeTable(std::uint32_t direction, std::uint32_t encoding, std::uint32_t big) {
  zk::CodeTable* t = zk::ctableCreate(4, direction);
  if (!t) abort();
  std::snprintf(t->sourceName, sizeof t->sourceName, "T.Txt");
  t->sourceEncoding = encoding;
  t->sourceBigEndian = big;
  return t;
}

std::vector<std::uint8_t> readFile(const char* name) {
  std::vector<std::uint8_t> out;
  std::FILE* f = std::fopen((zkfuzz::charsetDir() + name).c_str(), "rb");
  if (!f) return out;
  int c;
  while ((c = std::fgetc(f)) != EOF) out.push_back(static_cast<std::uint8_t>(c));
  std::fclose(f);
  return out;
}

std::uint32_t le32(const std::uint8_t* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zkfuzz::setUpDir();
  if (size < 1) return 0;
  const std::uint8_t mode = data[0];
  const std::uint32_t encodings[4] = {zk::kTextUtf16, zk::kTextUcs2, zk::kTextUcs4, zk::kTextUtf8};
  const std::uint32_t encoding = encodings[mode & 3];
  const std::uint32_t big = (mode >> 2) & 1;
  const std::uint32_t direction = (mode >> 3) & 1;
  const bool compiledInput = mode & 0x80;
  std::remove((zkfuzz::charsetDir() + "t.cmp").c_str());
  std::remove((zkfuzz::charsetDir() + "t.txt").c_str());
  zkfuzz::writeFile(compiledInput ? "t.cmp" : "t.txt", data + 1, size - 1);

  zk::CodeTable* first = makeTable(direction, encoding, big);
  zk::ctableLoad(first);
  std::vector<std::uint8_t> cmp = readFile("t.cmp");
  if (!compiledInput && cmp.size() % 8 != 0) abort();  // whole records only
  zk::CodeTable* second = makeTable(direction, encoding, big);
  zk::ctableLoad(second);
  // Both tables hold what the records say, the later of two records winning.
  for (std::size_t i = 0; i + 8 <= cmp.size(); i += 8) {
    std::uint32_t a = le32(&cmp[i]), b = le32(&cmp[i + 4]);
    std::uint32_t key = direction ? a : b;
    std::uint32_t v1 = 0, v2 = 0;
    int f1 = zk::ctableGet(first, key, &v1), f2 = zk::ctableGet(second, key, &v2);
    if (f1 != f2 || v1 != v2) abort();
  }
  zk::ctableDestroy(first);
  zk::ctableDestroy(second);
  return 0;
}
