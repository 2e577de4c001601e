// Which sets of SNPs a search may offer, when the parameters restrict them: the sets of
// VELKsets.txt ([SETSRULE] 1: sets that hold a listed SNP; 2: sets across the file's
// sets, all of whose SNPs are listed and none of whose sets holds them all) and a least
// distance between two SNPs of one chromosome ([MINDISTB]). Everything else about a
// search stays as it is: the rules only decide which candidates may be offered.
#pragma once

#include <cstdint>
#include <vector>

namespace velk {

struct set_rules {
  int rule = 0;                          // [SETSRULE]: 0 every set, 1 set-by-all, 2 set-by-set
  long long min_distance = 0;            // [MINDISTB]: 0 for none
  int order = 0;                         // the order of the sets the search reports
  std::vector<uint8_t> listed;           // per SNP: in a set of the file
  std::vector<std::vector<int>> sets_of; // per SNP: the file's sets that hold it, ascending
  std::vector<int> chromosome;           // per SNP: its chromosome code's number, -1 for none
  std::vector<long long> position;       // per SNP: its base-pair position
};

inline bool rules_active(const set_rules& rules) { return rules.rule != 0 || rules.min_distance > 0; }

// Whether the `k` SNPs at `snps` (ascending) may stand in the search. At the reported
// order: whether the set is allowed. Below it (the greedy levels of orders 3 and 4):
// whether some set of the reported order that holds them can be allowed, that is none
// of their SNPs are too close and, under rule 2, all are listed.
bool set_allowed(const set_rules& rules, const int64_t* snps, int k);

// The number of sets of the reported order that the rules allow among `snp_ct` SNPs:
// what the corrected p-value counts. Exact; by formula where one is simple, else by
// enumeration on every thread.
double allowed_set_count(const set_rules& rules, int snp_ct);

}  // namespace velk
