#include "crash/crash_reporter.h"

#include <gtest/gtest.h>

#include "cli/working_directory.h"
#include "client/windows/crash_generation/crash_generation_server.h"

namespace {

// Both tests use the fixed pipe; the reporters are local ones, not the
// process-wide instance.
TEST(CrashReporterTest, SecondStartCreatesNothingNew) {
  CrashReporter reporter;
  EXPECT_FALSE(reporter.has_server());
  EXPECT_FALSE(reporter.has_handler());
  reporter.Start(TempDirectory() + "\\odrel");
  EXPECT_TRUE(reporter.has_server());
  EXPECT_TRUE(reporter.has_handler());
  reporter.Start(TempDirectory() + "\\odrel");
  EXPECT_TRUE(reporter.has_server());
  EXPECT_TRUE(reporter.has_handler());
}

TEST(CrashReporterTest, BusyPipeLeavesNoServerAndALaterStartRetries) {
  const std::wstring dump_path = L"C:\\";
  google_breakpad::CrashGenerationServer* other = new google_breakpad::CrashGenerationServer(
      kCrashPipeName, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, true, &dump_path);
  ASSERT_TRUE(other->Start());

  CrashReporter reporter;
  reporter.Start(TempDirectory() + "\\odrel");
  EXPECT_FALSE(reporter.has_server());
  EXPECT_TRUE(reporter.has_handler());

  delete other;
  reporter.Start(TempDirectory() + "\\odrel");
  EXPECT_TRUE(reporter.has_server());
  EXPECT_TRUE(reporter.has_handler());
}

}  // namespace
