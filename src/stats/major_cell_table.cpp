#include "stats/major_cell_table.h"

#include <libalglib/specialfunctions.h>

#include <vector>

namespace velk {

namespace {

double chi_square_sums(const int* table, long rows, int cols, double* row_sum, double* col_sum) {
  double total = 0.0;
  for (int j = 0; j < cols; ++j) col_sum[j] = 0.0;
  for (long i = 0; i < rows; ++i) {
    row_sum[i] = 0.0;
    for (int j = 0; j < cols; ++j) {
      const double v = static_cast<double>(table[i * cols + j]);
      row_sum[i] = row_sum[i] + v;
      col_sum[j] = v + col_sum[j];
    }
    total = total + row_sum[i];
  }
  double chi = 0.0;
  for (long i = 0; i < rows; ++i) {
    for (int j = 0; j < cols; ++j) {
      const double e = (col_sum[j] * row_sum[i]) / total;
      if (e > 0) {
        const double d = static_cast<double>(table[i * cols + j]) - e;
        chi = chi + (d * d) / e;
      }
    }
  }
  return chi;
}

}  // namespace

double chi_square(const int* table, long rows, int cols) {
  if (cols <= 0 || rows < 1) return 0.0;
  // The searches always score 3 x 2 tables: keep those off the heap.
  constexpr long kSmallRows = 8;
  constexpr int kSmallCols = 8;
  if (rows <= kSmallRows && cols <= kSmallCols) {
    double row_sum[kSmallRows];
    double col_sum[kSmallCols];
    return chi_square_sums(table, rows, cols, row_sum, col_sum);
  }
  std::vector<double> row_sum(rows), col_sum(cols);
  return chi_square_sums(table, rows, cols, row_sum.data(), col_sum.data());
}

double p_value_chisq(double df, double chisq) { return alglib::chisquarecdistribution(df, chisq); }

}  // namespace velk
