// libFuzzer target for the instance name rule, the module name match and
// the PID read from the PID file (tools/fuzz.sh). The input up to its first
// NUL byte is a program path, the rest a module base name; the whole input
// is also read as PID file content.
#include <ctype.h>
#include <errno.h>
#include <limits.h>
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include <string>

#include "guard/instance_name.h"

namespace {

void Check(bool condition) {
  if (!condition)
    abort();
}

// The PID by a plain reading of the rule: white space, an optional sign,
// decimal digits, within the range of a signed 32-bit integer.
int ExpectedPid(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && isspace(static_cast<unsigned char>(text[i])))
    ++i;
  const size_t number = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-'))
    ++i;
  if (i >= text.size() || !isdigit(static_cast<unsigned char>(text[i])))
    return 0;
  while (i < text.size() && isdigit(static_cast<unsigned char>(text[i])))
    ++i;
  const std::string digits = text.substr(number, i - number);
  errno = 0;
  long long value = strtoll(digits.c_str(), NULL, 10);
  if (errno == ERANGE || value > INT_MAX || value < INT_MIN)
    return 0;
  return static_cast<int>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string whole(reinterpret_cast<const char*>(data), size);
  const std::string::size_type nul = whole.find('\0');
  const std::string program_path = whole.substr(0, nul);
  const std::string module = nul == std::string::npos ? std::string() : whole.substr(nul + 1);

  const std::string name = InstanceName(program_path);
  Check(name.size() <= program_path.size());
  for (size_t i = 0; i < name.size(); ++i)
    Check(!(name[i] >= 'a' && name[i] <= 'z'));
  // The name is a piece of the path, upper-cased.
  std::string upper_path = program_path;
  for (size_t i = 0; i < upper_path.size(); ++i)
    upper_path[i] = static_cast<char>(toupper(static_cast<unsigned char>(upper_path[i])));
  Check(upper_path.find(name) != std::string::npos);
  Check(ModuleMatchesInstance(module, ""));
  Check(ModuleMatchesInstance(program_path, name));
  ModuleMatchesInstance(module, name);

  Check(ParsePid(whole) == ExpectedPid(whole));
  return 0;
}
