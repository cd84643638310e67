#include "support/convert.h"

#include <iconv.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/registry.h"
#include "frame/state.h"
#include "tables/codetable.h"

namespace zktest {

ConvertResult convert(const char* target, const char* source, const Bytes& input,
                      const CconvSrcOptions* src, const CconvDstOptions* dst, int inPiece,
                      int outChunk) {
  ConvertResult r{{}, CCONV_OK, 0, 0, 0};
  CconvRecord rec{};
  std::uint32_t s = cconvInitConvert(&rec, dst, target);
  if (s != CCONV_OK || (s = cconvChgCharset(&rec, src, source)) != CCONV_OK) return r.status = s, r;
  const std::size_t piece = inPiece > 0 ? static_cast<std::size_t>(inPiece) : input.size() + 1;
  Bytes out(outChunk > 0 ? static_cast<std::size_t>(outChunk) : input.size() * 8 + 64);
  // Drains what was written; when not even one character fitted, grows the room.
  // The room is filled with a mark: a call that does not report a full
  // buffer leaves every byte past outPos as it was. (One that does may have
  // begun a language tag it then took back.)
  constexpr std::uint8_t kMark = 0xA5;
  auto makeRoom = [&](bool grow) {
    r.out.insert(r.out.end(), out.begin(), out.begin() + rec.outPos);
    if (grow && rec.outPos == 0) out.resize(out.size() * 2);
    std::fill(out.begin(), out.end(), kMark);
    rec.outBuf = out.data(), rec.outSize = static_cast<std::int32_t>(out.size()), rec.outPos = 0;
  };
  auto checkPastEnd = [&] {
    if (s == CCONV_OUTPUT_FULL) return;
    for (std::size_t i = static_cast<std::size_t>(std::max(rec.outPos, 0)); i < out.size(); ++i)
      if (out[i] != kMark) {
        ADD_FAILURE() << "byte " << i << " past outPos " << rec.outPos << " written";
        break;
      }
  };
  makeRoom(false);
  Bytes pending;                  // bytes handed to the library, from `base` on in the input
  std::size_t base = 0, fed = 0;  // fed: input bytes moved into pending so far
  for (int calls = 0; calls < (1 << 22) || (ADD_FAILURE() << "no progress", false); ++calls) {
    if (rec.inPos == 0 && fed < input.size() &&
        (calls == 0 || s == CCONV_NEED_INPUT || s == CCONV_OK)) {
      const std::size_t n = std::min(piece, input.size() - fed);
      pending.insert(pending.end(), input.begin() + fed, input.begin() + fed + n);
      fed += n;
    }
    rec.inBuf = pending.data(), rec.inLen = static_cast<std::int32_t>(pending.size());
    s = cconvConvert(&rec);
    checkPastEnd();
    if (s == CCONV_OUTPUT_FULL) {
      makeRoom(true);
      continue;
    }
    if (s != CCONV_OK && s != CCONV_NEED_INPUT) break;
    // Keep what the library has not consumed, as a host must.
    const std::size_t used = std::min<std::size_t>(rec.inPos, pending.size());
    pending.erase(pending.begin(), pending.begin() + used);
    base += used, rec.inPos = 0;
    if (fed == input.size()) break;
  }
  r.inPos = static_cast<std::int64_t>(base) + rec.inPos;
  for (int calls = 0; s == CCONV_OK; ++calls) {
    s = cconvTermConvert(&rec);
    checkPastEnd();
    if (s != CCONV_OUTPUT_FULL || calls == 63) break;
    makeRoom(true), s = CCONV_OK;
  }
  r.status = s;
  makeRoom(false);
  r.inChars = rec.inChars, r.outChars = rec.outChars;
  return r;
}

::testing::AssertionResult piecewiseSame(const char* target, const char* source, const Bytes& input,
                                         const CconvSrcOptions* src, const CconvDstOptions* dst) {
  const ConvertResult whole = convert(target, source, input, src, dst);
  for (int piece = 1; piece <= 7; ++piece) {
    for (int chunk = 1; chunk <= 9; ++chunk) {
      const ConvertResult part = convert(target, source, input, src, dst, piece, chunk);
      if (part.out != whole.out || part.status != whole.status || part.inPos != whole.inPos ||
          part.outChars != whole.outChars)
        return ::testing::AssertionFailure()
               << "piece " << piece << ", room " << chunk << ": " << hex(part.out) << " status "
               << part.status << " at " << part.inPos << "; one shot: " << hex(whole.out)
               << " status " << whole.status << " at " << whole.inPos;
    }
  }
  return ::testing::AssertionSuccess() << hex(whole.out);
}

std::string hex(const Bytes& b) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string s;
  for (std::uint8_t c : b)
    s += std::string(s.empty() ? "" : " ") + kDigits[c >> 4] + kDigits[c & 15];
  return s;
}

Bytes hexBytes(const std::string& text) {
  Bytes b;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (text[i] != ' ')
      b.push_back(static_cast<std::uint8_t>(std::stoul(text.substr(i++, 2), nullptr, 16)));
  return b;
}

Bytes peer(const char* to, const char* from, const Bytes& in, bool skip) {
  iconv_t cd = iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return {};
  Bytes out(in.size() * 8 + 16);
  char* ip = const_cast<char*>(reinterpret_cast<const char*>(in.data()));
  char* op = reinterpret_cast<char*>(out.data());
  std::size_t il = in.size(), ol = out.size(), rc;
  while ((rc = iconv(cd, &ip, &il, &op, &ol)) == static_cast<std::size_t>(-1) && skip && il > 0)
    ++ip, --il;  // skip what the target cannot take
  if (rc != static_cast<std::size_t>(-1)) rc = iconv(cd, nullptr, nullptr, &op, &ol);
  iconv_close(cd);
  if (!skip && (rc == static_cast<std::size_t>(-1) || il != 0)) return {};
  out.resize(out.size() - ol);
  return out;
}

bool inChild(const std::function<bool()>& body) {
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body() ? 0 : 1);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void injectStart(const std::string& charsetDir) {
  KVT_setCharsetPath(charsetDir.c_str());
  cconvLoadRule();
}

zk::CharsetDef* injectSet(const std::string& name, std::uint16_t bytenum,
                          const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs,
                          bool tables) {
  auto* set = static_cast<zk::CharsetDef*>(std::calloc(1, sizeof(zk::CharsetDef)));
  std::snprintf(set->name, sizeof set->name, "%s", name.c_str());
  std::string work = name;  // the id of the whole name, however long
  set->id = zk::registryCharsetId(work.data());
  set->type = zk::kSetBase, set->bytenum = bytenum;
  set->defined = zk::ptrListCreate();
  set->toUcs = zk::ctableCreate(4, 1);
  set->toCode = zk::ctableCreate(bytenum, 0);
  zk::ptrListAppend(zk::gState.charsets, set);
  if (tables) {
    for (const auto& [code, ucs] : pairs) {
      zk::ctableSet(set->toUcs, code, ucs);
      zk::ctableSet(set->toCode, ucs, code);
    }
    set->toUcs->loaded.store(1, std::memory_order_release);
    set->toCode->loaded.store(1, std::memory_order_release);
  }
  return set;
}

zk::RuleDef* injectRule(const std::string& name, const std::string& constRule,
                        const std::string& destRule, const std::vector<zk::CharsetDef*>& sets) {
  auto* rule = static_cast<zk::RuleDef*>(std::calloc(1, sizeof(zk::RuleDef)));
  std::snprintf(rule->name, sizeof rule->name, "%s", name.c_str());
  std::string work = name;  // the id of the whole name, however long
  rule->id = zk::registryCharsetId(work.data());
  std::snprintf(rule->constRule, sizeof rule->constRule, "%s", constRule.c_str());
  std::snprintf(rule->destRule, sizeof rule->destRule, "%s", destRule.c_str());
  rule->charsets = zk::ptrListCreate();
  rule->dsTables = zk::ptrListCreate();
  for (zk::CharsetDef* set : sets) {
    zk::ptrListAppend(rule->charsets, set);
    zk::ptrListAppend(rule->dsTables, zk::ptrListCreate());
  }
  zk::ptrListAppend(zk::gState.rules, rule);
  return rule;
}

void injectDone() { zk::stateIndexCharsets(); }

}  // namespace zktest
