// Reading the parameter file into the search model.
#include <gtest/gtest.h>

#include <climits>

#include "e2e.h"
#include "search/search_model.h"

namespace velk {
namespace {

struct parameters {
  int order = 0;
  int level_factor = 0;
  double corrected_p_bound = 0;
  double raw_p_bound = 0;
  double tail_level = 0;
  bool operator==(const parameters&) const = default;
};

std::ostream& operator<<(std::ostream& out, const parameters& v) {
  return out << "{" << v.order << ", " << v.level_factor << ", " << v.corrected_p_bound << ", " << v.raw_p_bound << ", "
             << v.tail_level << "}";
}

parameters load(const std::string& text) {
  testing::study_dir dir;
  dir.write("VELKparameters.txt", text);
  search_parameters read;
  EXPECT_TRUE(read_parameters((dir.path() / "VELKparameters.txt").c_str(), read).ok());
  return {read.order, read.level_factor, read.corrected_p_bound, read.raw_p_bound, read.tail_level};
}

TEST(Parameters, ReadsEachKey) {
  const std::string pad(999, 'x');
  const struct {
    std::string text;
    parameters expected;
  } cases[] = {
      {"[DISEASEN]\t3\n[MULFACTR]\t10\n[MAX_PVAL]\t0.1\n[MAXGWPVL]\t1e-6\n[ALPHA_RF]\t0.05\n",
       {3, 10, 0.1, 1e-6, 0.05}},
      {"", {}},
      {"[DISEASEN] 2\n", {.order = 2}},
      {"[MULFACTR] 7\n", {.level_factor = 7}},
      {"[MAX_PVAL] 0.25\n", {.corrected_p_bound = 0.25}},
      {"[MAXGWPVL] 2.5e-8\n", {.raw_p_bound = 2.5e-8}},
      {"[ALPHA_RF] 0.3", {.tail_level = 0.3}},  // no line feed at the end
      // The last occurrence wins, also when its value does not parse.
      {"[DISEASEN] 2\n[MULFACTR] 3\n[DISEASEN] 4\n", {.order = 4, .level_factor = 3}},
      {"[MAX_PVAL] 0.1\n[MAX_PVAL] none\n", {}},
      // Signs, leading decimal points and values right after the key.
      {"[MAX_PVAL] .05\n[ALPHA_RF]\t.5\n", {.corrected_p_bound = 0.05, .tail_level = 0.5}},
      {"[DISEASEN] -1\n[MULFACTR] -3\n[MAXGWPVL] -1\n", {-1, -3, 0, -1, 0}},
      {"[DISEASEN]3\n[MAXGWPVL]0.5\n[MAX_PVAL]-2e-3\n", {.order = 3, .corrected_p_bound = -2e-3, .raw_p_bound = 0.5}},
      {"[DISEASEN] \t \t2\n", {.order = 2}},
      {"[DISEASEN] 3.9\n[MULFACTR] 12abc\n", {.order = 3, .level_factor = 12}},
      {"[DISEASEN] 0x10\n[MULFACTR] 010\n", {.order = 0, .level_factor = 10}},  // base 10 only
      {"[DISEASEN] 2\r\n[ALPHA_RF] 0.05\r\n", {.order = 2, .tail_level = 0.05}},
      {"[DISEASEN] =3\n[DISEASEN]X 3\n", {}},
      // Integers beyond the int range are clamped to it.
      {"[DISEASEN] 4294967298\n[MULFACTR] -4294967298\n", {.order = INT_MAX, .level_factor = INT_MIN}},
      {"[MULFACTR] 99999999999999999999999\n", {.level_factor = INT_MAX}},
      // Only a key in the first column counts.
      {" [DISEASEN] 3\n\t[MULFACTR] 2\n[diseasen] 3\nx[ALPHA_RF] 0.1\n", {}},
      {"# comment [DISEASEN] 3\n\n[MAX_PVAL]\n", {}},
      // Lines are read in pieces of at most 999 characters.
      {pad + "[DISEASEN] 3\n", {.order = 3}},
      {pad.substr(1) + "[DISEASEN] 3\n", {}},
      {"[DISEASEN]" + std::string(988, ' ') + "3\n", {.order = 3}},
      {"[DISEASEN]" + std::string(989, ' ') + "3\n", {}},
      {pad + pad + pad + "\n[MULFACTR] 5\n", {.level_factor = 5}},
  };
  for (const auto& c : cases) EXPECT_EQ(load(c.text), c.expected) << c.text.substr(0, 120);
}

TEST(Parameters, MissingFileIsReported) {
  testing::study_dir dir;
  const std::string path = (dir.path() / "no such file.txt").string();
  search_parameters read;
  const status opened = read_parameters(path.c_str(), read);
  EXPECT_EQ(opened.code, status_code::input_error);
  EXPECT_EQ(opened.message, "Cannot open the parameter file \"" + path + "\"\n");
  EXPECT_EQ(read.order, 0);
}

}  // namespace
}  // namespace velk
