#include "verify/runtime_loader.h"

#include <iostream>
#include <string>

#include "acquire/options.h"
#include "cli/working_directory.h"
#include "verify/file_trust.h"
#include "verify/publisher.h"

HMODULE RuntimeModuleHandle = NULL;

NewRuntimeFunction LoadRuntimeLibrary() {
  const std::string path = WorkingDirectory() + kRuntimeFileName;
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

  RuntimeModuleHandle = LoadLibraryA(path.c_str());
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
