// Every rule, set and table file of the shipped directory, damaged in turn:
// cut at a random point (anywhere, or within its first 64 bytes) and with 1
// or 16 random bytes flipped. Each damaged directory is loaded in a child
// process, which converts a probe text into every encoding and back: it must
// finish within its time limit without a crash, every call must stop within
// bounds, and every encoding that does not rest on the damaged file must give
// exactly what it gives from the intact directory. (A set shared by several
// rule files is made once, from the first rule file that names it.)
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
using Rules = Results;  // encoding name -> its rule file's text

// Two pivots that share no file, so that any damaged file leaves one intact.
const char* const kPivots[] = {"iso-10646-ucs-4", "iso-10646-ucs-4-tags"};
const char kProbe[] =
    "A\\~\r\n\u00e9\u3042\u4e9c\uff71\u4e02\U0002000b\u304b\u309a\u2460\u7e8a\ue000\uac00\u554a"
    "\u4e2d\U000e0001\U000e006a\U000e0061\U0001f600";

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
    const Bytes probe = encodeText(kProbe, Enc::Ucs4BE, false);
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
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
    s += static_cast<char>(std::tolower(bytes[i]));
  return s;
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
    if (x == ".xml")
      rules[text.substr(text.find("<name>") + 6, text.find("</name>") - text.find("<name>") - 6)] =
          text;
  }
  std::sort(files.begin(), files.end());  // the same damage on every run
  ASSERT_EQ(rules.size(), 22u);
  Results intact;
  ASSERT_TRUE(probeInChild(good.string(), rules, &intact));  // also compiles every table

  std::mt19937 rng(20261206);
  int variants = 0, changed = 0;
  for (const std::string& name : files) {
    const Bytes bytes = work.read("good/" + name);
    // An encoding rests on the files its rule file names, and on another
    // rule file when the two share a set file.
    std::vector<std::string> via{name};
    for (const std::string& f : files)
      if (name.ends_with(".xml") && f.ends_with(".def") &&
          lowerText(good / name).find(f) != std::string::npos)
        via.push_back(f);
    auto rests = [&](const std::string& rule) {
      for (const std::string& f : via)
        if (rule.find(f) != std::string::npos) return true;
      return false;
    };
    for (int kind = 0; kind < 4; ++kind, ++variants) {
      Bytes damaged = bytes;
      const std::size_t cut = kind == 0 ? bytes.size() : std::min<std::size_t>(bytes.size(), 64);
      if (kind < 2) damaged.resize(rng() % cut);
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
      EXPECT_TRUE(probeInChild(dir, rules, &got))
          << "the child crashed, hung or went out of bounds";
      changed += got != intact;
      for (const char* pivot : kPivots)
        for (const auto& [e, text] : rules)
          if (!rests(rules.at(pivot)) && !rests(text)) {
            const std::string key = std::string(pivot) + ">" + e;
            EXPECT_EQ(got[key], intact[key]) << key << " does not rest on " << name;
          }
      fs::remove_all(dir);
    }
  }
  std::printf("%zu files, %d damaged copies, %d of them changed what converts\n", files.size(),
              variants, changed);
}

}  // namespace
}  // namespace zktest
