// A focused search: the rules of [SETSRULE] and [MINDISTB] built from VELKsets.txt and
// the SNPs' positions, read before the search, and the number of sets they allow.
#pragma once

#include <string>

#include "base/status.h"
#include "base/team.h"
#include "data/parameter_file.h"
#include "search/set_rules.h"

namespace velk {

// On rank 0, for a study of `snp_ct` SNPs listed in `list_name`: the rules the
// parameters ask for, with the number of sets of the order they allow, and the console
// line that says so. Refuses (status 1) a missing or malformed sets file under rule 1
// or 2, and a distance rule over SNPs without a position (text files). Warns when a sets
// file is there but no rule reads it. Nothing is built when the parameters restrict
// nothing (`rules.rule` 0 and no distance).
status build_set_rules(const search_parameters& params, const char* list_name, int snp_ct, set_rules& rules,
                       double& allowed, std::string& console_line);

// Rank 0's rules on every rank.
void share_set_rules(const team& t, set_rules& rules, double& allowed);

}  // namespace velk
