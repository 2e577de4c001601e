// End-to-end tests of VCF and BCF files in the list: a study exported by plink1.9 as
// VCF (samples named FID_IID, or IID) and converted by bcftools to BCF gives the
// fileset's console lines and result file byte for byte, whole, split, reordered and
// mixed with text files and filesets, with samples left out; and every way a VCF study
// is refused.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "plink_study.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

const char* const kPhenotypes = "VELKphenotypes.txt";
const char* const kResult = "VELKResult.txt";
const char* const kParameters = "[DISEASEN]\t3\n[MULFACTR]\t3\n[ALPHA_RF]\t0.05\n[MAXGWPVL]\t1\n";

bool have_tools() { return on_path("plink1.9") && on_path("bcftools"); }

// Standard output after the banner (seconds as N) without the VCF and BCF lines, then
// the result file.
std::string outcome(const study_dir& dir, const run_result& r) {
  std::string out;
  std::istringstream lines(without_banner(r.out));
  for (std::string line; std::getline(lines, line);)
    if (line.rfind("\t VCF file ", 0) != 0 && line.rfind("\t BCF file ", 0) != 0 && line.rfind("\t Samples left out", 0) != 0)
      out += line + "\n";
  return out + "---- result\n" + (dir.exists(kResult) ? dir.read(kResult) : "none\n");
}

genotype_study without(const genotype_study& s, const std::vector<bool>& left_out) {
  genotype_study kept;
  for (long d = 0; d < s.individuals(); ++d) {
    if (left_out[d]) continue;
    kept.is_case.push_back(s.is_case[d]);
    kept.genotypes.push_back(s.genotypes[d]);
  }
  return kept;
}

TEST(Vcf, SameBytesAsTheFileset) {
  if (!have_tools()) GTEST_SKIP() << "needs plink1.9 and bcftools";
  // 110 individuals, every 13th without a class: the study is the other 101.
  const genotype_study all = genotype_study::random(110, 24, 7);
  std::vector<bool> left_out(110);
  for (long d = 5; d < 110; d += 13) left_out[d] = true;
  const genotype_study kept = without(all, left_out);

  study_dir reference;
  reference.write("VELKparameters.txt", kParameters);
  write_files(reference.path(), study_files{{kListFileName, "k.bed\n"}} + fileset(kept, "k", 0, 24));
  const run_result expected_run = reference.run({"10"});
  ASSERT_EQ(expected_run.status, 0) << expected_run.err;
  const std::string expected = outcome(reference, expected_run);
  ASSERT_NE(expected.find("#Major_cells\n1 2 "), std::string::npos) << expected;  // real findings

  study_dir dir;
  dir.write("VELKparameters.txt", kParameters);
  write_files(dir.path(), fileset(all, "all", 0, 24) + fileset(all, "p1", 0, 10) + fileset(all, "p2", 10, 14));
  // The classes from the .fam, as FID IID STATUS, under a header; the left-out
  // individuals as 0, -9, or not listed; a line for a sample no file has.
  // VELKexcluded.txt names them, with why, as the VCF names them (FID_IID).
  std::string phenotypes = "#FID IID STATUS\n", excluded = "#FID\tIID\tREASON\n";
  for (long d = 0, line = 2; d < all.individuals(); ++d) {
    const std::string id = std::to_string(d), names = "fam" + id + "\tind" + id + "\t";
    const std::string status = d % 3 == 0 ? "0" : "-9";
    if (left_out[d])
      excluded += "0\tfam" + id + "_ind" + id + "\t" +
                  (d % 3 == 2 ? std::string("no line in VELKphenotypes.txt")
                              : "status " + status + " on line " + std::to_string(line) + " of VELKphenotypes.txt") +
                  "\n";
    if (!left_out[d]) phenotypes += names + (all.is_case[d] ? "2\n" : "1\n");
    else if (d % 3 != 2) phenotypes += names + status + "\n";
    if (!left_out[d] || d % 3 != 2) ++line;
  }
  dir.write(kPhenotypes, phenotypes + "famX indX 2\r\n");
  ASSERT_TRUE(shell(dir, "plink1.9 --bfile all --recode vcf bgz --out all && "
                         "plink1.9 --bfile all --recode vcf-iid bgz --out iid && "
                         "plink1.9 --bfile all --recode vcf --out plain && "
                         "plink1.9 --bfile p1 --recode vcf bgz --out p1 && "
                         "plink1.9 --bfile p2 --recode vcf bgz --out p2 && "
                         "bcftools view -Ob -o all.bcf all.vcf.gz && "
                         "bcftools view -Ob -o p2r.bcf -s \"$(bcftools query -l p2.vcf.gz | tac | paste -sd,)\" p2.vcf.gz"));
  // The same individuals as text and filesets, for the mixed lists.
  write_files(dir.path(),
              study_files{{"a.txt", kept.text(0, 5)}, {"c.txt", kept.text(10, 14)}} + fileset(kept, "b", 5, 5));

  const struct {
    const char* list;
    const char* vcf_lines;  // the first ones, when checked
  } cases[] = {
      {"all.vcf.gz",
       "\t VCF file all.vcf.gz: 24 records read, 0 skipped (more than one ALT allele).\n"
       "\t Samples left out (no class in VELKphenotypes.txt): 9 of 110.\n"},
      {"iid.vcf.gz", nullptr},
      {"plain.vcf", nullptr},
      {"all.bcf", "\t BCF file all.bcf: 24 records read, 0 skipped (more than one ALT allele).\n"},
      {"p1.vcf.gz\np2r.bcf\n", nullptr},         // split, the second with its samples reversed
      {"a.txt b.bed p2.vcf.gz", nullptr},       // text and fileset first
      {"p1.vcf.gz c.txt", nullptr},             // the VCF file sets the individuals
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.list);
    dir.write(kListFileName, c.list);
    std::filesystem::remove(dir.path() / kResult);
    const run_result r = dir.run({"10"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(outcome(dir, r), expected);
    if (c.vcf_lines != nullptr) {
      EXPECT_EQ(without_banner(r.out).substr(24, std::string(c.vcf_lines).size()), c.vcf_lines);
    }
    if (std::string(c.list) == "all.vcf.gz") {
      EXPECT_EQ(dir.read("VELKexcluded.txt"), excluded);
    }
  }
  // The rest of the tool on a VCF study: velk-names and velk-report give the fileset's names and
  // places; strata given by FID IID LABEL match the VCF samples (named FID_IID) as IID
  // LABEL lines match the fileset's .fam, so the permutations come out the same.
  std::string strata_all, strata_kept;
  for (long d = 0, k = 0; d < all.individuals(); ++d) {
    if (left_out[d]) continue;
    const char* label = k < 50 ? " north\n" : " south\n";
    strata_all += "fam" + std::to_string(d) + " ind" + std::to_string(d) + label;
    strata_kept += "ind" + std::to_string(k) + label;
    ++k;
  }
  const std::string permuted = std::string(kParameters) + "[PERMUTES]\t20\n[PERMSEED]\t3\n";
  reference.write("VELKstrata.txt", strata_kept);
  reference.write("VELKparameters.txt", permuted);
  ASSERT_EQ(reference.run({"10"}).status, 0);
  dir.write("VELKstrata.txt", strata_all);
  dir.write("VELKparameters.txt", permuted);
  // The statistics do not change when a SNP's genotypes 0 and 2 trade places, but the
  // cells do: velk-report needs ALT to be A1, which plink1.9 keeps only when asked.
  ASSERT_TRUE(shell(dir, "plink1.9 --bfile all --keep-allele-order --recode vcf bgz --out kept"));
  dir.write(kListFileName, "kept.vcf.gz");
  ASSERT_EQ(dir.run({"10"}).status, 0);
  EXPECT_EQ(dir.read("VELKpermutations.txt"), reference.read("VELKpermutations.txt"));
  const run_result names = dir.run({"--positions"}, VELK_NAMES_BINARY);
  EXPECT_EQ(names.err, "");
  EXPECT_EQ(names.out, reference.run({"--positions"}, VELK_NAMES_BINARY).out);
  EXPECT_NE(names.out.find("rs1001\t1\t200\t"), std::string::npos) << names.out;
  // velk-report counts the VCF study's cells as the fileset's, and matches covariates
  // given by FID IID to the samples as to the .fam (the left-out samples' lines ignored).
  std::string covariates_all = "FID IID score\n", covariates_kept = covariates_all;
  for (long d = 0, k = 0; d < all.individuals(); ++d) {
    const std::string value = " " + std::to_string(d % 7) + (all.is_case[d] ? ".5\n" : "\n");
    covariates_all += "fam" + std::to_string(d) + " ind" + std::to_string(d) + value;
    if (!left_out[d]) covariates_kept += "fam" + std::to_string(k) + " ind" + std::to_string(k) + value, ++k;
  }
  dir.write("VELKcovariates.txt", covariates_all);
  reference.write("VELKcovariates.txt", covariates_kept);
  ASSERT_EQ(dir.run({}, VELK_REPORT_BINARY).status, 0);
  ASSERT_EQ(reference.run({}, VELK_REPORT_BINARY).status, 0);
  EXPECT_EQ(dir.read("VELKcells.tsv"), reference.read("VELKcells.tsv"));
  EXPECT_EQ(dir.read("VELKinteractions.tsv"), reference.read("VELKinteractions.tsv"));  // POS as the .bim's
  EXPECT_EQ(dir.read("VELKsnps.tsv"), reference.read("VELKsnps.tsv"));
  // And names the counted allele, ALT there and A1 here, the same allele.
  const auto snps_in_sets = [](const std::string& page) {
    const size_t from = page.find("<h2>SNPs in the sets</h2>");
    return from == std::string::npos ? "" : page.substr(from, page.find("</section>", from) - from);
  };
  const std::string hubs = snps_in_sets(dir.read("VELKReport.html"));
  EXPECT_NE(hubs.find("</td><td>A</td>"), std::string::npos) << hubs;
  EXPECT_EQ(hubs, snps_in_sets(reference.read("VELKReport.html")));
  dir.write("VELKparameters.txt", kParameters);
  std::filesystem::remove(dir.path() / "VELKstrata.txt");

  // Without any VCF or BCF file the phenotype file is not read, and a warning says so.
  write_files(dir.path(), study_files{{kListFileName, "k.bed"}} + fileset(kept, "k", 0, 24));
  const run_result r = dir.run({"10"});
  EXPECT_EQ(r.err, "Warning: VELKphenotypes.txt is not read: the study lists no VCF or BCF file.\n");
  EXPECT_EQ(outcome(dir, r), expected);
}

// Writes x.vcf as z.bcf and damages the checksum of its last block of data (the 8th to
// 5th bytes before the 28 of the end-of-file block).
const char* const kDamageLastBlock =
    "bcftools view -Ob -o z.bcf x.vcf && "
    "printf '\\377' | dd of=z.bcf bs=1 seek=$(($(stat -c %s z.bcf) - 36)) conv=notrunc";

const char* const kHeader =
    "##fileformat=VCFv4.2\n"
    "##contig=<ID=1>\n"
    "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";
const char* const kRecords =
    "1\t10\trs1\tA\tG\t.\t.\t.\tGT\t0/1\t1/1\t0/0\t0|1\n"
    "1\t20\trs2\tA\tG\t.\t.\t.\tGT\t0/0\t0/1\t1/1\t./.\n";

std::string vcf(const std::string& samples, const std::string& records = kRecords) {
  return std::string(kHeader) + samples + "\n" + records;
}

TEST(Vcf, Refusals) {
  const bool tools = have_tools();
  const std::string x = vcf("\ta\tb\tc\td");
  const study_files good = {{kListFileName, "x.vcf\n"}, {"x.vcf", x}, {kPhenotypes, "a 2\nb 1\nc 2\nd 1\n"}};
  auto with = [&](const study_files& changes) {
    study_files f = good;
    for (auto& [name, text] : changes) {
      auto at = std::find_if(f.begin(), f.end(), [&](const auto& e) { return e.first == name; });
      if (at != f.end()) at->second = text;
      else f.emplace_back(name, text);
    }
    return f;
  };
  const std::string input = "Input Data ............\n";
  const std::string read_x = input + "\t VCF file x.vcf: 2 records read, 0 skipped (more than one ALT allele).\n";
  const std::string matched = "\t Samples left out (no class in VELKphenotypes.txt): 0 of 4.\n";
  const std::string refused = "The data have not been input correctly!\n";
  const std::string bad_pheno = "File VELKphenotypes.txt, line ";
  const struct {
    const char* name;
    study_files inputs;
    const char* command;  // run in the folder first (bcftools), or null
    std::string out;
    std::string err;
  } cases[] = {
      // The phenotype file.
      {"no phenotype file", {{kListFileName, "x.vcf\n"}, {"x.vcf", x}}, nullptr, read_x,
       "Can't open the phenotype file VELKphenotypes.txt; a study with VCF or BCF files takes the classes of its "
       "samples from it.\n"},
      {"status 3", with({{kPhenotypes, "IID STATUS\na 2\nb 3\n"}}), nullptr, read_x,
       bad_pheno + "3: status 3 is none of 2 (case), 1 (control), 0 and -9 (no class).\n"},
      {"four fields", with({{kPhenotypes, "a 2\n\nf b 0 1\n"}}), nullptr, read_x,
       bad_pheno + "3: found 4 fields, expected 2 (IID STATUS) or 3 (FID IID STATUS).\n"},
      {"two forms", with({{kPhenotypes, "a 2\r\nf b 1\r\n"}}), nullptr, read_x, bad_pheno + "2: found 3 fields, line 1 2.\n"},
      {"a sample twice", with({{kPhenotypes, "f a 2\nf b 1\ng a 1\nf a 1\n"}}), nullptr, read_x,
       bad_pheno + "4: FID f IID a is listed twice (first on line 1).\n"},
      {"only a header", with({{kPhenotypes, "FID IID STATUS\n\n"}}), nullptr, read_x,
       "File VELKphenotypes.txt lists no sample.\n"},
      {"no sample matches", with({{kPhenotypes, "f_a 2\nb_f 1\n"}}), nullptr, read_x,
       "File x.vcf: none of its 4 samples has a class in VELKphenotypes.txt (a sample matches by its name as IID or "
       "as FID_IID).\n"},
      {"no sample has a class", with({{kPhenotypes, "a 0\nb -9\n"}}), nullptr, read_x,
       "File x.vcf: none of its 4 samples has a class in VELKphenotypes.txt (a sample matches by its name as IID or "
       "as FID_IID).\n"},
      {"coded 1/0 as for R", with({{kPhenotypes, "a 1\nb 0\nc 1\nd 0\n"}}), nullptr, read_x,
       "File VELKphenotypes.txt: none of the 2 samples of x.vcf with a class is a case (status 2).\nHint: "
       "VELKphenotypes.txt codes the status as a .fam does: 2 case, 1 control, 0 or -9 no class; a file coded 1 for a "
       "case and 0 for a control (as for R) reads as controls only. Write 2 for a case and 1 for a control.\n"},
      {"no control", with({{kPhenotypes, "a 2\nb 2\nc -9\nd 2\n"}}), nullptr, read_x,
       "File VELKphenotypes.txt: none of the 3 samples of x.vcf with a class is a control (status 1).\nHint: "
       "VELKphenotypes.txt codes the status as a .fam does: 2 case, 1 control, 0 or -9 no class; a study needs "
       "samples of both classes. Write 1 for a control.\n"},
      {"a header of other names", with({{kPhenotypes, "sample\tpheno\na 2\nb 1\n"}}), nullptr, read_x,
       bad_pheno + "1: a header line starts with FID, #FID or IID, not sample; a sample line is IID STATUS or FID "
                   "IID STATUS, STATUS 2 (case), 1 (control), 0 or -9 (no class).\n"},
      {"a sample matching two lines", with({{"x.vcf", vcf("\tF_a\tb\tc\td")}, {kPhenotypes, "F a 2\nX F_a 1\n"}}),
       nullptr, read_x, "File x.vcf: sample F_a matches line 1 and line 2 of VELKphenotypes.txt.\n"},
      {"two samples matching one line", with({{"x.vcf", vcf("\ta\tF_a\tc\td")}, {kPhenotypes, "F a 2\nF c 1\n"}}),
       nullptr, read_x, "File x.vcf: samples a and F_a both match line 1 of VELKphenotypes.txt.\n"},
      // Files that disagree.
      {"another sample in the second file",
       with({{kListFileName, "x.vcf y.vcf"}, {"y.vcf", vcf("\td\tc\tb\te")}}), nullptr,
       read_x + "\t VCF file y.vcf: 2 records read, 0 skipped (more than one ALT allele).\n",
       "File y.vcf: sample e is not in the first VCF or BCF file x.vcf.\n"},
      {"fewer samples in the second file",
       with({{kListFileName, "x.vcf y.vcf"},
             {"y.vcf", vcf("\ta\tb\tc", "1\t5\t.\tA\tC\t.\t.\t.\tGT\t0/1\t1/1\t0/0\n")}}),
       nullptr, read_x + "\t VCF file y.vcf: 1 records read, 0 skipped (more than one ALT allele).\n",
       "File y.vcf holds 3 samples, the first VCF or BCF file x.vcf 4.\n"},
      {"a class differing from the first file",
       with({{kListFileName, "a.txt x.vcf"}, {"a.txt", "1 0\n0 1\n0 2\n0 1\n"}}),
       nullptr, read_x + matched + "\t Number of SNPs is 3\n\t Number of individuals: 4 (#case = 1; #control = 3).\n",
       "File x.vcf, sample c: the class differs from the first file.\n"},
      {"fewer individuals than the first file",
       with({{kListFileName, "a.txt x.vcf"}, {"a.txt", "1 0\n0 1\n1 2\n0 1\n1 1\n"}}),
       nullptr, read_x + matched + "\t Number of SNPs is 3\n\t Number of individuals: 5 (#case = 3; #control = 2).\n",
       "File x.vcf holds 4 samples with a class, the first file 5 individuals.\n"},
      {"text whose status differs from the first VCF file",
       with({{kListFileName, "x.vcf b.txt"}, {"b.txt", "1 0\n1 1\n1 2\n0 1\n"}}), nullptr,
       read_x + matched + "\t Number of SNPs is 3\n\t Number of individuals: 4 (#case = 2; #control = 2).\n",
       "File b.txt, line 2: the status differs from the first file.\n"},
      // Records.
      {"a record without GT", with({{"x.vcf", x + "1\t30\trs3\tA\tG\t.\t.\t.\tDS\t1\t1\t1\t1\n"}}), nullptr, input,
       "File x.vcf, record 3: no GT field.\n"},
      {"a record without FORMAT", with({{"x.vcf", vcf("\ta\tb\tc\td", "1\t30\trs3\tA\tG\t.\t.\t.\n")}}), nullptr,
       input, "File x.vcf, record 1: no GT field.\n"},
      {"an allele the record does not have",
       with({{"x.vcf", vcf("\ta\tb\tc\td", "1\t30\trs3\tA\t.\t.\t.\t.\tGT\t0/0\t0/1\t0/0\t0/0\n")}}), nullptr, input,
       "File x.vcf, record 1: sample b calls allele 1, which the record does not have.\n"},
      {"too few sample columns", with({{"x.vcf", x + "1\t30\trs3\tA\tG\t.\t.\t.\tGT\t0/0\t0/1\t0/0\n"}}), nullptr,
       input, "File x.vcf, record 3: found 3 sample columns, the header names 4 samples.\n"},
      {"a GT that is no call", with({{"x.vcf", vcf("\ta\tb\tc\td", "1\t30\trs3\tA\tG\t.\t.\t.\tGT\t0/x\t0/1\t0/0\t1/1\n")}}),
       nullptr, input, "File x.vcf, record 1: can't read its GT field.\n"},
      {"an empty line", with({{"x.vcf", x + "\n"}}), nullptr, input, "File x.vcf, record 3: an empty line.\n"},
      {"blanks for tabs", with({{"x.vcf", vcf("\ta\tb\tc\td", "1 30 rs3 A G . . . GT 0/0 0/1 0/0 1/1\n")}}), nullptr,
       input, "File x.vcf, record 1: found 1 columns; a VCF record has at least 8, separated by tabs.\n"},
      {"a sample named twice", with({{"x.vcf", vcf("\ta\tb\ta\td")}}), nullptr, input,
       "File x.vcf: can't read its VCF header.\n"},
      {"no sample", with({{"x.vcf", "##fileformat=VCFv4.2\n#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\n"}}), nullptr,
       input, "File x.vcf names no sample.\n"},
      {"no record", with({{"x.vcf", vcf("\ta\tb\tc\td", "")}}), nullptr, input, "File x.vcf holds no record.\n"},
      {"only records of two ALT alleles",
       with({{"x.vcf", vcf("\ta\tb\tc\td", "1\t30\trs3\tA\tG,T\t.\t.\t.\tGT\t0/0\t0/2\t0/0\t1/1\n")}}), nullptr, input,
       "File x.vcf holds no SNP: every record has more than one ALT allele.\n"},
      // Damaged compressed files.
      {"a cut bgzip file", with({{kListFileName, "z.vcf.gz"}}),
       "bcftools view -Oz -o z.vcf.gz x.vcf && truncate -s -30 z.vcf.gz",
       input, "File z.vcf.gz is cut short: its BGZF end-of-file block is missing.\n"},
      {"a corrupt BCF", with({{kListFileName, "z.bcf"}}), kDamageLastBlock, input,
       "File z.bcf: can't read its BCF header.\n"},
      {"a compressed file that is no VCF", with({{kListFileName, "g.gz"}, {"g", "1 0 1\n0 1 2\n"}}), "gzip -k g", input,
       "File g.gz is compressed, but holds no VCF or BCF file that can be read.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.command != nullptr && !tools) continue;
    study_dir dir;
    dir.write("VELKparameters.txt", kParameters);
    write_files(dir.path(), c.inputs);
    if (c.command != nullptr) {
      ASSERT_TRUE(shell(dir, c.command));
    }
    const run_result r = dir.run({"5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err + refused);
    EXPECT_EQ(without_banner(r.out), c.out);
    EXPECT_FALSE(dir.exists(kResult));
  }
  // A BCF damaged past its header: the records of the blocks before the damage are read.
  if (!tools) return;
  std::string records;
  for (int r = 1; r <= 3000; ++r) records += "1\t" + std::to_string(r) + "\t.\tA\tG\t.\t.\t.\tGT\t0/1\t1/1\t0/0\t0|1\n";
  study_dir dir;
  write_files(dir.path(), with({{kListFileName, "z.bcf"}, {"x.vcf", vcf("\ta\tb\tc\td", records)}}));
  ASSERT_TRUE(shell(dir, kDamageLastBlock));
  const run_result r = dir.run({"5"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("File z.bcf, record ", 0), 0u) << r.err;
  EXPECT_NE(r.err.find(": can't be read; the file is cut short or corrupt.\n" + refused), std::string::npos) << r.err;
  EXPECT_EQ(without_banner(r.out), input);
}

}  // namespace
}  // namespace velk::testing
