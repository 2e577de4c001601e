// End-to-end tests of the mistakes a first analysis makes, and of the record every
// run leaves: parameter files that draw warnings, under VELK_STRICT refused before the
// study is read; a checkpoint that cannot be written at its first save; and
// VELKrun.json, which says how the result was made.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "e2e.h"
#include "plink_study.h"
#include "study_setup.h"

namespace velk::testing {
namespace {

namespace fs = std::filesystem;

const char* const kEarlier = "an earlier result\n";
const char* const kGeno = "1 2 0 1\n1 2 1 0\n1 2 0 2\n1 1 2 1\n0 0 1 1\n0 0 2 0\n0 0 1 2\n0 1 0 1\n";
const char* const kGood = "[DISEASEN]\t1\n[ALPHA_RF]\t0.05\n[MAX_PVAL]\t0.5\n";

// Each parameter file with its warnings; VELK_STRICT=1 turns them into a refusal
// (status 1) before the study is read, and nothing changes. Without it the run goes on.
TEST(FirstRun, ParameterWarningsAndStrictRuns) {
  const std::string refused = "VELK_STRICT is set: VELKparameters.txt drew 1 warning; the run is refused.\n";
  const struct {
    const char* name;
    std::string parameters;
    std::vector<std::string> env;
    int status;
    std::string err;  // without hints
    bool loaded;
  } cases[] = {
      {"a clean file, strict", kGood, {"VELK_STRICT=1"}, 0, "", true},
      {"a typo, not strict", std::string(kGood) + "[PERMUTE]\t9\n", {}, 0,
       "Warning: VELKparameters.txt, line 4: \"[PERMUTE]\" is no key velk reads; did you mean [PERMUTES]? The line is "
       "ignored.\n",
       true},
      {"a typo, strict", std::string(kGood) + "[PERMUTE]\t9\n", {"VELK_STRICT=1"}, 1,
       "Warning: VELKparameters.txt, line 4: \"[PERMUTE]\" is no key velk reads; did you mean [PERMUTES]? The line is "
       "ignored.\n" + refused,
       false},
      {"punctuation, strict", "[DISEASEN]\t1\n[ALPHA-RF]\t0.05\n[MAX_PVAL]\t0.5\n", {"VELK_STRICT=1"}, 1,
       "Warning: VELKparameters.txt, line 2: \"[ALPHA-RF]\" is no key velk reads; did you mean [ALPHA_RF]? The line is "
       "ignored.\nWarning: VELKparameters.txt sets no [ALPHA_RF]: the tail level of the major cells is then 0, at "
       "which next to no cell can be major; add a line \"[ALPHA_RF] 0.05\" (a level between 0 and 1).\n"
       "VELK_STRICT is set: VELKparameters.txt drew 2 warnings; the run is refused.\n",
       false},
      {"strict off by 0", std::string(kGood) + "[EXHAUST]\t1\n", {"VELK_STRICT=0"}, 0,
       "Warning: VELKparameters.txt, line 4: \"[EXHAUST]\" is no key velk reads; did you mean [EXHAUSTV]? The line is "
       "ignored.\n",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    set_up_study(dir.path(), "geno.txt\n", {{"geno.txt", kGeno}}, c.parameters);
    dir.write("VELKResult.txt", kEarlier);
    const run_result r = dir.run({"3"}, VELK_BINARY, c.env);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(without_hints(r.err), c.err);
    EXPECT_EQ(r.out.find("Input Data") != std::string::npos, c.loaded);
    EXPECT_EQ(dir.read("VELKResult.txt") == kEarlier, c.status != 0);
    EXPECT_EQ(dir.exists("VELKrun.json"), c.status == 0);
  }
}

// A checkpoint that cannot be written at its first save ends the run as an unwritable
// result would, before the search is lost; asked for none, the run goes on. A
// file-size limit lets the result and the record through but not the checkpoint,
// which holds the inputs' fingerprints and the lists.
TEST(FirstRun, AFirstCheckpointThatCannotBeWrittenEndsTheRun) {
  const std::string geno = genotype_study::random(300, 60, 5).text(0, 60);
  const std::string parameters = "[DISEASEN]\t3\n[MULFACTR]\t1000\n[ALPHA_RF]\t0.05\n[MAXGWPVL]\t1\n";
  const struct {
    const char* name;
    const char* interval;
    int status;
  } cases[] = {{"checkpoints asked for", "VELK_CHECKPOINT_SECONDS=0.000001", 255},
               {"none asked for", "VELK_CHECKPOINT_SECONDS=0", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    study_dir dir;
    set_up_study(dir.path(), "geno.txt\n", {{"geno.txt", geno}}, parameters);
    dir.write("VELKResult.txt", kEarlier);
    struct rlimit old;
    getrlimit(RLIMIT_FSIZE, &old);
    struct rlimit limit = {3000, old.rlim_max};  // inherited by the program; the test writes less
    setrlimit(RLIMIT_FSIZE, &limit);
    const run_result r = dir.run({"2"}, VELK_BINARY, {c.interval});
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(r.status, c.status);
    if (c.status != 0) {
      EXPECT_EQ(r.err, "Cannot create a file to write the result!\nHint: " +
                           fs::canonical(dir.path()).string() + "/VELKcheckpoint: File too large.\n");
      EXPECT_EQ(dir.read("VELKResult.txt"), kEarlier);
    } else {
      EXPECT_EQ(r.err, "");
    }
    EXPECT_FALSE(dir.exists("VELKcheckpoint"));
  }
}

// The record: the program, the parameters as read with the defaults marked, the
// study's files and counts, the permutations, and the times.
TEST(FirstRun, TheRunRecordSaysHowTheResultWasMade) {
  study_dir dir;
  set_up_study(dir.path(), "geno.txt\n", {{"geno.txt", kGeno}},
               std::string(kGood) + "[PERMUTES]\t4\n[PERMSEED]\t77\n");
  dir.write("VELKstrata.txt", "a\nb\na\nb\na\nb\na\nb\n");
  const run_result r = dir.run({"3"}, VELK_BINARY, {"OMP_NUM_THREADS=2"});
  ASSERT_EQ(r.status, 0) << r.err;
  const nlohmann::json record = nlohmann::json::parse(dir.read("VELKrun.json"));
  EXPECT_EQ(record["program"], "velk");
  EXPECT_EQ(record["search_path"], "fast");
  EXPECT_EQ(record["threads"], 2);
  EXPECT_EQ(record["ranks"], 1);
  EXPECT_EQ(record["exit_status"], 0);
  const nlohmann::json& p = record["parameters"];
  EXPECT_EQ(p["TOP_K"]["value"], 3);
  EXPECT_EQ(p["[DISEASEN]"], (nlohmann::json{{"value", 1}, {"default", false}}));
  EXPECT_EQ(p["[MAX_PVAL]"], (nlohmann::json{{"value", 0.5}, {"default", false}}));
  EXPECT_EQ(p["[MAXGWPVL]"], (nlohmann::json{{"value", nullptr}, {"default", true}}));
  EXPECT_EQ(p["[MULFACTR]"], (nlohmann::json{{"value", 0}, {"default", true}}));
  EXPECT_EQ(p["[PERMSEED]"]["value"], 77);
  const nlohmann::json& study = record["study"];
  EXPECT_EQ(study["individuals"], 8);
  EXPECT_EQ(study["cases"], 4);
  EXPECT_EQ(study["controls"], 4);
  EXPECT_EQ(study["snps"], 3);
  EXPECT_EQ(study["left_out"], 0);
  std::vector<std::string> names;
  for (const auto& f : study["files"]) names.push_back(f["name"]);
  EXPECT_EQ(names, (std::vector<std::string>{"VELKinputfiles.txt", "geno.txt", "VELKparameters.txt", "VELKstrata.txt"}));
  EXPECT_EQ(study["files"][1]["bytes"], std::string(kGeno).size());
  EXPECT_EQ(record["permutations"], (nlohmann::json{{"count", 4}, {"seed", 77}, {"strata", 2}}));
  EXPECT_GE(record["times"]["search_seconds"].get<double>(), 0.0);
  EXPECT_EQ(record["times"]["start"].get<std::string>().size(), 20u);  // 2026-12-09T10:00:00Z
}

}  // namespace
}  // namespace velk::testing
