// VELKexcluded.txt: the individuals of the first file that the study leaves out, one
// per line under a header "#FID IID REASON", tab-separated. Its first two columns are
// what PLINK's --remove and --keep read.
#pragma once

#include <optional>
#include <string>

#include "data/study.h"

namespace velk {

inline constexpr const char* kLeftOutFileName = "VELKexcluded.txt";

// The file's text; none when nobody was left out (the run then removes an earlier one).
std::optional<std::string> left_out_text(const study_individuals& individuals);

}  // namespace velk
