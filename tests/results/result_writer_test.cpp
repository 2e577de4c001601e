#include "results/result_writer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

namespace velk {
namespace {

const std::string kHeader = "Loci\tchi_SQ\tP_value\t#Major_cells\n";

struct list_holder {
  top_k_list list{};
  list_holder(int capacity, int order) { EXPECT_TRUE(init_top_k_list(&list, capacity, order).ok()); }
  ~list_holder() { destroy_top_k_list(&list); }
  void offer(double chisq, int case_major_ct, std::vector<int64_t> loci) {
    multi_locus_node node{chisq, loci.data(), case_major_ct};
    insert_top_k_list(&list, &node);
  }
};

std::string written(const top_k_list& list, int order) {
  char* buffer = nullptr;
  size_t size = 0;
  FILE* stream = open_memstream(&buffer, &size);
  print_top_k_list(&list, stream, order);
  fclose(stream);
  std::string text(buffer, size);
  free(buffer);
  return text;
}

TEST(ResultWriter, EmptyListGivesTheHeaderAlone) {
  list_holder h(5, 2);
  EXPECT_EQ(written(h.list, 2), kHeader);
  list_holder none(0, 4);
  EXPECT_EQ(written(none.list, 4), kHeader);
}

// The p-value of x with 2 degrees of freedom is e^(-x/2). The program never sets a
// locale, so the decimal point is a full stop whatever the user's settings are.
TEST(ResultWriter, RowFormatAndPValues) {
  struct row {
    double chisq;
    const char* line;
  };
  const row rows[] = {
      {25.0, "3 17 25.000000 3.72665e-06 4\n"},
      {0.0, "3 17 0.000000 1 4\n"},
      {0.5, "3 17 0.500000 0.778801 4\n"},
      {18.0, "3 17 18.000000 0.00012341 4\n"},  // just above 1e-4
      {20.0, "3 17 20.000000 4.53999e-05 4\n"},
      {7.333333333333334, "3 17 7.333333 0.0255615 4\n"},
  };
  for (const row& r : rows) {
    list_holder h(1, 2);
    h.offer(r.chisq, 4, {3, 17});
    EXPECT_EQ(written(h.list, 2), kHeader + r.line);
  }
  EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C");
}

// Heap positions at the end: 16, 18, 10, 14, 11, 15, 12, 13. Tied rows come out by
// descending position, which no order of their indices reproduces.
TEST(ResultWriter, RankOrderAndTiesByDescendingPosition) {
  list_holder h(8, 1);
  h.offer(2.0, 1, {10});
  h.offer(5.0, 3, {14});
  h.offer(5.0, 1, {12});
  h.offer(5.0, 1, {13});
  h.offer(5.0, 3, {11});
  h.offer(7.0, 0, {15});
  // Statistics that differ only past the sixth decimal: the 17 fills the list and the
  // 18 evicts it from the root.
  h.offer(1.0000002, 0, {16});
  h.offer(1.0000001, 0, {17});
  h.offer(1.0000003, 0, {18});
  ASSERT_EQ(h.list.count, 8);
  EXPECT_EQ(written(h.list, 1), kHeader +
                                    "15 7.000000 0.0301974 0\n"
                                    "13 5.000000 0.082085 1\n"
                                    "12 5.000000 0.082085 1\n"
                                    "11 5.000000 0.082085 3\n"
                                    "14 5.000000 0.082085 3\n"
                                    "10 2.000000 0.367879 1\n"
                                    "18 1.000000 0.606531 0\n"
                                    "16 1.000000 0.606531 0\n");
}

TEST(ResultWriter, WritingLeavesTheListAsItWas) {
  list_holder h(6, 2);
  for (int i = 0; i < 6; ++i) h.offer(static_cast<double>((i * 7) % 4), i % 2, {i, i + 10});
  std::vector<multi_locus_node> before(h.list.nodes, h.list.nodes + h.list.count);
  const std::string first = written(h.list, 2);
  EXPECT_EQ(written(h.list, 2), first);
  ASSERT_EQ(h.list.count, 6);
  for (int i = 0; i < 6; ++i) {
    const multi_locus_node& now = h.list.nodes[i];
    EXPECT_TRUE(now.chisq == before[i].chisq && now.loci == before[i].loci &&
                now.case_major_ct == before[i].case_major_ct)
        << i;
  }
}

TEST(ResultWriter, NullStreamWritesToStandardOutput) {
  list_holder h(2, 2);
  h.offer(25.0, 4, {3, 17});
  ::testing::internal::CaptureStdout();
  print_top_k_list(&h.list, nullptr, 2);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), kHeader + "3 17 25.000000 3.72665e-06 4\n");
}

}  // namespace
}  // namespace velk
