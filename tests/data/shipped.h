// The shipped charset directory, reached from tests through a private copy.
#ifndef ZK_TEST_SHIPPED_H
#define ZK_TEST_SHIPPED_H

#include <cstdint>
#include <string>
#include <vector>

#include "support/testdir.h"
#include "zrkvt16.h"

namespace zktest {

using Bytes = std::vector<std::uint8_t>;

// A fresh directory whose files link to data/base2 of the source tree, so
// that compiled tables are written there and never go stale between runs.
// `skip` names files to leave out. The library is pointed at it, which it
// allows once per process: ctest runs every test case in a process of its
// own; tests that share a process use shippedDir().
class ShippedDir {
 public:
  explicit ShippedDir(const std::vector<std::string>& skip = {});
  const TestDir& dir() const { return dir_; }
  // Replaces a linked file by a copy the test may change.
  void copyOver(const std::string& name);

 private:
  TestDir dir_;
};

struct Outcome {
  std::uint32_t status = 0;  // of the last call: CCONV_OK when all went through
  Bytes out;
  std::int32_t inPos = 0;
};

// One-shot conversion with row byte first on both sides; the output buffer
// is large enough. `chunks` > 1 feeds the input in pieces of that many bytes.
// The process's one ShippedDir, made on first use.
const ShippedDir& shippedDir();

Outcome convert(const Bytes& in, const char* source, const char* target, std::size_t chunk = 0);

// A reusable conversion for many small inputs of one encoding pair.
class Converter {
 public:
  Converter(const char* source, const char* target);
  Outcome run(const Bytes& in);
  bool ready() const { return ready_; }

 private:
  std::string source_;
  std::string target_;
  bool ready_ = false;
};

Bytes ucs4(const std::vector<std::uint32_t>& cps);
std::vector<std::uint32_t> fromUcs4(const Bytes& b);
Bytes hexBytes(const std::string& hex);
std::string hexString(const Bytes& b);

// Reads `rel` below the source tree.
std::string readSourceFile(const std::string& rel);

}  // namespace zktest

#endif
