// The per-user working directory that holds the PID file, the downloaded
// runtime library and minidumps.
#ifndef ODREL_CLI_WORKING_DIRECTORY_H_
#define ODREL_CLI_WORKING_DIRECTORY_H_

#include <string>

// What GetTempPathA reports (it ends with a backslash), or the empty string
// when the call fails or the path does not fit in MAX_PATH bytes.
std::string TempDirectory();

// TempDirectory() followed by "odrel\". Recomputed on every call.
std::string WorkingDirectory();

// Tries to create WorkingDirectory(); any failure, "already exists"
// included, is ignored.
void CreateWorkingDirectory();

#endif  // ODREL_CLI_WORKING_DIRECTORY_H_
