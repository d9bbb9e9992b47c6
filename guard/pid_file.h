// The single-instance guard: a PID file in the working directory that names
// the running launcher. Advisory only: nothing is locked or held open.
#ifndef ODREL_GUARD_PID_FILE_H_
#define ODREL_GUARD_PID_FILE_H_

#include <string>

// InstanceName and ModuleMatchesInstance, the rules of the check below.
#include "guard/instance_name.h"

// The full path of odrelruntime.pid in the working directory. Every call
// recomputes it and tries to create the working directory first.
std::string PidFilePath();

// True when the process named in the PID file is running an executable whose
// base name matches the instance name of |program_path|. Writes nothing and
// prints nothing.
bool IsAnotherInstanceRunning(const char* program_path);

// The number at the start of the file at |path| (leading white space
// skipped), or 0 when the file is missing, unreadable, empty, not numeric or
// out of the range of a signed 32-bit integer.
int ReadPidFile(const std::string& path);

// Writes the current process ID, in decimal and nothing else, into the PID
// file, replacing its content. Prints a warning when the file cannot be
// opened; the run goes on either way.
void WritePidFile();

// Deletes the PID file if it exists. Silent.
void RemovePidFile();

#endif  // ODREL_GUARD_PID_FILE_H_
