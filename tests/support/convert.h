// A host of the conversion calls, as a real program drives them: input fed
// in pieces (the unconsumed bytes kept after CCONV_NEED_INPUT), output
// drained whenever CCONV_OUTPUT_FULL says so, cconvTermConvert at the end.
// Plus a way to put definitions in place by hand, for tests that must not
// depend on the definition files.
#ifndef ZK_TEST_CONVERT_H
#define ZK_TEST_CONVERT_H

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "defs/defs.h"
#include "zrkvt16.h"

namespace zktest {

using Bytes = std::vector<std::uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct ConvertResult {
  Bytes out;             // everything written, term included
  std::uint32_t status;  // CCONV_OK, or the status that stopped the host
  std::int64_t inPos;    // input offset where the conversion stopped (input size when done)
  std::int32_t inChars;
  std::int32_t outChars;
};

// Converts `input` from `source` to `target`. inPiece: bytes handed over per
// step (0 = all at once). outChunk: room offered per drain (0 = plenty); when
// not even one character fits, the host doubles the room, as a host that
// grows its buffer would. Stops at CCONV_INVALID, CCONV_UNMAPPABLE,
// CCONV_ERROR, or CCONV_NEED_INPUT at the end of the input.
ConvertResult convert(const char* target, const char* source, const Bytes& input,
                      const CconvSrcOptions* src = nullptr, const CconvDstOptions* dst = nullptr,
                      int inPiece = 0, int outChunk = 0);

// Every piece size 1..7 and every output room 1..9 gives the one-shot bytes
// and status.
::testing::AssertionResult piecewiseSame(const char* target, const char* source, const Bytes& input,
                                         const CconvSrcOptions* src = nullptr,
                                         const CconvDstOptions* dst = nullptr);

std::string hex(const Bytes& b);
// "1B 24 42" or "1B2442" as bytes.
Bytes hexBytes(const std::string& text);

// `in` converted by the C library's iconv, a peer converter, with the shift
// state closed at the end; empty when iconv refuses any of it (or, with
// `skip`, the bytes of what it can convert).
Bytes peer(const char* to, const char* from, const Bytes& in, bool skip = false);

// Runs `body` in a child process (the library loads its charset directory
// once per process); true when it returned true.
bool inChild(const std::function<bool()>& body);

// Hand-made definitions, appended to the process lists after an (empty)
// loading pass. Pairs are {code, Unicode}; `tables` false leaves both tables
// unloaded, so the set maps every code to itself.
void injectStart(const std::string& charsetDir);
zk::CharsetDef* injectSet(const std::string& name, std::uint16_t bytenum,
                          const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs,
                          bool tables = true);
zk::RuleDef* injectRule(const std::string& name, const std::string& constRule,
                        const std::string& destRule, const std::vector<zk::CharsetDef*>& sets);
// Publishes the index of the charset list; call after the last inject.
void injectDone();

}  // namespace zktest

#endif
