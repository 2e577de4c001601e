// End-to-end tests of PLINK filesets in the list: the same study as text and as
// filesets, alone or mixed, gives the same console output and result file byte for
// byte; and every way a fileset can be refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "plink_study.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

const char* const kResult = "VELKResult.txt";
// Three loci, so that the pair search and an extension level both run on the data;
// every set passes the raw bound, so the result file holds ten rows.
const char* const kParameters = "[DISEASEN]\t3\n[MULFACTR]\t3\n[ALPHA_RF]\t0.05\n[MAXGWPVL]\t1\n";

run_result run_study(const study_files& inputs, const std::string& parameters = kParameters,
                     const std::string& top_k = "10") {
  study_dir dir;
  dir.write("VELKparameters.txt", parameters);
  write_files(dir.path(), inputs);
  run_result r = dir.run({top_k});
  r.out = without_banner(r.out);
  if (dir.exists(kResult)) r.out += "---- result\n" + dir.read(kResult);
  return r;
}

TEST(Filesets, GiveTheSameBytesAsText) {
  // 103 individuals: the last .bed byte of each SNP holds three of them.
  const genotype_study s = genotype_study::random(103, 24, 7);
  const run_result text = run_study({{kListFileName, "all.txt\n"}, {"all.txt", s.text(0, 24)}});
  ASSERT_EQ(text.status, 0) << text.err;
  // The planted pair leads the triples: the comparisons below are of real findings.
  ASSERT_NE(text.out.find("#Major_cells\n1 2 10 "), std::string::npos) << text.out;
  const struct {
    const char* name;
    study_files inputs;
  } cases[] = {
      {"one fileset", study_files{{kListFileName, "all.bed\n"}} + fileset(s, "all", 0, 24)},
      {"a .bed named without the suffix",
       study_files{{kListFileName, "cohort\n"}} + fileset(s, "cohort", 0, 24, "cohort")},
      {"text, fileset, text",
       study_files{{kListFileName, "a.txt\nb.bed\nc.txt\n"}, {"a.txt", s.text(0, 5)}, {"c.txt", s.text(13, 11)}} +
           fileset(s, "b", 5, 8)},
      {"fileset first, then text",
       study_files{{kListFileName, "a.bed b.txt"}, {"b.txt", s.text(17, 7)}} + fileset(s, "a", 0, 17)},
      {"two filesets", study_files{{kListFileName, "a.bed\nb.bed\n"}} + fileset(s, "a", 0, 1) + fileset(s, "b", 1, 23)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const run_result r = run_study(c.inputs);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, text.out);
  }
}

// Individuals whose .fam phenotype is missing (0 or -9) are left out, wherever they
// stand in the .bed's bytes: the result is the study's without them, byte for byte,
// whatever genotypes and text statuses they have, and VELKexcluded.txt names them.
TEST(Filesets, MissingPhenotypesAreLeftOut) {
  const genotype_study s = genotype_study::random(103, 24, 7);
  const run_result text = run_study({{kListFileName, "all.txt\n"}, {"all.txt", s.text(0, 24)}});
  ASSERT_EQ(text.status, 0) << text.err;
  // The same study with five more individuals: the first, two in one .bed byte, one
  // where a 32-individual chunk starts, and the last.
  genotype_study more = s;
  const genotype_study others = genotype_study::random(5, 24, 99, 0.0);
  const long at[] = {0, 40, 41, 64, 107};
  for (int i = 0; i < 5; ++i) {
    more.is_case.insert(more.is_case.begin() + at[i], i % 2 == 0);
    more.genotypes.insert(more.genotypes.begin() + at[i], others.genotypes[i]);
  }
  std::string fam, excluded = "#FID\tIID\tREASON\n";
  const std::string plain = more.fam();
  for (size_t start = 0, d = 0; start < plain.size(); ++d) {
    const size_t end = plain.find('\n', start) + 1;
    std::string line = plain.substr(start, end - start);
    start = end;
    if (std::find(std::begin(at), std::end(at), static_cast<long>(d)) != std::end(at)) {
      const std::string missing = d % 2 ? "-9" : "0";
      line = line.substr(0, line.rfind(' ') + 1) + missing + "\n";
      const std::string id = std::to_string(d);
      excluded += "fam" + id + "\tind" + id + "\tmissing phenotype " + missing + " in all.fam\n";
    }
    fam += line;
  }
  study_files inputs = study_files{{kListFileName, "all.bed b.txt\n"}, {"b.txt", more.text(17, 7)}} +
                       fileset(more, "all", 0, 17);
  for (auto& [name, content] : inputs)
    if (name == "all.fam") content = fam;
  study_dir dir;
  dir.write("VELKparameters.txt", kParameters);
  dir.write("VELKexcluded.txt", "an earlier list\n");
  write_files(dir.path(), inputs);
  run_result r = dir.run({"10"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.err, "");
  std::string expected_out = text.out;
  expected_out.insert(expected_out.find('\n') + 1, "\t Individuals left out (phenotype 0 or -9 in all.fam): 5 of 108.\n");
  EXPECT_EQ(without_banner(r.out) + "---- result\n" + dir.read(kResult), expected_out);
  EXPECT_EQ(dir.read("VELKexcluded.txt"), excluded);
  // A later run that leaves nobody out removes the list, which would describe another study.
  write_files(dir.path(), study_files{{kListFileName, "all.txt\n"}, {"all.txt", s.text(0, 24)}});
  ASSERT_EQ(dir.run({"10"}).status, 0);
  EXPECT_FALSE(dir.exists("VELKexcluded.txt"));
}

TEST(Filesets, ReadInBlocksOnEveryCore) {
  // Over a megabyte of .bed: several blocks, decoded by all threads. Nearly every
  // SNP's statistic is in the result file, so a SNP misplaced or left out shows.
  const long snps = 7000;
  const genotype_study s = genotype_study::random(600, snps, 13);
  // A tail level of one half gives nearly every SNP major cells and a statistic.
  const std::string parameters = "[DISEASEN]\t1\n[ALPHA_RF]\t0.5\n[MAXGWPVL]\t1\n";
  const std::string all = std::to_string(snps);
  const run_result text = run_study({{kListFileName, "all.txt\n"}, {"all.txt", s.text(0, snps)}}, parameters, all);
  const run_result bed =
      run_study(study_files{{kListFileName, "all.bed\n"}} + fileset(s, "all", 0, snps), parameters, all);
  ASSERT_EQ(text.status, 0);
  EXPECT_EQ(bed.status, 0);
  EXPECT_EQ(bed.out, text.out);
}

// Biobank studies come as PGEN or BGEN, which plink2 turns into a fileset. Through PGEN
// and back a fileset keeps its genotypes, its alleles in their A1/A2 order (plink2 reads
// A1 as ALT and writes ALT as A1, whatever the frequencies) and its classes: the same
// .bed, .bim and result. (The statistics alone would not show alleles that traded
// places: they do not change when a SNP's genotypes 0 and 2 do.)
TEST(Filesets, ThroughPlink2PgenAndBack) {
  if (!on_path("plink2")) GTEST_SKIP() << "needs plink2 (scripts/install-deps --plink2 installs it)";
  const genotype_study s = genotype_study::random(103, 24, 7);
  study_dir dir;
  dir.write("VELKparameters.txt", kParameters);
  write_files(dir.path(), study_files{{kListFileName, "x.bed\n"}} + fileset(s, "x", 0, 24));
  const run_result original = dir.run({"10"});
  ASSERT_EQ(original.status, 0) << original.err;
  const std::string want = dir.read(kResult);
  ASSERT_TRUE(shell(dir, "plink2 --bfile x --make-pgen --out y && plink2 --pfile y --make-bed --out z"));
  EXPECT_EQ(dir.read("z.bed"), dir.read("x.bed"));
  EXPECT_EQ(dir.read("z.bim"), dir.read("x.bim"));
  dir.write(kListFileName, "z.bed\n");
  std::filesystem::remove(dir.path() / kResult);
  const run_result converted = dir.run({"10"});
  EXPECT_EQ(converted.status, 0) << converted.err;
  EXPECT_EQ(without_banner(converted.out), without_banner(original.out));
  EXPECT_EQ(dir.read(kResult), want);
}

TEST(Filesets, Refusals) {
  // Six individuals (fam0 to fam5), classes case, control, case, control, case, case.
  genotype_study s = genotype_study::random(6, 2, 3);
  s.is_case = {true, false, true, false, true, true};
  const std::string bed = s.bed(0, 2);  // 3 + 2 x 2 bytes
  const study_files good = fileset(s, "s", 0, 2);
  auto with = [&](const std::string& name, const std::string& text) {
    study_files f = study_files{{kListFileName, "s.bed\n"}} + good;
    for (auto& [n, t] : f)
      if (n == name) t = text;
    return f;
  };
  auto without = [&](const std::string& name) {
    study_files f = study_files{{kListFileName, "s.bed\n"}};
    for (const auto& entry : good)
      if (entry.first != name) f.push_back(entry);
    return f;
  };
  // The .fam with line d replaced.
  auto fam_line = [&](int d, const std::string& line) {
    const std::string fam = s.fam();
    std::string text;
    for (size_t at = 0, i = 0; at < fam.size(); ++i) {
      const size_t end = fam.find('\n', at) + 1;
      text += static_cast<int>(i) == d ? line + "\n" : fam.substr(at, end - at);
      at = end;
    }
    return text;
  };
  const std::string text_study = s.text(0, 2);  // the same six rows as text
  const std::string input = "Input Data ............\n";
  const std::string counted = input + "\t Number of SNPs is 4\n\t Number of individuals: 6 (#case = 4; #control = 2).\n";
  const std::string refused = "The data have not been input correctly!\n";
  const struct {
    const char* name;
    study_files inputs;
    std::string out;
    std::string err;
  } cases[] = {
      {"sample-major", with("s.bed", std::string("\x6C\x1B\x00", 3) + bed.substr(3)), input,
       "File s.bed is a sample-major PLINK .bed; only SNP-major ones are read (plink1.9 --make-bed writes them).\n"},
      {"unknown mode byte", with("s.bed", "\x6C\x1B\x02" + bed.substr(3)), input,
       "File s.bed has the unknown PLINK .bed mode byte 0x02.\n"},
      {"header cut short", with("s.bed", "\x6C\x1B"), input,
       "File s.bed ends within the header of a PLINK .bed file.\n"},
      {"a byte short", with("s.bed", bed.substr(0, bed.size() - 1)), input,
       "File s.bed holds 6 bytes; s.bim and s.fam call for 7 (3 + 2 SNPs x 2 bytes for 6 individuals).\n"},
      {"a byte too many", with("s.bed", bed + "x"), input,
       "File s.bed holds 8 bytes; s.bim and s.fam call for 7 (3 + 2 SNPs x 2 bytes for 6 individuals).\n"},
      {"one SNP fewer in the .bim", with("s.bim", s.bim(0, 1)), input,
       "File s.bed holds 7 bytes; s.bim and s.fam call for 5 (3 + 1 SNPs x 2 bytes for 6 individuals).\n"},
      {"no .bim", without("s.bim"), input, "File s.bed: can't open its .bim file s.bim\n"},
      {"no .fam", without("s.fam"), input, "File s.bed: can't open its .fam file s.fam\n"},
      {"a .bim that is a folder", without("s.bim") + study_files{{"s.bim/", ""}}, input,
       "File s.bed: can't read its .bim file s.bim\n"},
      {"quantitative phenotype", with("s.fam", fam_line(5, "f i 0 0 2 2.0")), input,
       "File s.fam, line 6 (FID f, IID i): phenotype 2.0 is neither 1 (control) nor 2 (case).\n"},
      {"a .fam line of five fields", with("s.fam", fam_line(1, "fam1 ind1 0 0 1")), input,
       "File s.fam, line 2: found 5 fields, expected 6.\n"},
      {"a .bim line of seven fields", with("s.bim", "1 rs1 0 1 A G\n\n1 rs2 0 2 A G x\n"), input,
       "File s.bim, line 3: found 7 fields, expected 6.\n"},
      {"an empty .bim", with("s.bim", "\n \n"), input, "File s.bim lists no SNP.\n"},
      {"an empty .fam", with("s.fam", ""), input, "File s.fam lists no individual.\n"},
      // Filesets and text files that disagree, found by the loading pass.
      {"fileset with fewer individuals than the first file",
       study_files{{kListFileName, "a.txt s.bed"}, {"a.txt", text_study + "0 1 1\n"}} + good,
       input + "\t Number of SNPs is 4\n\t Number of individuals: 7 (#case = 4; #control = 3).\n",
       "File s.fam holds 6 individuals, the first file 7.\n"},
      {"fileset whose phenotype differs from the first file",
       study_files{{kListFileName, "a.txt s.bed"}, {"a.txt", "1 0 0\n0 0 0\n1 0 0\n1 0 0\n1 0 0\n1 0 0\n"}} + good,
       input + "\t Number of SNPs is 4\n\t Number of individuals: 6 (#case = 5; #control = 1).\n",
       "File s.fam, line 4 (FID fam3, IID ind3): the phenotype differs from the first file.\n"},
      {"text whose status differs from the first fileset",
       study_files{{kListFileName, "s.bed b.txt"}, {"b.txt", "1 0 0\n0 0 0\n1 0 0\n1 0 0\n1 0 0\n1 0 0\n"}} + good,
       counted,
       "File b.txt, line 4: the status differs from the first file.\n"},
      {"text with more rows than the first fileset",
       study_files{{kListFileName, "s.bed b.txt"}, {"b.txt", text_study + "1 0 0\n"}} + good, counted,
       "File b.txt holds 7 rows, the first file 6.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    dir.write("VELKparameters.txt", kParameters);
    write_files(dir.path(), c.inputs);
    const run_result r = dir.run({"5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err + refused);
    EXPECT_EQ(without_banner(r.out), c.out);
    EXPECT_FALSE(dir.exists(kResult));
  }
}

}  // namespace
}  // namespace velk::testing
