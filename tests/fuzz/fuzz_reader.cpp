// The definition-file reader, both grammars and the compiled-file reader. The
// input is split at "||" into a rule file, a set file (s.xml) and a table file
// (t.txt, or with the top bit of the first byte set the compiled file t.cmp);
// the first byte says how the bytes are written: as they are, or each byte
// widened to a UTF-16 or UCS-4 unit in either byte order, so that markup the
// fuzzer writes as ASCII reaches the grammars. The rule file is loaded, every
// table it names inside the directory is loaded (a compiled file written from
// text holds whole records only), and everything is freed again.
#include <cstring>
#include <string>
#include <vector>

#include "defs/defs.h"
#include "frame/state.h"
#include "fuzz_common.h"
#include "tables/codetable.h"

namespace {

std::vector<std::uint8_t> widen(const std::uint8_t* p, std::size_t n, int width, bool big) {
  std::vector<std::uint8_t> out;
  out.reserve(n * width);
  for (std::size_t i = 0; i < n; ++i)
    for (int k = 0; k < width; ++k) out.push_back((big ? k == width - 1 : k == 0) ? p[i] : 0);
  return out;
}

// Tables whose names stay inside the charset directory.
bool confined(const zk::CodeTable* t) {
  return !std::strchr(t->sourceName, '/') && !std::strchr(t->sourceName, '\\') &&
         !std::strstr(t->sourceName, "..");
}

void loadTable(zk::CodeTable* t) {
  if (t && confined(t)) {
    zk::ctableLoad(t);
    zk::ctableLoad(t);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  zkfuzz::setUpDir();
  if (size < 1) return 0;
  const int mode = data[0] % 5;  // raw, UTF-16 LE/BE, UCS-4 LE/BE
  const int width = mode == 0 ? 1 : mode <= 2 ? 2 : 4;
  const bool big = mode == 2 || mode == 4;
  const bool compiled = data[0] & 0x80;
  const char* names[3] = {"r.xml", "s.xml", compiled ? "t.cmp" : "t.txt"};
  zkfuzz::removeCompiled();
  std::size_t pos = 1;
  for (int part = 0; part < 3; ++part) {
    std::size_t end = pos;
    while (end < size && !(part < 2 && end + 1 < size && data[end] == '|' && data[end + 1] == '|'))
      ++end;
    std::vector<std::uint8_t> bytes = width == 1 ? std::vector<std::uint8_t>(data + pos, data + end)
                                                 : widen(data + pos, end - pos, width, big);
    zkfuzz::writeFile(names[part], bytes.data(), bytes.size());
    pos = end + 2 < size ? end + 2 : size;
  }

  zk::loadDefinitionFile("r.xml");
  for (std::uint32_t i = 0; i < zk::gState.charsets->count; ++i) {
    auto* cs = static_cast<zk::CharsetDef*>(zk::gState.charsets->items[i]);
    if (cs->bytenum < 1 || cs->bytenum > 4) abort();  // must never reach the engine
    loadTable(cs->toUcs);
    loadTable(cs->toCode);
  }
  for (std::uint32_t i = 0; i < zk::gState.rules->count; ++i) {
    auto* rule = static_cast<zk::RuleDef*>(zk::gState.rules->items[i]);
    if (rule->dsTables->count > rule->charsets->count) abort();
    for (std::uint32_t k = 0; k < rule->dsTables->count; ++k) {
      auto* list = static_cast<zk::PtrList*>(rule->dsTables->items[k]);
      for (std::uint32_t j = 0; j < list->count; ++j)
        loadTable(static_cast<zk::CodeTable*>(list->items[j]));
    }
  }
  if (!compiled && zkfuzz::readFile("t.cmp").size() % 8 != 0) abort();
  // Frees every definition; the charset directory stays.
  zk::stateDetach();
  zk::stateAttach();
  return 0;
}
