#include "cli/launcher.h"

#include <windows.h>

#include <csignal>
#include <cstdlib>
#include <iostream>

#include "acquire/acquire.h"
#include "cli/stop_request.h"
#include "crash/crash_reporter.h"
#include "guard/pid_file.h"
#include "verify/runtime_loader.h"

namespace {

const char kProblemLine[] = "Problem running scan. result message: ";

// A C++ exception thrown inside the runtime library cannot be caught here:
// each module links its own copy of the unwinder, so the throw ends in the
// library's std::terminate and then abort(). Both modules share msvcrt's
// signal table, so the launcher still gets to close the run with a clear
// line and status 1 instead of msvcrt's "abnormal termination" text.
extern "C" void RuntimeAborted(int) {
  std::cout << kProblemLine << "the runtime library ended abnormally" << std::endl;
  RemovePidFile();
  _exit(1);
}

// Guards every call into the runtime library: what escapes it ends the run as
// a problem rather than taking the launcher down without a closing line.
class RuntimeCallGuard {
 public:
  RuntimeCallGuard() : previous_(std::signal(SIGABRT, RuntimeAborted)) {}
  ~RuntimeCallGuard() { std::signal(SIGABRT, previous_); }

 private:
  void (*previous_)(int);
};

}  // namespace

RuntimeObject* StartRuntime(char** argv, int argc, RuntimeCallback1 callback1,
                            RuntimeCallback2 callback2, RuntimeCallback3 callback3,
                            RuntimeCallback4 callback4, int* status) {
  *status = 1;
  RuntimeObject* runtime = AcquireRuntime(argv, argc, status);
  if (*status == 1 && runtime != NULL)
    runtime->Initialize(argv, argc, callback1, callback2, callback3, callback4);
  return runtime;
}

bool ResultMessageReportsProblem(const std::string& message) {
  return message.find("Error") != std::string::npos || message.find("Fail") != std::string::npos;
}

int RunLauncher(int argc, char** argv) {
  if (IsAnotherInstanceRunning(argv[0])) {
    std::cout << "The Tarrow process is already running. Please check the lock file "
              << PidFilePath() << " if you believe this is an error." << std::endl;
    return 1;
  }
  WritePidFile();
  bool problem = false;
  SetupCrashReporting();
  if (!SetConsoleCtrlHandler(ConsoleCtrlHandler, TRUE))
    std::cout << "failed to install console ctrl handler" << std::endl;
  const StopCheck stop_check(IsStopRequested);

  int status = 1;
  std::string result_message;
  RuntimeObject* runtime = NULL;
  try {
    RuntimeCallGuard guard;
    runtime = StartRuntime(argv, argc, RuntimeCallback1(), RuntimeCallback2(),
                           RuntimeCallback3(), RuntimeCallback4(), &status);
    if (status == 1 && runtime == NULL) {
      std::cout << "Odrel Runtime library returned no runtime object." << std::endl;
      problem = true;
    } else if (status == 1) {
      runtime->Run(stop_check);
      const char* text = runtime->GetResultMessage();
      result_message = text != NULL ? text : "";
      if (ResultMessageReportsProblem(result_message))
        problem = true;
    } else {
      std::cout << "Problem, code: " << status << std::endl;
      problem = true;
    }
    if (runtime != NULL)
      runtime->Release();
  } catch (...) {
    std::cout << "Odrel Runtime library raised an exception." << std::endl;
    problem = true;
  }
  FreeLibrary(RuntimeModuleHandle);

  if (problem)
    std::cout << kProblemLine << result_message << std::endl;
  else
    std::cout << "Exited successfully." << std::endl;
  RemovePidFile();
  return problem ? 1 : 0;
}
