// A charset directory of its own for one fuzzing process.
#ifndef ZK_FUZZ_COMMON_H
#define ZK_FUZZ_COMMON_H

#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "zrkvt16.h"

namespace zkfuzz {

inline std::string& charsetDir() {
  static std::string dir;
  return dir;
}

inline void removeDir() {
  const std::string& d = charsetDir();
  if (d.empty()) return;
  if (DIR* h = opendir(d.c_str())) {
    while (dirent* e = readdir(h))
      if (e->d_name[0] != '.') std::remove((d + e->d_name).c_str());
    closedir(h);
  }
  rmdir(d.c_str());
}

// Removes the compiled files earlier inputs left, which would be trusted.
inline void removeCompiled() {
  const std::string& d = charsetDir();
  if (DIR* h = opendir(d.c_str())) {
    while (dirent* e = readdir(h)) {
      std::string n = e->d_name;
      if (n.size() > 4 && n.compare(n.size() - 4, 4, ".cmp") == 0) std::remove((d + n).c_str());
    }
    closedir(h);
  }
}

// Makes the directory and makes it the library's charset directory, once.
inline void setUpDir() {
  if (!charsetDir().empty()) return;
  char tmpl[] = "/tmp/zk-fuzz-XXXXXX";
  if (!mkdtemp(tmpl)) abort();
  charsetDir() = std::string(tmpl) + "/";
  if (KVT_setCharsetPath(charsetDir().c_str()) != 1) abort();
  atexit(removeDir);
}

inline void writeFile(const std::string& name, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen((charsetDir() + name).c_str(), "wb");
  if (!f) abort();
  if (size && std::fwrite(data, 1, size, f) != size) abort();
  std::fclose(f);
}

}  // namespace zkfuzz

#endif
