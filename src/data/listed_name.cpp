#include "data/listed_name.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace velk {

namespace {

bool is_regular_file(const std::string& name) {
  struct stat info;
  return stat(name.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

std::string resolve_listed_name(const std::string& name) {
  struct stat info;
  if (stat(name.c_str(), &info) != 0 && errno == ENOENT && is_regular_file(name + ".bed")) return name + ".bed";
  return name;
}

std::string listed_companion_hint(const std::string& name) {
  // Read as text, a .bim fails on its SNP identifiers and a .fam on its family IDs.
  if (name.size() <= 4 || !(name.ends_with(".bim") || name.ends_with(".fam"))) return "";
  const std::string stem = name.substr(0, name.size() - 4);
  if (!is_regular_file(stem + ".bed")) return "";
  return name + " belongs to the PLINK fileset " + stem + ".bed; list " + stem + ".bed (or " + stem + ") in its place.";
}

std::string list_folder_hint(const char* list_name, int error) {
  char folder[4096];
  const std::string where = getcwd(folder, sizeof folder) != nullptr ? std::string(folder) : "the working folder";
  return "velk reads " + std::string(list_name) + " from the folder it runs in, " + where + " (" + strerror(error) +
         "); run velk in the study folder, or write there the list of genotype files, one per line.";
}

}  // namespace velk
