// Eight threads convert at once, each with its own record, through a fresh
// copy of the shipped directory: every table is loaded (and compiled) on
// first use by whichever thread gets there first. Each thread's text must
// come back unchanged. Built with -DZRKVT16_TSAN=ON this runs under
// ThreadSanitizer (tests/reliability/tsan.sh).
#include <gtest/gtest.h>
#include <unistd.h>

#include <barrier>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "support/convert.h"
#include "support/testdir.h"

namespace zktest {
namespace {

const CconvSrcOptions kSrc{1, 0, 0};
const CconvDstOptions kDst{1, 0, 0, 0, {}, 0, 0, 0};
const CconvDstOptions kNcr{1, 0, 0, 0, {}, 0, 0, 1};

TEST(Threads, EightConversionsLoadingTablesAtOnce) {
  TestDir dir;
  for (const auto& e : std::filesystem::directory_iterator(ZK_SOURCE_DIR "/data/base2"))
    if (e.path().extension() != ".cmp") {
      ASSERT_EQ(::symlink(e.path().c_str(), dir.file(e.path().filename()).c_str()), 0);
    }
  ASSERT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1);
  std::ifstream f(ZK_SOURCE_DIR "/data/samples/sample-sjis.txt", std::ios::binary);
  const Bytes sample{std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
  ASSERT_GT(sample.size(), 1000u);

  // Shift_JIS there and back; the UCS-2 trip with references also asks the
  // Windows-31J repertoire, which loads that rule's tables on first use.
  const char* const via[8] = {"UTF-8",        "WINDOWS31J", "EUC-JP",          "ISO-2022-JP",
                              "EUC-JIS-2004", "UTF-16",     "ISO-10646-UCS-2", "GBK"};
  std::barrier start(8);
  ConvertResult there[8], back[8];
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      there[i] = convert(via[i], "Shift_JIS", sample, &kSrc, i == 6 ? &kNcr : &kDst, 0, 64);
      back[i] = convert("Shift_JIS", via[i], there[i].out, &kSrc, &kDst, 7);
    });
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < 8; ++i) {
    SCOPED_TRACE(via[i]);
    EXPECT_EQ(there[i].status, CCONV_OK);
    EXPECT_EQ(back[i].status, CCONV_OK);
    EXPECT_TRUE(back[i].out == sample);
  }
}

}  // namespace
}  // namespace zktest
