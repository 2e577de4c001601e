#include "base/launcher.h"

#include <cstdlib>

namespace velk {

namespace {

// The variable's value as a count; 0 when it is absent or no number.
long count_of(const char* name) {
  const char* text = getenv(name);
  if (text == nullptr) return 0;
  char* end;
  const long count = strtol(text, &end, 10);
  return end == text ? 0 : count;
}

}  // namespace

std::optional<launched_copies> launched_as_copies() {
  for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMI_SIZE"})
    if (const long count = count_of(name); count > 1) return launched_copies{name, count};
  const long tasks = count_of("SLURM_NTASKS");
  if (tasks > 1 && (getenv("SLURM_STEP_ID") != nullptr || count_of("SLURM_PROCID") > 0))
    return launched_copies{"SLURM_NTASKS", tasks};
  return std::nullopt;
}

}  // namespace velk
