#include "cli/stop_request.h"

#include <gtest/gtest.h>

namespace {

// The flag is process-wide and never cleared, so one test covers the order:
// no request, declined codes, then a request.
TEST(StopRequestTest, HandlerAnswersAndFlag) {
  EXPECT_EQ(0, IsStopRequested());
  EXPECT_FALSE(ConsoleCtrlHandler(CTRL_CLOSE_EVENT));     // 2
  EXPECT_FALSE(ConsoleCtrlHandler(CTRL_LOGOFF_EVENT));    // 5
  EXPECT_FALSE(ConsoleCtrlHandler(CTRL_SHUTDOWN_EVENT));  // 6
  EXPECT_FALSE(ConsoleCtrlHandler(0xFFFFFFFFu));
  EXPECT_EQ(0, IsStopRequested());

  EXPECT_TRUE(ConsoleCtrlHandler(CTRL_BREAK_EVENT));  // 1
  EXPECT_EQ(1, IsStopRequested());
  EXPECT_TRUE(ConsoleCtrlHandler(CTRL_C_EVENT));  // 0, again: still TRUE
  EXPECT_EQ(1, IsStopRequested());
  EXPECT_FALSE(ConsoleCtrlHandler(CTRL_CLOSE_EVENT));
  EXPECT_EQ(1, IsStopRequested());
}

}  // namespace
