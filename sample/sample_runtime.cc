// A sample runtime library for the Odrel launcher: the smallest complete
// odrelruntime.dll, and the test double of the launcher's black-box tests.
//
// It honours the contract of odrel_runtime.h and does a pretend scan.
// Its behaviour is chosen on the launcher's command line, which it receives
// unchanged (the launcher ignores arguments it does not know):
//
//   --message TEXT        result message (default "Scan complete")
//   --null-message        GetResultMessage returns null
//   --null-object         NewRuntime returns null
//   --throw               Run throws a C++ exception
//   --print-args          prints every argument it received
//   --wait-stop SECONDS   polls the StopCheck every 10 ms until a stop is
//                         requested, or gives up after SECONDS
//   --stop-threads N      with --wait-stop: N more threads poll the
//                         StopCheck as fast as they can meanwhile
//   --crash KIND          crashes in Run: access-violation,
//                         invalid-parameter, pure-virtual, pure-virtual-crt
//                         or abort (see Crash)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <odrel_runtime.h>

namespace {

// The value after |name| on the command line, or |fallback|.
std::string OptionValue(char** argv, int argc, const char* name, const char* fallback) {
  for (int i = 0; i + 1 < argc; ++i) {
    if (argv[i] != NULL && std::strcmp(argv[i], name) == 0 && argv[i + 1] != NULL)
      return argv[i + 1];
  }
  return fallback;
}

bool HasFlag(char** argv, int argc, const char* name) {
  for (int i = 0; i < argc; ++i) {
    if (argv[i] != NULL && std::strcmp(argv[i], name) == 0)
      return true;
  }
  return false;
}

// Output from both modules shares msvcrt's stdout; flushing keeps the lines
// in order with the launcher's.
void Say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

struct PollerState {
  StopCheck stop_check;
  volatile LONG done;
  LONG calls;
};

DWORD WINAPI PollStopCheck(void* context) {
  PollerState* state = static_cast<PollerState*>(context);
  while (!state->done) {
    if (state->stop_check() == 1)
      InterlockedExchange(&state->done, 1);
    InterlockedIncrement(&state->calls);
  }
  return 0;
}

}  // namespace

// A pure virtual call: the base's constructor calls Work() through a pointer
// the compiler cannot see through, while the object is still a
// PureVirtualCaller. The classes have external linkage on purpose: in an
// anonymous namespace GCC sees the whole hierarchy and turns the call into
// one of PureVirtualDerived::Work, the only definition there is.
namespace sample_crash {

class PureVirtualCaller;
PureVirtualCaller* volatile pure_virtual_target = NULL;

class PureVirtualCaller {
 public:
  PureVirtualCaller() {
    pure_virtual_target = this;
    CallIt();
  }
  virtual ~PureVirtualCaller() {}
  virtual void Work() = 0;
  static void CallIt() { pure_virtual_target->Work(); }
};

class PureVirtualDerived : public PureVirtualCaller {
 public:
  void Work() {}
};

}  // namespace sample_crash

namespace {

int* volatile null_pointer = NULL;

}  // namespace

// msvcrt.dll's handler of pure virtual calls, which code built with
// Microsoft's compiler has in the slot of a pure virtual function.
extern "C" void __cdecl _purecall(void);

namespace {

void Crash(const std::string& kind) {
  Say("Sample runtime crashing: " + kind);
  if (kind == "access-violation") {
    *null_pointer = 1;
  } else if (kind == "invalid-parameter") {
    // A destination too small is an invalid parameter for msvcrt.dll's
    // validating strcpy_s. msvcrt.dll reports it to its invalid-parameter
    // handler if one is set, and otherwise returns an error.
    char destination[2];
    const int result = strcpy_s(destination, sizeof destination, "too long");
    char line[64];
    std::snprintf(line, sizeof line, "Sample runtime strcpy_s returned %d", result);
    Say(line);
  } else if (kind == "pure-virtual") {
    // With mingw-w64 this never reaches the C runtime's _purecall handler:
    // the slot of a pure virtual function is left null in a library linked
    // with a static libstdc++, and the call crashes.
    sample_crash::PureVirtualDerived object;
  } else if (kind == "pure-virtual-crt") {
    // The call as a library built with Microsoft's compiler makes it.
    _purecall();
  } else if (kind == "abort") {
    std::abort();
  }
}

class SampleRuntime final : public RuntimeObject {
 public:
  SampleRuntime() : argv_(NULL), argc_(0) {}

  int Initialize(char** argv, int argc, RuntimeCallback1, RuntimeCallback2, RuntimeCallback3,
                 RuntimeCallback4) {
    argv_ = argv;
    argc_ = argc;
    message_ = OptionValue(argv, argc, "--message", "Scan complete");
    if (HasFlag(argv, argc, "--print-args")) {
      char line[32];
      std::snprintf(line, sizeof line, "Sample runtime argc %d", argc);
      Say(line);
      for (int i = 0; i < argc; ++i)
        Say(std::string("Sample runtime argv: [") + (argv[i] ? argv[i] : "(null)") + "]");
    }
    return 1;
  }

  const char* GetResultMessage() {
    if (HasFlag(argv_, argc_, "--null-message"))
      return NULL;
    return message_.c_str();
  }

  int Run(StopCheck stop_check) {
    Say(std::string("Sample runtime started, stop requested: ") +
        (stop_check() == 1 ? "1" : "0"));
    const std::string crash = OptionValue(argv_, argc_, "--crash", "");
    if (!crash.empty())
      Crash(crash);
    if (HasFlag(argv_, argc_, "--throw"))
      throw std::runtime_error("sample runtime failure");
    const int wait_seconds = std::atoi(OptionValue(argv_, argc_, "--wait-stop", "0").c_str());
    if (wait_seconds > 0)
      WaitForStop(stop_check, wait_seconds);
    return 1;
  }

  void Release() { delete this; }

 private:
  void WaitForStop(const StopCheck& stop_check, int seconds) {
    const int thread_count = std::atoi(OptionValue(argv_, argc_, "--stop-threads", "0").c_str());
    PollerState state = {stop_check, 0, 0};
    std::vector<HANDLE> threads;
    for (int i = 0; i < thread_count; ++i) {
      HANDLE thread = CreateThread(NULL, 0, PollStopCheck, &state, 0, NULL);
      if (thread != NULL)
        threads.push_back(thread);
    }
    Say("Sample runtime waiting for a stop request");
    bool stopped = false;
    for (DWORD start = GetTickCount(); GetTickCount() - start < seconds * 1000u;) {
      if (stop_check() == 1) {
        stopped = true;
        break;
      }
      Sleep(10);
    }
    InterlockedExchange(&state.done, 1);
    for (size_t i = 0; i < threads.size(); ++i) {
      WaitForSingleObject(threads[i], INFINITE);
      CloseHandle(threads[i]);
    }
    if (stopped) {
      Say("Sample runtime stopped on request, stop requested: " +
          std::string(stop_check() == 1 ? "1" : "0"));
      message_ = "Scan stopped by the user";
    } else {
      Say("Sample runtime gave up waiting for a stop request");
      message_ = "Fail: no stop request arrived";
    }
  }

  char** argv_;
  int argc_;
  std::string message_;
};

}  // namespace

extern "C" __declspec(dllexport) RuntimeObject* NewRuntime() {
  if (HasFlag(__argv, __argc, "--null-object"))
    return NULL;
  return new SampleRuntime;
}
