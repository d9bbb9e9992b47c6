#include "acquire/options.h"

#include <string.h>

#ifndef ODREL_DEFAULT_SERVER_URL
#define ODREL_DEFAULT_SERVER_URL "https://runtime.odrelonline.com"
#endif
#ifndef ODREL_EU_SERVER_URL
#define ODREL_EU_SERVER_URL "https://eu.runtime.odrelonline.com"
#endif

const char kRuntimePath[] = "/download/odrelruntime.dll";
const char kRuntimeFileName[] = "odrelruntime.dll";
const char kDefaultServerUrl[] = ODREL_DEFAULT_SERVER_URL;
const char kEuServerUrl[] = ODREL_EU_SERVER_URL;

namespace {

bool IsAsciiLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool AllAsciiLetters(const std::string& text) {
  for (std::string::size_type i = 0; i < text.size(); ++i) {
    if (!IsAsciiLetter(text[i]))
      return false;
  }
  return true;
}

}  // namespace

bool FindOptionValue(int argc, char** argv, const char* name, std::string* value) {
  for (int i = 0; i < argc; ++i) {
    if (argv[i] == NULL || strcmp(argv[i], name) != 0)
      continue;
    // Only the first occurrence counts, even when it has no value.
    if (i + 1 >= argc || argv[i + 1] == NULL)
      return false;
    *value = argv[i + 1];
    return true;
  }
  return false;
}

bool IsValidShortCode(const std::string& code) {
  if (code.size() == 7)
    return AllAsciiLetters(code);
  if (code.size() == 9)
    return code[0] == 'E' && code[1] == 'U' && AllAsciiLetters(code);
  return false;
}

std::string ReadShortCode(int argc, char** argv) {
  std::string code;
  if (argc > 0 && argv[0] != NULL) {
    std::string program = argv[0];
    std::string::size_type first = program.find('_');
    if (first != std::string::npos) {
      std::string::size_type second = program.find('_', first + 1);
      if (second != std::string::npos)
        code = program.substr(first + 1, second - first - 1);
    }
  }
  std::string explicit_code;
  if (FindOptionValue(argc, argv, "-k", &explicit_code))
    code = explicit_code;
  return IsValidShortCode(code) ? code : std::string();
}

std::string ServerUrlForShortCode(const std::string& code) {
  if (!IsValidShortCode(code))
    return std::string();
  return code.size() == 7 ? kDefaultServerUrl : kEuServerUrl;
}

std::string ReadServerUrl(int argc, char** argv) {
  std::string url;
  if (FindOptionValue(argc, argv, "-u", &url))
    return url;
  return ServerUrlForShortCode(ReadShortCode(argc, argv));
}

std::string ReadProxyUrl(int argc, char** argv) {
  std::string proxy;
  FindOptionValue(argc, argv, "-x", &proxy);
  return proxy;
}
