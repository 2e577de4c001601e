// Three- and four-locus search: kept locus sets of one order, best first, each extended
// by every other SNP; an extension is kept when it beats its parent and its added SNP
// alone and reaches the level's running bound.
#pragma once

#include "search/dis_model.h"

namespace velk {

// Completes the level list of `order` (2, 3 or 4), running the lower levels first.
void Recur_srDisLoci_2(disModel& model, int order);

}  // namespace velk
