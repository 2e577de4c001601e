// velk_popcount_peak: how fast this CPU runs the exhaustive kernel's inner step, AND +
// population count + add on 512-bit words, with nothing else in the loop: the limit
// that the counting of a set's cells can approach.
//   velk_popcount_peak
// Prints the rate of those steps (each over eight 64-bit words, one per lane) with the
// kernel's shape: each block word loaded once, eight rows broadcast against it into
// eight sums. The data stay in the first-level cache, as a block's words do. One
// thread; the best of five runs of about half a second.
// g++ 12 warns about the deliberately undefined vectors inside its own AVX-512
// intrinsics headers.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <immintrin.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace {

constexpr int kRows = 8;
constexpr int kWords = 32;  // a class of 2,048 individuals: a block's words fit the cache

#define PEAK_AVX512 __attribute__((target("avx512f,avx512vpopcntdq")))

// `rounds` passes over kWords block words of 8 lanes against kRows rows; the sums are
// folded into one value so that nothing is optimized away.
PEAK_AVX512 uint64_t run(const uint64_t* block, const uint64_t* rows, long rounds) {
  __m512i acc[kRows];
  for (auto& a : acc) a = _mm512_setzero_si512();
  for (long round = 0; round < rounds; ++round) {
#pragma GCC unroll 2
    for (int w = 0; w < kWords; ++w) {
      const __m512i b = _mm512_loadu_si512(block + w * 8);
#pragma GCC unroll 8
      for (int r = 0; r < kRows; ++r) {
        const __m512i a = _mm512_set1_epi64(static_cast<long long>(rows[r * kWords + w]));
        acc[r] = _mm512_add_epi64(acc[r], _mm512_popcnt_epi64(_mm512_and_si512(a, b)));
      }
    }
    // A dependence on the sums, so that the passes are not merged.
    asm volatile("" : "+v"(acc[0]));
  }
  __m512i total = acc[0];
  for (int r = 1; r < kRows; ++r) total = _mm512_add_epi64(total, acc[r]);
  return static_cast<uint64_t>(_mm512_reduce_add_epi64(total));
}

}  // namespace

int main() {
  __builtin_cpu_init();
  if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512vpopcntdq")) {
    printf("this CPU has no AVX-512 population count\n");
    return 0;
  }
  std::vector<uint64_t> block(kWords * 8), rows(kRows * kWords);
  uint64_t x = 0x9E3779B97F4A7C15ULL;
  for (auto* v : {&block, &rows})
    for (uint64_t& word : *v) word = x = x * 6364136223846793005ULL + 1442695040888963407ULL;
  const long rounds = 1L << 20;
  double best = 0;
  uint64_t sink = 0;
  for (int i = 0; i < 5; ++i) {
    const auto start = std::chrono::steady_clock::now();
    sink += run(block.data(), rows.data(), rounds);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    best = std::max(best, static_cast<double>(rounds) * kWords * kRows / took);
  }
  printf("AND + popcount + add on 512-bit words: %.3g per second (one thread)\n", best);
  printf("(checksum %llu)\n", static_cast<unsigned long long>(sink % 1000));
  return 0;
}
