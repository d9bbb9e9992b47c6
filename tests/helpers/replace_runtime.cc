// The writer of the file hold test. Starts the launcher with its output on a
// pipe and copies that output to its own. As soon as the launcher announces
// "Verifying digital signature of ", it tries, for about a second, to change
// RUNTIME in every way a writer could: open it for writing, delete it,
// rename it, and replace it with DECOY. The launcher cannot get past
// LoadLibraryA meanwhile (the probe runtime waits in DllMain for the event
// OdrelHoldProbeRelease, set afterwards), so every try falls inside the
// window between the checks and the load.
// Usage: replace_runtime.exe RUNTIME DECOY LAUNCHER "COMMAND LINE"
// Prints "<try>: refused <error>" or "<try>: done" once per kind of try on
// stderr, and exits with the launcher's exit code.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const char kAnnounce[] = "Verifying digital signature of ";

struct Outcome {
  const char* name;
  bool done;
  DWORD error;
};

bool TryOnce(const char* what, const std::string& runtime, const std::string& decoy) {
  if (std::strcmp(what, "open for writing") == 0) {
    HANDLE file = CreateFileA(runtime.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
      return false;
    CloseHandle(file);
    return true;
  }
  if (std::strcmp(what, "delete") == 0)
    return DeleteFileA(runtime.c_str()) != 0;
  if (std::strcmp(what, "rename") == 0)
    return MoveFileExA(runtime.c_str(), (runtime + ".moved").c_str(), 0) != 0;
  return MoveFileExA(decoy.c_str(), runtime.c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

void TryToChange(const std::string& runtime, const std::string& decoy) {
  Outcome outcomes[] = {{"open for writing", false, 0},
                        {"delete", false, 0},
                        {"rename", false, 0},
                        {"replace", false, 0}};
  for (int round = 0; round < 20; ++round) {
    for (size_t i = 0; i < sizeof outcomes / sizeof outcomes[0]; ++i) {
      if (outcomes[i].done)
        continue;
      if (TryOnce(outcomes[i].name, runtime, decoy))
        outcomes[i].done = true;
      else
        outcomes[i].error = GetLastError();
    }
    Sleep(50);
  }
  for (size_t i = 0; i < sizeof outcomes / sizeof outcomes[0]; ++i) {
    if (outcomes[i].done)
      std::fprintf(stderr, "%s: done\n", outcomes[i].name);
    else
      std::fprintf(stderr, "%s: refused %lu\n", outcomes[i].name, outcomes[i].error);
  }
  std::fflush(stderr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: replace_runtime.exe RUNTIME DECOY LAUNCHER \"COMMAND LINE\"\n");
    return 100;
  }
  // The launcher's output goes through byte for byte.
  _setmode(_fileno(stdout), _O_BINARY);
  const std::string runtime = argv[1];
  const std::string decoy = argv[2];
  HANDLE release = CreateEventA(NULL, TRUE, FALSE, "OdrelHoldProbeRelease");
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, NULL, TRUE};
  HANDLE read_end = NULL;
  HANDLE write_end = NULL;
  if (release == NULL || !CreatePipe(&read_end, &write_end, &inheritable, 0))
    return 101;
  SetHandleInformation(read_end, HANDLE_FLAG_INHERIT, 0);

  char command_line[32768];
  lstrcpynA(command_line, argv[4], sizeof command_line);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = write_end;
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process = {};
  if (!CreateProcessA(argv[3], command_line, NULL, NULL, TRUE, 0, NULL, NULL, &startup,
                      &process)) {
    std::fprintf(stderr, "replace_runtime: CreateProcess failed: %lu\n", GetLastError());
    return 102;
  }
  CloseHandle(write_end);

  // Copy the launcher's output through, line by line, watching for the
  // announcement.
  std::string line;
  bool tried = false;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(read_end, buffer, sizeof buffer, &got, NULL) && got > 0) {
    std::fwrite(buffer, 1, got, stdout);
    std::fflush(stdout);
    for (DWORD i = 0; i < got; ++i) {
      if (buffer[i] != '\n') {
        line += buffer[i];
        continue;
      }
      if (!tried && line.compare(0, sizeof kAnnounce - 1, kAnnounce) == 0) {
        tried = true;
        TryToChange(runtime, decoy);
        SetEvent(release);
      }
      line.clear();
    }
  }
  if (!tried)
    SetEvent(release);
  WaitForSingleObject(process.hProcess, 60000);
  DWORD exit_code = 103;
  GetExitCodeProcess(process.hProcess, &exit_code);
  return static_cast<int>(exit_code);
}
