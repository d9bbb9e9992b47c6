// Linked into a copy of the sample runtime for the test of the file hold:
// while a test process has created the event named below, loading the
// library waits in DllMain (inside LoadLibraryA, so inside the launcher's
// hold on the file) until the event is set, for at most 30 s.
#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason != DLL_PROCESS_ATTACH)
    return TRUE;
  HANDLE release = OpenEventA(SYNCHRONIZE, FALSE, "OdrelHoldProbeRelease");
  if (release != NULL) {
    WaitForSingleObject(release, 30000);
    CloseHandle(release);
  }
  return TRUE;
}
