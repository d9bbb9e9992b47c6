#include "cli/launcher.h"

#include <gtest/gtest.h>

namespace {

TEST(LauncherTest, ResultMessageRule) {
  const struct {
    const char* message;
    bool problem;
  } cases[] = {
      {"", false},
      {"Scan complete", false},
      {"Errors: 0", true},
      {"error", false},
      {"FAILED", false},
      {"ERROR", false},
      {"Failover complete", true},
      {"no problem, but Fail at the end: Fail", true},
      {"x Error", true},
      {"Erro r", false},
      {"Fai", false},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    EXPECT_EQ(cases[i].problem, ResultMessageReportsProblem(cases[i].message)) << cases[i].message;
}

TEST(LauncherTest, ResultMessageRuleSeesPastEmbeddedNul) {
  // The launcher copies up to the NUL, so this cannot happen through
  // GetResultMessage; the rule itself searches the whole string it is given.
  EXPECT_TRUE(ResultMessageReportsProblem(std::string("ok\0Fail", 7)));
}

}  // namespace
