#include "support/testdir.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

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

namespace {

std::vector<std::uint32_t> codePoints(const std::string& s) {
  std::vector<std::uint32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    std::uint32_t v = n == 1 ? c : n == 2 ? (c & 0x1F) : n == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < n && i + k < s.size(); ++k) v = (v << 6) | (s[i + k] & 0x3F);
    out.push_back(v);
    i += n;
  }
  return out;
}

void put(std::vector<std::uint8_t>& out, std::uint32_t v, int width, bool big) {
  for (int k = 0; k < width; ++k) {
    int shift = big ? 8 * (width - 1 - k) : 8 * k;
    out.push_back(static_cast<std::uint8_t>(v >> shift));
  }
}

}  // namespace

std::vector<std::uint8_t> encodeText(const std::string& utf8, Enc enc, bool bom) {
  std::vector<std::uint8_t> out;
  if (enc == Enc::Raw) return std::vector<std::uint8_t>(utf8.begin(), utf8.end());
  bool big = enc == Enc::Utf16BE || enc == Enc::Ucs2BE || enc == Enc::Ucs4BE;
  int width = (enc == Enc::Ucs4LE || enc == Enc::Ucs4BE) ? 4 : 2;
  if (bom) put(out, 0xFEFF, width, big);
  for (std::uint32_t cp : codePoints(utf8)) {
    if (width == 2 && cp > 0xFFFF && (enc == Enc::Utf16LE || enc == Enc::Utf16BE)) {
      cp -= 0x10000;
      put(out, 0xD800 + (cp >> 10), 2, big);
      put(out, 0xDC00 + (cp & 0x3FF), 2, big);
    } else {
      put(out, cp, width, big);
    }
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
  struct stat st;
  return ::stat((path_ + name).c_str(), &st) == 0;
}

std::string ruleFile(const std::string& name, const std::string& construle,
                     const std::string& destrule,
                     const std::vector<std::pair<std::string, std::string>>& entities,
                     const std::string& body) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-16\"?>\n<!DOCTYPE charset [\n";
  for (const auto& [ent, file] : entities)
    s += "<!ENTITY " + ent + " SYSTEM \"" + file + "\">\n";
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

}  // namespace zktest
