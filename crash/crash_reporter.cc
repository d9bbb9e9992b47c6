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

}  // namespace

CrashReporter::CrashReporter() : server_(NULL), handler_(NULL) {}

CrashReporter::~CrashReporter() {
  delete handler_;
  delete server_;
}

CrashReporter* CrashReporter::Instance() {
  static CrashReporter reporter;
  return &reporter;
}

void CrashReporter::Start(const std::string& dump_directory) {
  if (server_ == NULL) {
    const std::wstring dump_path = ToWide(dump_directory);
    server_ = new google_breakpad::CrashGenerationServer(
        kCrashPipeName, NULL, NULL, NULL, NULL, NULL, NULL, NULL, UploadRequested, NULL, true,
        &dump_path);
    if (!server_->Start()) {
      delete server_;
      server_ = NULL;
    }
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
