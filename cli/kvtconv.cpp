// kvtconv: converts text between encodings with libzrkvt16, in the manner of
// iconv(1). It uses only the library's public interface (the library's
// objects are linked in where the toolchain allows: see cli/CMakeLists.txt).
//
// Exit status: 0 success; 1 the data could not be converted (invalid or
// truncated input, an unmappable character, an encoding that could not be
// detected); 2 usage, file, encoding-name or charset-directory problems and
// write errors.

#include <dirent.h>
#include <fcntl.h>
#include <getopt.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef __GLIBC__
#include <malloc.h>
#include <sys/mman.h>
#endif
#ifdef ZK_KVTCONV_INSTALLED_DATA
#include <sys/auxv.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "compat.h"
#include "zkhost.h"
#include "zrkvt16.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitData = 1;
constexpr int kExitUsage = 2;

// Chunk size for reading and writing: memory stays bounded whatever the
// input, and large enough that system calls and the library's per-call work
// are a small part of converting a large file.
constexpr size_t kChunk = 256 * 1024;
// Inputs that are all regular files below a quarter chunk get buffers of
// four times the biggest one's size instead (at least this much): a small
// file is then read whole into heap memory, rather than into three chunks
// that the C library maps and unmaps one by one, and its output rarely
// fills a buffer. A file that grows meanwhile is read a buffer at a time.
constexpr size_t kSmallBuffer = 4096;
// Bytes handed to the detector; it scores the first 2048 and needs a little
// more for a byte order mark or an XML declaration.
constexpr size_t kDetectBytes = 4096;
// Bytes against which its answer is confirmed: the whole input up to this.
constexpr size_t kConfirmBytes = 1024 * 1024;
// Inputs above this size get a progress bar when standard error is a terminal.
constexpr long long kProgressMin = 8LL * 1024 * 1024;

const char* gProg = "kvtconv";

void complain(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
void complain(const char* fmt, ...) {
  std::fprintf(stderr, "%s: ", gProg);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fputc('\n', stderr);
}

int usageError(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
int usageError(const char* fmt, ...) {
  std::fprintf(stderr, "%s: ", gProg);
  va_list ap;
  va_start(ap, fmt);
  std::vfprintf(stderr, fmt, ap);
  va_end(ap);
  std::fprintf(stderr, "\nTry '%s --help' for more information.\n", gProg);
  return kExitUsage;
}

// ---------------------------------------------------------------------------
// Encoding names

// How the library must be told the byte order of an encoding.
enum class Order {
  Bytes,    // single bytes or byte sequences (UTF-8, ISO-8859-1): no order
  Legacy,   // double-byte legacy units: row byte first
  Unicode,  // UTF-16/UCS-2/UCS-4 without suffix: mark decides, else big-endian
  Little,   // explicit -LE
  Big,      // explicit -BE
};

struct Alias {
  const char* key;  // upper case, without '-', '_', ' ', '.', ':'
  const char* name; // the library's name
  Order order;
};

const Alias kAliases[] = {
    {"SHIFTJIS", "Shift_JIS", Order::Legacy},
    {"SJIS", "Shift_JIS", Order::Legacy},
    {"MSKANJI", "Shift_JIS", Order::Legacy},
    {"CSSHIFTJIS", "Shift_JIS", Order::Legacy},
    {"XSJIS", "Shift_JIS", Order::Legacy},
    {"WINDOWS31J", "WINDOWS31J", Order::Legacy},
    {"CP932", "WINDOWS31J", Order::Legacy},
    {"MS932", "WINDOWS31J", Order::Legacy},
    {"WINDOWS932", "WINDOWS31J", Order::Legacy},
    {"IBM943", "WINDOWS31J", Order::Legacy},
    {"CSWINDOWS31J", "WINDOWS31J", Order::Legacy},
    {"SJISWIN", "WINDOWS31J", Order::Legacy},
    {"SHIFTJIS2004", "Shift_JIS-2004", Order::Legacy},
    {"SJIS2004", "Shift_JIS-2004", Order::Legacy},
    {"SHIFTJISX0213", "Shift_JIS-2004", Order::Legacy},
    {"SJISX0213", "Shift_JIS-2004", Order::Legacy},
    {"EUCJP", "EUC-JP", Order::Legacy},
    {"UJIS", "EUC-JP", Order::Legacy},
    {"XEUCJP", "EUC-JP", Order::Legacy},
    {"CSEUCPKDFMTJAPANESE", "EUC-JP", Order::Legacy},
    {"EUCJPFIX", "EUC-JP-FIX", Order::Legacy},
    {"EUCJIS2004", "EUC-JIS-2004", Order::Legacy},
    {"EUCJISX0213", "EUC-JIS-2004", Order::Legacy},
    {"ISO2022JP", "ISO-2022-JP", Order::Legacy},
    {"JIS", "ISO-2022-JP", Order::Legacy},
    {"JIS7", "ISO-2022-JP", Order::Legacy},
    {"CSISO2022JP", "ISO-2022-JP", Order::Legacy},
    {"ISO2022JP2004", "ISO-2022-JP-2004", Order::Legacy},
    {"ISO2022JP3", "ISO-2022-JP-2004", Order::Legacy},
    {"UCS2", "ISO-10646-UCS-2", Order::Unicode},
    {"ISO10646UCS2", "ISO-10646-UCS-2", Order::Unicode},
    {"CSUNICODE", "ISO-10646-UCS-2", Order::Unicode},
    {"UCS2LE", "ISO-10646-UCS-2", Order::Little},
    {"UCS2BE", "ISO-10646-UCS-2", Order::Big},
    {"UCS4", "ISO-10646-UCS-4", Order::Unicode},
    {"UTF32", "ISO-10646-UCS-4", Order::Unicode},
    {"ISO10646UCS4", "ISO-10646-UCS-4", Order::Unicode},
    {"CSUCS4", "ISO-10646-UCS-4", Order::Unicode},
    {"UCS4LE", "ISO-10646-UCS-4", Order::Little},
    {"UCS4BE", "ISO-10646-UCS-4", Order::Big},
    {"UTF32LE", "ISO-10646-UCS-4", Order::Little},
    {"UTF32BE", "ISO-10646-UCS-4", Order::Big},
    {"UTF16", "UTF-16", Order::Unicode},
    {"UTF16LE", "UTF-16", Order::Little},
    {"UTF16BE", "UTF-16", Order::Big},
    {"UTF8", "UTF-8", Order::Bytes},
    {"OASYSWIN", "OASYS_WIN", Order::Legacy},
    {"OASYSONLINE", "OASYS_ONLINE", Order::Legacy},
    {"ISO88591", "ISO-8859-1", Order::Bytes},
    {"LATIN1", "ISO-8859-1", Order::Bytes},
    {"L1", "ISO-8859-1", Order::Bytes},
    {"CP819", "ISO-8859-1", Order::Bytes},
    {"IBM819", "ISO-8859-1", Order::Bytes},
    {"ISOIR100", "ISO-8859-1", Order::Bytes},
    {"ISO646IRV", "ISO-646IRV", Order::Bytes},
    {"ISO646US", "ISO-646IRV", Order::Bytes},
    {"ASCII", "ISO-646IRV", Order::Bytes},
    {"USASCII", "ISO-646IRV", Order::Bytes},
    {"ANSIX341968", "ISO-646IRV", Order::Bytes},
    {"GBK", "GBK", Order::Legacy},
    {"CP936", "GBK", Order::Legacy},
    {"MS936", "GBK", Order::Legacy},
    {"WINDOWS936", "GBK", Order::Legacy},
    {"BIG5", "Big5", Order::Legacy},
    {"CSBIG5", "Big5", Order::Legacy},
    {"EUCKR", "EUC-KR", Order::Legacy},
    {"CSEUCKR", "EUC-KR", Order::Legacy},
};

std::string aliasKey(const char* name) {
  std::string key;
  for (const char* p = name; *p; ++p) {
    char c = *p;
    if (c == '-' || c == '_' || c == ' ' || c == '.' || c == ':') continue;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    key.push_back(c);
  }
  return key;
}

struct Encoding {
  std::string name;  // as the library knows it
  Order order = Order::Legacy;
  bool bigWithoutMark = true;  // Order::Unicode: the order when there is no mark
  bool unicode() const {
    return order == Order::Unicode || order == Order::Little || order == Order::Big ||
           name == "UTF-8";
  }
};

// Names the library does not know under an alias (a table-only encoding of
// the charset directory) pass through unchanged; the library decides.
Encoding resolveEncoding(const char* userName) {
  Encoding e;
  const std::string key = aliasKey(userName);
  for (const Alias& a : kAliases) {
    if (key == a.key) {
      e.name = a.name;
      e.order = a.order;
      return e;
    }
  }
  e.name = userName;
  e.order = Order::Legacy;
  return e;
}

CconvSrcOptions sourceOptions(const Encoding& e, bool skipInvalid) {
  CconvSrcOptions o;
  std::memset(&o, 0, sizeof o);
  o.skipInvalid = skipInvalid ? 1 : 0;
  switch (e.order) {
    case Order::Bytes:
      // A UTF-8 mark is stepped over rather than kept as U+FEFF.
      o.inDetectBom = e.name == "UTF-8" ? 1 : 0;
      break;
    case Order::Legacy:
    case Order::Big:
      o.inBigEndian = 1;
      break;
    case Order::Unicode:
      o.inBigEndian = e.bigWithoutMark ? 1 : 0;
      o.inDetectBom = 1;
      break;
    case Order::Little:
      break;
  }
  return o;
}

// ---------------------------------------------------------------------------
// Options

struct Options {
  const char* from = nullptr;
  const char* to = "UTF-8";
  const char* output = nullptr;
  const char* charsetDir = nullptr;
  bool list = false;
  bool guess = false;
  bool skip = false;  // -c
  bool replace = false;
  bool lenient = false;  // --lenient-unicode: ill-formed Unicode as the library takes it
  std::string toName;    // -t without //IGNORE or //TRANSLIT
  uint32_t replacement = 0;
  int eol = 0;  // 0 = keep, else the library's newlineKind
  bool bom = false;
  int ncr = 0;
  std::string lang;
  bool quiet = false;
  std::vector<const char*> files;
};

void printHelp() {
  std::printf(
      "Usage: %s [OPTION...] [-f FROM] [-t TO] [FILE...]\n"
      "Convert text from one encoding to another with libzrkvt16.\n"
      "\n"
      "With no FILE, or when FILE is -, read standard input. Without -f the input\n"
      "encoding of each file is detected from its first bytes.\n"
      "\n"
      "  -f, --from-code=NAME   encoding of the input (detected when omitted)\n"
      "  -t, --to-code=NAME     encoding of the output (default UTF-8)\n"
      "  -o, --output=FILE      write to FILE instead of standard output; FILE is\n"
      "                         replaced only when the conversion succeeds\n"
      "  -l, --list             list the encodings of the charset directory\n"
      "      --guess            print the detected encoding, byte order mark, byte\n"
      "                         order and line ends of each file; convert nothing\n"
      "  -c                     skip invalid input and drop unmappable characters\n"
      "                         and ill-formed Unicode (also: -t NAME//IGNORE)\n"
      "      --replace[=N[,W]]  replace unmappable characters: N for narrow and W for\n"
      "                         wide ones (a character, U+XXXX or 0xXXXX); the\n"
      "                         default is '?' and the geta mark U+3013; ill-formed\n"
      "                         Unicode becomes U+FFFD, or W in a legacy target\n"
      "                         (also: -t NAME//TRANSLIT)\n"
      "      --lenient-unicode  read ill-formed UTF-8, UTF-16 and UCS-4 as the\n"
      "                         library does instead of stopping at it\n"
      "      --eol=KIND         convert line ends to lf, crlf, cr, u2028 or u2029\n"
      "      --bom              write a byte order mark (Unicode targets)\n"
      "      --ncr=hex|dec      write characters UCS-2 lacks as numeric character\n"
      "                         references (UCS-2 target)\n"
      "      --lang=TAG         language tag for Unicode output\n"
      "      --charset-dir=DIR  use the encodings of DIR instead of the default\n"
      "  -q, --quiet            no progress bar\n"
      "  -h, --help             show this help and exit\n"
      "      --version          show the version and exit\n"
      "\n"
      "Names are matched in any case, with the usual aliases (SJIS, CP932, EUCJP,\n"
      "JIS, UTF8, UTF-16LE, UCS-4BE, LATIN1, ...). Unicode input without -LE/-BE is\n"
      "read in the order its byte order mark gives, big-endian when it has none.\n"
      "Ill-formed Unicode input (bad UTF-8, lone surrogates, values above U+10FFFF)\n"
      "is an error unless -c, --replace or --lenient-unicode says otherwise.\n"
      "\n"
      "Exit status: 0 success; 1 input that could not be converted (invalid or\n"
      "truncated input, unmappable character, undetectable encoding); 2 usage,\n"
      "file, encoding name or charset directory error, or a failed write.\n",
      gProg);
}

// A replacement: one character (UTF-8), or U+XXXX / 0xXXXX. Only the Basic
// Multilingual Plane fits the library's 16-bit halves.
bool parseReplacementChar(const std::string& text, uint32_t* out) {
  if (text.empty()) return false;
  uint32_t v = 0;
  const bool uPlus = (text[0] == 'U' || text[0] == 'u') && text[1] == '+';
  const bool zeroX = text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (text.size() > 2 && (uPlus || zeroX)) {
    char* end = nullptr;
    unsigned long n = std::strtoul(text.c_str() + 2, &end, 16);
    if (*end != '\0' || n > 0xFFFF) return false;
    v = static_cast<uint32_t>(n);
  } else {
    const auto* s = reinterpret_cast<const unsigned char*>(text.data());
    size_t len = 0;
    if (s[0] < 0x80) {
      v = s[0];
      len = 1;
    } else if ((s[0] & 0xE0) == 0xC0) {
      v = s[0] & 0x1F;
      len = 2;
    } else if ((s[0] & 0xF0) == 0xE0) {
      v = s[0] & 0x0F;
      len = 3;
    } else {
      return false;
    }
    if (text.size() != len) return false;
    for (size_t i = 1; i < len; ++i) {
      if ((s[i] & 0xC0) != 0x80) return false;
      v = (v << 6) | (s[i] & 0x3F);
    }
  }
  if (v == 0) return false;
  *out = v;
  return true;
}

bool parseReplacement(const char* arg, uint32_t* out) {
  std::string s(arg);
  std::string narrow = s, wide;
  // A lone "," is a valid narrow replacement; a separator needs text on both sides.
  size_t comma = s.find(',', 1);
  if (comma != std::string::npos) {
    narrow = s.substr(0, comma);
    wide = s.substr(comma + 1);
  }
  uint32_t n = 0, w = 0;
  if (!parseReplacementChar(narrow, &n)) return false;
  if (comma != std::string::npos && !parseReplacementChar(wide, &w)) return false;
  *out = (w << 16) | n;
  return true;
}

enum {
  kOptGuess = 256,
  kOptReplace,
  kOptEol,
  kOptBom,
  kOptNcr,
  kOptLang,
  kOptCharsetDir,
  kOptVersion,
  kOptLenient,
};

// iconv's habit: -t NAME//IGNORE is -c and -t NAME//TRANSLIT is --replace, in
// any case and order; an empty suffix ("UTF-8//") means nothing.
void takeTargetSuffixes(Options* o) {
  std::string t = o->to;
  for (size_t p; (p = t.rfind("//")) != std::string::npos; t.erase(p)) {
    const std::string suffix = aliasKey(t.c_str() + p + 2);
    if (suffix == "IGNORE") o->skip = true;
    else if (suffix == "TRANSLIT") o->replace = true;
    else if (!suffix.empty()) break;
  }
  o->toName = t;
  o->to = o->toName.c_str();
}

// Returns -1 to go on, else an exit status.
int parseArgs(int argc, char** argv, Options* o) {
  static const option longOpts[] = {
      {"from-code", required_argument, nullptr, 'f'},
      {"to-code", required_argument, nullptr, 't'},
      {"output", required_argument, nullptr, 'o'},
      {"list", no_argument, nullptr, 'l'},
      {"quiet", no_argument, nullptr, 'q'},
      {"help", no_argument, nullptr, 'h'},
      {"guess", no_argument, nullptr, kOptGuess},
      {"replace", optional_argument, nullptr, kOptReplace},
      {"eol", required_argument, nullptr, kOptEol},
      {"bom", no_argument, nullptr, kOptBom},
      {"ncr", required_argument, nullptr, kOptNcr},
      {"lang", required_argument, nullptr, kOptLang},
      {"charset-dir", required_argument, nullptr, kOptCharsetDir},
      {"version", no_argument, nullptr, kOptVersion},
      {"lenient-unicode", no_argument, nullptr, kOptLenient},
      {nullptr, 0, nullptr, 0},
  };
  opterr = 0;
  int c;
  while ((c = getopt_long(argc, argv, ":f:t:o:lcqh", longOpts, nullptr)) != -1) {
    switch (c) {
      case 'f': o->from = optarg; break;
      case 't': o->to = optarg; break;
      case 'o': o->output = optarg; break;
      case 'l': o->list = true; break;
      case 'c': o->skip = true; break;
      case 'q': o->quiet = true; break;
      case 'h': printHelp(); return kExitOk;
      case kOptVersion: std::printf("kvtconv (zrkvt16) 0.1.0\n"); return kExitOk;
      case kOptGuess: o->guess = true; break;
      case kOptReplace:
        o->replace = true;
        if (optarg && !parseReplacement(optarg, &o->replacement))
          return usageError("invalid replacement '%s' (a character, U+XXXX or 0xXXXX, "
                            "at most U+FFFF; NARROW[,WIDE])", optarg);
        break;
      case kOptEol: {
        static const struct { const char* name; int kind; } kinds[] = {
            {"lf", 3}, {"crlf", 1}, {"cr", 2}, {"u2028", 4}, {"u2029", 5}};
        o->eol = 0;
        for (const auto& k : kinds)
          if (std::strcmp(optarg, k.name) == 0) o->eol = k.kind;
        if (o->eol == 0)
          return usageError("invalid line end '%s' (lf, crlf, cr, u2028 or u2029)", optarg);
        break;
      }
      case kOptBom: o->bom = true; break;
      case kOptLenient: o->lenient = true; break;
      case kOptNcr:
        if (std::strcmp(optarg, "hex") == 0) o->ncr = 1;
        else if (std::strcmp(optarg, "dec") == 0) o->ncr = 2;
        else return usageError("invalid --ncr mode '%s' (hex or dec)", optarg);
        break;
      case kOptLang:
        if (std::strlen(optarg) >= CCONV_TEXT_SIZE)
          return usageError("language tag too long (at most %d characters)",
                            CCONV_TEXT_SIZE - 1);
        o->lang = optarg;
        break;
      case kOptCharsetDir: o->charsetDir = optarg; break;
      case ':': return usageError("option '%s' requires an argument", argv[optind - 1]);
      default:
        if (optopt && optopt < 256) return usageError("invalid option -- '%c'", optopt);
        return usageError("unrecognized option '%s'", argv[optind - 1]);
    }
  }
  takeTargetSuffixes(o);
  for (int i = optind; i < argc; ++i) o->files.push_back(argv[i]);
  if (o->files.empty()) o->files.push_back("-");
  return -1;
}

// ---------------------------------------------------------------------------
// Input and output

struct Input {
  const char* label = nullptr;  // for messages
  int fd = -1;
  bool ownFd = false;
  long long size = -1;  // regular files only
};

bool openInput(const char* path, Input* in) {
  if (std::strcmp(path, "-") == 0) {
    in->label = "<stdin>";
    in->fd = STDIN_FILENO;
    in->ownFd = false;
  } else {
    in->label = path;
    in->fd = open(path, O_RDONLY | O_CLOEXEC);
    if (in->fd < 0) {
      complain("%s: %s", path, std::strerror(errno));
      return false;
    }
    in->ownFd = true;
  }
  struct stat st;
  if (fstat(in->fd, &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      complain("%s: %s", in->label, std::strerror(EISDIR));
      if (in->ownFd) close(in->fd);
      return false;
    }
    if (S_ISREG(st.st_mode)) in->size = st.st_size;
  }
  return true;
}

void closeInput(Input* in) {
  if (in->ownFd) close(in->fd);
  in->ownFd = false;
  in->fd = -1;
}

// Fills buf up to cap bytes unless the input ends; returns the count or -1.
ssize_t readFull(int fd, unsigned char* buf, size_t cap) {
  size_t got = 0;
  while (got < cap) {
    ssize_t n = read(fd, buf + got, cap - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

struct Output {
  const char* label = "<stdout>";
  int fd = STDOUT_FILENO;
  std::string finalPath;  // set when writing through a temporary file
  std::string tempPath;
  bool failed = false;
};

// A file that replaces another takes its mode, and its owner and group where
// the process may set them; set-ID bits are kept only with the owner (group)
// that they were given for.
void keepAttributes(int fd, const struct stat& old) {
  mode_t mode = old.st_mode & 07777;
#ifndef _WIN32
  if (fchown(fd, old.st_uid, old.st_gid) != 0) {
    mode &= ~S_ISUID;
    if (fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0) mode &= ~S_ISGID;
  }
#endif
  fchmod(fd, mode);
}

bool openOutput(const char* path, Output* out) {
  out->label = path;
  struct stat st;
  const bool exists = stat(path, &st) == 0;
  bool regular = !exists || S_ISREG(st.st_mode);
  if (!regular) {
    // A device or pipe: write straight to it.
    out->fd = open(path, O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (out->fd < 0) {
      complain("%s: %s", path, std::strerror(errno));
      return false;
    }
    return true;
  }
  // A regular file is written beside its final name and renamed into place on
  // success, so a failed conversion never leaves a half-written file behind
  // (and the output may name one of the inputs).
  std::string p(path);
  size_t slash = p.find_last_of(kPathSeparators);
  std::string dir = slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
  std::string base = slash == std::string::npos ? p : p.substr(slash + 1);
  std::string tmpl = dir + "." + base + ".kvtconv-XXXXXX";
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  out->fd = mkstemp(buf.data());
  if (out->fd < 0) {
    complain("%s: %s", path, std::strerror(errno));
    return false;
  }
  if (exists) {
    keepAttributes(out->fd, st);
  } else {
    mode_t mask = umask(0);
    umask(mask);
    fchmod(out->fd, 0666 & ~mask);
  }
  out->tempPath = buf.data();
  out->finalPath = path;
  return true;
}

bool writeAll(Output* out, const unsigned char* data, size_t len) {
  if (out->failed) return false;
  while (len > 0) {
    ssize_t n = write(out->fd, data, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      complain("%s: write error: %s", out->label, std::strerror(errno));
      out->failed = true;
      return false;
    }
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// Closes the output; on success renames a temporary file into place, on
// failure removes it.
bool finishOutput(Output* out, bool ok) {
  if (out->fd != STDOUT_FILENO || !out->tempPath.empty()) {
    if (ok && !out->tempPath.empty() && fsync(out->fd) != 0 && errno != EINVAL) {
      complain("%s: write error: %s", out->label, std::strerror(errno));
      ok = false;
    }
    if (close(out->fd) != 0 && ok) {
      complain("%s: write error: %s", out->label, std::strerror(errno));
      ok = false;
    }
  } else if (ok && close(STDOUT_FILENO) != 0 && errno != EBADF) {
    complain("%s: write error: %s", out->label, std::strerror(errno));
    ok = false;
  }
  if (!out->tempPath.empty()) {
    if (ok && rename(out->tempPath.c_str(), out->finalPath.c_str()) != 0) {
      complain("%s: %s", out->label, std::strerror(errno));
      ok = false;
    }
    if (!ok) unlink(out->tempPath.c_str());
  }
  return ok;
}

// ---------------------------------------------------------------------------
// Progress bar

struct Progress {
  bool enabled = false;
  const char* label = nullptr;
  long long total = 0;
  int shown = -1;
};

void progressStart(Progress* p, bool quiet, const Input& in) {
  p->enabled = !quiet && in.size >= kProgressMin && isatty(STDERR_FILENO);
  p->label = in.label;
  p->total = in.size;
  p->shown = -1;
}

void progressUpdate(Progress* p, long long done) {
  if (!p->enabled || p->total <= 0) return;
  int pct = static_cast<int>(done * 100 / p->total);
  if (pct > 100) pct = 100;
  if (pct == p->shown) return;
  p->shown = pct;
  char bar[41];
  int fill = pct * 40 / 100;
  for (int i = 0; i < 40; ++i) bar[i] = i < fill ? '#' : '.';
  bar[40] = '\0';
  std::fprintf(stderr, "\r%s: %s [%s] %3d%%", gProg, p->label, bar, pct);
  std::fflush(stderr);
}

void progressEnd(Progress* p) {
  if (p->enabled && p->shown >= 0) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
  p->enabled = false;
}

// ---------------------------------------------------------------------------
// Detection

const char* newlineName(uint32_t kind) {
  switch (kind) {
    case 1: return "crlf";
    case 2: return "cr";
    case 3: return "lf";
    case 4: return "u2028";
    case 5: return "u2029";
    default: return "none";
  }
}

// The detector's answer on the first bytes, confirmed against buf[0..len),
// which is the whole input when `whole`.
bool detect(const unsigned char* buf, size_t len, bool whole, CconvChkRecord* chk,
            ZkhConfirmation* conf) {
  std::memset(chk, 0, sizeof *chk);
  chk->inBuf = buf;
  chk->inPos = 0;
  chk->inLen = static_cast<int32_t>(std::min(len, kDetectBytes));
  cconvChkEncode(chk);
  return zkhConfirmEncoding(chk, buf, len, whole ? 1 : 0, conf) == 1;
}

// The source encoding that a confirmed detection stands for.
Encoding detectedEncoding(const ZkhConfirmation& conf) {
  // The decoder reads the mark again itself; without one, the detector's
  // order stands.
  Encoding e = resolveEncoding(conf.encodingName);
  e.bigWithoutMark = conf.bigEndian != 0;
  return e;
}

// ---------------------------------------------------------------------------
// Conversion

std::string hexBytes(const unsigned char* p, size_t n) {
  std::string s;
  char b[4];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%s%02X", i ? " " : "", p[i]);
    s += b;
  }
  return s;
}

// Buffers left uninitialised: their pages are only touched, and counted in
// the process's memory, when something is written to them.
template <class T>
struct NoInitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = NoInitAllocator<U>;
  };
  template <class U>
  void construct(U* p) {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};
using Buffer = std::vector<unsigned char, NoInitAllocator<unsigned char>>;

struct Converter {
  CconvRecord rec;
  Options* opts = nullptr;
  Output* out = nullptr;
  Buffer inBuf;
  Buffer outBuf;
  Buffer scratch;  // output of replays that locate a bad character
  std::string hint;  // appended to data errors of a detected input
  // Unicode input is checked before the library sees it, unless
  // --lenient-unicode: the library would take ill-formed input as values.
  bool validating = false;
  ZkhValidator val;
  size_t scanPos = 0;      // inBuf position up to which the validator has read
  bool scanEnded = false;  // the end of the input was reported to it
  bool iso2022 = false;    // the source reports unknown escape sequences as truncation
};

enum class Step { Done, NeedInput, Failed };

// Runs a copy of the record from `snap` with the input cut at `len`, into
// scratch output, until it stops for something other than a full buffer.
uint32_t replay(Converter* cv, const CconvRecord& snap, int32_t len, CconvRecord* r) {
  *r = snap;
  r->inLen = len;
  for (;;) {
    r->outBuf = cv->scratch.data();
    r->outPos = 0;
    r->outSize = static_cast<int32_t>(cv->scratch.size());
    uint32_t st = cconvConvert(r);
    if (st != CCONV_OUTPUT_FULL || r->outPos == 0) return st;
  }
}

// Finds the bytes [start, end) of the character that made a conversion stop
// with `failed`. The driver reports only where it stopped, which for some
// decoders is past the bad bytes; since the record holds all conversion
// state, the call is replayed from `snap` on shorter input: the shortest input
// that fails the same way ends with the character, and one byte less stops at
// its first byte.
bool locate(Converter* cv, const CconvRecord& snap, uint32_t failed, int32_t failLen,
            int32_t* start, int32_t* end) {
  CconvRecord r;
  int32_t lo = snap.inPos, hi = failLen;
  if (lo >= hi) return false;
  while (lo + 1 < hi) {
    int32_t mid = lo + (hi - lo) / 2;
    if (replay(cv, snap, mid, &r) == failed) hi = mid;
    else lo = mid;
  }
  uint32_t st = replay(cv, snap, hi - 1, &r);
  if (st == failed || r.inPos > hi - 1 || r.inPos < snap.inPos) return false;
  *start = r.inPos;
  *end = hi;
  return true;
}

// Converts rec's current input into the output as far as it goes.
Step convertBuffer(Converter* cv, const Input& in, long long base) {
  CconvRecord& rec = cv->rec;
  for (;;) {
    CconvRecord snap = rec;
    rec.outBuf = cv->outBuf.data();
    rec.outPos = 0;
    rec.outSize = static_cast<int32_t>(cv->outBuf.size());
    uint32_t st = cconvConvert(&rec);
    if (rec.outPos > 0 && !writeAll(cv->out, cv->outBuf.data(), static_cast<size_t>(rec.outPos)))
      return Step::Failed;
    if (st == CCONV_OK) return Step::Done;
    if (st == CCONV_NEED_INPUT) {
      // The library stops at an escape sequence it does not know as if it
      // were cut short; more input cannot help when the bytes already there
      // start no known one.
      const int esc = cv->iso2022 ? zkhUnknownEscape(rec.inBuf + rec.inPos,
                                                     static_cast<size_t>(rec.inLen - rec.inPos))
                                  : -1;
      if (esc <= 0) return Step::NeedInput;
      if (cv->opts->skip) {  // -c: the ESC goes, what follows is read as text
        ++rec.inPos;
        continue;
      }
      complain("%s: unknown escape sequence at byte offset %lld: %s%s", in.label,
               base + rec.inPos, hexBytes(rec.inBuf + rec.inPos, static_cast<size_t>(esc)).c_str(),
               cv->hint.c_str());
      return Step::Failed;
    }
    if (st == CCONV_OUTPUT_FULL) {
      if (rec.outPos == 0) {
        complain("%s: a character does not fit the output buffer", in.label);
        return Step::Failed;
      }
      continue;
    }
    if (st == CCONV_UNMAPPABLE && cv->opts->skip) continue;  // -c drops it and goes on
    if (st != CCONV_INVALID && st != CCONV_UNMAPPABLE) {
      complain("%s: conversion failed at byte offset %lld (status %u)", in.label,
               base + rec.inPos, st);
      return Step::Failed;
    }
    int32_t from = rec.inPos, to = rec.inPos;
    if (!locate(cv, snap, st, rec.inLen, &from, &to)) {
      // Show what follows the stopping point instead.
      to = std::min(rec.inLen, rec.inPos + 4);
    }
    std::string bytes = hexBytes(rec.inBuf + from, static_cast<size_t>(to - from));
    if (st == CCONV_INVALID) {
      complain("%s: invalid input at byte offset %lld: %s%s", in.label, base + from, bytes.c_str(),
               cv->hint.c_str());
    } else {
      char what[32];
      if (rec.ucs != 0) std::snprintf(what, sizeof what, "U+%04X", rec.ucs);
      else std::snprintf(what, sizeof what, "code 0x%X", rec.code);
      complain("%s: cannot convert %s at byte offset %lld (%s) to %s", in.label, what,
               base + from, bytes.c_str(), cv->opts->to);
    }
    return Step::Failed;
  }
}

// ---------------------------------------------------------------------------
// Ill-formed Unicode input
//
// The validator reads each byte of the buffer once, ahead of the library. The
// library is given the input only up to the next ill-formed sequence; there
// kvtconv stops (the default), skips the sequence (-c) or converts U+FFFD in
// the source's own form in its place (--replace). Offsets stay those of the
// input: skipping moves inPos, and U+FFFD comes from a buffer of its own.

const char* formName(uint32_t form) {
  switch (form) {
    case ZKH_UTF8: return "UTF-8";
    case ZKH_UTF16: return "UTF-16";
    case ZKH_UCS2: return "UCS-2";
    default: return "UCS-4";
  }
}

const char* issueText(const ZkhIssue& issue, uint32_t form) {
  switch (issue.kind) {
    case ZKH_BAD_BYTE: return "invalid byte";
    case ZKH_BAD_SEQUENCE: return "incomplete sequence";
    case ZKH_SURROGATE: return form == ZKH_UTF16 ? "lone surrogate" : "not a Unicode scalar value";
    case ZKH_OUT_OF_RANGE: return "not a Unicode scalar value";
    default: return "truncated";
  }
}

// The validator form of a source encoding, if it is a Unicode one.
bool unicodeForm(const std::string& name, uint32_t* form) {
  static const struct {
    const char* key;
    uint32_t form;
  } forms[] = {{"UTF8", ZKH_UTF8},           {"UTF8TAGS", ZKH_UTF8},
               {"UTF16", ZKH_UTF16},         {"UTF16TAGS", ZKH_UTF16},
               {"ISO10646UCS2", ZKH_UCS2},   {"ISO10646UCS4", ZKH_UCS4},
               {"ISO10646UCS4TAGS", ZKH_UCS4}};
  const std::string key = aliasKey(name.c_str());
  for (const auto& f : forms) {
    if (key == f.key) {
      *form = f.form;
      return true;
    }
  }
  return false;
}

// The next ill-formed sequence in buf[scanPos..have), or at the end of input.
bool nextIssue(Converter* cv, size_t have, bool eof, ZkhIssue* issue) {
  while (cv->scanPos < have) {
    size_t used = 0;
    const int r = zkhValidate(&cv->val, cv->inBuf.data() + cv->scanPos, have - cv->scanPos,
                              &used, issue);
    cv->scanPos += used;
    if (r == 1) return true;
  }
  if (!eof || cv->scanEnded) return false;
  cv->scanEnded = true;
  return zkhValidateEnd(&cv->val, issue) == 1;
}

// The library has converted everything before the sequence at `at`.
bool settleIssue(Converter* cv, const Input& in, long long base, const ZkhIssue& issue,
                 size_t at) {
  CconvRecord& rec = cv->rec;
  // A short input waiting for a UTF-8 mark that cannot come now.
  if (static_cast<size_t>(rec.inPos) < at && rec.srcOptions.inDetectBom) {
    rec.srcOptions.inDetectBom = 0;
    if (convertBuffer(cv, in, base) == Step::Failed) return false;
  }
  const size_t end = at + issue.length;
  const size_t waiting = at - std::min(at, static_cast<size_t>(rec.inPos));  // a language tag
  if (cv->opts->replace) {
    std::vector<unsigned char> fix(rec.inBuf + at - waiting, rec.inBuf + at);
    unsigned char fffd[4];
    fix.insert(fix.end(), fffd, fffd + zkhReplacement(&cv->val, fffd));
    const unsigned char* buf = rec.inBuf;
    rec.inBuf = fix.data();
    rec.inPos = 0;
    rec.inLen = static_cast<int32_t>(fix.size());
    const Step s = convertBuffer(cv, in, base + static_cast<long long>(at - waiting));
    rec.inBuf = buf;
    rec.inPos = static_cast<int32_t>(end);
    return s != Step::Failed;
  }
  if (cv->opts->skip) {
    // What the library waits on goes next to what follows the sequence.
    std::memmove(cv->inBuf.data() + end - waiting, cv->inBuf.data() + at - waiting, waiting);
    rec.inPos = static_cast<int32_t>(end - waiting);
    return true;
  }
  const std::string bytes = hexBytes(issue.bytes, issue.length);
  if (issue.kind == ZKH_TRUNCATED) {
    complain("%s: incomplete character at end of input, byte offset %lld: %s%s", in.label,
             static_cast<long long>(issue.offset), bytes.c_str(), cv->hint.c_str());
  } else {
    complain("%s: ill-formed %s at byte offset %lld: %s (%s)%s", in.label,
             formName(cv->val.form), static_cast<long long>(issue.offset), bytes.c_str(),
             issueText(issue, cv->val.form), cv->hint.c_str());
  }
  return false;
}

// Converts buf[inPos..have), the input checked first when it is Unicode.
Step convertChecked(Converter* cv, const Input& in, long long base, size_t have, bool eof) {
  CconvRecord& rec = cv->rec;
  for (;;) {
    ZkhIssue issue;
    const bool found = cv->validating && nextIssue(cv, have, eof, &issue);
    // Held bytes that an issue began with are still in the buffer: the
    // library stops before an unfinished character too.
    const size_t at = found ? static_cast<size_t>(std::max<long long>(
                                  static_cast<long long>(issue.offset) - base, rec.inPos))
                            : have;
    rec.inLen = static_cast<int32_t>(at);
    const Step s = convertBuffer(cv, in, base);
    if (!found || s == Step::Failed) return s;
    if (!settleIssue(cv, in, base, issue, at)) return Step::Failed;
  }
}

// Converts one input, whose first `have` bytes are already in the buffer.
bool convertInput(Converter* cv, const Input& in, size_t have, bool eof) {
  CconvRecord& rec = cv->rec;
  unsigned char* buf = cv->inBuf.data();
  const size_t cap = cv->inBuf.size();
  long long base = 0;  // input offset of buf[0]
  Progress progress;
  progressStart(&progress, cv->opts->quiet, in);
  bool ok = true;
  for (;;) {
    if (!eof && have < cap) {
      ssize_t n = readFull(in.fd, buf + have, cap - have);
      if (n < 0) {
        complain("%s: read error: %s", in.label, std::strerror(errno));
        ok = false;
        break;
      }
      if (static_cast<size_t>(n) < cap - have) eof = true;
      have += static_cast<size_t>(n);
    }
    rec.inBuf = buf;
    rec.inPos = 0;
    rec.inLen = static_cast<int32_t>(have);
    Step step = have > 0 ? convertChecked(cv, in, base, have, eof) : Step::Done;
    if (step == Step::Failed) {
      ok = false;
      break;
    }
    size_t used = std::min(static_cast<size_t>(rec.inPos), have);
    std::memmove(buf, buf + used, have - used);
    have -= used;
    cv->scanPos -= std::min(cv->scanPos, used);
    base += static_cast<long long>(used);
    progressUpdate(&progress, base);
    if (!eof) {
      if (used == 0 && have == cap) {
        complain("%s: no progress at byte offset %lld", in.label, base);
        ok = false;
        break;
      }
      continue;
    }
    if (have == 0) break;
    if (used > 0) continue;
    // At the end of the input and stuck. A short input may still be waiting
    // for a byte order mark that cannot come.
    if (rec.srcOptions.inDetectBom) {
      rec.srcOptions.inDetectBom = 0;
      continue;
    }
    if (cv->opts->skip) break;  // -c: a truncated tail is dropped like invalid input
    complain("%s: incomplete character at end of input, byte offset %lld: %s%s", in.label, base,
             hexBytes(buf, std::min<size_t>(have, 4)).c_str(), cv->hint.c_str());
    ok = false;
    break;
  }
  progressEnd(&progress);
  return ok;
}

bool terminate(Converter* cv) {
  CconvRecord& rec = cv->rec;
  for (int attempt = 0; attempt < 16; ++attempt) {
    rec.outBuf = cv->outBuf.data();
    rec.outPos = 0;
    rec.outSize = static_cast<int32_t>(cv->outBuf.size());
    uint32_t st = cconvTermConvert(&rec);
    if (rec.outPos > 0 && !writeAll(cv->out, cv->outBuf.data(), static_cast<size_t>(rec.outPos)))
      return false;
    if (st == CCONV_OK) return true;
    if (st != CCONV_OUTPUT_FULL || rec.outPos == 0) {
      complain("closing the output failed (status %u)", st);
      return false;
    }
  }
  complain("closing the output failed");
  return false;
}

// ---------------------------------------------------------------------------
// Charset directory

bool setCharsetDir(const char* dir) {
  struct stat st;
  if (stat(dir, &st) != 0) {
    complain("charset directory %s: %s", dir, std::strerror(errno));
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    complain("charset directory %s: %s", dir, std::strerror(ENOTDIR));
    return false;
  }
  std::string path(dir);
  if (path.back() != '/') path.push_back('/');
  // The library keeps at most 259 characters and needs room for its separator.
  if (path.size() >= CCONV_TEXT_SIZE - 3) {
    complain("charset directory %s: path too long (at most %d characters)", dir,
             CCONV_TEXT_SIZE - 4);
    return false;
  }
  if (KVT_setCharsetPath(path.c_str()) != 1) {
    complain("charset directory %s: could not be set", dir);
    return false;
  }
  return true;
}

#ifdef ZK_KVTCONV_INSTALLED_DATA
// kvtconv carries the library inside it, so the library's default charset
// directory, "base2/" beside the library's own file, is beside kvtconv: right
// in the build folder. Installed, the charset directory stays where the shared
// library's is, at ZK_KVTCONV_INSTALLED_DATA from kvtconv's directory, and is
// used when nothing stands beside kvtconv. Only without --charset-dir.
void useInstalledCharsetDir() {
  char exe[4096];
  ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) {
    exe[n] = '\0';
  } else {
    // Without /proc, as the library does: the name kvtconv was started by.
    const char* exec = reinterpret_cast<const char*>(getauxval(AT_EXECFN));
    if (!exec || !realpath(exec, exe)) return;
  }
  std::string dir(exe, static_cast<size_t>(std::strrchr(exe, '/') - exe + 1));
  struct stat st;
  if (stat((dir + "base2").c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return;
  dir += ZK_KVTCONV_INSTALLED_DATA "/";
  if (dir.size() < CCONV_TEXT_SIZE - 3 && stat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    KVT_setCharsetPath(dir.c_str());
}
#endif

// ---------------------------------------------------------------------------
// Fresh memory
//
// On a virtual machine the first touch of a heap page costs about 10 us (a
// page fault that leaves the guest), while one madvise call makes a run of
// pages present for about 1.5 us each. The loading pass and the code tables
// of a Japanese encoding touch 50 to 100 fresh pages, and a large file's
// buffers some hundreds: these are made present in runs instead. Elsewhere
// nothing is done.

#if defined(__GLIBC__) && defined(MADV_POPULATE_WRITE)
// Makes the whole pages inside [p, p + n) present; a kernel without the
// advice (before Linux 5.14) refuses it, and the pages come one fault at a
// time as before.
void makePresent(void* p, size_t n) {
  const auto page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  const uintptr_t first = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
  const uintptr_t last = (reinterpret_cast<uintptr_t>(p) + n) & ~(page - 1);
  if (last > first) madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
}

// About what the loading pass of the shipped charset directory and the
// tables of one Japanese encoding take from the heap, either way (measured:
// 95 KB for the pass; 117-133 KB for the tables that decode Windows-31J,
// EUC-JP or ISO-2022-JP, 266-300 KB for those that encode into them). A
// three-byte conversion took least time with this much made present, in
// both directions (192 KB and 320 KB: more time to encode).
constexpr size_t kLibraryHeap = 448 * 1024;
// Blocks from this size up get a mapping of their own.
constexpr size_t kMapFrom = 1024 * 1024;
static_assert(kLibraryHeap < kMapFrom, "the block must come from the heap");

// Makes the heap's next kLibraryHeap bytes present before the library
// allocates them: a block is taken, made present and freed, and the C
// library hands the same pages out again in order. Blocks this size and the
// chunk buffers are kept on the heap, not mapped one by one, and freed
// pages are not given back while the process lives.
void warmHeap() {
  mallopt(M_MMAP_THRESHOLD, kMapFrom);
  mallopt(M_TRIM_THRESHOLD, 4 * 1024 * 1024);
  if (void* block = std::malloc(kLibraryHeap)) {
    makePresent(block, kLibraryHeap);
    std::free(block);
  }
}
#else
void makePresent(void*, size_t) {}
void warmHeap() {}
#endif

bool loadRules() {
  warmHeap();
  if (cconvLoadRule() == 1) return true;
  complain("no encodings could be loaded from the charset directory %s", KVT_getCharsetPath());
  return false;
}

// The <name> of a rule file, which is UTF-16 (either order) or 8-bit text.
std::string ruleFileName(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return std::string();
  std::vector<unsigned char> data;
  unsigned char chunk[4096];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0 && data.size() < (1u << 20))
    data.insert(data.end(), chunk, chunk + n);
  std::fclose(f);
  std::string text;
  bool wide = data.size() >= 2 && (data[0] == 0 || data[1] == 0 ||
                                   (data[0] == 0xFF && data[1] == 0xFE) ||
                                   (data[0] == 0xFE && data[1] == 0xFF));
  if (wide) {
    bool big = (data[0] == 0xFE && data[1] == 0xFF) || (data[0] == 0 && data[1] != 0);
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
      unsigned u = big ? (data[i] << 8 | data[i + 1]) : (data[i + 1] << 8 | data[i]);
      text.push_back(u < 0x80 ? static_cast<char>(u) : '?');
    }
  } else {
    text.assign(data.begin(), data.end());
  }
  size_t open = text.find("<name");
  if (open == std::string::npos) return std::string();
  size_t gt = text.find('>', open);
  if (gt == std::string::npos) return std::string();
  size_t end = text.find('<', gt + 1);
  if (end == std::string::npos) return std::string();
  std::string name = text.substr(gt + 1, end - gt - 1);
  size_t a = name.find_first_not_of(" \t\r\n");
  size_t b = name.find_last_not_of(" \t\r\n");
  return a == std::string::npos ? std::string() : name.substr(a, b - a + 1);
}

int listEncodings() {
  if (!loadRules()) return kExitUsage;
  std::string dir = KVT_getCharsetPath();
  if (!dir.empty() && dir.back() != '/') dir.push_back('/');
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (!d) {
    complain("charset directory %s: %s", dir.c_str(), std::strerror(errno));
    return kExitUsage;
  }
  std::vector<std::string> names;
  while (dirent* e = readdir(d)) {
    std::string f = e->d_name;
    if (f.size() < 5 || f.compare(f.size() - 4, 4, ".xml") != 0) continue;
    std::string name = ruleFileName(dir + f);
    if (name.empty()) continue;
    // Only the encodings the library accepted are offered.
    CconvRecord rec;
    std::memset(&rec, 0, sizeof rec);
    if (cconvInitConvert(&rec, nullptr, name.c_str()) != CCONV_OK) continue;
    names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  for (const std::string& n : names) std::printf("%s\n", n.c_str());
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    complain("<stdout>: write error: %s", std::strerror(errno));
    return kExitUsage;
  }
  return kExitOk;
}

// ---------------------------------------------------------------------------

int guessFiles(const Options& o) {
  std::vector<unsigned char> buf(kConfirmBytes);
  int status = kExitOk;
  for (const char* f : o.files) {
    Input in;
    if (!openInput(f, &in)) {
      status = kExitUsage;
      continue;
    }
    ssize_t n = readFull(in.fd, buf.data(), buf.size());
    if (n < 0) {
      complain("%s: read error: %s", in.label, std::strerror(errno));
      closeInput(&in);
      status = kExitUsage;
      continue;
    }
    closeInput(&in);
    CconvChkRecord chk;
    ZkhConfirmation conf;
    const size_t len = static_cast<size_t>(n);
    bool found = detect(buf.data(), len, len < buf.size(), &chk, &conf);
    const std::string corrected =
        conf.corrected ? std::string(" corrected-from=") + chk.encodingName : std::string();
    std::printf("%s: encoding=%s%s bom=%s byteorder=%s eol=%s%s\n", in.label,
                conf.encodingName, corrected.c_str(), chk.hasBom ? "yes" : "no",
                conf.bigEndian ? "big-endian" : "little-endian", newlineName(chk.newlineKind),
                chk.xmlDeclared ? " xml=yes" : "");
    if (!found && status == kExitOk) status = kExitData;
  }
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    complain("<stdout>: write error: %s", std::strerror(errno));
    return kExitUsage;
  }
  return status;
}

int convertFiles(Options& o) {
  const Encoding target = resolveEncoding(o.to);
  if (o.bom && !target.unicode())
    return usageError("--bom needs a Unicode target (UTF-8, UTF-16, UCS-2, UCS-4)");
  if (o.ncr && target.name != "ISO-10646-UCS-2")
    return usageError("--ncr needs the UCS-2 target");

  CconvDstOptions dst;
  std::memset(&dst, 0, sizeof dst);
  dst.outBigEndian = target.order == Order::Little ? 0 : 1;
  dst.outWriteBom = o.bom ? 1 : 0;
  dst.substitute = o.replace ? 1 : 0;
  dst.replacement = o.replacement;
  // Copied by hand, as the library joins its paths: on a run without
  // messages the C library's formatted-output code is then never paged in.
  const size_t langLen = std::min(o.lang.size(), sizeof dst.lang - 1);
  std::memcpy(dst.lang, o.lang.data(), langLen);
  dst.lang[langLen] = '\0';
  dst.newlineConvert = o.eol ? 1 : 0;
  dst.newlineKind = static_cast<uint32_t>(o.eol);
  dst.ncrMode = static_cast<uint32_t>(o.ncr);

  Encoding source;
  if (o.from) {
    source = resolveEncoding(o.from);
    if (source.name.size() >= CCONV_TEXT_SIZE) {
      complain("unknown encoding '%s'", o.from);
      return kExitUsage;
    }
  }
  if (target.name.size() >= CCONV_TEXT_SIZE) {
    complain("unknown encoding '%s'", o.to);
    return kExitUsage;
  }

  if (!loadRules()) return kExitUsage;

  Converter cv;
  cv.opts = &o;
  std::memset(&cv.rec, 0, sizeof cv.rec);
  if (cconvInitConvert(&cv.rec, &dst, target.name.c_str()) != CCONV_OK) {
    complain("unknown encoding '%s'", o.to);
    return kExitUsage;
  }
  if (o.from) {
    CconvSrcOptions src = sourceOptions(source, o.skip);
    if (cconvChgCharset(&cv.rec, &src, source.name.c_str()) != CCONV_OK) {
      complain("unknown encoding '%s'", o.from);
      return kExitUsage;
    }
  }

  // Every input must open before anything is written.
  std::vector<Input> inputs;
  for (const char* f : o.files) {
    Input in;
    if (!openInput(f, &in)) {
      for (Input& i : inputs) closeInput(&i);
      return kExitUsage;
    }
    inputs.push_back(in);
  }

  Output out;
  if (o.output && !openOutput(o.output, &out)) {
    for (Input& i : inputs) closeInput(&i);
    return kExitUsage;
  }
  cv.out = &out;
  // Detection confirms its answer against the first megabyte, read whole.
  const long long chunk = static_cast<long long>(kChunk);
  long long biggest = 0;  // a chunk for an input of unknown size
  for (const Input& in : inputs) biggest = std::max(biggest, in.size < 0 ? chunk : in.size);
  const size_t bufSize =
      biggest < chunk / 4 ? std::max(kSmallBuffer, 4 * static_cast<size_t>(biggest + 1)) : kChunk;
  cv.inBuf.resize(bufSize < kChunk ? bufSize : o.from ? kChunk : std::max(kChunk, kConfirmBytes));
  cv.outBuf.resize(bufSize);
  cv.scratch.resize(bufSize);
  // An input of a chunk or more (or of unknown size) fills both buffers.
  if (biggest >= chunk)
    for (Buffer* b : {&cv.inBuf, &cv.outBuf}) makePresent(b->data(), b->size());

  int status = kExitOk;
  for (Input& in : inputs) {
    ssize_t n = readFull(in.fd, cv.inBuf.data(), cv.inBuf.size());
    if (n < 0) {
      complain("%s: read error: %s", in.label, std::strerror(errno));
      status = kExitUsage;
      break;
    }
    size_t have = static_cast<size_t>(n);
    bool eof = have < cv.inBuf.size();
    // Each input gets its own source, so a second file starts in the initial
    // shift state and may be in another encoding; the output goes on.
    Encoding src = source;
    if (!o.from) {
      if (have == 0) {
        closeInput(&in);
        continue;
      }
      CconvChkRecord chk;
      ZkhConfirmation conf;
      if (!detect(cv.inBuf.data(), have, eof, &chk, &conf)) {
        complain("%s: cannot detect the encoding; name it with -f", in.label);
        status = kExitData;
        break;
      }
      src = detectedEncoding(conf);
      cv.hint = " (input detected as " + src.name + "; name its encoding with -f)";
    }
    CconvSrcOptions srcOpts = sourceOptions(src, o.skip);
    if (cconvChgCharset(&cv.rec, &srcOpts, src.name.c_str()) != CCONV_OK) {
      complain("%s: unknown encoding '%s'", in.label, src.name.c_str());
      status = o.from ? kExitUsage : kExitData;
      break;
    }
    uint32_t form = 0;
    cv.validating = !o.lenient && unicodeForm(src.name, &form);
    if (cv.validating) zkhValidatorInit(&cv.val, form, srcOpts.inBigEndian, srcOpts.inDetectBom);
    cv.scanPos = 0;
    cv.scanEnded = false;
    cv.iso2022 = aliasKey(src.name.c_str()).starts_with("ISO2022JP");
    if (!convertInput(&cv, in, have, eof)) {
      status = out.failed ? kExitUsage : kExitData;
      break;
    }
    closeInput(&in);
  }
  for (Input& i : inputs) closeInput(&i);
  if (status == kExitOk && !terminate(&cv)) status = out.failed ? kExitUsage : kExitData;
  if (!finishOutput(&out, status == kExitOk) && status == kExitOk) status = kExitUsage;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  int rc = parseArgs(argc, argv, &o);
  if (rc >= 0) return rc;
  if (o.charsetDir && !setCharsetDir(o.charsetDir)) return kExitUsage;
#ifdef ZK_KVTCONV_INSTALLED_DATA
  if (!o.charsetDir) useInstalledCharsetDir();
#endif
  if (o.list) return listEncodings();
  if (o.guess) return guessFiles(o);
  return convertFiles(o);
}
