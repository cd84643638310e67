// PtrList and CodeTable: the block rules, checked on the documented cases and
// against a deliberately simple model of blocks in creation order.
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "defs/defs.h"
#include "tables/codetable.h"
#include "tables/ptrlist.h"

namespace {

using zk::CodeTable;

struct TableDeleter {
  void operator()(CodeTable* t) const { zk::ctableDestroy(t); }
};
using TablePtr = std::unique_ptr<CodeTable, TableDeleter>;
TablePtr makeTable(std::uint16_t width) { return TablePtr(zk::ctableCreate(width, 1)); }

TEST(PtrList, AppendsInOrderAndRefusesWhatItCannotHold) {
  zk::PtrList* list = zk::ptrListCreate();
  ASSERT_NE(list, nullptr);
  int a = 1, b = 2;
  EXPECT_EQ(zk::ptrListAppend(list, &a), 1u);
  EXPECT_EQ(zk::ptrListAppend(list, &b), 2u);
  EXPECT_EQ(zk::ptrListAppend(list, nullptr), 0u);
  EXPECT_EQ(zk::ptrListAppend(nullptr, &a), 0u);
  EXPECT_EQ(list->count, 2);
  EXPECT_EQ(list->items[0], &a);
  EXPECT_EQ(list->items[1], &b);
  for (int i = 2; i < 65535; ++i) ASSERT_EQ(zk::ptrListAppend(list, &a), static_cast<unsigned>(i + 1));
  EXPECT_EQ(zk::ptrListAppend(list, &b), 0u) << "the 65536th entry must be refused";
  EXPECT_EQ(list->count, 65535);
  EXPECT_EQ(list->items[65534], &a);
  zk::ptrListDestroy(list);
}

TEST(PtrList, FindByIdReturnsTheFirstOfEqualIds) {
  zk::PtrList* list = zk::ptrListCreate();
  zk::RuleDef r1{}, r2{}, r3{};
  r1.id = 7;
  r2.id = 9;
  r3.id = 9;
  zk::ptrListAppend(list, &r1);
  zk::ptrListAppend(list, &r2);
  zk::ptrListAppend(list, &r3);
  EXPECT_EQ(zk::ptrListFindById(list, 9), &r2);
  EXPECT_EQ(zk::ptrListFindById(list, 8), nullptr);
  zk::CharsetDef c{};
  c.id = 2006;
  zk::ptrListAppend(list, &c);
  EXPECT_EQ(zk::ptrListFindById(list, 2006), &c);
  zk::ptrListDestroy(list);
}

TEST(CodeTable, CreatedEmpty) {
  TablePtr t = makeTable(2);
  EXPECT_EQ(t->minKey, 0u);
  EXPECT_EQ(t->maxKey, 0u);
  EXPECT_EQ(t->loadAttempts, -1);
  EXPECT_FALSE(zk::ctableIsLoaded(t.get()));
  std::uint32_t v = 99;
  EXPECT_FALSE(zk::ctableGet(t.get(), 0, &v));
  EXPECT_EQ(v, 99u);
  EXPECT_EQ(t->blocks->count, 0);
}

TEST(CodeTable, KeyZeroIsFoundWhenCoveredWhateverItsValue) {
  TablePtr t = makeTable(4);
  ASSERT_EQ(zk::ctableSet(t.get(), 0, 0), 1);
  std::uint32_t v = 99;
  EXPECT_TRUE(zk::ctableGet(t.get(), 0, &v));
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(zk::ctableValue(t.get(), 0), 0u);
  // Another key in the same block with no value: not found, value written.
  v = 99;
  EXPECT_FALSE(zk::ctableGet(t.get(), 5, &v));
  EXPECT_EQ(t->hasEntries, 1u);
}

TEST(CodeTable, UnmappedKeyInsideBlockAndRange) {
  TablePtr t = makeTable(2);
  zk::ctableSet(t.get(), 0x10, 1);
  zk::ctableSet(t.get(), 0x20, 2);
  std::uint32_t v = 7;
  EXPECT_FALSE(zk::ctableGet(t.get(), 0x15, &v));
  EXPECT_EQ(v, 0u);
  EXPECT_EQ(zk::ctableValue(t.get(), 0x15), 0u);
  EXPECT_EQ(zk::ctableValue(t.get(), 0x20), 2u);
  EXPECT_EQ(zk::ctableValue(t.get(), 0x21), 0u) << "outside [minKey, maxKey]";
}

TEST(CodeTable, OverlappingBlocksUseTheEarliestCoveringBlock) {
  TablePtr t = makeTable(2);
  zk::ctableSet(t.get(), 0x100, 1);
  zk::ctableSet(t.get(), 0x50, 2);
  ASSERT_EQ(t->blocks->count, 2);
  auto* second = static_cast<zk::CodeBlock*>(t->blocks->items[1]);
  EXPECT_EQ(second->firstKey, 0x50u);
  EXPECT_EQ(second->limitKey, 0x1050u);
  zk::ctableSet(t.get(), 0x200, 3);
  EXPECT_EQ(t->blocks->count, 2) << "0x200 lies in the first block";
  EXPECT_EQ(zk::ctableValue(t.get(), 0x200), 3u);
  // 0x1100 lies past both (0x100-0x10FF and 0x50-0x104F): a third block.
  zk::ctableSet(t.get(), 0x1100, 4);
  EXPECT_EQ(t->blocks->count, 3);
  EXPECT_EQ(t->minKey, 0x50u);
  EXPECT_EQ(t->maxKey, 0x1100u);
}

TEST(CodeTable, ValuesAreCutToTheWidthAndLaterStoresWin) {
  TablePtr t = makeTable(2);
  zk::ctableSet(t.get(), 0x41, 0x12345);
  EXPECT_EQ(zk::ctableValue(t.get(), 0x41), 0x2345u);
  zk::ctableSet(t.get(), 0x41, 0x99);
  EXPECT_EQ(zk::ctableValue(t.get(), 0x41), 0x99u);
  TablePtr one = makeTable(1);
  zk::ctableSet(one.get(), 1, 0x1FF);
  EXPECT_EQ(zk::ctableValue(one.get(), 1), 0xFFu);
  TablePtr wide = makeTable(16);
  zk::ctableSet(wide.get(), 1, 0xDEADBEEF);
  EXPECT_EQ(zk::ctableValue(wide.get(), 1), 0xDEADBEEFu);
}

TEST(CodeTable, KeysAtTheTopOfTheKeySpaceAreStored) {
  TablePtr t = makeTable(4);
  ASSERT_EQ(zk::ctableSet(t.get(), 0xFFFFFFFF, 5), 1);
  ASSERT_EQ(zk::ctableSet(t.get(), 0xFFFFF800, 6), 1);
  EXPECT_EQ(t->blocks->count, 2);
  EXPECT_EQ(zk::ctableValue(t.get(), 0xFFFFFFFF), 5u);
  EXPECT_EQ(zk::ctableValue(t.get(), 0xFFFFF800), 6u);
  // The second block reaches past the first: 0xFFFFFFFF stays in the first.
  zk::ctableSet(t.get(), 0xFFFFFFFF, 7);
  EXPECT_EQ(t->blocks->count, 2);
  EXPECT_EQ(zk::ctableValue(t.get(), 0xFFFFFFFF), 7u);
}

// A simple model: blocks in creation order, each a map of 4096 entries.
struct ModelTable {
  struct Block {
    std::uint64_t first;
    std::vector<std::uint32_t> data;
  };
  std::vector<Block> blocks;
  std::uint32_t width, minKey = 0, maxKey = 0;
  bool hasEntries = false;
  Block* covering(std::uint32_t k) {
    for (Block& b : blocks)
      if (k >= b.first && k < b.first + 4096) return &b;
    return nullptr;
  }
  void set(std::uint32_t k, std::uint32_t v) {
    Block* b = covering(k);
    if (!b) {
      blocks.push_back({k, std::vector<std::uint32_t>(4096, 0)});
      b = &blocks.back();
    }
    std::uint32_t mask = width >= 4 ? 0xFFFFFFFFu : (1u << (8 * width)) - 1;
    b->data[k - b->first] = v & mask;
    if (minKey == 0 && !hasEntries) {
      hasEntries = true;
      minKey = maxKey = k;
    } else if (k < minKey) {
      minKey = k;
    } else if (k > maxKey) {
      maxKey = k;
    }
  }
  bool get(std::uint32_t k, std::uint32_t* v) {
    if (k < minKey || k > maxKey) return false;
    Block* b = covering(k);
    if (!b) return false;
    *v = b->data[k - b->first];
    return k == 0 || *v != 0;
  }
};

TEST(CodeTable, AgreesWithTheBlockModelOnRandomStores) {
  std::mt19937 rng(1234);
  for (std::uint16_t width : {1, 2, 4}) {
    TablePtr t = makeTable(width);
    ModelTable m{{}, width};
    std::uniform_int_distribution<std::uint32_t> key(0, 0x30000), val(0, 0x3FFFF);
    for (int i = 0; i < 3000; ++i) {
      std::uint32_t k = i % 7 == 0 ? 0 : key(rng), v = i % 5 == 0 ? 0 : val(rng);
      m.set(k, v);
      ASSERT_EQ(zk::ctableSet(t.get(), k, v), 1);
    }
    EXPECT_EQ(t->blocks->count, m.blocks.size());
    EXPECT_EQ(t->minKey, m.minKey);
    EXPECT_EQ(t->maxKey, m.maxKey);
    for (std::uint32_t k = 0; k <= 0x31000; ++k) {
      std::uint32_t a = 0xAAAA, b = 0xAAAA;
      bool fa = zk::ctableGet(t.get(), k, &a), fb = m.get(k, &b);
      ASSERT_EQ(fa, fb) << std::hex << k;
      ASSERT_EQ(a, b) << std::hex << k;
    }
  }
}

TEST(CodeTable, ManyBlocksLookUpLikeFew) {
  TablePtr t = makeTable(4);
  // 4000 blocks, each made by a key 5000 past the previous one.
  for (std::uint32_t i = 0; i < 4000; ++i) ASSERT_EQ(zk::ctableSet(t.get(), i * 5000 + 1, i + 1), 1);
  EXPECT_EQ(t->blocks->count, 4000);
  for (std::uint32_t i = 0; i < 4000; ++i) {
    EXPECT_EQ(zk::ctableValue(t.get(), i * 5000 + 1), i + 1);
    EXPECT_EQ(zk::ctableValue(t.get(), i * 5000 + 2), 0u);
  }
}

}  // namespace
