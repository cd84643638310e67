// Hand-made rules and a decode loop for driving the EUC and ISO-2022 rule
// functions directly, without definition files.
#ifndef ZK_TEST_EUC_HANDRULE_H
#define ZK_TEST_EUC_HANDRULE_H

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <vector>

#include "defs/defs.h"
#include "rules/rules.h"

namespace zktest {

struct SetShape {
  std::uint32_t id;
  std::uint16_t type;
  std::uint16_t bytenum;
};

// A RuleDef whose charsets list holds the given sets, in order. Their code
// tables are loaded and empty, so nothing reaches them through Unicode: a
// character is placed only in the set it was decoded from.
class HandRule {
 public:
  explicit HandRule(const std::vector<SetShape>& shapes) {
    rule_ = static_cast<zk::RuleDef*>(std::calloc(1, sizeof(zk::RuleDef)));
    rule_->charsets = zk::ptrListCreate();
    for (const SetShape& s : shapes) {
      auto* set = static_cast<zk::CharsetDef*>(std::calloc(1, sizeof(zk::CharsetDef)));
      set->id = s.id;
      set->type = s.type;
      set->bytenum = s.bytenum;
      set->toCode = zk::ctableCreate(s.bytenum, 0);
      set->toCode->loaded.store(1, std::memory_order_release);
      zk::ptrListAppend(rule_->charsets, set);
      sets_.push_back(set);
    }
  }
  ~HandRule() {
    for (zk::CharsetDef* s : sets_) {
      zk::ctableDestroy(s->toCode);
      std::free(s);
    }
    zk::ptrListDestroy(rule_->charsets);
    std::free(rule_);
  }
  HandRule(const HandRule&) = delete;
  HandRule& operator=(const HandRule&) = delete;

  ::RuleDef* get() const { return reinterpret_cast<::RuleDef*>(rule_); }

 private:
  zk::RuleDef* rule_;
  std::vector<zk::CharsetDef*> sets_;
};

// One outcome of a dest call.
struct Step {
  std::uint32_t status;
  std::uint32_t charset;  // 0 unless status is CCONV_CHAR
  std::uint32_t code;
  std::int32_t inPos;
  bool operator==(const Step&) const = default;
};

inline std::ostream& operator<<(std::ostream& os, const Step& s) {
  return os << "{status " << s.status << ", charset " << s.charset << ", code 0x" << std::hex
            << s.code << std::dec << ", inPos " << s.inPos << "}";
}

inline void clearForDecode(CconvRecord* rec) {
  rec->rawCode = rec->code = rec->ucs = rec->outCode = rec->ucs2 = 0;
  rec->outUnit = rec->outSeqLen = 0;
  rec->status = CCONV_NEXT;
}

// Calls `dest` until the input is used up or needs more; invalid bytes are
// recorded and stepped over, as a skipping driver would.
template <typename Dest>
std::vector<Step> decodeAll(CconvRecord* rec, Dest dest, int maxSteps = 64) {
  std::vector<Step> steps;
  for (int i = 0; i < maxSteps; ++i) {
    clearForDecode(rec);
    dest(rec);
    Step s{rec->status, 0, 0, rec->inPos};
    if (rec->status == CCONV_CHAR) {
      s.charset = rec->inCharset;
      s.code = rec->code;
    }
    steps.push_back(s);
    if (rec->status != CCONV_CHAR && rec->status != CCONV_INVALID) break;
  }
  return steps;
}

}  // namespace zktest

#endif
