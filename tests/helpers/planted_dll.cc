// A stand-in for a system DLL planted next to the launcher: copied under a
// system DLL's name (version.dll, crypt32.dll...), it leaves a marker file
// beside itself, named like itself plus ".loaded", as soon as any process
// loads it. It exports nothing, so a process that imports from the real DLL
// at load time fails to start when this one is picked up instead.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH)
    return TRUE;
  char path[MAX_PATH + 16];
  DWORD length = GetModuleFileNameA(instance, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return TRUE;
  lstrcatA(path, ".loaded");
  HANDLE marker = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, NULL);
  if (marker != INVALID_HANDLE_VALUE)
    CloseHandle(marker);
  return TRUE;
}
