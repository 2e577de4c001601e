// Long runs that are stopped: killed at several points of a pair search and of a
// three-locus level, every resumed run ends with the bytes of an uninterrupted one,
// whatever the threads (and ranks) of the runs; checkpoints that are cut, changed or
// belong to other inputs are ignored with a warning. The kill tests run in the release
// build only, where timings are steady.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "e2e.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A study from the benchmark generator: `individuals` x `snps`, genotypes as a fileset.
void make_study(const study_dir& dir, int individuals, int snps, const std::string& parameters) {
  std::string fam, bim, bed = {'\x6C', '\x1B', '\x01'};
  uint64_t state = 2026;
  const auto next = [&state] {  // a small generator: the test needs variety, not quality
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<unsigned>(state >> 33);
  };
  for (int d = 0; d < individuals; ++d) fam += "f i" + std::to_string(d) + " 0 0 1 " + (d % 2 ? "2" : "1") + "\n";
  for (int s = 0; s < snps; ++s) {
    bim += "1 rs" + std::to_string(s) + " 0 " + std::to_string(s + 1) + " A G\n";
    for (int b = 0; b < (individuals + 3) / 4; ++b) {
      unsigned byte = 0;
      for (int k = 0; k < 4; ++k) {
        const unsigned r = next() % 100;
        byte |= (r < 1 ? 1u : r < 30 ? 0u : r < 70 ? 2u : 3u) << (2 * k);  // 1 % missing
      }
      bed += static_cast<char>(byte);
    }
  }
  set_up_study(dir.path(), "set.bed\n", {{"set.bed", bed}, {"set.bim", bim}, {"set.fam", fam}}, parameters);
}


// How a run is started: the program, and the arguments before TOP_K.
struct launcher {
  std::string program;
  std::vector<std::string> args;
  bool mpi = false;
};

// velk, and velk-mpi on two ranks where it is built (for the kill tests, which the
// sanitizer builds leave out).
[[maybe_unused]] std::vector<launcher> every_launcher() {
  std::vector<launcher> launchers = {{VELK_BINARY, {}, false}};
#ifdef VELK_MPI_BINARY
  launchers.push_back({VELK_MPIRUN, {"-n", "2", "--oversubscribe", VELK_MPI_BINARY}, true});
#endif
  return launchers;
}

#ifndef VELK_SANITIZED

std::string without_resume_line(const std::string& out) {
  const size_t at = out.find("Resuming from VELKcheckpoint");
  return at == std::string::npos ? out : out.substr(0, at) + out.substr(out.find('\n', at) + 1);
}

// The processes started by `pid`, and theirs (MPI ranks under mpirun).
std::vector<pid_t> descendants(pid_t pid) {
  std::vector<pid_t> found = {pid};
  for (size_t i = 0; i < found.size(); ++i) {
    for (const auto& entry : fs::directory_iterator("/proc")) {
      const std::string name = entry.path().filename().string();
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      const std::string stat = read_file(entry.path() / "stat");
      const size_t paren = stat.rfind(')');
      if (paren == std::string::npos) continue;
      long ppid = 0;
      if (sscanf(stat.c_str() + paren + 1, " %*c %ld", &ppid) == 1 && ppid == found[i]) found.push_back(std::stoi(name));
    }
  }
  found.erase(found.begin());
  return found;
}

// Kills a run and everything it started at once, as a job scheduler or a failing node
// does, and waits until none of them is left. Returns the run (which may have ended by
// itself just before).
run_result kill_run(const study_dir& dir, pid_t pid) {
  const std::vector<pid_t> others = descendants(pid);
  kill(pid, SIGKILL);
  for (pid_t other : others) kill(other, SIGKILL);
  const run_result killed = dir.finish(pid);
  // Gone, or a zombie that whoever adopted it has not reaped yet.
  const auto alive = [](pid_t other) {
    const std::string stat = read_file("/proc/" + std::to_string(other) + "/stat");
    const size_t paren = stat.rfind(')');
    return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] != 'Z';
  };
  const auto give_up = std::chrono::steady_clock::now() + 10s;
  for (pid_t other : others)
    while (alive(other) && std::chrono::steady_clock::now() < give_up) std::this_thread::sleep_for(5ms);
  return killed;
}

// Kills runs with SIGKILL `delays` after each new checkpoint, resuming each time, until
// a run ends by itself; returns that run, with the kills made and the runs that resumed.
run_result kill_and_resume(const study_dir& dir, const launcher& how, const std::string& top_k,
                           const std::vector<std::chrono::milliseconds>& delays, int& kills, int& resumed) {
  kills = resumed = 0;
  const fs::path checkpoint = dir.path() / "VELKcheckpoint";
  for (size_t k = 0;; ++k) {
    // Threads change from run to run: a resumed run need not match the killed one.
    const std::vector<std::string> env = {
        "VELK_CHECKPOINT_SECONDS=0.1", "OMP_WAIT_POLICY=passive", "OMP_NUM_THREADS=" + std::to_string(1 + k % 2),
        "OMPI_MCA_btl=self,vader", "OMPI_MCA_oob_tcp_if_include=lo", "OMPI_MCA_btl_tcp_if_include=lo",
        "OMPI_ALLOW_RUN_AS_ROOT=1", "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1"};
    std::vector<std::string> args = how.args;
    args.push_back(top_k);
    const bool had_checkpoint = dir.exists("VELKcheckpoint");
    const fs::file_time_type seen = had_checkpoint ? fs::last_write_time(checkpoint) : fs::file_time_type{};
    const pid_t pid = dir.start(args, how.program, env);
    run_result done;
    const auto ends = [&] {
      if (!dir.ended(pid, done)) return false;
      resumed += done.out.find("Resuming from VELKcheckpoint") != std::string::npos;
      return true;
    };
    if (k == delays.size()) {
      done = dir.finish(pid);
      resumed += done.out.find("Resuming from VELKcheckpoint") != std::string::npos;
      return done;
    }
    // A new checkpoint of this run, or its end.
    while (!dir.exists("VELKcheckpoint") || fs::last_write_time(checkpoint) == seen) {
      if (ends()) return done;
      std::this_thread::sleep_for(5ms);
    }
    std::this_thread::sleep_for(delays[k]);
    if (ends()) return done;
    done = kill_run(dir, pid);
    if (done.status == 0) {  // it ended by itself before the kill
      resumed += done.out.find("Resuming from VELKcheckpoint") != std::string::npos;
      return done;
    }
    ++kills;
    resumed += had_checkpoint;
  }
}

// What a run writes besides its console; the permutation files (the tail's fit among
// them) only where asked for.
std::string outputs(const study_dir& dir) {
  std::string all = dir.read("VELKResult.txt");
  for (const char* name : {"VELKpermutations.txt", "VELKpermutation_maxima.txt", "VELKpermutation_tail.txt"})
    if (dir.exists(name)) all += std::string("\n== ") + name + "\n" + dir.read(name);
  return all;
}

// Standard output less the resume line, and the counts and seconds of the permutation
// line, which a resumed run gives for itself ("30 of 40 searches ... in this run").
std::string console(const std::string& out) {
  std::string text = without_banner(without_resume_line(out));
  const size_t at = text.find("Permutations: ");
  if (at != std::string::npos) text.replace(at, text.find(";", at) - at, "Permutations: N");
  return text;
}

TEST(Checkpoint, KilledRunsResumeToTheBytesOfAnUninterruptedRun) {
  const struct {
    const char* what;
    int individuals, snps;
    const char* parameters;
    const char* top_k;
  } studies[] = {
      {"pair search", 1000, 8000, "[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t0.9\n", "100"},
      {"three-locus level", 600, 2500, "[DISEASEN]\t3\n[MULFACTR]\t60\n[ALPHA_RF]\t0.05\n[MAXGWPVL]\t1\n", "100"},
      {"exhaustive three-locus search", 600, 500,
       "[DISEASEN]\t3\n[EXHAUSTV]\t1\n[ALPHA_RF]\t0.05\n[MAXGWPVL]\t1\n", "100"},
      {"permutations", 400, 1500, "[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t0.9\n[PERMUTES]\t100\n", "20"},
  };
  const std::vector<launcher> launchers = every_launcher();
  for (const auto& s : studies) {
    study_dir dir;
    make_study(dir, s.individuals, s.snps, s.parameters);
    const run_result want = dir.run({s.top_k}, VELK_BINARY, {"VELK_CHECKPOINT_SECONDS=0"});
    ASSERT_EQ(want.status, 0) << want.err;
    const std::string want_file = outputs(dir);
    for (const launcher& how : launchers) {
      SCOPED_TRACE(std::string(s.what) + (how.mpi ? ", 2 ranks" : ""));
      for (const char* name :
           {"VELKResult.txt", "VELKpermutations.txt", "VELKpermutation_maxima.txt", "VELKpermutation_tail.txt"})
        fs::remove(dir.path() / name);
      int kills = 0, resumed = 0;
      const run_result got = kill_and_resume(dir, how, s.top_k, {0ms, 150ms, 300ms}, kills, resumed);
      EXPECT_EQ(got.status, 0) << got.err;
      // Killed at least once after a checkpoint, and resumed from one. (A kill may also
      // land after a run's last write, when it has nothing left to resume.)
      EXPECT_GE(kills, 1);
      EXPECT_GE(resumed, 1);
      EXPECT_EQ(console(got.out), console(want.out));
      EXPECT_EQ(outputs(dir), want_file);
      EXPECT_FALSE(dir.exists("VELKcheckpoint"));
    }
  }
}

// SIGTERM, which a batch system sends at its time limit, stops a run at the next band
// (also inside a permutation's search, which is then abandoned) with a last checkpoint,
// status 143 and a line that says so; the earlier result files stay as they were, the
// log holds the lines written so far, and the run started again ends with the bytes of
// an uninterrupted one. Under MPI every rank gets the signal, as from srun or scancel.
TEST(Checkpoint, SigtermStopsWithACheckpointFromWhichTheRunResumes) {
  const struct {
    const char* what;
    int individuals, snps;
    const char* parameters;
    // Signalled this long after the permutations begin (the line before them is out);
    // nullptr: once the search has written its first checkpoint.
    const char* signalled_in;
    std::chrono::milliseconds delay;
    const char* resumes;  // the resume line expected after the stop, or nullptr
  } studies[] = {
      {"pair search", 1000, 8000, "[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t0.9\n", nullptr, 0ms, nullptr},
      {"permutations", 400, 1500, "[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t0.9\n[PERMUTES]\t40\n", nullptr, 0ms,
       nullptr},
      // Each permutation a search of seconds: both are under way when the signal comes
      // (one per rank under MPI), and both are abandoned within a band.
      {"a permutation under way", 600, 900,
       "[DISEASEN]\t3\n[EXHAUSTV]\t1\n[ALPHA_RF]\t0.05\n[MAXGWPVL]\t1\n[PERMUTES]\t2\n", "The time used in detecting",
       300ms, "Resuming from VELKcheckpoint: the permutations, 0 of 2 done.\n"},
  };
  const std::vector<std::string> env = {
      "VELK_CHECKPOINT_SECONDS=0.1", "OMP_WAIT_POLICY=passive", "OMP_NUM_THREADS=1",
      "OMPI_MCA_btl=self,vader",     "OMPI_MCA_oob_tcp_if_include=lo", "OMPI_MCA_btl_tcp_if_include=lo",
      "OMPI_ALLOW_RUN_AS_ROOT=1",    "OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1"};
  const std::string earlier = "an earlier result\n";
  const std::vector<launcher> launchers = every_launcher();
  for (const auto& s : studies) {
    study_dir dir;
    make_study(dir, s.individuals, s.snps, s.parameters);
    const run_result want = dir.run({"20"}, VELK_BINARY, {"VELK_CHECKPOINT_SECONDS=0"});
    ASSERT_EQ(want.status, 0) << want.err;
    const std::string want_files = outputs(dir);
    for (const launcher& how : launchers) {
      SCOPED_TRACE(std::string(s.what) + (how.mpi ? ", 2 ranks" : ""));
      std::vector<std::string> args = how.args;
      args.push_back("20");
      // Signalled once its search is under way (its first checkpoint written); a run
      // that ends first is tried again.
      run_result stopped;
      for (int attempt = 0; attempt < 5 && stopped.status != 143; ++attempt) {
        for (const char* name :
             {"VELKpermutations.txt", "VELKpermutation_maxima.txt", "VELKpermutation_tail.txt", "VELKcheckpoint"})
          fs::remove(dir.path() / name);
        dir.write("VELKResult.txt", earlier);
        stopped = {};
        const pid_t pid = dir.start(args, how.program, env);
        const auto signal_due = [&] {
          if (s.signalled_in == nullptr) return dir.exists("VELKcheckpoint");
          return read_file(dir.path().parent_path() / "stdout").find(s.signalled_in) != std::string::npos;
        };
        while (!signal_due() && !dir.ended(pid, stopped)) std::this_thread::sleep_for(1ms);
        std::this_thread::sleep_for(s.delay);
        if (stopped.status >= 0 || dir.ended(pid, stopped)) continue;  // ended by itself
        // Standard output reaches a file line by line: a run killed now leaves its log.
        if (!how.mpi) {
          EXPECT_NE(read_file(dir.path().parent_path() / "stdout").find("Begin Epistasis Detecting"),
                    std::string::npos);
        }
        const auto signalled = std::chrono::steady_clock::now();
        if (how.mpi)
          for (pid_t rank : descendants(pid)) kill(rank, SIGTERM);
        else
          kill(pid, SIGTERM);
        stopped = dir.finish(pid);
        // Well within a batch system's grace time (Slurm's is 30 s); not a measurement.
        EXPECT_LT(std::chrono::steady_clock::now() - signalled, 3s);
      }
      ASSERT_EQ(stopped.status, 143) << stopped.err;
      EXPECT_EQ(stopped.err.rfind("Stopped by SIGTERM: a checkpoint was written to VELKcheckpoint; the same "
                                  "command in this folder goes on from there.\n", 0), 0u) << stopped.err;
      EXPECT_EQ(dir.read("VELKResult.txt"), earlier);
      EXPECT_FALSE(dir.exists("VELKpermutations.txt"));
      const run_result resumed = dir.run(args, how.program, env);
      EXPECT_EQ(resumed.status, 0) << resumed.err;
      EXPECT_NE(resumed.out.find(s.resumes != nullptr ? s.resumes : "Resuming from VELKcheckpoint"), std::string::npos)
          << resumed.out;
      EXPECT_EQ(console(resumed.out), console(want.out));
      EXPECT_EQ(outputs(dir), want_files);
      EXPECT_FALSE(dir.exists("VELKcheckpoint"));
    }
  }
}

#endif

// A checkpoint that does not belong to the run, or is not whole, is ignored with one
// warning, and the run gives the uninterrupted result.
TEST(Checkpoint, StaleOrDamagedCheckpointsAreIgnored) {
  study_dir dir;
  make_study(dir, 400, 3000, "[DISEASEN]\t2\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t0.9\n");
  const run_result want = dir.run({"50"}, VELK_BINARY, {"VELK_CHECKPOINT_SECONDS=0"});
  ASSERT_EQ(want.status, 0);
  const std::string want_file = dir.read("VELKResult.txt");
  // A checkpoint of this run, from a run killed halfway.
  std::string checkpoint;
  for (int tries = 0; tries < 50 && checkpoint.empty(); ++tries) {
    const pid_t pid = dir.start({"50"}, VELK_BINARY, {"VELK_CHECKPOINT_SECONDS=0.01", "OMP_NUM_THREADS=1"});
    const auto give_up = std::chrono::steady_clock::now() + 10s;
    while (!dir.exists("VELKcheckpoint") && std::chrono::steady_clock::now() < give_up)
      std::this_thread::sleep_for(1ms);
    kill(pid, SIGKILL);
    dir.finish(pid);
    if (dir.exists("VELKcheckpoint")) checkpoint = dir.read("VELKcheckpoint");
  }
  ASSERT_FALSE(checkpoint.empty());
  const std::string bim = dir.read("set.bim");
  const fs::file_time_type bim_time = fs::last_write_time(dir.path() / "set.bim");
  const struct {
    const char* what;
    std::string checkpoint;
    std::string bim;  // the .bim at the time of the resumed run
    const char* warning;
  } cases[] = {
      {"cut short", checkpoint.substr(0, checkpoint.size() / 2), bim, "is damaged"},
      {"one byte changed", checkpoint.substr(0, 60) + char(checkpoint[60] ^ 1) + checkpoint.substr(61), bim,
       "is damaged"},
      {"an input changed since", checkpoint, bim + "\n", "belongs to another run (set.bim has changed)"},
      {"not a checkpoint", "Loci\tchi_SQ\n", bim, "is not a checkpoint"},
  };
  for (const auto& c : cases) {
    dir.write("VELKcheckpoint", c.checkpoint);
    dir.write("set.bim", c.bim);
    fs::remove(dir.path() / "VELKResult.txt");
    const run_result got = dir.run({"50"}, VELK_BINARY, {"VELK_CHECKPOINT_SECONDS=0"});
    EXPECT_EQ(got.status, 0) << c.what;
    EXPECT_EQ(got.err.rfind(std::string("Warning: VELKcheckpoint ") + c.warning, 0), 0u) << c.what << ": " << got.err;
    EXPECT_EQ(std::count(got.err.begin(), got.err.end(), '\n'), 1) << c.what;
    EXPECT_EQ(without_banner(got.out), without_banner(want.out)) << c.what;
    EXPECT_EQ(dir.read("VELKResult.txt"), want_file) << c.what;
    EXPECT_FALSE(dir.exists("VELKcheckpoint")) << c.what;
  }
  // The checkpoint itself resumes, once its inputs are as they were.
  dir.write("VELKcheckpoint", checkpoint);
  fs::last_write_time(dir.path() / "set.bim", bim_time);
  const run_result resumed = dir.run({"50"}, VELK_BINARY, {"VELK_CHECKPOINT_SECONDS=0"});
  EXPECT_NE(resumed.out.find("Resuming from VELKcheckpoint"), std::string::npos);
  EXPECT_EQ(dir.read("VELKResult.txt"), want_file);
}

}  // namespace
}  // namespace velk::testing
