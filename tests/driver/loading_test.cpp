// End-to-end tests of loading the study: what the binary prints, its status and the
// result file, for good inputs and for each way the inputs can be refused.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

const char* const kResult = "VELKResult.txt";
const char* const kParameters = "[DISEASEN]\t1\n[ALPHA_RF]\t0.05\n";
const char* const kOldResult = "an earlier result\n";
const char* const kInputLine = "Input Data ............\n";
const char* const kNotLoaded = "The data have not been input correctly!\n";
const char* const kAfterLoad =
    "End of data input (spending N seconds).\n"
    "Begin Epistasis Detecting, please wait ...... \n"
    "The time used in detecting multi-loci interactions is: N seconds!\n";
const char* const kHeader = "Loci\tchi_SQ\tP_value\t#Major_cells\n";

std::string counts(int snps, int cases, int ctrls) {
  return std::string(kInputLine) + "\t Number of SNPs is " + std::to_string(snps) +
         "\n\t Number of individuals: " + std::to_string(cases + ctrls) + " (#case = " + std::to_string(cases) +
         "; #control = " + std::to_string(ctrls) + ").\n";
}

// Ten individuals, five cases and five controls, alternating, three SNPs. With a tail
// level of 0.05 and one disease locus only SNP 0 (statistic 22/3) passes the bound.
const std::vector<std::string> kStudy = {"1 2 0 1", "0 0 0 0", "1 2 1 1", "0 0 1 0", "1 2 2 1",
                                         "0 0 2 0", "1 2 0 1", "0 1 0 0", "1 1 1 0", "0 1 1 1"};

std::string join(const std::vector<std::string>& rows, const std::string& end) {
  std::string text;
  for (const std::string& r : rows) text += r + end;
  return text;
}

struct complete_case {
  const char* name;
  study_files inputs;
  std::string out;
  std::string result;
};

TEST(Loading, CompleteLoads) {
  const std::string study = join(kStudy, "\n");
  // SNPs 0 and 1 in one file, SNP 2 in another; statuses spelled differently and
  // blank lines in other places, but the same classes row for row.
  const std::string part_a = join({"1 2 0", "0 0 0", "1 2 1", "0 0 1", "1 2 2", "0 0 2", "1 2 0", "0 1 0",
                                   "1 1 1", "0 1 1"},
                                  "\n");
  const std::string part_b = "\r\n-9 1\r\n-0 0\r\n\r\n2 1\r\n000 0\r\n7 1\r\n\r\n+0 0\r\n+1 1\r\n"
                             "00 0\r\n99999999999999999999 0\r\n  \r\n0 1";
  const std::string one_snp0 = std::string(kHeader) + "0 7.333333 0.0255615 1\n";
  const std::string complete = counts(3, 5, 5) + kAfterLoad;
  const complete_case cases[] = {
      {"line feeds", {{kListFileName, "study.txt\n"}, {"study.txt", study}}, complete, one_snp0},
      {"CRLF", {{kListFileName, "study.txt\r\n"}, {"study.txt", join(kStudy, "\r\n")}}, complete, one_snp0},
      {"blank lines, lone CRs, no final line feed",
       {{kListFileName, "\n  study.txt"},
        {"study.txt", "\n\r\n" + join({kStudy.begin(), kStudy.begin() + 5}, "\n") + " \t\n\n\r\n" +
                          join({kStudy.begin() + 5, kStudy.end() - 1}, "\n") + kStudy.back()}},
       complete,
       one_snp0},
      {"values by value",
       {{kListFileName, "study.txt"},
        {"study.txt", "+1 02 00 1\n-0 0 -0 0\n2 +2 01 +1\n000 00 1 0\n-9 2 2 1\n"
                      "+0 0 2 0\n99999999999999999999 2 0 1\n00 1 0 0\n01 1 1 -0\n0 1 1 1\n"}},
       complete,
       one_snp0},
      {"two files", {{kListFileName, "a.txt\nb.txt\n"}, {"a.txt", part_a}, {"b.txt", part_b}}, complete, one_snp0},
      // SNP indices follow the list order: SNP 0 of the study is now index 1.
      {"two files reversed",
       {{kListFileName, "b.txt a.txt"}, {"a.txt", part_a}, {"b.txt", part_b}},
       complete,
       std::string(kHeader) + "1 7.333333 0.0255615 1\n"},
      // Five SNPs raise the pair-corrected bound above 22/3: nothing passes.
      {"a file listed twice among three",
       {{kListFileName, "a.txt\nb.txt\na.txt\n"}, {"a.txt", part_a}, {"b.txt", part_b}},
       counts(5, 5, 5) + kAfterLoad,
       kHeader},
      {"the same file twice",
       {{kListFileName, "study.txt study.txt"}, {"study.txt", study}},
       counts(6, 5, 5) + kAfterLoad,
       kHeader},
  };
  for (const complete_case& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    dir.write("VELKparameters.txt", kParameters);
    write_files(dir.path(), c.inputs);
    const run_result r = dir.run({"5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_advice(r.err), "");
    EXPECT_EQ(without_banner(r.out), c.out);
    EXPECT_EQ(dir.read(kResult), c.result);
  }
}

struct failure_case {
  const char* name;
  study_files inputs;
  std::string out;
  std::string err;
};

TEST(Loading, Failures) {
  const std::string a = "1 0 1\n0 1 2\n1 2 0\n";  // three individuals, two SNPs
  const std::string loaded = counts(4, 2, 1);      // a.txt and a two-SNP b.txt
  auto only_a = [](const std::string& text) { return study_files{{kListFileName, "a.txt"}, {"a.txt", text}}; };
  auto with_b = [&a](const std::string& b) {
    return study_files{{kListFileName, "a.txt b.txt"}, {"a.txt", a}, {"b.txt", b}};
  };
  const std::string refused = kNotLoaded;
  const failure_case cases[] = {
      {"missing list file", {}, "", "Can't open input file VELKinputfiles.txt\n" + refused},
      {"missing data file", {{kListFileName, "a.txt\n"}}, kInputLine, "Can't open the input file a.txt\n"},
      // The sizing pass meets the missing file before the first file's rows are read.
      {"missing second data file", {{kListFileName, "a.txt\nnone.txt\n"}, {"a.txt", "1 0 1\n0 x 2\n"}},
       kInputLine, "Can't open the input file none.txt\n"},
      {"list names no file", {{kListFileName, " \n\t\r\n\n"}},
       kInputLine, "The list file VELKinputfiles.txt names no genotype file.\n" + refused},
      {"empty data file", only_a(""), kInputLine, "File a.txt holds no individual.\n" + refused},
      {"blank second file is found before a bad token of the first",
       {{kListFileName, "a.txt b.txt"}, {"a.txt", "1 0 1\n0 x 2\n"}, {"b.txt", "\n\r\n \t\n"}},
       kInputLine, "File b.txt holds no individual.\n" + refused},
      {"no SNP column", only_a("\n1\n0 1\n"), kInputLine, "File a.txt has no SNP column.\n" + refused},
      {"directory listed as a data file", {{kListFileName, "a.txt\ngenotypes\n"}, {"a.txt", a}, {"genotypes/", ""}},
       kInputLine, "Can't read the input file genotypes\n" + refused},
      {"bad token in the first file", only_a("1 0 1\n\n0 1,0 2\n1 2 0\n"),
       kInputLine, "File a.txt, line 3: \"1,0\" is not an integer.\n" + refused},
      {"token checked before the value count", only_a("1 0 1\n0 1 2 --1 5\n1 2 0\n"),
       kInputLine, "File a.txt, line 2: \"--1\" is not an integer.\n" + refused},
      {"too few values", only_a("1 0 1\r\n0 1\r\n1 2 0\r\n"),
       kInputLine, "File a.txt, line 2: found 2 values, expected 3.\n" + refused},
      {"too many values on a last line without line feed", only_a("1 0 1\n0 1 2\n\n1 2 0 1"),
       kInputLine, "File a.txt, line 4: found 4 values, expected 3.\n" + refused},
      {"bad token in a later file", with_b("1 0 0\n0 1 +\n1 0 0\n"),
       loaded, "File b.txt, line 2: \"+\" is not an integer.\n" + refused},
      // The second row is on line 3; a blank line does not shift the rows compared.
      {"status differs", with_b("1 0 0\n\n1 1 1\n1 0 0\n"),
       loaded, "File b.txt, line 3: the status differs from the first file.\n" + refused},
      {"a control where the first file has a case", with_b("1 0 0\n0 1 1\n-0 0 0\n"),
       loaded, "File b.txt, line 3: the status differs from the first file.\n" + refused},
      {"value count checked before status", with_b("1 0 0\n1 1\n1 0 0\n"),
       loaded, "File b.txt, line 2: found 2 values, expected 3.\n" + refused},
      {"later file with more rows", with_b("1 0 0\n0 1 1\n1 0 0\n0 2 2\n1 1 1"),
       loaded, "File b.txt holds 5 rows, the first file 3.\n" + refused},
      {"later file with fewer rows", with_b("1 0 0\n0 1 1\n\n"),
       loaded, "File b.txt holds 2 rows, the first file 3.\n" + refused},
      {"rows beyond the first file still get the token check", with_b("1 0 0\n0 1 1\n1 0 0\n\n5 2 y\n"),
       loaded, "File b.txt, line 5: \"y\" is not an integer.\n" + refused},
      {"rows beyond the first file still get the value count check", with_b("1 0 0\n0 1 1\n1 0 0\n0 2\n"),
       loaded, "File b.txt, line 4: found 2 values, expected 3.\n" + refused},
  };
  // Every failure leaves an earlier result file as it was.
  for (const failure_case& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    dir.write("VELKparameters.txt", kParameters);
    dir.write(kResult, kOldResult);
    write_files(dir.path(), c.inputs);
    const run_result r = dir.run({"5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(without_advice(r.err), c.err);
    EXPECT_EQ(without_banner(r.out), c.out);
    EXPECT_EQ(dir.read(kResult), kOldResult);
  }
}

// Each way a refusal reaches the console from the reader that meets it: the lines the
// load said before it (a warning among them) in their place, the refusal, and the
// driver's own closing line where velk writes one; velk-report writes the load's
// warnings but none of its counts, and no closing line.
TEST(Loading, RefusalsReachTheConsoleInOrder) {
  const std::string warning = "Warning: VELKphenotypes.txt is not read: the study lists no VCF or BCF file.\n";
  const std::string bad_token =
      "File a.txt, line 2: \"x\" is not an integer.\nHint: it stands in column 2, the file's 1st SNP; text genotype "
      "files hold integers only: the status (0 a control, any other integer a case), then 0, 1 or 2 per SNP, a "
      "missing genotype written as any other integer (-1 or 3, say).\n";
  const study_files unusable = {{kListFileName, "a.txt\n"}, {"a.txt", "1 0 1\n0 x 2\n"}, {"VELKphenotypes.txt", "s1 2\n"},
                          {"VELKparameters.txt", kParameters}, {kResult, kOldResult}};
  genotype_study controls = genotype_study::random(3, 2, 7);
  controls.is_case.assign(3, false);
  const study_files one_class_fileset = fileset(controls, "s", 0, 2) + study_files{{kListFileName, "s.bed\n"},
                                        {"VELKparameters.txt", kParameters}, {kResult, kOldResult}};
  study_files zero_one_fileset = one_class_fileset;
  for (auto& [name, text] : zero_one_fileset)
    if (name == "s.fam") text = "fam0 ind0 0 0 1 0\nfam1 ind1 0 0 1 1\nfam2 ind2 0 0 2 1\n";
  const struct {
    const char* name;
    const char* program;
    study_files inputs;
    int status;
    std::string out;  // after velk's banner
    std::string err;
  } cases[] = {
      {"velk: a warning, then the refusal of the counting pass", VELK_BINARY, unusable, 1, kInputLine,
       warning + bad_token + kNotLoaded},
      {"velk-report: the same load", VELK_REPORT_BINARY, unusable, 1, "", warning + bad_token},
      {"velk-report: no parameter file", VELK_REPORT_BINARY, {{kResult, kOldResult}}, 1, "",
       "Cannot open the parameter file \"VELKparameters.txt\"\n"},
      // A study of one class is refused after its counts, before the search.
      {"velk: a text study coded 1/2, all cases", VELK_BINARY,
       {{kListFileName, "a.txt\n"}, {"a.txt", "1 0 1\n2 1 2\n"}, {"VELKparameters.txt", kParameters},
        {kResult, kOldResult}},
       1, counts(2, 2, 0) + "End of data input (spending N seconds).\n",
       "The study has no control: status 0 marks a control, any other integer a case.\nHint: a study coded 1 "
       "(control) and 2 (case), as PLINK codes phenotypes, reads as all cases; recode its first column to 0 and "
       "1.\n"},
      {"velk: a fileset of controls only", VELK_BINARY, one_class_fileset, 1,
       counts(2, 0, 3) + "End of data input (spending N seconds).\n",
       "The study has no case: a .fam's phenotype 1 marks a control, 2 a case, 0 and -9 none.\nHint: a .fam coded "
       "0 (control) and 1 (case) reads as controls, its 0s as missing phenotypes; recode it to 1 and 2.\n"},
      {"velk: a .fam coded 0/1", VELK_BINARY, zero_one_fileset, 1,
       std::string(kInputLine) + "\t Individuals left out (phenotype 0 or -9 in s.fam): 1 of 3.\n" +
           counts(2, 0, 2).substr(strlen(kInputLine)) + "End of data input (spending N seconds).\n",
       "The study has no case: a .fam's phenotype 1 marks a control, 2 a case, 0 and -9 none.\nHint: a .fam coded "
       "0 (control) and 1 (case) reads as controls, its 0s as missing phenotypes; recode it to 1 and 2.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    write_files(dir.path(), c.inputs);
    const bool velk = std::string(c.program) == VELK_BINARY;
    const run_result r = dir.run(velk ? std::vector<std::string>{"5"} : std::vector<std::string>{}, c.program);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(velk ? without_banner(r.out) : r.out, c.out);
    EXPECT_EQ(dir.read(kResult), kOldResult);
  }
}

}  // namespace
}  // namespace velk::testing
