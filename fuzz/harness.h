// What the fuzz targets share: a working folder, the standard error a failed load
// would print, and the checks of a loaded store.
//
// The targets drive the functions that return a status (the scanner, load_study,
// read_parameters, create_lists, build_thresholds); none of them prints or ends the
// process, so their messages are compared as returned.
#pragma once

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/status.h"
#include "data/genotype_store.h"
#include "data/load_notes.h"
#include "data/study.h"
#include "reference_loader.h"

namespace velk::fuzz {

// Ends the process with a report: libFuzzer and the replay both take it for a finding.
[[noreturn]] inline void violated(const char* what, const std::string& detail = "") {
  fprintf(stderr, "fuzz invariant violated: %s\n%s\n", what, detail.c_str());
  fflush(stderr);
  abort();
}

// The references' display of a field in a message: at most 80 bytes, control bytes
// as '?', "..." when cut.
inline std::string ref_shown(const std::string& field) {
  std::string shown;
  for (size_t i = 0; i < field.size() && i < 80; ++i) {
    const unsigned char c = static_cast<unsigned char>(field[i]);
    shown.push_back(c < 0x20 || c == 0x7F ? '?' : static_cast<char>(c));
  }
  return field.size() > 80 ? shown + "..." : shown;
}

#define FUZZ_CHECK(cond, detail) \
  do {                           \
    if (!(cond)) ::velk::fuzz::violated(#cond, detail); \
  } while (0)

// The input cut at each separator line "@@@@\n" (also the dictionary's first entry).
inline std::vector<std::string> split_parts(const uint8_t* data, size_t size) {
  static const std::string kSeparator = "@@@@\n";
  const std::string all(reinterpret_cast<const char*>(data), size);
  std::vector<std::string> parts;
  size_t start = 0;
  for (size_t at; (at = all.find(kSeparator, start)) != std::string::npos; start = at + kSeparator.size())
    parts.push_back(all.substr(start, at - start));
  parts.push_back(all.substr(start));
  return parts;
}

// A private folder, made once per process, that the inputs' files are written into. The
// reading code opens names relative to the working directory, so each run steps into
// the folder and back out (libFuzzer writes its findings to the directory it started in).
class work_dir {
 public:
  work_dir() {
    char pattern[] = "/tmp/velk-fuzz-XXXXXX";
    if (mkdtemp(pattern) == nullptr) violated("mkdtemp");
    path_ = pattern;
    dir_fd_ = open(pattern, O_RDONLY | O_DIRECTORY);
    home_fd_ = open(".", O_RDONLY | O_DIRECTORY);
    if (dir_fd_ < 0 || home_fd_ < 0) violated("open folders");
  }
  ~work_dir() {
    close(dir_fd_);
    close(home_fd_);
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  work_dir(const work_dir&) = delete;
  work_dir& operator=(const work_dir&) = delete;
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  void write(const std::string& name, const std::string& text) const {
    const int fd = open(file(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd < 0 || ::write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) violated("write", name);
    close(fd);
  }
  void remove(const std::string& name) const { unlink(file(name).c_str()); }
  void enter() const {
    if (fchdir(dir_fd_) != 0) violated("fchdir");
  }
  void leave() const {
    if (fchdir(home_fd_) != 0) violated("fchdir");
  }

 private:
  std::string path_;
  int dir_fd_ = -1;
  int home_fd_ = -1;
};

// What velk writes to standard error for a load: its warnings, then the failure's
// message and hint line (the driver's own closing line left out).
inline std::string load_err(const load_notes& notes, const status& read) {
  std::string err;
  for (const console_note& note : notes.lines)
    if (note.warning) err += "Warning: " + note.text + "\n";
  err += read.message;
  if (!read.hint.empty()) err += "Hint: " + read.hint + "\n";
  return err;
}

// Checks the loaded store: its counts, and every bitset against the genotypes the
// reference read. That covers the invariants of any store: no bit at or beyond case_ct or
// ctrl_ct, the three slots of a SNP disjoint, each individual where its value puts it.
inline void check_store(const study& got, const ref_study& want) {
  const store_shape& shape = got.shape();
  const int snp_ct = shape.snp_ct, sample_ct = shape.sample_ct(), case_ct = shape.case_ct, ctrl_ct = shape.ctrl_ct;
  const int case_word_ct = shape.case_word_ct, ctrl_word_ct = shape.ctrl_word_ct;
  FUZZ_CHECK(snp_ct == want.p && sample_ct == want.n && case_ct == want.case_ct && ctrl_ct == want.ctrl_ct, "counts");
  FUZZ_CHECK(case_word_ct == (case_ct + 63) / 64 && ctrl_word_ct == (ctrl_ct + 63) / 64, "word counts");
  std::vector<long> index(static_cast<size_t>(sample_ct));
  long cases = 0, ctrls = 0;
  for (long r = 0; r < sample_ct; ++r) index[r] = want.is_case[r] ? cases++ : ctrls++;
  std::vector<uint64_t> case_bits(static_cast<size_t>(case_word_ct));
  std::vector<uint64_t> ctrl_bits(static_cast<size_t>(ctrl_word_ct));
  for (long s = 0; s < snp_ct; ++s) {
    for (int g = 0; g < 3; ++g) {
      std::fill(case_bits.begin(), case_bits.end(), 0);
      std::fill(ctrl_bits.begin(), ctrl_bits.end(), 0);
      int case_count = 0, ctrl_count = 0;
      for (long r = 0; r < sample_ct; ++r) {
        if (want.genotype[static_cast<size_t>(s * sample_ct + r)] != g) continue;
        std::vector<uint64_t>& bits = want.is_case[r] ? case_bits : ctrl_bits;
        bits[index[r] / 64] |= uint64_t{1} << (index[r] % 64);
        ++(want.is_case[r] ? case_count : ctrl_count);
      }
      const genotype_slot slot_got = slot(got.store, s, g);
      const std::string where = "SNP " + std::to_string(s) + ", genotype " + std::to_string(g);
      bool same = true;
      for (int w = 0; w < case_word_ct; ++w) same = same && case_bits[w] == slot_got.cases[w];
      FUZZ_CHECK(same, "case bits of " + where);
      for (int w = 0; w < ctrl_word_ct; ++w) same = same && ctrl_bits[w] == slot_got.ctrls[w];
      FUZZ_CHECK(same, "control bits of " + where);
      const genotype_slot cell[1] = {slot_got};
      const cell_count c = count_cell(cell, 1, got.shape());
      FUZZ_CHECK(c.cases == case_count && c.ctrls == ctrl_count, "cell count of " + where);
    }
  }
}

// The checks that hold for any store, for loads the reference cannot predict (a file
// that starts like a PLINK .bed): counts consistent, no bit at or beyond the class
// counts, the three slots of a SNP disjoint.
inline void check_store_shape(const study& got) {
  const store_shape& shape = got.shape();
  const int snp_ct = shape.snp_ct, case_ct = shape.case_ct, ctrl_ct = shape.ctrl_ct;
  const int case_word_ct = shape.case_word_ct, ctrl_word_ct = shape.ctrl_word_ct;
  FUZZ_CHECK(case_ct >= 0 && ctrl_ct >= 0, "class counts");
  FUZZ_CHECK(case_word_ct == (case_ct + 63) / 64 && ctrl_word_ct == (ctrl_ct + 63) / 64, "word counts");
  auto beyond = [](class_bits bits, int words, int count) {
    if (count % 64 == 0) return false;
    return (bits[words - 1] >> (count % 64)) != 0;
  };
  // The lanes of the last block beyond the last SNP stay zero: the kernels count them.
  for (long s = snp_ct; s < got.shape().block_ct() * kLanes; ++s)
    for (int g = 0; g < 3; ++g)
      for (int w = 0; w < case_word_ct + ctrl_word_ct; ++w) FUZZ_CHECK(slot(got.store, s, g).cases[w] == 0, "lane beyond snp_ct");
  for (long s = 0; s < snp_ct; ++s) {
    for (int g = 0; g < 3; ++g) {
      FUZZ_CHECK(!beyond(slot(got.store, s, g).cases, case_word_ct, case_ct), "case bit beyond case_ct");
      FUZZ_CHECK(!beyond(slot(got.store, s, g).ctrls, ctrl_word_ct, ctrl_ct), "control bit beyond ctrl_ct");
    }
    for (int w = 0; w < case_word_ct; ++w) {
      const uint64_t a = slot(got.store, s, 0).cases[w], b = slot(got.store, s, 1).cases[w], c = slot(got.store, s, 2).cases[w];
      FUZZ_CHECK((a & b) == 0 && (a & c) == 0 && (b & c) == 0, "case slots overlap");
    }
    for (int w = 0; w < ctrl_word_ct; ++w) {
      const uint64_t a = slot(got.store, s, 0).ctrls[w], b = slot(got.store, s, 1).ctrls[w], c = slot(got.store, s, 2).ctrls[w];
      FUZZ_CHECK((a & b) == 0 && (a & c) == 0 && (b & c) == 0, "control slots overlap");
    }
  }
}

// A refused load reports exactly one line, which a "Hint: " line may follow.
inline void check_one_message(const std::string& err) {
  const size_t first_end = err.find('\n');
  const std::string rest = first_end == std::string::npos ? "" : err.substr(first_end + 1);
  const bool hint_only = rest.empty() || (rest.starts_with("Hint: ") && rest.find('\n') == rest.size() - 1);
  FUZZ_CHECK(!err.empty() && first_end != std::string::npos && hint_only, err);
}

}  // namespace velk::fuzz
