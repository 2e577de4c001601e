// The run sequence: load the study, read the parameters, build the tables, search,
// write the result file. Returns the process's exit status (fatal errors end the
// process from where they are found, through base/fail.h).
#pragma once

#include "search/dispatch.h"

namespace velk {

inline constexpr const char* kListFileName = "VELKinputfiles.txt";

int run(int argc, char** argv, search_path path = search_path::fast, const search_tuning& tuning = {});

}  // namespace velk
