// Asks the Breakpad server on a pipe to upload a crash, as a Breakpad client
// does. Usage: upload_request.exe PIPE CRASH_ID
// Prints "upload request sent: 1" when the request reached the pipe (0
// otherwise) and exits 0 or 1 accordingly.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "client/windows/crash_generation/crash_generation_client.h"

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: upload_request.exe PIPE CRASH_ID\n");
    return 100;
  }
  google_breakpad::CrashGenerationClient client(argv[1], MiniDumpNormal, NULL);
  const bool sent = client.RequestUpload(static_cast<DWORD>(_wtoi(argv[2])));
  std::printf("upload request sent: %d\n", sent ? 1 : 0);
  std::fflush(stdout);
  return sent ? 0 : 1;
}
