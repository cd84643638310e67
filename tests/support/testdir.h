// Temporary charset directories that tests write themselves, and the shipped
// one linked into a directory of its own.
#ifndef ZK_TEST_TESTDIR_H
#define ZK_TEST_TESTDIR_H

#include <cstdint>
#include <string>
#include <vector>

namespace zktest {

enum class Enc { Utf16LE, Utf16BE, Ucs2LE, Ucs2BE, Ucs4LE, Ucs4BE, Raw };

class TestDir {
 public:
  TestDir();   // makes a fresh directory under /tmp
  ~TestDir();  // removes it with everything in it
  TestDir(const TestDir&) = delete;
  TestDir& operator=(const TestDir&) = delete;

  // The directory with a trailing '/'.
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + name; }

  // Writes `text` (ASCII or UTF-8 source text) in the given encoding, with a
  // byte order mark when `bom` is set (the mark of UTF-16/UCS-2 is FF FE or
  // FE FF; of UCS-4 FF FE 00 00-style 4 bytes).
  void write(const std::string& name, const std::string& text, Enc enc = Enc::Utf16LE,
             bool bom = false) const;
  void writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const;
  std::vector<std::uint8_t> read(const std::string& name) const;
  bool exists(const std::string& name) const;

 private:
  std::string path_;
};

// Encodes UTF-8 source text as code points in the given form.
std::vector<std::uint8_t> encodeText(const std::string& utf8, Enc enc, bool bom);

// A rule file of the usual shape: name, rule functions, a DOCTYPE declaring
// `entities` (name, file) and a body of set elements (written verbatim).
std::string ruleFile(const std::string& name, const std::string& construle,
                     const std::string& destrule,
                     const std::vector<std::pair<std::string, std::string>>& entities,
                     const std::string& body);
// A "subseta" set file; `srtable` is the entity name of its table ("" = none).
std::string subsetA(const std::string& name, int bytenum, const std::string& srtable,
                    const std::string& defined = "");

// A fresh directory of links to data/base2 of the source tree (no compiled
// files, so none goes stale between runs; the loader writes its own beside the
// links), made the library's charset directory on first use. That is allowed
// once per process; ctest runs each case in its own.
const TestDir& shippedDir();

}  // namespace zktest

#endif
