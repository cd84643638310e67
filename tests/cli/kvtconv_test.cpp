// kvtconv run as a process: conversions checked against Python's codecs,
// detection, error reporting with exit codes, options, and streaming of
// large input.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/testdir.h"

#ifndef ZK_KVTCONV
#define ZK_KVTCONV ZK_BINARY_DIR "/kvtconv"
#endif

namespace {

using zktest::TestDir;
using Args = std::vector<std::string>;

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
  std::ofstream(path, std::ios::binary | std::ios::trunc) << data;
}

// Runs kvtconv with `args` (none holds a single quote) and `input` on standard
// input; standard output goes to `stdoutPath` when given, else it is captured.
Result kvt(const Args& args, const std::string& input = "", const std::string& stdoutPath = "") {
  TestDir io;
  spit(io.file("in"), input);
  const std::string out = stdoutPath.empty() ? io.file("out") : stdoutPath;
  std::string cmd = ZK_KVTCONV;
  for (const std::string& a : args) cmd += " '" + a + "'";
  int st = std::system((cmd + " <" + io.file("in") + " >" + out + " 2>" + io.file("err")).c_str());
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, stdoutPath.empty() ? slurp(out) : "",
          slurp(io.file("err"))};
}

// Python's codecs as the peer: `expr` is evaluated with `data` bound to the
// bytes of `in`; it must give bytes.
std::string python(const std::string& expr, const std::string& in) {
  TestDir io;
  spit(io.file("in"), in);
  std::string cmd = "python3 -c \"import sys; data=open('" + io.file("in") +
                    "','rb').read(); sys.stdout.buffer.write(" + expr + ")\" > " + io.file("out");
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  return slurp(io.file("out"));
}

// `utf8` in Python's `codec`.
std::string encoded(const std::string& utf8, const std::string& codec) {
  return python("data.decode('utf-8').encode('" + codec + "')", utf8);
}

// The bundled sample as UTF-8 text (Python decodes it).
const std::string& sampleText() {
  static const std::string text = python("data.decode('shift_jis').encode('utf-8')",
                                         slurp(ZK_SOURCE_DIR "/data/samples/sample-sjis.txt"));
  return text;
}

class Kvtconv : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("python3 -c pass >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs python3";
  }
  TestDir dir;
};

// Every Japanese encoding, and aliases in any case, from a file into a file
// and back; with Python's codec (if any), the same bytes (ISO-2022-JP-2004
// may choose other escape sequences) and the peer's bytes read back as the
// text. The encodings that carry JIS X 0201 get a half-width katakana line.
TEST_F(Kvtconv, RoundTripsAndAgreesWithPython) {
  const std::pair<std::string, std::string> encodings[] = {
      {"Shift_JIS", "shift_jis"},   {"WINDOWS31J", "cp932"},   {"Shift_JIS-2004", "shift_jis_2004"},
      {"EUC-JP", "euc_jp"},         {"EUC-JIS-2004", "euc_jis_2004"}, {"ISO-2022-JP", "iso2022_jp"},
      {"ISO-2022-JP-2004", "iso2022_jp_2004"}, {"UTF-16BE", "utf-16-be"}, {"UTF-16LE", "utf-16-le"},
      {"UCS-2BE", "utf-16-be"},     {"UCS-4LE", "utf-32-le"},  {"UTF-32BE", "utf-32-be"},
      {"EUC-JP-FIX", ""},           {"UTF-16", ""},            {"ISO-10646-UCS-2", ""},
      {"ISO-10646-UCS-4", ""},      {"UTF-8", ""},             {"SJIS", "shift_jis"},
      {"sjis", "shift_jis"},        {"shift-jis", "shift_jis"}, {"CP932", "cp932"},
      {"ms932", "cp932"},           {"Windows-31J", "cp932"},  {"EUCJP", "euc_jp"},
      {"euc-jp", "euc_jp"},         {"eucJP", "euc_jp"},       {"UJIS", "euc_jp"},
      {"JIS", "iso2022_jp"},        {"ISO2022JP", "iso2022_jp"}, {"iso-2022-jp", "iso2022_jp"},
  };
  ASSERT_GT(sampleText().size(), 1000u);
  for (const auto& [name, codec] : encodings) {
    SCOPED_TRACE(name);
    const std::string text = sampleText() + (codec.starts_with("iso2022") ? "" : "ｱｲｳｴｵ ﾃｽﾄ\n");
    spit(dir.file("text"), text);
    Result to = kvt({"-f", "utf8", "-t", name, "-o", dir.file("mid"), dir.file("text")});
    ASSERT_EQ(to.code, 0) << to.err;
    Result back = kvt({"-f", name, "-t", "UTF-8", dir.file("mid")});
    ASSERT_EQ(back.code, 0) << back.err;
    EXPECT_EQ(back.out, text);
    if (codec.empty()) continue;
    const std::string peer = encoded(text, codec);
    if (codec != "iso2022_jp_2004") {
      EXPECT_EQ(slurp(dir.file("mid")), peer);
    }
    EXPECT_EQ(kvt({"-f", name, "-t", "UTF-8"}, peer).out, text);
  }
}

// Without -f the input encoding is detected; --guess reports it with the
// mark, byte order and line ends, and exits with 1 when nothing is found.
TEST_F(Kvtconv, DetectsAndGuesses) {
  const std::string text = sampleText();
  const struct {
    const char* file;
    std::string bytes;
    std::string text;
    std::string guess;  // how the file's --guess line starts, after "FILE: "
    std::string eol;    // and how it ends
  } cases[] = {
      {"sjis", encoded(text, "cp932"), text, "encoding=WINDOWS31J ", " eol=lf"},
      {"euc", encoded(text, "euc_jp"), text, "encoding=EUC-JP ", " eol=lf"},
      {"jis", encoded(text, "iso2022_jp"), text, "encoding=ISO-2022-JP ", " eol=lf"},
      {"utf8", text, text, "encoding=UTF-8 ", " eol=lf"},
      {"utf16", encoded(text, "utf-16"), text, "encoding=UTF-16 ", " eol=lf"},
      {"le", encoded("日本語\r\n日本語", "utf-16"), "日本語\r\n日本語",
       "encoding=UTF-16 bom=yes byteorder=little-endian eol=crlf", " eol=crlf"},
      {"bom8", "\xEF\xBB\xBF" "abc\rdef\rghi\r", "abc\rdef\rghi\r",
       "encoding=UTF-8 bom=yes byteorder=big-endian eol=cr", " eol=cr"},
  };
  Args all = {"--guess"};
  for (const auto& c : cases) {
    spit(dir.file(c.file), c.bytes);
    all.push_back(dir.file(c.file));
    Result conv = kvt({"-t", "UTF-8", dir.file(c.file)});
    EXPECT_EQ(conv.code, 0) << c.file << ": " << conv.err;
    EXPECT_EQ(conv.out, c.text) << c.file;
  }
  Result guess = kvt(all);
  EXPECT_EQ(guess.code, 0) << guess.err;
  std::istringstream lines(guess.out);
  for (const auto& c : cases) {
    std::string line, head = dir.file(c.file) + ": ";
    std::getline(lines, line);
    EXPECT_TRUE(line.starts_with(head + c.guess) && line.ends_with(c.eol)) << line;
  }
  spit(dir.file("empty"), "");
  Result e = kvt({"--guess", dir.file("empty")});
  EXPECT_EQ(e.code, 1);
  EXPECT_NE(e.out.find("encoding=unknown"), std::string::npos) << e.out;
}

// Every error path: its exit status (2 for usage, file, name and write
// errors; 1 for data that cannot be converted), one line naming the problem,
// and what was written before it.
TEST_F(Kvtconv, ErrorsExitWithTheirStatusAndMessage) {
  TestDir empty;
  spit(dir.file("cut.txt"), "\x82\xA0\x82\xA2\x82");
  const std::string missing = dir.file("missing.txt"), nowhere = dir.file("nowhere");
  const struct {
    Args args;
    std::string input;
    int code;
    std::string message;
    std::optional<std::string> out;  // nullopt: not checked
    std::string stdoutPath = "";
  } cases[] = {
      {{"-f", "SJIS", "-t", "UTF-8", missing}, "", 2, missing + ": No such file or directory", ""},
      {{"-f", "NO-SUCH-CODE", "-t", "UTF-8"}, "", 2, "unknown encoding 'NO-SUCH-CODE'", ""},
      {{"-f", "SJIS", "-t", "NO-SUCH-CODE"}, "", 2, "unknown encoding 'NO-SUCH-CODE'", ""},
      {{"--charset-dir", nowhere, "-f", "SJIS", "-t", "UTF-8"}, "", 2,
       "charset directory " + nowhere + ": No such file or directory", ""},
      {{"--charset-dir", empty.path(), "-f", "SJIS", "-t", "UTF-8"}, "", 2,
       "no encodings could be loaded from the charset directory", ""},
      {{"--bogus"}, "", 2, "unrecognized option '--bogus'", ""},
      {{"-f"}, "", 2, "option '-f' requires an argument", ""},
      {{"--eol=lfcr", "-f", "SJIS"}, "", 2, "invalid line end 'lfcr'", ""},
      {{"--replace=U+110000", "-f", "SJIS"}, "", 2, "invalid replacement", ""},
      {{"--bom", "-f", "UTF-8", "-t", "SJIS"}, "", 2, "--bom needs a Unicode target", ""},
      {{"--ncr=hex", "-f", "UTF-8", "-t", "UTF-8"}, "", 2, "--ncr needs the UCS-2 target", ""},
      {{"-f", "SJIS", "-t", "UTF-8", dir.path()}, "", 2, "Is a directory", ""},
      {{"-f", "UTF-8", "-t", "EUC-JP"}, sampleText(), 2, "write error: No space left on device",
       std::nullopt, "/dev/full"},
      {{"-f", "UTF-8", "-t", "EUC-JP", "-o", "/dev/full"}, sampleText(), 2,
       "/dev/full: write error: No space left on device", ""},
      {{"-l"}, "", 2, "write error: No space left on device", std::nullopt, "/dev/full"},
      // A truncated character at the end of a file; everything before is converted.
      {{"-f", "SJIS", "-t", "UTF-8", dir.file("cut.txt")}, "", 1,
       dir.file("cut.txt") + ": incomplete character at end of input, byte offset 4: 82",
       "\u3042\u3044"},
      // A pair that is no Shift_JIS character: the offset is that of its lead byte.
      {{"-f", "SJIS", "-t", "UTF-8"}, "ab\x82\x20", 1,
       "<stdin>: invalid input at byte offset 2: 82", "ab"},
      {{"-f", "UTF-8", "-t", "SJIS"}, "a\u2603b", 1,
       "<stdin>: cannot convert U+2603 at byte offset 1 (E2 98 83) to SJIS", "a"},
      // Far into a second chunk the offset still counts from the start.
      {{"-f", "UTF-8", "-t", "EUC-JP"}, std::string(200000, 'x') + "\u2603", 1,
       "cannot convert U+2603 at byte offset 200000 ", std::nullopt},
      // Without references UCS-2 refuses a character beyond U+FFFF.
      {{"-f", "UTF-8", "-t", "UCS-2"}, "a\u3042\U0001F600", 1,
       "cannot convert U+1F600 at byte offset 4 (F0 9F 98 80)", std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    Result r = kvt(c.args, c.input, c.stdoutPath);
    EXPECT_EQ(r.code, c.code) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    if (c.out) {
      EXPECT_EQ(r.out, *c.out);
    }
  }
}

TEST_F(Kvtconv, FailedConversionLeavesOutputFileUntouched) {
  spit(dir.file("old.txt"), "previous contents\n");
  EXPECT_EQ(kvt({"-f", "UTF-8", "-t", "SJIS", "-o", dir.file("old.txt")}, "ok \u2603").code, 1);
  EXPECT_EQ(slurp(dir.file("old.txt")), "previous contents\n");
  EXPECT_EQ(kvt({"-f", "UTF-8", "-t", "SJIS", "-o", dir.file("new.txt")}, "ok \u2603").code, 1);
  // No new file, and no temporary file left behind either.
  auto entries = std::filesystem::directory_iterator(dir.path());
  EXPECT_EQ(std::distance(begin(entries), end(entries)), 1);
  // On success the output may even replace its own input.
  const std::string self = dir.file("self.txt");
  spit(self, encoded("自分自身", "euc_jp"));
  Result r = kvt({"-f", "EUC-JP", "-t", "UTF-8", "-o", self, self});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(slurp(self), "自分自身");
}

// -c, --replace, --eol, byte order marks and --ncr, each on a short input.
TEST_F(Kvtconv, Options) {
  const std::string text = "A\u3042", eols = "a\r\nb\rc\nd\u2028e\u2029f", bom = "\uFEFF";
  const std::string u16 = encoded(text, "utf-16-be"), u16le = encoded(text, "utf-16-le");
  const struct {
    Args args;
    std::string input;
    std::string out;
  } cases[] = {
      // -c drops invalid input, unmappable characters and a truncated end.
      {{"-c", "-f", "SJIS", "-t", "UTF-8"}, "a\x82\xA0\x80" "b", "a\u3042b"},
      {{"-c", "-f", "UTF-8", "-t", "SJIS"}, "x\u2603y\u00E9z\u3042", "xyz\x82\xA0"},
      {{"-c", "-f", "SJIS", "-t", "UTF-8"}, "ab\x82", "ab"},
      // Wide (above 0xFF) and narrow characters get their own replacement:
      // by default the geta mark and '?'.
      {{"--replace", "-f", "UTF-8", "-t", "SJIS"}, "a\u2603b\u00E9c", "a\x81\xAC" "b?c"},
      {{"--replace=*,\u203B", "-f", "UTF-8", "-t", "SJIS"}, "a\u2603b\u00E9c", "a\x81\xA6" "b*c"},
      {{"--replace=U+005F,0x25A0", "-f", "UTF-8", "-t", "SJIS"}, "a\u2603b\u00E9c",
       "a\x81\xA1" "b_c"},
      // Every line end becomes the one asked for, also in a legacy target.
      {{"--eol", "lf", "-f", "UTF-8", "-t", "UTF-8"}, eols, "a\nb\nc\nd\ne\nf"},
      {{"--eol", "crlf", "-f", "UTF-8", "-t", "UTF-8"}, eols, "a\r\nb\r\nc\r\nd\r\ne\r\nf"},
      {{"--eol", "cr", "-f", "UTF-8", "-t", "UTF-8"}, eols, "a\rb\rc\rd\re\rf"},
      {{"--eol", "u2028", "-f", "UTF-8", "-t", "UTF-8"}, eols,
       "a\u2028b\u2028c\u2028d\u2028e\u2028f"},
      {{"--eol", "u2029", "-f", "UTF-8", "-t", "UTF-8"}, eols,
       "a\u2029b\u2029c\u2029d\u2029e\u2029f"},
      {{"--eol=crlf", "-f", "EUC-JP", "-t", "SJIS"}, "\xA4\xA2\n\xA4\xA4\n",
       "\x82\xA0\r\n\x82\xA2\r\n"},
      // Output marks only with --bom; without a suffix UTF-16 is big-endian.
      {{"-f", "UTF-8", "-t", "UTF-16"}, text, u16},
      {{"-f", "UTF-8", "-t", "UTF-16", "--bom"}, text, encoded(bom + text, "utf-16-be")},
      {{"-f", "UTF-8", "-t", "UTF-16LE", "--bom"}, text, encoded(bom + text, "utf-16-le")},
      {{"-f", "UTF-8", "-t", "UTF-16LE"}, text, u16le},
      {{"-f", "UTF-8", "-t", "UCS-4LE", "--bom"}, text, encoded(bom + text, "utf-32-le")},
      {{"-f", "UTF-8", "-t", "UTF-8", "--bom"}, text, "\xEF\xBB\xBF" + text},
      // Input: the mark decides, else big-endian; -LE is obeyed; a UTF-8 mark
      // is dropped; an input shorter than a mark is still text.
      {{"-f", "UTF-16", "-t", "UTF-8"}, encoded(bom + text, "utf-16-le"), text},
      {{"-f", "UTF-16", "-t", "UTF-8"}, encoded(bom + text, "utf-16-be"), text},
      {{"-f", "UTF-16", "-t", "UTF-8"}, u16, text},
      {{"-f", "UTF-16LE", "-t", "UTF-8"}, u16le, text},
      {{"-f", "UTF-8", "-t", "UTF-8"}, "\xEF\xBB\xBF" + text, text},
      {{"-f", "UTF-8", "-t", "SJIS"}, "A", "A"},
      // Numeric character references for what UCS-2 cannot carry.
      {{"--ncr=hex", "-f", "UTF-8", "-t", "UCS-2"}, "a\u3042\U0001F600",
       encoded("a\u3042&#x1F600;", "utf-16-be")},
      {{"--ncr=dec", "-f", "UTF-8", "-t", "UCS-2"}, "a\u3042\U0001F600",
       encoded("a\u3042&#128512;", "utf-16-be")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    Result r = kvt(c.args, c.input);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, c.out);
  }
}

TEST_F(Kvtconv, StandardInputAndSeveralFiles) {
  spit(dir.file("1.txt"), encoded("一つ目\n", "shift_jis"));
  spit(dir.file("2.txt"), encoded("二つ目\n", "shift_jis"));
  const Args sjis = {"-f", "SJIS", "-t", "UTF-8"};
  EXPECT_EQ(kvt(sjis, encoded("一つ目\n", "shift_jis")).out, "一つ目\n");
  Args files = sjis;
  files.insert(files.end(), {dir.file("1.txt"), "-", dir.file("2.txt")});
  Result both = kvt(files, "x\n");
  EXPECT_EQ(both.code, 0) << both.err;
  EXPECT_EQ(both.out, "一つ目\nx\n二つ目\n");
  // ISO-2022-JP output spans the files and returns to ASCII once, at the end.
  Result jis = kvt({"-f", "SJIS", "-t", "ISO-2022-JP", dir.file("1.txt"), dir.file("2.txt")});
  EXPECT_EQ(jis.code, 0) << jis.err;
  EXPECT_EQ(python("data.decode('iso2022_jp').encode('utf-8')", jis.out), "一つ目\n二つ目\n");
  EXPECT_EQ(jis.out.find("\x1B(B") + 3, jis.out.size());
}

TEST_F(Kvtconv, StreamsInputFarLargerThanItsChunks) {
  // About 3 MB of odd-sized records, so characters and escape sequences
  // straddle every chunk boundary; ISO-2022-JP has no half-width katakana.
  for (const char* enc : {"SJIS", "ISO-2022-JP", "UTF-16", "CP932"}) {
    SCOPED_TRACE(enc);
    std::string text;
    const std::string kana = enc == std::string("ISO-2022-JP") ? "" : "ｶﾀｶﾅ x\n";
    while (text.size() < 3000000) text += sampleText() + kana;
    spit(dir.file("big.utf8"), text);
    // CP932: Python's bytes are read; the others are written by kvtconv first.
    if (enc == std::string("CP932")) {
      spit(dir.file("big.enc"), encoded(text, "cp932"));
    } else {
      Result to =
          kvt({"-q", "-f", "UTF-8", "-t", enc, "-o", dir.file("big.enc"), dir.file("big.utf8")});
      ASSERT_EQ(to.code, 0) << to.err;
    }
    Result back = kvt({"-f", enc, "-t", "UTF-8", dir.file("big.enc")});
    ASSERT_EQ(back.code, 0) << back.err;
    EXPECT_TRUE(back.out == text) << "sizes " << back.out.size() << " vs " << text.size();
  }
}

TEST_F(Kvtconv, ListsTheEncodingsOfTheCharsetDirectory) {
  Result r = kvt({"-l"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* n : {"Shift_JIS\n", "EUC-JP\n", "ISO-2022-JP\n", "UTF-8\n", "UTF-16\n"})
    EXPECT_NE(r.out.find(n), std::string::npos) << n << " missing from\n" << r.out;
  // A directory holding only the UTF-8 rule file (and every table) lists only it.
  for (const auto& e : std::filesystem::directory_iterator(ZK_BINARY_DIR "/base2")) {
    std::string s = slurp(e.path());
    std::erase(s, '\0');  // UTF-16 text
    if (e.path().extension() == ".xml" ? s.find("<name>UTF-8</name>") != s.npos
                                       : e.path().extension() != ".cmp")
      std::filesystem::copy(e.path(), dir.path() + e.path().filename().string());
  }
  Result one = kvt({"--charset-dir", dir.path(), "-l"});
  EXPECT_EQ(one.code, 0) << one.err;
  EXPECT_EQ(one.out, "UTF-8\n");
  Result conv = kvt({"--charset-dir", dir.path(), "-f", "UTF-8", "-t", "SJIS"}, "a");
  EXPECT_EQ(conv.code, 2);
  EXPECT_NE(conv.err.find("unknown encoding 'SJIS'"), std::string::npos) << conv.err;
}

}  // namespace
