// The strata of a study (VELKstrata.txt): groups, such as ancestries, within which the
// classes are permuted, so that a marker of a group whose case fraction differs from
// the others' is not taken for an effect.
//
// The file holds one label per individual, in the study's order; or lines "IID LABEL"
// or "FID IID LABEL" (the forms of VELKphenotypes.txt), matched by ID to the
// individuals of the first listed file when it names them (a PLINK fileset by IID, or by
// FID and IID; a VCF or BCF sample by its name as IID, or as IID or FID_IID), in any
// order, lines for individuals not in the study ignored. Every line has the form of the
// first.
// Blank lines are skipped; labels are any text without white space.
#pragma once

#include <vector>

#include "base/status.h"
#include "data/study.h"

namespace velk {

inline constexpr const char* kStrataFileName = "VELKstrata.txt";

// The stratum of every individual (0, 1, ... in the order the labels first appear in
// the study) and the number of strata. Refuses with "File VELKstrata.txt, line N: ..."
// a file with a missing label, an individual named twice, a malformed line, an IID
// that names two individuals of a fileset); a message about the form of a line names
// the forms the file may take.
status read_strata(const char* name, const study_individuals& study, std::vector<int>& stratum, int& strata);

}  // namespace velk
