#include "guard/pid_file.h"

#include <windows.h>
#include <psapi.h>

#include <fstream>
#include <iostream>

#include <boost/filesystem.hpp>

#include "cli/working_directory.h"
#include "guard/instance_name.h"

namespace {

// A sharing violation on the attributes still means the file is there; any
// other error than "not found" is taken the same way, so that the caller goes
// on to read (or delete) it and sees for itself.
bool PidFileExists(const std::string& path) {
  boost::system::error_code error;
  bool exists = boost::filesystem::exists(boost::filesystem::path(path), error);
  return exists || error;
}

// The base name of |process|'s executable module, or empty when it cannot be
// read. ModuleMatchesInstance upper-cases it.
std::string ModuleBaseNameOfProcess(HANDLE process) {
  char name[MAX_PATH] = {};
  HMODULE module = NULL;
  DWORD needed = 0;
  // Room for one module only: the first in the list is the executable.
  if (EnumProcessModules(process, &module, sizeof(module), &needed)) {
    if (GetModuleBaseNameA(process, module, name, sizeof(name)) == 0)
      name[0] = '\0';
  }
  return name;
}

}  // namespace

std::string PidFilePath() {
  CreateWorkingDirectory();
  return WorkingDirectory() + "odrelruntime.pid";
}

bool IsAnotherInstanceRunning(const char* program_path) {
  const std::string instance_name = InstanceName(program_path != NULL ? program_path : "");
  const std::string path = PidFilePath();
  if (!PidFileExists(path))
    return false;
  const int pid = ReadPidFile(path);
  HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE,
                               static_cast<DWORD>(pid));
  if (process == NULL)
    return false;
  const std::string module_name = ModuleBaseNameOfProcess(process);
  CloseHandle(process);
  return ModuleMatchesInstance(module_name, instance_name);
}

int ReadPidFile(const std::string& path) {
  std::ifstream file(path.c_str());
  return ReadPid(file);
}

void WritePidFile() {
  const DWORD pid = GetCurrentProcessId();
  const std::string path = PidFilePath();
  std::ofstream file(path.c_str(), std::ios::out | std::ios::trunc);
  if (!file) {
    std::cout << "WARNING: Failed to write to pid file " << path << std::endl;
    return;
  }
  file << pid;
}

void RemovePidFile() {
  const std::string path = PidFilePath();
  if (PidFileExists(path))
    remove(path.c_str());
}
