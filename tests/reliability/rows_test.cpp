// Conversion corners (most of them found by fuzz_convert), one row each: the
// bytes of a conversion in one piece, and the same bytes, status and position
// for every way of feeding the input in pieces and of giving the output room.
#include <gtest/gtest.h>

#include "support/convert.h"
#include "support/testdir.h"

namespace zktest {
namespace {

struct Row {
  const char* what;
  const char* source;
  const char* target;
  CconvSrcOptions src;
  CconvDstOptions dst;
  const char* input;     // hex
  std::uint32_t status;  // of the conversion in one piece
  const char* output;    // hex, cconvTermConvert included
};

// Enough ASCII before a corner that the one-piece conversion meets it in its bulk path.
#define ASCII30 "4142434445464748494A4142434445464748494A4142434445464748494A"
// outBigEndian, outWriteBom, substitute, replacement, lang, newlineConvert, newlineKind, ncrMode
// clang-format off
const Row kRows[] = {
    {"unmappable only when written, after a full buffer, is still substituted",
     "ISO-10646-UCS-4", "UTF-16", {1, 0, 0}, {0, 1, 1, 0x3013003F, {}, 0, 0, 0}, "00110000",
     CCONV_OK, "FFFE1330"},
    {"a pending mark goes out before a character that cannot be placed", "UTF-8",
     "ISO-10646-UCS-2", {}, {0, 1, 0, 0, {}, 0, 0, 0}, "F09F988041", CCONV_UNMAPPABLE, "FFFE"},
    {"the same when placement itself fails", "UTF-8", "UTF-16-TAGS", {},
     {1, 1, 0, 0, {}, 0, 0, 0}, "F3B0808041", CCONV_UNMAPPABLE, "FEFF"},
    {"an escape sequence of a set ISO-2022-JP lacks waits at its ESC, in long text too",
     "ISO-2022-JP", "UTF-8", {}, {}, ASCII30 "1B284931323334353637383930414243", CCONV_NEED_INPUT,
     ASCII30},
    {"so does one that only looks like a known one", "ISO-2022-JP", "UTF-8", {}, {},
     ASCII30 "1B244A31323334353637383930414243", CCONV_NEED_INPUT, ASCII30},
    {"a four-byte UTF-8 sequence cut short at the end of long text waits for the rest", "UTF-8",
     "UTF-8", {}, {}, ASCII30 "41F09F98", CCONV_NEED_INPUT, ASCII30 "41"},
};
// clang-format on

TEST(Reliability, OnePieceAndEveryPiecewiseConversionAgree) {
  shippedDir();
  for (const Row& r : kRows) {
    SCOPED_TRACE(r.what);
    const ConvertResult whole = convert(r.target, r.source, hexBytes(r.input), &r.src, &r.dst);
    EXPECT_EQ(whole.status, r.status);
    EXPECT_EQ(hex(whole.out), hex(hexBytes(r.output)));
    EXPECT_TRUE(piecewiseSame(r.target, r.source, hexBytes(r.input), &r.src, &r.dst));
  }
}

}  // namespace
}  // namespace zktest
