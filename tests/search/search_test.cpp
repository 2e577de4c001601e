// End-to-end runs of the search for one to four disease loci: the results, the level
// lists, the final filter, and how bad configurations and degenerate studies end.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>

#include "e2e.h"
#include "search/reference_search.h"

namespace velk::testing {
namespace {

using reference::searcher;
using reference::settings;
using reference::study;

const std::string kHeader = "Loci\tchi_SQ\tP_value\t#Major_cells\n";
const std::string kCannotAlloc = "Cannot alloc memory for top_k_list!\n";
const std::string kNoLoci = "Please Input the number of disease loci of the model before!\n";
const std::string kAtMostFour = "The number of disease loci is at most 4!\n";
const std::string kInverseDomain = "Numerical error: Domain error in InvChiSquareDistribution\n";
const std::string kNotExhaustive = "The value of [EXHAUSTV] must be 0 or 1!\n";

// A study written column by column: '1' a case, '0' a control; a genotype digit, or
// '9' for a missing genotype.
study from_columns(const std::string& status, const std::vector<std::string>& snps) {
  study data;
  for (char c : status) data.status.push_back(c - '0');
  for (const std::string& column : snps) {
    data.genotype.emplace_back();
    for (char c : column) data.genotype.back().push_back(c - '0');
  }
  return data;
}

// Ten individuals, three SNPs. Alone, SNP 0 scores 7.333333333333334 (table 4,0/1,2/0,3),
// SNP 1 scores 0 and SNP 2 scores 3.6; the pairs score 2.5, 7.333333333333334 and 4.0.
study worked() { return from_columns("1111100000", {"2222100011", "0120101201", "1111000001"}); }

// Thirty individuals, six SNPs, with missing genotypes; searched for triples.
study triples() {
  return from_columns("010011100000001000100110110010",
                      {"000022202020002100200020290000", "112020010010012011100111112100",
                       "020092200002000000200220022020", "101021211111111111111111121121",
                       "191291902111121010112122210111", "011011101190112209110109211010"});
}

// Thirty individuals, six SNPs, with missing genotypes; searched for quadruples.
study quadruples() {
  return from_columns("011011111110000110011001100100",
                      {"101111219012010112011100111012", "000000200000009000100022000012",
                       "010000022012001009010100202220", "220202202290200020022220200210",
                       "001220290090902202000000900091", "020022202220020222222010002202"});
}

struct outcome {
  run_result run;
  std::optional<std::string> result;  // the result file, when there is one
};

outcome run_velk(const study& data, const std::optional<std::string>& parameters, const std::string& top_k) {
  study_dir dir;
  reference::write_study(dir, data);
  if (parameters) dir.write("VELKparameters.txt", *parameters);
  outcome o{dir.run({top_k}), std::nullopt};
  if (dir.exists("VELKResult.txt")) o.result = dir.read("VELKResult.txt");
  return o;
}

// Runs the binary and the reference on the same study and settings; both must agree
// with each other and with the rows expected.
void expect_search(const study& data, const settings& cfg, const std::string& rows) {
  searcher ref(data, cfg);
  ref.run();
  EXPECT_EQ(ref.result_file(), kHeader + rows) << "the reference disagrees";
  const outcome o = run_velk(data, reference::parameter_file(cfg), std::to_string(cfg.top_k));
  EXPECT_EQ(o.run.status, 0);
  EXPECT_EQ(without_advice(o.run.err), "");
  EXPECT_EQ(without_banner(o.run.out), ref.console());
  EXPECT_EQ(o.result, kHeader + rows);
}

TEST(Search, WorkedRunForOneAndTwoLoci) {
  settings one{.order = 1, .top_k = 5};
  expect_search(worked(), one, "0 7.333333 0.0255615 1\n");
  // The pair (0, 2) only equals SNP 0 alone, and (0, 1) lies below the bound.
  settings two{.order = 2, .top_k = 5, .raw_p_bound = 0.2};
  expect_search(worked(), two, "1 2 4.000000 0.135335 1\n");
}

TEST(Search, TriplesAndQuadruples) {
  expect_search(triples(), {.order = 3, .top_k = 3, .level_factor = 2, .alpha = 0.1},
                "1 2 5 18.516746 9.53102e-05 2\n"
                "0 1 2 18.255763 0.000108595 3\n"
                "0 2 5 17.559809 0.000153793 3\n");
  // Equal statistics: the set with fewer case-major cells ranks first.
  expect_search(quadruples(), {.order = 4, .top_k = 3, .level_factor = 3, .alpha = 0.1},
                "1 3 4 5 13.928571 0.000945038 1\n"
                "2 3 4 5 13.928571 0.000945038 4\n"
                "0 3 4 5 13.455882 0.00119699 3\n");
}

TEST(Search, TiesInStatisticAndCaseMajorCount) {
  // SNP 0 has the table of SNP 1 (4,0/1,2/0,3) from two case-major cells of two cases
  // each and a missing genotype; SNP 2 copies SNP 1. Fewer case-major cells rank first;
  // a full list refuses a node tied with its root; tied rows come out in descending heap
  // position, which the sift rules decide.
  const study ties = from_columns("1111100000", {"0011922299", "2222100011", "2222100011"});
  const struct {
    int top_k;
    std::string rows;
  } cases[] = {
      {1, "1 7.333333 0.0255615 1\n"},
      {2, "1 7.333333 0.0255615 1\n2 7.333333 0.0255615 1\n"},
      {3, "2 7.333333 0.0255615 1\n1 7.333333 0.0255615 1\n0 7.333333 0.0255615 2\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.top_k);
    expect_search(ties, {.order = 1, .top_k = c.top_k}, c.rows);
  }
}

// Studies in which a candidate meets one of the search's tests with equality.
TEST(Search, CandidatesOnTheEdgeOfTheirTests) {
  const struct {
    const char* what;
    study data;
    settings cfg;
    std::string rows;
  } cases[] = {
      // [0, 2, 4] equals the root [0, 2, 3] of the full triple list, and so the running
      // bound, with one case-major cell fewer: it is offered and replaces the root.
      {"triple equal to the running bound",
       from_columns("01110101000001100000", {"02201202000100200000", "00000000120001000000", "20001010222202001202",
                                             "00000202020020000002", "01100101001000100011", "01220200000000000212"}),
       {.order = 3, .top_k = 2, .level_factor = 1, .alpha = 0.1, .raw_p_bound = 1},
       "0 1 2 13.162393 0.00138619 1\n0 2 4 12.807193 0.00165559 1\n"},
      // Triples with SNP 3 score exactly SNP 3's own statistic and stay out.
      {"triple equal to its added SNP alone",
       from_columns("0110001110110100", {"0200000000000100", "0200000000000100", "0100001200000000", "1220112210221211",
                                         "1110021111110111", "2220202221220201"}),
       {.order = 3, .top_k = 3, .level_factor = 3, .alpha = 0.2, .raw_p_bound = 1},
       "1 2 5 10.666667 0.00482795 1\n0 2 5 10.666667 0.00482795 1\n"},
      // (2, 3) equals the root (1, 3) of the full pair list with one case-major cell fewer.
      {"pair equal to the running bound",
       from_columns("01001011111110101",
                    {"20222090200200220", "00200020022202012", "00900920000002020", "12002002222211211"}),
       {.order = 2, .top_k = 2, .level_factor = 3, .alpha = 0.1, .raw_p_bound = 1},
       "0 3 11.745455 0.00281519 2\n2 3 9.493506 0.00867983 1\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    expect_search(c.data, c.cfg, c.rows);
  }
}

TEST(Search, LevelListsStayEmptyWithoutMulfactr) {
  for (int order : {3, 4}) {
    const outcome o = run_velk(triples(), "[DISEASEN] " + std::to_string(order) + "\n[ALPHA_RF] 0.1\n", "5");
    EXPECT_EQ(o.run.status, 0);
    EXPECT_EQ(o.result, kHeader);
    std::vector<int> completed{2};
    if (order == 4) completed.push_back(3);
    EXPECT_EQ(without_banner(o.run.out), reference::console_text(triples(), completed));
  }
}

// The level nodes of the triple search with their raw p-values, and the number of
// triples among six SNPs.
struct filter_case {
  settings cfg{.order = 3, .top_k = 40, .level_factor = 1, .alpha = 0.1};
  std::vector<double> raw;
  double sets = 20;
  filter_case() {
    searcher ref(triples(), cfg);
    ref.run();
    for (const reference::node& x : ref.level.nodes) raw.push_back(alglib::chisquarecdistribution(2, x.chisq));
    std::sort(raw.begin(), raw.end());
  }
  // Rows of a run with these bounds: a node passes on either bound, including equality.
  size_t rows(double corrected_p_bound, double raw_p_bound) {
    settings c = cfg;
    c.corrected_p_bound = corrected_p_bound;
    c.raw_p_bound = raw_p_bound;
    size_t passing = 0;
    for (double q : raw) passing += q <= raw_p_bound || q * sets <= corrected_p_bound;
    searcher ref(triples(), c);
    ref.run();
    const outcome o = run_velk(triples(), reference::parameter_file(c), "40");
    EXPECT_EQ(o.run.status, 0);
    EXPECT_EQ(o.result, ref.result_file());
    EXPECT_EQ(ref.result.count(), static_cast<int>(passing));
    return o.result ? std::count(o.result->begin(), o.result->end(), '\n') - 1 : 0;
  }
};

TEST(Search, FinalFilterRawBoundPassesWhateverTheCorrectedValue) {
  filter_case f;
  ASSERT_GE(f.raw.size(), 4u);
  const double q = f.raw[f.raw.size() / 2];
  const size_t at_or_below = std::upper_bound(f.raw.begin(), f.raw.end(), q) - f.raw.begin();
  ASSERT_LT(at_or_below, f.raw.size());
  // A corrected bound no triple can meet; the raw bound alone lets them through.
  EXPECT_EQ(f.rows(1e-300, q), at_or_below);
  EXPECT_EQ(f.rows(1e-300, std::nextafter(q, 0.0)), at_or_below - 1);
}

TEST(Search, FinalFilterCorrectedValueEqualToTheBoundPasses) {
  filter_case f;
  ASSERT_GE(f.raw.size(), 4u);
  const double q = f.raw[f.raw.size() / 2];
  const size_t at_or_below = std::upper_bound(f.raw.begin(), f.raw.end(), q) - f.raw.begin();
  EXPECT_EQ(f.rows(q * f.sets, 0), at_or_below);
  EXPECT_EQ(f.rows(std::nextafter(q * f.sets, 0.0), 0), at_or_below - 1);
}

TEST(Search, SingleLocusEqualToTheCorrectedBoundEnters) {
  // A raw bound whose inverse is exactly SNP 0's statistic, and one just below it.
  const double s = 7.333333333333334;
  const double y = alglib::chisquarecdistribution(2, s);
  ASSERT_EQ(alglib::invchisquaredistribution(2, y), s);
  double stricter = y;
  while (alglib::invchisquaredistribution(2, stricter) <= s) stricter = std::nextafter(stricter, 0.0);
  expect_search(worked(), {.order = 1, .top_k = 5, .corrected_p_bound = 1e-10, .raw_p_bound = y},
                "0 7.333333 0.0255615 1\n");
  expect_search(worked(), {.order = 1, .top_k = 5, .corrected_p_bound = 1e-10, .raw_p_bound = stricter}, "");
}

// Runs that complete although something about them is unusual.
TEST(Search, UnusualConfigurationsThatComplete) {
  const struct {
    const char* what;
    study data;
    std::string parameters;
    std::string top_k;
    std::vector<int> completed;
    std::string rows;
  } cases[] = {
      {"value right after the key", worked(), "[DISEASEN]1\n[ALPHA_RF]0.05\n", "5", {}, "0 7.333333 0.0255615 1\n"},
      {"raw bound right after the key", worked(), "[DISEASEN] 2\n[ALPHA_RF] 0.05\n[MAXGWPVL]0.5\n", "5", {},
       "1 2 4.000000 0.135335 1\n"},
      // .2 gives a bound of 5.42: SNP 2 (3.6) stays out; read as 2 it would enter.
      {"decimal without a leading zero", worked(), "[DISEASEN] 1\n[ALPHA_RF] .05\n[MAX_PVAL] .2\n", "5", {},
       "0 7.333333 0.0255615 1\n"},
      {"last occurrence of the order wins", worked(), "[DISEASEN] 7\n[ALPHA_RF] 0.05\n[DISEASEN] 1\n", "5", {},
       "0 7.333333 0.0255615 1\n"},
      {"level multiplier unused for pairs", worked(),
       "[DISEASEN] 2\n[MULFACTR] 2147483647\n[ALPHA_RF] 0.05\n[MAXGWPVL] 0.2\n", "5", {}, "1 2 4.000000 0.135335 1\n"},
      {"bound argument 0: infinite bound", worked(), "[DISEASEN] 1\n[ALPHA_RF] 0.05\n[MAX_PVAL] 4.9e-324\n", "5", {},
       ""},
      {"bound argument -0: infinite bound", worked(), "[DISEASEN] 2\n[ALPHA_RF] 0.05\n[MAX_PVAL] -4.9e-324\n", "5", {},
       ""},
      {"final list of capacity 0, one locus", worked(), "[DISEASEN] 1\n[ALPHA_RF] 0.05\n", "0", {}, ""},
      {"final list of capacity 0, two loci", worked(), "[DISEASEN] 2\n[ALPHA_RF] 0.05\n[MAXGWPVL] 1\n", "0", {}, ""},
      {"level lists of capacity 0", triples(), "[DISEASEN] 3\n[MULFACTR] 4\n[ALPHA_RF] 0.1\n[MAXGWPVL] 1\n", "0",
       {2}, ""},
      {"triples from two SNPs", from_columns("1111100000", {"2222100011", "1111000001"}),
       "[DISEASEN] 3\n[MULFACTR] 4\n[ALPHA_RF] 0.05\n[MAXGWPVL] 1\n", "5", {2}, ""},
      {"triples from one SNP", from_columns("1111100000", {"2222100011"}),
       "[DISEASEN] 3\n[MULFACTR] 4\n[ALPHA_RF] 0.05\n", "5", {2}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const outcome o = run_velk(c.data, c.parameters, c.top_k);
    EXPECT_EQ(o.run.status, 0);
    EXPECT_EQ(without_advice(o.run.err), "");
    EXPECT_EQ(without_banner(o.run.out), reference::console_text(c.data, c.completed));
    EXPECT_EQ(o.result, kHeader + c.rows);
  }
}

// The case made for [EXHAUSTV]: 2000 individuals, 200 SNPs, cases at risk 0.65 when the
// genotypes of SNPs 17, 88 and 150 add up to an odd number and 0.35 otherwise, so that
// no SNP and no pair of them carries a signal. The greedy levels never extend a pair
// of them and report noise; the exhaustive search reports the triple first.
TEST(Search, AParityTripleIsFoundOnlyByTheExhaustiveSearch) {
  study data;
  uint64_t state = 17;
  const auto unit = [&state] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<double>(state >> 11) * 0x1p-53;
  };
  data.genotype.assign(200, std::vector<int>(2000));
  for (int d = 0; d < 2000; ++d) {
    for (auto& snp : data.genotype) {
      const double u = unit();
      snp[d] = u < 0.25 ? 0 : u < 0.75 ? 1 : 2;
    }
    const bool odd = (data.genotype[17][d] + data.genotype[88][d] + data.genotype[150][d]) % 2 == 1;
    data.status.push_back(unit() < (odd ? 0.65 : 0.35) ? 1 : 0);
  }
  const std::string greedy = "[DISEASEN]\t3\n[MULFACTR]\t10\n[ALPHA_RF]\t0.05\n";
  const outcome missed = run_velk(data, greedy, "10");
  const outcome found = run_velk(data, greedy + "[EXHAUSTV]\t1\n", "10");
  ASSERT_EQ(missed.run.status, 0);
  ASSERT_EQ(found.run.status, 0);
  EXPECT_EQ(missed.result->find("17 88 150 "), std::string::npos) << *missed.result;
  EXPECT_EQ(found.result->substr(kHeader.size(), 10), "17 88 150 ") << *found.result;
  EXPECT_NE(found.run.out.find("\t All 3-locus sets searched!\n"), std::string::npos);
  EXPECT_EQ(found.run.out.find("loci interaction detecting completed"), std::string::npos);
}

// Runs that end before writing a result: status 255, the message, no result file and no
// time line.
TEST(Search, FailuresEndWithoutResult) {
  const study one_snp = from_columns("1111100000", {"2222100011"});
  const struct {
    const char* what;
    study data;
    std::optional<std::string> parameters;
    std::string top_k;
    std::string err;
  } cases[] = {
      {"no parameter file", worked(), std::nullopt, "5",
       "Cannot open the parameter file \"VELKparameters.txt\"\n" + kNoLoci},
      {"order absent", worked(), "[ALPHA_RF] 0.05\n", "5", kNoLoci},
      {"negative order", worked(), "[DISEASEN] -1\n", "5", kNoLoci},
      {"order 0 before a negative top_k", worked(), "[DISEASEN] 0\n", "-1", kNoLoci},
      {"order 5 before a negative top_k", worked(), "[DISEASEN] 5\n", "-1", kAtMostFour},
      {"order beyond int clamps", worked(), "[DISEASEN] 4294967298\n", "5", kAtMostFour},
      {"last occurrence of the order counts", worked(), "[DISEASEN] 3\n[MULFACTR] 2\n[DISEASEN] 7\n", "5",
       kAtMostFour},
      {"exhaustive 2", worked(), "[DISEASEN] 3\n[EXHAUSTV] 2\n", "5", kNotExhaustive},
      {"exhaustive -1, at order 1", worked(), "[DISEASEN] 1\n[EXHAUSTV] -1\n", "5", kNotExhaustive},
      {"order 5 before the exhaustive value", worked(), "[DISEASEN] 5\n[EXHAUSTV] 2\n", "5", kAtMostFour},
      {"exhaustive value before the lists", worked(), "[DISEASEN] 3\n[MULFACTR] -1\n[EXHAUSTV] 7\n", "-1",
       kNotExhaustive},
      {"negative top_k", worked(), "[DISEASEN] 1\n", "-1", kCannotAlloc},
      {"top_k beyond int", worked(), "[DISEASEN] 2\n", "4294967296", kCannotAlloc},
      {"top_k beyond int, wrapping to 1", worked(), "[DISEASEN] 1\n", "4294967297", kCannotAlloc},
      {"negative top_k with level lists", worked(), "[DISEASEN] 3\n[MULFACTR] -1\n", "-1", kCannotAlloc},
      {"negative level capacity", worked(), "[DISEASEN] 3\n[MULFACTR] -1\n", "5", kCannotAlloc},
      {"level capacity 2^32", worked(), "[DISEASEN] 3\n[MULFACTR] 65536\n", "65536", kCannotAlloc},
      {"level capacity beyond int", worked(), "[DISEASEN] 4\n[MULFACTR] 2147483647\n", "2", kCannotAlloc},
      {"one locus among one SNP", one_snp, "[DISEASEN] 1\n[ALPHA_RF] 0.05\n", "5", kInverseDomain},
      {"two loci among one SNP", one_snp, "[DISEASEN] 2\n[ALPHA_RF] 0.05\n", "5", kInverseDomain},
      {"corrected bound above 1", worked(), "[DISEASEN] 1\n[MAX_PVAL] 5\n", "5", kInverseDomain},
      {"negative corrected bound", worked(), "[DISEASEN] 2\n[MAX_PVAL] -1\n", "5", kInverseDomain},
      {"raw bound above 1", worked(), "[DISEASEN] 2\n[MAXGWPVL] 1.5\n", "5", kInverseDomain},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const outcome o = run_velk(c.data, c.parameters, c.top_k);
    EXPECT_EQ(o.run.status, 255);
    EXPECT_EQ(without_advice(o.run.err), c.err);
    EXPECT_EQ(without_banner(o.run.out), reference::opening_text(c.data));
    EXPECT_FALSE(o.result.has_value());
  }
}

}  // namespace
}  // namespace velk::testing
