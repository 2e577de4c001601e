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

// The sets of k SNPs among those with in[s] set (all SNPs when `in` is null) that hold no
// two SNPs too close, exactly. On one chromosome, with positions sorted, a set is apart
// when each SNP lies the distance beyond the one before it; ways[m] of the sets of m
// ending at a SNP sum the ways of m - 1 of the SNPs far enough below it, which a
// pointer walks up to. Chromosomes (and SNPs without one, which are near nothing) then
// combine as a product of polynomials in the set size. Integers of 128 bits hold
// C(p, 4) for any p a study can have.
using set_count = unsigned __int128;

set_count apart_sets(const set_rules& r, const std::vector<uint8_t>* in, int k) {
  std::vector<std::pair<int, long long>> places;
  long free_snps = 0;
  for (size_t s = 0; s < r.chromosome.size(); ++s) {
    if (in != nullptr && !(*in)[s]) continue;
    if (r.chromosome[s] < 0)
      ++free_snps;
    else
      places.emplace_back(r.chromosome[s], r.position[s]);
  }
  std::sort(places.begin(), places.end());
  const size_t width = static_cast<size_t>(k) + 1;
  std::vector<set_count> total(width, 0), sizes(width);
  total[0] = 1;
  const auto times = [&total, width](const std::vector<set_count>& by_size) {
    std::vector<set_count> product(width, 0);
    for (size_t a = 0; a < width; ++a)
      for (size_t b = 0; a + b < width; ++b) product[a + b] += total[a] * by_size[b];
    total.swap(product);
  };
  std::fill(sizes.begin(), sizes.end(), 0);
  sizes[0] = sizes[1] = 1;
  for (long f = 0; f < free_snps; ++f) times(sizes);
  // below[(i - first) * width + m]: the sets of m SNPs of the chromosome before its i-th.
  std::vector<set_count> below;
  for (size_t first = 0; first < places.size();) {
    size_t end = first;
    while (end < places.size() && places[end].first == places[first].first) ++end;
    std::fill(sizes.begin(), sizes.end(), 0);
    below.assign((end - first + 1) * width, 0);
    size_t far = first;  // the SNPs before `far` lie the distance below the current one
    for (size_t j = first; j < end; ++j) {
      while (far < j && places[j].second - places[far].second >= r.min_distance) ++far;
      const set_count* reach = below.data() + (far - first) * width;
      const set_count* before = below.data() + (j - first) * width;
      set_count* upto = below.data() + (j - first + 1) * width;
      for (size_t m = 1; m < width; ++m) {
        const set_count ending_here = m == 1 ? 1 : reach[m - 1];
        upto[m] = before[m] + ending_here;
        sizes[m] += ending_here;
      }
    }
    sizes[0] = 1;
    times(sizes);
    first = end;
  }
  return total[static_cast<size_t>(k)];
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

unsigned too_close_lanes(const set_rules& r, const int64_t* set, int k, const int64_t* lane_snps, int lane_ct) {
  unsigned excluded = 0;
  if (r.min_distance <= 0) return excluded;
  for (int a = 0; a < k; ++a)
    for (int lane = 0; lane < lane_ct; ++lane)
      if (pair_too_close(r, static_cast<size_t>(set[a]), static_cast<size_t>(lane_snps[lane]))) excluded |= 1u << lane;
  return excluded;
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
  // Sets apart, less those of unlisted SNPs alone under rule 1: no enumeration of the
  // genome's sets.
  if (r.rule != 2) {
    const set_count apart = apart_sets(r, nullptr, k);
    if (r.rule == 0) return static_cast<double>(apart);
    std::vector<uint8_t> unlisted(r.listed.size());
    for (size_t s = 0; s < unlisted.size(); ++s) unlisted[s] = !r.listed[s];
    return static_cast<double>(apart - apart_sets(r, &unlisted, k));
  }
  // Under rule 2, by enumeration of the listed SNPs, in lexicographic order from each
  // first SNP, a prefix that cannot be completed skipping all its sets.
  std::vector<int64_t> pool;
  for (int s = 0; s < snp_ct; ++s)
    if (r.listed[static_cast<size_t>(s)]) pool.push_back(s);
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
