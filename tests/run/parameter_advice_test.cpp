// End-to-end test of what a new user meets: the command line, the help, and the advice
// lines ("Warning: ", "Hint: ") around the messages of a run, each case with its exact
// standard error, its status and what became of an earlier result file.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "e2e.h"
#include "plink_study.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

const char* const kResult = "VELKResult.txt";
const char* const kOldResult = "an earlier result\n";
const char* const kHeader = "Loci\tchi_SQ\tP_value\t#Major_cells\n";
// Every SNP passes the raw bound of 1, so the result holds rows.
const std::string kParameters = "[DISEASEN] 1\n[ALPHA_RF] 0.1\n[MAXGWPVL] 1\n";
const std::string kNoKey =
    " is no key velk reads ([DISEASEN], [MULFACTR], [MAX_PVAL], [MAXGWPVL], [ALPHA_RF], [PERMUTES], [PERMSEED], "
    "[EXHAUSTV], [SETSRULE], [MINDISTB], each from the first column); the line is ignored.\n";
const std::string kNotLoaded = "The data have not been input correctly!\n";
const std::string kNoLoci = "Please Input the number of disease loci of the model before!\n";
const std::string kNoListMemory = "Cannot alloc memory for top_k_list!\n";
const std::string kInverseDomain = "Numerical error: Domain error in InvChiSquareDistribution\n";
const std::string kNoSet = "Warning: the result holds no set: ";
const std::string kIntegersOnly =
    "; text genotype files hold integers only: the status (0 a control, any other integer a case), then 0, 1 or 2 "
    "per SNP, a missing genotype written as any other integer (-1 or 3, say).\n";

// Twenty individuals, four SNPs: the same study as the text file a.txt and as the
// fileset forex.bed, forex.bim, forex.fam.
genotype_study study() {
  const std::string status = "00101111001011011001";
  const std::vector<std::string> snps = {"00022012012020112010", "20110122002210212221", "22011212120102112012",
                                         "22210122002111201012"};
  genotype_study s;
  for (size_t d = 0; d < status.size(); ++d) {
    s.is_case.push_back(status[d] == '1');
    s.genotypes.emplace_back();
    for (const std::string& snp : snps) s.genotypes.back().push_back(snp[d] - '0');
  }
  return s;
}

enum class result_file { kept, same_as_plain_run, header_only };

struct advice_case {
  const char* name;
  std::vector<std::string> args;
  std::optional<std::string> list;        // VELKinputfiles.txt; none when absent
  std::optional<std::string> parameters;  // VELKparameters.txt; none when absent
  int status;
  std::string err;  // "{dir}" stands for the study folder
  result_file result;
  std::string out_start = "VELK: ";
  // When given: standard output and standard error in one file, after the banner.
  std::optional<std::string> log = std::nullopt;
};

void write_study(const study_dir& dir, const advice_case& c) {
  const genotype_study s = study();
  write_files(dir.path(), study_files{{"a.txt", s.text(0, 4)}} + fileset(s, "forex", 0, 4));
  // Text files that are not genotype tables, or not quite: a missing genotype written
  // NA, a .ped, a header line, and the .raw that plink --recode A made of forex.
  write_files(dir.path(), {{"na.txt", "1 0 1 2 0\n0 2 NA 1 1\n"},
                           {"forex.ped", "fam0 ind0 0 0 1 1 A A G A G G\n"},
                           {"header.txt", "status rs1000 rs1001 rs1002 rs1003\n" + s.text(0, 4)},
                           {"forex.raw", "FID IID PAT MAT SEX PHENOTYPE rs1000_A rs1001_A rs1002_A rs1003_A\n"
                                         "fam0 ind0 0 0 1 1 0 2 2 2\n"}});
  dir.write(kResult, kOldResult);
  if (c.list) dir.write(kListFileName, *c.list);
  if (c.parameters) dir.write("VELKparameters.txt", *c.parameters);
}

std::string with_folder(std::string text, const std::filesystem::path& folder) {
  const std::string marker = "{dir}";
  for (size_t at = text.find(marker); at != std::string::npos; at = text.find(marker, at))
    text.replace(at, marker.size(), std::filesystem::canonical(folder).string());
  return text;
}

TEST(Advice, FirstContact) {
  const std::string list = "a.txt\n";
  const std::string bom = "\xEF\xBB\xBF";
  const advice_case cases[] = {
      {"help", {"--help"}, list, kParameters, 0, "", result_file::kept, "Usage: velk TOP_K\n"},
      {"short help", {"-h"}, list, kParameters, 0, "", result_file::kept, "Usage: velk TOP_K\n"},
      {"an argument without digits", {"abc"}, list, kParameters, 255,
       "Usage: VELK.exe top_k.\nHint: velk TOP_K searches for the TOP_K best sets, e.g. velk 10; velk --help says "
       "what it reads and writes.\n",
       result_file::kept},
      {"digits and then letters", {"3abc"}, list, kParameters, 0, "", result_file::same_as_plain_run},
      {"an unknown key", {"3"}, list, kParameters + "[SEED] 5\n", 0,
       "Warning: VELKparameters.txt, line 4: \"[SEED]\"" + kNoKey, result_file::same_as_plain_run},
      {"a key without its underscore", {"3"}, list, kParameters + "[MAXPVAL] 0.5\n", 0,
       "Warning: VELKparameters.txt, line 4: \"[MAXPVAL]\" is no key velk reads; did you mean [MAX_PVAL]? The line is "
       "ignored.\n",
       result_file::same_as_plain_run},
      {"a hyphen for an underscore", {"3"}, list, kParameters + "[ALPHA-RF] 0.2\n", 0,
       "Warning: VELKparameters.txt, line 4: \"[ALPHA-RF]\" is no key velk reads; did you mean [ALPHA_RF]? The line is "
       "ignored.\n",
       result_file::same_as_plain_run},
      {"a letter short", {"3"}, list, kParameters + "[PERMUTE] 9\n", 0,
       "Warning: VELKparameters.txt, line 4: \"[PERMUTE]\" is no key velk reads; did you mean [PERMUTES]? The line is "
       "ignored.\n",
       result_file::same_as_plain_run},
      {"two letters swapped", {"3"}, list, kParameters + "[DIESASEN] 2\n", 0,
       "Warning: VELKparameters.txt, line 4: \"[DIESASEN]\" is no key velk reads; did you mean [DISEASEN]? The line is "
       "ignored.\n",
       result_file::same_as_plain_run},
      {"a key in lower case", {"3"}, list, kParameters + "[permutes] 5\n", 0,
       "Warning: VELKparameters.txt, line 4: \"[permutes]\" is no key velk reads; did you mean [PERMUTES]? A key is "
       "read in upper case, from the first column; the line is ignored.\n",
       result_file::same_as_plain_run},
      {"a key after blanks", {"3"}, list, kParameters + " \t[ALPHA_RF] 0.2\n", 0,
       "Warning: VELKparameters.txt, line 4: \"  [ALPHA_RF]\" is no key velk reads; did you mean [ALPHA_RF]? A key is "
       "read in upper case, from the first column; the line is ignored.\n",
       result_file::same_as_plain_run},
      {"a fraction for an integer key", {"3"}, list, "[DISEASEN] 1.5\n[ALPHA_RF] 0.1\n[MAXGWPVL] 1\n", 0,
       "Warning: VELKparameters.txt, line 1: [DISEASEN] \"1.5\" is read as 1; \".5\" is ignored.\n",
       result_file::same_as_plain_run},
      {"a decimal comma", {"3"}, list, "[DISEASEN] 1\n[ALPHA_RF] 0,1 \r\n", 0,
       "Warning: VELKparameters.txt, line 2: [ALPHA_RF] \"0,1\" is read as 0; \",1\" is ignored.\n"
       "Warning: [ALPHA_RF] is 0: at 0 or below next to no cell can be major; give a tail level between 0 and 1, "
       "e.g. 0.05.\n" +
           kNoSet + "the tail level [ALPHA_RF] is 0; give one between 0 and 1, e.g. 0.05.\n",
       result_file::header_only},
      {"no tail level", {"3"}, list, "[DISEASEN] 1\n[ALPHA] 0.1\n", 0,
       "Warning: VELKparameters.txt, line 2: \"[ALPHA]\"" + kNoKey +
           "Warning: VELKparameters.txt sets no [ALPHA_RF]: the tail level of the major cells is then 0, at which "
           "next to no cell can be major; add a line \"[ALPHA_RF] 0.05\" (a level between 0 and 1).\n" +
           kNoSet + "the tail level [ALPHA_RF] is 0; give one between 0 and 1, e.g. 0.05.\n",
       result_file::header_only},
      {"a tail level of 1", {"3"}, list, "[DISEASEN] 1\n[ALPHA_RF] 1\n", 0,
       "Warning: [ALPHA_RF] is 1: at 1 or more next to every cell is case-major, so no set can stand out; give a "
       "tail level between 0 and 1, e.g. 0.05.\n" +
           kNoSet + "the tail level [ALPHA_RF] is 1; give one between 0 and 1, e.g. 0.05.\n",
       result_file::header_only},
      {"order 3 without [MULFACTR]", {"3"}, list, "[DISEASEN] 3\n[ALPHA_RF] 0.1\n", 0,
       "Warning: [MULFACTR] is 0 with [DISEASEN] 3: the level lists, of TOP_K x [MULFACTR] sets, hold nothing, so "
       "neither will the result; give [MULFACTR] 1 or more, e.g. 10.\n" +
           kNoSet + "[MULFACTR] is 0, so the level lists hold nothing; give [MULFACTR] 1 or more, e.g. 10.\n",
       result_file::header_only},
      {"order 3 beyond the corrected bound", {"3"}, list, "[DISEASEN] 3\n[MULFACTR] 4\n[ALPHA_RF] 0.1\n", 0,
       kNoSet + "no set of 3 SNPs passed the p-value bounds (1 kept); the best has a raw p-value of 0.129321, "
                "0.517286 corrected for the 4 sets of 3 SNPs. Raise [MAX_PVAL] (now 0.08) above 0.517286 or set "
                "[MAXGWPVL] (now none) above 0.129321.\n",
       result_file::header_only},
      {"pairs beyond the corrected bound", {"3"}, list, "[DISEASEN] 2\n[ALPHA_RF] 0.1\n[MAX_PVAL] 1e-9\n", 0,
       kNoSet + "no pair reached the bound on the corrected p-value, [MAX_PVAL] 1e-09 divided by the 6 pairs of 4 "
                "SNPs (a raw p-value of 1.66667e-10); loosen [MAX_PVAL] (at most 6) or set [MAXGWPVL], a bound on "
                "the raw p-value.\n",
       result_file::header_only},
      {"[MAX_PVAL] too large for the order", {"3"}, list, "[DISEASEN] 2\n[ALPHA_RF] 0.1\n[MAX_PVAL] 7\n", 255,
       kInverseDomain + "Hint: [MAX_PVAL] is 7; orders 1 and 2 divide it by the 6 pairs of 4 SNPs, p(p-1)/2, so it "
                        "must lie above 0 and at most 6.\n",
       result_file::kept},
      {"a negative [MAX_PVAL]", {"3"}, list, "[DISEASEN] 1\n[ALPHA_RF] 0.1\n[MAX_PVAL] -0.05\n", 255,
       kInverseDomain + "Hint: [MAX_PVAL] is -0.05; orders 1 and 2 divide it by the 6 pairs of 4 SNPs, p(p-1)/2, so "
                        "it must lie above 0 and at most 6.\n",
       result_file::kept},
      {"[MAXGWPVL] above 1", {"3"}, list, "[DISEASEN] 1\n[ALPHA_RF] 0.1\n[MAXGWPVL] 1.5\n", 255,
       kInverseDomain + "Hint: [MAXGWPVL] is 1.5; a bound on the raw p-value lies between 0 and 1.\n",
       result_file::kept},
      {"a negative TOP_K", {"-5"}, list, kParameters, 255,
       kNoListMemory + "Hint: TOP_K, the number of sets to report, is -5; give 1 or more, e.g. velk 10.\n",
       result_file::kept},
      {"a negative [MULFACTR]", {"3"}, list, "[DISEASEN] 3\n[MULFACTR] -3\n[ALPHA_RF] 0.1\n", 255,
       "Warning: [MULFACTR] is -3 with [DISEASEN] 3: the level lists, of TOP_K x [MULFACTR] sets, hold nothing, so "
       "neither will the result; give [MULFACTR] 1 or more, e.g. 10.\n" +
           kNoListMemory +
           "Hint: [MULFACTR] in VELKparameters.txt is -3; the level lists hold TOP_K x [MULFACTR] sets, so give 1 "
           "or more, e.g. 10.\n",
       result_file::kept},
      {"no order", {"3"}, list, "[ALPHA_RF] 0.1\n", 255,
       kNoLoci + "Hint: VELKparameters.txt sets no order: it needs a line that starts, in its first column, with "
                 "[DISEASEN] and the order of the sets sought, 1 to 4, e.g. \"[DISEASEN] 2\".\n",
       result_file::kept},
      {"no parameter file", {"3"}, list, std::nullopt, 255,
       "Cannot open the parameter file \"VELKparameters.txt\"\n" + kNoLoci +
           "Hint: velk reads its parameters from VELKparameters.txt in the folder it runs in; write one there with "
           "a line \"[DISEASEN] 2\" (the order of the sets sought, 1 to 4) and one \"[ALPHA_RF] 0.05\".\n",
       result_file::kept},
      {"no list file", {"3"}, std::nullopt, kParameters, 1,
       "Can't open input file VELKinputfiles.txt\nHint: velk reads VELKinputfiles.txt from the folder it runs in, "
       "{dir} (No such file or directory); run velk in the study folder, or write there the list of genotype "
       "files, one per line.\n" +
           kNotLoaded,
       result_file::kept},
      // In one log the count lines written before a message stand before it.
      {"a missing genotype file", {"3"}, "a.txt none.txt\n", kParameters, 1, "Can't open the input file none.txt\n",
       result_file::kept, "VELK: ", "Input Data ............\nCan't open the input file none.txt\n"},
      {"a .bim listed", {"3"}, "forex.bim\n", kParameters, 1,
       "File forex.bim, line 1: \"rs1000\" is not an integer.\nHint: forex.bim belongs to the PLINK fileset "
       "forex.bed; list forex.bed (or forex) in its place.\n" +
           kNotLoaded,
       result_file::kept},
      {"a missing genotype written NA", {"3"}, "na.txt\n", kParameters, 1,
       "File na.txt, line 2: \"NA\" is not an integer.\nHint: it stands in column 3, the file's 2nd SNP" +
           kIntegersOnly + kNotLoaded,
       result_file::kept},
      {"a .ped listed", {"3"}, "a.txt forex.ped\n", kParameters, 1,
       "File forex.ped, line 1: \"fam0\" is not an integer.\nHint: it stands in column 1, the status" +
           kIntegersOnly + kNotLoaded,
       result_file::kept},
      {"a header line", {"3"}, "header.txt\n", kParameters, 1,
       "File header.txt, line 1: \"status\" is not an integer.\nHint: the first line of header.txt holds names, "
       "not integers, as a header does; text genotype files have no header: delete that line.\n" +
           kNotLoaded,
       result_file::kept},
      {"a PLINK .raw", {"3"}, "forex.raw\n", kParameters, 1,
       "File forex.raw, line 1: \"FID\" is not an integer.\nHint: forex.raw is a PLINK .raw file (its header "
       "starts FID IID PAT MAT SEX PHENOTYPE), which velk does not read and which cannot be made back into a "
       "fileset: list the fileset it was made from (for plink --bfile STEM --recode A, list STEM.bed), or make one "
       "with plink --make-bed from the data it came from, e.g. plink1.9 --file STEM --make-bed --out STEM from a "
       ".ped and .map.\n" +
           kNotLoaded,
       result_file::kept},
      {"a fileset listed by its stem", {"3"}, "forex\n", kParameters, 0, "", result_file::same_as_plain_run},
      {"byte-order marks", {"3"}, bom + list, bom + kParameters, 0, "", result_file::same_as_plain_run},
  };

  std::string plain;  // the result of the plain run: a.txt, kParameters, TOP_K 3
  {
    study_dir dir;
    write_study(dir, {"plain", {"3"}, list, kParameters, 0, "", result_file::kept});
    ASSERT_EQ(dir.run({"3"}).status, 0);
    plain = dir.read(kResult);
    ASSERT_GT(plain.size(), std::string(kHeader).size());
  }
  for (const advice_case& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    write_study(dir, c);
    const run_result r = dir.run(c.args);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(r.err, with_folder(c.err, dir.path()));
    EXPECT_EQ(r.out.rfind(c.out_start, 0), 0u) << r.out;
    const std::string result = dir.read(kResult);
    switch (c.result) {
      case result_file::kept:
        EXPECT_EQ(result, kOldResult);
        break;
      case result_file::same_as_plain_run:
        EXPECT_EQ(result, plain);
        break;
      case result_file::header_only:
        EXPECT_EQ(result, kHeader);
        break;
    }
    if (c.log) {
      std::vector<std::string> shell = {"-c", "exec \"$0\" \"$@\" 2>&1", VELK_BINARY};
      shell.insert(shell.end(), c.args.begin(), c.args.end());
      const run_result merged = dir.run(shell, "/bin/sh");
      EXPECT_EQ(merged.status, c.status);
      EXPECT_EQ(without_banner(merged.out), *c.log);
    }
  }
}

}  // namespace
}  // namespace velk::testing
