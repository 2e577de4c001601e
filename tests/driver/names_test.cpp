// End-to-end tests of velk-names: SNP identifiers for a mixed study of text files and
// filesets, what it refuses, and that it never needs the genotypes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "plink_study.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

const char* const kHeader = "Loci\tchi_SQ\tP_value\t#Major_cells\n";

// a.txt (SNPs 0-2), the fileset g (3-4, listed without suffix), b.txt (5), the fileset
// h.bed (6-8). The genotypes past the first row of each text file and past the header
// of each .bed are not even valid: velk-names must not read them.
void write_mixed_study(const study_dir& dir) {
  const genotype_study s = genotype_study::random(8, 9, 5);
  dir.write(kListFileName, "a.txt\ng\n  b.txt h.bed\n");
  dir.write("a.txt", "1 0 1 2\nnot genotypes\n");
  dir.write("g", "\x6C\x1B\x01 not genotypes");
  dir.write("g.bim", s.bim(3, 2));
  dir.write("b.txt", "\r\n\n0\t1\r\n");
  dir.write("h.bed", "\x6C\x1B\x01");
  dir.write("h.bim", s.bim(6, 3));
}

TEST(Names, MixedStudy) {
  study_dir dir;
  write_mixed_study(dir);
  // Rows as velk writes them, one SNP of each file at least, widths of one to four.
  dir.write("VELKResult.txt", std::string(kHeader) +
                                  "0 3 5 8 41.000000 1.24e-09 9\n"
                                  "2 4 6 30.500000 2.37e-07 4\n"
                                  "1 7 12.000000 0.00247875 1\n"
                                  "5 7.000000 0.0301974 0\n");
  const run_result r = dir.run({}, VELK_NAMES_BINARY);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  // One header column per SNP of the first row, as velk's rows all have.
  EXPECT_EQ(r.out, "SNP1\tSNP2\tSNP3\tSNP4\tchi_SQ\tP_value\t#Major_cells\n"
                   "a.txt:1\trs1003\tb.txt:1\trs1008\t41.000000\t1.24e-09\t9\n"
                   "a.txt:3\trs1004\trs1006\t30.500000\t2.37e-07\t4\n"
                   "a.txt:2\trs1007\t12.000000\t0.00247875\t1\n"
                   "b.txt:1\t7.000000\t0.0301974\t0\n");
  // With the .bim's chromosome and position after each SNP; NA for a text file's.
  const run_result placed = dir.run({"--positions"}, VELK_NAMES_BINARY);
  EXPECT_EQ(placed.status, 0);
  EXPECT_EQ(placed.err, "");
  EXPECT_EQ(placed.out,
            "SNP1\tCHR1\tPOS1\tSNP2\tCHR2\tPOS2\tSNP3\tCHR3\tPOS3\tSNP4\tCHR4\tPOS4\tchi_SQ\tP_value\t#Major_cells\n"
            "a.txt:1\tNA\tNA\trs1003\t1\t400\tb.txt:1\tNA\tNA\trs1008\t1\t900\t41.000000\t1.24e-09\t9\n"
            "a.txt:3\tNA\tNA\trs1004\t1\t500\trs1006\t1\t700\t30.500000\t2.37e-07\t4\n"
            "a.txt:2\tNA\tNA\trs1007\t1\t800\t12.000000\t0.00247875\t1\n"
            "b.txt:1\tNA\tNA\t7.000000\t0.0301974\t0\n");
}

TEST(Names, AfterARealRun) {
  const genotype_study s = genotype_study::random(60, 6, 9);
  study_dir dir;
  set_up_study(dir.path(), "a.txt s.bed\n", study_files{{"a.txt", s.text(0, 2)}} + fileset(s, "s", 2, 4),
               "[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n[MAXGWPVL]\t1\n");
  ASSERT_EQ(dir.run({"3"}).status, 0);
  const std::string result = dir.read("VELKResult.txt");
  const run_result r = dir.run({}, VELK_NAMES_BINARY);
  EXPECT_EQ(r.status, 0) << r.err;
  // Row for row: the two indices named, then the other fields, all between tabs.
  const std::vector<std::string> names = {"a.txt:1", "a.txt:2", "rs1002", "rs1003", "rs1004", "rs1005"};
  std::istringstream rows(result.substr(result.find('\n') + 1));
  std::string expected = "SNP1\tSNP2\tchi_SQ\tP_value\t#Major_cells\n";
  for (std::string a, b, chisq, pvalue, case_major_ct; rows >> a >> b >> chisq >> pvalue >> case_major_ct;)
    expected += names.at(std::stoul(a)) + "\t" + names.at(std::stoul(b)) + "\t" + chisq + "\t" + pvalue + "\t" +
                case_major_ct + "\n";
  EXPECT_EQ(r.out, expected);
  EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 4);
}

// The family-wise p-values as two last columns exactly when velk-report would show them:
// the permutation file of these sets, with p-values of the B that [PERMUTES] sets (and
// tail p-values only where they apply). A file without the tail's column, from a version
// before it, gives NA there.
TEST(Names, FamilyWiseColumns) {
  const std::string result = std::string(kHeader) + "1 7 12.000000 0.00247875 1\n5 6 7.000000 0.0301974 0\n";
  const std::string permutations = "SNP1\tSNP2\tchi_SQ\tP_value\tFW_P_value\tExceeding\n"
                                   "1\t7\t12.000000\t0.00247875\t0.01\t0\n"
                                   "5\t6\t7.000000\t0.0301974\t0.34\t33\n";
  const auto with_tail = [](const std::string& first, const std::string& second) {
    return "SNP1\tSNP2\tchi_SQ\tP_value\tFW_P_value\tExceeding\tFW_P_tail\n"
           "1\t7\t12.000000\t0.00247875\t0.01\t0\t" + first + "\n"
           "5\t6\t7.000000\t0.0301974\t0.34\t33\t" + second + "\n";
  };
  const std::string rows = "a.txt:2\trs1007\t12.000000\t0.00247875\t1\nb.txt:1\trs1006\t7.000000\t0.0301974\t0\n";
  const std::string plain = "SNP1\tSNP2\tchi_SQ\tP_value\t#Major_cells\n" + rows;
  const struct {
    const char* name;
    std::optional<std::string> parameters, permutations;
    std::string out, err;
  } cases[] = {
      {"no permutation file", "[PERMUTES] 99\n", {}, plain, ""},
      {"the result's permutations", "[PERMUTES] 99\n", permutations,
       "SNP1\tSNP2\tchi_SQ\tP_value\t#Major_cells\tFW_P_value\tFW_P_tail\n"
       "a.txt:2\trs1007\t12.000000\t0.00247875\t1\t0.01\tNA\n"
       "b.txt:1\trs1006\t7.000000\t0.0301974\t0\t0.34\tNA\n",
       ""},
      {"with their tail", "[PERMUTES] 99\n", with_tail("2.5e-05", "NA"),
       "SNP1\tSNP2\tchi_SQ\tP_value\t#Major_cells\tFW_P_value\tFW_P_tail\n"
       "a.txt:2\trs1007\t12.000000\t0.00247875\t1\t0.01\t2.5e-05\n"
       "b.txt:1\trs1006\t7.000000\t0.0301974\t0\t0.34\tNA\n",
       ""},
      {"a tail p-value where 33 permutations reached the set", "[PERMUTES] 99\n", with_tail("2.5e-05", "0.3"), plain,
       "Warning: VELKpermutations.txt, line 3: FW_P_tail 0.3 is neither NA nor a tail p-value, which needs "
       "[PERMUTES] 99 or more and Exceeding below 10; the family-wise p-values are left out.\n"},
      {"another B", "[PERMUTES] 999\n", permutations, plain,
       "Warning: VELKpermutations.txt, line 2: FW_P_value 0.01 is not (1 + Exceeding) / (B + 1) for [PERMUTES] 999 "
       "of VELKparameters.txt; the family-wise p-values are left out.\n"},
      {"no parameter file", {}, permutations, plain,
       "Warning: VELKparameters.txt sets no [PERMUTES] above 0, so VELKpermutations.txt is not of its run; the "
       "family-wise p-values are left out.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    write_mixed_study(dir);
    dir.write("VELKResult.txt", result);
    if (c.parameters) dir.write("VELKparameters.txt", *c.parameters);
    if (c.permutations) dir.write("VELKpermutations.txt", *c.permutations);
    const run_result r = dir.run({}, VELK_NAMES_BINARY);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, c.out);
  }
}

TEST(Names, Refusals) {
  const std::string header = kHeader;
  const struct {
    const char* name;
    std::optional<std::string> list;    // the mixed study's list when absent
    std::optional<std::string> result;  // no result file when absent
    const char* removed;                // a file of the mixed study taken away
    std::string err;
    bool result_directory = false;  // a directory in place of the result file
  } cases[] = {
      {"no result file", {}, {}, "", "Can't open the result file VELKResult.txt; run velk in this folder first.\n"},
      {"a result file that is a directory", {}, {}, "", "Can't read the result file VELKResult.txt\n", true},
      {"no list file",
       {},
       header + "0 1.000000 0.606531 0\n",
       kListFileName,
       "Can't open input file VELKinputfiles.txt\n"},
      {"an index one beyond the study",
       {},
       header + "0 3 2.0 0.3 0\n1 9 2.0 0.3 0\n",
       "",
       "File VELKResult.txt, line 3: SNP index 9 is beyond the 9 SNPs of the files listed in VELKinputfiles.txt.\n"},
      {"a list that names fewer files", "a.txt\n", header + "2 3 2.0 0.3 0\n", "",
       "File VELKResult.txt, line 2: SNP index 3 is beyond the 3 SNPs of the files listed in VELKinputfiles.txt.\n"},
      {"another header",
       {},
       "Loci chi_SQ P_value #Major_cells\n0 1 2.0 0.3 0\n",
       "",
       "File VELKResult.txt, line 1: not the header of a VELK result file.\n"},
      {"an empty result file", {}, "", "", "File VELKResult.txt is empty; it is not a VELK result file.\n"},
      {"a row without indices",
       {},
       header + "0 1 2.0 0.3 0\n2.0 0.3 0\n",
       "",
       "File VELKResult.txt, line 3: not a row of a VELK result file.\n"},
      {"a negative index",
       {},
       header + "-1 2 2.0 0.3 0\n",
       "",
       "File VELKResult.txt, line 2: \"-1\" is not a SNP index.\n"},
      {"a missing .bim", {}, header + "0 1 2.0 0.3 0\n", "h.bim", "File h.bed: can't open its .bim file h.bim\n"},
      {"a missing listed file", {}, header + "0 1 2.0 0.3 0\n", "b.txt", "Can't open the input file b.txt\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    write_mixed_study(dir);
    if (*c.removed != '\0') std::filesystem::remove(dir.path() / c.removed);
    if (c.list) dir.write(kListFileName, *c.list);
    if (c.result) dir.write("VELKResult.txt", *c.result);
    if (c.result_directory) std::filesystem::create_directory(dir.path() / "VELKResult.txt");
    const run_result r = dir.run({}, VELK_NAMES_BINARY);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
  }
}

TEST(Names, CommandLine) {
  study_dir dir;
  const run_result help = dir.run({"--help"}, VELK_NAMES_BINARY);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("Usage: velk-names [--positions] [--help]\n", 0), 0u);
  for (const char* topic : {"VELKResult.txt", "VELKinputfiles.txt", ".bim", "NAME:COLUMN", "SNP1", "Exit status"})
    EXPECT_NE(help.out.find(topic), std::string::npos) << topic;
  const run_result wrong = dir.run({"VELKResult.txt"}, VELK_NAMES_BINARY);
  EXPECT_EQ(wrong.status, 2);
  EXPECT_EQ(without_advice(wrong.err), "Usage: velk-names [--help]\n");
  EXPECT_EQ(wrong.out, "");
}

}  // namespace
}  // namespace velk::testing
