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
// deleted or moved. From before the checks until the load has returned the
// file is held open with read sharing only, so no other process can write,
// replace or delete it in between; it is released on every path, and a file
// that cannot be opened is checked and loaded as before.
NewRuntimeFunction LoadRuntimeLibrary();

#endif  // ODREL_VERIFY_RUNTIME_LOADER_H_
