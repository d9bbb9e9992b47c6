// A runtime library that LoadLibraryA cannot load: it imports a function
// from odrel_absent_dependency.dll, which exists nowhere (the build makes
// only its import library). It would otherwise be a complete runtime.
#include <windows.h>

#include <cstdio>

#include "cli/odrel_runtime.h"

extern "C" __declspec(dllimport) int OdrelAbsentFunction();

extern "C" __declspec(dllexport) RuntimeObject* NewRuntime() {
  std::printf("unloadable library ran: %d\n", OdrelAbsentFunction());
  std::fflush(stdout);
  return NULL;
}
