#include "support/testdir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "zrkvt16.h"

namespace zktest {

TestDir::TestDir() {
  char tmpl[] = "/tmp/zk-test-XXXXXX";
  const char* made = mkdtemp(tmpl);
  if (!made) ADD_FAILURE() << "mkdtemp failed";
  path_ = std::string(made ? made : "/tmp") + "/";
}

TestDir::~TestDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::uint8_t> encodeText(const std::string& utf8, Enc enc, bool bom) {
  if (enc == Enc::Raw) return std::vector<std::uint8_t>(utf8.begin(), utf8.end());
  const bool big = enc == Enc::Utf16BE || enc == Enc::Ucs2BE || enc == Enc::Ucs4BE;
  const int width = (enc == Enc::Ucs4LE || enc == Enc::Ucs4BE) ? 4 : 2;
  std::vector<std::uint8_t> out;
  auto put = [&](std::uint32_t v) {
    for (int k = 0; k < width; ++k)
      out.push_back(static_cast<std::uint8_t>(v >> (big ? 8 * (width - 1 - k) : 8 * k)));
  };
  if (bom) put(0xFEFF);
  for (std::size_t i = 0; i < utf8.size();) {
    const unsigned char c = static_cast<unsigned char>(utf8[i]);
    const int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    std::uint32_t v = c & (0xFF >> (n == 1 ? 0 : n + 1));
    for (int k = 1; k < n && i + k < utf8.size(); ++k) v = (v << 6) | (utf8[i + k] & 0x3F);
    i += n;
    if (width == 2 && v > 0xFFFF && (enc == Enc::Utf16LE || enc == Enc::Utf16BE))
      put(0xD800 + ((v - 0x10000) >> 10)), put(0xDC00 + (v & 0x3FF));
    else
      put(v);
  }
  return out;
}

void TestDir::write(const std::string& name, const std::string& text, Enc enc, bool bom) const {
  writeBytes(name, encodeText(text, enc, bom));
}

void TestDir::writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const {
  std::ofstream f(path_ + name, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!f) ADD_FAILURE() << "cannot write " << path_ + name;
}

std::vector<std::uint8_t> TestDir::read(const std::string& name) const {
  std::ifstream f(path_ + name, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(f), {});
}

bool TestDir::exists(const std::string& name) const {
  return std::filesystem::exists(path_ + name);
}

std::string ruleFile(const std::string& name, const std::string& construle,
                     const std::string& destrule,
                     const std::vector<std::pair<std::string, std::string>>& entities,
                     const std::string& body) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<!DOCTYPE charset [\n";
  for (const auto& [ent, file] : entities) s += "<!ENTITY " + ent + " SYSTEM \"" + file + "\">\n";
  s += "]>\n<charset>\n<name>" + name + "</name>\n";
  if (!construle.empty() || !destrule.empty())
    s += "<rule construle=\"" + construle + "\" destrule=\"" + destrule + "\"/>\n";
  s += body + "</charset>\n";
  return s;
}

std::string subsetA(const std::string& name, int bytenum, const std::string& srtable,
                    const std::string& defined) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<subseta>\n<name>" + name +
                  "</name>\n<lang domain=\"ja\"/>\n<code bytenum=\"" + std::to_string(bytenum) +
                  "\"></code>\n";
  if (!defined.empty()) s += "<defined>" + defined + "</defined>\n";
  if (!srtable.empty()) s += "<srtable>&" + srtable + ";</srtable>\n";
  s += "</subseta>\n";
  return s;
}

const TestDir& shippedDir() {
  static TestDir dir;
  static const bool linked = [] {
    for (const auto& e : std::filesystem::directory_iterator(ZK_SOURCE_DIR "/data/base2"))
      if (e.path().extension() != ".cmp")
        std::filesystem::create_symlink(e.path(), dir.file(e.path().filename()));
    return KVT_setCharsetPath(dir.path().c_str()) == 1;
  }();
  EXPECT_TRUE(linked);
  return dir;
}

}  // namespace zktest
