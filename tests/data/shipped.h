// Conversions through the shipped charset directory, and the reference
// vectors of tests/data/ref.
#ifndef ZK_TEST_SHIPPED_H
#define ZK_TEST_SHIPPED_H

#include <optional>
#include <string>

#include "support/convert.h"
#include "support/testdir.h"

namespace zktest {

using Cps = std::vector<std::uint32_t>;

// A fresh directory of links to data/base2 of the source tree (no compiled
// files, so none goes stale between runs), made the library's charset path
// on first use. That is allowed once per process; ctest runs each case in its own.
const TestDir& shippedDir();

// Row byte first on both sides.
inline const CconvSrcOptions kSrcBE{1, 0, 0};
inline const CconvDstOptions kDstBE{1, 0, 0, 0, {}, 0, 0, 0};
// `in` from `source` to `target` in that order, fed `piece` bytes at a time
// (0: all at once).
ConvertResult run(const Bytes& in, const char* source, const char* target, int piece = 0);
// The code points `in` decodes to, or nullopt when it does not convert.
std::optional<Cps> decode(const Bytes& in, const char* source);

Bytes ucs4(const Cps& cps);
Cps fromUcs4(const Bytes& b);
Bytes utf16(const Cps& cps);
Bytes hexBytes(const std::string& hex);
std::string hexString(const Bytes& b);

// A file of tests/data/ref (tools/gen_reference.py): D lines (bytes, code
// points, whether Python writes them back), X lines (rejected bytes), E lines
// (a character and the bytes Python writes for it).
struct Reference {
  struct Dec {
    Bytes bytes;
    Cps cps;
    bool roundTrip;
  };
  std::vector<Dec> decodes;
  std::vector<Bytes> rejected;
  std::vector<std::pair<std::uint32_t, Bytes>> encodes;
};
Reference loadReference(const std::string& codec);

// The EUC-JP-FIX form of an EUC-JP code (00 xx for single bytes and SS2, the
// JIS X 0212 code with the high bit of its first byte only), empty for none.
Bytes eucJpFix(const Bytes& b);

}  // namespace zktest

#endif
