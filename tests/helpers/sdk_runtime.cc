// A runtime library written against the runtime SDK alone: the contract
// header, the SDK's CMake package and nothing else of the launcher's
// repository (tests/test_publishing.py builds it in a folder of its own).
// It prints one line in Run and reports success.
#include <cstdio>

#include <odrel_runtime.h>

namespace {

class SdkRuntime : public RuntimeObject {
 public:
  int Initialize(char**, int, RuntimeCallback1, RuntimeCallback2, RuntimeCallback3,
                 RuntimeCallback4) {
    return 1;
  }

  const char* GetResultMessage() { return "Scan complete"; }

  int Run(StopCheck stop_check) {
    std::printf("SDK runtime ran, stop requested: %d\n", stop_check());
    std::fflush(stdout);
    return 1;
  }

  void Release() { delete this; }
};

}  // namespace

extern "C" __declspec(dllexport) RuntimeObject* NewRuntime() {
  return new SdkRuntime;
}
