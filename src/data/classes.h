// The two classes of a case/control study, as every reader stores them per individual.
#pragma once

#include <vector>

namespace velk {

inline constexpr unsigned char kControl = 0;
inline constexpr unsigned char kCase = 1;
// An individual of a file without a class (a missing phenotype, 0 or -9, as PLINK codes
// it): left out of the study.
inline constexpr unsigned char kNoClass = 2;

// Where a file's classes first differ from the study's, both listed in study order
// and of the same length: the individual's index, or -1 when they agree.
inline long first_class_difference(const std::vector<unsigned char>& study, const std::vector<unsigned char>& file) {
  for (size_t d = 0; d < study.size(); ++d)
    if (study[d] != file[d]) return static_cast<long>(d);
  return -1;
}

}  // namespace velk
