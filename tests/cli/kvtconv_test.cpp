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

namespace {

using zktest::TestDir;
using Args = std::vector<std::string>;

std::string slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}
void spit(const std::string& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

struct Result {
  int code;
  std::string out, err;
};

// Runs kvtconv with `args` (none holds a single quote) and `input` on standard
// input; standard output goes to `stdoutPath` when given, else it is captured.
Result kvt(const Args& args, const std::string& input = "", const std::string& stdoutPath = "") {
  TestDir io;
  spit(io.file("in"), input);
  std::string cmd = ZK_BINARY_DIR "/kvtconv";
  for (const std::string& a : args) cmd += " '" + a + "'";
  const std::string out = stdoutPath.empty() ? io.file("out") : stdoutPath;
  const int st =
      std::system((cmd + " <" + io.file("in") + " >" + out + " 2>" + io.file("err")).c_str());
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, stdoutPath.empty() ? slurp(out) : "",
          slurp(io.file("err"))};
}

// Python's codecs as the peer: the text in each of `codecs`, in one run.
std::vector<std::string> python(const std::string& utf8, const std::vector<std::string>& codecs) {
  TestDir io;
  spit(io.file("in"), utf8);
  std::string list;
  for (const std::string& c : codecs) list += "'" + c + "',";
  const std::string cmd = "python3 -c \"t=open('" + io.file("in") +
                          "','rb').read().decode('utf-8')\nfor i,c in enumerate([" + list +
                          "]): open('" + io.file("") +
                          "%d' % i,'wb').write(t.encode(c, 'replace'))\"";
  EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  std::vector<std::string> out;
  for (std::size_t i = 0; i < codecs.size(); ++i) out.push_back(slurp(io.file(std::to_string(i))));
  return out;
}

// The bundled sample as UTF-8 text (Python decodes it).
const std::string& sampleText() {
  static const std::string text = [] {
    TestDir io;
    const std::string cmd =
        "python3 -c \"import sys; sys.stdout.buffer.write(open('" ZK_SOURCE_DIR
        "/data/samples/sample-sjis.txt','rb').read().decode('shift_jis').encode())\" > " +
        io.file("t");
    return std::system(cmd.c_str()) == 0 ? slurp(io.file("t")) : "";
  }();
  return text;
}

class Kvtconv : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("python3 -c pass >/dev/null 2>&1") != 0) GTEST_SKIP() << "needs python3";
    ASSERT_GT(sampleText().size(), 1000u);
  }
  TestDir dir;
};

// Every Japanese encoding, and aliases in any case, from a file into a file
// and back; with Python's codec (if any), the same bytes (ISO-2022-JP-2004 may
// choose other escape sequences) and the peer's bytes read back as the text.
// The encodings that carry JIS X 0201 get a half-width katakana line.
TEST_F(Kvtconv, RoundTripsAndAgreesWithPython) {
  // clang-format off
  const std::pair<std::string, std::string> encodings[] = {
      {"Shift_JIS", "shift_jis"}, {"WINDOWS31J", "cp932"}, {"Shift_JIS-2004", "shift_jis_2004"},
      {"EUC-JP", "euc_jp"}, {"EUC-JIS-2004", "euc_jis_2004"}, {"ISO-2022-JP", "iso2022_jp"},
      {"ISO-2022-JP-2004", "iso2022_jp_2004"}, {"UTF-16LE", "utf-16-le"}, {"UCS-2BE", "utf-16-be"},
      {"UCS-4LE", "utf-32-le"}, {"UTF-32BE", "utf-32-be"}, {"EUC-JP-FIX", ""}, {"UTF-8", "utf-8"},
      {"sjis", "shift_jis"}, {"ms932", "cp932"}, {"eucJP", "euc_jp"},
      {"JIS", "iso2022_jp"}};
  // clang-format on
  const std::string kana = sampleText() + "ｱｲｳｴｵ ﾃｽﾄ\n";
  std::vector<std::string> codecs;
  for (const auto& [name, codec] : encodings) codecs.push_back(codec.empty() ? "utf-8" : codec);
  const std::vector<std::string> peers = python(kana, codecs),
                                 peers7 = python(sampleText(), codecs);
  for (std::size_t i = 0; i < std::size(encodings); ++i) {
    const auto& [name, codec] = encodings[i];
    const bool jis7 = codec.starts_with("iso2022");
    spit(dir.file("text"), jis7 ? sampleText() : kana);
    const Result to = kvt({"-f", "utf8", "-t", name, "-o", dir.file("mid"), dir.file("text")});
    const Result back = kvt({"-f", name, "-t", "UTF-8", dir.file("mid")});
    EXPECT_TRUE(to.code == 0 && back.code == 0 && back.out == slurp(dir.file("text")))
        << name << to.err << back.err;
    if (codec.empty()) continue;
    const std::string& theirs = jis7 ? peers7[i] : peers[i];
    EXPECT_TRUE(codec == "iso2022_jp_2004" || slurp(dir.file("mid")) == theirs) << name;
    EXPECT_TRUE(kvt({"-f", name, "-t", "UTF-8"}, theirs).out == slurp(dir.file("text"))) << name;
  }
}

// Each run: its exit status (2 for usage, file, name and write errors; 1 for
// data that cannot be converted), what it wrote, and one line naming the
// problem, if any.
TEST_F(Kvtconv, OptionsAndErrors) {
  TestDir empty, outputs;  // the library keeps its table lock file in a charset directory
  const std::string missing = dir.file("missing.txt"), cut = dir.file("cut");
  spit(cut, "\x82\xA0\x82\xA2\x82");
  spit(dir.file("1"), "\u3042\n"), spit(dir.file("2"), "\u3044");
  const std::string text = "A\u3042", eols = "a\r\nb\rc\nd\u2028e\u2029f";
  const std::vector<std::string> p = python(text, {"utf-16-be", "utf-16-le", "utf-16"}),
                                 ncr = python("a&#x1F600;", {"utf-16-le"}),
                                 euc = python(sampleText(), {"euc_jp"});
  const struct {
    Args args;
    std::string input;
    int code;
    std::optional<std::string> out;  // nullopt: not checked
    std::string message = "";
    std::string stdoutPath = "";
  } cases[] = {
      // clang-format off
      // -c drops invalid input, unmappable characters and a truncated end.
      {{"-c", "-f", "SJIS", "-t", "UTF-8"}, "a\x82\xA0\x80\x62\x82", 0, "a\u3042b"},
      {{"-c", "-f", "UTF-8", "-t", "SJIS"}, "x\u2603y\u00E9z", 0, "xyz"},
      // Wide (above 0xFF) and narrow characters get their own replacement:
      // by default the geta mark and '?'.
      {{"--replace", "-f", "UTF-8", "-t", "SJIS"}, "a\u2603\u00E9", 0, "a\x81\xAC?"},
      // Every line end becomes the one asked for, also in a legacy target.
      {{"--eol", "crlf", "-f", "UTF-8", "-t", "UTF-8"}, eols, 0, "a\r\nb\r\nc\r\nd\r\ne\r\nf"},
      {{"--eol=lf", "-f", "EUC-JP", "-t", "SJIS"},
       "\xA4\xA2\r\n\xA4\xA4\r", 0, "\x82\xA0\n\x82\xA2\n"},
      // Output marks only with --bom; without a suffix UTF-16 is big-endian.
      // Input: the mark decides, else big-endian; -LE is obeyed.
      {{"-f", "UTF-8", "-t", "UTF-16"}, text, 0, p[0]},
      {{"-f", "UTF-16", "-t", "UTF-8"}, p[2], 0, text},
      // Numeric character references for what UCS-2 cannot carry.
      {{"--ncr=hex", "-f", "UTF-8", "-t", "UCS-2LE"}, "a\U0001F600", 0, ncr[0]},
      // Without -f the input encoding is detected; --guess names it.
      {{"-t", "UTF-8"}, euc[0], 0, sampleText()},
      {{"--guess"}, euc[0], 0, "<stdin>: encoding=EUC-JP bom=no byteorder=big-endian eol=lf\n"},
      // ISO-2022-JP output spans the files and returns to ASCII once, at the end.
      {{"-f", "UTF-8", "-t", "ISO-2022-JP", dir.file("1"), "-", dir.file("2")}, "x\n", 0,
       "\x1B$B$\"\x1B(B\nx\n\x1B$B$$\x1B(B"},
      {{"-f", "SJIS", "-t", "UTF-8", missing}, "", 2, "", missing + ": No such file or directory"},
      {{"-f", "NO-SUCH-CODE", "-t", "UTF-8"}, "", 2, "", "unknown encoding 'NO-SUCH-CODE'"},
      {{"--charset-dir", empty.path(), "-f", "SJIS"}, "", 2, "", "no encodings could be loaded"},
      {{"--bom", "-f", "UTF-8", "-t", "SJIS"}, "", 2, "", "--bom needs a Unicode target"},
      {{"-f", "UTF-8", "-t", "EUC-JP"}, sampleText(), 2, std::nullopt, "write error: No space left",
       "/dev/full"},
      // A truncated character at the end of a file; everything before is
      // converted. A pair that is no Shift_JIS character: the offset is that
      // of its lead byte. Far into a second chunk the offset still counts
      // from the start.
      {{"-f", "SJIS", "-t", "UTF-8", cut}, "", 1, "\u3042\u3044",
       cut + ": incomplete character at end of input, byte offset 4: 82"},
      {{"-f", "SJIS", "-t", "UTF-8"},
       "ab\x82\x20", 1, "ab", "<stdin>: invalid input at byte offset 2: 82"},
      {{"-f", "UTF-8", "-t", "SJIS"}, "a\u2603b", 1, "a",
       "<stdin>: cannot convert U+2603 at byte offset 1 (E2 98 83) to SJIS"},
      {{"-f", "UTF-8", "-t", "EUC-JP"}, std::string(200000, 'x') + "\u2603", 1, std::nullopt,
       "cannot convert U+2603 at byte offset 200000 "},
      // clang-format on
  };
  for (const auto& c : cases) {
    const Result r = kvt(c.args, c.input, c.stdoutPath);
    EXPECT_EQ(r.code, c.code) << testing::PrintToString(c.args) << ": " << r.err;
    EXPECT_TRUE(!c.out || r.out == *c.out) << testing::PrintToString(c.args) << ": " << r.out;
    EXPECT_TRUE(r.err.find(c.message) != std::string::npos && (c.message.empty() == r.err.empty()))
        << r.err;
  }
  // A failed conversion leaves an output file untouched, or makes none (no
  // temporary file either); on success the output may replace its own input.
  spit(dir.file("old.txt"), "previous contents\n");
  EXPECT_EQ(kvt({"-f", "UTF-8", "-t", "SJIS", "-o", dir.file("old.txt")}, "ok \u2603").code, 1);
  EXPECT_EQ(kvt({"-f", "UTF-8", "-t", "SJIS", "-o", outputs.file("new.txt")}, "ok \u2603").code, 1);
  EXPECT_EQ(slurp(dir.file("old.txt")), "previous contents\n");
  EXPECT_TRUE(std::filesystem::is_empty(outputs.path()));
  spit(dir.file("self.txt"), "\xBC\xAB\xCA\xAC");
  EXPECT_EQ(
      kvt({"-f", "EUC-JP", "-t", "UTF-8", "-o", dir.file("self.txt"), dir.file("self.txt")}).code,
      0);
  EXPECT_EQ(slurp(dir.file("self.txt")), "自分");
}

}  // namespace
