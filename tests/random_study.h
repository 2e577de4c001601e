// Test support: random studies for the comparisons of whole runs (fast path against
// straightforward, several ranks against one process): missing genotypes (or none, in
// some SNPs or in one class), SNPs that copy earlier ones (exact ties), SNPs that
// follow the status (strong statistics), several files, a file listed twice, and
// optionally one file as a PLINK fileset.
#pragma once

#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "study_setup.h"

namespace velk::testing {

struct random_study {
  std::string list;
  std::vector<std::pair<std::string, std::string>> files;
  std::string parameters;
  std::string top_k;

  void write(const study_dir& dir) const {
    set_up_study(dir.path(), list, files, parameters);
  }
};

// What a caller may fix instead of drawing it: the order (0: drawn), the number of
// individuals and of SNPs (0: drawn), whether the last file is a PLINK fileset, and a long result
// (TOP_K 500 and a raw bound of 1, so that every set that reaches a list is reported,
// down to the weakest: where a lost candidate shows), and whether orders 3 and 4 search
// every set ([EXHAUSTV] 1).
struct study_shape {
  int order = 0;
  int individuals = 0;
  int snps = 0;
  bool fileset = false;
  bool long_result = false;
  bool exhaustive = false;
  // A focused search: a random VELKsets.txt with [SETSRULE] 1 or 2, or 0 with a distance;
  // with `positions` every file is a fileset whose SNPs lie close on two chromosomes,
  // and [MINDISTB] is drawn too.
  bool focused = false;
  bool positions = false;
};

// The SNP-major .bed of `snps` (rows of genotypes by individual; 9 is missing).
inline std::string bed_of(const std::vector<std::vector<int>>& genotype, int first, int last, int individuals) {
  std::string out = {'\x6C', '\x1B', '\x01'};
  for (int s = first; s < last; ++s) {
    std::string snp((individuals + 3) / 4, '\0');
    for (int d = 0; d < individuals; ++d) {
      const int g = genotype[s][d];
      const unsigned code = g == 2 ? 0u : g == 1 ? 2u : g == 0 ? 3u : 1u;
      snp[d / 4] = static_cast<char>(static_cast<unsigned char>(snp[d / 4]) | code << (2 * (d % 4)));
    }
    out += snp;
  }
  return out;
}

inline random_study make_random_study(std::mt19937_64& rng, const study_shape& shape = {}) {
  auto uniform = [&](int lo, int hi) { return static_cast<int>(lo + rng() % (hi - lo + 1)); };
  auto chance = [&](double q) { return std::uniform_real_distribution<double>(0, 1)(rng) < q; };
  int individuals = chance(0.1) ? uniform(1021, 1200) : uniform(4, 260);
  if (shape.individuals > 0) individuals = shape.individuals;
  const int snps = shape.snps > 0 ? shape.snps : uniform(2, 30);
  const double missing = chance(0.3) ? 0.0 : std::uniform_real_distribution<double>(0, 0.3)(rng);
  // Where genotypes go missing: everywhere; in some SNPs only, whole runs of 8 (a block
  // of the store) complete or not; or among the controls or the cases only. Complete
  // SNPs, blocks and classes take other ways through the counting kernels.
  const int pattern = uniform(0, 3);
  const double case_share = std::uniform_real_distribution<double>(0.2, 0.8)(rng);
  std::vector<int> status(individuals);
  for (int& s : status) s = chance(case_share) ? 1 : 0;
  // Each SNP either copies an earlier one (exact ties), follows the status with some
  // noise (strong statistics) or is random.
  std::vector<std::vector<int>> genotype(snps, std::vector<int>(individuals));
  bool run_complete = false;
  for (int s = 0; s < snps; ++s) {
    if (s % 8 == 0) run_complete = chance(0.5);
    const bool complete = pattern == 1 && (run_complete || chance(0.3));
    const int kind = s > 0 && chance(0.15) ? 0 : chance(0.3) ? 1 : 2;
    const int source = s > 0 ? uniform(0, s - 1) : 0;
    for (int d = 0; d < individuals; ++d) {
      int g = kind == 0 ? genotype[source][d] : kind == 1 ? (status[d] ? uniform(1, 2) : uniform(0, 1)) : uniform(0, 2);
      const bool may_miss = !complete && !(pattern == 2 && status[d] == 1) && !(pattern == 3 && status[d] == 0);
      if (kind != 0 && may_miss && chance(missing)) g = 9;
      genotype[s][d] = g;
    }
  }
  random_study out;
  const int nfiles = uniform(1, 3);
  int first = 0;
  std::vector<std::string> names;  // of the study's SNPs, as velk-names gives them
  for (int f = 0; f < nfiles; ++f) {
    const int last = f + 1 == nfiles ? snps : std::min(snps, first + uniform(1, snps));
    if (last > first && ((shape.fileset && f + 1 == nfiles) || shape.positions)) {
      // PLINK classes: 2 a case, 1 a control.
      std::string fam, bim;
      const std::string stem = "set" + std::to_string(f);
      for (int d = 0; d < individuals; ++d)
        fam += "f" + std::to_string(d) + " i" + std::to_string(d) + " 0 0 1 " + (status[d] ? "2" : "1") + "\n";
      for (int s = first; s < last; ++s) {
        const std::string place =
            shape.positions ? std::to_string(uniform(1, 2)) + " rs" + std::to_string(s) + " 0 " +
                                  std::to_string(uniform(1, 400))
                            : "1 rs" + std::to_string(s) + " 0 " + std::to_string(s + 1);
        bim += place + " A G\n";
        names.push_back("rs" + std::to_string(s));
      }
      out.files.push_back({stem + ".bed", bed_of(genotype, first, last, individuals)});
      out.files.push_back({stem + ".bim", bim});
      out.files.push_back({stem + ".fam", fam});
      out.list += stem + ".bed\n";
    } else if (last > first) {
      std::ostringstream text;
      for (int d = 0; d < individuals; ++d) {
        text << status[d];
        for (int s = first; s < last; ++s) text << ' ' << genotype[s][d];
        text << '\n';
      }
      out.files.push_back({"g" + std::to_string(f) + ".txt", text.str()});
      out.list += out.files.back().first + "\n";
      const int copies = chance(0.15) ? 2 : 1;  // listed twice
      if (copies == 2) out.list += out.files.back().first + "\n";
      for (int c = 0; c < copies; ++c)
        for (int s = first; s < last; ++s) names.push_back(out.files.back().first + ":" + std::to_string(s - first + 1));
    }
    first = last;
  }
  const double alphas[] = {0.0, 0.01, 0.05, 0.2, 0.6};
  std::ostringstream params;
  const int order = uniform(1, 4);
  params << "[DISEASEN]\t" << (shape.order > 0 ? shape.order : order) << "\n[ALPHA_RF]\t" << alphas[uniform(0, 4)]
         << "\n";
  if (chance(0.8)) params << "[MULFACTR]\t" << uniform(1, 20) << "\n";
  params << "[MAX_PVAL]\t" << (chance(0.5) ? "0.9" : "1e-3") << "\n";
  if (chance(0.4)) params << "[MAXGWPVL]\t" << (chance(0.5) ? "0.5" : "1e-4") << "\n";
  if (shape.long_result) params << "[MAXGWPVL]\t1\n";
  if (shape.exhaustive) params << "[EXHAUSTV]\t1\n";
  if (shape.focused) {
    const int rule = shape.positions ? uniform(0, 2) : uniform(1, 2);
    params << "[SETSRULE]\t" << rule << "\n";
    if (shape.positions) params << "[MINDISTB]\t" << uniform(1, 150) << "\n";
    // One to three sets of a few SNPs each, which may share SNPs.
    std::string sets;
    const int set_ct = uniform(1, 3);
    for (int k = 0; k < set_ct; ++k) {
      sets += "S" + std::to_string(k) + "\n";
      const int members = uniform(1, std::max(1, static_cast<int>(names.size()) / 2));
      for (int m = 0; m < members; ++m) sets += names[rng() % names.size()] + "\n";
      sets += "END\n\n";
    }
    out.files.push_back({"VELKsets.txt", sets});
  }
  out.parameters = params.str();
  out.top_k = std::to_string(chance(0.2) ? uniform(0, 1) : uniform(2, 60));
  if (shape.long_result) out.top_k = "500";
  return out;
}

// The result file of a run, or "<none>".
inline std::string result_or_none(const study_dir& dir) {
  return dir.exists("VELKResult.txt") ? dir.read("VELKResult.txt") : "<none>";
}

}  // namespace velk::testing
