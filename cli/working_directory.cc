#include "cli/working_directory.h"

#include <direct.h>
#include <windows.h>

std::string TempDirectory() {
  char buffer[MAX_PATH] = {};
  // When the path does not fit, the call returns the length it would need
  // and writes nothing.
  DWORD length = GetTempPathA(MAX_PATH, buffer);
  if (length == 0 || length > MAX_PATH)
    return std::string();
  return std::string(buffer, length);
}

std::string WorkingDirectory() {
  return TempDirectory() + "odrel\\";
}

void CreateWorkingDirectory() {
  _mkdir(WorkingDirectory().c_str());
}
