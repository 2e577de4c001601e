// A text genotype file that starts with a header line: text genotype files have none,
// and the one people most often bring is the header of a PLINK .raw file
// (plink --recode A), which holds the genotypes of a fileset they could list instead.
#pragma once

#include <string>

namespace velk {

// After a text genotype file failed to load: when its first row holds names only (two
// or more, and no integer among its first eight fields), as a header does, the hint to
// delete that line or, for a .raw file, to list the fileset it came from; else empty.
// A first row of names fails on its first token, so the failure is always that row's.
std::string header_hint(const std::string& name);

}  // namespace velk
