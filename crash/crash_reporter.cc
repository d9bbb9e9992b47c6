#include "crash/crash_reporter.h"

#include <vector>

#include "cli/working_directory.h"
#include "client/windows/crash_generation/crash_generation_server.h"
#include "client/windows/handler/exception_handler.h"

const wchar_t kCrashPipeName[] = L"\\\\.\\pipe\\BreakpadCrashServices\\Odrel";

namespace {

std::wstring ToWide(const std::string& text) {
  int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, NULL, 0);
  if (length <= 0)
    return std::wstring();
  std::vector<wchar_t> buffer(length);
  MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, &buffer[0], length);
  return std::wstring(&buffer[0]);
}

// Declines the crash, so that it goes on to the handling that was in place
// before (and the process ends as it would have).
bool MinidumpDone(const wchar_t*, const wchar_t*, void*, EXCEPTION_POINTERS*,
                  MDRawAssertionInfo*, bool) {
  return false;
}

// What Start hands to the server's thread.
struct ServerStart {
  CrashReporter* reporter;
  std::wstring dump_path;
  HANDLE stop;
  HANDLE started;
  bool listening;
};

}  // namespace

CrashReporter::CrashReporter()
    : server_(NULL), handler_(NULL), server_thread_(NULL), server_stop_(NULL) {}

CrashReporter::~CrashReporter() {
  delete handler_;
  if (server_thread_ != NULL) {
    SetEvent(server_stop_);
    WaitForSingleObject(server_thread_, INFINITE);
    CloseHandle(server_thread_);
    CloseHandle(server_stop_);
  }
}

// Runs the server from its start to its destruction, so that the thread that
// owns the server's "alive" mutex is one that never crashes and never waits
// for a dump. The pipe itself is served on the system's thread pool.
DWORD WINAPI CrashReporter::ServeOnOwnThread(void* context) {
  ServerStart* start = static_cast<ServerStart*>(context);
  google_breakpad::CrashGenerationServer* server = new google_breakpad::CrashGenerationServer(
      kCrashPipeName, NULL, NULL, NULL, NULL, NULL, NULL, NULL, UploadRequested, NULL, true,
      &start->dump_path);
  start->listening = server->Start();
  if (!start->listening) {
    delete server;
    SetEvent(start->started);
    return 0;
  }
  CrashReporter* reporter = start->reporter;
  const HANDLE stop = start->stop;
  reporter->server_ = server;
  SetEvent(start->started);  // |start| is gone after this.
  WaitForSingleObject(stop, INFINITE);
  reporter->server_ = NULL;
  delete server;
  return 0;
}

CrashReporter* CrashReporter::Instance() {
  static CrashReporter reporter;
  return &reporter;
}

void CrashReporter::Start(const std::string& dump_directory) {
  if (server_thread_ == NULL) {
    ServerStart start = {this, ToWide(dump_directory), CreateEventW(NULL, TRUE, FALSE, NULL),
                         CreateEventW(NULL, TRUE, FALSE, NULL), false};
    HANDLE thread = NULL;
    if (start.stop != NULL && start.started != NULL)
      thread = CreateThread(NULL, 0, ServeOnOwnThread, &start, 0, NULL);
    if (thread != NULL) {
      WaitForSingleObject(start.started, INFINITE);
      if (start.listening) {
        server_thread_ = thread;
        server_stop_ = start.stop;
        start.stop = NULL;
      } else {
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
      }
    }
    if (start.stop != NULL)
      CloseHandle(start.stop);
    if (start.started != NULL)
      CloseHandle(start.started);
  }
  if (handler_ == NULL) {
    handler_ = new google_breakpad::ExceptionHandler(
        ToWide(dump_directory), NULL, MinidumpDone, NULL,
        google_breakpad::ExceptionHandler::HANDLER_ALL, MiniDumpNormal, kCrashPipeName, NULL);
  }
}

void UploadRequested(void*, const DWORD) {
  MessageBoxW(NULL, L"Client Request Crash Upload", L"Dumper", MB_OK);
}

void SetupCrashReporting() {
  CrashReporter::Instance()->Start(TempDirectory() + "\\odrel");
}
