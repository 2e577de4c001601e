// A plain reference of the whole search, for end-to-end tests of the velk binary.
//
// It works on a study held as a genotype matrix (no bitsets), counts cells by walking
// the individuals, keeps its lists as plain vectors with a linear duplicate scan, and
// writes the result file itself. What it shares with the program is only what fixes the
// output bit for bit: the order of the floating-point operations of the thresholds and
// of the chi-square, the level rules, and the bounded list itself, whose heap
// positions decide the order of tied rows. The statistics' tails come from ALGLIB, as in the
// program. Meant for small studies: binomial coefficients are built by Pascal's rule,
// which gives the same (exact) doubles as long as the study has at most 50 individuals.
#pragma once

#include <libalglib/specialfunctions.h>

#include <cassert>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "e2e.h"
#include "search/top_k_list.h"

namespace velk::reference {

struct study {
  std::vector<int> status;                 // per individual: 0 is a control, else a case
  std::vector<std::vector<int>> genotype;  // genotype[snp][individual]; not 0..2 is missing
  int snps() const { return static_cast<int>(genotype.size()); }
  int cases() const {
    int c = 0;
    for (int s : status) c += s != 0;
    return c;
  }
  int controls() const { return static_cast<int>(status.size()) - cases(); }
};

// What the parameter file and the command line say; 0 for a bound means "not given".
struct settings {
  int order = 1;
  int top_k = 10;
  int level_factor = 0;
  double alpha = 0.05;
  double corrected_p_bound = 0;
  double raw_p_bound = 0;
  bool exhaustive = false;  // [EXHAUSTV] 1: every set of order 3 or 4
};

struct node {
  double chisq;
  std::vector<int64_t> loci;
  int case_major_ct;
};

inline bool ranks_above(const node& a, const node& b) {
  return a.chisq > b.chisq || (a.chisq == b.chisq && a.case_major_ct < b.case_major_ct);
}

// The bounded list. Where a node sits decides where its ties are written, and that is
// the program's heap's own rule (pinned by tests/search/top_k_list_test.cpp): so the
// reference does not write the sift rules again but lets the program's list place each
// offer, and keeps a plain copy of the positions.
struct bounded_list {
  int capacity = 0;
  std::vector<node> nodes;  // the held nodes, positions 0 ... count - 1

  int count() const { return static_cast<int>(nodes.size()); }
  bool full_with_root() const { return capacity >= 1 && count() == capacity; }

  void offer(const node& x) {
    for (const node& held : nodes)
      if (held.loci == x.loci) return;
    const int order = static_cast<int>(x.loci.size());
    velk::top_k_list list;
    if (!velk::init_top_k_list(&list, capacity, order).ok()) std::abort();
    for (node& held : nodes) {
      const velk::multi_locus_node as_held{held.chisq, held.loci.data(), held.case_major_ct};
      velk::append_top_k_list_node(&list, &as_held);
    }
    std::vector<int64_t> loci = x.loci;
    const velk::multi_locus_node offered{x.chisq, loci.data(), x.case_major_ct};
    velk::insert_top_k_list(&list, &offered);
    nodes.clear();
    for (int i = 0; i < list.count; ++i)
      nodes.push_back({list.nodes[i].chisq, std::vector<int64_t>(list.nodes[i].loci, list.nodes[i].loci + order),
                       list.nodes[i].case_major_ct});
    velk::destroy_top_k_list(&list);
  }

  // Insertion sort into ascending rank order; ties keep their order.
  void sort_worst_first() {
    for (int i = 1; i < count(); ++i) {
      node taken = nodes[i];
      int j = i;
      while (j > 0 && ranks_above(nodes[j - 1], taken)) {
        nodes[j] = nodes[j - 1];
        --j;
      }
      nodes[j] = taken;
    }
  }
};

inline double chi_square_3x2(const int t[6]) {
  double row[3] = {0, 0, 0};
  double col[2] = {0, 0};
  double total = 0;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 2; ++j) {
      row[i] += t[2 * i + j];
      col[j] += t[2 * i + j];
    }
    total += row[i];
  }
  double chi = 0;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 2; ++j) {
      const double e = (col[j] * row[i]) / total;
      if (e > 0) {
        const double d = t[2 * i + j] - e;
        chi = chi + (d * d) / e;
      }
    }
  return chi;
}

// Standard output after the banner up to the start of the search, seconds shown as N.
inline std::string opening_text(const study& data) {
  char buf[256];
  snprintf(buf, sizeof buf,
           "Input Data ............\n\t Number of SNPs is %d\n\t Number of individuals: %d (#case = %d; "
           "#control = %d).\nEnd of data input (spending N seconds).\n",
           data.snps(), static_cast<int>(data.status.size()), data.cases(), data.controls());
  return std::string(buf) + "Begin Epistasis Detecting, please wait ...... \n";
}

// The whole standard output of a complete run after the banner; a negative entry of
// `completed` is the line of an exhaustive search of that order.
inline std::string console_text(const study& data, const std::vector<int>& completed) {
  std::string text = opening_text(data);
  for (int k : completed)
    text += k < 0 ? "\t All " + std::to_string(-k) + "-locus sets searched!\n"
                  : "\t " + std::to_string(k) + " loci interaction detecting completed!\n";
  return text + "The time used in detecting multi-loci interactions is: N seconds!\n";
}

struct searcher {
  const study data;
  const settings cfg;
  int n, p, case_ct, ctrl_ct;
  std::vector<int> t1, t2;
  std::vector<double> single;  // each SNP's statistic alone
  double max_chi_pv_in = 0.08, max_genome_pv = -1.0;
  std::vector<int> completed;  // orders announced by the completion lines
  bounded_list result, level;  // the final list; the level list of the order (3, 4)

  searcher(const study& d, const settings& c) : data(d), cfg(c) {
    n = static_cast<int>(d.status.size());
    p = d.snps();
    case_ct = d.cases();
    ctrl_ct = d.controls();
    assert(n <= 50);
    if (c.corrected_p_bound != 0) max_chi_pv_in = c.corrected_p_bound;
    if (c.raw_p_bound != 0) max_genome_pv = c.raw_p_bound;
    make_thresholds();
    for (int s = 0; s < p; ++s) single.push_back(score({s}).chisq);
  }

  // case_min[m] is the first j at which P(X <= j), X ~ Binomial(m, a), summed term by term,
  // exceeds 1 - alpha; m + 1 when none does. ctrl_min likewise with 1 - a.
  void make_thresholds() {
    const double a = static_cast<double>(case_ct) / static_cast<double>(case_ct + ctrl_ct);
    const double b = 1.0 - a;
    std::vector<double> apow{1.0}, bpow{1.0};
    for (int i = 0; i < n; ++i) {
      apow.push_back(a * apow.back());
      bpow.push_back(bpow.back() * b);
    }
    t1.assign(n + 1, 0);
    t2.assign(n + 1, 0);
    t1[0] = t2[0] = 1;
    if (n >= 1) t1[1] = t2[1] = 2;
    std::vector<double> row{1.0, 1.0};
    for (int m = 2; m <= n; ++m) {
      std::vector<double> next(m + 1, 1.0);
      for (int k = 1; k < m; ++k) next[k] = row[k - 1] + row[k];
      row = next;
      const double bar = 1.0 - cfg.alpha;
      auto first_above = [&](const std::vector<double>& x, const std::vector<double>& y) {
        double s = 0.0;
        for (int j = 0; j <= m; ++j) {
          s = s + (row[j] * x[j]) * y[m - j];
          if (s > bar) return j;
        }
        return m + 1;
      };
      t1[m] = first_above(apow, bpow);
      t2[m] = first_above(bpow, apow);
    }
  }

  // The statistic and case-major count of a locus set, from its 3^k genotype cells.
  node score(std::vector<int64_t> loci) const {
    const int k = static_cast<int>(loci.size());
    int cells = 1;
    for (int i = 0; i < k; ++i) cells *= 3;
    std::vector<int> cases(cells, 0), ctrls(cells, 0);
    for (int d = 0; d < n; ++d) {
      int cell = 0;
      bool missing = false;
      for (int i = k - 1; i >= 0; --i) {
        const int g = data.genotype[loci[i]][d];
        if (g < 0 || g > 2) missing = true;
        cell = 3 * cell + g;
      }
      if (missing) continue;
      (data.status[d] != 0 ? cases : ctrls)[cell]++;
    }
    int t[6] = {0, 0, 0, 0, 0, 0};
    int case_major_ct = 0;
    for (int c = 0; c < cells; ++c) {
      const int x = cases[c], y = ctrls[c];
      if (x >= t1[x + y]) {
        t[0] += x;
        t[1] += y;
        ++case_major_ct;
      } else if (y >= t2[x + y]) {
        t[4] += x;
        t[5] += y;
      }
    }
    t[2] = case_ct - t[0] - t[4];
    t[3] = ctrl_ct - t[1] - t[5];
    return {chi_square_3x2(t), loci, case_major_ct};
  }

  double corrected_bound() const {
    const double corrected = 2 * max_chi_pv_in / (static_cast<double>(p) * static_cast<double>(p - 1));
    const double y = max_genome_pv < corrected ? corrected : max_genome_pv;
    if (y == 0) return std::numeric_limits<double>::infinity();
    return alglib::invchisquaredistribution(2, y);
  }

  void singles(bounded_list& into) const {
    double bound = corrected_bound();
    for (int s = 0; s < p; ++s) {
      if (single[s] < bound) continue;
      into.offer(score({s}));
      if (into.full_with_root() && into.nodes[0].chisq > bound) bound = into.nodes[0].chisq;
    }
  }

  void pairs(bounded_list& into, double bound) const {
    for (int i = 0; i < p; ++i)
      for (int j = i + 1; j < p; ++j) {
        const node x = score({i, j});
        if (x.chisq < bound || x.chisq <= single[i] || x.chisq <= single[j]) continue;
        into.offer(x);
        if (into.full_with_root() && into.nodes[0].chisq > bound) bound = into.nodes[0].chisq;
      }
  }

  // Every parent, best first, with every SNP it lacks added at its sorted place.
  void extend(const bounded_list& parents, bounded_list& into) const {
    double bound = 2.0;
    for (int j = parents.count() - 1; j >= 0; --j) {
      const node& parent = parents.nodes[j];
      for (int x = 0; x < p; ++x) {
        std::vector<int64_t> loci = parent.loci;
        bool held = false;
        for (int64_t l : loci) held = held || l == x;
        if (held) continue;
        loci.push_back(x);
        for (size_t i = loci.size() - 1; i > 0 && loci[i - 1] > loci[i]; --i) std::swap(loci[i - 1], loci[i]);
        const node cand = score(loci);
        if (cand.chisq < bound || cand.chisq <= parent.chisq || cand.chisq <= single[x]) continue;
        into.offer(cand);
        if (into.full_with_root() && into.nodes[0].chisq > bound) bound = into.nodes[0].chisq;
      }
    }
  }

  // Every set of the order, one at a time in lexicographic order, scored from all of
  // its cells and offered when it reaches the bound and beats each of its SNPs alone.
  void every_set(std::vector<int64_t>& loci, int from, bounded_list& into, double& bound) const {
    if (static_cast<int>(loci.size()) == cfg.order) {
      const node x = score(loci);
      for (int64_t l : loci)
        if (x.chisq <= single[l]) return;
      if (x.chisq < bound) return;
      into.offer(x);
      if (into.full_with_root() && into.nodes[0].chisq > bound) bound = into.nodes[0].chisq;
      return;
    }
    for (int s = from; s < p; ++s) {
      loci.push_back(s);
      every_set(loci, s + 1, into, bound);
      loci.pop_back();
    }
  }

  void run() {
    result.capacity = cfg.top_k;
    if (cfg.order == 1) return singles(result);
    if (cfg.order == 2) return pairs(result, corrected_bound());
    if (cfg.exhaustive) {
      level.capacity = cfg.top_k;
      std::vector<int64_t> loci;
      double bound = 2.0;
      every_set(loci, 0, level, bound);
      completed.push_back(-cfg.order);
      return filter_level();
    }
    bounded_list lower;
    lower.capacity = level.capacity = cfg.top_k * cfg.level_factor;
    pairs(lower, 2.0);
    for (int order = 3; order <= cfg.order; ++order) {
      completed.push_back(order - 1);
      lower.sort_worst_first();
      level.nodes.clear();
      extend(lower, level);
      if (order < cfg.order) std::swap(lower, level);
    }
    filter_level();
  }

  // The sets of the level list that pass a p-value bound, in its array order.
  void filter_level() {
    double sets = 1;
    for (int i = 0; i < cfg.order; ++i) {
      sets = sets * (p - i);
      sets = sets / (cfg.order - i);
    }
    for (const node& x : level.nodes) {
      const double q = alglib::chisquarecdistribution(2, x.chisq);
      if (q <= max_genome_pv || q * sets <= max_chi_pv_in) result.offer(x);
    }
  }

  // The result file: best first; tied rows in descending order of their positions.
  std::string result_file() const {
    std::vector<int> pos;
    for (int i = 0; i < result.count(); ++i) pos.push_back(i);
    for (size_t i = 1; i < pos.size(); ++i)
      for (size_t j = i; j > 0 && ranks_above(result.nodes[pos[j - 1]], result.nodes[pos[j]]); --j)
        std::swap(pos[j - 1], pos[j]);
    std::string text = "Loci\tchi_SQ\tP_value\t#Major_cells\n";
    char buf[128];
    for (size_t r = pos.size(); r-- > 0;) {
      const node& x = result.nodes[pos[r]];
      for (int64_t l : x.loci) text += std::to_string(l) + " ";
      snprintf(buf, sizeof buf, "%f %g %d\n", x.chisq, alglib::chisquarecdistribution(2, x.chisq), x.case_major_ct);
      text += buf;
    }
    return text;
  }

  std::string console() const { return console_text(data, completed); }
};

// Writes the study as genotype files holding consecutive runs of SNP columns (`split`
// gives the number of columns of each file) and the list naming them.
inline void write_study(const velk::testing::study_dir& dir, const study& data, std::vector<int> split = {}) {
  if (split.empty()) split.push_back(data.snps());
  std::string list;
  int first = 0;
  for (size_t f = 0; f < split.size(); ++f) {
    std::string text;
    for (size_t d = 0; d < data.status.size(); ++d) {
      text += std::to_string(data.status[d]);
      for (int s = first; s < first + split[f]; ++s) text += (f % 2 ? "\t" : " ") + std::to_string(data.genotype[s][d]);
      text += "\n";
    }
    const std::string name = "part" + std::to_string(f) + ".txt";
    dir.write(name, text);
    list += name + (f % 2 ? " " : "\n");
    first += split[f];
  }
  assert(first == data.snps());
  dir.write("VELKinputfiles.txt", list);
}

// The parameter file for the settings; a bound of 0 is left out, as is a level_factor of 0.
inline std::string parameter_file(const settings& cfg) {
  std::string text = "# written by the test\n[DISEASEN]\t" + std::to_string(cfg.order) + "\n";
  if (cfg.level_factor != 0) text += "[MULFACTR] " + std::to_string(cfg.level_factor) + "\n";
  auto real = [&text](const char* line, double value) {
    char buf[64];
    snprintf(buf, sizeof buf, line, value);
    text += buf;
  };
  real("[ALPHA_RF]\t%.17g\n", cfg.alpha);
  if (cfg.corrected_p_bound != 0) real("[MAX_PVAL]\t%.17g\n", cfg.corrected_p_bound);
  if (cfg.raw_p_bound != 0) real("[MAXGWPVL]  %.17g\n", cfg.raw_p_bound);
  if (cfg.exhaustive) text += "[EXHAUSTV] 1\n";
  return text;
}

// A random study: genotype frequencies per SNP, some SNPs shifted in the cases, an
// interaction of two or three SNPs planted in part of the cases, now and then a copied
// column (exact ties) and some missing genotypes.
inline study random_study(std::mt19937& rng, int n, int p, double missing_rate) {
  auto uniform = [&rng]() { return static_cast<double>(rng()) / 4294967296.0; };
  auto below = [&rng](int k) { return static_cast<int>(rng() % static_cast<unsigned>(k)); };
  study data;
  const int case_codes[] = {1, 1, 1, 2, -9};
  for (int d = 0; d < n; ++d) data.status.push_back(uniform() < 0.5 ? 0 : case_codes[below(5)]);
  data.status[0] = 0;
  data.status[1] = 1;
  data.genotype.assign(p, std::vector<int>(n));
  for (int s = 0; s < p; ++s) {
    // Common and rare variants; the rare ones give the large cells that larger sets need.
    const double f0 = uniform() < 0.5 ? 0.15 + 0.5 * uniform() : 0.6 + 0.35 * uniform();
    const double f1 = f0 + (1 - f0) * uniform();
    const bool shifted = uniform() < 0.3;
    for (int d = 0; d < n; ++d) {
      const double u = uniform();
      int g = u < f0 ? 0 : u < f1 ? 1 : 2;
      if (shifted && data.status[d] != 0 && uniform() < 0.4) g = 2;
      data.genotype[s][d] = g;
    }
  }
  const int planted = 2 + below(2);
  std::vector<int> loci, combo;
  for (int i = 0; i < planted; ++i) loci.push_back(below(p)), combo.push_back(below(3));
  for (int d = 0; d < n; ++d)
    if (data.status[d] != 0 && uniform() < 0.6)
      for (int i = 0; i < planted; ++i) data.genotype[loci[i]][d] = combo[i];
  const int missing_codes[] = {3, 9, -1};
  for (auto& column : data.genotype)
    for (int& g : column)
      if (uniform() < missing_rate) g = missing_codes[below(3)];
  for (int s = 1; s < p; ++s)
    if (uniform() < 0.15) data.genotype[s] = data.genotype[below(s)];
  return data;
}

}  // namespace velk::reference
