#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "e2e.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

namespace fs = std::filesystem;

// An earlier result that a failed run must leave byte for byte as it was.
const std::string kEarlier = "Loci\tchi_SQ\tP_value\t#Major_cells\n" + std::string(3000, '#') + "\n";

void write_study(const fs::path& folder) {
  set_up_study(folder, "geno.txt\n",
               {{"geno.txt", "1 2 0 1\n1 2 1 0\n1 2 0 2\n1 1 2 1\n0 0 1 1\n0 0 2 0\n0 0 1 2\n0 1 0 1\n"}},
               "[DISEASEN]\t1\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t0.5\n");
}

// Files of the folder other than the study's own and the run's: a failed run leaves
// none behind.
std::vector<std::string> stray_files(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = entry.path().filename().string();
    if (name != kListFileName && name != "geno.txt" && name != "VELKparameters.txt" &&
        name != "VELKResult.txt" && name != "VELKrun.json" && name != "elsewhere")
      names.push_back(name);
  }
  return names;
}

// The failure's console, with "{dir}" standing for the study folder's full path.
std::string in_folder(std::string text, const fs::path& folder) {
  const size_t at = text.find("{dir}");
  if (at != std::string::npos) text.replace(at, 5, fs::canonical(folder).string());
  return text;
}

// The place of the result file is prepared by each case; `limit` is a file-size limit
// in bytes for the run (0: none). The place is probed before the search: only a device
// that fails its writes, and a file-size limit, are found after it.
TEST(ResultFile, IsReplacedWholeOrNotAtAll) {
  struct row {
    const char* name;
    std::function<void(const fs::path&)> prepare;
    long limit;
    int status;
    std::string err;
  };
  const row rows[] = {
      {"plain", [](const fs::path&) {}, 0, 0, ""},
      {"earlier result", [](const fs::path& p) { write_file(p, kEarlier); }, 0, 0, ""},
      {"full disk", [](const fs::path& p) { fs::create_symlink("/dev/full", p); }, 0, 255,
       "Cannot write the result file!\n"},
      {"directory", [](const fs::path& p) { fs::create_directory(p); }, 0, 255,
       "Cannot create a file to write the result!\nHint: {dir}/VELKResult.txt: Is a directory.\n"},
      {"a link to a missing folder", [](const fs::path& p) { fs::create_symlink("gone/VELKResult.txt", p); }, 0, 255,
       "Cannot create a file to write the result!\nHint: {dir}/gone/VELKResult.txt: No such file or directory.\n"},
      {"a record that cannot be created", [](const fs::path& p) { fs::create_directory(p.parent_path() / "VELKrun.json"); },
       0, 255, "Cannot create a file to write the result!\nHint: {dir}/VELKrun.json: Is a directory.\n"},
      {"file-size limit", [](const fs::path& p) { write_file(p, kEarlier); }, 40, 255,
       "Cannot write the result file!\n"},
  };
  for (const row& r : rows) {
    study_dir dir;
    write_study(dir.path());
    const fs::path result = dir.path() / "VELKResult.txt";
    r.prepare(result);
    const bool had_file = fs::is_regular_file(result);
    const std::string before = had_file ? dir.read("VELKResult.txt") : "";
    run_result run;
    if (r.limit > 0) {
      // The limit is inherited by the program; the test itself never writes past it.
      struct rlimit old;
      getrlimit(RLIMIT_FSIZE, &old);
      struct rlimit limit = {static_cast<rlim_t>(r.limit), old.rlim_max};
      setrlimit(RLIMIT_FSIZE, &limit);
      run = dir.run({"3"});
      setrlimit(RLIMIT_FSIZE, &old);
    } else {
      run = dir.run({"3"});
    }
    EXPECT_EQ(run.status, r.status) << r.name;
    EXPECT_EQ(run.err, in_folder(r.err, dir.path())) << r.name;
    EXPECT_EQ(stray_files(dir.path()), std::vector<std::string>{}) << r.name;
    EXPECT_EQ(fs::is_regular_file(dir.path() / "VELKrun.json"), r.status == 0) << r.name;
    const bool timed = run.out.find("The time used in detecting multi-loci interactions is:") != std::string::npos;
    EXPECT_EQ(timed, r.status == 0) << r.name;
    if (r.status == 0) {
      EXPECT_EQ(dir.read("VELKResult.txt").rfind("Loci\tchi_SQ\tP_value\t#Major_cells\n0 ", 0), 0u) << r.name;
    } else if (had_file) {
      EXPECT_EQ(dir.read("VELKResult.txt"), before) << r.name;
    }
  }
}

// The earlier result and permutation files (the tail's fit too) stay byte for byte when
// a run fails, at any point: what the steps after the search read (VELKstrata.txt) and
// the place of the result are checked before it, and a run with permutations writes its
// result with their files, at the end, all or none. A run that writes a result removes
// permutation files that would describe another one.
TEST(ResultFile, AFailedRunLeavesTheEarlierFilesAsTheyWere) {
  const char* const kPermutations = "[PERMUTES]\t5\n";
  const std::string table = "an earlier table\n", maxima = "an earlier list of maxima\n", tail = "an earlier fit\n";
  enum class after { kept, result_alone, result_and_permutations };
  struct row {
    const char* name;
    const char* parameters;  // added to the study's
    std::string strata;      // VELKstrata.txt; none when empty
    std::function<void(const fs::path&)> prepare;
    long limit;  // a file-size limit in bytes (0: none)
    int status;
    std::string err;
    bool searched;  // the search ran before the failure
    after files;
  };
  const std::string forms =
      "a label (one per individual, in the study's order), IID and label, or FID, IID and label.\n";
  const row rows[] = {
      {"a label missing", kPermutations, "north\nsouth\n", nullptr, 0, 1,
       "File VELKstrata.txt, line 3: the file ends; no label for individual 3 of the study's 8.\n", false,
       after::kept},
      {"four fields", kPermutations, "f i north x\n", nullptr, 0, 1,
       "File VELKstrata.txt, line 1: found 4 fields; a line holds " + forms, false, after::kept},
      {"IID and label for a text study", kPermutations, "i1 north\n", nullptr, 0, 1,
       "File VELKstrata.txt, line 1: lines of IID and label need a first listed file that names its individuals (a "
       "PLINK fileset, a VCF or BCF file); list one label per individual instead.\n",
       false, after::kept},
      {"a result that cannot be created", kPermutations, "",
       [](const fs::path& p) {
         fs::remove(p / "VELKResult.txt");
         fs::create_directory(p / "VELKResult.txt");
       },
       0, 255, "Cannot create a file to write the result!\nHint: {dir}/VELKResult.txt: Is a directory.\n", false,
       after::kept},
      {"a permutation table that cannot be created", kPermutations, "",
       [](const fs::path& p) {
         fs::remove(p / "VELKpermutations.txt");
         fs::create_directory(p / "VELKpermutations.txt");
       },
       0, 255, "Cannot create a file to write the result!\nHint: {dir}/VELKpermutations.txt: Is a directory.\n",
       false, after::kept},
      {"a tail file that cannot be created", kPermutations, "",
       [](const fs::path& p) {
         fs::remove(p / "VELKpermutation_tail.txt");
         fs::create_directory(p / "VELKpermutation_tail.txt");
       },
       0, 255, "Cannot create a file to write the result!\nHint: {dir}/VELKpermutation_tail.txt: Is a directory.\n",
       false, after::kept},
      {"a file-size limit", kPermutations, "", nullptr, 40, 255, "Cannot write the result file!\n", true, after::kept},
      {"without permutations", "", "", nullptr, 0, 0, "", true, after::result_alone},
      {"with permutations and strata", kPermutations, "north\nsouth\nnorth\nsouth\nnorth\nsouth\nnorth\nsouth\n",
       nullptr, 0, 0, "", true, after::result_and_permutations},
  };
  for (const row& r : rows) {
    SCOPED_TRACE(r.name);
    study_dir dir;
    write_study(dir.path());
    dir.write("VELKparameters.txt", dir.read("VELKparameters.txt") + r.parameters);
    if (!r.strata.empty()) dir.write("VELKstrata.txt", r.strata);
    dir.write("VELKResult.txt", kEarlier);
    dir.write("VELKpermutations.txt", table);
    dir.write("VELKpermutation_maxima.txt", maxima);
    dir.write("VELKpermutation_tail.txt", tail);
    if (r.prepare) r.prepare(dir.path());
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    if (r.limit > 0) {
      // Inherited by the program; the test itself never writes past it.
      struct rlimit limit = {static_cast<rlim_t>(r.limit), old.rlim_max};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    const run_result run = dir.run({"3"});
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(run.status, r.status);
    EXPECT_EQ(run.err, in_folder(r.err, dir.path()));
    // (Under a file-size limit standard output, a file here, is cut short too.)
    if (r.limit == 0) {
      EXPECT_EQ(run.out.find("The time used in detecting") != std::string::npos, r.searched) << run.out;
    }
    const auto unless_directory = [&dir](const char* name, const std::string& earlier) {
      return fs::is_directory(dir.path() / name) ? earlier : dir.read(name);
    };
    const std::string result = unless_directory("VELKResult.txt", kEarlier);
    EXPECT_EQ(result == kEarlier, r.files == after::kept);
    EXPECT_EQ(result.rfind("Loci\tchi_SQ\tP_value\t#Major_cells\n0 ", 0) == 0, r.files != after::kept);
    if (r.files == after::kept) {
      EXPECT_EQ(unless_directory("VELKpermutations.txt", table), table);
      EXPECT_EQ(dir.read("VELKpermutation_maxima.txt"), maxima);
      EXPECT_EQ(unless_directory("VELKpermutation_tail.txt", tail), tail);
    } else {
      const bool permuted = r.files == after::result_and_permutations;
      EXPECT_EQ(dir.exists("VELKpermutations.txt"), permuted);
      EXPECT_EQ(dir.exists("VELKpermutation_maxima.txt"), permuted);
      EXPECT_EQ(dir.exists("VELKpermutation_tail.txt"), permuted);
      if (permuted) {
        EXPECT_EQ(dir.read("VELKpermutation_maxima.txt").rfind("1\t", 0), 0u);
        EXPECT_EQ(dir.read("VELKpermutation_tail.txt"), "no_fit\tfewer than 99 permutations\n");
      }
    }
  }
}

TEST(ResultFile, ALinkStaysALinkAndTheFileKeepsItsPermissions) {
  study_dir dir;
  write_study(dir.path());
  fs::create_directory(dir.path() / "elsewhere");
  write_file(dir.path() / "elsewhere" / "kept.txt", kEarlier);
  fs::permissions(dir.path() / "elsewhere" / "kept.txt", fs::perms(0640));
  fs::create_symlink("elsewhere/kept.txt", dir.path() / "VELKResult.txt");
  ASSERT_EQ(dir.run({"3"}).status, 0);
  EXPECT_TRUE(fs::is_symlink(dir.path() / "VELKResult.txt"));
  EXPECT_NE(dir.read("elsewhere/kept.txt"), kEarlier);
  EXPECT_EQ(fs::status(dir.path() / "elsewhere" / "kept.txt").permissions() & fs::perms::all, fs::perms(0640));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path() / "elsewhere"), fs::directory_iterator()), 1);
}

// Real file systems, where the test may mount one (as root): a small tmpfs holding the
// study and an earlier result, filled to the last byte, or made read-only. A read-only
// folder is refused before the search, with the reason; a full one at the write.
TEST(ResultFile, AFullOrReadOnlyFileSystemLeavesTheEarlierResult) {
  const struct {
    const char* name;
    bool fill;
    std::string err;
  } cases[] = {
      {"full", true, "Cannot write the result file!\n"},
      {"read-only", false, "Cannot create a file to write the result!\nHint: {dir}/VELKResult.txt: Read-only file system.\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    const fs::path mounted = dir.path() / "mounted";
    fs::create_directory(mounted);
    if (mount("tmpfs", mounted.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs here";
    write_study(mounted);
    write_file(mounted / "VELKResult.txt", kEarlier);
    if (c.fill) {
      FILE* filler = fopen((mounted / "filler").c_str(), "w");
      std::string block(512, 'x');
      while (filler != nullptr && fwrite(block.data(), 1, block.size(), filler) == block.size() &&
             fflush(filler) == 0) {
      }
      if (filler != nullptr) fclose(filler);
    } else {
      mount(nullptr, mounted.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr);
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const std::string out = (dir.path() / "out").string(), err = (dir.path() / "err").string();
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, mounted.c_str());
    char program[] = VELK_BINARY, top_k[] = "3";
    char* argv[] = {program, top_k, nullptr};
    pid_t pid;
    int wstatus = 0;
    if (posix_spawn(&pid, program, &actions, nullptr, argv, environ) == 0) waitpid(pid, &wstatus, 0);
    posix_spawn_file_actions_destroy(&actions);
    const std::string result = read_file(mounted / "VELKResult.txt");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(mounted)) names.push_back(entry.path().filename().string());
    const std::string expected_err = in_folder(c.err, mounted);
    umount2(mounted.c_str(), MNT_DETACH);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 255);
    EXPECT_EQ(read_file(err), expected_err);
    EXPECT_EQ(result, kEarlier);
    std::sort(names.begin(), names.end());
    std::vector<std::string> expected = {"VELKResult.txt", "VELKinputfiles.txt", "VELKparameters.txt", "geno.txt"};
    if (c.fill) expected.insert(expected.begin() + 3, "filler");
    EXPECT_EQ(names, expected);
  }
}

}  // namespace
}  // namespace velk::testing
