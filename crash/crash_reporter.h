// Crash reporting with Breakpad: a crash generation server on the launcher's
// pipe, and an exception handler for the launcher process that registers on
// the same pipe. Nothing is uploaded and nothing is printed.
#ifndef ODREL_CRASH_CRASH_REPORTER_H_
#define ODREL_CRASH_CRASH_REPORTER_H_

#include <windows.h>

#include <string>

namespace google_breakpad {
class CrashGenerationServer;
class ExceptionHandler;
}  // namespace google_breakpad

// The pipe that the server listens on and every handler registers on. Fixed,
// not per process: a second launcher finds the first one's server there.
extern const wchar_t kCrashPipeName[];

// Owns at most one server and at most one exception handler. Destroying it
// removes the handler first (it unregisters from its server), then the
// server.
//
// The server is created, started and destroyed on a thread of its own that
// does nothing else meanwhile. The server's "alive" mutex is owned by the
// thread that starts it, and a mutex is signalled for its owner: were that
// the main thread, a crash on the main thread (where every call into the
// runtime library runs) would see the server as gone at once and end the
// process while the server was still writing the dump.
class CrashReporter {
 public:
  CrashReporter();
  ~CrashReporter();

  // The process-wide reporter, created on first use and destroyed at normal
  // process exit.
  static CrashReporter* Instance();

  // Creates what is still missing, in this order: the server, which is
  // dropped when it cannot listen (another process already serves the pipe)
  // and is listening before the handler is created; then the handler, which
  // registers with whichever server listens and otherwise writes dumps
  // itself. Both write into |dump_directory| (system code page). Fails
  // silently.
  void Start(const std::string& dump_directory);

  bool has_server() const { return server_ != NULL; }
  bool has_handler() const { return handler_ != NULL; }

 private:
  static DWORD WINAPI ServeOnOwnThread(void* context);

  google_breakpad::CrashGenerationServer* server_;
  google_breakpad::ExceptionHandler* handler_;
  // The server's thread, and the event that tells it to destroy the server.
  HANDLE server_thread_;
  HANDLE server_stop_;

  CrashReporter(const CrashReporter&);
  CrashReporter& operator=(const CrashReporter&);
};

// The server's upload-request callback: shows "Client Request Crash Upload"
// in a message box titled "Dumper" and returns when it is dismissed. Nothing
// is uploaded.
void UploadRequested(void* context, const DWORD crash_id);

// Composes the dump directory (the temporary directory followed by "\odrel")
// and starts the process-wide reporter with it.
void SetupCrashReporting();

#endif  // ODREL_CRASH_CRASH_REPORTER_H_
