#include "data/vcf_file.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "base/memory_budget.h"
#include "data/vcf_calls.h"
#include "e2e.h"

namespace velk {
namespace {

using testing::study_dir;

const char* const kHeader =
    "##fileformat=VCFv4.2\n"
    "##contig=<ID=1>\n"
    "##FORMAT=<ID=GT,Number=1,Type=String,Description=\"Genotype\">\n"
    "##FORMAT=<ID=DS,Number=1,Type=Float,Description=\"Dosage\">\n"
    "#CHROM\tPOS\tID\tREF\tALT\tQUAL\tFILTER\tINFO\tFORMAT";

// Spellings of the calls: the quick reading takes the first ones, htslib the rest
// (alleles of several digits, other ploidies, a GT that is not the first field).
struct spelling {
  const char* gt;
  unsigned call;  // with an ALT allele
};
const spelling kSpellings[] = {
    {"0/0", 0},  {"0|0", 0},           {"0/1", 1},           {"1/0", 1},          {"0|1", 1},
    {"1|0", 1},  {"1/1", 2},           {"1|1", 2},           {"./.", kCallMissing}, {".|.", kCallMissing},
    {"0/.", kCallMissing},             {"./1", kCallMissing}, {".", kCallMissing}, {"0", kCallMissing},
    {"1", kCallMissing},               {"0/0/1", kCallMissing}, {"00/01", 1},       {"1/01", 2},
};

struct made_file {
  std::string text;
  std::vector<std::vector<unsigned>> calls;  // [kept record][sample]
};

// A VCF of `samples` samples: every spelling at random, some records with the GT-only
// shape of plink1.9's files, some with DS beside GT (first or second), records with
// two ALT alleles (skipped) and records without ALT allele (only 0 and missing calls).
made_file random_vcf(long samples, long records, unsigned seed) {
  std::mt19937 rng(seed);
  made_file f;
  f.text = kHeader;
  for (long s = 0; s < samples; ++s) f.text += "\ts" + std::to_string(s);
  f.text += '\n';
  for (long r = 0; r < records; ++r) {
    const int shape = static_cast<int>(rng() % 6);  // 0-2 GT only, 3 GT:DS, 4 DS:GT, 5 no ALT
    const bool simple = shape <= 1;                  // the quick reading's best case
    const bool skipped = rng() % 9 == 0;
    f.text += "1\t" + std::to_string(100 + r) + "\trs" + std::to_string(r) + "\tA\t" +
              (skipped ? "G,T" : shape == 5 ? "." : "G") + "\t.\t.\t.\t" + (shape == 4 ? "DS:GT" : shape == 3 ? "GT:DS" : "GT");
    std::vector<unsigned> calls;
    for (long s = 0; s < samples; ++s) {
      spelling sp = kSpellings[rng() % (simple ? 10 : std::size(kSpellings))];
      if (shape == 5) sp = rng() % 2 ? spelling{"0/0", 0} : spelling{"./0", kCallMissing};
      std::string column = sp.gt;
      if (shape == 3) column += ":0.5";
      if (shape == 4) column = rng() % 4 == 0 ? "1" : "1.5:" + column;  // DS alone: GT missing
      if (shape == 4 && column == "1") sp.call = kCallMissing;
      f.text += '\t' + column;
      calls.push_back(sp.call);
    }
    f.text += '\n';
    if (!skipped) f.calls.push_back(calls);
  }
  return f;
}

vcf_file read_checked(const std::string& path, memory_budget& budget, bool fast) {
  vcf_file file;
  EXPECT_TRUE(read_vcf(path, budget, file, fast).ok());
  return file;
}

TEST(VcfCalls, QuickReadingEqualsHtslib) {
  // Sample counts around the quick reading's groups of four and its 16-byte loads.
  unsigned seed = 1;
  memory_budget budget;
  for (long samples : {1L, 2L, 3L, 4L, 5L, 7L, 8L, 9L, 16L, 17L, 33L, 130L}) {
    const made_file made = random_vcf(samples, 60, seed++);
    study_dir dir;
    dir.write("x.vcf", made.text);
    const std::string path = (dir.path() / "x.vcf").string();
    vcf_file quick = read_checked(path, budget, true);
    vcf_file htslib = read_checked(path, budget, false);
    ASSERT_EQ(quick.snps, static_cast<long>(made.calls.size()));
    ASSERT_EQ(htslib.snps, quick.snps);
    EXPECT_EQ(quick.records, 60);
    EXPECT_EQ(quick.records - quick.skipped, quick.snps);
    for (long j = 0; j < quick.snps; ++j) {
      for (long s = 0; s < samples; ++s) {
        EXPECT_EQ(call_of(quick.calls.record(j), s), made.calls[j][s]) << "samples " << samples << ", SNP " << j << ", sample " << s;
        EXPECT_EQ(call_of(htslib.calls.record(j), s), made.calls[j][s]) << "samples " << samples << ", SNP " << j << ", sample " << s;
      }
    }
  }
  EXPECT_EQ(budget.claimed(), 0u);
}

TEST(VcfCalls, SnpNames) {
  study_dir dir;
  dir.write("x.vcf", std::string(kHeader) + "\ta\tb\n" +
                         "1\t10\trs1\tA\tG\t.\t.\t.\tGT\t0/1\t1/1\n"
                         "1\t12\t.\tA\tG,T\t.\t.\t.\tGT\t0/1\t1/1\n"  // skipped
                         "2\t7\t.\tA\t.\t.\t.\t.\tGT\t0/0\t0/0\n"
                         "X\t20\trs9;rs10\tA\tC\t.\t.\t.\tGT\t0/1\t1/1\n");
  std::vector<vcf_snp> snps;
  ASSERT_TRUE(read_vcf_snps((dir.path() / "x.vcf").string(), snps).ok());
  ASSERT_EQ(snps.size(), 3u);
  const std::string names[] = {"rs1", "2:7", "rs9;rs10"};
  const std::string chroms[] = {"1", "2", "X"};
  const long long positions[] = {10, 7, 20};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(snps[i].name, names[i]);
    EXPECT_EQ(snps[i].chrom, chroms[i]);
    EXPECT_EQ(snps[i].pos, positions[i]);
  }
}

}  // namespace
}  // namespace velk
