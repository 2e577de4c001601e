#include "run/permutations.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "data/classes.h"
#include "data/genotype_store.h"
#include "search/exhaustive_search.h"
#include "search/extension.h"
#include "search/fast_search.h"
#include "search/pair_search.h"

namespace velk {

namespace {

// SplitMix64's finaliser: spreads a seed and a permutation number over all 64 bits, so
// that neighbouring numbers start unrelated generators.
uint64_t mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

// A uniform draw from 0 ... k - 1: values of the generator beyond the last whole
// multiple of k are drawn again, so that every result is equally likely.
uint64_t below(std::mt19937_64& rng, uint64_t k) {
  const uint64_t limit = UINT64_MAX - UINT64_MAX % k;
  uint64_t x;
  do x = rng();
  while (x >= limit);
  return x % k;
}

constexpr double kNotDone = std::numeric_limits<double>::quiet_NaN();

}  // namespace

std::vector<unsigned char> permuted_classes(const permutation_setup& setup, long b) {
  std::mt19937_64 rng(mix(setup.seed) ^ mix(static_cast<uint64_t>(b) + 0x5851F42D4C957F2DULL));
  std::vector<unsigned char> classes = setup.classes;
  const int strata = setup.stratum.empty() ? 1 : 1 + *std::max_element(setup.stratum.begin(), setup.stratum.end());
  std::vector<long> members;
  for (int k = 0; k < strata; ++k) {
    members.clear();
    for (long d = 0; d < static_cast<long>(classes.size()); ++d)
      if (setup.stratum.empty() || setup.stratum[d] == k) members.push_back(d);
    // Fisher and Yates's shuffle of the stratum's classes, last position first.
    for (long i = static_cast<long>(members.size()) - 1; i > 0; --i) {
      const long j = static_cast<long>(below(rng, static_cast<uint64_t>(i) + 1));
      std::swap(classes[members[i]], classes[members[j]]);
    }
  }
  return classes;
}

void split_store(const std::vector<unsigned char>& loaded, const std::vector<unsigned char>& classes,
                 const genotype_store& from, const genotype_store& to) {
  const store_shape& shape = from.shape;
  // Where each individual of the loaded split goes: a word of its new class's bitset
  // (control words follow the case words) and a bit.
  std::vector<size_t> word[2];
  std::vector<uint64_t> bit[2];
  long next[2] = {0, 0};  // the next index of each new class
  for (size_t d = 0; d < loaded.size(); ++d) {
    const int now = classes[d] == kCase ? 1 : 0;
    const long index = next[now]++;
    word[loaded[d] == kCase ? 1 : 0].push_back(static_cast<size_t>(index / kWordBits) +
                                               (now == 1 ? 0 : static_cast<size_t>(shape.case_word_ct)));
    bit[loaded[d] == kCase ? 1 : 0].push_back(uint64_t{1} << (index % kWordBits));
  }
  // SNPs own their lanes: the threads write disjoint words. Small studies stay on one
  // thread, where starting the others would cost more than the work.
  const bool threaded = static_cast<double>(shape.snp_ct) * static_cast<double>(shape.sample_ct()) >= 1 << 22;
#pragma omp parallel for schedule(static) if (threaded)
  for (long s = 0; s < shape.snp_ct; ++s) {
    for (int g = 0; g < 3; ++g) {
      const genotype_slot src = slot(from, s, g);
      uint64_t* const dst = slot(to, s, g).cases.first;
      for (int c = 0; c < 2; ++c) {
        const class_bits bits = c == 1 ? src.cases : src.ctrls;
        const int words = c == 1 ? shape.case_word_ct : shape.ctrl_word_ct;
        for (int w = 0; w < words; ++w) {
          for (uint64_t x = bits[w]; x != 0; x &= x - 1) {
            const size_t i = static_cast<size_t>(w) * kWordBits + static_cast<size_t>(__builtin_ctzll(x));
            dst[word[c][i] * kLanes] |= bit[c][i];
          }
        }
      }
    }
  }
}

status search_maximum(const search_model& model, const search_input& in, const search_context& context,
                      double& best) {
  const int order = model.params.order;
  best = 0;
  if (order == 1) {
    for (long s = 0; s < in.snp_ct(); ++s) best = std::max(best, in.single[s]);
    return ok_status();
  }
  search_model repeat;
  repeat.params = model.params;
  // A pair search and an exhaustive one need their best set only: a list of one. The
  // run's own lists were made with these parameters, so these can be made too.
  const bool exhaustive = is_exhaustive(model.params);
  if (status made = create_lists(repeat, order == 2 || exhaustive ? 1 : model.top_k, in.snp_ct(), *in.budget);
      !made.ok())
    return made;
  // A permutation's search runs whole on this rank, silently, from its start: of the
  // context it takes the path, the work sizes and the stop, polled after each band.
  search_context alone;
  alone.path = context.path;
  alone.tuning = context.tuning;
  alone.stop_requested = context.stop_requested;
  alone.show_progress = false;
  alone.announce_levels = false;
  search_engine engine;
  // Permutations always take the fast path: they need the maximum, not a reference.
  prepare_engine(engine, kernel_of(context.path), in);
  if (order == 2) {
    // Before the p-value bounds: the pair search starts from row 0 with a bound of 0.
    alone.resume = level_mark{2, 0, 0.0};
    fast_pair_search(*repeat.result_list, true, in, alone, engine);
    if (repeat.result_list->count > 0) best = repeat.result_list->nodes[0].chisq;
  } else if (exhaustive) {
    // Every set that beats its SNPs counts, from a bound of 0 as for pairs.
    top_k_list& list = level_list(repeat, order);
    fast_exhaustive_search(in, order, 0.0, alone, engine, list);
    if (list.count > 0) best = list.nodes[0].chisq;
  } else {
    search_levels(repeat, order, in, alone, &engine);
    const top_k_list& level = level_list(repeat, order);
    for (int i = 0; i < level.count; ++i) best = std::max(best, level.nodes[i].chisq);
  }
  return search_lists_status(repeat);
}

status run_permutations(const permutation_setup& setup, const search_model& model, const search_input& loaded,
                        const search_context& context, std::vector<double>& maxima,
                        const std::function<void()>& after_round) {
  const team& t = *context.processes;
  // Every rank deals the permutations still to do alike: rank 0's maxima (a resumed
  // run's) decide which.
  share_bytes(t, maxima.data(), maxima.size() * sizeof(double));
  std::vector<long> pending;
  for (long b = 1; b <= setup.count; ++b)
    if (std::isnan(maxima[b - 1])) pending.push_back(b);
  genotype_store store;
  if (status made = new_store(loaded.shape(), *loaded.budget, store); !made.ok()) return made;
  search_input permuted = loaded;
  permuted.store = &store;
  // Rank 0 decides whether the run stops, as in the band walk; but each rank searches a
  // permutation of its own, which no collective reaches, so rank 0 sends the others its
  // word to stop, and every rank looks for a stop after each band of its search. A
  // batch system's signal then ends a permutation under way within a band, not at its
  // end (which may come after the system's grace time).
  bool stopping = false;  // rank 0: asked to stop (and the others told); another rank: told
  const auto asked = [&t, &context, &stopping] {
    if (stopping || !context.stop_requested) return stopping;
    if (!leads(t)) return stopping = t.stop_sent();
    stopping = context.stop_requested();
    if (stopping && t.size > 1) t.send_stop();
    return stopping;
  };
  search_context alone;
  alone.path = context.path;
  alone.tuning = context.tuning;
  if (context.stop_requested) alone.stop_requested = asked;
  const long rounds = (static_cast<long>(pending.size()) + t.size - 1) / t.size;
  for (long r = 0; r < rounds; ++r) {
    const size_t mine = static_cast<size_t>(r) * t.size + t.rank;
    double found[2] = {0, kNotDone};  // the permutation's number and its maximum
    if (mine < pending.size()) {
      const long b = pending[mine];
      memset(store.words, 0, store.shape.bytes());
      split_store(setup.classes, permuted_classes(setup, b), *loaded.store, store);
      const std::vector<double> single = single_snp_statistics(store, *loaded.cells);
      permuted.single = single.data();
      found[0] = static_cast<double>(b);
      try {
        // On this rank alone. A failed search (memory) is never counted: rank 0 returns
        // it to end the run; another rank ends alone, at once, and the launcher ends the
        // rest.
        double best = 0;
        const status searched = search_maximum(model, permuted, alone, best);
        if (!searched.ok() && leads(t)) return searched;
        if (!searched.ok()) end_run_with(searched);
        found[1] = best;
      } catch (const search_stopped&) {
        // Abandoned halfway: the largest statistic so far is no permutation's maximum,
        // so it stays NaN and the permutation is searched again when the run resumes.
      }
    }
    // Rank 0 still looks for a stop while it waits for the others' searches.
    if (t.size > 1) t.meet([&asked] { asked(); });
    std::vector<unsigned char> bytes(sizeof found), all;
    memcpy(bytes.data(), found, sizeof found);
    if (t.size > 1) {
      t.gather(bytes, all);
    } else {
      all = bytes;
    }
    if (leads(t)) {
      for (size_t at = 0; at + sizeof found <= all.size(); at += sizeof found) {
        memcpy(found, all.data() + at, sizeof found);
        if (!std::isnan(found[1])) maxima[static_cast<size_t>(found[0]) - 1] = found[1];
      }
    }
    // Every rank stops at the same round, with the program's one exception, as the band
    // walk stops (fast_search.h); the permutations finished are in `maxima`.
    int32_t stop = leads(t) && asked();
    share(t, stop);
    if (stop != 0) throw search_stopped{};
    if (leads(t)) after_round();
  }
  return ok_status();
}

void share_setup(const team& t, permutation_setup& setup) {
  if (t.size == 1) return;
  share(t, setup.count);
  share(t, setup.seed);
  uint64_t individuals = setup.classes.size();
  uint64_t strata = setup.stratum.size();
  share(t, individuals);
  share(t, strata);
  setup.classes.resize(individuals);
  setup.stratum.resize(strata);
  share_bytes(t, setup.classes.data(), individuals);
  share_bytes(t, setup.stratum.data(), strata * sizeof(int));
}

}  // namespace velk
