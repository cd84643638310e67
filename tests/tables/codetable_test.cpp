// PtrList, and CodeTable against a deliberately simple model: blocks of 4096
// keys in creation order, the earliest covering block answering.
#include "tables/codetable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "defs/defs.h"

namespace {

TEST(PtrList, AppendsInOrderFindsTheFirstOfAnIdAndRefusesA65536thEntry) {
  zk::PtrList* list = zk::ptrListCreate();
  zk::RuleDef a{}, b{}, c{};
  a.id = 7, b.id = 9, c.id = 9;
  EXPECT_EQ(zk::ptrListAppend(list, nullptr) + zk::ptrListAppend(nullptr, &a), 0u);
  for (zk::RuleDef* r : {&a, &b, &c}) zk::ptrListAppend(list, r);
  EXPECT_EQ(zk::ptrListFindById(list, 9), &b);
  EXPECT_EQ(zk::ptrListFindById(list, 8), nullptr);
  for (unsigned i = 4; i <= 65535; ++i) ASSERT_EQ(zk::ptrListAppend(list, &c), i);
  EXPECT_EQ(zk::ptrListAppend(list, &a), 0u);
  EXPECT_EQ(list->count, 65535);
  EXPECT_TRUE(list->items[0] == &a && list->items[65534] == &c);
  zk::ptrListDestroy(list);
}

// Against a deliberately simple model: blocks of 4096 keys made in creation
// order (the earliest covering block holds a key's value), values cut to the
// width, later stores winning; a key is found when it lies between the least
// and the greatest key stored, in a block, and its value is not 0 (key 0
// excepted). Keys over the flat and the two-level index, 0 included, and at
// the top of the key space where a block is cut short; stored one by one and
// as the records of a compiled file, in either column order.
TEST(CodeTable, AgreesWithABlockModel) {
  for (int mode = 0; mode < 6; ++mode) {
    const std::uint16_t width = mode % 3 == 0 ? 1 : mode % 3 == 1 ? 2 : 4;
    const bool bulk = mode >= 3, keyFirst = mode % 2 == 0;
    std::mt19937 rng(1234 + mode);
    std::unique_ptr<zk::CodeTable, void (*)(zk::CodeTable*)> t(zk::ctableCreate(width, 1),
                                                               zk::ctableDestroy);
    std::vector<std::uint64_t> firsts;
    std::map<std::uint32_t, std::uint32_t> values;
    auto inBlock = [&](std::uint32_t k) {
      return std::any_of(firsts.begin(), firsts.end(),
                         [k](std::uint64_t f) { return k >= f && k < f + 4096; });
    };
    std::vector<std::uint32_t> keys = {0xFFFFFFFF, 0xFFFFF800, 0x100, 0x50, 0x200, 0x1100, 0};
    // Runs of near keys, as table files have them.
    for (int i = 0; i < 3000; ++i)
      keys.push_back(i % 7 == 0 ? rng() : i % 2 ? keys.back() + rng() % 24 : rng() % 0x30000);
    // Compiled files come in pieces of any size, the edge keys last, so that
    // the key range is seen to grow piece by piece.
    if (bulk) std::rotate(keys.begin(), keys.begin() + 7, keys.end());
    std::vector<std::uint8_t> records;
    for (std::size_t i = 0; i < keys.size(); ++i) {
      const std::uint32_t v = i % 5 == 0 ? 0 : rng() % 0x3FFFF;
      if (!inBlock(keys[i])) firsts.push_back(keys[i]);
      values[keys[i]] = width >= 4 ? v : v & ((1u << (8 * width)) - 1);
      if (!bulk) {
        ASSERT_EQ(zk::ctableSet(t.get(), keys[i], v), 1);
      }
      for (std::uint32_t col : {keyFirst ? keys[i] : v, keyFirst ? v : keys[i]})
        for (int k = 0; k < 4; ++k) records.push_back(static_cast<std::uint8_t>(col >> (8 * k)));
    }
    std::uint32_t lo = ~0u, hi = 0;
    for (std::size_t i = 0, n; bulk && i < keys.size(); i += n) {
      n = std::min<std::size_t>(keys.size() - i, 1 + rng() % 100);
      ASSERT_EQ(zk::ctableSetRecords(t.get(), records.data() + 8 * i, n, keyFirst), n);
      for (std::size_t k = i; k < i + n; ++k) lo = std::min(lo, keys[k]), hi = std::max(hi, keys[k]);
      ASSERT_EQ(std::make_pair(t->minKey, t->maxKey), std::make_pair(lo, hi)) << i;
    }
    EXPECT_EQ(t->blocks->count, firsts.size());
    EXPECT_EQ(std::make_pair(t->minKey, t->maxKey),
              std::make_pair(values.begin()->first, values.rbegin()->first));
    for (std::uint32_t k : keys)
      for (std::uint32_t near : {k - 1, k, k + 1, k + 4095, k + 4096}) {
        const bool covered = near >= t->minKey && near <= t->maxKey && inBlock(near);
        const std::uint32_t want = covered && values.count(near) ? values[near] : 0;
        std::uint32_t got = 0xAAAA;
        ASSERT_EQ(zk::ctableGet(t.get(), near, &got), covered && (near == 0 || want != 0)) << near;
        ASSERT_EQ(got, covered ? want : 0xAAAA) << near;
        ASSERT_EQ(zk::ctableValue(t.get(), near), want) << near;
      }
    // Cleared (a compiled file that came up short), it is as new again.
    zk::ctableClear(t.get());
    std::uint32_t got = 0;
    for (std::uint32_t k : keys) ASSERT_FALSE(zk::ctableCovers(t.get(), k) || zk::ctableGet(t.get(), k, &got));
    EXPECT_EQ(std::make_tuple(t->blocks->count, t->minKey, t->maxKey, t->hasEntries),
              std::make_tuple(0, 0u, 0u, 0u));
    ASSERT_EQ(zk::ctableSet(t.get(), 0x2121, 7), 1);
    EXPECT_TRUE(zk::ctableGet(t.get(), 0x2121, &got) && got == 7 && t->minKey == 0x2121 &&
                t->maxKey == 0x2121 && t->blocks->count == 1);
  }
}

}  // namespace
