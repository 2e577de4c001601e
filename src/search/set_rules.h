// Which sets of SNPs a search may offer, when the parameters restrict them: the sets of
// VELKsets.txt ([SETSRULE] 1: sets that hold a listed SNP; 2: sets across the file's
// sets, all of whose SNPs are listed and none of whose sets holds them all) and a least
// distance between two SNPs of one chromosome ([MINDISTB]). Everything else about a
// search stays as it is: the rules only decide which candidates may be offered.
#pragma once

#include <cstdint>
#include <vector>

#include "data/genotype_store.h"  // kLanes

namespace velk {

struct set_rules {
  int rule = 0;                          // [SETSRULE]: 0 every set, 1 set-by-all, 2 set-by-set
  long long min_distance = 0;            // [MINDISTB]: 0 for none
  int order = 0;                         // the order of the sets the search reports
  std::vector<uint8_t> listed;           // per SNP: in a set of the file
  std::vector<std::vector<int>> sets_of; // per SNP: the file's sets that hold it, ascending
  std::vector<int> chromosome;           // per SNP: its chromosome code's number, -1 for none
  std::vector<long long> position;       // per SNP: its base-pair position
  // For the fast searches (index_set_rules): per block of the store, its lanes of listed
  // SNPs; and the blocks with any, ascending.
  std::vector<uint8_t> listed_lanes;
  std::vector<long> listed_blocks;
  // With a distance: per block, the chromosome of all its SNPs (-2 when they differ, -1
  // when none has one) and the range of their positions, so that a block far from a
  // SNP is passed over without a look at its lanes.
  std::vector<int> block_chromosome;
  std::vector<long long> block_first_position, block_last_position;
};

// Fills the block indexes of the fast searches from `listed`.
void index_set_rules(set_rules& rules);

// Whether the `k` SNPs at `set` grow by one SNP only with listed SNPs: under rule 2
// always, under rule 1 when none of them is listed and the grown set is of the reported
// order. A search then need meet only the blocks of listed SNPs.
bool grows_only_with_listed(const set_rules& rules, const int64_t* set, int k);

// The lanes of block `b` (SNPs b kLanes ...) that the rules exclude for certain as the
// SNP added to the `k` SNPs at `set`: an unlisted SNP where a listed one is needed, a
// SNP too close to one of them. Cheap tests only; whatever they let through is still
// checked in full before it is offered.
unsigned excluded_lanes(const set_rules& rules, const int64_t* set, int k, long b);

// The lanes of a block whose `lane_ct` SNPs are `lane_snps` that lie too close to one of
// the `k` SNPs at `set`: the distance test of excluded_lanes, for a block gathered from
// anywhere in the study.
unsigned too_close_lanes(const set_rules& rules, const int64_t* set, int k, const int64_t* lane_snps, int lane_ct);

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
