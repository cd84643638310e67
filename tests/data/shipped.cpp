#include "shipped.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace zktest {

namespace fs = std::filesystem;

ShippedDir::ShippedDir(const std::vector<std::string>& skip) {
  fs::path src = fs::path(ZK_SOURCE_DIR) / "data" / "base2";
  for (const auto& entry : fs::directory_iterator(src)) {
    std::string name = entry.path().filename().string();
    if (std::find(skip.begin(), skip.end(), name) != skip.end()) continue;
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".cmp") == 0) continue;
    if (::symlink(entry.path().c_str(), dir_.file(name).c_str()) != 0)
      ADD_FAILURE() << "cannot link " << name;
  }
  EXPECT_EQ(KVT_setCharsetPath(dir_.path().c_str()), 1);
}

const ShippedDir& shippedDir() {
  static ShippedDir dir;
  return dir;
}

void ShippedDir::copyOver(const std::string& name) {
  Bytes b = dir_.read(name);
  ::unlink(dir_.file(name).c_str());
  dir_.writeBytes(name, b);
}

namespace {

void prepare(CconvRecord& rec, const char* source, const char* target, std::uint32_t& status) {
  std::memset(&rec, 0, sizeof rec);
  CconvDstOptions dopt{};
  dopt.outBigEndian = 1;
  CconvSrcOptions sopt{};
  sopt.inBigEndian = 1;
  status = cconvInitConvert(&rec, &dopt, target);
  if (status == CCONV_OK) status = cconvChgCharset(&rec, &sopt, source);
}

Outcome drive(CconvRecord& rec, const Bytes& in, std::size_t chunk) {
  Outcome o;
  std::vector<std::uint8_t> buf(in.size() * 8 + 64);
  rec.inBuf = in.data();
  rec.inPos = 0;
  rec.outBuf = buf.data();
  rec.outSize = static_cast<std::int32_t>(buf.size());
  rec.outPos = 0;
  std::size_t fed = chunk ? std::min(chunk, in.size()) : in.size();
  for (;;) {
    rec.inLen = static_cast<std::int32_t>(fed);
    o.status = cconvConvert(&rec);
    if (o.status == CCONV_NEED_INPUT && fed < in.size()) {
      fed = std::min(fed + chunk, in.size());
      continue;
    }
    if (o.status == CCONV_OK && fed < in.size()) {
      fed = std::min(fed + chunk, in.size());
      continue;
    }
    break;
  }
  o.inPos = rec.inPos;
  if (o.status == CCONV_OK) o.status = cconvTermConvert(&rec);
  o.out.assign(buf.begin(), buf.begin() + rec.outPos);
  return o;
}

}  // namespace

Outcome convert(const Bytes& in, const char* source, const char* target, std::size_t chunk) {
  CconvRecord rec;
  Outcome o;
  prepare(rec, source, target, o.status);
  if (o.status != CCONV_OK) return o;
  return drive(rec, in, chunk);
}

Converter::Converter(const char* source, const char* target) : source_(source), target_(target) {
  CconvRecord rec;
  std::uint32_t status = 0;
  prepare(rec, source, target, status);
  ready_ = status == CCONV_OK;
}

Outcome Converter::run(const Bytes& in) {
  // A fresh record per input: every shift state starts over.
  CconvRecord rec;
  Outcome o;
  prepare(rec, source_.c_str(), target_.c_str(), o.status);
  if (o.status != CCONV_OK) return o;
  return drive(rec, in, 0);
}

Bytes ucs4(const std::vector<std::uint32_t>& cps) {
  Bytes b;
  for (std::uint32_t c : cps)
    for (int k = 3; k >= 0; --k) b.push_back(static_cast<std::uint8_t>(c >> (8 * k)));
  return b;
}

std::vector<std::uint32_t> fromUcs4(const Bytes& b) {
  std::vector<std::uint32_t> out;
  for (std::size_t i = 0; i + 3 < b.size(); i += 4)
    out.push_back((std::uint32_t{b[i]} << 24) | (std::uint32_t{b[i + 1]} << 16) |
                  (std::uint32_t{b[i + 2]} << 8) | b[i + 3]);
  return out;
}

Bytes hexBytes(const std::string& hex) {
  Bytes b;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
    b.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  return b;
}

std::string hexString(const Bytes& b) {
  static const char* digits = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t c : b) {
    s += digits[c >> 4];
    s += digits[c & 15];
  }
  return s;
}

std::string readSourceFile(const std::string& rel) {
  std::ifstream f(std::string(ZK_SOURCE_DIR) + "/" + rel, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(f), {});
}

}  // namespace zktest
