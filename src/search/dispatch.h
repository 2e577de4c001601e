// The entry of the search: runs the search of the requested order and, for three and
// four loci, moves the locus sets that pass the p-value bounds into the final list.
#pragma once

#include "search/dis_model.h"

namespace velk {

void srDisLociV2(disModel& model, int order);

}  // namespace velk
