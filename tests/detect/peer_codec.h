// Text in the legacy encodings, made by the C library's iconv (a peer
// converter), so that the detection tests do not depend on our own encoders.
#ifndef ZK_TEST_PEER_CODEC_H
#define ZK_TEST_PEER_CODEC_H

#include <iconv.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <vector>

namespace zkdetect {

// Converts `in` from `from` to `to`; characters the target lacks are
// dropped. Returns false when iconv cannot open the pair.
inline bool peerConvert(const std::string& in, const char* from, const char* to,
                        std::vector<std::uint8_t>* out) {
  const std::string target = std::string(to) + "//IGNORE";
  iconv_t cd = iconv_open(target.c_str(), from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out->clear();
  std::vector<char> src(in.begin(), in.end());
  char* inp = src.data();
  std::size_t inLeft = src.size();
  char chunk[4096];
  while (true) {
    char* outp = chunk;
    std::size_t outLeft = sizeof chunk;
    const std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
    out->insert(out->end(), chunk, outp);
    if (r != static_cast<std::size_t>(-1)) {
      if (inLeft == 0) break;
      continue;
    }
    if (errno == E2BIG) continue;
    if (errno == EILSEQ && inLeft > 0) {  // skip what the target cannot take
      ++inp;
      --inLeft;
      continue;
    }
    break;
  }
  // Return to the initial shift state (ISO-2022-JP ends in ASCII).
  char* outp = chunk;
  std::size_t outLeft = sizeof chunk;
  iconv(cd, nullptr, nullptr, &outp, &outLeft);
  out->insert(out->end(), chunk, outp);
  iconv_close(cd);
  return true;
}

}  // namespace zkdetect

#endif
