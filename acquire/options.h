// The launcher's own options (-u server URL, -x proxy URL, -k short code) and
// the short code rules. Options are read, never removed: the whole argument
// vector goes on unchanged to the runtime library.
#ifndef ODREL_ACQUIRE_OPTIONS_H_
#define ODREL_ACQUIRE_OPTIONS_H_

#include <string>

// The path under the server URL where the runtime library is served, and the
// file name it is stored under in the working directory.
extern const char kRuntimePath[];
extern const char kRuntimeFileName[];

// Built-in server URLs (scheme and host, no trailing slash), fixed at build
// time.
extern const char kDefaultServerUrl[];
extern const char kEuServerUrl[];

// Looks for |name| ("-u", "-x" or "-k") as a whole element of |argv|, first
// occurrence only, null elements skipped. Returns true and sets |value| to the
// next element, unchanged, when the option has one; returns false when the
// option is absent or is the last element.
bool FindOptionValue(int argc, char** argv, const char* name, std::string* value);

// 7 ASCII letters, or 9 ASCII letters of which the first two are "EU".
bool IsValidShortCode(const std::string& code);

// The text between the first two underscores of argv[0], replaced by the -k
// value when there is one; empty unless IsValidShortCode accepts it.
std::string ReadShortCode(int argc, char** argv);

// The default server URL for a valid 7-letter code, the EU server URL for a
// valid 9-letter code, empty for anything else.
std::string ServerUrlForShortCode(const std::string& code);

// The -u value (even when empty), else the server of the short code, else
// empty.
std::string ReadServerUrl(int argc, char** argv);

// The -x value, or empty.
std::string ReadProxyUrl(int argc, char** argv);

#endif  // ODREL_ACQUIRE_OPTIONS_H_
