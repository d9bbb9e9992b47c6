// libFuzzer target for the launcher's option lookup and short code rules
// (tools/fuzz.sh). The input is an argument vector: elements separated by
// NUL bytes, the first one standing for the program path.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "acquire/options.h"

namespace {

void Check(bool condition) {
  if (!condition)
    abort();
}

bool IsLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The first value of |name| by a plain reading of the rule.
bool ExpectedValue(const std::vector<std::string>& args, const char* name, std::string* value) {
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] != name)
      continue;
    if (i + 1 >= args.size())
      return false;
    *value = args[i + 1];
    return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  const char* text = reinterpret_cast<const char*>(data);
  size_t start = 0;
  for (size_t i = 0; i <= size; ++i) {
    if (i == size || text[i] == '\0') {
      args.push_back(std::string(text + start, i - start));
      start = i + 1;
    }
  }
  std::vector<char*> argv;
  for (size_t i = 0; i < args.size(); ++i)
    argv.push_back(const_cast<char*>(args[i].c_str()));
  argv.push_back(NULL);
  const int argc = static_cast<int>(args.size());

  const char* names[] = {"-u", "-x", "-k"};
  for (size_t n = 0; n < 3; ++n) {
    std::string value = "unset";
    std::string expected;
    const bool found = FindOptionValue(argc, argv.data(), names[n], &value);
    Check(found == ExpectedValue(args, names[n], &expected));
    Check(found ? value == expected : value == "unset");
  }

  const std::string whole(text, size);
  const bool valid = IsValidShortCode(whole);
  bool letters = true;
  for (size_t i = 0; i < whole.size(); ++i)
    letters = letters && IsLetter(whole[i]);
  Check(valid == (letters && (whole.size() == 7 ||
                              (whole.size() == 9 && whole.compare(0, 2, "EU") == 0))));
  const std::string server = ServerUrlForShortCode(whole);
  Check(server == (!valid ? "" : whole.size() == 7 ? kDefaultServerUrl : kEuServerUrl));

  const std::string code = ReadShortCode(argc, argv.data());
  Check(code.empty() || IsValidShortCode(code));
  const std::string url = ReadServerUrl(argc, argv.data());
  std::string explicit_url;
  if (ExpectedValue(args, "-u", &explicit_url))
    Check(url == explicit_url);
  else
    Check(url == ServerUrlForShortCode(code));
  std::string proxy;
  ExpectedValue(args, "-x", &proxy);
  Check(ReadProxyUrl(argc, argv.data()) == proxy);
  return 0;
}
