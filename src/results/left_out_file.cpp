#include "results/left_out_file.h"

namespace velk {

std::optional<std::string> left_out_text(const study_individuals& individuals) {
  if (individuals.left_out.empty()) return std::nullopt;
  std::string text = "#FID\tIID\tREASON\n";
  for (const left_out_individual& d : individuals.left_out) text += d.fid + '\t' + d.iid + '\t' + d.reason + '\n';
  return text;
}

}  // namespace velk
