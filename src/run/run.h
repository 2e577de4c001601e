// The run sequence: load the study, read the parameters, build the tables, search,
// write the result file. Returns the process's exit status; the readers and checks
// below return their refusals here, where the run ends with the message and status.
#pragma once

#include "base/memory_budget.h"
#include "base/status.h"
#include "base/team.h"
#include "data/study.h"
#include "search/dispatch.h"
#include "search/search_model.h"
#include "stats/thresholds.h"

namespace velk {

struct run_options {
  search_path path = search_path::fast;
  search_tuning tuning;
  // Under MPI every rank runs the sequence: rank 0 reads the inputs and hands them to
  // the others, every rank searches, rank 0 prints and writes.
  const team* processes = &single_process();
  const char* program = "velk";  // as the help and the hints name it
};

int run(int argc, char** argv, const run_options& options = {});

// Under MPI, rank 0's inputs on every rank, in one place: the study's counts, store and
// classes, the parameters with TOP_K and the bounds, and the thresholds. The other
// ranks make their store and lists as rank 0 made its own (it has checked them), from
// their own budget.
status share_run_inputs(const team& t, study& loaded, search_model& model, thresholds& cells, memory_budget& budget);

}  // namespace velk
