#include "guard/instance_name.h"

#include <ctype.h>

#include <sstream>

namespace {

std::string UpperCase(std::string text) {
  for (std::string::size_type i = 0; i < text.size(); ++i)
    text[i] = static_cast<char>(toupper(static_cast<unsigned char>(text[i])));
  return text;
}

}  // namespace

std::string InstanceName(const std::string& program_path) {
  std::string name = program_path;
  std::string::size_type separator = name.find_last_of("/\\");
  if (separator != std::string::npos && separator > 0)
    name = name.substr(separator + 1);
  std::string::size_type underscore = name.find('_');
  if (underscore != std::string::npos && underscore > 0)
    name = name.substr(0, underscore);
  return UpperCase(name);
}

bool ModuleMatchesInstance(const std::string& module_base_name, const std::string& instance_name) {
  return UpperCase(module_base_name).find(instance_name) != std::string::npos;
}

int ReadPid(std::istream& in) {
  int pid = 0;
  // Since C++11 a failed extraction stores 0, or the nearest limit when the
  // number is out of range; either way the result is 0.
  if (!(in >> pid))
    pid = 0;
  return pid;
}

int ParsePid(const std::string& content) {
  std::istringstream in(content);
  return ReadPid(in);
}
