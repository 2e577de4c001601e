// End-to-end: a focused search's rules are read and checked before the search, the
// console counts the sets they allow, and each way they are refused leaves the result
// as it was.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e.h"
#include "plink_study.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

const char* const kEarlier = "an earlier result\n";

TEST(FocusedSearch, RulesAreCountedOrRefusedBeforeTheSearch) {
  // Ten SNPs rs1000 ... rs1009 on chromosome 1 at 100, 200, ..., 1000.
  const genotype_study s = genotype_study::random(200, 10, 28);
  const std::string genes = "GENE1\nrs1000\nrs1001\nEND\n\nGENE2\nrs1002\nrs1003\nrs1004\nEND\n";
  const std::string base = "[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n[MAXGWPVL]\t1\n";
  const struct {
    const char* name;
    std::string parameters;  // after the base
    std::string sets;        // VELKsets.txt; none when empty
    bool with_text;          // a text file listed after the fileset
    int status;
    std::string line;  // the console line of the rules, or the refusal on standard error
    std::string warning = "";
  } cases[] = {
      {"set-by-all", "[SETSRULE]\t1\n", genes, false, 0, "Sets allowed by VELKsets.txt ([SETSRULE] 1): 35 of 45 pairs.\n"},
      {"set-by-set", "[SETSRULE]\t2\n", genes, false, 0, "Sets allowed by VELKsets.txt ([SETSRULE] 2): 6 of 45 pairs.\n"},
      {"distance", "[MINDISTB]\t250\n", "", false, 0, "Sets allowed by [MINDISTB] 250: 28 of 45 pairs.\n"},
      {"set-by-set and distance", "[SETSRULE]\t2\n[MINDISTB]\t250\n", genes, false, 0,
       "Sets allowed by VELKsets.txt ([SETSRULE] 2) and [MINDISTB] 250: 3 of 45 pairs.\n"},
      {"set-by-set within one set", "[SETSRULE]\t2\n", "G\nrs1000\nrs1001\nEND\n", false, 0,
       "Sets allowed by VELKsets.txt ([SETSRULE] 2): 0 of 45 pairs.\n",
       "Warning: the result holds no set: [SETSRULE] and [MINDISTB] allow no set of 2 SNPs in this study.\n"},
      {"a rule out of range", "[SETSRULE]\t3\n", genes, false, 255, "The value of [SETSRULE] must be 0, 1 or 2!\n"},
      {"a negative distance", "[MINDISTB]\t-1\n", "", false, 255, "The value of [MINDISTB] must be 0 or more!\n"},
      {"no sets file", "[SETSRULE]\t1\n", "", false, 1,
       "Can't open VELKsets.txt: [SETSRULE] 1 searches the sets it lists.\n"},
      {"a SNP not in the study", "[SETSRULE]\t2\n", "G\nrs1000\nrs77\nEND\n", false, 1,
       "File VELKsets.txt, line 3: SNP rs77 of set G is not in the study.\n"},
      {"a text file's SNP by FILE:COLUMN", "[SETSRULE]\t1\n", "G\nt.txt:2\nEND\n", true, 0,
       "Sets allowed by VELKsets.txt ([SETSRULE] 1): 11 of 66 pairs.\n"},
      {"a distance over a text file", "[MINDISTB]\t10\n", "", true, 1,
       "[MINDISTB] needs the positions of the SNPs, and t.txt, a text file, gives none.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    study_files files = fileset(s, "s", 0, 10);
    if (c.with_text) files.push_back({"t.txt", s.text(0, 2)});
    set_up_study(dir.path(), c.with_text ? "s.bed t.txt\n" : "s.bed\n", files, base + c.parameters);
    if (!c.sets.empty()) dir.write("VELKsets.txt", c.sets);
    dir.write("VELKResult.txt", kEarlier);
    const run_result r = dir.run({"5"});
    EXPECT_EQ(r.status, c.status);
    if (c.status == 0) {
      EXPECT_NE(r.out.find("Begin Epistasis Detecting, please wait ...... \n" + c.line), std::string::npos) << r.out;
      EXPECT_EQ(r.err, c.warning);
      EXPECT_NE(dir.read("VELKResult.txt"), kEarlier);
    } else {
      EXPECT_EQ(r.err.substr(0, c.line.size()), c.line);
      EXPECT_EQ(dir.read("VELKResult.txt"), kEarlier);
    }
  }
}

}  // namespace
}  // namespace velk::testing
