// End-to-end: a focused search's rules are read and checked before the search, the
// console counts the sets they allow, and each way they are refused leaves the result
// as it was.
#include <gtest/gtest.h>

#include <random>
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
      {"a corrected bound beyond the sets allowed", "[SETSRULE]\t2\n[MAX_PVAL]\t10\n", genes, false, 255,
       "Numerical error: Domain error in InvChiSquareDistribution\nHint: [MAX_PVAL] is 10; a focused search divides "
       "it by the 6 sets its rules allow, so it must lie above 0 and at most 6.\n"},
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

// The point of a focused search: a pair across two genes whose joint genotypes shift
// the case odds, without an effect of either SNP alone (one heterozygote, not both),
// found first when gene is searched against gene, at a raw p-value that the corrected
// bound of every pair of the study would not let through.
TEST(FocusedSearch, APlantedPairAcrossTwoGenesIsFoundFirst) {
  std::mt19937 rng(1);
  const int individuals = 400, snps = 300, a = 10, b = 200;
  std::string text;
  for (int d = 0; d < individuals; ++d) {
    std::vector<int> g(snps);
    for (int& x : g) x = static_cast<int>(rng() % 4 == 0 ? 0 : rng() % 3 == 0 ? 2 : 1);
    const bool risk = (g[a] == 1) != (g[b] == 1);
    const bool is_case = std::uniform_real_distribution<double>(0, 1)(rng) < (risk ? 0.62 : 0.38);
    text += is_case ? "1" : "0";
    for (int x : g) text += " " + std::to_string(x);
    text += "\n";
  }
  // GENE1 holds SNP a (column a + 1) among its neighbours, GENE2 SNP b.
  std::string genes = "GENE1\n";
  for (int k = a - 1; k <= a + 3; ++k) genes += "g.txt:" + std::to_string(k) + "\n";
  genes += "END\nGENE2\n";
  for (int k = b - 1; k <= b + 3; ++k) genes += "g.txt:" + std::to_string(k) + "\n";
  genes += "END\n";
  const auto first_row = [&](int rule) {
    study_dir dir;
    set_up_study(dir.path(), "g.txt\n", {{"g.txt", text}, {"VELKsets.txt", genes}},
                 "[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t0.05\n[SETSRULE]\t" + std::to_string(rule) + "\n");
    EXPECT_EQ(dir.run({"3"}).status, 0);
    if (rule == 2) {
      // The record and the report name the rules and the sets they allow.
      EXPECT_NE(dir.read("VELKrun.json").find("\"allowed_sets\": 25.0"), std::string::npos);
      EXPECT_EQ(dir.run({}, VELK_REPORT_BINARY).status, 0);
      const std::string page = dir.read("VELKReport.html");
      EXPECT_NE(page.find("[SETSRULE]</th><td class=\"num\">2 (sets across the listed sets, VELKsets.txt)"),
                std::string::npos);
      EXPECT_NE(page.find("Sets the rules allow</th><td class=\"num\">25<"), std::string::npos);
    }
    const std::string result = dir.read("VELKResult.txt");
    const size_t start = result.find('\n') + 1;
    return result.substr(start, result.find('\n', start) - start);
  };
  const std::string focused = first_row(2);
  ASSERT_EQ(focused.rfind("10 200 ", 0), 0u) << focused;
  const double raw = std::stod(focused.substr(focused.rfind(' ', focused.rfind(' ') - 1) + 1));
  EXPECT_LT(raw, 0.05 / 25);               // through the bound of the 25 pairs allowed
  EXPECT_GT(raw, 0.05 / (300.0 * 299 / 2));  // not through that of every pair
  EXPECT_NE(first_row(0).rfind("10 200 ", 0), 0u);
}

}  // namespace
}  // namespace velk::testing
