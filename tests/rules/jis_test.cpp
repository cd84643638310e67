// EUC-JP, EUC-JIS-2004, EUC-JP-FIX, ISO-2022-JP and ISO-2022-JP-2004: the
// decoders and byte writers driven directly on hand-made rules, and the rules
// through the exported calls on the shipped definitions.
#include <gtest/gtest.h>

#include "frame/state.h"
#include "rules/rules_support.h"

namespace zktest {
namespace {

using Dest = int (*)(CconvRecord*);

TEST(JisDecode, EveryFormBadBytesTruncationAndUnlistedSets) {
  shippedDir();
  ASSERT_EQ(cconvLoadRule(), 1);
  auto rule = [](std::string name) {
    return reinterpret_cast<::RuleDef*>(zk::stateRuleById(zk::registryCharsetId(name.data())));
  };
  ::RuleDef *eucJp = rule("EUC-JP"), *eucJis2004 = rule("EUC-JIS-2004"), *jis = rule("ISO-2022-JP"),
            *jis2004 = rule("ISO-2022-JP-2004");
  const Dest jp = zk::destEucJp, j4 = zk::destEucJis2004, fix = zk::eucjpfixDecode,
             iso = zk::iso2022jpDecode;
  struct Case {
    Dest dest;
    ::RuleDef* rule;
    std::string in, want;
    std::uint32_t designation = 0;  // ISO-2022-JP's after the run
  };
  std::vector<Case> cases = {
      // Every code set, and trail bytes over the whole 0xA0..0xFF range.
      {jp, eucJp, "41 00 1F 8E B1 8F B0 A1 B0 A1 A0 A0 FF FF 8F A0 FF 8E A0",
       "irv:41@1 irv:0@2 irv:1F@3 kana:B1@5 0212:3021@8 0208:3021@10 0208:2020@12 0208:7F7F@14 "
       "0212:207F@17 kana:A0@19 ok@19"},
      {j4, eucJis2004, "8F B0 A1 B0 A1 8E DF", "0213:13021@3 0213:3021@5 kana:DF@7 ok@7"},
      // A trail byte below 0xA0 refuses the lead only; a skipping reader
      // resumes at the trail byte. All bytes are counted before any is judged.
      {jp, eucJp, "B0 41", "bad@1 irv:41@2 ok@2"},
      {jp, eucJp, "8E 9F", "bad@1 bad@2 ok@2"},
      {jp, eucJp, "8F B0 41", "bad@1 bad@2 irv:41@3 ok@3"},
      {jp, eucJp, "8F 41 B0 42", "bad@1 irv:41@2 bad@3 irv:42@4 ok@4"},
      {jp, eucJp, "8F 41", "more@0"},
      {jp, eucJp, "", "ok@0"},
      // EUC-JP-FIX: two bytes per character; a bad pair steps one byte.
      {fix, eucJp, "00 41 00 B1 B0 21 B0 A1 00 00 FF 7E",
       "irv:41@2 kana:B1@4 0212:3021@6 0208:3021@8 irv:0@10 0212:7F7E@12 ok@12"},
      {fix, eucJp, "41 41", "bad@1 more@1"},
      {fix, eucJp, "9F A1 00", "bad@1 bad@2 more@2"},
      {fix, eucJp, "00 7F 00 42", "bad@1 bad@2 irv:42@4 ok@4"},
      {fix, eucJp, "00 9F 00 42", "bad@1 bad@2 irv:42@4 ok@4"},
      {fix, eucJp, "B0 7F", "bad@1 more@1"},
      {fix, eucJp, "B0 20", "bad@1 more@1"},
      // ISO-2022-JP: escape sequences switch sets and consume no character.
      {iso, jis, "41 1B 28 4A 5C 1B 24 40 30 21 1B 28 42 7E",
       "irv:41@1 roman:5C@5 c6226:3021@10 irv:7E@14 ok@14", kIrv},
      // JIS X 0213 planes follow their designation.
      {iso, jis2004, "1B 24 28 50 21 21 21 22 1B 24 28 51 21 21 1B 24 28 50 7E 79 1B 24 42 30 21",
       "0213:12121@6 0213:12122@8 0213:2121@14 0213:17E79@20 0208:3021@25 ok@25", kX0208},
      // Double-byte mode keeps only TAB, LF and CR single, as ISO 646 even
      // for a rule without it; single-byte sets take any byte.
      {iso, jis, "1B 24 42 0D 0A 09 20 20 0E 41 7F FF",
       "irv:D@4 irv:A@5 irv:9@6 0208:2020@8 0208:E41@10 0208:7FFF@12 ok@12", kX0208},
      {iso, jis, "00 80 FF 0E", "irv:0@1 irv:80@2 irv:FF@3 irv:E@4 ok@4", kIrv},
      // Sets the rule does not list are invalid.
      {iso, jis2004, "1B 28 4A 41 42 1B 28 42 43", "bad@4 bad@5 irv:43@9 ok@9", kIrv},
  };
  for (unsigned b = 0x7F; b <= 0x9F; ++b)
    if (b != 0x8E && b != 0x8F)
      cases.push_back({jp, eucJp, hex({std::uint8_t(b), 0x41}), "bad@1 irv:41@2 ok@2"});
  // Every truncation asks for more at the character's start, in EUC and
  // anywhere in an escape sequence; unknown escape sequences wait at their ESC.
  for (const std::string form : {"41 8E B1", "41 8F B0 A1", "41 FF A0"})
    for (std::size_t len = 5; len < form.size(); len += 3) {
      cases.push_back({jp, eucJp, form.substr(0, len), "irv:41@1 more@1"});
      cases.push_back({j4, eucJis2004, form.substr(0, len), "irv:41@1 more@1"});
    }
  for (const std::string form : {"41 1B 24 42", "41 1B 28 4A", "41 1B 24 28 51"})
    for (std::size_t len = 5; len < form.size(); len += 3)
      cases.push_back({iso, jis2004, form.substr(0, len), "irv:41@1 more@1", kIrv});
  for (const char* esc :
       {"1B 28 49 31", "1B 24 28 44 30", "1B 24 41 30", "1B 2E 41 30", "1B 4E 41 30"})
    cases.push_back({iso, jis, std::string("41 42 ") + esc, "irv:41@1 irv:42@2 more@2", kIrv});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    CconvRecord rec{};
    rec.srcRule = c.rule;
    rec.inDesignation = kIrv, rec.inPlane = 11;  // as the source side is prepared
    EXPECT_EQ(decodeAll(rec, c.dest, hexBytes(c.in)), c.want);
    EXPECT_EQ(
        c.designation ? std::make_pair(rec.inDesignation, rec.inPlane) : std::make_pair(0u, 11u),
        std::make_pair(c.designation, 11u));
  }
}

// The output room each call offers, and what it returns and writes: a
// character is never written in part, nor an escape sequence; the EUC-JP and
// ISO-2022-JP writers never take the last byte of the buffer, EUC-JP-FIX does.
TEST(JisEncode, WholeCharactersAndEscapesInTheRoomGiven) {
  shippedDir();
  const CconvDstOptions big{1, 0, 0, 0, {}, 0, 0, 0};
  const Bytes a = hexBytes("41"), kanji = hexBytes("B0 A1"), kanjiA = hexBytes("B0 A1 41");
  const struct {
    const char *to, *from;
    Bytes in;
    std::vector<int> rooms;
    const char* want;
  } cases[] = {
      {"EUC-JP", "EUC-JP", kanjiA, {2, 3, 1, 2}, "F| F|B0 A1 F| K|41"},
      {"EUC-JP", "EUC-JP", hexBytes("8F B0 A1 8E B1"), {3, 4, 2, 3}, "F| F|8F B0 A1 F| K|8E B1"},
      {"EUC-JP-FIX", "EUC-JP", kanjiA, {1, 2, 1, 2}, "F| F|B0 A1 F| K|00 41"},
      // ESC ( B A: with three bytes of room nothing is written.
      {"ISO-2022-JP", "EUC-JP", a, {3, 4}, "F| K|1B 28 42 41"},
      // Room for the sequence but not the character: the sequence stays. The
      // closing sequence too never takes the last byte.
      {"ISO-2022-JP", "EUC-JP", kanji, {4, 2, -3, -4}, "F|1B 24 42 K|30 21 F| K|1B 28 42"},
      // Closing writes the character still waiting, with its designation, first.
      {"ISO-2022-JP", "EUC-JP", kanjiA, {6, 3, -4}, "F|1B 24 42 30 21 F| K|1B 28 42 41"},
      // A four-byte plane designation with exactly four bytes left does not fit.
      {"ISO-2022-JP-2004", "EUC-JIS-2004", hexBytes("8F A1 A1"), {4, 6}, "F| K|1B 24 28 50 21 21"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(byRoom(c.to, c.from, c.in, c.rooms, &big), c.want) << c.to << " " << c.want;
}

}  // namespace
}  // namespace zktest
