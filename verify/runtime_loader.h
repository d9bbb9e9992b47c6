// Loads the downloaded runtime library once its signature and its publisher
// have been checked, and resolves its factory.
#ifndef ODREL_VERIFY_RUNTIME_LOADER_H_
#define ODREL_VERIFY_RUNTIME_LOADER_H_

#include <windows.h>

#include "cli/odrel_runtime.h"

// The loaded runtime library: null at start, set by LoadRuntimeLibrary to
// whatever LoadLibraryA returned, never freed here. main frees it once at the
// end of the run.
extern HMODULE RuntimeModuleHandle;

// Announces, verifies (VerifyFileTrust, then VerifyPublisher) and loads
// odrelruntime.dll from the working directory and returns its NewRuntime
// export. Returns null when the file was refused, failed to load or lacks the
// export; each refusal has been reported on the console. The file is never
// deleted or moved.
NewRuntimeFunction LoadRuntimeLibrary();

#endif  // ODREL_VERIFY_RUNTIME_LOADER_H_
