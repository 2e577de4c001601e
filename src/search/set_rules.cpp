#include "search/set_rules.h"

#include <algorithm>

namespace velk {

namespace {

// Whether SNPs x and y lie on one chromosome less than the least distance apart.
bool pair_too_close(const set_rules& r, size_t x, size_t y) {
  if (r.chromosome[x] < 0 || r.chromosome[x] != r.chromosome[y]) return false;
  const long long apart = r.position[x] > r.position[y] ? r.position[x] - r.position[y] : r.position[y] - r.position[x];
  return apart < r.min_distance;
}

bool too_close(const set_rules& r, const int64_t* snps, int k) {
  if (r.min_distance <= 0) return false;
  for (int a = 0; a < k; ++a)
    for (int b = a + 1; b < k; ++b)
      if (pair_too_close(r, static_cast<size_t>(snps[a]), static_cast<size_t>(snps[b]))) return true;
  return false;
}

bool all_listed(const set_rules& r, const int64_t* snps, int k) {
  for (int a = 0; a < k; ++a)
    if (!r.listed[static_cast<size_t>(snps[a])]) return false;
  return true;
}

// Whether one set of the file holds every SNP of the set: the SNPs' lists of sets meet.
bool one_set_holds_all(const set_rules& r, const int64_t* snps, int k) {
  std::vector<int> common = r.sets_of[static_cast<size_t>(snps[0])];
  for (int a = 1; a < k && !common.empty(); ++a) {
    const std::vector<int>& next = r.sets_of[static_cast<size_t>(snps[a])];
    std::vector<int> both;
    std::set_intersection(common.begin(), common.end(), next.begin(), next.end(), std::back_inserter(both));
    common.swap(both);
  }
  return !common.empty();
}

double choose(long n, int k) {
  if (n < k) return 0;
  double sets = 1;
  for (int i = 0; i < k; ++i) sets = sets * static_cast<double>(n - i) / (i + 1);
  return sets;
}

// The pairs of the SNPs `in` (all SNPs when null, else those with in[s] set) that lie
// on one chromosome less than the least distance apart: per chromosome, positions
// sorted, two pointers.
double close_pairs(const set_rules& r, const std::vector<uint8_t>* in) {
  std::vector<std::pair<int, long long>> places;
  for (size_t s = 0; s < r.chromosome.size(); ++s)
    if (r.chromosome[s] >= 0 && (in == nullptr || (*in)[s])) places.emplace_back(r.chromosome[s], r.position[s]);
  std::sort(places.begin(), places.end());
  double close = 0;
  for (size_t j = 0, i = 0; j < places.size(); ++j) {
    while (places[i].first != places[j].first || places[j].second - places[i].second >= r.min_distance) ++i;
    close += static_cast<double>(j - i);
  }
  return close;
}

}  // namespace

void index_set_rules(set_rules& r) {
  const long snps = static_cast<long>(r.listed.size());
  r.listed_lanes.assign(static_cast<size_t>((snps + kLanes - 1) / kLanes), 0);
  r.listed_blocks.clear();
  for (long s = 0; s < snps; ++s)
    if (r.listed[static_cast<size_t>(s)]) r.listed_lanes[static_cast<size_t>(s / kLanes)] |= 1u << (s % kLanes);
  for (size_t b = 0; b < r.listed_lanes.size(); ++b)
    if (r.listed_lanes[b] != 0) r.listed_blocks.push_back(static_cast<long>(b));
  if (r.min_distance <= 0) return;
  const size_t blocks = r.listed_lanes.size();
  r.block_chromosome.assign(blocks, -1);
  r.block_first_position.assign(blocks, 0);
  r.block_last_position.assign(blocks, 0);
  for (long s = 0; s < snps; ++s) {
    const size_t b = static_cast<size_t>(s / kLanes);
    const int c = r.chromosome[static_cast<size_t>(s)];
    const long long at = r.position[static_cast<size_t>(s)];
    if (s % kLanes == 0) {
      r.block_chromosome[b] = c;
      r.block_first_position[b] = r.block_last_position[b] = at;
      continue;
    }
    if (c != r.block_chromosome[b]) r.block_chromosome[b] = -2;
    r.block_first_position[b] = std::min(r.block_first_position[b], at);
    r.block_last_position[b] = std::max(r.block_last_position[b], at);
  }
}

namespace {

// Whether SNP x may lie too close to a SNP of block b: the block shares its chromosome
// (or mixes chromosomes) and its positions reach within the distance of x's.
bool block_may_be_close(const set_rules& r, size_t x, long b) {
  const size_t k = static_cast<size_t>(b);
  const int c = r.block_chromosome[k];
  if (c == -1 || (c >= 0 && c != r.chromosome[x])) return false;
  return r.block_first_position[k] < r.position[x] + r.min_distance &&
         r.block_last_position[k] > r.position[x] - r.min_distance;
}

}  // namespace

bool grows_only_with_listed(const set_rules& r, const int64_t* set, int k) {
  if (r.rule == 2) return true;
  if (r.rule != 1 || k + 1 != r.order) return false;
  for (int a = 0; a < k; ++a)
    if (r.listed[static_cast<size_t>(set[a])]) return false;
  return true;
}

unsigned excluded_lanes(const set_rules& r, const int64_t* set, int k, long b) {
  unsigned excluded = grows_only_with_listed(r, set, k) ? ~unsigned{r.listed_lanes[static_cast<size_t>(b)]} : 0u;
  if (r.min_distance > 0) {
    const long snps = static_cast<long>(r.listed.size());
    for (int a = 0; a < k; ++a) {
      const size_t x = static_cast<size_t>(set[a]);
      if (r.chromosome[x] < 0 || !block_may_be_close(r, x, b)) continue;
      for (int lane = 0; lane < kLanes && b * kLanes + lane < snps; ++lane)
        if (pair_too_close(r, x, static_cast<size_t>(b * kLanes + lane))) excluded |= 1u << lane;
    }
  }
  return excluded & ((1u << kLanes) - 1u);
}

bool set_allowed(const set_rules& r, const int64_t* snps, int k) {
  if (too_close(r, snps, k)) return false;
  if (k < r.order) return r.rule != 2 || all_listed(r, snps, k);
  // A single SNP is held by its own set: under either rule order 1 takes the listed SNPs.
  if (r.rule == 1 || (r.rule == 2 && k == 1)) {
    for (int a = 0; a < k; ++a)
      if (r.listed[static_cast<size_t>(snps[a])]) return true;
    return false;
  }
  if (r.rule == 2) return all_listed(r, snps, k) && !one_set_holds_all(r, snps, k);
  return true;
}

double allowed_set_count(const set_rules& r, int snp_ct) {
  const int k = r.order;
  const long listed = std::count(r.listed.begin(), r.listed.end(), 1);
  if (!rules_active(r)) return choose(snp_ct, k);
  if (r.min_distance <= 0 && (r.rule == 1 || k == 1)) return choose(snp_ct, k) - choose(snp_ct - listed, k);
  // Pairs apart, less those of unlisted SNPs alone under rule 1: no enumeration of the
  // genome's pairs.
  if (k == 2 && r.rule != 2) {
    const double apart = choose(snp_ct, 2) - close_pairs(r, nullptr);
    if (r.rule == 0) return apart;
    std::vector<uint8_t> unlisted(r.listed.size());
    for (size_t s = 0; s < unlisted.size(); ++s) unlisted[s] = !r.listed[s];
    return apart - (choose(snp_ct - listed, 2) - close_pairs(r, &unlisted));
  }
  // By enumeration, in lexicographic order from each first SNP, a prefix that cannot be
  // completed skipping all its sets. Under rule 2 only the listed SNPs can take part.
  std::vector<int64_t> pool;
  for (int s = 0; s < snp_ct; ++s)
    if (r.rule != 2 || r.listed[static_cast<size_t>(s)]) pool.push_back(s);
  const long n = static_cast<long>(pool.size());
  long long total = 0;
#pragma omp parallel for schedule(dynamic, 1) reduction(+ : total)
  for (long first = 0; first < n; ++first) {
    int64_t set[4] = {pool[static_cast<size_t>(first)]};
    long at[4] = {first};
    int depth = 1;
    long long found = 0;
    // Depth-first over the next SNPs; `at[d]` is the pool index at depth d.
    if (k == 1) {
      found += set_allowed(r, set, 1);
    } else {
      at[1] = first;
      while (depth > 0) {
        if (++at[depth] >= n) {
          --depth;
          continue;
        }
        set[depth] = pool[static_cast<size_t>(at[depth])];
        if (depth + 1 == k) {
          found += set_allowed(r, set, k);
          continue;
        }
        // A prefix with two SNPs too close has no allowed superset.
        if (r.min_distance > 0 && !set_allowed(r, set, depth + 1)) continue;
        at[depth + 1] = at[depth];
        ++depth;
      }
    }
    total += found;
  }
  return static_cast<double>(total);
}

}  // namespace velk
