#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "e2e.h"

namespace velk::testing {
namespace {

// Eight individuals, three SNPs, one disease locus; the place of the result file is
// prepared by each case.
TEST(ResultFile, FailuresToCreateOrWriteIt) {
  struct row {
    const char* name;
    std::function<void(const std::filesystem::path&)> prepare;
    int status;
    std::string err;
  };
  const row rows[] = {
      {"plain", [](const std::filesystem::path&) {}, 0, ""},
      {"full disk", [](const std::filesystem::path& p) { std::filesystem::create_symlink("/dev/full", p); }, 255,
       "Cannot write the result file!\n"},
      {"directory", [](const std::filesystem::path& p) { std::filesystem::create_directory(p); }, 255,
       "Cannot create a file to write the result!\n"},
  };
  for (const row& r : rows) {
    study_dir dir;
    dir.write("VELKinputfiles.txt", "geno.txt\n");
    dir.write("geno.txt", "1 2 0 1\n1 2 1 0\n1 2 0 2\n1 1 2 1\n0 0 1 1\n0 0 2 0\n0 0 1 2\n0 1 0 1\n");
    dir.write("VELKparameters.txt", "[DISEASEN]\t1\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t0.5\n");
    r.prepare(dir.path() / "VELKResult.txt");
    const run_result run = dir.run({"3"});
    EXPECT_EQ(run.status, r.status) << r.name;
    EXPECT_EQ(run.err, r.err) << r.name;
    const bool timed = run.out.find("The time used in detecting multi-loci interactions is:") != std::string::npos;
    EXPECT_EQ(timed, r.status == 0) << r.name;
    if (r.status == 0) {
      EXPECT_EQ(dir.read("VELKResult.txt").rfind("Loci\tchi_SQ\tP_value\t#Major_cells\n", 0), 0u);
    }
  }
}

}  // namespace
}  // namespace velk::testing
