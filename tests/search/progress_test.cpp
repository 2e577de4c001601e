#include "search/progress.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "e2e.h"
#include "plink_study.h"

namespace velk {
namespace {

TEST(Progress, Text) {
  const struct {
    int order;
    double done, total, seconds;
    const char* text;
  } cases[] = {
      {2, 0, 435, 0, "2 loci: 0.0 % of 435 candidates"},
      {2, 0, 4950, 0.3, "2 loci: 0.0 % of 4.95 k candidates"},
      {3, 250e3, 1e6, 2, "3 loci: 25.0 % of 1 M candidates, 125 k/s, 6 s left"},
      {4, 5e8, 2e9, 100, "4 loci: 25.0 % of 2 G candidates, 5 M/s, 5 min 00 s left"},
      {3, 1e6, 1e10, 10, "3 loci: 0.0 % of 10 G candidates, 100 k/s, 27 h 46 min left"},
      {2, 999, 1000, 1, "2 loci: 99.9 % of 1 k candidates, 999/s, 0 s left"},
  };
  for (const auto& c : cases) EXPECT_EQ(progress_text(c.order, c.done, c.total, c.seconds), c.text);
  // A resumed run's rate and time left are its own; a whole search per unit is slow.
  EXPECT_EQ(progress_text(2, 700, 1000, 10, 600), "2 loci: 70.0 % of 1 k candidates, 10/s, 30 s left");
  EXPECT_EQ(progress_text("permutations", "searches", 21, 99, 50, 17),
            "permutations: 21.2 % of 99 searches, 0.08/s, 16 min 15 s left");
}

namespace e2e = velk::testing;

// Runs `program` in the study folder with standard error on a pseudo-terminal and
// standard output into a file; returns the status, standard output, and what the
// terminal received; nothing when the system has no pseudo-terminal to give.
std::optional<e2e::run_result> run_on_terminal(const e2e::study_dir& dir, const std::string& program,
                                               const std::vector<std::string>& args) {
  e2e::run_result result;
  int master;
  int terminal;
  if (openpty(&master, &terminal, nullptr, nullptr, nullptr) != 0) return std::nullopt;
  termios raw;
  tcgetattr(terminal, &raw);
  cfmakeraw(&raw);  // bytes as written: no line-feed translation
  tcsetattr(terminal, TCSANOW, &raw);
  const std::string out_path = (dir.path().parent_path() / "terminal-run-stdout").string();
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, terminal, 2);
  posix_spawn_file_actions_addclose(&actions, terminal);
  posix_spawn_file_actions_addclose(&actions, master);
  posix_spawn_file_actions_addchdir_np(&actions, dir.path().c_str());
  std::vector<std::string> storage{program};
  storage.insert(storage.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);
  pid_t pid;
  const bool started = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
  posix_spawn_file_actions_destroy(&actions);
  close(terminal);
  // Read while the program runs, so that it never waits on a full terminal; the read
  // fails once the program's end has closed the terminal's last descriptor.
  char block[4096];
  for (ssize_t got; started && (got = read(master, block, sizeof block)) > 0;) result.err.append(block, got);
  close(master);
  if (started) {
    int wstatus = 0;
    waitpid(pid, &wstatus, 0);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
  }
  result.out = e2e::read_file(out_path);
  return result;
}

// The terminal's text cut at carriage returns: each piece is one drawing of the line.
std::vector<std::string> drawings(const std::string& terminal) {
  std::vector<std::string> pieces;
  for (size_t at = 0; at < terminal.size();) {
    const size_t next = terminal.find('\r', at + 1);
    pieces.push_back(terminal.substr(at, next == std::string::npos ? std::string::npos : next - at));
    at = next == std::string::npos ? terminal.size() : next;
  }
  return pieces;
}

TEST(Progress, OnATerminalOnlyAndErasedAtTheEndOfEachLevel) {
  const e2e::genotype_study s = e2e::genotype_study::random(200, 30, 21);
  e2e::study_dir dir;
  dir.write("VELKinputfiles.txt", "g.txt\n");
  dir.write("g.txt", s.text(0, 30));
  dir.write("VELKparameters.txt", "[DISEASEN]\t3\n[MULFACTR]\t5\n[ALPHA_RF]\t0.05\n[MAXGWPVL]\t1\n");
  const e2e::run_result plain = dir.run({"10"});
  ASSERT_EQ(plain.status, 0);
  EXPECT_EQ(plain.err, "");  // not a terminal: nothing added
  // The fast and the straightforward searches report alike.
  const std::vector<std::pair<std::string, std::vector<std::string>>> programs = {
      {VELK_BINARY, {"10"}}, {VELK_REFERENCE_BINARY, {"straightforward", "10"}}};
  for (const auto& [program, args] : programs) {
    SCOPED_TRACE(program);
    const std::optional<e2e::run_result> on_terminal = run_on_terminal(dir, program, args);
    if (!on_terminal) GTEST_SKIP() << "no pseudo-terminal";
    const e2e::run_result& r = *on_terminal;
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(e2e::without_banner(r.out), e2e::without_banner(plain.out));
    // Every drawing redraws the line from its start and clears what is left of an
    // earlier one; the pair level starts at 0 % of its 435 pairs; each level's last
    // drawing is the erasure.
    const std::vector<std::string> lines = drawings(r.err);
    ASSERT_GE(lines.size(), 4u) << r.err;
    std::vector<std::string> levels;
    for (size_t i = 0; i < lines.size(); ++i) {
      const std::string& line = lines[i];
      EXPECT_EQ(line.front(), '\r');
      EXPECT_TRUE(line.ends_with("\033[K")) << line;
      const bool erasure = line == "\r\033[K";
      if (!erasure && (levels.empty() || line.compare(1, 7, levels.back()) != 0)) {
        levels.push_back(line.substr(1, 7));
        EXPECT_TRUE(i == 0 || lines[i - 1] == "\r\033[K") << "a level starts on an erased line";
        EXPECT_NE(line.find(": 0.0 % of "), std::string::npos) << line;
      }
    }
    EXPECT_EQ(lines.front(), "\r2 loci: 0.0 % of 435 candidates\033[K");
    EXPECT_EQ(lines.back(), "\r\033[K");
    EXPECT_EQ(levels, (std::vector<std::string>{"2 loci:", "3 loci:"}));
  }
}

}  // namespace
}  // namespace velk
