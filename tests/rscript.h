// Where R's Rscript is, for the tests that compare with R; empty when R is not installed
// (scripts/install-deps installs r-base-core), and those tests then skip.
#pragma once

#include <filesystem>
#include <string>

namespace velk {

inline std::string find_rscript() {
  for (const char* folder : {"/usr/bin", "/usr/local/bin"}) {
    const std::string candidate = std::string(folder) + "/Rscript";
    if (std::filesystem::exists(candidate)) return candidate;
  }
  return "";
}

}  // namespace velk
