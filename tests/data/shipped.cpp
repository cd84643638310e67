#include "shipped.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace zktest {

namespace {
struct Shipped {
  TestDir dir;
  Shipped() {
    for (const auto& e : std::filesystem::directory_iterator(ZK_SOURCE_DIR "/data/base2"))
      if (e.path().extension() != ".cmp" &&
          ::symlink(e.path().c_str(), dir.file(e.path().filename()).c_str()))
        ADD_FAILURE() << "cannot link " << e.path();
    EXPECT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1);
  }
};
}  // namespace

const TestDir& shippedDir() {
  static Shipped shipped;
  return shipped.dir;
}

ConvertResult run(const Bytes& in, const char* source, const char* target, int piece) {
  return convert(target, source, in, &kSrcBE, &kDstBE, piece);
}

std::optional<Cps> decode(const Bytes& in, const char* source) {
  ConvertResult r = run(in, source, "ISO-10646-UCS-4");
  if (r.status != CCONV_OK) return std::nullopt;
  return fromUcs4(r.out);
}

Bytes ucs4(const Cps& cps) {
  Bytes b;
  for (std::uint32_t c : cps)
    for (int k = 3; k >= 0; --k) b.push_back(static_cast<std::uint8_t>(c >> (8 * k)));
  return b;
}

Cps fromUcs4(const Bytes& b) {
  Cps out;
  for (std::size_t i = 0; i + 3 < b.size(); i += 4)
    out.push_back(std::uint32_t{b[i]} << 24 | b[i + 1] << 16 | b[i + 2] << 8 | b[i + 3]);
  return out;
}

Bytes utf16(const Cps& cps) {
  Bytes b;
  for (std::uint32_t c : cps) {
    Cps units = c > 0xFFFF ? Cps{0xD7C0 + (c >> 10), 0xDC00 + (c & 0x3FF)} : Cps{c};
    for (std::uint32_t u : units) b.insert(b.end(), {std::uint8_t(u >> 8), std::uint8_t(u)});
  }
  return b;
}

Bytes hexBytes(const std::string& hex) {
  Bytes b;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    b.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return b;
}

std::string hexString(const Bytes& b) {
  std::string s = hex(b);  // "82 A0 "
  std::erase(s, ' ');
  return s;
}

Reference loadReference(const std::string& codec) {
  Reference ref;
  std::ifstream in(ZK_SOURCE_DIR "/tests/data/ref/" + codec + ".txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream ls(line);
    std::string kind, a, b, flag;
    ls >> kind >> a >> b >> flag;
    if (kind == "D") {
      Cps cps;
      std::istringstream cs(b);
      for (std::string part; std::getline(cs, part, ',');)
        cps.push_back(std::stoul(part, nullptr, 16));
      ref.decodes.push_back({hexBytes(a), cps, flag == "R"});
    } else if (kind == "X") {
      ref.rejected.push_back(hexBytes(a));
    } else if (kind == "E") {
      ref.encodes.push_back({static_cast<std::uint32_t>(std::stoul(a, nullptr, 16)), hexBytes(b)});
    }
  }
  return ref;
}

Bytes eucJpFix(const Bytes& b) {
  if (b.size() == 1) return b[0] < 0x7F ? Bytes{0x00, b[0]} : Bytes{};
  if (b.size() == 2) return b[0] == 0x8E ? Bytes{0x00, b[1]} : b;
  return {b[1], static_cast<std::uint8_t>(b[2] & 0x7F)};
}

}  // namespace zktest
