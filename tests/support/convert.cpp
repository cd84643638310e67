#include "support/convert.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/registry.h"
#include "frame/state.h"
#include "tables/codetable.h"

namespace zktest {

namespace {

// Fails the host loop instead of spinning when the library stops progressing.
constexpr int kMaxCalls = 1 << 22;

}  // namespace

ConvertResult convert(const char* target, const char* source, const Bytes& input,
                      const CconvSrcOptions* src, const CconvDstOptions* dst, int inPiece,
                      int outChunk) {
  ConvertResult r{{}, CCONV_OK, 0, 0, 0};
  CconvRecord rec;
  std::memset(&rec, 0, sizeof rec);
  std::uint32_t s = cconvInitConvert(&rec, dst, target);
  if (s == CCONV_OK) s = cconvChgCharset(&rec, src, source);
  if (s != CCONV_OK) {
    r.status = s;
    return r;
  }
  const std::size_t piece = inPiece > 0 ? static_cast<std::size_t>(inPiece) : input.size() + 1;
  Bytes out(outChunk > 0 ? static_cast<std::size_t>(outChunk) : input.size() * 8 + 64);
  rec.outBuf = out.data();
  rec.outSize = static_cast<std::int32_t>(out.size());
  // After CCONV_OUTPUT_FULL: drain what was written, or, when not even one
  // character fitted, grow the room.
  auto makeRoom = [&] {
    r.out.insert(r.out.end(), out.begin(), out.begin() + rec.outPos);
    if (rec.outPos == 0) {
      out.assign(out.size() * 2, 0);
      rec.outBuf = out.data();
      rec.outSize = static_cast<std::int32_t>(out.size());
    }
    rec.outPos = 0;
  };
  Bytes pending;         // bytes handed to the library, from `base` on in the input
  std::size_t base = 0;  // input offset of pending[0]
  std::size_t fed = 0;   // input bytes moved into pending so far
  auto feed = [&] {
    const std::size_t n = std::min(piece, input.size() - fed);
    pending.insert(pending.end(), input.begin() + fed, input.begin() + fed + n);
    fed += n;
  };
  feed();
  for (int calls = 0;; ++calls) {
    if (calls > kMaxCalls) {
      ADD_FAILURE() << "conversion makes no progress";
      break;
    }
    rec.inBuf = pending.data();
    rec.inLen = static_cast<std::int32_t>(pending.size());
    s = cconvConvert(&rec);
    if (s == CCONV_OUTPUT_FULL) {
      makeRoom();
      continue;
    }
    if (s != CCONV_OK && s != CCONV_NEED_INPUT) break;
    // Keep what the library has not consumed, as a host must.
    const std::size_t used = static_cast<std::size_t>(rec.inPos);
    pending.erase(pending.begin(), pending.begin() + std::min(used, pending.size()));
    base += used;
    rec.inPos = 0;
    if (fed == input.size()) break;
    feed();
  }
  r.inPos = static_cast<std::int64_t>(base) + rec.inPos;
  if (s == CCONV_OK)
    for (int calls = 0; (s = cconvTermConvert(&rec)) == CCONV_OUTPUT_FULL && calls < 64; ++calls)
      makeRoom();
  r.status = s;
  r.out.insert(r.out.end(), out.begin(), out.begin() + rec.outPos);
  r.inChars = rec.inChars;
  r.outChars = rec.outChars;
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

void injectStart(const std::string& charsetDir) {
  KVT_setCharsetPath(charsetDir.c_str());
  cconvLoadRule();
}

namespace {

zk::CharsetDef* newSet(const std::string& name, std::uint16_t type, std::uint16_t bytenum) {
  auto* set = static_cast<zk::CharsetDef*>(std::calloc(1, sizeof(zk::CharsetDef)));
  std::snprintf(set->name, sizeof set->name, "%s", name.c_str());
  char work[260];
  std::snprintf(work, sizeof work, "%s", name.c_str());
  set->id = zk::registryCharsetId(work);
  set->type = type;
  set->bytenum = bytenum;
  set->defined = zk::ptrListCreate();
  set->toUcs = zk::ctableCreate(4, 1);
  set->toCode = zk::ctableCreate(bytenum, 0);
  zk::ptrListAppend(zk::gState.charsets, set);
  return set;
}

}  // namespace

zk::CharsetDef* injectSet(const std::string& name, std::uint16_t bytenum,
                          const std::vector<std::pair<std::uint32_t, std::uint32_t>>& pairs,
                          bool tables) {
  zk::CharsetDef* set = newSet(name, zk::kSetBase, bytenum);
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

zk::CharsetDef* injectUserArea(const std::string& name, std::uint16_t bytenum,
                               std::uint16_t defStart, std::uint16_t defNumber) {
  zk::CharsetDef* set = newSet(name, zk::kSetUserArea, bytenum);
  set->defStart = defStart;
  set->defNumber = defNumber;
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
