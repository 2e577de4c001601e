// The Slurm batch script of examples/slurm, run as Slurm runs it but on this machine:
// srun and scontrol are stubs on PATH. The stub srun starts velk-mpi on two local ranks
// with mpirun and, as srun does, passes a TERM on to every rank; it logs its end, and
// the stub scontrol what it was asked. A run goes to its end without a requeue; a TERM
// to the batch shell, as Slurm sends it before the time limit, leaves a checkpoint and
// a requeue once srun has ended, and the job started again resumes and gives the bytes
// of a plain run; a run that fails is not requeued.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"
#include "plink_study.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

namespace fs = std::filesystem;

TEST(Slurm, BatchScriptParses) {
  study_dir dir;
  const run_result r = dir.run({"-n", VELK_SLURM_SCRIPT}, "/bin/bash");
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
}

#if defined(VELK_MPI_BINARY) && !defined(VELK_SANITIZED)

const char* const kStubSrun = R"(#!/bin/bash
# srun on this machine: its options dropped, the program on two local ranks; a TERM is
# passed on to every rank, as srun passes it to its tasks, and the ranks' status returned.
while [[ $1 == --* ]]; do shift; done
"$VELK_TEST_MPIRUN" -n 2 --oversubscribe "$@" &
launcher=$!
trap 'pkill -TERM -P $launcher' TERM
while kill -0 $launcher 2>/dev/null; do wait $launcher; done
wait $launcher
status=$?
echo "srun ended: $status" >> "$VELK_TEST_SLURM_LOG"
exit $status
)";

const char* const kStubScontrol = R"(#!/bin/bash
echo "scontrol $*" >> "$VELK_TEST_SLURM_LOG"
)";

// The batch script as a job of Slurm's would run it in the study folder, the stubs
// first on PATH; `restarts` is the job's SLURM_RESTART_COUNT. The variables are set by
// the shell itself, since a variable given twice in an environment is the last one
// for bash.
std::vector<std::string> batch_job(const study_dir& dir, int restarts) {
  const fs::path stubs = dir.path().parent_path() / "stubs";
  if (!fs::exists(stubs / "srun")) {
    write_file(stubs / "srun", kStubSrun);
    write_file(stubs / "scontrol", kStubScontrol);
    for (const char* stub : {"srun", "scontrol"})
      fs::permissions(stubs / stub, fs::perms::owner_all, fs::perm_options::add);
  }
  const std::vector<std::string> variables = {
      "PATH=" + stubs.string() + ":$PATH",
      "SLURM_JOB_ID=4242",
      "SLURM_CPUS_PER_TASK=1",
      "SLURM_RESTART_COUNT=" + std::to_string(restarts),
      "VELK=" VELK_MPI_BINARY,
      "TOP_K=20",
      "VELK_CHECKPOINT_SECONDS=0.1",
      "VELK_TEST_MPIRUN=" VELK_MPIRUN,
      "VELK_TEST_SLURM_LOG=" + (dir.path().parent_path() / "slurm.log").string(),
      // Everything on this machine; more ranks than cores wait without spinning.
      "OMPI_MCA_btl=self,vader",
      "OMPI_MCA_oob_tcp_if_include=lo",
      "OMPI_MCA_btl_tcp_if_include=lo",
      "OMPI_ALLOW_RUN_AS_ROOT=1",
      "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1",
      "OMP_WAIT_POLICY=passive"};
  std::string command = "export";
  for (const std::string& v : variables) command += " \"" + v + "\"";
  return {"-c", command + "; exec /bin/bash " VELK_SLURM_SCRIPT};
}

// What the stubs logged since the last call.
std::string take_slurm_log(const study_dir& dir) {
  const fs::path log = dir.path().parent_path() / "slurm.log";
  const std::string logged = fs::exists(log) ? read_file(log) : "";
  fs::remove(log);
  return logged;
}

TEST(Slurm, StoppedJobsAreRequeuedAndResume) {
  using namespace std::chrono_literals;
  // An exhaustive search of order 3 over 700 complete SNPs: a second or two on two ranks.
  study_dir dir;
  const genotype_study s = genotype_study::random(1000, 700, 31, 0.0);
  set_up_study(dir.path(), "g.bed\n", fileset(s, "g", 0, 700),
               "[DISEASEN]\t3\n[ALPHA_RF]\t0.05\n[EXHAUSTV]\t1\n[MAX_PVAL]\t0.9\n");
  const run_result plain = dir.run({"20"});
  ASSERT_EQ(plain.status, 0) << plain.err;
  const std::string want = dir.read("VELKResult.txt");
  fs::remove(dir.path() / "VELKResult.txt");

  // To its end: the result, no requeue.
  const run_result whole = dir.run(batch_job(dir, 0), "/bin/bash");
  EXPECT_EQ(whole.status, 0) << whole.err;
  EXPECT_EQ(dir.read("VELKResult.txt"), want);
  EXPECT_EQ(take_slurm_log(dir), "srun ended: 0\n");
  fs::remove(dir.path() / "VELKResult.txt");

  // Slurm's TERM once the search is under way (its first checkpoint written); a run
  // that ends first is tried again.
  run_result stopped;
  for (int attempt = 0; attempt < 5 && stopped.status != 143; ++attempt) {
    fs::remove(dir.path() / "VELKResult.txt");
    fs::remove(dir.path() / "VELKcheckpoint");
    take_slurm_log(dir);
    stopped = {};
    const pid_t pid = dir.start(batch_job(dir, 0), "/bin/bash");
    while (!dir.exists("VELKcheckpoint") && !dir.ended(pid, stopped)) std::this_thread::sleep_for(1ms);
    if (stopped.status >= 0) continue;  // ended by itself
    kill(pid, SIGTERM);
    stopped = dir.finish(pid);
  }
  ASSERT_EQ(stopped.status, 143) << stopped.err;
  EXPECT_TRUE(dir.exists("VELKcheckpoint"));
  EXPECT_FALSE(dir.exists("VELKResult.txt"));
  EXPECT_EQ(take_slurm_log(dir), "srun ended: 143\nscontrol requeue 4242\n");

  // The requeued job: the same script goes on from the checkpoint, and ends.
  const run_result resumed = dir.run(batch_job(dir, 1), "/bin/bash");
  EXPECT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_NE(resumed.out.find("Resuming from VELKcheckpoint"), std::string::npos) << resumed.out;
  EXPECT_EQ(dir.read("VELKResult.txt"), want);
  EXPECT_FALSE(dir.exists("VELKcheckpoint"));
  EXPECT_EQ(take_slurm_log(dir), "srun ended: 0\n");

  // A run that fails is not requeued: its status is the job's.
  fs::remove(dir.path() / kListFileName);
  const run_result failed = dir.run(batch_job(dir, 0), "/bin/bash");
  EXPECT_EQ(failed.status, 1);
  EXPECT_EQ(take_slurm_log(dir), "srun ended: 1\n");
}

#endif

}  // namespace
}  // namespace velk::testing
