// The parts of the single-instance guard that read untrusted text: the
// instance name taken from the program path, the module name match, and the
// PID read from the PID file. Plain C++, no Windows calls (built for the host
// too, by the fuzz targets).
#ifndef ODREL_GUARD_INSTANCE_NAME_H_
#define ODREL_GUARD_INSTANCE_NAME_H_

#include <istream>
#include <string>

// The launcher's instance name from its program path: the file name after
// the last separator (unless that separator is the first character), cut at
// its first underscore (unless the name begins with one), upper-cased in the
// C locale.
std::string InstanceName(const std::string& program_path);

// True when the upper-cased |module_base_name| contains |instance_name|.
bool ModuleMatchesInstance(const std::string& module_base_name, const std::string& instance_name);

// One formatted signed 32-bit integer extracted from the start of |in|
// (leading white space skipped), or 0 when none can be extracted: empty, not
// numeric, or out of range.
int ReadPid(std::istream& in);

// ReadPid on the text |content|.
int ParsePid(const std::string& content);

#endif  // ODREL_GUARD_INSTANCE_NAME_H_
