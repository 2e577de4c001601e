#include <gtest/gtest.h>

#include <climits>

#include "run/command_line.h"
#include "e2e.h"

namespace velk::testing {
namespace {

TEST(CommandLine, WrongArgumentCountPrintsUsage) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"3", "4"}}) {
    study_dir dir;
    const run_result r = dir.run(args);
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(without_advice(r.err), "Usage: VELK.exe top_k.\n");
    EXPECT_EQ(r.out.rfind("VELK: ", 0), 0u);
    EXPECT_EQ(without_banner(r.out), "");
    EXPECT_FALSE(dir.exists("VELKResult.txt"));
  }
}

// TOP_K is read as strtol reads it; scripts rely on each of these.
TEST(CommandLine, TopKIsReadLikeStrtol) {
  const struct {
    const char* arg;
    command_kind kind;
    long top_k;
  } cases[] = {
      {"10", command_kind::search, 10},
      {"  10", command_kind::search, 10},     // leading blanks
      {"\t+7", command_kind::search, 7},      // one sign
      {"-3", command_kind::search, -3},        // refused later, with its own message
      {"10abc", command_kind::search, 10},     // digits up to the first other character
      {"010", command_kind::search, 10},       // base 10, no octal
      {"0x10", command_kind::search, 0},       // base 10, no hexadecimal
      {"0", command_kind::search, 0},
      {"99999999999999999999", command_kind::search, LONG_MAX},  // clamped as strtol clamps
      {"abc", command_kind::usage_error, 0},   // no digit read
      {"top10", command_kind::usage_error, 0},
      {"", command_kind::usage_error, 0},
      {"+", command_kind::usage_error, 0},
      {"-h", command_kind::help, 0},
      {"--help", command_kind::help, 0},
  };
  for (const auto& c : cases) {
    char* argv[] = {const_cast<char*>("velk"), const_cast<char*>(c.arg), nullptr};
    const command_line line = parse_command_line(2, argv);
    EXPECT_EQ(line.kind, c.kind) << '"' << c.arg << '"';
    if (c.kind == command_kind::search) {
      EXPECT_EQ(line.top_k, c.top_k) << '"' << c.arg << '"';
    }
  }
}

// velk started as several copies by an MPI launcher ends before reading anything, even
// the command line; one copy, or a batch script of several tasks that runs velk itself,
// runs. (velk-mpi under mpirun is never refused: the MPI tests run it.)
TEST(CommandLine, SeveralCopiesUnderALauncherAreRefused) {
  const struct {
    std::vector<std::string> env;
    const char* variable;  // the one the message names; null when velk runs
  } cases[] = {
      {{"OMPI_COMM_WORLD_SIZE=2"}, "OMPI_COMM_WORLD_SIZE says 2 "},
      {{"PMI_SIZE=3"}, "PMI_SIZE says 3 "},
      {{"SLURM_NTASKS=4", "SLURM_STEP_ID=0", "SLURM_PROCID=0"}, "SLURM_NTASKS says 4 "},
      {{"SLURM_NTASKS=4", "SLURM_PROCID=3"}, "SLURM_NTASKS says 4 "},
      {{"OMPI_COMM_WORLD_SIZE=1", "PMI_SIZE=1"}, nullptr},
      {{"SLURM_NTASKS=4", "SLURM_PROCID=0"}, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.env[0]);
    study_dir dir;
    const run_result r = dir.run({"--help"}, VELK_BINARY, c.env);
    if (c.variable == nullptr) {
      EXPECT_EQ(r.status, 0);
      continue;
    }
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err.rfind("velk is one process, and ", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(c.variable), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("velk-mpi"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace velk::testing
