// The signer check: was the file signed by the expected publisher?
// VerifyFileTrust judges the signature itself and runs first.
#ifndef ODREL_VERIFY_PUBLISHER_H_
#define ODREL_VERIFY_PUBLISHER_H_

#include <windows.h>
#include <wincrypt.h>

#include <string>

// The subject name that the runtime library's signer must carry, compared
// byte for byte.
extern const char kExpectedPublisher[];

// Opens the Authenticode signature embedded in the file at |path|, takes the
// primary signer (index 0), finds its certificate among those carried in the
// signature and checks its subject name with CheckSignerName. Sets |verdict|
// to 0 only when the name is kExpectedPublisher; otherwise leaves it as the
// caller preset it (-1). Sets |check_message| to "No error" once the name
// comparison is reached. A step that fails prints its own diagnostic line and
// leaves both untouched. Paths of MAX_PATH characters or more are refused
// like a path that cannot be converted.
void VerifyPublisher(const char* path, std::string* check_message, int* verdict);

// Returns 1 when the simple display name of |certificate|'s subject is
// kExpectedPublisher, 0 otherwise, including when a name cannot be read
// (which prints "CertGetNameString failed.").
int CheckSignerName(PCCERT_CONTEXT certificate);

#endif  // ODREL_VERIFY_PUBLISHER_H_
