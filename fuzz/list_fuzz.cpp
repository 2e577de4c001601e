// Fuzz target: a list file with the genotype files it names, loaded by load_study and
// compared with the reference reading.
//
// Input: parts cut at "@@@@\n": the list file's text, then the texts of the files "a",
// "b" and "c", then "a.bim" and "a.fam" (companions of an "a" that starts like a PLINK
// .bed), then VELKphenotypes.txt (the classes of the samples of VCF files); a missing
// part is a file that does not exist. The folder also holds a directory "d" and a FIFO
// "f", and the list file may name itself. A list naming anything else, which could only
// end the run with "Can't open the input file", is not run.
#include <sys/stat.h>

#include <cstdint>
#include <map>
#include <string>

#include "base/memory_budget.h"
#include "data/genotype_input.h"
#include "harness.h"

namespace {

using namespace velk::fuzz;

const char* const kList = "VELKinputfiles.txt";
const char* const kPhenotypes = "VELKphenotypes.txt";
const char* const kFileNames[] = {"a", "b", "c", "a.bim", "a.fam", kPhenotypes};

const work_dir& folder() {
  static const work_dir dir;
  static const bool prepared = [] {
    mkdir(dir.file("d").c_str(), 0700);
    mkfifo(dir.file("f").c_str(), 0600);
    return true;
  }();
  (void)prepared;
  return dir;
}

bool starts_as_bed(const std::string& text) { return text.size() >= 2 && text[0] == 0x6C && text[1] == 0x1B; }

// What htslib takes for a VCF or BCF file, or for a compressed one (read as VCF too).
bool starts_as_vcf(const std::string& text) {
  return text.starts_with("##fileformat=VCF") || text.starts_with("BCF") || text.starts_with("\x1f\x8b");
}

// A refused load's message, less a warning line before it.
std::string without_warning(const std::string& err) {
  return err.starts_with("Warning: ") && err.find('\n') != std::string::npos ? err.substr(err.find('\n') + 1) : err;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  folder();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<std::string> parts = split_parts(data, size);
  std::map<std::string, ref_file> present;
  present[kList] = {kList, true, parts[0]};
  present["d"] = {"d", false, ""};
  present["f"] = {"f", false, ""};
  for (size_t i = 0; i < std::size(kFileNames); ++i)
    if (i + 1 < parts.size()) present[kFileNames[i]] = {kFileNames[i], true, parts[i + 1]};

  std::vector<ref_file> listed;
  bool predictable = true;
  for (const std::string& name : velk::list_names(parts[0])) {
    const auto found = present.find(name);
    if (found == present.end()) return 0;
    listed.push_back(found->second);
    if (found->second.regular && (starts_as_bed(found->second.text) || starts_as_vcf(found->second.text)))
      predictable = false;
  }

  const work_dir& dir = folder();
  dir.write(kList, parts[0]);
  for (size_t i = 0; i < std::size(kFileNames); ++i) {
    if (i + 1 < parts.size())
      dir.write(kFileNames[i], parts[i + 1]);
    else
      dir.remove(kFileNames[i]);
  }

  dir.enter();
  velk::memory_budget budget;
  velk::study got;
  velk::load_notes notes;
  const velk::status read = velk::load_study(kList, budget, got, notes);
  const bool loaded = read.ok();
  const std::string err = load_err(notes, read);
  dir.leave();

  if (listed.empty()) {
    FUZZ_CHECK(!loaded && err == "The list file VELKinputfiles.txt names no genotype file.\n", err);
  } else if (predictable) {
    const ref_study want = ref_load(listed);
    // A phenotype file beside a study without VCF file is not read, and says so.
    const bool warned = present.count(kPhenotypes) != 0 && want.sized;
    const std::string want_err =
        (warned ? "Warning: VELKphenotypes.txt is not read: the study lists no VCF or BCF file.\n" : "") + want.err;
    FUZZ_CHECK(loaded == want.loaded, err + " / expected: " + want_err);
    FUZZ_CHECK(err == want_err, err + " / expected: " + want_err);
    if (want.loaded) check_store(got, want);
  } else {
    if (loaded)
      check_store_shape(got);
    else
      check_one_message(without_warning(err));
  }
  got.store.release();
  FUZZ_CHECK(budget.claimed() == 0, "a claim outlived its block");
  return 0;
}
