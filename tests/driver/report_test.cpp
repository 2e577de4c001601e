// End-to-end tests of velk-report: the cells of the search's own result against cells
// counted here straight from the genotypes, the SNPs alone and the LD inside the sets,
// the refusal of a result the study does not give, the family-wise p-values, and the
// page as a browser renders it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "e2e.h"
#include "base/version.h"
#include "plink_study.h"
#include "results/interaction_tests.h"
#include "results/set_ld.h"
#include "stats/major_cell_table.h"
#include "stats/thresholds.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

const std::string kNoCovariates = "No VELKcovariates.txt: the interaction models hold no covariates\n";

// Standard output of a report, the covariates' line and the models' line given.
std::string written(const std::string& covariates, const std::string& models) {
  return "VELKcells.tsv\n" + covariates + models + "VELKinteractions.tsv\nVELKsnps.tsv\nVELKReport.html\n";
}

struct result_line {
  std::vector<long> loci;
  std::string chisq, p_value;
  int case_major_ct = 0;
};

// The rows of a result file of sets of `order` SNPs.
std::vector<result_line> result_lines(const std::string& result, int order) {
  std::istringstream in(result.substr(result.find('\n') + 1));
  std::vector<result_line> lines;
  for (result_line line; in >> std::ws && !in.eof();) {
    line.loci.assign(order, 0);
    for (long& locus : line.loci) in >> locus;
    in >> line.chisq >> line.p_value >> line.case_major_ct;
    lines.push_back(line);
  }
  return lines;
}

size_t occurrences(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

// SNPs [0, text_snps) in a.txt, the rest in the fileset s.bed (IDs rs1000 + index).
void write_study(const study_dir& dir, const genotype_study& s, long snps, long text_snps, const std::string& params) {
  set_up_study(dir.path(), "a.txt\ns.bed\n",
               study_files{{"a.txt", s.text(0, text_snps)}} + fileset(s, "s", text_snps, snps - text_snps), params);
}

std::string snp_name(long index, long text_snps) {
  return index < text_snps ? "a.txt:" + std::to_string(index + 1) : "rs" + std::to_string(1000 + index);
}

// Covariates `age` (NA for every 9th individual) and `pc` (-9 for every 11th).
double age_of(long d) { return d % 9 == 4 ? NAN : 20.0 + static_cast<double>(d * 7 % 50); }
double pc_of(long d) { return d % 11 == 3 ? NAN : static_cast<double>(d % 13) / 8.0 - 0.75; }

// The study's covariates, individual-major, or none.
struct covariate_values {
  std::vector<double> values;
  int count = 0;
};
covariate_values age_and_pc(long individuals) {
  covariate_values c{{}, 2};
  for (long d = 0; d < individuals; ++d) c.values.insert(c.values.end(), {age_of(d), pc_of(d)});
  return c;
}

// Whether individual d has every genotype of `loci` and every covariate.
bool in_models(const genotype_study& s, const std::vector<long>& loci, const covariate_values& c, long d) {
  for (long locus : loci)
    if (s.genotypes[d][locus] < 0) return false;
  for (int k = 0; k < c.count; ++k)
    if (std::isnan(c.values[d * c.count + k])) return false;
  return true;
}

// The console's line of the individuals the models hold, counted from the study.
std::string models_line(const genotype_study& s, const std::vector<result_line>& lines, const covariate_values& c) {
  const auto range = [&](const std::vector<std::vector<long>>& models) {
    long least = s.individuals(), most = 0;
    for (const std::vector<long>& loci : models) {
      long used = 0;
      for (long d = 0; d < s.individuals(); ++d) used += in_models(s, loci, c, d);
      least = std::min(least, used);
      most = std::max(most, used);
    }
    return least == most ? std::to_string(most) : std::to_string(least) + " to " + std::to_string(most);
  };
  std::vector<std::vector<long>> sets, snps;
  for (const result_line& line : lines) {
    sets.push_back(line.loci);
    for (long locus : line.loci) snps.push_back({locus});
  }
  return "Individuals in the models: " + range(sets) + " for a set, " + range(snps) + " for a SNP alone\n";
}

// VELKsnps.tsv as it must be: each SNP's three cells counted from the genotypes, its
// place from its file (none in a text file), and its main effect with the covariates.
std::string expected_snps(const genotype_study& s, const std::vector<result_line>& lines, long text_snps,
                          double alpha, const covariate_values& c) {
  long cases = 0;
  for (bool x : s.is_case) cases += x;
  const long n = s.individuals();
  const thresholds t = build_thresholds(static_cast<int>(n), static_cast<double>(cases) / static_cast<double>(n), alpha);
  std::vector<long> snps;
  for (const result_line& line : lines) snps.insert(snps.end(), line.loci.begin(), line.loci.end());
  std::sort(snps.begin(), snps.end());
  snps.erase(std::unique(snps.begin(), snps.end()), snps.end());
  const std::vector<uint8_t> is_case(s.is_case.begin(), s.is_case.end());
  std::string out = "SNP\tINDEX\tCHR\tPOS\tCHISQ\tP\tMAIN_P\tN\n";
  for (long snp : snps) {
    major_cell_table table;
    std::vector<int8_t> genotypes;
    for (long d = 0; d < n; ++d) genotypes.push_back(static_cast<int8_t>(s.genotypes[d][snp]));
    for (int g = 0; g < 3; ++g) {
      int x = 0, y = 0;
      for (long d = 0; d < n; ++d)
        if (genotypes[d] == g) (s.is_case[d] ? x : y) += 1;
      classify_cell(table, t, x, y);
    }
    complete_table(table, static_cast<int>(cases), static_cast<int>(n - cases));
    const double chisq = chi_square(table.cell, 3, 2);
    const main_effect_result main = test_main_effect(is_case, genotypes, c.values, c.count);
    long used = 0;
    for (long d = 0; d < n; ++d) used += in_models(s, {snp}, c, d);
    char row[256];
    snprintf(row, sizeof row, "%s\t%ld\t%s\t%f\t%g\t%g\t%ld\n", snp_name(snp, text_snps).c_str(), snp,
             snp < text_snps ? "NA\tNA" : ("1\t" + std::to_string(100 * (snp + 1))).c_str(), chisq,
             p_value_chisq(2, chisq), main.test.p, used);
    out += row;
  }
  return out;
}

// VELKcells.tsv as it must be, every count taken from the genotypes themselves, and
// the result's own columns checked against them on the way.
std::string expected_cells(const genotype_study& s, const std::vector<result_line>& lines, long text_snps,
                           double alpha) {
  long cases = 0;
  for (bool c : s.is_case) cases += c;
  const long n = s.individuals();
  const thresholds t = build_thresholds(static_cast<int>(n), static_cast<double>(cases) / static_cast<double>(n), alpha);
  std::string out = "rank\tsnps\tgenotypes\tcases\tcontrols\tcase_threshold\tcontrol_threshold\tclass\n";
  for (size_t r = 0; r < lines.size(); ++r) {
    const std::vector<long>& loci = lines[r].loci;
    const int order = static_cast<int>(loci.size());
    std::string snps;
    for (long locus : loci) snps += (snps.empty() ? "" : ",") + snp_name(locus, text_snps);
    const std::string prefix = std::to_string(r + 1) + "\t" + snps + "\t";
    int table[6] = {0, 0, 0, 0, 0, 0};
    int case_major_ct = 0;
    int cells = 1;
    for (int i = 0; i < order; ++i) cells *= 3;
    for (int c = 0; c < cells; ++c) {
      std::vector<int> g(order);
      for (int i = order - 1, code = c; i >= 0; --i, code /= 3) g[i] = code % 3;  // first SNP slowest
      int x = 0, y = 0;
      for (long d = 0; d < n; ++d) {
        bool in_cell = true;
        for (int i = 0; i < order; ++i) in_cell = in_cell && s.genotypes[d][loci[i]] == g[i];
        if (in_cell) (s.is_case[d] ? x : y) += 1;
      }
      const int m = x + y;
      const char* kind = x >= t.case_min[m] ? "case-major" : y >= t.ctrl_min[m] ? "control-major" : "other";
      const int row = x >= t.case_min[m] ? 0 : y >= t.ctrl_min[m] ? 2 : 1;
      if (row != 1) {
        table[2 * row] += x;
        table[2 * row + 1] += y;
      }
      case_major_ct += row == 0;
      std::string genotypes;
      for (int i = 0; i < order; ++i) genotypes += (i ? "," : "") + std::to_string(g[i]);
      out += prefix + genotypes + "\t" + std::to_string(x) + "\t" + std::to_string(y) + "\t" +
             std::to_string(t.case_min[m]) + "\t" + std::to_string(t.ctrl_min[m]) + "\t" + kind + "\n";
    }
    int missing_cases = 0, missing_ctrls = 0;
    for (long d = 0; d < n; ++d) {
      bool missing = false;
      for (long locus : loci) missing = missing || s.genotypes[d][locus] < 0;
      if (missing) (s.is_case[d] ? missing_cases : missing_ctrls) += 1;
    }
    out += prefix + "missing\t" + std::to_string(missing_cases) + "\t" + std::to_string(missing_ctrls) +
           "\tNA\tNA\tother\n";
    table[2] = static_cast<int>(cases) - table[0] - table[4];
    table[3] = static_cast<int>(n - cases) - table[1] - table[5];
    char chisq[64];
    snprintf(chisq, sizeof chisq, "%f", chi_square(table, 3, 2));
    EXPECT_EQ(chisq, lines[r].chisq) << "rank " << r + 1;
    EXPECT_EQ(case_major_ct, lines[r].case_major_ct) << "rank " << r + 1;
  }
  return out;
}

TEST(Report, CellsOfTheSearchsOwnResult) {
  const struct {
    int order;
    long individuals, snps, text_snps;
    const char* top_k;
    double alpha;
  } cases[] = {
      {1, 300, 9, 4, "9", 0.3},
      {2, 200, 10, 6, "12", 0.01},
      {3, 240, 9, 3, "10", 0.1},
      {4, 300, 8, 5, "8", 0.05},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("order " + std::to_string(c.order));
    const genotype_study s = genotype_study::random(c.individuals, c.snps, 40 + c.order);
    study_dir dir;
    char alpha[32];
    snprintf(alpha, sizeof alpha, "%g", c.alpha);
    write_study(dir, s, c.snps, c.text_snps,
                "[DISEASEN]\t" + std::to_string(c.order) + "\n[MULFACTR]\t5\n[MAXGWPVL]\t1\n[ALPHA_RF]\t" + alpha +
                    "\n");
    ASSERT_EQ(dir.run({c.top_k}).status, 0);
    const std::vector<result_line> lines = result_lines(dir.read("VELKResult.txt"), c.order);
    ASSERT_GE(lines.size(), 3u);
    // The parameters are the run's, from its record, whatever the file says now.
    dir.write("VELKparameters.txt", "[MULFACTR]\t7\n");
    const run_result r = dir.run({}, VELK_REPORT_BINARY);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, written(kNoCovariates, models_line(s, lines, {})));
    EXPECT_EQ(dir.read("VELKcells.tsv"), expected_cells(s, lines, c.text_snps, c.alpha));
    EXPECT_EQ(dir.read("VELKsnps.tsv"), expected_snps(s, lines, c.text_snps, c.alpha, {}));
    const std::string page = dir.read("VELKReport.html");
    // No covariates, and the page says so; an odds ratio for pairs only.
    EXPECT_NE(page.find("<tr><th>Covariates</th><td>none (no VELKcovariates.txt)</td></tr>"), std::string::npos);
    EXPECT_NE(page.find("beyond its SNPs' main effects, by likelihood-ratio tests"), std::string::npos);
    EXPECT_EQ(page.find("interaction OR") != std::string::npos, c.order == 2);
    EXPECT_EQ(occurrences(page, "<svg class=\"cells\""), lines.size());
    EXPECT_NE(page.find(c.order > 2 ? "[MULFACTR]</th><td class=\"num\">5</td>"
                                    : "[MULFACTR]</th><td class=\"num\">5 (not used by this search)</td>"),
              std::string::npos);
    // Each SNP of the sets with its position and counted allele: the .bim's A1 (its
    // fifth field, not the sixth, G), or the text file's own genotype; the sets link to it.
    for (const result_line& line : lines)
      for (long locus : line.loci) {
        const std::string place = locus < c.text_snps
                                      ? "<td>none</td><td>the file's genotype</td>"
                                      : "<td>1:" + std::to_string(100 * (locus + 1)) + "</td><td>A</td>";
        const std::string name = snp_name(locus, c.text_snps), anchor = "snp-" + std::to_string(locus);
        EXPECT_NE(page.find("<tr id=\"" + anchor + "\"><td>" + name + "</td>" + place), std::string::npos) << locus;
        EXPECT_NE(page.find("<a href=\"#" + anchor + "\">" + name + "</a>"), std::string::npos) << locus;
      }
    // The title says where, when and by which version.
    EXPECT_NE(page.find("<title>VELK report: " + std::filesystem::canonical(dir.path()).string() + ", 20"),
              std::string::npos);
    EXPECT_NE(page.find(std::string(", ") + kVersion + "</title>"), std::string::npos);
    EXPECT_NE(page.find(std::string(", ") + kVersion + "</p>"), std::string::npos);
    // Self-contained: nothing to run and nothing to fetch.
    for (const char* outside : {"<script", "src=", "@import", "http:", "https:"})
      EXPECT_EQ(page.find(outside), std::string::npos) << outside;
  }
}

TEST(Report, RefusesAResultTheStudyDoesNotGive) {
  const genotype_study s = genotype_study::random(200, 8, 7);
  const std::string params = "[DISEASEN]\t2\n[MAXGWPVL]\t1\n[ALPHA_RF]\t0.05\n";
  study_dir run_dir;
  write_study(run_dir, s, 8, 4, params);
  ASSERT_EQ(run_dir.run({"6"}).status, 0);
  const std::string result = run_dir.read("VELKResult.txt");
  const std::vector<result_line> lines = result_lines(result, 2);
  ASSERT_EQ(lines.size(), 6u);
  // Row 2 (line 3) with one field changed.
  const auto edited = [&](int field, const std::string& value) {
    std::istringstream rows(result);
    std::string out, line;
    for (int i = 1; std::getline(rows, line); ++i) {
      if (i == 3) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string x; fields >> x;) f.push_back(x);
        f[field] = value;
        line = f[0] + " " + f[1] + " " + f[2] + " " + f[3] + " " + f[4];
      }
      out += line + "\n";
    }
    return out;
  };
  const result_line& row = lines[1];
  const std::string snps = std::to_string(row.loci[0]) + " " + std::to_string(row.loci[1]);
  const std::string not_computed = "; it was not computed from these genotype files with [ALPHA_RF] ";
  const std::string other_chisq = row.chisq.substr(0, row.chisq.size() - 1) + (row.chisq.back() == '1' ? "2" : "1");
  const struct {
    const char* name;
    std::string result, params;
    bool other_genotypes;
    std::string err;  // the whole message; only its start and end when `err_end` is set
    std::string err_end;
  } cases[] = {
      {"an edited chi_SQ", edited(2, other_chisq), params, false,
       "File VELKResult.txt, line 3: SNPs " + snps + " have chi_SQ " + row.chisq + " and " +
           std::to_string(row.case_major_ct) + " case-major cells here, the result " + other_chisq + " and " +
           std::to_string(row.case_major_ct) + not_computed + "0.05.\n",
       ""},
      {"an edited #Major_cells", edited(4, std::to_string(row.case_major_ct + 1)), params, false,
       "File VELKResult.txt, line 3: SNPs " + snps + " have chi_SQ " + row.chisq + " and " +
           std::to_string(row.case_major_ct) + " case-major cells here, the result " + row.chisq + " and " +
           std::to_string(row.case_major_ct + 1) + not_computed + "0.05.\n",
       ""},
      {"an edited P_value", edited(3, "0.5"), params, false,
       "File VELKResult.txt, line 3: chi_SQ " + row.chisq + " has the P_value " + row.p_value + ", not 0.5.\n", ""},
      {"indices out of order", edited(0, "7"), params, false,
       "File VELKResult.txt, line 3: the SNP indices are not in ascending order.\n", ""},
      {"a row of another width", result + "0 1 2 " + row.chisq + " " + row.p_value + " 0\n", params, false,
       "File VELKResult.txt, line 8: 3 SNP indices where line 2 has 2.\n", ""},
      {"another [ALPHA_RF]", result, "[DISEASEN]\t2\n[ALPHA_RF]\t0.2\n", false, "File VELKResult.txt, line ",
       not_computed + "0.2.\n"},
      {"other genotype files", result, params, true, "File VELKResult.txt, line ", not_computed + "0.05.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    write_study(dir, c.other_genotypes ? genotype_study::random(200, 8, 8) : s, 8, 4, c.params);
    dir.write("VELKResult.txt", c.result);
    const run_result r = dir.run({}, VELK_REPORT_BINARY);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    if (c.err_end.empty()) {
      EXPECT_EQ(r.err, c.err);
    } else {
      EXPECT_EQ(r.err.rfind(c.err, 0), 0u) << r.err;
      ASSERT_GE(r.err.size(), c.err_end.size());
      EXPECT_EQ(r.err.substr(r.err.size() - c.err_end.size()), c.err_end) << r.err;
    }
    for (const char* file : {"VELKcells.tsv", "VELKinteractions.tsv", "VELKsnps.tsv", "VELKReport.html"})
      EXPECT_FALSE(dir.exists(file)) << file;
  }
}

std::string covariate_line(long d, bool ids) {
  char line[96];
  const std::string age = std::isnan(age_of(d)) ? "NA" : std::to_string(static_cast<int>(age_of(d)));
  const std::string id = ids ? "fam" + std::to_string(d) + "\tind" + std::to_string(d) : "x\tx";
  if (std::isnan(pc_of(d))) snprintf(line, sizeof line, "%s %s -9\n", id.c_str(), age.c_str());
  else snprintf(line, sizeof line, "%s %s %.17g\n", id.c_str(), age.c_str(), pc_of(d));
  return line;
}

// VELKinteractions.tsv as the tests of the study's own genotypes and covariates give it,
// and the LD of the SNPs at their places (none in a text file).
std::string expected_interactions(const genotype_study& s, const std::vector<result_line>& lines, long text_snps) {
  std::vector<uint8_t> is_case(s.is_case.begin(), s.is_case.end());
  const std::vector<double> covariates = age_and_pc(s.individuals()).values;
  char* text = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&text, &size);
  write_interactions_header(stream, 2);
  for (const result_line& line : lines) {
    std::vector<std::vector<int8_t>> genotypes;
    std::vector<std::string> snps;
    std::vector<snp_place> places;
    for (long locus : line.loci) {
      genotypes.emplace_back();
      for (long d = 0; d < s.individuals(); ++d) genotypes.back().push_back(static_cast<int8_t>(s.genotypes[d][locus]));
      snps.push_back(snp_name(locus, text_snps));
      places.push_back(locus < text_snps ? snp_place{} : snp_place{"1", 100 * (locus + 1)});
    }
    write_interactions_row(stream, snps, test_interaction(is_case, genotypes, covariates, 2),
                           set_linkage(genotypes, places));
  }
  fclose(stream);
  const std::string out(text, size);
  free(text);
  return out;
}

// The interaction tests of the search's own pairs with covariates, matched by FID and
// IID (lines in another order, one for someone else) or, for a study of text files,
// by order; the same file with one thread and with two.
TEST(Report, InteractionTestsWithCovariates) {
  const genotype_study s = genotype_study::random(300, 8, 21);
  for (const bool fileset : {true, false}) {
    SCOPED_TRACE(fileset ? "fileset" : "text");
    study_dir dir;
    const long text_snps = fileset ? 0 : 8;
    const std::string params = "[DISEASEN]\t2\n[MAXGWPVL]\t1\n[ALPHA_RF]\t0.05\n";
    if (fileset) set_up_study(dir.path(), "s.bed\n", testing::fileset(s, "s", 0, 8), params);
    else set_up_study(dir.path(), "a.txt\n", {{"a.txt", s.text(0, 8)}}, params);
    std::string covariates = "FID\tIID\tage\tpc\n";
    for (long d = 0; d < s.individuals(); ++d) {
      const long who = fileset ? s.individuals() - 1 - d : d;
      covariates += covariate_line(who, fileset);
      if (fileset && d == 100) covariates += "famX indX 1 2\n";
    }
    dir.write("VELKcovariates.txt", covariates);
    ASSERT_EQ(dir.run({"12"}).status, 0);
    const std::vector<result_line> lines = result_lines(dir.read("VELKResult.txt"), 2);
    ASSERT_EQ(lines.size(), 12u);
    long complete = 0;
    for (long d = 0; d < s.individuals(); ++d) complete += !std::isnan(age_of(d)) && !std::isnan(pc_of(d));
    std::string tables[2], snp_tables[2];
    for (int threads = 1; threads <= 2; ++threads) {
      const run_result r = dir.run({}, VELK_REPORT_BINARY, {"OMP_NUM_THREADS=" + std::to_string(threads)});
      EXPECT_EQ(r.status, 0);
      EXPECT_EQ(r.err, "");
      EXPECT_EQ(r.out, written("VELKcovariates.txt: 2 covariates (age pc), all present for " +
                                   std::to_string(complete) + " of the 300 individuals\n",
                               models_line(s, lines, age_and_pc(300))));
      tables[threads - 1] = dir.read("VELKinteractions.tsv");
      snp_tables[threads - 1] = dir.read("VELKsnps.tsv");
    }
    EXPECT_EQ(tables[0], expected_interactions(s, lines, text_snps));
    EXPECT_EQ(tables[1], tables[0]);
    EXPECT_EQ(snp_tables[0], expected_snps(s, lines, text_snps, 0.05, age_and_pc(300)));
    EXPECT_EQ(snp_tables[1], snp_tables[0]);
    // The page names the covariates where it says what the models hold.
    const std::string page = dir.read("VELKReport.html");
    EXPECT_NE(page.find("<tr><th>Covariates</th><td>age, pc</td></tr>"), std::string::npos);
    EXPECT_NE(page.find("beyond its SNPs' main effects and age, pc, by likelihood-ratio tests"), std::string::npos);
    // The page marks the sets whose additive interaction p-value is above 0.05.
    size_t weak = 0;
    std::istringstream rows(tables[0]);
    std::string row;
    std::getline(rows, row);
    while (std::getline(rows, row)) {
      std::vector<std::string> f;
      std::istringstream fields(row);
      for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
      weak += f[5] != "NA" && std::stod(f[5]) > 0.05;
    }
    EXPECT_EQ(occurrences(page, "main effects may explain it"), weak);
  }
}

// Pearson's r² by its textbook formula, over the individuals with both genotypes.
double textbook_r2(const genotype_study& s, long a, long b) {
  double n = 0, mean_a = 0, mean_b = 0;
  for (const std::vector<int>& g : s.genotypes)
    if (g[a] >= 0 && g[b] >= 0) n += 1, mean_a += g[a], mean_b += g[b];
  mean_a /= n;
  mean_b /= n;
  double ab = 0, aa = 0, bb = 0;
  for (const std::vector<int>& g : s.genotypes)
    if (g[a] >= 0 && g[b] >= 0) {
      ab += (g[a] - mean_a) * (g[b] - mean_b);
      aa += (g[a] - mean_a) * (g[a] - mean_a);
      bb += (g[b] - mean_b) * (g[b] - mean_b);
    }
  return ab * ab / (aa * bb);
}

// The LD inside every pair of six SNPs: SNP 3 copies SNP 0 for 9 individuals in 10 (LD
// by r², on another chromosome), SNPs 0 and 1 lie 50 kb apart (LD by distance). A
// study of text files gives no distances.
TEST(Report, LdInsideTheSets) {
  genotype_study s = genotype_study::random(300, 6, 31);
  for (long d = 0; d < s.individuals(); ++d)
    if (d % 10 != 0) s.genotypes[d][3] = s.genotypes[d][0];
  const int chromosome[] = {1, 1, 1, 2, 2, 3};
  const long position[] = {10000, 60000, 500000, 10000, 300000, 5};
  std::string bim;
  for (int k = 0; k < 6; ++k)
    bim += std::to_string(chromosome[k]) + "\trs" + std::to_string(1000 + k) + "\t0\t" + std::to_string(position[k]) +
           "\tA\tG\n";
  for (const bool fileset : {true, false}) {
    SCOPED_TRACE(fileset ? "fileset" : "text");
    study_dir dir;
    const std::string params = "[DISEASEN]\t2\n[MAXGWPVL]\t1\n[ALPHA_RF]\t0.05\n";
    if (fileset) set_up_study(dir.path(), "s.bed\n", {{"s.bed", s.bed(0, 6)}, {"s.bim", bim}, {"s.fam", s.fam()}}, params);
    else set_up_study(dir.path(), "a.txt\n", {{"a.txt", s.text(0, 6)}}, params);
    ASSERT_EQ(dir.run({"15"}).status, 0);
    const std::vector<result_line> lines = result_lines(dir.read("VELKResult.txt"), 2);
    ASSERT_GE(lines.size(), 8u);  // the pairs that beat both their SNPs alone, 0-1 and 0-3 among them
    ASSERT_EQ(dir.run({}, VELK_REPORT_BINARY).status, 0);
    std::istringstream rows(dir.read("VELKinteractions.tsv"));
    std::string row;
    std::getline(rows, row);
    EXPECT_TRUE(row.ends_with("\tNOTE\tMAX_R2\tMIN_DIST")) << row;
    size_t in_ld = 0;
    for (const result_line& line : lines) {
      ASSERT_TRUE(std::getline(rows, row));
      std::vector<std::string> f;
      std::istringstream fields(row);
      for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
      ASSERT_EQ(f.size(), 15u) << row;
      const long a = line.loci[0], b = line.loci[1];
      const double r2 = textbook_r2(s, a, b);
      EXPECT_NEAR(std::stod(f[13]), r2, 1e-5 * r2) << a << " " << b;
      const bool placed = fileset && chromosome[a] == chromosome[b];
      const long distance = std::abs(position[a] - position[b]);
      EXPECT_EQ(f[14], placed ? std::to_string(distance) : "NA") << a << " " << b;
      in_ld += r2 >= 0.2 || (placed && distance < 100000);
    }
    EXPECT_EQ(in_ld, fileset ? 2u : 1u);
    const std::string page = dir.read("VELKReport.html");
    EXPECT_EQ(occurrences(page, "<span class=\"weak\">in LD</span><br>"), in_ld);
    EXPECT_EQ(occurrences(page, "no positions</td>"), fileset ? 0u : lines.size());
  }
}

// Every refusal of VELKcovariates.txt names the file and the line (or column), ends
// with status 1 and leaves no file written.
TEST(Report, RefusesCovariateFiles) {
  const genotype_study s = genotype_study::random(40, 6, 9);
  study_dir by_id, by_order;
  const std::string params = "[DISEASEN]\t2\n[MAXGWPVL]\t1\n[ALPHA_RF]\t0.05\n";
  set_up_study(by_id.path(), "s.bed\n", fileset(s, "s", 0, 6), params);
  set_up_study(by_order.path(), "a.txt\n", {{"a.txt", s.text(0, 6)}}, params);
  for (const study_dir* dir : {&by_id, &by_order}) ASSERT_EQ(dir->run({"3"}).status, 0);
  const auto lines = [](long from, long to, bool ids) {
    std::string out;
    for (long d = from; d < to; ++d) out += covariate_line(d, ids);
    return out;
  };
  const std::string header = "FID IID age pc\n";
  const std::string file = "File VELKcovariates.txt, ";
  const struct {
    const char* name;
    bool ids;
    std::string text, err;
  } cases[] = {
      {"empty", true, "", file + "line 1: the header is not FID, IID and the names of the covariates.\n"},
      {"no FID", true, "IID FID age pc\n" + lines(0, 40, true),
       file + "line 1: the header is not FID, IID and the names of the covariates.\n"},
      {"no covariate", true, "\nFID IID\n", file + "line 2: the header is not FID, IID and the names of the covariates.\n"},
      {"not a number", true, header + lines(0, 3, true) + "fam3 ind3 1O 0.5\n" + lines(4, 40, true),
       file + "line 5: covariate age is \"1O\", not a number (NA or -9 when missing).\n"},
      {"not finite", true, header + lines(0, 3, true) + "fam3 ind3 10 nan\n" + lines(4, 40, true),
       file + "line 5: covariate pc is \"nan\", not a number (NA or -9 when missing).\n"},
      {"fields", true, header + lines(0, 2, true) + "fam2 ind2 33\n" + lines(3, 40, true),
       file + "line 4: found 3 fields, expected 4 (FID, IID and the 2 covariates of the header).\n"},
      {"named twice", true, header + lines(0, 40, true) + lines(2, 3, true),
       file + "line 42: FID fam2, IID ind2 is named twice (first on line 4).\n"},
      {"not named", true, header + lines(0, 7, true) + lines(8, 40, true),
       file + "line 41: the file ends; no line for FID fam7, IID ind7.\n"},
      {"constant", true, "FID IID age pc\n" + std::string("fam0 ind0 NA 1\n") + [&] {
         std::string out;
         for (long d = 1; d < 40; ++d) out += "fam" + std::to_string(d) + " ind" + std::to_string(d) + " 3 " +
                                              std::to_string(d) + "\n";
         return out;
       }(),
       file + "column 3: covariate age is constant over the study's individuals; leave it out.\n"},
      {"fewer lines", false, header + lines(0, 39, false),
       file + "line 41: the file ends after 39 individuals, the study has 40 (a study of text genotype files takes "
              "one line per individual, in its order).\n"},
      {"more lines", false, header + lines(0, 41, false),
       file + "line 42: more individuals than the study's 40 (a study of text genotype files takes one line per "
              "individual, in its order).\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const study_dir& dir = c.ids ? by_id : by_order;
    dir.write("VELKcovariates.txt", c.text);
    const run_result r = dir.run({}, VELK_REPORT_BINARY);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, c.err);
    for (const char* file : {"VELKcells.tsv", "VELKinteractions.tsv", "VELKsnps.tsv", "VELKReport.html"})
      EXPECT_FALSE(dir.exists(file)) << file;
  }
}

TEST(Report, FamilyWisePValuesOnlyFromTheResultsOwnPermutations) {
  const genotype_study s = genotype_study::random(200, 8, 11);
  study_dir dir;
  const std::string params = "[DISEASEN]\t2\n[MAXGWPVL]\t1\n[ALPHA_RF]\t0.05\n";
  write_study(dir, s, 8, 4, params);
  ASSERT_EQ(dir.run({"3"}).status, 0);
  const std::vector<result_line> lines = result_lines(dir.read("VELKResult.txt"), 2);
  ASSERT_EQ(lines.size(), 3u);
  // Without the run's record (an earlier version's folder) the parameter file says
  // which permutations the p-values come from.
  std::filesystem::remove(dir.path() / "VELKrun.json");
  // B = 99: row i reached by i maxima, so the first is at the floor 1/(B+1).
  dir.write("VELKparameters.txt", params + "[PERMUTES]\t99\n[PERMSEED]\t4242\n");
  std::string strata;
  for (int d = 0; d < 200; ++d) strata += d % 3 ? "north\n" : "south\n";
  dir.write("VELKstrata.txt", strata);
  const std::string header = "SNP1\tSNP2\tchi_SQ\tP_value\tFW_P_value\tExceeding\n";
  const auto row = [&](size_t i, const std::string& chisq) {
    const result_line& l = lines[i];
    return std::to_string(l.loci[0]) + "\t" + std::to_string(l.loci[1]) + "\t" + chisq + "\t" + l.p_value +
           "\t0.0" + std::to_string(i + 1) + "\t" + std::to_string(i) + "\n";
  };
  const std::string matching = header + row(0, lines[0].chisq) + row(1, lines[1].chisq) + row(2, lines[2].chisq);
  // The same file with the tail's column, as runs of B >= 99 write it.
  const auto with_tail = [](const std::string& file, const std::vector<std::string>& tails) {
    std::istringstream in(file);
    std::string out, line;
    for (size_t i = 0; std::getline(in, line); ++i) out += line + "\t" + (i == 0 ? "FW_P_tail" : tails[i - 1]) + "\n";
    return out;
  };
  const struct {
    const char* name;
    std::optional<std::string> permutations;
    std::string err;
  } cases[] = {
      {"absent", {}, ""},
      {"matching", matching, ""},
      {"matching, with a tail", with_tail(matching, {"2.71e-05", "0.0183", "NA"}), ""},
      {"another chi_SQ", header + row(0, lines[0].chisq) + row(1, lines[0].chisq) + row(2, lines[2].chisq),
       "Warning: VELKpermutations.txt, line 3: not the SNPs and chi_SQ of VELKResult.txt, line 3; the family-wise "
       "p-values are left out.\n"},
      {"fewer sets", header + row(0, lines[0].chisq),
       "Warning: VELKpermutations.txt holds 1 sets, VELKResult.txt 3; the family-wise p-values are left out.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir.path() / "VELKpermutations.txt");
    if (c.permutations) dir.write("VELKpermutations.txt", *c.permutations);
    const run_result r = dir.run({}, VELK_REPORT_BINARY);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, written(kNoCovariates, models_line(s, lines, {})));
    const std::string page = dir.read("VELKReport.html");
    const bool shown = std::string(c.name).starts_with("matching");
    const bool tail = c.name == std::string("matching, with a tail");
    EXPECT_EQ(page.find(">\u2264 0.01; tail \u2248 3e-05<") != std::string::npos, tail);
    EXPECT_EQ(page.find(">0.02; tail \u2248 0.02<") != std::string::npos, tail);
    EXPECT_EQ(page.find("&ldquo;tail &asymp;&rdquo;") != std::string::npos, tail);
    // The p-values, the first at its floor; B, the seed and the strata beside them.
    for (const char* part : {"<th class=\"num\">family-wise p-value</th>", ">\u2264 0.01", ">0.02", ">0.03<",
                             "Permutations B ([PERMUTES])</th><td class=\"num\">99<",
                             "[PERMSEED]</th><td class=\"num\">4242<", "Strata permuted within</th><td class=\"num\">2<"})
      EXPECT_EQ(page.find(part) != std::string::npos, shown) << part;
    // The result's own P_value is named for what it is, with or without them.
    EXPECT_NE(page.find("P_value (chi-square tail)"), std::string::npos);
  }
}

// The browser on the PATH, or empty.
std::string find_chromium() {
  const char* path = getenv("PATH");
  std::istringstream folders(path == nullptr ? "" : path);
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = folder + "/chromium";
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return "";
}

// Two browser launches: more sets than get pictures, and the largest pictures, with
// every column (family-wise p-values too); and a third that measures the page of
// quadruples in a window 1,400 px wide, which it must fit without scrolling sideways.
TEST(Report, PageRendersInChromium) {
  const std::string chromium = find_chromium();
  if (chromium.empty()) GTEST_SKIP() << "chromium is not installed (scripts/install-deps installs it)";
  const struct {
    int order;
    long snps;
    const char* top_k;
    size_t pictures;
    const char* permutations;
  } cases[] = {{2, 30, "230", 200, ""}, {4, 10, "4", 4, "[PERMUTES]\t9\n[PERMSEED]\t3\n"}};
  for (const auto& c : cases) {
    SCOPED_TRACE("order " + std::to_string(c.order));
    const genotype_study s = genotype_study::random(200, c.snps, 5);
    study_dir dir;
    write_study(dir, s, c.snps, c.snps / 2,
                "[DISEASEN]\t" + std::to_string(c.order) + "\n[MULFACTR]\t5\n[MAXGWPVL]\t1\n[ALPHA_RF]\t0.05\n" +
                    c.permutations);
    ASSERT_EQ(dir.run({c.top_k}).status, 0);
    ASSERT_EQ(result_lines(dir.read("VELKResult.txt"), c.order).size(), std::stoul(c.top_k));
    ASSERT_EQ(dir.run({}, VELK_REPORT_BINARY).status, 0);
    const std::filesystem::path profile = dir.path().parent_path() / "chromium-profile";
    const auto render = [&](const std::string& page, const std::string& width) {
      return dir.run({"--headless", "--no-sandbox", "--disable-gpu", "--no-first-run",
                      "--disable-background-networking", "--disable-component-update", "--disable-sync",
                      "--user-data-dir=" + profile.string(), "--enable-logging=stderr", "--window-size=" + width + ",1000",
                      "--dump-dom", "file://" + (dir.path() / page).string()},
                     chromium);
    };
    const run_result r = render("VELKReport.html", "1400");
    EXPECT_EQ(r.status, 0) << r.err;
    // A console message (a script's, an SVG attribute the browser rejects, a blocked
    // fetch) is logged as ":CONSOLE(" or ":CONSOLE:".
    EXPECT_EQ(r.err.find(":CONSOLE"), std::string::npos) << r.err;
    EXPECT_EQ(occurrences(r.out, "<svg class=\"cells\""), c.pictures);
    EXPECT_EQ(occurrences(r.out, "<svg class=\"legend\""), 1u);
    if (c.order != 4) continue;
    EXPECT_NE(r.out.find("family-wise p-value</th>"), std::string::npos);
    // The page holds no script; a copy with one puts the page's width and the window's
    // in the title once laid out.
    std::string measured = dir.read("VELKReport.html");
    measured.replace(measured.rfind("</body>"), 7,
                     "<script>addEventListener('load', () => { document.title = 'width ' + "
                     "document.documentElement.scrollWidth + ' of ' + document.documentElement.clientWidth; "
                     "});</script></body>");
    dir.write("measured.html", measured);
    const run_result m = render("measured.html", "1400");
    EXPECT_EQ(m.status, 0) << m.err;
    const size_t title = m.out.find("<title>width ");
    ASSERT_NE(title, std::string::npos) << m.out.substr(0, 400);
    long page_width = 0, window_width = 0;
    ASSERT_EQ(sscanf(m.out.c_str() + title, "<title>width %ld of %ld", &page_width, &window_width), 2);
    EXPECT_GT(window_width, 1300);  // the window's 1,400 px, less a scroll bar
    EXPECT_LE(page_width, window_width);
  }
}

}  // namespace
}  // namespace velk::testing
