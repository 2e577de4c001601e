// End-to-end tests of inputs that are not what a study should be: special files in the
// list, binary and endless lines, studies too big for the memory. Each must end with
// one clear message and its status, or complete, and never touch an earlier result.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "data/genotype_input.h"
#include "e2e.h"

namespace velk::testing {
namespace {

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer's shadow memory cannot be mapped under an address-space limit, and the
// instrumented reader is several times slower.
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

const char* const kResult = "VELKResult.txt";
const char* const kOldResult = "an earlier result\n";
const char* const kNotLoaded = "The data have not been input correctly!\n";
const char* const kNoMemory = "Cannot allocate memory!\n";
const char* const kNoListMemory = "Cannot alloc memory for top_k_list!\n";
const char* const kStudy = "1 0 1\n0 1 2\n1 2 0\n0 0 0\n";  // two cases, two controls, two SNPs
const char* const kOneLocus = "[DISEASEN] 1\n[ALPHA_RF] 0.05\n";

// A study folder with a small valid study, an earlier result and a run that checks the
// earlier result is left as it was whenever the run fails.
struct hostile_study : study_dir {
  hostile_study() {
    write(kListFileName, "a.txt\n");
    write("a.txt", kStudy);
    write("VELKparameters.txt", kOneLocus);
    write(kResult, kOldResult);
  }
  run_result run_checked(const std::vector<std::string>& args, const std::string& program = VELK_BINARY) {
    const auto before = std::filesystem::last_write_time(path() / kResult);
    const run_result r = run(args, program);
    if (r.status != 0) {
      EXPECT_EQ(read(kResult), kOldResult);
      EXPECT_EQ(std::filesystem::last_write_time(path() / kResult), before);
    }
    return r;
  }
  void write_big(const std::string& name, const std::function<void(std::ofstream&)>& fill) const {
    std::ofstream out(path() / name, std::ios::binary);
    fill(out);
  }
};

struct special_case {
  const char* name;
  std::function<void(hostile_study&)> prepare;
  std::string err;
};

// Names that are no regular file are refused as unreadable before any byte is read from
// them: a FIFO without writer or /dev/zero would otherwise block or never end.
TEST(HostileInput, SpecialFilesInTheListAreRefused) {
  const auto list = [](const std::string& text) { return [text](hostile_study& s) { s.write(kListFileName, text); }; };
  const special_case cases[] = {
      {"a directory",
       [](hostile_study& s) {
         std::filesystem::create_directory(s.path() / "d");
         s.write(kListFileName, "a.txt d");
       },
       "Can't read the input file d\n"},
      {"a FIFO", [](hostile_study& s) { mkfifo((s.path() / "f").c_str(), 0600); s.write(kListFileName, "a.txt\nf\n"); },
       "Can't read the input file f\n"},
      {"a device that never ends", list("/dev/zero\n"), "Can't read the input file /dev/zero\n"},
      {"the list file itself", list("VELKinputfiles.txt\n"), "File VELKinputfiles.txt has no SNP column.\n"},
      {"the list file itself, second", list("a.txt VELKinputfiles.txt\n"),
       "File VELKinputfiles.txt, line 1: \"a.txt\" is not an integer.\nHint: it stands in column 1, the status; "
       "text genotype files hold integers only: the status (0 a control, any other integer a case), then 0, 1 or 2 "
       "per SNP, a missing genotype written as any other integer (-1 or 3, say).\n"},
      {"a list file that is a FIFO",
       [](hostile_study& s) {
         std::filesystem::remove(s.path() / kListFileName);
         mkfifo((s.path() / kListFileName).c_str(), 0600);
       },
       "Can't read the input file VELKinputfiles.txt\n"},
      {"a list file that is a directory",
       [](hostile_study& s) {
         std::filesystem::remove(s.path() / kListFileName);
         std::filesystem::create_directory(s.path() / kListFileName);
       },
       "Can't read the input file VELKinputfiles.txt\n"},
  };
  for (const special_case& c : cases) {
    SCOPED_TRACE(c.name);
    hostile_study s;
    c.prepare(s);
    const run_result r = s.run_checked({"5"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, c.err + kNotLoaded);
  }
}

struct bytes_case {
  const char* name;
  std::string data;
  int status;
  std::string err;
};

TEST(HostileInput, BinaryAndUnendedLines) {
  const std::string kOneClass = "The study has no control: status 0 marks a control, any other integer a case.\n";
  const bytes_case cases[] = {
      {"a NUL byte in a value", std::string("1 0 1\n0 1\0 2\n", 13), 1,
       "File a.txt, line 2: \"1?\" is not an integer.\n" + std::string(kNotLoaded)},
      // One token of a megabyte on one line: a single value, so no SNP column.
      {"a megabyte of NUL bytes", std::string(1 << 20, '\0'), 1,
       "File a.txt has no SNP column.\n" + std::string(kNotLoaded)},
      {"a NUL byte between lines", std::string("1 0 1\n\0\n0 1 2\n", 14), 1,
       "File a.txt, line 2: \"?\" is not an integer.\n" + std::string(kNotLoaded)},
      // Without any line feed the file is one row: one case, a study of one class.
      {"no line feed at all", "1 0 1 2 1 0 2 1 0", 1, kOneClass},
      {"carriage returns only", "1 0 1\r0 1 2\r1 2 0\r", 1, kOneClass},
  };
  for (const bytes_case& c : cases) {
    SCOPED_TRACE(c.name);
    hostile_study s;
    s.write("a.txt", c.data);
    const run_result r = s.run_checked({"5"});
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(without_advice(r.err), c.err);
    if (c.status == 0) {
      EXPECT_EQ(s.read(kResult), "Loci\tchi_SQ\tP_value\t#Major_cells\n");
    }
  }
}

// Lines of hundreds of megabytes are read in blocks, in time proportional to their
// length: one of many values is counted and refused, one of a single endless value is
// a missing genotype.
TEST(HostileInput, LinesOfHundredsOfMegabytes) {
  const long values = kSanitized ? 10'000'000 : 100'000'000;  // 20 or 200 MB
  {
    hostile_study s;
    s.write_big("a.txt", [&](std::ofstream& out) {
      out << "1 0 1\n";
      const std::string chunk(1 << 20, ' ');
      std::string zeros = chunk;
      for (size_t i = 0; i < zeros.size(); i += 2) zeros[i] = '0';
      for (long written = 0; written < values; written += static_cast<long>(zeros.size() / 2)) out << zeros;
      out << "\n1 2 0\n";
    });
    const run_result r = s.run_checked({"5"});
    EXPECT_EQ(r.status, 1);
    const long found = (values + (1 << 19) - 1) / (1 << 19) * (1 << 19);
    EXPECT_EQ(r.err, "File a.txt, line 2: found " + std::to_string(found) + " values, expected 3.\n" + kNotLoaded);
  }
  {
    hostile_study s;
    s.write_big("a.txt", [&](std::ofstream& out) {
      out << "1 0 1\n0 ";
      const std::string sevens(1 << 20, '7');
      for (long written = 0; written < values / 2; written += static_cast<long>(sevens.size())) out << sevens;
      out << " 2\n1 2 0\n0 0 0\n";
    });
    const run_result r = s.run_checked({"5"});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(without_advice(r.err), "");
  }
}

struct memory_case {
  const char* name;
  std::string data;
  std::string parameters;
  std::string top_k;
  std::string err;
  bool loaded;  // whether the count lines were written before the end
};

std::string rows_of(long rows, const std::string& row) {
  std::string text;
  text.reserve(static_cast<size_t>(rows) * row.size());
  for (long i = 0; i < rows; ++i) text += row;
  return text;
}

std::string wide_row(char status, long snps) {
  std::string row(static_cast<size_t>(2 * snps + 2), ' ');
  row[0] = status;
  for (long k = 1; k <= snps; ++k) row[static_cast<size_t>(2 * k)] = '1';
  row.back() = '\n';
  return row;
}

// Under an address-space limit of 128 MB each study below needs at least twice that at
// one allocation, and must end there with its message instead of being killed.
TEST(HostileInput, StudiesBeyondAnAddressSpaceLimitEndAtOnce) {
  if (kSanitized) GTEST_SKIP() << "sanitizer builds cannot run under an address-space limit";
  const std::string three_loci = "[DISEASEN] 3\n[MULFACTR] 1200000\n[ALPHA_RF] 0.05\n";
  const memory_case cases[] = {
      {"a small study fits", kStudy, kOneLocus, "5", "", true},
      {"the store", wide_row('1', 2'700'000) + wide_row('0', 2'700'000), kOneLocus, "5", kNoMemory, true},
      {"the final list", kStudy, kOneLocus, "12000000", kNoListMemory, true},
      {"the level lists", kStudy, three_loci, "10", kNoListMemory, true},
      {"the threshold tables", rows_of(4'000'000, "1 0\n0 1\n"), kOneLocus, "5", kNoMemory, true},
  };
  for (const memory_case& c : cases) {
    SCOPED_TRACE(c.name);
    hostile_study s;
    s.write("a.txt", c.data);
    s.write("VELKparameters.txt", c.parameters);
    const run_result r = s.run_checked({"-c", "ulimit -v 131072 && exec \"$0\" \"$@\"", VELK_BINARY, c.top_k}, "/bin/sh");
    EXPECT_EQ(r.status, c.err.empty() ? 0 : 255);
    EXPECT_EQ(without_advice(r.err), c.err);
    EXPECT_NE(r.out.find("Number of individuals"), std::string::npos);
  }
}

// Level lists whose node arrays together exceed the physical memory, each alone below
// it: calloc would grant both lazily, so the run must refuse them before allocating.
TEST(HostileInput, ListsBeyondThePhysicalMemoryAreRefused) {
  const double physical = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGE_SIZE));
  const double capacity = 0.6 * physical / 24;  // 24 bytes a node, two level lists
  if (capacity > 2147483647.0) GTEST_SKIP() << "more memory than int-sized lists can claim";
  hostile_study s;
  s.write("VELKparameters.txt", "[DISEASEN] 3\n[MULFACTR] " + std::to_string(static_cast<long>(capacity)) + "\n");
  const run_result r = s.run_checked({"1"});
  EXPECT_EQ(r.status, 255);
  EXPECT_EQ(without_advice(r.err), kNoListMemory);
}

struct failure_case {
  const char* name;
  std::function<void(hostile_study&)> prepare;
  std::vector<std::string> args;
  int status;
};

// Every way a run can fail before its search has ended leaves an earlier result file as
// it was (content and time) and creates none where there was none.
TEST(HostileInput, FailedRunsLeaveTheResultFile) {
  const auto parameters = [](const std::string& text) {
    return [text](hostile_study& s) { s.write("VELKparameters.txt", text); };
  };
  const auto nothing = [](hostile_study&) {};
  const failure_case cases[] = {
      {"no argument", nothing, {}, 255},
      {"two arguments", nothing, {"5", "5"}, 255},
      {"no list file", [](hostile_study& s) { std::filesystem::remove(s.path() / kListFileName); }, {"5"}, 1},
      {"no data file", [](hostile_study& s) { s.write(kListFileName, "none.txt"); }, {"5"}, 1},
      {"malformed data", [](hostile_study& s) { s.write("a.txt", "1 0 1\n0 1\n"); }, {"5"}, 1},
      {"no parameter file", [](hostile_study& s) { std::filesystem::remove(s.path() / "VELKparameters.txt"); }, {"5"},
       255},
      {"order beyond four", parameters("[DISEASEN] 5\n"), {"5"}, 255},
      {"negative top_k", nothing, {"-1"}, 255},
      {"numerical domain", parameters("[DISEASEN] 1\n[MAX_PVAL] 5\n"), {"5"}, 255},
  };
  for (const failure_case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      hostile_study s;
      c.prepare(s);
      EXPECT_EQ(s.run_checked(c.args).status, c.status);
    }
    {
      hostile_study s;
      std::filesystem::remove(s.path() / kResult);
      c.prepare(s);
      EXPECT_EQ(s.run(c.args).status, c.status);
      EXPECT_FALSE(s.exists(kResult));
    }
  }
}

}  // namespace
}  // namespace velk::testing
