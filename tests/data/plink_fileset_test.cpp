#include "data/plink_fileset.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "plink_study.h"

namespace velk {
namespace {

using testing::genotype_study;

// Class layouts that stress the decoder differently: mixed classes in every chunk,
// one class only (the other's bitsets have no words at all), and long runs.
enum class layout { random, all_cases, all_controls, alternating, cases_first };

std::vector<unsigned char> classes_of(const genotype_study& s) {
  std::vector<unsigned char> classes;
  for (bool c : s.is_case) classes.push_back(c ? kCase : kControl);
  return classes;
}

// The bitsets as the loader is meant to fill them: individual d of its class, bit by bit.
std::vector<uint64_t> reference_bits(const genotype_study& s, long snp, size_t case_words, size_t ctrl_words) {
  std::vector<uint64_t> words(3 * (case_words + ctrl_words), 0);
  long index[2] = {0, 0};
  for (long d = 0; d < s.individuals(); ++d) {
    const int k = s.is_case[d] ? 1 : 0;
    const long i = index[k]++;
    const int g = s.genotypes[d][snp];
    if (g < 0) continue;
    const size_t at = g * (case_words + ctrl_words) + (k == 1 ? 0 : case_words) + i / 64;
    words[at] |= uint64_t{1} << (i % 64);
  }
  return words;
}

TEST(BedDecoder, MatchesBitByBitReference) {
  // Sizes that end anywhere within a byte, a 64-bit word of .bed bytes (32
  // individuals) and a bitset word (64 individuals of one class).
  const long sizes[] = {1, 2, 3, 4, 5, 31, 32, 33, 63, 64, 65, 127, 128, 129, 130, 257, 1000};
  const layout layouts[] = {layout::random, layout::all_cases, layout::all_controls, layout::alternating,
                            layout::cases_first};
  constexpr long kSnps = 4;
  unsigned seed = 1;
  for (bool fast : {false, true}) {
    for (long n : sizes) {
      for (layout l : layouts) {
        genotype_study s = genotype_study::random(n, kSnps, seed++, 0.2);
        for (long d = 0; d < n; ++d) {
          if (l == layout::all_cases) s.is_case[d] = true;
          if (l == layout::all_controls) s.is_case[d] = false;
          if (l == layout::alternating) s.is_case[d] = d % 2 == 0;
          if (l == layout::cases_first) s.is_case[d] = d < n / 3;
        }
        long cases = 0;
        for (bool c : s.is_case) cases += c;
        const size_t case_words = (cases + 63) / 64;
        const size_t ctrl_words = (n - cases + 63) / 64;
        const bed_decoder decoder(classes_of(s), case_words, ctrl_words, fast);
        ASSERT_EQ(decoder.snp_bytes(), static_cast<size_t>((n + 3) / 4));
        const std::string bed = s.bed(0, kSnps);
        for (long snp = 0; snp < kSnps; ++snp) {
          // Exactly the SNP's words, so that a write beyond them is caught by the
          // sanitizer build; the bytes are copied out so that a read beyond is too.
          // Every word is written, whatever it held.
          std::vector<uint64_t> words(3 * (case_words + ctrl_words), ~uint64_t{0});
          const std::vector<unsigned char> bytes(bed.begin() + 3 + snp * decoder.snp_bytes(),
                                                 bed.begin() + 3 + (snp + 1) * decoder.snp_bytes());
          decoder.decode(bytes.data(), words.data());
          EXPECT_EQ(words, reference_bits(s, snp, case_words, ctrl_words))
              << "n " << n << ", layout " << static_cast<int>(l) << ", snp " << snp << ", pext "
              << decoder.uses_pext();
        }
      }
    }
  }
}

}  // namespace
}  // namespace velk
