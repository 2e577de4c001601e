// velk-mpi against velk: the same console, status and result bytes for any number of
// ranks and threads, failures reported once. Runs only where MPI was found (the release
// build); the sanitizers would report the MPI library's own allocations.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "random_study.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

#ifdef VELK_MPI_BINARY

// Everything stays on this machine; more ranks than cores wait without spinning.
const std::vector<std::string> kMpiEnvironment = {
    "OMPI_MCA_btl=self,vader",        "OMPI_MCA_oob_tcp_if_include=lo", "OMPI_MCA_btl_tcp_if_include=lo",
    "OMPI_ALLOW_RUN_AS_ROOT=1",       "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1", "OMP_WAIT_POLICY=passive",
    "OMPI_MCA_rmaps_base_oversubscribe=1"};

run_result mpirun(const study_dir& dir, const std::vector<std::string>& args, int threads) {
  std::vector<std::string> env = kMpiEnvironment;
  env.push_back("OMP_NUM_THREADS=" + std::to_string(threads));
  return dir.run(args, VELK_MPIRUN, env);
}

run_result mpirun(const study_dir& dir, int ranks, int threads, const std::string& program,
                  const std::vector<std::string>& args) {
  std::vector<std::string> all = {"-n", std::to_string(ranks), program};
  all.insert(all.end(), args.begin(), args.end());
  return mpirun(dir, all, threads);
}

// Standard error as the program wrote it: the launcher's notes (between lines of
// dashes, after the program's own lines) dropped.
std::string own_lines(const std::string& err) {
  const size_t dashes = err.find("-----");
  return dashes == std::string::npos ? err : err.substr(0, dashes);
}

TEST(Mpi, RanksAndThreadsGiveTheBytesOfOneProcess) {
  std::mt19937_64 rng(1210);
  // Every order, a fileset in the list, a study beyond 1020 individuals, long results,
  // where a candidate lost on a rank would show, exhaustive orders 3 and 4, and focused
  // searches, whose rules rank 0 reads and hands on.
  const study_shape shapes[] = {{1, 0, true},         {2, 0, false, true},      {3, 0, true, true},
                                {4, 0, false, true},    {2, 1100, true},          {3, 0, false},
                                {3, 0, true, true, true}, {4, 0, false, true, true},
                                // Focused searches: a sets file, distances.
                                {2, 0, false, true, false, true, true}, {3, 0, false, true, true, true, false},
                                {4, 0, false, true, false, true, true}};
  struct variant {
    const char* program;
    const char* choice;  // the reference program's implementation and work sizes
    int ranks, threads;
  };
  const variant variants[] = {{VELK_MPI_REFERENCE_BINARY, "fast:40:1:1", 2, 1},
                              {VELK_MPI_REFERENCE_BINARY, "fast:300:2:3000", 3, 2},
                              {VELK_MPI_BINARY, nullptr, 2, 2},
                              {VELK_MPI_BINARY, nullptr, 1, 1}};
  for (const study_shape& shape : shapes) {
    const random_study s = make_random_study(rng, shape);
    study_dir dir;
    s.write(dir);
    const run_result want = dir.run({s.top_k});
    const std::string want_file = result_or_none(dir);
    for (const variant& v : variants) {
      std::filesystem::remove(dir.path() / "VELKResult.txt");
      std::vector<std::string> args;
      if (v.choice != nullptr) args.push_back(v.choice);
      args.push_back(s.top_k);
      const run_result got = mpirun(dir, v.ranks, v.threads, v.program, args);
      SCOPED_TRACE(std::string(v.choice ? v.choice : "velk-mpi") + ", ranks " + std::to_string(v.ranks) +
                   ", threads " + std::to_string(v.threads) + "\n" + s.parameters);
      EXPECT_EQ(got.status, want.status);
      EXPECT_EQ(without_banner(got.out), without_banner(want.out));
      EXPECT_EQ(own_lines(got.err), want.err);
      EXPECT_EQ(result_or_none(dir), want_file);
    }
  }
}

// A failure found by rank 0 is reported once, with velk's status, and no result file.
TEST(Mpi, FailuresOnRankZeroAreReportedOnce) {
  const struct {
    const char* what;
    std::string list, parameters;
    int status;
  } cases[] = {
      {"missing genotype file", "geno.txt\nabsent.txt\n", "[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n", 1},
      {"bound outside the library's domain", "geno.txt\n", "[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t9\n", 255},
  };
  for (const auto& c : cases) {
    study_dir dir;
    set_up_study(dir.path(), c.list,
                 {{"geno.txt", "1 2 0 1\n1 2 1 0\n1 2 0 2\n1 1 2 1\n0 0 1 1\n0 0 2 0\n0 0 1 2\n0 1 0 1\n"}},
                 c.parameters);
    const run_result want = dir.run({"5"});
    const run_result got = mpirun(dir, 3, 1, VELK_MPI_BINARY, {"5"});
    EXPECT_EQ(want.status, c.status) << c.what;
    EXPECT_EQ(got.status, c.status) << c.what;
    EXPECT_EQ(without_banner(got.out), without_banner(want.out)) << c.what;
    EXPECT_EQ(own_lines(got.err), want.err) << c.what;
    EXPECT_FALSE(dir.exists("VELKResult.txt")) << c.what;
  }
}

// The help names the program it came from, and only rank 0 prints it.
TEST(Mpi, HelpNamesVelkMpi) {
  study_dir dir;
  const run_result got = mpirun(dir, 2, 1, VELK_MPI_BINARY, {"--help"});
  EXPECT_EQ(got.status, 0);
  EXPECT_EQ(got.out.rfind("Usage: mpirun -n RANKS velk-mpi TOP_K\n       velk-mpi --help\n", 0), 0u) << got.out;
  EXPECT_EQ(got.out.find("Usage:", 1), std::string::npos);
}

// Rank 1 alone cannot hold the store: an address-space limit below the store plus the
// room the memory budget keeps aside, whatever MPI itself maps. Every rank ends; the
// message is printed once, by rank 1.
TEST(Mpi, AFailureOnOneRankEndsEveryRank) {
  constexpr int kIndividuals = 20000, kSnps = 5000;
  study_dir dir;
  std::string fam, bim;
  for (int d = 0; d < kIndividuals; ++d) fam += "f i" + std::to_string(d) + " 0 0 1 " + (d % 2 ? "2" : "1") + "\n";
  for (int s = 0; s < kSnps; ++s) bim += "1 rs" + std::to_string(s) + " 0 " + std::to_string(s + 1) + " A G\n";
  const std::string bed =
      std::string("\x6C\x1B\x01", 3) + std::string(static_cast<size_t>(kSnps) * kIndividuals / 4, '\0');
  set_up_study(dir.path(), "set.bed\n", {{"set.bed", bed}, {"set.fam", fam}, {"set.bim", bim}},
               "[DISEASEN]\t1\n[ALPHA_RF]\t0.05\n");
  // The store: 5000 SNPs x 3 genotypes x (157 + 157) words of 8 bytes.
  const long store_kb = 3L * kSnps * (157 + 157) * 8 / 1024;
  const std::string limited = "ulimit -v " + std::to_string(store_kb + 47 * 1024) + "; exec " VELK_MPI_BINARY " 3";
  const run_result got = mpirun(dir, {"-n", "1", VELK_MPI_BINARY, "3", ":", "-n", "1", "sh", "-c", limited}, 1);
  EXPECT_EQ(got.status, 255);
  EXPECT_EQ(own_lines(got.err), "Cannot allocate memory!\n");
  EXPECT_FALSE(dir.exists("VELKResult.txt"));
}

#else

TEST(Mpi, NeedsMpi) { GTEST_SKIP() << "built without MPI"; }

#endif

}  // namespace
}  // namespace velk::testing
