// The stop request: Ctrl+C and Ctrl+Break at the console set a process-wide
// flag that the runtime library polls through its StopCheck.
#ifndef ODREL_CLI_STOP_REQUEST_H_
#define ODREL_CLI_STOP_REQUEST_H_

#include <windows.h>

// A handler routine for SetConsoleCtrlHandler. CTRL_C_EVENT and
// CTRL_BREAK_EVENT set the stop flag and return TRUE (the process goes on);
// every other code returns FALSE at once, leaving it to the system's default.
BOOL WINAPI ConsoleCtrlHandler(DWORD control_type);

// Returns 1 once a stop has been requested, 0 before. Any thread may call it.
int IsStopRequested();

#endif  // ODREL_CLI_STOP_REQUEST_H_
