#include <gtest/gtest.h>

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

}  // namespace
}  // namespace velk::testing
