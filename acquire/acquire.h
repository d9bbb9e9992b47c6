// The acquisition sequence: options, download, verification and load, and the
// call of the runtime library's factory.
#ifndef ODREL_ACQUIRE_ACQUIRE_H_
#define ODREL_ACQUIRE_ACQUIRE_H_

#include "cli/odrel_runtime.h"

// Reads the launcher's options from |argv|, prints the option lines,
// downloads, verifies and loads the runtime library and calls its NewRuntime.
// Sets |status| to 1 when NewRuntime was called (its result, possibly null,
// is returned), 0 when the download delivered no file to use, -1 when the
// download failed or the library was refused or could not be loaded. Returns
// null whenever |status| is not 1.
RuntimeObject* AcquireRuntime(char** argv, int argc, int* status);

#endif  // ODREL_ACQUIRE_ACQUIRE_H_
