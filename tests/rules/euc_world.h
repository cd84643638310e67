// End-to-end set-up for the EUC and ISO-2022 conversions: a private copy of
// the shipped definitions of the Japanese encodings (the loader writes its
// compiled tables beside them, so the source tree is never touched), and
// the C library's iconv as an independent peer.
#ifndef ZK_TEST_EUC_WORLD_H
#define ZK_TEST_EUC_WORLD_H

#include <iconv.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "support/convert.h"
#include "support/testdir.h"
#include "zrkvt16.h"

namespace zktest {

// The charset directory can be set once per process, so one copy serves
// every test that runs in it; it is removed at exit.
inline void useShippedJapanese() {
  static TestDir dir;
  static bool ready = false;
  if (ready) return;
  static const char* const kFiles[] = {"euc-jp.xml",
                                       "euc-jis-2004.xml",
                                       "euc-jp-fix.xml",
                                       "iso-2022-jp.xml",
                                       "iso-2022-jp-2004.xml",
                                       "shift_jis.xml",
                                       "shift_jis-2004.xml",
                                       "utf-8.xml",
                                       "iso646irv.def",
                                       "ascii.txt",
                                       "yen.txt",
                                       "jisx0201kana.def",
                                       "jisx0201kana.txt",
                                       "jisx0201latin.def",
                                       "jisx0201latin.txt",
                                       "jisx0208.def",
                                       "jisx0208.txt",
                                       "jisx0212.def",
                                       "jisx0212.txt",
                                       "jisx0213.def",
                                       "jisx0213.txt",
                                       "jisc6226.def",
                                       "ucs.def"};
  const std::filesystem::path from = std::filesystem::path(ZK_SOURCE_DIR) / "data" / "base2";
  for (const char* f : kFiles) std::filesystem::copy_file(from / f, dir.file(f));
  KVT_setCharsetPath(dir.path().c_str());
  ready = true;
}

// Converts `in` with iconv; empty when iconv refuses any of it.
inline Bytes iconvPeer(const char* to, const char* from, const Bytes& in) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  Bytes out(in.size() * 8 + 16);
  char* ip = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
  std::size_t il = in.size();
  char* op = reinterpret_cast<char*>(out.data());
  std::size_t ol = out.size();
  std::size_t rc = iconv(cd, &ip, &il, &op, &ol);
  if (rc != static_cast<std::size_t>(-1)) rc = iconv(cd, nullptr, nullptr, &op, &ol);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1) || il != 0) return {};
  out.resize(out.size() - ol);
  return out;
}

// Double-byte legacy targets are written row byte first only when asked.
inline const CconvDstOptions* rowFirst() {
  static const CconvDstOptions o = [] {
    CconvDstOptions d{};
    d.outBigEndian = 1;
    return d;
  }();
  return &o;
}

inline Bytes utf8(const std::string& s) { return Bytes(s.begin(), s.end()); }

}  // namespace zktest

#endif
