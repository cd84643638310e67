// The few POSIX calls kvtconv makes, on Windows (mingw-w64): files and the
// standard streams in binary mode, rename that replaces, fsync, and stat of
// a directory named with a trailing separator. Elsewhere only the path
// separators are defined.
#ifndef KVTCONV_COMPAT_H
#define KVTCONV_COMPAT_H

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>
#include <string>

// Every file kvtconv opens is opened in binary mode, not inherited.
#define O_CLOEXEC (_O_BINARY | _O_NOINHERIT)

inline int fchmod(int, int) { return 0; }  // mkstemp already made it writable
inline int fsync(int fd) { return _commit(fd); }

inline int kvtReplace(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) ? 0 : (errno = EACCES, -1);
}
#define rename(from, to) kvtReplace(from, to)

// The C runtime refuses "dir\" where "dir" exists.
template <class Stat>
int kvtStat(const char* path, Stat* st) {
  std::string p(path);
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\') && p[p.size() - 2] != ':')
    p.pop_back();
  return ::stat(p.c_str(), st);
}
#define stat(path, st) kvtStat(path, st)

// Bytes in, bytes out: no CR LF translation on the standard streams.
[[maybe_unused]] static const int kvtBinaryStdio = (_setmode(0, _O_BINARY), _setmode(1, _O_BINARY), 0);

constexpr const char* kPathSeparators = "/\\";
#else
constexpr const char* kPathSeparators = "/";
#endif

#endif
