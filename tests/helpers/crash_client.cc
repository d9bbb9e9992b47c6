// A Breakpad client that registers on a crash service pipe and then crashes
// with an access violation. Usage: crash_client.exe PIPE DUMP_DIRECTORY
// Prints "registered: 1" when a server accepted it (0: it would write its
// dump itself, into DUMP_DIRECTORY), then "dump written: 1" or 0 as Breakpad
// reports it, and lets the crash go on unhandled.
#include <windows.h>

#include <cstdio>
#include <string>

#include "client/windows/handler/exception_handler.h"

namespace {

bool DumpDone(const wchar_t*, const wchar_t*, void*, EXCEPTION_POINTERS*, MDRawAssertionInfo*,
              bool succeeded) {
  std::printf("dump written: %d\n", succeeded ? 1 : 0);
  std::fflush(stdout);
  return false;
}

int* volatile null_pointer = NULL;

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: crash_client.exe PIPE DUMP_DIRECTORY\n");
    return 100;
  }
  google_breakpad::ExceptionHandler handler(
      argv[2], NULL, DumpDone, NULL, google_breakpad::ExceptionHandler::HANDLER_ALL,
      MiniDumpNormal, argv[1], NULL);
  std::printf("registered: %d\n", handler.IsOutOfProcess() ? 1 : 0);
  std::fflush(stdout);
  *null_pointer = 1;
  return 0;
}
