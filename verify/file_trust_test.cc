#include "verify/file_trust.h"

#include <softpub.h>
#include <wintrust.h>

#include <gtest/gtest.h>

namespace {

const char kNotSigned[] = "The file is not signed.";
const char kUnknown[] = "An unknown error occurred trying to verify the signature of the file.";
const char kDistrust[] = "The signature is present, but specifically disallowed.";
const char kNotTrusted[] = "The signature is present, but not trusted.";
const char kSettings[] =
    "CRYPT_E_SECURITY_SETTINGS - The hash representing the subject or the publisher wasn't "
    "explicitly trusted by the admin and admin policy has disabled user trust. No signature, "
    "publisher or timestamp errors.\n";
const char kOther[] = "Error validating file";

// Wine judges only some of these results with real files (no signature, bad
// digest); the rest are reached here.
TEST(FileTrustTest, ResultToReason) {
  const struct {
    LONG result;
    LONG last_error;
    const char* reason;
  } cases[] = {
      {TRUST_E_NOSIGNATURE, TRUST_E_NOSIGNATURE, kNotSigned},
      {TRUST_E_NOSIGNATURE, TRUST_E_SUBJECT_FORM_UNKNOWN, kNotSigned},
      {TRUST_E_NOSIGNATURE, TRUST_E_PROVIDER_UNKNOWN, kNotSigned},
      {TRUST_E_NOSIGNATURE, ERROR_SUCCESS, kUnknown},
      {TRUST_E_NOSIGNATURE, ERROR_FILE_NOT_FOUND, kUnknown},
      {TRUST_E_EXPLICIT_DISTRUST, TRUST_E_NOSIGNATURE, kDistrust},
      {TRUST_E_SUBJECT_NOT_TRUSTED, 0, kNotTrusted},
      {CRYPT_E_SECURITY_SETTINGS, 0, kSettings},
      {TRUST_E_BAD_DIGEST, 0, kOther},
      {CERT_E_UNTRUSTEDROOT, 0, kOther},
      {CERT_E_EXPIRED, 0, kOther},
      {TRUST_E_SUBJECT_FORM_UNKNOWN, 0, kOther},
      {TRUST_E_PROVIDER_UNKNOWN, TRUST_E_NOSIGNATURE, kOther},
      {ERROR_FILE_NOT_FOUND, 0, kOther},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    EXPECT_EQ(cases[i].reason,
              TrustReason(cases[i].result, static_cast<DWORD>(cases[i].last_error)))
        << std::hex << cases[i].result << " / " << cases[i].last_error;
  }
}

TEST(FileTrustTest, MissingFileIsRefused) {
  std::string message = "untouched";
  EXPECT_FALSE(VerifyFileTrust("C:\\no\\such\\odrelruntime.dll", &message));
  EXPECT_NE("untouched", message);
}

}  // namespace
