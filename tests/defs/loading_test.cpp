// Set files, rule files and the loading pass, through cconvLoadRule on
// charset directories that each test writes.
#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "defs/defs.h"
#include "frame/registry.h"
#include "frame/state.h"
#include "support/testdir.h"
#include "zrkvt16.h"

namespace {

using namespace zktest;

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
    if (i < r->dsTables->count) o << " ds:";
    for (int k = 0;
         i < r->dsTables->count && k < static_cast<zk::PtrList*>(r->dsTables->items[i])->count; ++k)
      o << ' '
        << static_cast<const zk::CodeTable*>(
               static_cast<zk::PtrList*>(r->dsTables->items[i])->items[k]);
    o << '\n';
  }
  return o.str();
}

std::string codec(const std::string& name, const std::string& defrange, int bytenum = 2) {
  return "<name>" + name + "</name>\n<codec bytenum=\"" + std::to_string(bytenum) +
         "\"><range>8140-9FFC</range>" + defrange + "</codec>\n";
}

class Loading : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(KVT_setCharsetPath(dir.path().c_str()), 1); }
  TestDir dir;
};

// "bytenum=" of a dstable is hexadecimal: 10 is a width of 16; a set's is
// decimal, read as atoi reads it (" 02" is 2). In defined
// ranges a hyphen with a space before it does not join, and a trailing pair
// at the very end still forms a range. A code element without bytenum= gives
// 2. A dstable between sets belongs
// to neither, an undeclared one is skipped, as is one whose file name does
// not fit its field (260 characters; 259 do), and only the first eudcset
// after the other sets counts; the user area has no extra tables. Tables are
// only named while loading, read with the rule file's encoding.
TEST_F(Loading, RulesAndTheirSets) {
  // clang-format off
  dir.write("jis0208.xml", subsetA("JIS_X0208-1990", 2, "tab0208", "2121-227E 2330\n"));
  dir.write("nec.xml", "<subsetb><name>NEC_ExtSet</name><lang domain=\"zh\"/><codeb bytenum=\" 02\" "
                       "basedon=\"JIS_X0208-1990\"></codeb><defined>2D21-2D7E</defined>"
                       "<srtable>&tabnec;</srtable></subsetb>");
  dir.write("usr.xml", codec("Windows31J-USR", "<defrange start=\" f040\" number=\"BC\"/>"));
  dir.write("sjis.xml", ruleFile("Shift_JIS", "constShift_JIS", "destShift_JIS",
      {{"set0208", "JIS0208.XML"}, {"setnec", "nec.xml"}, {"setusr", "usr.xml"}, {"ds1", "ds1.txt"},
       {"tab0208", "JIS0208.TXT"}, {"tabnec", "sub/nec.txt"}, {"ds2", "ds2.txt"}},
      "<baseset>&set0208;<dstable bytenum=\"10\">&ds1;</dstable><dstable>&ds2;</dstable></baseset>"
      "<diffset>&setnec;</diffset>\n<eudcset>&setusr;</eudcset>\n"));
  dir.write("a.xml", subsetA("SetA", 1, "", "A1 B0-B5 C0 - C3 E0-E1"));
  dir.write("u2.xml", codec("User2", ""));
  const std::string fits(259, 'f'), tooLong(260, 'f');
  dir.write("r.xml", ruleFile("R", "", "", {{"a", "a.xml"}, {"u1", "usr.xml"}, {"u2", "u2.xml"},
      {"t1", "t1.txt"}, {"fits", fits}, {"long", tooLong}},
      "<eudcset>&u2;</eudcset><baseset>&a;<dstable>&t1;</dstable><dstable>&nodecl;"
      "</dstable><dstable>&long;</dstable><dstable>&fits;</dstable></baseset><dstable>&t1;"
      "</dstable><eudcset>&u1;</eudcset><eudcset>&u2;</eudcset>"));
  EXPECT_EQ(cconvLoadRule(), 1);
  ASSERT_TRUE(rule("Shift_JIS") && rule("r"));
  EXPECT_EQ(describe(rule("Shift_JIS")), "shift_jis constShift_JIS destShift_JIS\n"
      "JIS_X0208-1990 type=1 bytes=2 lang=ja on= defined=2121-227e 2330-2330 user=0+0 "
      "JIS0208.TXT/4>1 JIS0208.TXT/2>0 ds: ds1.txt/16>0 ds2.txt/2>0\n"
      "NEC_ExtSet type=2 bytes=2 lang=zh on=JIS_X0208-1990 defined=2d21-2d7e user=0+0 "
      "sub/nec.txt/4>1 sub/nec.txt/2>0 ds:\n"
      "Windows31J-USR type=3 bytes=2 lang= on= defined=user=f040+bc /4>1 /2>0\n");
  EXPECT_EQ(describe(rule("r")), "r  \n"
      "SetA type=1 bytes=1 lang=ja on= defined=a1-a1 b0-b5 c0-c0 c3-c3 e0-e1 user=0+0 /4>1 /1>0 "
      "ds: t1.txt/2>0 " + fits + "/2>0\n"
      "Windows31J-USR type=3 bytes=2 lang= on= defined=user=f040+bc /4>1 /2>0\n");
  // clang-format on
  // The sets are the charset list's records, one per id.
  EXPECT_EQ(zk::stateCharsetById(zk::kIdJisX0208), set(rule("Shift_JIS"), 0));
  EXPECT_EQ(set(rule("r"), 1), set(rule("Shift_JIS"), 2));
  EXPECT_EQ(zk::gState.charsets->count, 4);
  EXPECT_FALSE(zk::ctableIsLoaded(set(rule("Shift_JIS"), 0)->toUcs));
}

// Each rule file here fails for one reason (a name of 260 characters, of the
// rule or of a set, is refused, not cut); one good file proves the pass
// goes on after them. Sets read before a failing one stay in the charset list.
// The first rule of an id wins (the duplicate counts as accepted), and a set of
// an id already known is that record, whatever its width.
TEST_F(Loading, MalformedRuleFilesAndDuplicates) {
  dir.write("good.xml", subsetA("GoodSet", 2, ""));
  dir.write("early.xml", subsetA("EarlySet", 2, ""));
  dir.write("shared.xml", subsetA("goodset", 1, ""));
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
  dir.write("longset.xml", subsetA(longName, 2, ""));
  // A rule of one set, the file `set` in the element `tag`.
  auto with = [](const char* name, const char* set, const std::string& tag = "baseset") {
    return ruleFile(name, "", "", {{"s", set}}, "<" + tag + ">&s;</" + tag + ">");
  };
  // clang-format off
  const std::pair<const char*, std::string> bad[] = {
      {"a_nocharset.xml", "<name>X</name>"},
      {"b_noname.xml", "<charset><rule construle=\"a\" destrule=\"b\"/></charset>"},
      {"c_nodest.xml", "<charset><name>C</name><rule construle=\"constSAME\"/></charset>"},
      {"d_longname.xml", "<charset><name>" + longName + "</name></charset>"},
      {"d_longset.xml", with("D", "longset.xml")},
      {"e_width0.xml", with("E", "bad0.xml")}, {"f_width5.xml", with("F", "bad5.xml", "diffset")},
      {"g_undeclared.xml", ruleFile("G", "", "", {}, "<baseset>&nowhere;</baseset>")},
      {"h_missingfile.xml", with("H", "absent.xml")},
      {"i_halfrange.xml", with("I", "halfrange.xml", "eudcset")},
      {"j_bigusr.xml", with("J", "bigusr.xml", "eudcset")},
      {"k_setsrtab.xml", with("K", "setsrtab.xml")},
      // A dstable written before the set's own reference names the set file.
      {"l_dsfirst.xml", ruleFile("L", "", "", {{"s", "good.xml"}, {"tabl", "table.txt"}},
                                 "<baseset><dstable>&tabl;</dstable>&s;</baseset>")},
      {"m_longconst.xml", ruleFile("M", longName, "destSAME", {}, "")},
      {"n_shift.xml", "<charset><name>shift</name></charset>"},  // raw bytes naming Shift_JIS
      {"o_nolang.xml", ruleFile("O", "", "", {{"e", "early.xml"}, {"n", "nolang.xml"}},
                                "<baseset>&e;</baseset><baseset>&n;</baseset>")},
      {"x_good.xml", ruleFile("EUC-JP", "constEUC-JP", "destEUC-JP", {{"s", "good.xml"}},
                              "<baseset>&s;</baseset>")},
      {"y_again.xml", ruleFile("euc-jp", "constOTHER", "destOTHER", {{"s", "good.xml"}},
                               "<baseset>&s;</baseset>")},
      {"z_shared.xml", with("Z", "shared.xml")},
  };
  // clang-format on
  for (const auto& [file, text] : bad)
    dir.write(file, text, file[0] == 'n' ? Enc::Raw : Enc::Utf16LE);
  EXPECT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(zk::gState.rulesLoadedCount, 3);
  EXPECT_EQ(zk::gState.rules->count, 2);
  ASSERT_TRUE(rule("EUC-JP") && rule("z"));
  EXPECT_STREQ(rule("EUC-JP")->constRule, "constEUC-JP");
  EXPECT_EQ(set(rule("z"), 0), set(rule("EUC-JP"), 0));
  EXPECT_EQ(set(rule("z"), 0)->bytenum, 2);
  for (std::string n : {"Width0", "Width5", "BigUser", "HalfRange", "Own", "NoLang"})
    EXPECT_EQ(zk::stateCharsetById(zk::registryCharsetId(n.data())), nullptr) << n;
  EXPECT_NE(zk::stateCharsetById(zk::registryCharsetId(std::string("EarlySet").data())), nullptr);
  // The pass runs once per process.
  dir.write("late.xml", ruleFile("Late", "", "", {}, ""));
  EXPECT_EQ(cconvLoadRule(), 1);
  EXPECT_EQ(zk::gState.rules->count, 2);
}

TEST_F(Loading, EmptyDirectoryLoadsNothing) { EXPECT_EQ(cconvLoadRule(), 0); }

}  // namespace
