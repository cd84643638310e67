// Compares two builds of the library call by call, in one process: each is
// loaded into a namespace of its own (dlmopen) with its own charset
// directory, and both are driven through the same calls with the same
// input pieces, output buffers and options. After every call the status,
// every field of the record and the whole output buffer (pre-filled, so
// bytes written beyond outPos count too) must be identical.
//
// usage: zk_diffcheck BASE_LIB BASE_DIR NEW_LIB NEW_DIR LIST [QUICK]
//   LIST: lines "SOURCE FILE" (encoding name as the library knows it).
//   Every source is converted to every target of the built-in list with
//   every option set and buffer shape below.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "zrkvt16.h"

namespace {

struct Lib {
  void* handle;
  uint32_t (*init)(CconvRecord*, const CconvDstOptions*, const char*);
  uint32_t (*chg)(CconvRecord*, const CconvSrcOptions*, const char*);
  uint32_t (*conv)(CconvRecord*);
  uint32_t (*term)(CconvRecord*);
};

bool load(Lib* lib, const char* path, const char* dir) {
  lib->handle = dlmopen(LM_ID_NEWLM, path, RTLD_NOW | RTLD_LOCAL);
  if (!lib->handle) {
    std::fprintf(stderr, "%s\n", dlerror());
    return false;
  }
  auto set = reinterpret_cast<int (*)(const char*)>(dlsym(lib->handle, "KVT_setCharsetPath"));
  lib->init = reinterpret_cast<decltype(lib->init)>(dlsym(lib->handle, "cconvInitConvert"));
  lib->chg = reinterpret_cast<decltype(lib->chg)>(dlsym(lib->handle, "cconvChgCharset"));
  lib->conv = reinterpret_cast<decltype(lib->conv)>(dlsym(lib->handle, "cconvConvert"));
  lib->term = reinterpret_cast<decltype(lib->term)>(dlsym(lib->handle, "cconvTermConvert"));
  return set && lib->init && lib->chg && lib->conv && lib->term && set(dir) == 1;
}

// Every field but the four pointers into the library (which differ).
std::string fields(const CconvRecord& r) {
  char b[1024];
  std::snprintf(b, sizeof b,
                "st=%u ip=%d il=%d ic=%d op=%d os=%d oc=%d src=%u ics=%u ict=%u idz=%u ipl=%u dst=%u "
                "ocs=%u oct=%u odz=%u opl=%u raw=%x code=%x ucs=%x outc=%x ou=%u osl=%u prev=%x "
                "u2=%x so=%u/%u/%u do=%u/%u/%u/%x/%u/%u/%u sub=%u/%u/%x/%u,%u/%u/%x/%u",
                r.status, r.inPos, r.inLen, r.inChars, r.outPos, r.outSize, r.outChars, r.srcId,
                r.inCharset, r.inCharsetType, r.inDesignation, r.inPlane, r.dstId, r.outCharset,
                r.outCharsetType, r.outDesignation, r.outPlane, r.rawCode, r.code, r.ucs, r.outCode,
                r.outUnit, r.outSeqLen, r.prevRawCode, r.ucs2, r.srcOptions.inBigEndian,
                r.srcOptions.inDetectBom, r.srcOptions.skipInvalid, r.dstOptions.outBigEndian,
                r.dstOptions.outWriteBom, r.dstOptions.substitute, r.dstOptions.replacement,
                r.dstOptions.newlineConvert, r.dstOptions.newlineKind, r.dstOptions.ncrMode,
                r.subNarrow.charset, r.subNarrow.type, r.subNarrow.code, r.subNarrow.unit,
                r.subWide.charset, r.subWide.type, r.subWide.code, r.subWide.unit);
  return std::string(b) + " lang=" + r.lang + " lw=" + r.langWritten + " lc=" + r.langCurrent;
}

struct Options {
  CconvSrcOptions src{};
  CconvDstOptions dst{};
};

// Flags: b big-endian in and out, s substitute, k skip invalid, n/N/c/u/U
// line ends to LF/CR LF/CR/U+2028/U+2029, l language "ja", B marks, x NCR.
Options options(const std::string& f) {
  Options o;
  auto has = [&](char c) { return f.find(c) != std::string::npos; };
  if (has('b')) o.src.inBigEndian = o.dst.outBigEndian = 1;
  if (has('s')) o.dst.substitute = 1;
  if (has('k')) o.src.skipInvalid = 1;
  const char kinds[] = {'n', 3, 'N', 1, 'c', 2, 'u', 4, 'U', 5};
  for (int i = 0; i < 10; i += 2)
    if (has(kinds[i])) {
      o.dst.newlineConvert = 1;
      o.dst.newlineKind = static_cast<uint32_t>(kinds[i + 1]);
    }
  if (has('l')) std::strcpy(o.dst.lang, "ja");
  if (has('B')) o.src.inDetectBom = o.dst.outWriteBom = 1;
  if (has('x')) o.dst.ncrMode = 1;
  return o;
}

// How input and output are cut: fixed sizes, or (size 0) random sizes
// drawn per call from a generator seeded the same for both builds.
struct Shape {
  int out;    // output buffer size; 0: random 1..24 per call
  int chunk;  // input growth per call; 0: all at once, -1: random 1..40
};

struct Counters {
  long runs = 0, calls = 0, diffs = 0;
};

class Run {
 public:
  Run(const Lib& lib, const std::vector<unsigned char>& in, const Options& o, Shape shape,
      unsigned seed)
      : lib_(lib), in_(in), opts_(o), shape_(shape), rng_(seed) {
    std::memset(&rec_, 0, sizeof rec_);
  }

  bool start(const char* from, const char* to) {
    if (lib_.init(&rec_, &opts_.dst, to) != CCONV_OK) return false;
    if (lib_.chg(&rec_, &opts_.src, from) != CCONV_OK) return false;
    rec_.inBuf = in_.data();
    rec_.inPos = 0;
    rec_.inLen = nextLen(0);
    return true;
  }

  // One call; false when the conversion is over.
  bool step(std::string* log) {
    const int size = outSize();
    out_.assign(static_cast<size_t>(size) + 8, 0xA5);
    rec_.outBuf = out_.data();
    rec_.outPos = 0;
    rec_.outSize = size;
    const int before = rec_.inPos;
    uint32_t st;
    if (!terminating_) {
      st = lib_.conv(&rec_);
    } else {
      st = lib_.term(&rec_);
    }
    *log = std::to_string(st) + " " + fields(rec_);
    if (terminating_) {
      if (st != CCONV_OUTPUT_FULL || ++termCalls_ > 64) return false;
      return true;
    }
    const int total = static_cast<int>(in_.size());
    if (st == CCONV_OUTPUT_FULL) {
      // A character that fits no buffer of this size gets a larger one.
      if (rec_.outPos == 0) grow_ += 8;
      return ++fullCalls_ < 2000000;
    }
    if (st == CCONV_OK || st == CCONV_NEED_INPUT) {
      if (rec_.inLen >= total) {
        if (st == CCONV_NEED_INPUT && rec_.srcOptions.inDetectBom) {
          rec_.srcOptions.inDetectBom = 0;  // as kvtconv does at the end
          return true;
        }
        terminating_ = true;
        return true;
      }
      rec_.inLen = nextLen(rec_.inLen);
      return true;
    }
    if (st == CCONV_INVALID && rec_.inPos == before) rec_.inPos++;
    if (st == CCONV_ERROR) return false;
    return true;
  }

  const std::vector<unsigned char>& out() const { return out_; }

 private:
  int nextLen(int cur) {
    const int total = static_cast<int>(in_.size());
    int add = shape_.chunk == 0 ? total : shape_.chunk > 0 ? shape_.chunk
                                                          : static_cast<int>(rng_() % 40) + 1;
    return cur + add < total ? cur + add : total;
  }
  int outSize() {
    int base = shape_.out > 0 ? shape_.out : static_cast<int>(rng_() % 24) + 1;
    return base + grow_;
  }

  const Lib& lib_;
  const std::vector<unsigned char>& in_;
  Options opts_;
  Shape shape_;
  std::mt19937 rng_;
  CconvRecord rec_;
  std::vector<unsigned char> out_;
  bool terminating_ = false;
  int termCalls_ = 0;
  long fullCalls_ = 0;
  int grow_ = 0;
};

void compare(const Lib& a, const Lib& b, const char* from, const char* to,
             const std::vector<unsigned char>& in, const std::string& flags, Shape shape,
             const std::string& label, Counters* c) {
  const Options o = options(flags);
  const unsigned seed = static_cast<unsigned>(c->runs) * 7919u + 17u;
  Run ra(a, in, o, shape, seed), rb(b, in, o, shape, seed);
  ++c->runs;
  const bool sa = ra.start(from, to), sb = rb.start(from, to);
  if (sa != sb) {
    std::printf("DIFF start %s\n", label.c_str());
    ++c->diffs;
    return;
  }
  if (!sa) return;
  for (long call = 0;; ++call) {
    std::string la, lb;
    const bool more = ra.step(&la);
    const bool moreB = rb.step(&lb);
    ++c->calls;
    if (la != lb || ra.out() != rb.out() || more != moreB) {
      std::printf("DIFF %s call=%ld\n  base: %s\n  new:  %s%s\n", label.c_str(), call, la.c_str(),
                  lb.c_str(), ra.out() != rb.out() ? "\n  (output buffers differ)" : "");
      ++c->diffs;
      return;
    }
    if (!more) return;
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 6) {
    std::fprintf(stderr, "usage: zk_diffcheck BASE_LIB BASE_DIR NEW_LIB NEW_DIR LIST [QUICK]\n");
    return 2;
  }
  Lib a, b;
  if (!load(&a, argv[1], argv[2]) || !load(&b, argv[3], argv[4])) return 2;
  const bool quick = argc > 6;
  // Lines of the list: NAME FILE [TARGET]; without a target, every target.
  std::vector<std::pair<std::string, std::string>> sources;
  std::string only;
  std::ifstream list(argv[5]);
  for (std::string line; std::getline(list, line);) {
    std::istringstream ls(line);
    std::string name, file;
    if (ls >> name >> file) sources.emplace_back(name, file);
    ls >> only;
  }
  const char* allTargets[] = {"UTF-8",     "UTF-16",       "Shift_JIS",        "WINDOWS31J",
                              "EUC-JP",    "ISO-2022-JP",  "Shift_JIS-2004",   "EUC-JIS-2004",
                              "ISO-2022-JP-2004", "ISO-10646-UCS-2", "ISO-10646-UCS-4", "EUC-JP-FIX",
                              "UTF-8-TAGS"};
  std::vector<const char*> targets;
  for (const char* t : allTargets)
    if (only.empty() || only == t) targets.push_back(t);
  const char* flagSets[] = {"", "s", "k", "sk", "n", "N", "c", "u", "U", "nsk", "Nsk", "l", "B", "x"};
  const Shape shapes[] = {{65536, 0}, {4096, 333}, {7, 5}, {0, -1}, {13, 1}, {8, 3}};
  Counters c;
  for (const auto& [from, file] : sources) {
    std::ifstream f(file, std::ios::binary);
    std::vector<unsigned char> in((std::istreambuf_iterator<char>(f)), {});
    const bool big = from.find(':') != std::string::npos;  // NAME:b = big-endian input
    const std::string name = big ? from.substr(0, from.find(':')) : from;
    for (const char* to : targets) {
      for (const char* fl : flagSets) {
        for (const Shape& shape : shapes) {
          if (quick && (shape.out == 13 || shape.out == 8)) continue;
          std::string flags = std::string(big ? "b" : "") + fl;
          char label[512];
          std::snprintf(label, sizeof label, "from=%s to=%s file=%s flags='%s' out=%d chunk=%d",
                        from.c_str(), to, file.c_str(), flags.c_str(), shape.out, shape.chunk);
          compare(a, b, name.c_str(), to, in, flags, shape, label, &c);
        }
      }
    }
    std::fprintf(stderr, "%s %s: runs=%ld calls=%ld differences=%ld\n", from.c_str(), file.c_str(),
                 c.runs, c.calls, c.diffs);
  }
  std::printf("runs=%ld calls=%ld differences=%ld\n", c.runs, c.calls, c.diffs);
  return c.diffs == 0 ? 0 : 1;
}
