// End-to-end test support: a temporary study folder and a way to run the real binary
// in it, capturing standard output, standard error and the exit status.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace velk::testing {

struct run_result {
  int status = -1;  // exit status 0..255, or -1 when killed by a signal
  std::string out;
  std::string err;
};

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline void write_file(const std::filesystem::path& path, const std::string& text) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << text;
}

// Output lines after the three banner lines, the seconds figures replaced by N, which
// is what a test can compare exactly.
inline std::string without_banner(const std::string& out) {
  size_t pos = 0;
  for (int i = 0; i < 3 && pos != std::string::npos; ++i) {
    pos = out.find('\n', pos);
    if (pos != std::string::npos) ++pos;
  }
  std::string rest = pos == std::string::npos ? std::string() : out.substr(pos);
  for (const char* marker : {"(spending ", "is: "}) {
    for (size_t at = rest.find(marker); at != std::string::npos; at = rest.find(marker, at + 1)) {
      size_t digits = at + std::string(marker).size();
      size_t end = digits;
      while (end < rest.size() && (isdigit(static_cast<unsigned char>(rest[end])) || rest[end] == '-')) ++end;
      if (end > digits && rest.compare(end, 8, " seconds") == 0) rest.replace(digits, end - digits, "N");
    }
  }
  return rest;
}

// Standard error without its advice lines (those starting with "Warning: " or "Hint: "),
// as scripts that read the messages see it; tests/driver/advice_test.cpp checks them.
inline std::string without_advice(const std::string& err) {
  std::string kept;
  for (size_t at = 0; at < err.size();) {
    size_t end = err.find('\n', at);
    end = end == std::string::npos ? err.size() : end + 1;
    if (err.compare(at, 9, "Warning: ") != 0 && err.compare(at, 6, "Hint: ") != 0) kept.append(err, at, end - at);
    at = end;
  }
  return kept;
}

// Whether `program` is an executable file in a folder of PATH: the tests that run
// other tools (plink1.9, plink2, bcftools) are skipped without them.
inline bool on_path(const char* program) {
  std::stringstream dirs(getenv("PATH") != nullptr ? getenv("PATH") : "");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && access((dir + "/" + program).c_str(), X_OK) == 0) return true;
  return false;
}

// Standard error without its "Hint: " lines, for comparing the messages and warnings.
inline std::string without_hints(const std::string& err) {
  std::string kept;
  for (size_t at = 0; at < err.size();) {
    size_t end = err.find('\n', at);
    end = end == std::string::npos ? err.size() : end + 1;
    if (err.compare(at, 6, "Hint: ") != 0) kept.append(err, at, end - at);
    at = end;
  }
  return kept;
}

// A fresh folder under the system's temporary directory, removed at the end.
class study_dir {
 public:
  study_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velk-test-XXXXXX").string();
    root_ = mkdtemp(pattern.data());
    dir_ = root_ / "study";
    std::filesystem::create_directories(dir_);
  }
  ~study_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  study_dir(const study_dir&) = delete;
  study_dir& operator=(const study_dir&) = delete;

  const std::filesystem::path& path() const { return dir_; }
  void write(const std::string& name, const std::string& text) const { write_file(dir_ / name, text); }
  std::string read(const std::string& name) const { return read_file(dir_ / name); }
  bool exists(const std::string& name) const { return std::filesystem::exists(dir_ / name); }

  // Runs `program` (the velk binary by default) with `args` in the folder; `env` entries
  // ("NAME=value") are added to the environment.
  run_result run(const std::vector<std::string>& args, const std::string& program = VELK_BINARY,
                 const std::vector<std::string>& env = {}) const {
    return finish(start(args, program, env));
  }

  // The same in the background: start() returns the process (or -1), finish() waits for
  // it and collects what it wrote. One process at a time per folder.
  pid_t start(const std::vector<std::string>& args, const std::string& program = VELK_BINARY,
              const std::vector<std::string>& env = {}) const {
    const std::string out_path = (root_ / "stdout").string();
    const std::string err_path = (root_ / "stderr").string();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, dir_.c_str());
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : storage) argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<std::string> env_storage(env);
    std::vector<char*> envp;
    for (std::string& e : env_storage) envp.push_back(e.data());
    for (char** e = environ; *e != nullptr; ++e) envp.push_back(*e);
    envp.push_back(nullptr);
    pid_t pid;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
  }

  run_result finish(pid_t pid) const {
    run_result result;
    if (pid > 0) {
      int wstatus = 0;
      waitpid(pid, &wstatus, 0);
      result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    }
    result.out = read_file(root_ / "stdout");
    result.err = read_file(root_ / "stderr");
    return result;
  }

  // Whether a started process has ended; if so, `result` holds what finish() gives.
  bool ended(pid_t pid, run_result& result) const {
    int wstatus = 0;
    if (pid <= 0 || waitpid(pid, &wstatus, WNOHANG) != pid) return false;
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    result.out = read_file(root_ / "stdout");
    result.err = read_file(root_ / "stderr");
    return true;
  }

 private:
  std::filesystem::path root_;
  std::filesystem::path dir_;
};

// Runs a shell command in the folder, quietly; false when it fails.
inline bool shell(const study_dir& dir, const std::string& command) {
  const std::string line = "cd '" + dir.path().string() + "' && (" + command + ") >/dev/null 2>&1";
  return std::system(line.c_str()) == 0;
}

}  // namespace velk::testing
