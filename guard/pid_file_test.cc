#include "guard/pid_file.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "cli/working_directory.h"

namespace {

TEST(PidFileTest, InstanceNameRule) {
  const struct {
    const char* program_path;
    const char* instance_name;
  } cases[] = {
      {"C:\\tools\\launcher.exe", "LAUNCHER.EXE"},
      {"C:\\Tools\\LAUNCHER.exe", "LAUNCHER.EXE"},
      {"launcher", "LAUNCHER"},
      {"launcher_ABCDEFG.exe", "LAUNCHER"},
      {"C:\\dl\\setup_ABCDEFG_x.exe", "SETUP"},
      {"C:\\my_tools\\launcher.exe", "LAUNCHER.EXE"},
      {"C:/tools/launcher.exe", "LAUNCHER.EXE"},
      {"C:\\a/b\\launcher.exe", "LAUNCHER.EXE"},
      {"\\launcher.exe", "\\LAUNCHER.EXE"},
      {"_launcher.exe", "_LAUNCHER.EXE"},
      {"C:\\tools\\_launcher_x.exe", "_LAUNCHER_X.EXE"},
      {"", ""},
      {"C:\\tools\\", ""},
      {"C:\\tools\\l\xE4uncher.exe", "L\xE4UNCHER.EXE"},  // only a to z change
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i)
    EXPECT_EQ(cases[i].instance_name, InstanceName(cases[i].program_path)) << cases[i].program_path;
}

TEST(PidFileTest, ContainmentMatch) {
  const struct {
    const char* module_base_name;
    const char* instance_name;
    bool match;
  } cases[] = {
      {"launcher.EXE", "LAUNCHER.EXE", true},
      {"launcher.exe", "LAUNCHER", true},
      {"launcher_XYZ.exe", "LAUNCHER", true},
      {"mylauncher2.exe", "LAUNCHER", true},
      {"launcher_ABCDEFG.exe", "LAUNCHER.EXE", false},
      {"notepad.exe", "LAUNCHER.EXE", false},
      {"launcher.exe", "\\LAUNCHER.EXE", false},
      {"notepad.exe", "", true},
      {"", "", true},
      {"", "LAUNCHER", false},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    EXPECT_EQ(cases[i].match, ModuleMatchesInstance(cases[i].module_base_name, cases[i].instance_name))
        << cases[i].module_base_name << " / " << cases[i].instance_name;
  }
}

std::string WriteFile(const std::string& name, const std::string& content) {
  const std::string path = TempDirectory() + name;
  std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
  file << content;
  return path;
}

TEST(PidFileTest, ReadPidFileParsing) {
  const struct {
    const char* content;
    int pid;
  } cases[] = {
      {"4242", 4242},
      {"  4242xyz", 4242},
      {"\r\n\t4242\n", 4242},
      {"abc", 0},
      {"", 0},
      {"99999999999", 0},
      {"2147483647", 2147483647},
      {"x4242", 0},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    const std::string path = WriteFile("odrel_pid_test.txt", cases[i].content);
    EXPECT_EQ(cases[i].pid, ReadPidFile(path)) << "[" << cases[i].content << "]";
    std::remove(path.c_str());
  }
  EXPECT_EQ(0, ReadPidFile(TempDirectory() + "odrel_no_such_file.pid"));
}

TEST(PidFileTest, PidFileLivesInWorkingDirectory) {
  EXPECT_EQ(WorkingDirectory() + "odrelruntime.pid", PidFilePath());
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES != GetFileAttributesA(WorkingDirectory().c_str()), true);
}

// The check, the write and the removal against a live process: this one.
TEST(PidFileTest, OwnProcessIsFoundByName) {
  char own_path[MAX_PATH] = {};
  GetModuleFileNameA(NULL, own_path, MAX_PATH);

  RemovePidFile();
  EXPECT_FALSE(IsAnotherInstanceRunning(own_path));

  WritePidFile();
  std::ifstream file(PidFilePath().c_str(), std::ios::binary);
  std::string content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  file.close();
  char expected[16];
  std::snprintf(expected, sizeof expected, "%lu", GetCurrentProcessId());
  EXPECT_EQ(expected, content);

  EXPECT_TRUE(IsAnotherInstanceRunning(own_path));
  EXPECT_TRUE(IsAnotherInstanceRunning("odrel_unit_tests"));
  EXPECT_TRUE(IsAnotherInstanceRunning(""));
  EXPECT_FALSE(IsAnotherInstanceRunning("C:\\tools\\launcher.exe"));

  RemovePidFile();
  EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(PidFilePath().c_str()));
  EXPECT_FALSE(IsAnotherInstanceRunning(own_path));
  RemovePidFile();  // a missing file is fine
}

}  // namespace
