// The launcher's fixed sequence: from the instance check to the exit status.
#ifndef ODREL_CLI_LAUNCHER_H_
#define ODREL_CLI_LAUNCHER_H_

#include <string>

#include "cli/odrel_runtime.h"

// Presets |status| to 1 and acquires a RuntimeObject (AcquireRuntime). When
// the status is still 1 and there is an object, initialises it with |argv|,
// |argc| and copies of the four callbacks. Returns the object, or null.
RuntimeObject* StartRuntime(char** argv, int argc, RuntimeCallback1 callback1,
                            RuntimeCallback2 callback2, RuntimeCallback3 callback3,
                            RuntimeCallback4 callback4, int* status);

// True when the runtime's result message marks a failure: it contains
// "Error" or "Fail", byte for byte and case-sensitive.
bool ResultMessageReportsProblem(const std::string& message);

// Runs one start of the launcher and returns its exit status, 0 or 1.
int RunLauncher(int argc, char** argv);

#endif  // ODREL_CLI_LAUNCHER_H_
