// What a name in the list file stands for, and the hints for names that are not what
// their writer meant: a fileset listed by its stem, a .bim or .fam listed in place of
// its .bed, a list file that is not where velk looks for it.
#pragma once

#include <string>

namespace velk {

// The file a listed name stands for: the name itself, or NAME.bed when there is no
// file NAME but NAME.bed is one (a fileset listed by its stem, as plink --bfile takes it).
std::string resolve_listed_name(const std::string& name);

// After a listed file failed to load as text: when it is the .bim or .fam of a fileset
// whose .bed is there, the hint to list the .bed instead; else empty.
std::string listed_companion_hint(const std::string& name);

// After the list file could not be opened (`error` the errno of the attempt): the hint
// naming the folder velk looked in.
std::string list_folder_hint(const char* list_name, int error);

}  // namespace velk
