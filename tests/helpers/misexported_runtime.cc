// A runtime library whose factory the launcher cannot find under its name,
// for the tests of the check before publishing: NewRuntime exported
// C++-mangled (_Z10NewRuntimev), or, with MISEXPORT_STDCALL,
// stdcall-decorated (NewRuntime@0). Neither is ever called.
#include <cstddef>

#ifdef MISEXPORT_STDCALL
extern "C" __declspec(dllexport) void* __stdcall NewRuntime() {
  return NULL;
}
#else
__declspec(dllexport) void* NewRuntime() {
  return NULL;
}
#endif
