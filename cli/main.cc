#include <windows.h>

#include "cli/launcher.h"

namespace {

// LOAD_LIBRARY_SEARCH_SYSTEM32, defined by the SDK headers only for
// Windows 8 and later targets.
const DWORD kSearchSystem32 = 0x00000800;

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD);

// Keeps every later LoadLibrary of a bare DLL name, ours and those of the
// system libraries we use (crypt32, wintrust, dbghelp and what they load in
// turn), out of the launcher's own directory: launchers are run from
// Downloads folders, where a DLL of any name may have been left. The
// delay-loaded system DLLs of the import table are covered the same way,
// since they are loaded on first use, after this. SetDefaultDllDirectories
// exists on Windows 8 and later and on Windows 7 with KB2533623; without it,
// SetDllDirectory("") at least takes the current directory out of the search.
void RestrictDllSearch() {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  SetDefaultDllDirectoriesFunction set_default_dll_directories =
      kernel32 == NULL ? NULL
                       : reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                             reinterpret_cast<void*>(
                                 GetProcAddress(kernel32, "SetDefaultDllDirectories")));
  if (set_default_dll_directories == NULL || !set_default_dll_directories(kSearchSystem32))
    SetDllDirectoryW(L"");
}

}  // namespace

int main(int argc, char** argv) {
  RestrictDllSearch();
  return RunLauncher(argc, argv);
}
