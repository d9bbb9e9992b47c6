// A runtime library without the NewRuntime factory, for the black-box tests
// of the loader. It exports "newruntime" (wrong letter case), which the
// launcher must not take for the factory, and reports its own loading and
// unloading on stdout so that a test sees when the launcher frees it.
#include <windows.h>

#include <cstdio>

extern "C" __declspec(dllexport) void* newruntime() {
  return NULL;
}

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_ATTACH) {
    std::printf("no-factory library loaded\n");
    std::fflush(stdout);
  } else if (reason == DLL_PROCESS_DETACH) {
    // |reserved| is null for FreeLibrary and non-null at process exit.
    std::printf("no-factory library unloaded %s\n",
                reserved == NULL ? "by FreeLibrary" : "at process exit");
    std::fflush(stdout);
  }
  return TRUE;
}
