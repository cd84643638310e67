// kvtconv run as a process: conversions checked against Python's codecs,
// detection, error reporting with exit codes, and streaming of large input.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "support/testdir.h"

#ifndef ZK_KVTCONV
#define ZK_KVTCONV ZK_BINARY_DIR "/kvtconv"
#endif

namespace {

using zktest::TestDir;

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

void spit(const std::string& path, const std::string& data) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(data.data(), static_cast<std::streamsize>(data.size()));
  ASSERT_TRUE(f.good()) << path;
}

// Runs kvtconv with `args`, `input` on standard input; standard output goes to
// `stdoutPath` when given (e.g. /dev/full), else it is captured.
Result kvt(const std::vector<std::string>& args, const std::string& input = "",
        const std::string& stdoutPath = "") {
  TestDir io;
  spit(io.file("in"), input);
  const std::string outPath = stdoutPath.empty() ? io.file("out") : stdoutPath;
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(io.file("in").c_str(), O_RDONLY);
    int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = open(io.file("err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (in < 0 || out < 0 || err < 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(ZK_KVTCONV));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(ZK_KVTCONV, argv.data());
    _exit(127);
  }
  Result r;
  int status = 0;
  if (pid > 0 && waitpid(pid, &status, 0) == pid) {
    r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  if (stdoutPath.empty()) r.out = slurp(io.file("out"));
  r.err = slurp(io.file("err"));
  return r;
}

// Python's codecs as the peer: `expr` is evaluated with `data` bound to the
// bytes of `in`; it must give bytes.
bool havePython() { return std::system("python3 -c pass >/dev/null 2>&1") == 0; }

std::string python(const std::string& expr, const std::string& in) {
  TestDir io;
  spit(io.file("in"), in);
  std::string cmd = "python3 -c \"import sys; data=open('" + io.file("in") +
                    "','rb').read(); sys.stdout.buffer.write(" + expr + ")\" > " + io.file("out");
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return slurp(io.file("out"));
}

// The bundled sample as UTF-8 text (Python decodes it).
std::string sampleText() {
  static std::string text;
  if (text.empty())
    text = python("data.decode('shift_jis').encode('utf-8')",
                  slurp(ZK_SOURCE_DIR "/data/samples/sample-sjis.txt"));
  return text;
}

std::string hex(const std::string& s) {
  std::string h;
  char b[4];
  for (unsigned char c : s) {
    std::snprintf(b, sizeof b, "%02X ", c);
    h += b;
  }
  return h;
}

// The library's name, Python's codec, and whether the library's output is
// expected to equal Python's byte for byte (ISO-2022-JP-2004 may choose other
// escape sequences for the same text).
struct Peer {
  const char* name;
  const char* codec;
  bool sameBytes;
};
const Peer kJapanese[] = {
    {"Shift_JIS", "shift_jis", true},       {"WINDOWS31J", "cp932", true},
    {"Shift_JIS-2004", "shift_jis_2004", true}, {"EUC-JP", "euc_jp", true},
    {"EUC-JIS-2004", "euc_jis_2004", true}, {"ISO-2022-JP", "iso2022_jp", true},
    {"ISO-2022-JP-2004", "iso2022_jp_2004", false}, {"UTF-16BE", "utf-16-be", true},
    {"UTF-16LE", "utf-16-le", true},        {"UCS-2BE", "utf-16-be", true},
    {"UCS-4LE", "utf-32-le", true},         {"UTF-32BE", "utf-32-be", true},
};

class KvtconvTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!havePython()) GTEST_SKIP() << "python3 is needed as the reference";
  }
};

// ---------------------------------------------------------------------------

TEST_F(KvtconvTest, AgreesWithPythonBothWaysOnTheSample) {
  const std::string text = sampleText();
  ASSERT_GT(text.size(), 1000u);
  for (const Peer& p : kJapanese) {
    SCOPED_TRACE(p.name);
    const std::string peer = python("data.decode('utf-8').encode('" + std::string(p.codec) + "')", text);
    Result enc = kvt({"-f", "UTF-8", "-t", p.name}, text);
    ASSERT_EQ(enc.code, 0) << enc.err;
    if (p.sameBytes) {
      EXPECT_EQ(hex(enc.out), hex(peer));
    }
    // Decoding the peer's bytes gives the text back, and so does our own output.
    Result dec = kvt({"-f", p.name, "-t", "UTF-8"}, peer);
    ASSERT_EQ(dec.code, 0) << dec.err;
    EXPECT_EQ(dec.out, text);
    Result back = kvt({"-f", p.name, "-t", "UTF-8"}, enc.out);
    ASSERT_EQ(back.code, 0) << back.err;
    EXPECT_EQ(back.out, text);
  }
}

TEST_F(KvtconvTest, RoundTripsThroughEveryJapaneseEncodingFromAFile) {
  // Includes the fixed-width EUC form, which has no peer, and a half-width
  // katakana line for the encodings that carry JIS X 0201.
  TestDir dir;
  const std::string text = sampleText();
  spit(dir.file("text.txt"), text);
  const char* all[] = {"Shift_JIS",   "WINDOWS31J",       "Shift_JIS-2004", "EUC-JP",
                       "EUC-JP-FIX",  "EUC-JIS-2004",     "ISO-2022-JP",    "ISO-2022-JP-2004",
                       "UTF-16",      "ISO-10646-UCS-2",  "ISO-10646-UCS-4", "UTF-8"};
  for (const char* enc : all) {
    SCOPED_TRACE(enc);
    Result to = kvt({"-f", "utf8", "-t", enc, "-o", dir.file("mid"), dir.file("text.txt")});
    ASSERT_EQ(to.code, 0) << to.err;
    Result back = kvt({"-f", enc, "-t", "UTF-8", dir.file("mid")});
    ASSERT_EQ(back.code, 0) << back.err;
    EXPECT_EQ(back.out, text);
  }
  const std::string kana = "ｱｲｳｴｵ ﾃｽﾄ\n";
  for (const char* enc : {"Shift_JIS", "WINDOWS31J", "EUC-JP", "EUC-JIS-2004"}) {
    SCOPED_TRACE(enc);
    Result to = kvt({"-f", "UTF-8", "-t", enc}, kana);
    ASSERT_EQ(to.code, 0) << to.err;
    Result back = kvt({"-f", enc, "-t", "UTF-8"}, to.out);
    EXPECT_EQ(back.out, kana);
  }
}

TEST_F(KvtconvTest, AliasesInAnyCaseNameTheSameEncoding) {
  const std::string text = "漢字とかな\n";
  const std::string sjis = python("data.decode('utf-8').encode('shift_jis')", text);
  for (const char* name : {"SJIS", "sjis", "Shift_JIS", "shift-jis", "CP932", "ms932", "Windows-31J"}) {
    Result r = kvt({"-f", "UTF8", "-t", name}, text);
    ASSERT_EQ(r.code, 0) << name << ": " << r.err;
    EXPECT_EQ(hex(r.out), hex(sjis)) << name;
  }
  const std::string euc = python("data.decode('utf-8').encode('euc_jp')", text);
  for (const char* name : {"EUCJP", "euc-jp", "eucJP", "UJIS"}) {
    Result r = kvt({"-f", name, "-t", "utf-8"}, euc);
    EXPECT_EQ(r.out, text) << name << ": " << r.err;
  }
  const std::string jis = python("data.decode('utf-8').encode('iso2022_jp')", text);
  for (const char* name : {"JIS", "ISO2022JP", "iso-2022-jp"}) {
    Result r = kvt({"-f", name, "-t", "UTF-8"}, jis);
    EXPECT_EQ(r.out, text) << name << ": " << r.err;
  }
}

// ---------------------------------------------------------------------------
// Detection

TEST_F(KvtconvTest, DetectsTheInputEncodingWithoutFrom) {
  TestDir dir;
  const std::string text = sampleText();
  struct Case {
    const char* file;
    std::string bytes;
    const char* name;  // what --guess reports
  } cases[] = {
      {"sjis.txt", python("data.decode('utf-8').encode('cp932')", text), "WINDOWS31J"},
      {"euc.txt", python("data.decode('utf-8').encode('euc_jp')", text), "EUC-JP"},
      {"jis.txt", python("data.decode('utf-8').encode('iso2022_jp')", text), "ISO-2022-JP"},
      {"utf8.txt", text, "UTF-8"},
      {"utf16.txt", python("data.decode('utf-8').encode('utf-16')", text), "UTF-16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    spit(dir.file(c.file), c.bytes);
    Result conv = kvt({"-t", "UTF-8", dir.file(c.file)});
    ASSERT_EQ(conv.code, 0) << conv.err;
    EXPECT_EQ(conv.out, text);
    Result guess = kvt({"--guess", dir.file(c.file)});
    ASSERT_EQ(guess.code, 0) << guess.err;
    EXPECT_NE(guess.out.find(std::string("encoding=") + c.name + " "), std::string::npos)
        << guess.out;
    EXPECT_NE(guess.out.find("eol=lf"), std::string::npos) << guess.out;
  }
}

TEST_F(KvtconvTest, GuessReportsMarkByteOrderAndLineEnds) {
  TestDir dir;
  spit(dir.file("le.txt"), python("'\\r\\n'.join(['日本語']*5).encode('utf-16')", ""));
  spit(dir.file("bom8.txt"), "\xEF\xBB\xBF" "abc\rdef\rghi\r");
  spit(dir.file("empty.txt"), "");
  Result r = kvt({"--guess", dir.file("le.txt"), dir.file("bom8.txt")});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_NE(r.out.find(dir.file("le.txt") +
                       ": encoding=UTF-16 bom=yes byteorder=little-endian eol=crlf\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find(dir.file("bom8.txt") + ": encoding=UTF-8 bom=yes byteorder=big-endian eol=cr\n"),
            std::string::npos)
      << r.out;
  // Nothing to go on: "unknown", and the exit status says so.
  Result e = kvt({"--guess", dir.file("empty.txt")});
  EXPECT_EQ(e.code, 1);
  EXPECT_NE(e.out.find("encoding=unknown"), std::string::npos) << e.out;
}

// ---------------------------------------------------------------------------
// Errors: one line naming the problem, and the documented exit status.

TEST_F(KvtconvTest, UsageFileAndNameErrorsExitWithTwo) {
  TestDir dir;
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"-f", "SJIS", "-t", "UTF-8", dir.file("missing.txt")},
       dir.file("missing.txt") + ": No such file or directory"},
      {{"-f", "NO-SUCH-CODE", "-t", "UTF-8"}, "unknown encoding 'NO-SUCH-CODE'"},
      {{"-f", "SJIS", "-t", "NO-SUCH-CODE"}, "unknown encoding 'NO-SUCH-CODE'"},
      {{"--charset-dir", dir.file("nowhere"), "-f", "SJIS", "-t", "UTF-8"},
       "charset directory " + dir.file("nowhere") + ": No such file or directory"},
      {{"--charset-dir", dir.path(), "-f", "SJIS", "-t", "UTF-8"},
       "no encodings could be loaded from the charset directory"},
      {{"--bogus"}, "unrecognized option '--bogus'"},
      {{"-f"}, "option '-f' requires an argument"},
      {{"--eol=lfcr", "-f", "SJIS"}, "invalid line end 'lfcr'"},
      {{"--replace=U+110000", "-f", "SJIS"}, "invalid replacement"},
      {{"--bom", "-f", "UTF-8", "-t", "SJIS"}, "--bom needs a Unicode target"},
      {{"--ncr=hex", "-f", "UTF-8", "-t", "UTF-8"}, "--ncr needs the UCS-2 target"},
      {{"-f", "SJIS", "-t", "UTF-8", dir.path()}, "Is a directory"},
  };
  for (const Case& c : cases) {
    Result r = kvt(c.args, "abc");
    SCOPED_TRACE(c.message);
    EXPECT_EQ(r.code, 2) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
}

TEST_F(KvtconvTest, BadDataStopsWithFileOffsetAndBytes) {
  TestDir dir;
  // Truncated double-byte character at the end of the file.
  spit(dir.file("cut.txt"), std::string("\x82\xA0\x82\xA2\x82", 5));
  Result cut = kvt({"-f", "SJIS", "-t", "UTF-8", dir.file("cut.txt")});
  EXPECT_EQ(cut.code, 1);
  EXPECT_NE(cut.err.find(dir.file("cut.txt") + ": incomplete character at end of input, byte offset 4: 82"),
            std::string::npos)
      << cut.err;
  EXPECT_EQ(cut.out, "\u3042\u3044") << "everything before the cut is converted";

  // A pair that is no Shift_JIS character: the offset is that of its lead byte.
  Result bad = kvt({"-f", "SJIS", "-t", "UTF-8"}, std::string("ab\x82\x20", 4));
  EXPECT_EQ(bad.code, 1);
  EXPECT_NE(bad.err.find("<stdin>: invalid input at byte offset 2: 82"), std::string::npos) << bad.err;

  // A character Shift_JIS lacks: its code point, offset and bytes.
  Result unm = kvt({"-f", "UTF-8", "-t", "SJIS"}, "a\u2603b");
  EXPECT_EQ(unm.code, 1);
  EXPECT_NE(unm.err.find("<stdin>: cannot convert U+2603 at byte offset 1 (E2 98 83) to SJIS"),
            std::string::npos)
      << unm.err;
  EXPECT_EQ(unm.out, "a");

  // Far into a second chunk, the offset is still counted from the file start.
  std::string big(200000, 'x');
  big += "\xE2\x98\x83";
  Result far = kvt({"-f", "UTF-8", "-t", "EUC-JP"}, big);
  EXPECT_EQ(far.code, 1);
  EXPECT_NE(far.err.find("cannot convert U+2603 at byte offset 200000 "), std::string::npos)
      << far.err;
}

TEST_F(KvtconvTest, FailedConversionLeavesOutputFileUntouched) {
  TestDir dir;
  spit(dir.file("old.txt"), "previous contents\n");
  Result r = kvt({"-f", "UTF-8", "-t", "SJIS", "-o", dir.file("old.txt")}, "ok \u2603");
  EXPECT_EQ(r.code, 1);
  EXPECT_EQ(slurp(dir.file("old.txt")), "previous contents\n");
  Result n = kvt({"-f", "UTF-8", "-t", "SJIS", "-o", dir.file("new.txt")}, "ok \u2603");
  EXPECT_EQ(n.code, 1);
  EXPECT_FALSE(dir.exists("new.txt"));
  // No temporary files are left behind either.
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1);
  // On success the output may even replace its own input.
  spit(dir.file("self.txt"), python("'自分自身'.encode('euc_jp')", ""));
  Result self = kvt({"-f", "EUC-JP", "-t", "UTF-8", "-o", dir.file("self.txt"), dir.file("self.txt")});
  ASSERT_EQ(self.code, 0) << self.err;
  EXPECT_EQ(slurp(dir.file("self.txt")), "自分自身");
}

TEST_F(KvtconvTest, FullDiskIsReportedNotIgnored) {
  const std::string text = sampleText();
  Result toStdout = kvt({"-f", "UTF-8", "-t", "EUC-JP"}, text, "/dev/full");
  EXPECT_EQ(toStdout.code, 2);
  EXPECT_NE(toStdout.err.find("write error: No space left on device"), std::string::npos)
      << toStdout.err;
  Result toFile = kvt({"-f", "UTF-8", "-t", "EUC-JP", "-o", "/dev/full"}, text);
  EXPECT_EQ(toFile.code, 2);
  EXPECT_NE(toFile.err.find("/dev/full: write error: No space left on device"), std::string::npos)
      << toFile.err;
  Result list = kvt({"-l"}, "", "/dev/full");
  EXPECT_EQ(list.code, 2) << list.err;
}

// ---------------------------------------------------------------------------
// Options

TEST_F(KvtconvTest, SkipDropsInvalidInputAndUnmappableCharacters) {
  Result inv = kvt({"-c", "-f", "SJIS", "-t", "UTF-8"}, std::string("a\x82\xA0\x80" "b", 5));
  EXPECT_EQ(inv.code, 0) << inv.err;
  EXPECT_EQ(inv.out, "a\u3042b");
  Result unm = kvt({"-c", "-f", "UTF-8", "-t", "SJIS"}, "x\u2603y\u00E9z\u3042");
  EXPECT_EQ(unm.code, 0) << unm.err;
  EXPECT_EQ(hex(unm.out), hex(std::string("xyz\x82\xA0")));
  Result cut = kvt({"-c", "-f", "SJIS", "-t", "UTF-8"}, "ab\x82");
  EXPECT_EQ(cut.code, 0) << cut.err;
  EXPECT_EQ(cut.out, "ab");
}

TEST_F(KvtconvTest, ReplaceSubstitutesNarrowAndWideCharacters) {
  // Wide (code above 0xFF) and narrow characters get their own replacement:
  // by default the geta mark and '?'.
  const std::string in = "a\u2603b\u00E9c";
  Result def = kvt({"--replace", "-f", "UTF-8", "-t", "SJIS"}, in);
  EXPECT_EQ(def.code, 0) << def.err;
  EXPECT_EQ(hex(def.out), hex(std::string("a\x81\xAC" "b?c")));
  Result own = kvt({"--replace=*,\u203B", "-f", "UTF-8", "-t", "SJIS"}, in);
  EXPECT_EQ(own.code, 0) << own.err;
  EXPECT_EQ(hex(own.out), hex(std::string("a\x81\xA6" "b*c")));
  Result codes = kvt({"--replace=U+005F,0x25A0", "-f", "UTF-8", "-t", "SJIS"}, in);
  EXPECT_EQ(codes.code, 0) << codes.err;
  EXPECT_EQ(hex(codes.out), hex(std::string("a\x81\xA1" "b_c")));
}

TEST_F(KvtconvTest, EolNormalisesEveryLineEnd) {
  const std::string in = "a\r\nb\rc\nd\u2028e\u2029f";
  struct Case {
    const char* kind;
    std::string out;
  } cases[] = {
      {"lf", "a\nb\nc\nd\ne\nf"},
      {"crlf", "a\r\nb\r\nc\r\nd\r\ne\r\nf"},
      {"cr", "a\rb\rc\rd\re\rf"},
      {"u2028", "a\u2028b\u2028c\u2028d\u2028e\u2028f"},
      {"u2029", "a\u2029b\u2029c\u2029d\u2029e\u2029f"},
  };
  for (const Case& c : cases) {
    Result r = kvt({"--eol", c.kind, "-f", "UTF-8", "-t", "UTF-8"}, in);
    ASSERT_EQ(r.code, 0) << c.kind << ": " << r.err;
    EXPECT_EQ(hex(r.out), hex(c.out)) << c.kind;
  }
  // Into a legacy target, too.
  Result sj = kvt({"--eol=crlf", "-f", "EUC-JP", "-t", "SJIS"}, "\xA4\xA2\n\xA4\xA4\n");
  EXPECT_EQ(hex(sj.out), hex(std::string("\x82\xA0\r\n\x82\xA2\r\n"))) << sj.err;
}

TEST_F(KvtconvTest, ByteOrderMarksAndByteOrder) {
  const std::string text = "A\u3042";
  struct Case {
    std::vector<std::string> args;
    std::string out;
  } cases[] = {
      {{"-t", "UTF-16"}, std::string("\x00" "A" "\x30\x42", 4)},
      {{"-t", "UTF-16", "--bom"}, std::string("\xFE\xFF\x00" "A" "\x30\x42", 6)},
      {{"-t", "UTF-16LE", "--bom"}, std::string("\xFF\xFE" "A" "\x00\x42\x30", 6)},
      {{"-t", "UTF-16LE"}, std::string("A" "\x00\x42\x30", 4)},
      {{"-t", "UCS-4LE", "--bom"}, std::string("\xFF\xFE\x00\x00" "A\x00\x00\x00" "\x42\x30\x00\x00", 12)},
      {{"-t", "UTF-8", "--bom"}, "\xEF\xBB\xBF" "A\u3042"},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"-f", "UTF-8"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Result r = kvt(args, text);
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(hex(r.out), hex(c.out)) << c.args[1];
  }
  // Input: the mark decides; without one UTF-16 is big-endian; -LE is obeyed;
  // a UTF-8 mark is dropped; an input shorter than a mark is still text.
  EXPECT_EQ(kvt({"-f", "UTF-16", "-t", "UTF-8"}, std::string("\xFF\xFE" "A\x00\x42\x30", 6)).out, text);
  EXPECT_EQ(kvt({"-f", "UTF-16", "-t", "UTF-8"}, std::string("\xFE\xFF\x00" "A\x30\x42", 6)).out, text);
  EXPECT_EQ(kvt({"-f", "UTF-16", "-t", "UTF-8"}, std::string("\x00" "A\x30\x42", 4)).out, text);
  EXPECT_EQ(kvt({"-f", "UTF-16LE", "-t", "UTF-8"}, std::string("A\x00\x42\x30", 4)).out, text);
  EXPECT_EQ(kvt({"-f", "UTF-8", "-t", "UTF-8"}, "\xEF\xBB\xBF" "A\u3042").out, text);
  Result tiny = kvt({"-f", "UTF-8", "-t", "SJIS"}, "A");
  EXPECT_EQ(tiny.code, 0) << tiny.err;
  EXPECT_EQ(tiny.out, "A");
}

TEST_F(KvtconvTest, NcrWritesReferencesIntoUcs2) {
  auto ucs2 = [](const std::string& utf8) {
    return python("data.decode('utf-8').encode('utf-16-be')", utf8);
  };
  const std::string in = "a\u3042\U0001F600";
  Result hexMode = kvt({"--ncr=hex", "-f", "UTF-8", "-t", "UCS-2"}, in);
  ASSERT_EQ(hexMode.code, 0) << hexMode.err;
  EXPECT_EQ(hex(hexMode.out), hex(ucs2("a\u3042&#x1F600;")));
  Result decMode = kvt({"--ncr=dec", "-f", "UTF-8", "-t", "UCS-2"}, in);
  ASSERT_EQ(decMode.code, 0) << decMode.err;
  EXPECT_EQ(hex(decMode.out), hex(ucs2("a\u3042&#128512;")));
  // Without references a character beyond U+FFFF is refused.
  Result off = kvt({"-f", "UTF-8", "-t", "UCS-2"}, in);
  EXPECT_EQ(off.code, 1);
  EXPECT_NE(off.err.find("cannot convert U+1F600 at byte offset 4 (F0 9F 98 80)"), std::string::npos)
      << off.err;
}

TEST_F(KvtconvTest, StandardInputAndSeveralFiles) {
  TestDir dir;
  const std::string one = python("'一つ目\\n'.encode('shift_jis')", "");
  const std::string two = python("'二つ目\\n'.encode('shift_jis')", "");
  spit(dir.file("1.txt"), one);
  spit(dir.file("2.txt"), two);
  EXPECT_EQ(kvt({"-f", "SJIS", "-t", "UTF-8"}, one).out, "一つ目\n");
  EXPECT_EQ(kvt({"-f", "SJIS", "-t", "UTF-8", "-"}, one).out, "一つ目\n");
  Result both = kvt({"-f", "SJIS", "-t", "UTF-8", dir.file("1.txt"), "-", dir.file("2.txt")}, "x\n");
  ASSERT_EQ(both.code, 0) << both.err;
  EXPECT_EQ(both.out, "一つ目\nx\n二つ目\n");
  // ISO-2022-JP output spans the files and returns to ASCII once, at the end.
  Result jis = kvt({"-f", "SJIS", "-t", "ISO-2022-JP", dir.file("1.txt"), dir.file("2.txt")});
  ASSERT_EQ(jis.code, 0) << jis.err;
  EXPECT_EQ(python("data.decode('iso2022_jp').encode('utf-8')", jis.out), "一つ目\n二つ目\n");
  ASSERT_GE(jis.out.size(), 3u);
  EXPECT_EQ(jis.out.substr(jis.out.size() - 3), "\x1B(B");
  EXPECT_EQ(jis.out.find("\x1B(B"), jis.out.size() - 3);
}

TEST_F(KvtconvTest, StreamsInputFarLargerThanItsChunks) {
  // About 3 MB in an odd-sized record, so characters and escape sequences
  // straddle every chunk boundary.
  TestDir dir;
  for (const char* enc : {"SJIS", "ISO-2022-JP", "UTF-16"}) {
    SCOPED_TRACE(enc);
    // ISO-2022-JP has no half-width katakana.
    const std::string unit = sampleText() + (std::string(enc) == "ISO-2022-JP" ? "" : "ｶﾀｶﾅ x\n");
    std::string text;
    while (text.size() < 3000000) text += unit;
    spit(dir.file("big.utf8"), text);
    Result to = kvt({"-q", "-f", "UTF-8", "-t", enc, "-o", dir.file("big.enc"), dir.file("big.utf8")});
    ASSERT_EQ(to.code, 0) << to.err;
    Result back = kvt({"-f", enc, "-t", "UTF-8", dir.file("big.enc")});
    ASSERT_EQ(back.code, 0) << back.err;
    EXPECT_TRUE(back.out == text) << "sizes " << back.out.size() << " vs " << text.size();
  }
  std::string text;
  while (text.size() < 3000000) text += sampleText() + "ｶﾀｶﾅ x\n";
  const std::string peer = python("data.decode('utf-8').encode('cp932')", text);
  spit(dir.file("big.sjis"), peer);
  Result dec = kvt({"-f", "CP932", "-t", "UTF-8", dir.file("big.sjis")});
  EXPECT_TRUE(dec.out == text);
}

TEST_F(KvtconvTest, ListsTheEncodingsOfTheCharsetDirectory) {
  Result r = kvt({"-l"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* n : {"Shift_JIS\n", "EUC-JP\n", "ISO-2022-JP\n", "UTF-8\n", "UTF-16\n"})
    EXPECT_NE(r.out.find(n), std::string::npos) << n << " missing from\n" << r.out;

  // Another directory holding only some of the rule files lists only those.
  TestDir dir;
  const std::filesystem::path base = ZK_BINARY_DIR "/base2";
  ASSERT_TRUE(std::filesystem::is_directory(base));
  std::string keep;
  for (auto& e : std::filesystem::directory_iterator(base)) {
    if (e.path().extension() == ".cmp") continue;
    if (e.path().extension() == ".xml") {
      // Keep only the UTF-8 rule file.
      std::string s = slurp(e.path().string());
      std::string ascii;
      for (char c : s)
        if (c) ascii += c;
      if (ascii.find("<name>UTF-8</name>") == std::string::npos) continue;
      keep = e.path().filename().string();
    }
    std::filesystem::copy(e.path(), dir.path() + e.path().filename().string());
  }
  ASSERT_FALSE(keep.empty());
  Result one = kvt({"--charset-dir", dir.path(), "-l"});
  ASSERT_EQ(one.code, 0) << one.err;
  EXPECT_EQ(one.out, "UTF-8\n");
  Result conv = kvt({"--charset-dir", dir.path(), "-f", "UTF-8", "-t", "SJIS"}, "a");
  EXPECT_EQ(conv.code, 2);
  EXPECT_NE(conv.err.find("unknown encoding 'SJIS'"), std::string::npos) << conv.err;
}

}  // namespace
