#include "search/top_k_list.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace velk {
namespace {

// A node as the tests describe it; offered through a scratch index buffer that is
// overwritten right after the offer, as the searches do.
struct item {
  double chisq;
  int case_major_ct;
  std::vector<int64_t> loci;
};

void offer(top_k_list& list, const item& it) {
  std::vector<int64_t> scratch = it.loci;
  multi_locus_node node{it.chisq, scratch.data(), it.case_major_ct};
  insert_top_k_list(&list, &node);
  std::fill(scratch.begin(), scratch.end(), -7);
}

std::vector<item> held(const top_k_list& list) {
  std::vector<item> out;
  for (int i = 0; i < list.count; ++i) {
    const multi_locus_node& n = list.nodes[i];
    out.push_back({n.chisq, n.case_major_ct, std::vector<int64_t>(n.loci, n.loci + list.order)});
  }
  return out;
}

bool operator==(const item& a, const item& b) {
  return a.chisq == b.chisq && a.case_major_ct == b.case_major_ct && a.loci == b.loci;
}
void PrintTo(const item& it, std::ostream* os) {
  *os << "{" << it.chisq << ", " << it.case_major_ct << ", [";
  for (int64_t l : it.loci) *os << l << " ";
  *os << "]}";
}

struct list_holder {
  top_k_list list{};
  list_holder(int capacity, int order) { EXPECT_TRUE(init_top_k_list(&list, capacity, order).ok()); }
  ~list_holder() { destroy_top_k_list(&list); }
};

TEST(TopKList, WorkedExampleWithPositions) {
  list_holder h(3, 2);
  for (double x : {5.0, 3.0, 8.0, 1.0}) offer(h.list, {x, 1, {int64_t(x), 20}});
  EXPECT_EQ(held(h.list), (std::vector<item>{{3, 1, {3, 20}}, {5, 1, {5, 20}}, {8, 1, {8, 20}}}));
  offer(h.list, {6.0, 1, {6, 20}});
  EXPECT_EQ(held(h.list), (std::vector<item>{{5, 1, {5, 20}}, {6, 1, {6, 20}}, {8, 1, {8, 20}}}));
}

TEST(TopKList, OffersAgainstTheRootOfAFullList) {
  struct row {
    item offered;
    bool enters;
  };
  const row rows[] = {
      {{4.0, 1, {9}}, true},    // equal statistic, fewer case-major cells
      {{4.0, 2, {9}}, false},   // tied with the root
      {{4.0, 3, {9}}, false},   // equal statistic, more cells
      {{3.9, 0, {9}}, false},   // below, however few cells
      {{4.1, 9, {9}}, true},    // above, however many cells
  };
  for (const row& r : rows) {
    list_holder h(2, 1);
    offer(h.list, {4.0, 2, {1}});
    offer(h.list, {6.0, 0, {2}});
    offer(h.list, r.offered);
    const std::vector<item> now = held(h.list);
    ASSERT_EQ(now.size(), 2u);
    const bool entered = now[0] == r.offered || now[1] == r.offered;
    EXPECT_EQ(entered, r.enters) << r.offered.chisq << "/" << r.offered.case_major_ct;
    EXPECT_EQ(now[0].loci[0] == 1, !r.enters);  // an entering node always evicts the root
  }
}

TEST(TopKList, CapacityZeroAndOne) {
  list_holder none(0, 2);
  for (int i = 0; i < 5; ++i) offer(none.list, {10.0 * i, 0, {i, i + 1}});
  EXPECT_EQ(none.list.count, 0);

  list_holder one(1, 1);
  offer(one.list, {2.0, 1, {1}});
  offer(one.list, {2.0, 1, {2}});  // tied: the first one stays
  EXPECT_EQ(held(one.list), (std::vector<item>{{2.0, 1, {1}}}));
  offer(one.list, {2.0, 0, {3}});
  offer(one.list, {1.0, 0, {4}});
  EXPECT_EQ(held(one.list), (std::vector<item>{{2.0, 0, {3}}}));
  EXPECT_TRUE(top_k_list_status(one.list).ok());
}

// A list that cannot be made says so with the message scripts compare ("!" included),
// and may still be destroyed.
TEST(TopKList, ANegativeCapacityIsRefusedWithTheMessageOfMemory) {
  top_k_list list{};
  const status made = init_top_k_list(&list, -1, 2);
  EXPECT_EQ(made.code, status_code::fatal);
  EXPECT_EQ(made.message, "Cannot alloc memory for top_k_list!\n");
  destroy_top_k_list(&list);
}

TEST(TopKList, HeldLocusSetsAreRefusedWhateverTheirStatistic) {
  list_holder h(3, 2);
  offer(h.list, {5, 1, {1, 2}});
  offer(h.list, {3, 1, {1, 3}});
  offer(h.list, {8, 1, {2, 3}});
  const std::vector<item> full = held(h.list);
  for (const item& again : {item{100, 0, {1, 3}}, item{0, 9, {1, 3}}, item{3, 1, {1, 3}}, item{9, 0, {2, 3}}}) {
    offer(h.list, again);
    EXPECT_EQ(held(h.list), full);
  }
  offer(h.list, {6, 1, {4, 5}});   // evicts {1, 3}
  offer(h.list, {7, 1, {1, 3}});   // the evicted set may come back, evicting {1, 2}
  offer(h.list, {50, 0, {4, 5}});  // held: refused
  offer(h.list, {9, 1, {1, 2}});   // evicted: enters, evicting {4, 5}
  EXPECT_EQ(held(h.list), (std::vector<item>{{7, 1, {1, 3}}, {9, 1, {1, 2}}, {8, 1, {2, 3}}}));
}

TEST(TopKList, RefreshEmptiesAndSetsTheWidth) {
  list_holder h(3, 2);
  offer(h.list, {5, 1, {1, 2}});
  offer(h.list, {3, 1, {1, 3}});
  refresh_top_k_list(&h.list, 3);
  EXPECT_EQ(h.list.count, 0);
  EXPECT_EQ(h.list.order, 3);
  EXPECT_EQ(h.list.capacity, 3);
  offer(h.list, {4, 2, {1, 3, 5}});
  offer(h.list, {1, 0, {1, 3, 5}});
  EXPECT_EQ(held(h.list), (std::vector<item>{{4, 2, {1, 3, 5}}}));
  refresh_top_k_list(&h.list, 2);
  offer(h.list, {5, 1, {1, 2}});  // held before the first refresh
  EXPECT_EQ(held(h.list), (std::vector<item>{{5, 1, {1, 2}}}));
}

TEST(TopKList, SortIsStableInRankOrder) {
  list_holder h(8, 1);
  const std::vector<item> offered = {{2, 1, {10}}, {5, 3, {11}}, {5, 1, {12}}, {5, 1, {13}}, {5, 3, {14}}, {7, 0, {15}}};
  for (const item& it : offered) offer(h.list, it);
  ASSERT_EQ(held(h.list), offered);  // each offer stops below its parent
  sort_top_k_list_asc(&h.list);
  std::vector<int64_t> order;
  for (const item& it : held(h.list)) order.push_back(it.loci[0]);
  EXPECT_EQ(order, (std::vector<int64_t>{10, 11, 14, 12, 13, 15}));
}

// The list rules written out naively: a linear duplicate scan and the sift rules step by step.
struct model {
  std::vector<item> nodes;
  int count = 0, capacity, order;
  model(int c, int w) : nodes(c), capacity(c), order(w) {}
  static bool below(const item& x, const item& y) {
    return x.chisq < y.chisq || (x.chisq == y.chisq && x.case_major_ct > y.case_major_ct);
  }
  void insert(const item& it) {
    for (int i = 0; i < count; ++i)
      if (nodes[i].loci == it.loci) return;
    if (count < capacity) {
      int hole = count;
      while (hole > 0 && below(it, nodes[(hole - 1) / 2])) {
        nodes[hole] = nodes[(hole - 1) / 2];
        hole = (hole - 1) / 2;
      }
      nodes[hole] = it;
      ++count;
      return;
    }
    if (capacity == 0 || !below(nodes[0], it)) return;
    int hole = 0;
    for (int l = 1; l < count; l = 2 * hole + 1) {
      const int child = l + 1 < count && below(nodes[l + 1], nodes[l]) ? l + 1 : l;
      if (!below(nodes[child], it)) break;
      nodes[hole] = nodes[child];
      hole = child;
    }
    nodes[hole] = it;
  }
  std::vector<item> held() const { return std::vector<item>(nodes.begin(), nodes.begin() + count); }
  std::vector<item> sorted() const {
    std::vector<item> s = held();
    for (size_t i = 1; i < s.size(); ++i) {
      item taken = s[i];
      size_t j = i;
      for (; j > 0 && below(taken, s[j - 1]); --j) s[j] = s[j - 1];
      s[j] = taken;
    }
    return s;
  }
};

TEST(TopKList, MatchesANaiveModelUnderManyTiesAndDuplicates) {
  std::mt19937 rng(20261207);
  for (int capacity : {0, 1, 2, 3, 6, 13, 40}) {
    for (int order : {1, 2, 3}) {
      list_holder h(capacity, order);
      model ref(capacity, order);
      for (int step = 0; step < 1500; ++step) {
        if (rng() % 400 == 0) {  // occasionally empty the list, sometimes at a new order
          const int w = 1 + static_cast<int>(rng() % 3);
          refresh_top_k_list(&h.list, w);
          ref = model(capacity, w);
        }
        item it{0.5 * static_cast<double>(rng() % 8), static_cast<int>(rng() % 3), {}};
        // About twice as many locus sets as places, so that duplicates are frequent.
        const auto spread = static_cast<int64_t>(std::ceil(std::pow(2.0 * capacity + 4, 1.0 / ref.order)));
        int64_t next = 0;
        for (int i = 0; i < ref.order; ++i) it.loci.push_back(next += 1 + static_cast<int64_t>(rng() % spread));
        offer(h.list, it);
        ref.insert(it);
        ASSERT_EQ(held(h.list), ref.held()) << "capacity " << capacity << " order " << order << " step " << step;
      }
      sort_top_k_list_asc(&h.list);
      EXPECT_EQ(held(h.list), ref.sorted()) << "capacity " << capacity << " order " << order;
    }
  }
}

}  // namespace
}  // namespace velk
