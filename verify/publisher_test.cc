#include "verify/publisher.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// A file that the trust check has accepted always carries a signature, so
// the stop at CryptQueryObject is reached only here. It prints its own line
// and leaves the verdict and the check message as the caller preset them.
TEST(PublisherTest, FileWithoutSignatureStopsAtCryptQueryObject) {
  char this_exe[MAX_PATH];  // unsigned
  ASSERT_NE(0u, GetModuleFileNameA(NULL, this_exe, MAX_PATH));
  const char* paths[] = {this_exe, "C:\\no\\such\\odrelruntime.dll"};
  for (size_t i = 0; i < sizeof(paths) / sizeof(paths[0]); ++i) {
    std::string message = "preset";
    int verdict = -1;
    testing::internal::CaptureStdout();
    VerifyPublisher(paths[i], &message, &verdict);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(-1, verdict) << paths[i];
    EXPECT_EQ("preset", message) << paths[i];
    // %x of the last error: lower-case hexadecimal, no prefix, no leading
    // zeros (Wine reports CRYPT_E_NO_MATCH for both files).
    const std::string label = "CryptQueryObject failed with ";
    ASSERT_EQ(label, printed.substr(0, label.size())) << printed;
    const std::string code = printed.substr(label.size());
    ASSERT_GE(code.size(), 2u) << printed;
    EXPECT_EQ(code.size() - 1, code.find_first_not_of("0123456789abcdef")) << printed;
    EXPECT_NE('0', code[0]) << printed;
    EXPECT_EQ('\n', code[code.size() - 1]) << printed;
  }
}

}  // namespace
