// A charset directory of its own for one fuzzing process.
#ifndef ZK_FUZZ_COMMON_H
#define ZK_FUZZ_COMMON_H

#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "zrkvt16.h"

namespace zkfuzz {

inline std::string& charsetDir() {
  static std::string dir;
  return dir;
}

// Removes the compiled files earlier inputs left, which would be trusted.
inline void removeCompiled() {
  for (const auto& e : std::filesystem::directory_iterator(charsetDir()))
    if (e.path().extension() == ".cmp") std::filesystem::remove(e.path());
}

// Makes the directory and makes it the library's charset directory, once;
// it is removed at exit.
inline void setUpDir() {
  if (!charsetDir().empty()) return;
  char tmpl[] = "/tmp/zk-fuzz-XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  charsetDir() = std::string(tmpl) + "/";
  if (KVT_setCharsetPath(charsetDir().c_str()) != 1) abort();
  atexit([] { std::filesystem::remove_all(charsetDir()); });
}

inline void writeFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  std::ofstream f(charsetDir() + name, std::ios::binary | std::ios::trunc);
  if (!f.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size))) abort();
}

inline std::vector<std::uint8_t> readFile(const std::string& name) {
  std::ifstream f(charsetDir() + name, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

}  // namespace zkfuzz

#endif
