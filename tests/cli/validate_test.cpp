// The host component (cli/zkhost.h) and what kvtconv does with it: Unicode
// validation against Python's codecs, the fast kernels against their plain
// references, ill-formed input, escape sequences, suffixes, permissions and
// detection confirmation through kvtconv.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/testdir.h"
#include "zkhost.h"
#include "zkhost_kernels.h"

#ifndef ZK_KVTCONV
#define ZK_KVTCONV ZK_BINARY_DIR "/kvtconv"
#endif

namespace {

using zktest::TestDir;
using Args = std::vector<std::string>;
using U8 = const unsigned char*;

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
void spit(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}
std::string hex(const std::string& s) {
  std::string h;
  for (unsigned char c : s) h += "0123456789abcdef"[c >> 4], h += "0123456789abcdef"[c & 15];
  return h;
}

struct Ran { int code; std::string out, err; };
// kvtconv (or any command with `cmd` set) with `input` on standard input.
Ran run(const Args& args, const std::string& input, const char* cmd = ZK_KVTCONV) {
  TestDir io;
  spit(io.file("in"), input);
  std::string line = cmd;
  for (const std::string& a : args) line += " '" + a + "'";
  int st = std::system((line + " <" + io.file("in") + " >" + io.file("out") + " 2>" +
                        io.file("err")).c_str());
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, slurp(io.file("out")), slurp(io.file("err"))};
}

bool havePython() { return std::system("python3 -c pass >/dev/null 2>&1") == 0; }

// Feeds `data` to a validator in chunks of `chunk` bytes; gives the ill-formed
// spans ("start-end ...") and the input with each replaced by U+FFFD.
std::string validate(const std::string& data, uint32_t form, uint32_t big, size_t chunk) {
  ZkhValidator v;
  zkhValidatorInit(&v, form, big, 0);
  std::string spans, fixed;
  size_t good = 0;  // input copied up to here
  auto take = [&](const ZkhIssue& is) {
    unsigned char fffd[4];
    fixed.append(data, good, is.offset - good).append((char*)fffd, zkhReplacement(&v, fffd));
    spans += std::to_string(is.offset) + "-" + std::to_string(good = is.offset + is.length) + " ";
  };
  ZkhIssue is;
  for (size_t pos = 0; pos < data.size(); pos += chunk) {
    const std::string piece = data.substr(pos, chunk);
    for (size_t at = 0, used = 0; at < piece.size(); at += used) {
      if (zkhValidate(&v, U8(piece.data()) + at, piece.size() - at, &used, &is) != 1) break;
      take(is);
    }
  }
  if (zkhValidateEnd(&v, &is) == 1) take(is);
  return spans + "|" + hex(fixed + data.substr(good));
}

// Every ill-formed sequence of each kind, at each position of a chunk
// boundary (and at the end of input), gives the same spans and the same
// replacement as Python's decoders.
TEST(HostValidator, AgreesWithPythonAtEveryChunkBoundary) {
  if (!havePython()) GTEST_SKIP() << "needs python3";
  // "a" as a unit of the codec, well-formed text to follow a defect, defects.
  const struct { const char* codec; uint32_t form, big; std::string unit, tail;
                 std::vector<std::string> defects; } codecs[] = {
      {"utf-8", ZKH_UTF8, 0, "a", "\xC3\xA9\xE3\x81\x82\xF0\x9F\x98\x80z",
       {"\x80", "\xC0\xAF", "\xC1", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
        "\xF4\x90\x80\x80", "\xF5\x80", "\xFE", "\xFF", "\xC3", "\xE3\x81", "\xF0\x9F\x98"}},
      {"utf-16-le", ZKH_UTF16, 0, std::string("a\0", 2), std::string("\xE9\0\x3D\xD8\0\xDE", 6),
       {std::string("\0\xD8", 2), std::string("\0\xDC", 2), std::string("\0\xDC\0\xD8", 4),
        std::string("\0\xD8\0\xD8", 4), "\x41"}},
      {"utf-16-be", ZKH_UTF16, 1, std::string("\0a", 2), std::string("\xD8\x3D\xDE\0\0z", 6),
       {std::string("\xD8\0", 2), std::string("\xDF\xFF", 2), std::string("\xD8\0\x41", 3)}},
      {"utf-32-be", ZKH_UCS4, 1, std::string("\0\0\0a", 4), std::string("\0\1\xF6\0", 4),
       {std::string("\0\x11\0\0", 4), std::string("\0\0\xD8\0", 4), "\xFF\xFF\xFF\xFF",
        std::string("\0\0\x30", 3)}},
  };
  TestDir dir;
  std::string cases, ours;
  for (const auto& c : codecs) {
    for (const std::string& d : c.defects) {
      std::string prefix;
      for (int k = 0; k < 10; ++k, prefix += c.unit) {
        for (const std::string& data : {prefix + d + c.tail, prefix + d}) {
          cases += std::string(c.codec) + " " + hex(data) + "\n";
          const std::string one = validate(data, c.form, c.big, 1);
          ours += one + "\n";
          for (size_t chunk : {2, 3, 4, 5, 7, 16})
            EXPECT_EQ(validate(data, c.form, c.big, chunk), one) << hex(data) << " " << chunk;
        }
      }
    }
  }
  spit(dir.file("cases"), cases);
  spit(dir.file("peer.py"),
       "import codecs, sys\nspans = []\n"
       "codecs.register_error('spans', lambda e: (spans.append('%d-%d' % (e.start, e.end)), "
       "('\\ufffd', e.end))[1])\n"
       "for line in open(sys.argv[1]):\n  c, x = line.split()\n  spans.clear()\n"
       "  bytes.fromhex(x).decode(c, 'spans')\n"
       "  print(''.join(s + ' ' for s in spans) + '|' +\n"
       "        bytes.fromhex(x).decode(c, 'replace').encode(c).hex())\n");
  Ran peer = run({dir.file("peer.py"), dir.file("cases")}, "", "python3");
  ASSERT_EQ(peer.code, 0) << peer.err;
  EXPECT_EQ(ours, peer.out);  // line by line as in `cases`
}

// The kernels give their references' answers on random input of every length
// around the vector widths (16, 32), at every alignment.
TEST(HostKernels, MatchTheReferences) {
  std::mt19937 rng(16);
  const std::vector<std::string> pieces = {
      "a", "\x7F", "\xC3\xA9", "\xE3\x81\x82", "\xE0\xA0\x80", "\xED\x9F\xBF", "\xEF\xBF\xBD",
      "\xF0\x9F\x98\x80", "\xF4\x8F\xBF\xBF", "\xD8\x3D\xDE\x00", "\x00\x10\xFF\xFF"};
  const std::vector<std::string> misses = {  // one byte off a well-formed form
      "\xED\xA0\x80", "\xE0\x9F\xBF", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xC1\xBF",
      "\xF5\x80\x80\x80", "\x80", "\xE3\x81", "\xC3\xC3", "\xDC\x00", "\x00\x11\x00\x00"};
  alignas(64) unsigned char buf[128];
  for (size_t len = 0; len <= 80; ++len) {
    for (size_t align = 0; align < 32; ++align) {
      for (int round = 0; round < 24; ++round) {
        std::string s;
        while (s.size() < len)  // mostly well-formed, now and then a miss or a stray byte
          s += rng() % 24 ? pieces[rng() % pieces.size()]
               : rng() % 2 ? misses[rng() % misses.size()] : std::string(1, char(rng()));
        std::copy(s.begin(), s.begin() + len, buf + align);
        const U8 p = buf + align;
        int m1 = -1, m2 = -1, m3 = -1;
        const size_t ref = zkh::utf8PrefixRef(p, len, &m1);
        EXPECT_EQ(zkh::utf8PrefixSse2(p, len, &m2), ref) << hex(s.substr(0, len));
        EXPECT_EQ(m2, m1);
        if (zkh::haveAvx2()) {
          EXPECT_EQ(zkh::utf8PrefixAvx2(p, len, &m3), ref) << hex(s.substr(0, len));
          EXPECT_EQ(m3, m1);
        }
        for (bool big : {false, true}) {
          for (bool pairs : {false, true})
            EXPECT_EQ(zkh::utf16Prefix(p, len, big, pairs), zkh::utf16PrefixRef(p, len, big, pairs));
          EXPECT_EQ(zkh::ucs4Prefix(p, len, big), zkh::ucs4PrefixRef(p, len, big));
        }
      }
    }
  }
}

class KvtconvHost : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!havePython()) GTEST_SKIP() << "needs python3";
  }
  TestDir dir;
};

// Ill-formed Unicode, unknown escape sequences and iconv's suffixes, each
// row with its exit status, output and message; rows with `lenient` also give
// the library's own reading under --lenient-unicode.
TEST_F(KvtconvHost, IllFormedInputEscapesAndSuffixes) {
  const struct { Args args; std::string input; int code; std::string out, err;
                 std::optional<std::string> lenient; } rows[] = {
      {{"-f", "UTF-8", "-t", "UTF-8"}, "caf\xE9 au lait\n", 1, "caf",
       "<stdin>: ill-formed UTF-8 at byte offset 3: E9 (incomplete sequence)",
       "caf\xE9\xA0\xA1u lait\n"},
      {{"-f", "UTF-8", "-t", "EUC-JP"}, "ab\xE3\x81\n", 1, "ab",
       "ill-formed UTF-8 at byte offset 2: E3 81 (incomplete sequence)", "ab\xA4\xAA"},
      {{"-f", "UTF-8", "-t", "UTF-16LE"}, "x\xC3\x28y", 1, std::string("x\0", 2),
       "ill-formed UTF-8 at byte offset 1: C3 ", std::string("x\0\xE8\0y\0", 6)},
      {{"-f", "UTF-8", "-t", "UTF-8"}, "A\xFE\xFF" "B", 1, "A",
       "ill-formed UTF-8 at byte offset 1: FE (invalid byte)", "AB"},
      {{"-f", "UTF-16", "-t", "UTF-8"}, std::string("\xFE\xFF\xD8\0\0A", 6), 1, "",
       "ill-formed UTF-16 at byte offset 2: D8 00 (lone surrogate)", "\xED\xA0\x80" "A"},
      {{"-f", "UCS-4BE", "-t", "UTF-8"}, std::string("\0\x11\0\0", 4), 1, "",
       "ill-formed UCS-4 at byte offset 0: 00 11 00 00 (not a Unicode scalar value)",
       "\xF4\x90\x80\x80"},
      {{"-f", "UTF-8", "-t", "UTF-8"}, "ab\xE3\x81", 1, "ab",
       "incomplete character at end of input, byte offset 2: E3 81", std::nullopt},
      {{"-f", "UTF-8", "-t", "UTF-8", "--replace"}, "ab\xE3\x81", 0, "ab\uFFFD", "", {}},
      {{"-f", "ISO-2022-JP"}, "a\x1B$Xbcd", 1, "a",
       "<stdin>: unknown escape sequence at byte offset 1: 1B 24 58", {}},
      {{"-f", "ISO-2022-JP", "-c"}, "a\x1B$Xbcd", 0, "a$Xbcd", "", {}},
      {{"-f", "ISO-2022-JP"}, "a\x1B$", 1, "a", "incomplete character at end of input", {}},
      {{"-f", "UTF-8", "-t", "SJIS//IGNORE"}, "a\u2603b\xFF", 0, "ab", "", {}},
      {{"-f", "UTF-8", "-t", "sjis//Translit"}, "a\u2603b\xFF", 0, "a\x81\xAC" "b\x81\xAC", "", {}},
      {{"-f", "UTF-8", "-t", "UTF-8//TRANSLIT//IGNORE"}, "a\xFF" "b", 0, "a\uFFFD" "b", "", {}},
      {{"-f", "UTF-8", "-t", "SJIS//BOGUS"}, "a", 2, "", "unknown encoding 'SJIS//BOGUS'", {}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::PrintToString(r.args) + " " + hex(r.input));
    Ran got = run(r.args, r.input);
    EXPECT_EQ(got.code, r.code) << got.err;
    EXPECT_EQ(got.out, r.out);
    EXPECT_NE(got.err.find(r.err), std::string::npos) << got.err;
    if (!r.lenient) continue;
    Args lenient = r.args;
    lenient.push_back("--lenient-unicode");
    got = run(lenient, r.input);
    EXPECT_EQ(got.code, 0) << got.err;
    EXPECT_EQ(got.out, *r.lenient);
  }
}

// A long input full of ill-formed sequences, read in many chunks: --replace
// and -c give Python's errors="replace" and "ignore", and by default the
// output stops where Python's first error lies.
TEST_F(KvtconvHost, LongIllFormedInputMatchesPython) {
  std::mt19937 rng(12);
  const char* glyphs[] = {"a", "\n", "\u00E9", "\u3042", "\u6F22", "\U0001F600"};
  for (const std::string codec : {"utf-8", "utf-16-le", "utf-32-be"}) {
    const std::string name = codec == "utf-8" ? "UTF-8" : codec == "utf-16-le" ? "UTF-16LE" : "UCS-4BE";
    std::string text;
    while (text.size() < 200000) text += glyphs[rng() % 6];
    spit(dir.file("text"), text);
    run({"-f", "UTF-8", "-t", name, "-o", dir.file("good"), dir.file("text")}, "");
    std::string good = slurp(dir.file("good")), bad;
    for (size_t i = 0; i < good.size(); ++i)  // a stray byte now and then
      bad += rng() % 1500 ? good[i] : char(rng() % 2 ? 0xFF : rng());
    spit(dir.file("bad"), bad);
    Ran peer = run({"-c",
                    "import sys; d = open(sys.argv[1], \"rb\").read(); c = sys.argv[2]\n"
                    "open(sys.argv[1] + \".r\", \"wb\").write(d.decode(c, \"replace\").encode())\n"
                    "open(sys.argv[1] + \".i\", \"wb\").write(d.decode(c, \"ignore\").encode())\n"
                    "try: d.decode(c)\nexcept UnicodeDecodeError as e:\n"
                    "  open(sys.argv[1] + \".s\", \"wb\").write(d[:e.start].decode(c).encode())\n"
                    "  print(e.start)",
                    dir.file("bad"), codec}, "", "python3");
    ASSERT_EQ(peer.code, 0) << peer.err;
    EXPECT_TRUE(run({"--replace", "-f", name, "-t", "UTF-8", dir.file("bad")}, "").out ==
                slurp(dir.file("bad.r"))) << codec;
    EXPECT_TRUE(run({"-c", "-f", name, "-t", "UTF-8", dir.file("bad")}, "").out ==
                slurp(dir.file("bad.i"))) << codec;
    Ran strict = run({"-f", name, "-t", "UTF-8", dir.file("bad")}, "");
    EXPECT_EQ(strict.code, 1);
    EXPECT_NE(strict.err.find("byte offset " + peer.out.substr(0, peer.out.size() - 1) + ":"),
              std::string::npos) << strict.err << " vs " << peer.out;
    EXPECT_TRUE(strict.out == slurp(dir.file("bad.s"))) << codec;
  }
}

// A file that -o replaces keeps its mode, and as root its owner and group.
TEST_F(KvtconvHost, ReplacedFileKeepsModeAndOwner) {
  const std::string f = dir.file("secret.txt");
  spit(f, "abc");
  ASSERT_EQ(chmod(f.c_str(), 0640), 0);
  const bool root = geteuid() == 0;
  ASSERT_TRUE(!root || chown(f.c_str(), 4321, 4322) == 0);
  EXPECT_EQ(run({"-f", "UTF-8", "-t", "SJIS", "-o", f, f}, "").code, 0);
  struct stat st;
  ASSERT_EQ(stat(f.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  EXPECT_TRUE(!root || (st.st_uid == 4321 && st.st_gid == 4322)) << st.st_uid << ":" << st.st_gid;
}

// Answers the first bytes cannot settle, confirmed against the input: EUC-JP
// that the detector names WINDOWS31J (which it does not decode as), and UTF-8
// whose XML declaration says Shift_JIS.
TEST_F(KvtconvHost, DetectionIsConfirmedAgainstTheInput) {
  const std::string xml = "<?xml version=\"1.0\" encoding=\"Shift_JIS\"?>\n<a>\u65E5\u672C</a>\n";
  const struct { std::string bytes, guess, text; } rows[] = {
      {"\xA4\xCF\xA1\xA2\xB0\xFA\xA4\xAD\xBF\xF4\n\xA4\xCE ",
       "encoding=EUC-JP corrected-from=WINDOWS31J bom=no", "\u306F\u3001\u5F15\u304D\u6570\n\u306E "},
      {xml, "encoding=UTF-8 corrected-from=Shift_JIS bom=no", xml},
  };
  for (const auto& r : rows) {
    spit(dir.file("in"), r.bytes);
    Ran guess = run({"--guess", dir.file("in")}, "");
    EXPECT_NE(guess.out.find(": " + r.guess), std::string::npos) << guess.out;
    EXPECT_EQ(run({"-t", "UTF-8", dir.file("in")}, "").out, r.text);
  }
}

}  // namespace
