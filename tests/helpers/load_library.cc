// The control of the DLL planting tests: loads each named DLL with
// LoadLibraryA, the way the launcher and the libraries it uses load DLLs on
// demand. With --restrict first it calls SetDefaultDllDirectories with
// LOAD_LIBRARY_SEARCH_SYSTEM32 before, as the launcher does at start.
// Usage: load_library.exe [--restrict] NAME...
// Prints one line per DLL: NAME and the path it was loaded from, or NAME
// and "not loaded". Exits 0, or 2 when --restrict was given but the call is
// missing or failed.
#include <windows.h>

#include <cstdio>
#include <cstring>

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);

int main(int argc, char** argv) {
  int first = 1;
  if (argc > 1 && std::strcmp(argv[1], "--restrict") == 0) {
    first = 2;
    SetDefaultDllDirectoriesFunction set_directories =
        reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDefaultDllDirectories")));
    if (set_directories == NULL || !set_directories(0x00000800 /* SYSTEM32 */))
      return 2;
  }
  for (int i = first; i < argc; ++i) {
    HMODULE module = LoadLibraryA(argv[i]);
    char path[MAX_PATH] = "not loaded";
    if (module != NULL)
      GetModuleFileNameA(module, path, sizeof path);
    std::printf("%s %s\n", argv[i], path);
  }
  return 0;
}
