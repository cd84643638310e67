// The conversion record and the four conversion calls: statuses, positions,
// substitution, and the calls used in the wrong order.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>

#include "engine/world.h"

namespace {

using namespace zktest;

// A record prepared for `to` <- `from` (big-endian options), reading `input` into `room` bytes.
struct Rec {
  CconvRecord rec{};
  Bytes in, out;
  Rec(const char* to, const char* from, const Bytes& input = {}, std::size_t room = 32,
      const CconvDstOptions* dst = &kBigOut) {
    EXPECT_EQ(cconvInitConvert(&rec, dst, to) + cconvChgCharset(&rec, &kBigIn, from), CCONV_OK);
    in = input, out.assign(room, 0xEE);
    rec.inBuf = in.data(), rec.inLen = static_cast<std::int32_t>(in.size());
    rec.outBuf = out.data(), rec.outSize = static_cast<std::int32_t>(room);
  }
  Bytes written() const { return Bytes(out.begin(), out.begin() + rec.outPos); }
};

TEST(DriverCalls, BadCallsAndUnusableRecords) {
  World w;
  CconvRecord rec{};
  // clang-format off
  EXPECT_EQ(cconvInitConvert(nullptr, nullptr, "Shift_JIS") + cconvConvert(nullptr) +
            cconvChgCharset(nullptr, nullptr, "Shift_JIS") + cconvTermConvert(nullptr) +
            cconvInitConvert(&rec, nullptr, nullptr) + cconvChgCharset(&rec, nullptr, nullptr) +
            cconvConvert(&rec), 7 * CCONV_ERROR);
  // clang-format on
  EXPECT_EQ(rec.status, static_cast<std::uint32_t>(CCONV_ERROR));  // unprepared
  EXPECT_EQ(cconvTermConvert(&rec), CCONV_OK);
  // A source set first is cleared by the target's preparation; rule
  // functions that do not exist leave no source or target.
  for (auto [to, from] : {std::pair{"UCS4T", ""}, {"BROKEN", "BROKEN"}}) {
    ASSERT_EQ(cconvChgCharset(&rec, nullptr, "Shift_JIS") + cconvInitConvert(&rec, nullptr, to),
              CCONV_OK);
    EXPECT_EQ(*from ? cconvChgCharset(&rec, nullptr, from) : 0u, CCONV_OK);
    EXPECT_EQ(cconvConvert(&rec), CCONV_ERROR) << to;
  }
  // Names in any case, not lower-cased in the caller's string; 271 characters
  // fit the work buffer, 272 and more match nothing.
  char name[] = "UCS4t";
  EXPECT_EQ(cconvInitConvert(&rec, nullptr, name), CCONV_OK);
  EXPECT_STREQ(name, "UCS4t");
  const std::string fits = std::string(267, 'x') + "long", tooLong = "x" + fits;
  for (const std::string& n : {fits, tooLong})
    injectRule(n, "constSAME", "destSAME", {World::find("jis_x0201latin")});
  injectDone();
  EXPECT_EQ(
      cconvInitConvert(&rec, nullptr, fits.c_str()) + cconvChgCharset(&rec, nullptr, fits.c_str()),
      CCONV_OK);
  EXPECT_EQ(cconvChgCharset(&rec, nullptr, tooLong.c_str()) +
                cconvInitConvert(&rec, nullptr, tooLong.c_str()),
            2 * CCONV_ERROR);
  // Buffer fields: no input at all is simply done, no output room simply full
  // (the character waits, consumed); the others change nothing.
  // clang-format off
  const std::pair<void (*)(CconvRecord&), std::uint32_t> cases[] = {
      {[](CconvRecord& r) { r.inBuf = nullptr; }, CCONV_ERROR},
      {[](CconvRecord& r) { r.outBuf = nullptr; }, CCONV_ERROR},
      {[](CconvRecord& r) { r.inPos = -1; }, CCONV_ERROR},
      {[](CconvRecord& r) { r.outPos = 33; }, CCONV_ERROR},
      {[](CconvRecord& r) { r.inLen = 0; }, CCONV_OK},
      {[](CconvRecord& r) { r.outSize = 0; }, CCONV_OUTPUT_FULL}};
  // clang-format on
  for (const auto& [spoil, status] : cases) {
    Rec r("UCS4T", "Shift_JIS", {0x41});
    spoil(r.rec);
    const std::int32_t before = r.rec.inPos;
    EXPECT_EQ(cconvConvert(&r.rec), status);
    EXPECT_EQ(r.rec.inPos, status == CCONV_OUTPUT_FULL ? 1 : before);
  }
}

CconvDstOptions substituting(std::uint32_t replacement, std::uint32_t newlines = 0) {
  CconvDstOptions o = kBigOut;
  o.substitute = 1, o.replacement = replacement, o.newlineConvert = newlines != 0,
  o.newlineKind = newlines;
  return o;
}

// Shift_JIS bytes of whole characters (Roman, kanji, ESC) and the offsets
// where each starts: cut anywhere, the whole characters are converted and
// the rest waits; a bad byte before a character stops the conversion after
// it, and skipped, the output is as without it.
TEST(DriverLoop, TruncatedOrInvalidInputAtEveryPosition) {
  World w;
  const Bytes sjis{0x41, 0x82, 0xA0, 0x30, 0x88, 0x9F, 0x1B, 0x81, 0x40, 0x7E};
  const std::vector<std::size_t> starts{0, 1, 3, 4, 6, 7, 9, 10};
  auto euct = [&](std::size_t n) {
    return convert("EUCT", "Shift_JIS", Bytes(sjis.begin(), sjis.begin() + n), &kBigIn, &kBigOut)
        .out;
  };
  auto expect = [](const char* from, const Bytes& in, const Bytes& out, std::uint32_t st,
                   std::int64_t pos, const CconvSrcOptions* src) {
    const ConvertResult r = convert(from[0] == 'S' ? "EUCT" : "UCS4T", from, in, src, &kBigOut);
    EXPECT_EQ(std::tie(r.out, r.status, r.inPos), std::tie(out, st, pos)) << hex(in);
  };
  for (std::size_t cut = 0, whole = 0; cut <= sjis.size(); ++cut) {
    while (whole + 1 < starts.size() && starts[whole + 1] <= cut) ++whole;
    const std::size_t at = starts[whole];
    expect("Shift_JIS", Bytes(sjis.begin(), sjis.begin() + cut), euct(at), at == cut ? 0 : 12, at,
           &kBigIn);
    if (at != cut || cut == sjis.size()) continue;
    for (std::uint8_t bad : {0x80, 0xA0, 0xFF}) {
      const Bytes in =
          Bytes(sjis.begin(), sjis.begin() + at) + Bytes{bad} + Bytes(sjis.begin() + at, sjis.end());
      expect("Shift_JIS", in, euct(at), CCONV_INVALID, at + 1, &kBigIn);
      expect("Shift_JIS", in, euct(sjis.size()), CCONV_OK, in.size(), &kBigSkip);
    }
    // In a table-driven source an unmapped pair stays put, and a skip takes both bytes.
    Bytes in = euct(sjis.size());
    in.insert(in.begin() + euct(at).size(), {0xA9, 0xA1});
    const std::int64_t eucAt = euct(at).size();
    expect("EUCT", in, convert("UCS4T", "EUCT", euct(at), &kBigIn, &kBigOut).out, 13, eucAt,
           &kBigIn);
    expect("EUCT", in, convert("UCS4T", "EUCT", euct(sjis.size()), &kBigIn, &kBigOut).out, 0,
           in.size(), &kBigSkip);
  }
}

// Characters of one to four bytes: a substitute (U+2460), a value of two
// units (U+1F600) and a line end of two (CR to CR LF, as U+2028 is written in
// a narrow target) are each one. Only whole characters are written; with room
// again, the pending one comes first, once.
TEST(DriverLoop, EveryOutputSizeTakesWholeCharactersOnly) {
  World w;
  const CconvDstOptions opts = substituting(0, 4);
  const Bytes in = bytesOf("UCS4T", "41 3042 1F600 2460 0D 1B E9 42");
  std::vector<std::size_t> ends{0};  // output size after each whole character
  for (std::size_t k = 4; k <= in.size(); k += 4)
    ends.push_back(
        convert("EUCT", "UCS4T", Bytes(in.begin(), in.begin() + k), &kBigIn, &opts).out.size());
  const ConvertResult all = convert("EUCT", "UCS4T", in, &kBigIn, &opts);
  ASSERT_EQ(hex(all.out), "41 A4 A2 A1 A9 A1 AA A2 AE 0D 0A 1B 3F 42");
  for (std::size_t room = 0; room <= all.out.size(); ++room) {
    Rec r("EUCT", "UCS4T", in, room + 4, &opts);
    r.rec.outSize = static_cast<std::int32_t>(room);
    const std::uint32_t st = cconvConvert(&r.rec);
    EXPECT_EQ(st, room == all.out.size() ? CCONV_OK : CCONV_OUTPUT_FULL) << room;
    const std::size_t n = *std::prev(std::upper_bound(ends.begin(), ends.end(), room));
    EXPECT_EQ(r.out, Bytes(all.out.begin(), all.out.begin() + n) + Bytes(room + 4 - n, 0xEE))
        << room;
    r.out.assign(all.out.size(), 0xEE);
    r.rec.outBuf = r.out.data(), r.rec.outPos = 0,
    r.rec.outSize = static_cast<std::int32_t>(r.out.size());
    EXPECT_EQ(cconvConvert(&r.rec), CCONV_OK);
    EXPECT_EQ(r.written(), Bytes(all.out.begin() + n, all.out.end())) << room;
    EXPECT_EQ(r.rec.outChars, all.outChars);
  }
}

}  // namespace
