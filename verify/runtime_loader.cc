#include "verify/runtime_loader.h"

#include <iostream>
#include <string>

#include "acquire/options.h"
#include "cli/working_directory.h"
#include "verify/file_trust.h"
#include "verify/publisher.h"

HMODULE RuntimeModuleHandle = NULL;

namespace {

// An open file handle, closed when it goes out of scope.
class ScopedFileHandle {
 public:
  explicit ScopedFileHandle(HANDLE handle) : handle_(handle) {}
  ~ScopedFileHandle() {
    if (handle_ != INVALID_HANDLE_VALUE)
      CloseHandle(handle_);
  }

 private:
  ScopedFileHandle(const ScopedFileHandle&);
  void operator=(const ScopedFileHandle&);

  HANDLE handle_;
};

}  // namespace

NewRuntimeFunction LoadRuntimeLibrary() {
  const std::string path = WorkingDirectory() + kRuntimeFileName;

  // Held open from before the checks until the load has returned. Sharing
  // read only: nobody can open the file for writing, delete it or rename it
  // meanwhile, so the bytes that were checked are the bytes that get loaded.
  // The checks and LoadLibraryA open the file for reading themselves and are
  // not disturbed. When this open fails, the checks report on the file as
  // usual.
  const ScopedFileHandle hold(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL));
  std::cout << "Verifying digital signature of " << path << std::endl;

  std::string check_message;
  if (!VerifyFileTrust(path.c_str(), &check_message)) {
    std::cout << "Problem verifying runtime's digital signature.  This indicates someone has "
                 "potentially tampered with the binary."
              << std::endl;
    return NULL;
  }

  int verdict = -1;
  VerifyPublisher(path.c_str(), &check_message, &verdict);
  if (verdict != 0) {
    std::cout << "Problem verifying publisher " << check_message << std::endl;
    return NULL;
  }

  // The search for a relative path is restricted to System32 like any other
  // (main calls SetDefaultDllDirectories), so a relative path (no temporary
  // directory) is made absolute against the current directory first, where
  // the checks found it.
  char full_path[MAX_PATH];
  DWORD full_length = GetFullPathNameA(path.c_str(), sizeof full_path, full_path, NULL);
  const bool have_full_path = full_length > 0 && full_length < sizeof full_path;
  RuntimeModuleHandle = LoadLibraryA(have_full_path ? full_path : path.c_str());
  if (RuntimeModuleHandle == NULL) {
    std::cout << "Failed to load Odrel Runtime Library" << std::endl;
    return NULL;
  }

  NewRuntimeFunction new_runtime =
      reinterpret_cast<NewRuntimeFunction>(GetProcAddress(RuntimeModuleHandle, "NewRuntime"));
  if (new_runtime == NULL) {
    std::cout << "Failed to initialize Odrel Runtime library.  Possible Library version mismatch"
              << std::endl;
    return NULL;
  }
  return new_runtime;
}
