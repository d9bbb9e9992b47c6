// Starts a program with a command line of the caller's choosing, so that a
// test can give the launcher any argv[0] (Wine otherwise always passes the
// full path). Usage: spawn.exe APPLICATION "COMMAND LINE"
// Waits for the child and exits with its exit code; stdio is inherited.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: spawn.exe APPLICATION \"COMMAND LINE\"\n");
    return 100;
  }
  // CreateProcessA may write into the command line buffer.
  char command_line[32768];
  lstrcpynA(command_line, argv[2], sizeof command_line);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(argv[1], command_line, NULL, NULL, TRUE, 0, NULL, NULL, &startup,
                      &process)) {
    std::fprintf(stderr, "spawn: CreateProcess failed: %lu\n", GetLastError());
    return 101;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD exit_code = 102;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(exit_code);
}
