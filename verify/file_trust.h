// The Authenticode trust check: is the file's signature valid and trusted?
// Who signed it is VerifyPublisher's question.
#ifndef ODREL_VERIFY_FILE_TRUST_H_
#define ODREL_VERIFY_FILE_TRUST_H_

#include <windows.h>

#include <string>

// Asks WinVerifyTrust (Authenticode policy, no UI, no revocation check)
// about the file at |path| (system code page). Returns true when the
// signature is valid and trusted, leaving |check_message| untouched; returns
// false otherwise, with |check_message| set to TrustReason's text. Prints
// nothing.
bool VerifyFileTrust(const char* path, std::string* check_message);

// The reason text for a failed WinVerifyTrust |result|. |last_error| is the
// thread's last error read right after the call; it is looked at only for
// TRUST_E_NOSIGNATURE.
std::string TrustReason(LONG result, DWORD last_error);

#endif  // ODREL_VERIFY_FILE_TRUST_H_
