// Finding a study's individuals by the IDs that a side file gives (VELKstrata.txt,
// VELKcovariates.txt): a fileset's individuals by FID and IID; a VCF or BCF sample by
// its name, as the IID or as FID_IID (the name PLINK gives a sample when it writes a
// VCF). A study whose first file is a text genotype file names nobody.
#pragma once

#include <map>
#include <string_view>
#include <utility>

#include "data/study.h"

namespace velk {

// Views into the study's IDs: valid while `study` is.
struct individual_lookup {
  bool by_fam = false;     // the first file is a fileset
  bool by_sample = false;  // the first file is a VCF or BCF file
  std::map<std::pair<std::string_view, std::string_view>, long> fam;
  std::map<std::string_view, long> iid;  // a fileset's IIDs alone (kNamedTwice when two share one)
  std::map<std::string_view, long> sample;
};

// What an IID alone finds when two of a fileset's individuals share it.
inline constexpr long kNamedTwice = -2;

individual_lookup make_individual_lookup(const study_individuals& study);

// Whether the study's individuals can be found by ID at all.
inline bool names_individuals(const individual_lookup& ids) { return ids.by_fam || ids.by_sample; }

// The study index of the individual that FID `fid`, IID `iid` names, or -1.
long find_individual(const individual_lookup& ids, std::string_view fid, std::string_view iid);

// The study index of the individual that an IID alone names: a fileset's individual of
// that IID (kNamedTwice when two have it), a VCF sample of that name; or -1.
long find_individual_by_iid(const individual_lookup& ids, std::string_view iid);

}  // namespace velk
