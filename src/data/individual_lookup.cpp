#include "data/individual_lookup.h"

#include <string>

namespace velk {

individual_lookup make_individual_lookup(const study_individuals& study) {
  individual_lookup ids;
  ids.by_fam = !study.iid.empty();
  ids.by_sample = !ids.by_fam && !study.sample.empty();
  const long individuals = static_cast<long>(study.classes.size());
  for (long d = 0; d < individuals; ++d) {
    if (ids.by_fam) ids.fam[{study.fid[d], study.iid[d]}] = d;
    if (ids.by_fam && !ids.iid.try_emplace(study.iid[d], d).second) ids.iid[study.iid[d]] = kNamedTwice;
    if (ids.by_sample) ids.sample[study.sample[d]] = d;
  }
  return ids;
}

long find_individual(const individual_lookup& ids, std::string_view fid, std::string_view iid) {
  if (ids.by_fam) {
    const auto found = ids.fam.find({fid, iid});
    return found == ids.fam.end() ? -1 : found->second;
  }
  if (!ids.by_sample) return -1;
  auto found = ids.sample.find(iid);
  if (found == ids.sample.end()) found = ids.sample.find(std::string(fid) + "_" + std::string(iid));
  return found == ids.sample.end() ? -1 : found->second;
}

long find_individual_by_iid(const individual_lookup& ids, std::string_view iid) {
  const std::map<std::string_view, long>& names = ids.by_fam ? ids.iid : ids.sample;
  const auto found = names.find(iid);
  return found == names.end() ? -1 : found->second;
}

}  // namespace velk
