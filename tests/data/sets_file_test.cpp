// The sets file: what it reads, and each way it is refused.
#include "data/sets_file.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace velk::testing {
namespace {

TEST(SetsFile, ReadsAndRefuses) {
  const std::map<std::string, long, std::less<>> study = {{"rs1", 0}, {"rs2", 1}, {"a.txt:3", 2}, {"rs4", 3}};
  const auto index_of = [&study](std::string_view name) {
    const auto found = study.find(name);
    return found == study.end() ? -1L : found->second;
  };
  const struct {
    const char* name;
    std::string text;
    std::string err;  // empty when read
    std::vector<std::vector<int>> snps;
  } cases[] = {
      {"two sets sharing a SNP, CRLF and blank lines", "GENE1\r\nrs4\r\nrs1\r\nrs4\r\nEND\r\n\r\nGENE2\n  a.txt:3\nrs1\nEND\n",
       "", {{0, 3}, {0, 2}}},
      {"tokens on one line", "G rs2 rs1 END", "", {{0, 1}}},
      {"a SNP not in the study", "G\nrs1\nrs9\nEND\n", "File VELKsets.txt, line 3: SNP rs9 of set G is not in the study.\n",
       {}},
      {"no END", "G\nrs1\nEND\nH\nrs2\n", "File VELKsets.txt, line 4: set H has no END.\n", {}},
      {"an empty set", "G\nEND\n", "File VELKsets.txt, line 1: set G holds no SNP.\n", {}},
      {"a set named twice", "G\nrs1\nEND\nG\nrs2\nEND\n",
       "File VELKsets.txt, line 4: set G is named twice (first on line 1).\n", {}},
      {"no set", "\n \n", "File VELKsets.txt holds no set.\n", {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<snp_set> sets;
    const status read = parse_sets_file(c.text, kSetsFileName, index_of, sets);
    EXPECT_EQ(read.message, c.err);
    if (!c.err.empty()) {
      EXPECT_EQ(read.code, status_code::input_error);
      continue;
    }
    std::vector<std::vector<int>> snps;
    for (const snp_set& s : sets) snps.push_back(s.snps);
    EXPECT_EQ(snps, c.snps);
  }
}

}  // namespace
}  // namespace velk::testing
