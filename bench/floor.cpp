// The file reading that a first conversion cannot do without, timed inside
// a fresh process: list the charset directory, open, read and close every
// rule file and set file in it (what the loading pass reads), then read the
// compiled tables named on the command line (what preparing the conversion
// reads), all through one 8 KiB buffer as the library does. Nothing is
// parsed or built, so the time printed is a floor under what the library
// adds to a process's start.
//
// usage: zk_startup_floor DIR [TABLE.cmp ...]    prints microseconds
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace {

char gBuf[8192];

long readWhole(int dir, const char* name) {
  const int fd = openat(dir, name, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  long total = 0;
  for (ssize_t n; (n = read(fd, gBuf, sizeof gBuf)) > 0;) total += n;
  close(fd);
  return total;
}

bool definitionFile(const char* name) {
  const std::size_t len = std::strlen(name);
  return len > 4 && (std::strcmp(name + len - 4, ".xml") == 0 || std::strcmp(name + len - 4, ".def") == 0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zk_startup_floor DIR [TABLE.cmp ...]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  const int dir = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  DIR* listing = dir < 0 ? nullptr : fdopendir(dup(dir));
  if (!listing) {
    std::perror(argv[1]);
    return 1;
  }
  int files = 0;
  long bytes = 0;
  while (const dirent* e = readdir(listing)) {
    if (!definitionFile(e->d_name)) continue;
    const long n = readWhole(dir, e->d_name);
    if (n >= 0) ++files, bytes += n;
  }
  closedir(listing);
  for (int i = 2; i < argc; ++i) {
    const long n = readWhole(dir, argv[i]);
    if (n < 0) {
      std::perror(argv[i]);
      return 1;
    }
    ++files;
    bytes += n;
  }
  close(dir);
  const double us = std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
  std::printf("%.0f %d %ld\n", us, files, bytes);
  return 0;
}
