// Set files, rule files and the loading pass, through cconvLoadRule on
// charset directories that each test writes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "defs/defs.h"
#include "frame/registry.h"
#include "frame/state.h"
#include "support/testdir.h"
#include "zrkvt16.h"

namespace {

using zktest::Enc;
using zktest::ruleFile;
using zktest::subsetA;
using zktest::TestDir;
using Entities = std::vector<std::pair<std::string, std::string>>;

std::string subsetB(const std::string& name, const std::string& basedon, const std::string& srtable,
                    const std::string& defined = "") {
  std::string s = "<subsetb>\n<name>" + name + "</name>\n<lang domain=\"zh\"/>\n<codeb bytenum=\"2\" basedon=\"" +
                  basedon + "\"></codeb>\n";
  if (!defined.empty()) s += "<defined>" + defined + "</defined>\n";
  if (!srtable.empty()) s += "<srtable>&" + srtable + ";</srtable>\n";
  return s + "</subsetb>\n";
}

std::string codec(const std::string& name, const std::string& defrange, int bytenum = 2) {
  return "<name>" + name + "</name>\n<codec bytenum=\"" + std::to_string(bytenum) +
         "\"><range>8140-9FFC</range>" + defrange + "</codec>\n";
}

class Loading : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1); }
  static zk::RuleDef* rule(const char* name) {
    char lower[260];
    std::snprintf(lower, sizeof lower, "%s", name);
    return zk::stateRuleById(zk::registryCharsetId(lower));
  }
  static zk::CharsetDef* set(const zk::RuleDef* r, int i) {
    return static_cast<zk::CharsetDef*>(r->charsets->items[i]);
  }
  static zk::PtrList* dsList(const zk::RuleDef* r, int i) {
    return static_cast<zk::PtrList*>(r->dsTables->items[i]);
  }
  static zk::CodeTable* ds(const zk::RuleDef* r, int i, int k) {
    return static_cast<zk::CodeTable*>(dsList(r, i)->items[k]);
  }
  TestDir dir;
};

TEST_F(Loading, CompleteRuleFileBuildsRuleAndSets) {
  dir.write("jis0208.xml", subsetA("JIS_X0208-1990", 2, "tab0208", "2121-227E 2330\n"));
  dir.write("nec.xml", subsetB("NEC_ExtSet", "JIS_X0208-1990", "tabnec", "2D21-2D7E"));
  dir.write("usr.xml", codec("Windows31J-USR", "<defrange start=\" f040\" number=\"BC\"/>"));
  dir.write("sjis.xml",
            ruleFile("Shift_JIS", "constShift_JIS", "destShift_JIS",
                     {{"set0208", "JIS0208.XML"}, {"setnec", "nec.xml"}, {"setusr", "usr.xml"},
                      {"tab0208", "JIS0208.TXT"}, {"tabnec", "sub/nec.txt"}, {"ds1", "ds1.txt"},
                      {"ds2", "ds2.txt"}},
                     "<baseset>&set0208;<dstable bytenum=\"10\">&ds1;</dstable><dstable>&ds2;</dstable></baseset>\n"
                     "<diffset>&setnec;</diffset>\n<eudcset>&setusr;</eudcset>\n"));
  EXPECT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(zk::gState.rules->count, 1);
  zk::RuleDef* r = rule("Shift_JIS");
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->name, "shift_jis");
  EXPECT_EQ(r->id, zk::kIdShiftJis);
  EXPECT_STREQ(r->constRule, "constShift_JIS");
  EXPECT_STREQ(r->destRule, "destShift_JIS");
  ASSERT_EQ(r->charsets->count, 3);
  ASSERT_EQ(r->dsTables->count, 2);  // none for the user-defined area

  zk::CharsetDef* a = set(r, 0);
  EXPECT_STREQ(a->name, "JIS_X0208-1990");  // case kept
  EXPECT_EQ(a->id, zk::kIdJisX0208);
  EXPECT_EQ(a->type, zk::kSetBase);
  EXPECT_EQ(a->bytenum, 2);
  EXPECT_STREQ(a->lang, "ja");
  ASSERT_EQ(a->defined->count, 2);
  auto range = [](const zk::CharsetDef* s, int i) {
    auto* cr = static_cast<zk::CodeRange*>(s->defined->items[i]);
    return std::make_pair(cr->first, cr->last);
  };
  EXPECT_EQ(range(a, 0), std::make_pair(0x2121u, 0x227Eu));
  EXPECT_EQ(range(a, 1), std::make_pair(0x2330u, 0x2330u));
  EXPECT_STREQ(a->toUcs->sourceName, "JIS0208.TXT");
  EXPECT_STREQ(a->toCode->sourceName, "JIS0208.TXT");
  EXPECT_EQ(a->toUcs->width, 4);
  EXPECT_EQ(a->toUcs->direction, 1u);
  EXPECT_EQ(a->toCode->width, 2);
  EXPECT_EQ(a->toCode->direction, 0u);
  EXPECT_EQ(a->toUcs->sourceEncoding, zk::kTextUtf16);
  EXPECT_FALSE(zk::ctableIsLoaded(a->toUcs)) << "tables are only named while loading";

  zk::CharsetDef* b = set(r, 1);
  EXPECT_EQ(b->type, zk::kSetDiff);
  EXPECT_EQ(b->id, zk::kIdNecExt);
  EXPECT_STREQ(b->basedon, "JIS_X0208-1990");
  EXPECT_STREQ(b->lang, "zh");
  EXPECT_STREQ(b->toUcs->sourceName, "sub/nec.txt");
  ASSERT_EQ(b->defined->count, 1);
  EXPECT_EQ(range(b, 0), std::make_pair(0x2D21u, 0x2D7Eu));

  zk::CharsetDef* u = set(r, 2);
  EXPECT_EQ(u->type, zk::kSetUserArea);
  EXPECT_EQ(u->id, zk::kIdWindows31jUsr);
  EXPECT_EQ(u->defStart, 0xF040);
  EXPECT_EQ(u->defNumber, 0xBC);
  EXPECT_STREQ(u->lang, "");
  EXPECT_STREQ(u->toUcs->sourceName, "");

  // "bytenum=" of a dstable is hexadecimal: 10 is a width of 16.
  ASSERT_EQ(dsList(r, 0)->count, 2);
  EXPECT_EQ(ds(r, 0, 0)->width, 16);
  EXPECT_EQ(ds(r, 0, 0)->direction, 0u);
  EXPECT_STREQ(ds(r, 0, 0)->sourceName, "ds1.txt");
  EXPECT_EQ(ds(r, 0, 1)->width, 2);
  EXPECT_EQ(dsList(r, 1)->count, 0);

  // The sets are the charset list's records.
  EXPECT_EQ(zk::stateCharsetById(zk::kIdJisX0208), a);
  EXPECT_EQ(zk::gState.charsets->count, 3);
}

TEST_F(Loading, SetGrammarDetails) {
  // A hyphen with a space before it does not join; a trailing pair at the very
  // end of the element still forms a range.
  dir.write("a.xml", subsetA("SetA", 1, "", "A1 B0-B5 C0 - C3 E0-E1"));
  dir.write("b.xml", subsetA("SetB", 3, "", "21-7E"));
  dir.write("c.xml",
            "<subseta><name>SetC</name><lang domain=\"ko\"/><code></code>"
            "<range>x</range><range>y</range><srtable>&tab;</srtable></subseta>");
  dir.write("u.xml", codec("UserArea", ""));
  dir.write("r.xml", ruleFile("R", "constSAME", "destSAME",
                              {{"a", "a.xml"}, {"b", "b.xml"}, {"c", "c.xml"}, {"u", "u.xml"},
                               {"tab", "c.txt"}},
                              "<baseset>&a;</baseset><baseset>&b;</baseset><baseset>&c;</baseset>"
                              "<eudcset>&u;</eudcset>"));
  ASSERT_EQ(cconvLoadRule(), 1);
  zk::RuleDef* r = rule("r");
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->charsets->count, 4);
  zk::CharsetDef* a = set(r, 0);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
  for (int i = 0; i < a->defined->count; ++i) {
    auto* cr = static_cast<zk::CodeRange*>(a->defined->items[i]);
    got.emplace_back(cr->first, cr->last);
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> want = {
      {0xA1, 0xA1}, {0xB0, 0xB5}, {0xC0, 0xC0}, {0xC3, 0xC3}, {0xE0, 0xE1}};
  EXPECT_EQ(got, want);
  EXPECT_EQ(a->bytenum, 1);
  EXPECT_EQ(a->toCode->width, 1);
  EXPECT_EQ(set(r, 1)->toCode->width, 3);
  ASSERT_EQ(set(r, 1)->defined->count, 1);
  zk::CharsetDef* c = set(r, 2);
  EXPECT_EQ(c->bytenum, 2) << "a code element without bytenum= gives 2";
  EXPECT_EQ(c->toCode->width, 2);
  EXPECT_STREQ(c->toUcs->sourceName, "c.txt") << "srtable is found after the range elements";
  EXPECT_EQ(c->defined->count, 0);
  zk::CharsetDef* u = set(r, 3);
  EXPECT_EQ(u->defStart, 0);
  EXPECT_EQ(u->defNumber, 0);
}

TEST_F(Loading, FailingSetRejectsRuleButKeepsEarlierSets) {
  dir.write("good.xml", subsetA("GoodSet", 2, ""));
  dir.write("nolang.xml", "<subseta><name>NoLang</name><code bytenum=\"2\"/></subseta>");
  dir.write("r1.xml", ruleFile("First", "constSAME", "destSAME", {{"g", "good.xml"}, {"n", "nolang.xml"}},
                               "<baseset>&g;</baseset><baseset>&n;</baseset>"));
  EXPECT_EQ(cconvLoadRule(), 0);
  EXPECT_EQ(zk::gState.rules->count, 0);
  ASSERT_EQ(zk::gState.charsets->count, 1);
  EXPECT_STREQ(static_cast<zk::CharsetDef*>(zk::gState.charsets->items[0])->name, "GoodSet");
}

// Each rule file here fails for one reason; one good file proves the pass
// goes on after them.
TEST_F(Loading, EachMalformedRuleFileIsRejected) {
  dir.write("good.xml", subsetA("GoodSet", 2, ""));
  dir.write("bad0.xml", subsetA("Width0", 0, ""));
  dir.write("bad5.xml", subsetA("Width5", 5, ""));
  dir.write("bigusr.xml", codec("BigUser", "", 6));
  dir.write("halfrange.xml", codec("HalfRange", "<defrange start=\"F040\"/>"));
  dir.write("setsrtab.xml",
            "<!DOCTYPE s [<!ENTITY own SYSTEM \"own.txt\">]><subseta><name>Own</name>"
            "<lang domain=\"ja\"/><code></code><srtable>&own;</srtable></subseta>");
  const std::string longName(260, 'n');
  struct Bad {
    const char* file;
    std::string text;
  } bad[] = {
      {"a_nocharset.xml", "<name>X</name>"},
      {"b_noname.xml", "<charset><rule construle=\"a\" destrule=\"b\"/></charset>"},
      {"c_nodest.xml", "<charset><name>C</name><rule construle=\"constSAME\"/></charset>"},
      {"d_longname.xml", "<charset><name>" + longName + "</name></charset>"},
      {"e_width0.xml", ruleFile("E", "", "", {{"s", "bad0.xml"}}, "<baseset>&s;</baseset>")},
      {"f_width5.xml", ruleFile("F", "", "", {{"s", "bad5.xml"}}, "<diffset>&s;</diffset>")},
      {"g_undeclared.xml", ruleFile("G", "", "", {}, "<baseset>&nowhere;</baseset>")},
      {"h_missingfile.xml", ruleFile("H", "", "", {{"s", "absent.xml"}}, "<baseset>&s;</baseset>")},
      {"i_halfrange.xml", ruleFile("I", "", "", {{"s", "halfrange.xml"}}, "<eudcset>&s;</eudcset>")},
      {"j_bigusr.xml", ruleFile("J", "", "", {{"s", "bigusr.xml"}}, "<eudcset>&s;</eudcset>")},
      {"k_setsrtab.xml", ruleFile("K", "", "", {{"s", "setsrtab.xml"}}, "<baseset>&s;</baseset>")},
      // A dstable written before the set's own reference names the set file.
      {"l_dsfirst.xml", ruleFile("L", "", "", {{"s", "good.xml"}, {"tabl", "table.txt"}},
                                 "<baseset><dstable>&tabl;</dstable>&s;</baseset>")},
      {"m_longconst.xml", ruleFile("M", longName, "destSAME", {}, "")},
      {"n_shift.xml", "<charset><name>shift</name></charset>"},
      {"z_good.xml", ruleFile("Z", "constSAME", "destSAME", {{"s", "good.xml"}}, "<baseset>&s;</baseset>")},
  };
  for (const Bad& b : bad) dir.write(b.file, b.text, b.file[0] == 'n' ? Enc::Raw : Enc::Utf16LE);
  dir.write("table.txt", "8140 3000\n");
  EXPECT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(zk::gState.rulesLoadedCount, 1);
  ASSERT_EQ(zk::gState.rules->count, 1)
      << static_cast<zk::RuleDef*>(zk::gState.rules->items[0])->name;
  EXPECT_STREQ(static_cast<zk::RuleDef*>(zk::gState.rules->items[0])->name, "z");
  for (const char* n : {"Width0", "Width5", "BigUser", "HalfRange", "Own"}) {
    char lower[260];
    std::snprintf(lower, sizeof lower, "%s", n);
    EXPECT_EQ(zk::stateCharsetById(zk::registryCharsetId(lower)), nullptr) << n;
  }
}

TEST_F(Loading, RuleWithoutRuleElementHasEmptyNames) {
  dir.write("r.xml", ruleFile("Plain", "", "", {}, ""));
  EXPECT_EQ(cconvLoadRule(), 1);
  zk::RuleDef* r = rule("plain");
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->constRule, "");
  EXPECT_STREQ(r->destRule, "");
  EXPECT_EQ(r->charsets->count, 0);
}

TEST_F(Loading, FirstRuleOfAnIdWinsAndSharedSetsAreOneRecord) {
  dir.write("s.xml", subsetA("Shared", 2, ""));
  dir.write("t.xml", subsetA("shared", 1, ""));  // same id, other width: dropped
  dir.write("a.xml", ruleFile("EUC-JP", "constEUC-JP", "destEUC-JP", {{"s", "s.xml"}}, "<baseset>&s;</baseset>"));
  dir.write("b.xml", ruleFile("euc-jp", "constOTHER", "destOTHER", {{"s", "s.xml"}}, "<baseset>&s;</baseset>"));
  dir.write("c.xml", ruleFile("Other", "constSAME", "destSAME", {{"t", "t.xml"}}, "<baseset>&t;</baseset>"));
  EXPECT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(zk::gState.rulesLoadedCount, 3) << "the duplicate counts as accepted";
  EXPECT_EQ(zk::gState.rules->count, 2);
  zk::RuleDef* euc = rule("EUC-JP");
  ASSERT_NE(euc, nullptr);
  EXPECT_STREQ(euc->constRule, "constEUC-JP");
  zk::RuleDef* other = rule("other");
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(zk::gState.charsets->count, 1);
  EXPECT_EQ(set(euc, 0), set(other, 0));
  EXPECT_EQ(set(other, 0)->bytenum, 2);
}

TEST_F(Loading, DstablePlacementAndEudcsetPosition) {
  dir.write("a.xml", subsetA("A", 2, ""));
  dir.write("b.xml", subsetB("B", "A", ""));
  dir.write("u1.xml", codec("User1", "<defrange start=\"1\" number=\"2\"/>"));
  dir.write("u2.xml", codec("User2", ""));
  dir.write("r.xml",
            ruleFile("R", "", "",
                     {{"a", "a.xml"}, {"b", "b.xml"}, {"u1", "u1.xml"}, {"u2", "u2.xml"}, {"t1", "t1.txt"}},
                     "<eudcset>&u2;</eudcset>"
                     "<baseset>&a;<dstable>&t1;</dstable><dstable>&nodecl;</dstable></baseset>"
                     "<dstable>&t1;</dstable>"
                     "<diffset>&b;</diffset>"
                     "<eudcset>&u1;</eudcset><eudcset>&u2;</eudcset>"));
  ASSERT_EQ(cconvLoadRule(), 1);
  zk::RuleDef* r = rule("r");
  ASSERT_NE(r, nullptr);
  ASSERT_EQ(r->charsets->count, 3);
  EXPECT_STREQ(set(r, 2)->name, "User1");
  ASSERT_EQ(r->dsTables->count, 2);
  EXPECT_EQ(dsList(r, 0)->count, 1) << "the undeclared dstable is skipped";
  EXPECT_EQ(dsList(r, 1)->count, 0) << "a dstable between sets belongs to neither";
}

TEST_F(Loading, EmptyDirectoryLoadsNothingNowAndLater) {
  EXPECT_EQ(cconvLoadRule(), 0);
  dir.write("late.xml", ruleFile("Late", "", "", {}, ""));
  EXPECT_EQ(cconvLoadRule(), 0) << "the pass runs once per process";
  EXPECT_EQ(zk::gState.rules->count, 0);
}

TEST_F(Loading, SecondCallKeepsFirstResult) {
  dir.write("r.xml", ruleFile("R", "", "", {}, ""));
  EXPECT_EQ(cconvLoadRule(), 1);
  dir.write("s.xml", ruleFile("S", "", "", {}, ""));
  EXPECT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(zk::gState.rules->count, 1);
}

// A rule file in each readable encoding; its set file carries no mark and is
// read with the rule file's encoding, which also reaches the tables.
TEST_F(Loading, DefinitionFilesInEveryReadableEncoding) {
  struct Case {
    Enc enc;
    const char* decl;
    std::uint32_t wantEnc, wantBig;
  } cases[] = {
      {Enc::Utf16LE, "UTF-16", zk::kTextUtf16, 0}, {Enc::Utf16BE, "UTF-16", zk::kTextUtf16, 1},
      {Enc::Ucs2LE, "ISO-10646-UCS-2", zk::kTextUcs2, 0}, {Enc::Ucs2BE, "ISO-10646-UCS-2", zk::kTextUcs2, 1},
      {Enc::Ucs4LE, "UCS-4", zk::kTextUcs4, 0}, {Enc::Ucs4BE, "UCS-4", zk::kTextUcs4, 1},
  };
  int i = 0;
  for (const Case& c : cases) {
    std::string n = std::to_string(i++);
    std::string text = ruleFile("Enc" + n, "constSAME", "destSAME", {{"s", "set" + n + ".xml"}, {"tabl", "t.txt"}},
                                "<baseset>&s;</baseset>");
    std::string decl = "encoding=\"UTF-16\"";
    text.replace(text.find(decl), decl.size(), std::string("encoding=\"") + c.decl + "\"");
    dir.write("rule" + n + ".xml", text, c.enc, true);
    dir.write("set" + n + ".xml", "<subseta><name>EncSet" + n +
                                      "</name><lang domain=\"ja\"/><code bytenum=\"2\"/><srtable>&tabl;</srtable></subseta>",
              c.enc, false);
  }
  EXPECT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(zk::gState.rulesLoadedCount, 6);
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(cases[k].decl);
    zk::RuleDef* r = rule(("Enc" + std::to_string(k)).c_str());
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->charsets->count, 1);
    zk::CodeTable* t = set(r, 0)->toUcs;
    EXPECT_STREQ(t->sourceName, "t.txt");
    EXPECT_EQ(t->sourceEncoding, cases[k].wantEnc);
    EXPECT_EQ(t->sourceBigEndian, cases[k].wantBig);
  }
}

}  // namespace
