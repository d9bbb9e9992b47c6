// A Breakpad crash generation server on a pipe of the caller's choosing.
// Usage: crash_server.exe PIPE DUMP_DIRECTORY SECONDS STOP_FILE
// Prints "listening: 1" (or "listening: 0" and exits 2 when the pipe is
// taken), then one line per event: "client connected: PID", "dump written:
// PATH", "upload requested: ID". Stops after SECONDS, or as soon as STOP_FILE
// exists, and prints "stopped".
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "client/windows/crash_generation/client_info.h"
#include "client/windows/crash_generation/crash_generation_server.h"

namespace {

void Say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

void ClientConnected(void*, const google_breakpad::ClientInfo* client) {
  Say("client connected: %lu\n", client->pid());
}

void DumpWritten(void*, const google_breakpad::ClientInfo*, const std::wstring* path) {
  Say("dump written: %ls\n", path != NULL ? path->c_str() : L"(none)");
}

void UploadRequested(void*, const DWORD crash_id) {
  Say("upload requested: %lu\n", crash_id);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: crash_server.exe PIPE DUMP_DIRECTORY SECONDS STOP_FILE\n");
    return 100;
  }
  const std::wstring dump_path = argv[2];
  google_breakpad::CrashGenerationServer server(argv[1], NULL, ClientConnected, NULL,
                                                DumpWritten, NULL, NULL, NULL, UploadRequested,
                                                NULL, true, &dump_path);
  if (!server.Start()) {
    Say("listening: 0\n");
    return 2;
  }
  Say("listening: 1\n");
  const DWORD limit_ms = static_cast<DWORD>(_wtoi(argv[3])) * 1000u;
  for (DWORD start = GetTickCount(); GetTickCount() - start < limit_ms;) {
    if (GetFileAttributesW(argv[4]) != INVALID_FILE_ATTRIBUTES)
      break;
    Sleep(50);
  }
  Say("stopped\n");
  return 0;
}
