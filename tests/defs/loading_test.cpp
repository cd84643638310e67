// Set files, rule files and the loading pass, through cconvLoadRule on
// charset directories that each test writes.
#include <gtest/gtest.h>

#include <sstream>
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

std::string codec(const std::string& name, const std::string& defrange, int bytenum = 2) {
  return "<name>" + name + "</name>\n<codec bytenum=\"" + std::to_string(bytenum) +
         "\"><range>8140-9FFC</range>" + defrange + "</codec>\n";
}

zk::RuleDef* rule(std::string name) {
  return zk::stateRuleById(zk::registryCharsetId(name.data()));
}
zk::CharsetDef* set(const zk::RuleDef* r, int i) {
  return static_cast<zk::CharsetDef*>(r->charsets->items[i]);
}

std::ostream& operator<<(std::ostream& o, const zk::CodeTable* t) {
  return o << t->sourceName << '/' << std::dec << t->width << '>' << t->direction;
}

// A loaded rule as text: its name and rule functions, then a line per set
// with its name, type, width, language, the set it is based on, its defined
// ranges and user area (hexadecimal), its two tables as "file/width>direction",
// and the extra tables that follow it.
std::string describe(const zk::RuleDef* r) {
  std::ostringstream o;
  o << r->name << ' ' << r->constRule << ' ' << r->destRule << '\n';
  for (int i = 0; i < r->charsets->count; ++i) {
    const zk::CharsetDef* s = set(r, i);
    o << s->name << " type=" << std::dec << s->type << " bytes=" << s->bytenum
      << " lang=" << s->lang << " on=" << s->basedon << " defined=" << std::hex;
    for (int k = 0; k < s->defined->count; ++k) {
      auto* cr = static_cast<const zk::CodeRange*>(s->defined->items[k]);
      o << cr->first << '-' << cr->last << ' ';
    }
    o << "user=" << s->defStart << '+' << s->defNumber << ' ' << s->toUcs << ' ' << s->toCode;
    if (i < r->dsTables->count) {
      o << " ds:";
      auto* list = static_cast<const zk::PtrList*>(r->dsTables->items[i]);
      for (int k = 0; k < list->count; ++k)
        o << ' ' << static_cast<const zk::CodeTable*>(list->items[k]);
    }
    o << '\n';
  }
  return o.str();
}

class Loading : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1); }
  TestDir dir;
};

// "bytenum=" of a dstable is hexadecimal: 10 is a width of 16. The user area
// has no extra tables.
TEST_F(Loading, CompleteRuleFileBuildsRuleAndSets) {
  dir.write("jis0208.xml", subsetA("JIS_X0208-1990", 2, "tab0208", "2121-227E 2330\n"));
  dir.write("nec.xml",
            "<subsetb><name>NEC_ExtSet</name><lang domain=\"zh\"/><codeb bytenum=\"2\" "
            "basedon=\"JIS_X0208-1990\">"
            "</codeb><defined>2D21-2D7E</defined><srtable>&tabnec;</srtable></subsetb>");
  dir.write("usr.xml", codec("Windows31J-USR", "<defrange start=\" f040\" number=\"BC\"/>"));
  dir.write("sjis.xml",
            ruleFile("Shift_JIS", "constShift_JIS", "destShift_JIS",
                     {{"set0208", "JIS0208.XML"},
                      {"setnec", "nec.xml"},
                      {"setusr", "usr.xml"},
                      {"tab0208", "JIS0208.TXT"},
                      {"tabnec", "sub/nec.txt"},
                      {"ds1", "ds1.txt"},
                      {"ds2", "ds2.txt"}},
                     "<baseset>&set0208;<dstable "
                     "bytenum=\"10\">&ds1;</dstable><dstable>&ds2;</dstable></baseset>\n"
                     "<diffset>&setnec;</diffset>\n<eudcset>&setusr;</eudcset>\n"));
  EXPECT_EQ(cconvLoadRule(), 1);
  ASSERT_EQ(zk::gState.rules->count, 1);
  zk::RuleDef* r = rule("Shift_JIS");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(describe(r),
            "shift_jis constShift_JIS destShift_JIS\n"
            "JIS_X0208-1990 type=1 bytes=2 lang=ja on= defined=2121-227e 2330-2330 user=0+0 "
            "JIS0208.TXT/4>1 JIS0208.TXT/2>0 ds: ds1.txt/16>0 ds2.txt/2>0\n"
            "NEC_ExtSet type=2 bytes=2 lang=zh on=JIS_X0208-1990 defined=2d21-2d7e user=0+0 "
            "sub/nec.txt/4>1 sub/nec.txt/2>0 ds:\n"
            "Windows31J-USR type=3 bytes=2 lang= on= defined=user=f040+bc /4>1 /2>0\n");
  EXPECT_EQ(r->id, zk::kIdShiftJis);
  ASSERT_EQ(r->dsTables->count, 2);
  EXPECT_EQ(set(r, 0)->id, zk::kIdJisX0208);
  EXPECT_EQ(set(r, 1)->id, zk::kIdNecExt);
  EXPECT_EQ(set(r, 2)->id, zk::kIdWindows31jUsr);
  EXPECT_EQ(set(r, 0)->toUcs->sourceEncoding, zk::kTextUtf16);
  EXPECT_FALSE(zk::ctableIsLoaded(set(r, 0)->toUcs)) << "tables are only named while loading";
  // The sets are the charset list's records.
  EXPECT_EQ(zk::stateCharsetById(zk::kIdJisX0208), set(r, 0));
  EXPECT_EQ(zk::gState.charsets->count, 3);
}

// Each rule file here fails for one reason; one good file proves the pass
// goes on after them. Sets read before a failing one stay in the charset list.
TEST_F(Loading, EachMalformedRuleFileIsRejected) {
  dir.write("good.xml", subsetA("GoodSet", 2, ""));
  dir.write("early.xml", subsetA("EarlySet", 2, ""));
  dir.write("nolang.xml", "<subseta><name>NoLang</name><code bytenum=\"2\"/></subseta>");
  dir.write("bad0.xml", subsetA("Width0", 0, ""));
  dir.write("bad5.xml", subsetA("Width5", 5, ""));
  dir.write("bigusr.xml", codec("BigUser", "", 6));
  dir.write("halfrange.xml", codec("HalfRange", "<defrange start=\"F040\"/>"));
  dir.write("setsrtab.xml",
            "<!DOCTYPE s [<!ENTITY own SYSTEM \"own.txt\">]><subseta><name>Own</name>"
            "<lang domain=\"ja\"/><code></code><srtable>&own;</srtable></subseta>");
  dir.write("table.txt", "8140 3000\n");
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
      {"i_halfrange.xml",
       ruleFile("I", "", "", {{"s", "halfrange.xml"}}, "<eudcset>&s;</eudcset>")},
      {"j_bigusr.xml", ruleFile("J", "", "", {{"s", "bigusr.xml"}}, "<eudcset>&s;</eudcset>")},
      {"k_setsrtab.xml", ruleFile("K", "", "", {{"s", "setsrtab.xml"}}, "<baseset>&s;</baseset>")},
      // A dstable written before the set's own reference names the set file.
      {"l_dsfirst.xml", ruleFile("L", "", "", {{"s", "good.xml"}, {"tabl", "table.txt"}},
                                 "<baseset><dstable>&tabl;</dstable>&s;</baseset>")},
      {"m_longconst.xml", ruleFile("M", longName, "destSAME", {}, "")},
      {"n_shift.xml", "<charset><name>shift</name></charset>"},
      {"o_nolang.xml", ruleFile("O", "", "", {{"e", "early.xml"}, {"n", "nolang.xml"}},
                                "<baseset>&e;</baseset><baseset>&n;</baseset>")},
      {"z_good.xml",
       ruleFile("Z", "constSAME", "destSAME", {{"s", "good.xml"}}, "<baseset>&s;</baseset>")},
  };
  for (const Bad& b : bad) dir.write(b.file, b.text, b.file[0] == 'n' ? Enc::Raw : Enc::Utf16LE);
  EXPECT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(zk::gState.rulesLoadedCount, 1);
  ASSERT_EQ(zk::gState.rules->count, 1);
  EXPECT_STREQ(static_cast<zk::RuleDef*>(zk::gState.rules->items[0])->name, "z");
  for (std::string n : {"Width0", "Width5", "BigUser", "HalfRange", "Own", "NoLang"})
    EXPECT_EQ(zk::stateCharsetById(zk::registryCharsetId(n.data())), nullptr) << n;
  std::string early = "EarlySet";
  EXPECT_NE(zk::stateCharsetById(zk::registryCharsetId(early.data())), nullptr);
}

TEST_F(Loading, FirstRuleOfAnIdWinsAndSharedSetsAreOneRecord) {
  dir.write("s.xml", subsetA("Shared", 2, ""));
  dir.write("t.xml", subsetA("shared", 1, ""));  // same id, other width: dropped
  dir.write("a.xml", ruleFile("EUC-JP", "constEUC-JP", "destEUC-JP", {{"s", "s.xml"}},
                              "<baseset>&s;</baseset>"));
  dir.write("b.xml", ruleFile("euc-jp", "constOTHER", "destOTHER", {{"s", "s.xml"}},
                              "<baseset>&s;</baseset>"));
  dir.write("c.xml",
            ruleFile("Other", "constSAME", "destSAME", {{"t", "t.xml"}}, "<baseset>&t;</baseset>"));
  EXPECT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(zk::gState.rulesLoadedCount, 3) << "the duplicate counts as accepted";
  EXPECT_EQ(zk::gState.rules->count, 2);
  zk::RuleDef* euc = rule("EUC-JP");
  zk::RuleDef* other = rule("other");
  ASSERT_TRUE(euc && other);
  EXPECT_STREQ(euc->constRule, "constEUC-JP");
  EXPECT_EQ(zk::gState.charsets->count, 1);
  EXPECT_EQ(set(euc, 0), set(other, 0));
  EXPECT_EQ(set(other, 0)->bytenum, 2);
}

// In defined ranges a hyphen with a space before it does not join, and a
// trailing pair at the very end still forms a range. A code element without
// bytenum= gives 2; srtable is found after range elements. A dstable between
// sets belongs to neither, an undeclared one is skipped, and only the first
// eudcset after the other sets counts. No rule element: empty function names.
TEST_F(Loading, SetGrammarAndPlacement) {
  dir.write("a.xml", subsetA("SetA", 1, "", "A1 B0-B5 C0 - C3 E0-E1"));
  dir.write("b.xml", subsetA("SetB", 3, "", "21-7E"));
  dir.write("c.xml",
            "<subseta><name>SetC</name><lang domain=\"ko\"/><code></code>"
            "<range>x</range><range>y</range><srtable>&tab;</srtable></subseta>");
  dir.write("d.xml",
            "<subsetb><name>D</name><lang domain=\"zh\"/><codeb bytenum=\"2\" "
            "basedon=\"SetA\"/></subsetb>");
  dir.write("u1.xml", codec("User1", ""));
  dir.write("u2.xml", codec("User2", ""));
  dir.write("r.xml",
            ruleFile("R", "", "",
                     {{"a", "a.xml"},
                      {"b", "b.xml"},
                      {"c", "c.xml"},
                      {"d", "d.xml"},
                      {"u1", "u1.xml"},
                      {"u2", "u2.xml"},
                      {"tab", "c.txt"},
                      {"t1", "t1.txt"}},
                     "<eudcset>&u2;</eudcset>"
                     "<baseset>&a;<dstable>&t1;</dstable><dstable>&nodecl;</dstable></baseset>"
                     "<dstable>&t1;</dstable><baseset>&b;</baseset><baseset>&c;</baseset>"
                     "<diffset>&d;</diffset><eudcset>&u1;</eudcset><eudcset>&u2;</eudcset>"));
  ASSERT_EQ(cconvLoadRule(), 1);
  ASSERT_NE(rule("r"), nullptr);
  EXPECT_EQ(
      describe(rule("r")),
      "r  \n"
      "SetA type=1 bytes=1 lang=ja on= defined=a1-a1 b0-b5 c0-c0 c3-c3 e0-e1 user=0+0 /4>1 /1>0 "
      "ds: t1.txt/2>0\n"
      "SetB type=1 bytes=3 lang=ja on= defined=21-7e user=0+0 /4>1 /3>0 ds:\n"
      "SetC type=1 bytes=2 lang=ko on= defined=user=0+0 c.txt/4>1 c.txt/2>0 ds:\n"
      "D type=2 bytes=2 lang=zh on=SetA defined=user=0+0 /4>1 /2>0 ds:\n"
      "User1 type=3 bytes=2 lang= on= defined=user=0+0 /4>1 /2>0\n");
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
  const Enc encs[] = {Enc::Utf16LE, Enc::Utf16BE, Enc::Ucs2LE,
                      Enc::Ucs2BE,  Enc::Ucs4LE,  Enc::Ucs4BE};
  const char* decls[] = {"UTF-16", "ISO-10646-UCS-2", "UCS-4"};
  const std::uint32_t wantEnc[] = {zk::kTextUtf16, zk::kTextUcs2, zk::kTextUcs4};
  for (int k = 0; k < 6; ++k) {
    std::string n = std::to_string(k);
    std::string text =
        ruleFile("Enc" + n, "constSAME", "destSAME", {{"s", "set" + n + ".xml"}, {"tabl", "t.txt"}},
                 "<baseset>&s;</baseset>");
    text.replace(text.find("UTF-16"), 6, decls[k / 2]);
    dir.write("rule" + n + ".xml", text, encs[k], true);
    dir.write(
        "set" + n + ".xml",
        "<subseta><name>EncSet" + n +
            "</name><lang domain=\"ja\"/><code bytenum=\"2\"/><srtable>&tabl;</srtable></subseta>",
        encs[k], false);
  }
  EXPECT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(zk::gState.rulesLoadedCount, 6);
  for (int k = 0; k < 6; ++k) {
    SCOPED_TRACE(k);
    zk::RuleDef* r = rule("Enc" + std::to_string(k));
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->charsets->count, 1);
    zk::CodeTable* t = set(r, 0)->toUcs;
    EXPECT_STREQ(t->sourceName, "t.txt");
    EXPECT_EQ(t->sourceEncoding, wantEnc[k / 2]);
    EXPECT_EQ(t->sourceBigEndian, k % 2u);
  }
}

}  // namespace
