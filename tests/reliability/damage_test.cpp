// Every rule, set and table file of the shipped directory, damaged in turn:
// cut at a random point (anywhere, or within its first 64 bytes) and with 1
// or 16 random bytes flipped. Each damaged directory is loaded in a child
// process, which converts a probe text into every encoding and back: it must
// finish within its time limit without a crash, every call must stop within
// bounds, and every encoding that does not rest on the damaged file must give
// exactly what it gives from the intact directory. (An encoding rests on a
// file that its rule file names; on another rule file, when the two share a
// set, since a set is made once, from the first rule file that names it.)
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <random>

#include "support/convert.h"
#include "support/testdir.h"

namespace zktest {
namespace {

namespace fs = std::filesystem;
using Results = std::map<std::string, std::string>;
using Rules = std::map<std::string, std::string>;  // encoding name -> its rule file's text

// Two pivots that share no file, so that any damaged file leaves one intact.
const char* const kPivots[] = {"iso-10646-ucs-4", "iso-10646-ucs-4-tags"};
const std::vector<std::uint32_t> kProbe = {
    'A', '\\', '~', 0x0D, 0x0A, 0xE9, 0x3042, 0x4E9C, 0xFF71, 0x4E02, 0x2000B, 0x304B, 0x309A,
    0x2460, 0x7E8A, 0xE000, 0xAC00, 0x554A, 0x4E2D, 0xE0001, 0xE006A, 0xE0061, 0x1F600};

// Loads `dir` in a child process, which converts the probe from each pivot
// into each encoding and back (statuses and bytes, as text). False when the
// child crashed, hung or saw a call out of bounds.
bool probeInChild(const std::string& dir, const Rules& rules, Results* results) {
  const std::string file = dir + "../results";
  std::fflush(nullptr);
  if (fork() == 0) {
    alarm(60);
    const bool failedBefore = ::testing::Test::HasFailure();
    const CconvSrcOptions src{1, 0, 0};
    const CconvDstOptions dst{1, 0, 1, 0, {}, 0, 0, 0};
    KVT_setCharsetPath(dir.c_str());
    Bytes probe;
    for (std::uint32_t c : kProbe)
      for (int k = 3; k >= 0; --k) probe.push_back(static_cast<std::uint8_t>(c >> (8 * k)));
    std::ofstream o(file);
    for (const char* pivot : kPivots)
      for (const auto& [e, text] : rules) {
        ConvertResult there = convert(e.c_str(), pivot, probe, &src, &dst);
        ConvertResult back = convert(pivot, e.c_str(), there.out, &src, &dst);
        o << pivot << '>' << e << '\t' << there.status << ' ' << hex(there.out) << " / "
          << back.status << ' ' << hex(back.out) << '\n';
      }
    o.close();
    _exit(o && ::testing::Test::HasFailure() == failedBefore ? 0 : 1);
  }
  int status = 0;
  wait(&status);
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);)
    (*results)[line.substr(0, line.find('\t'))] = line.substr(line.find('\t') + 1);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string lowerText(const fs::path& p) {  // a UTF-16 file's ASCII, lower-cased
  std::ifstream f(p, std::ios::binary);
  std::string s, bytes{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) s += static_cast<char>(std::tolower(bytes[i]));
  return s;
}

// Whether the encoding of rule text `rule` rests on file `name`: its rule
// file names it, or `name` is a rule file that names one of its set files.
bool restsOn(const std::string& rule, const std::string& name, const fs::path& dir) {
  if (rule.find(name) != std::string::npos) return true;
  if (fs::path(name).extension() != ".xml") return false;
  const std::string other = lowerText(dir / name);
  for (std::size_t at = 0; (at = other.find(".def\"", at)) != std::string::npos; ++at)
    if (rule.find(other.substr(other.rfind('"', at) + 1, at - other.rfind('"', at) + 3)) != std::string::npos)
      return true;
  return false;
}

TEST(Damage, EveryShippedFileCutOrFlipped) {
  TestDir work;
  const fs::path good = work.file("good/");
  fs::create_directory(good);
  std::vector<std::string> files;
  Rules rules;
  for (const auto& e : fs::directory_iterator(ZK_SOURCE_DIR "/data/base2")) {
    const fs::path x = e.path().extension();
    if (x != ".xml" && x != ".def" && x != ".txt") continue;
    fs::copy_file(e.path(), good / e.path().filename());
    files.push_back(e.path().filename());
    const std::string text = lowerText(e.path());
    if (x == ".xml") rules[text.substr(text.find("<name>") + 6, text.find("</name>") - text.find("<name>") - 6)] = text;
  }
  std::sort(files.begin(), files.end());  // the same damage on every run
  ASSERT_EQ(rules.size(), 22u);
  Results intact;
  ASSERT_TRUE(probeInChild(good.string(), rules, &intact));  // also compiles every table

  std::mt19937 rng(20261206);
  int variants = 0, changed = 0;
  for (const std::string& name : files) {
    const Bytes bytes = work.read("good/" + name);
    for (int kind = 0; kind < 4; ++kind, ++variants) {
      Bytes damaged = bytes;
      if (kind < 2) damaged.resize(rng() % (kind == 0 ? bytes.size() : std::min<std::size_t>(bytes.size(), 64)));
      for (int k = 0; kind >= 2 && k < (kind == 2 ? 1 : 16); ++k)
        damaged[rng() % damaged.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
      // A damaged table file is compiled anew; everything else is linked.
      const std::string sub = std::to_string(variants) + "/", dir = work.file(sub);
      fs::create_directory(dir);
      for (const auto& e : fs::directory_iterator(good))
        if (e.path().filename() != name &&
            (fs::path(name).extension() != ".txt" || e.path().stem() != fs::path(name).stem()))
          fs::create_hard_link(e.path(), dir / e.path().filename());
      work.writeBytes(sub + name, damaged);
      Results got;
      SCOPED_TRACE(name + " damage " + std::to_string(kind));
      EXPECT_TRUE(probeInChild(dir, rules, &got)) << "the child crashed, hung or went out of bounds";
      changed += got != intact;
      for (const char* pivot : kPivots)
        for (const auto& [e, text] : rules)
          if (!restsOn(rules.at(pivot), name, good) && !restsOn(text, name, good)) {
            const std::string key = std::string(pivot) + ">" + e;
            EXPECT_EQ(got[key], intact[key]) << key << " does not rest on " << name;
          }
      fs::remove_all(dir);
    }
  }
  EXPECT_EQ(variants, 4 * static_cast<int>(files.size()));
  std::printf("%zu files, %d damaged copies, %d of them changed what converts\n", files.size(),
              variants, changed);
}

}  // namespace
}  // namespace zktest
