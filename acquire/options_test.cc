#include "acquire/options.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

// Holds a command line as the launcher receives it: mutable C strings, with
// a null element written "(null)".
class CommandLine {
 public:
  explicit CommandLine(const std::vector<std::string>& args) : storage_(args) {
    for (size_t i = 0; i < storage_.size(); ++i)
      argv_.push_back(storage_[i] == "(null)" ? NULL : &storage_[i][0]);
    argv_.push_back(NULL);
  }
  int argc() const { return static_cast<int>(storage_.size()); }
  char** argv() { return &argv_[0]; }

 private:
  std::vector<std::string> storage_;
  std::vector<char*> argv_;
};

struct OptionCase {
  const char* name;
  std::vector<std::string> args;
  const char* short_code;
  const char* server_url;
  const char* proxy_url;
};

const std::string kDefault = kDefaultServerUrl;
const std::string kEu = kEuServerUrl;

TEST(OptionsTest, CommandLinesGiveShortCodeServerAndProxy) {
  const OptionCase cases[] = {
      {"code from program name", {"C:\\dl\\setup_ABCDEFG_x.exe"}, "ABCDEFG", kDefault.c_str(), ""},
      {"no options, no code", {"C:\\dl\\odrel.exe"}, "", "", ""},
      {"values are not consumed", {"odrel.exe", "-k", "-u", "X"}, "", "X", ""},
      {"underscore in a directory", {"C:\\my_tools\\setup_ABCDEFG_x.exe"}, "", "", ""},
      {"adjacent underscores", {"C:\\dl\\setup__x.exe"}, "", "", ""},
      {"one underscore only", {"C:\\dl\\setup_ABCDEFG.exe"}, "", "", ""},
      {"EU code", {"odrel.exe", "-k", "EUABCDEFG"}, "EUABCDEFG", kEu.c_str(), ""},
      {"EU prefix in lower case", {"odrel.exe", "-k", "euABCDEFG"}, "", "", ""},
      {"seven letters starting EU", {"odrel.exe", "-k", "EUABCDE"}, "EUABCDE", kDefault.c_str(), ""},
      {"digit", {"odrel.exe", "-k", "ABC1EFG"}, "", "", ""},
      {"eight letters", {"odrel.exe", "-k", "ABCDEFGH"}, "", "", ""},
      {"nine letters without EU", {"odrel.exe", "-k", "ABCDEFGHI"}, "", "", ""},
      {"bytes of 0x80 and above", {"odrel.exe", "-k", "ABC\xC4\xD6" "FG"}, "", "", ""},
      {"high byte in name", {"x_ABCDEF\xE9_.exe"}, "", "", ""},
      {"-k replaces a valid name code", {"x_ABCDEFG_.exe", "-k", "BAD"}, "", "", ""},
      {"-k replaces the name code", {"x_ABCDEFG_.exe", "-k", "ZYXWVUT"}, "ZYXWVUT", kDefault.c_str(), ""},
      {"-u with -k", {"odrel.exe", "-u", "https://h", "-k", "ABCDEFG"}, "ABCDEFG", "https://h", ""},
      {"-u empty beats a valid code", {"x_ABCDEFG_.exe", "-u", ""}, "ABCDEFG", "", ""},
      {"-u last counts as absent", {"x_ABCDEFG_.exe", "-u"}, "ABCDEFG", kDefault.c_str(), ""},
      {"-k last counts as absent", {"x_ABCDEFG_.exe", "-k"}, "ABCDEFG", kDefault.c_str(), ""},
      {"upper-case letters are not options", {"x_ABCDEFG_.exe", "-K", "ZYXWVUT", "-U", "u", "-X", "p"},
       "ABCDEFG", kDefault.c_str(), ""},
      {"option with text joined", {"x_ABCDEFG_.exe", "-uhttps://h", "-xp"}, "ABCDEFG", kDefault.c_str(), ""},
      {"-x twice: first wins", {"odrel.exe", "-x", "a", "-x", "b"}, "", "", "a"},
      {"value may begin with minus", {"odrel.exe", "-x", "-u", "X"}, "", "X", "-u"},
      {"null elements are passed over", {"odrel.exe", "(null)", "-u", "U"}, "", "U", ""},
      {"null argv[0]", {"(null)", "-k", "ABCDEFG"}, "ABCDEFG", kDefault.c_str(), ""},
  };
  for (size_t i = 0; i < sizeof(cases) / sizeof(cases[0]); ++i) {
    const OptionCase& c = cases[i];
    CommandLine line(c.args);
    EXPECT_EQ(c.short_code, ReadShortCode(line.argc(), line.argv())) << c.name;
    EXPECT_EQ(c.server_url, ReadServerUrl(line.argc(), line.argv())) << c.name;
    EXPECT_EQ(c.proxy_url, ReadProxyUrl(line.argc(), line.argv())) << c.name;
  }
}

TEST(OptionsTest, OptionPresentWithEmptyValueDiffersFromAbsent) {
  CommandLine with_empty(std::vector<std::string>{"odrel.exe", "-x", ""});
  std::string value = "unchanged";
  EXPECT_TRUE(FindOptionValue(with_empty.argc(), with_empty.argv(), "-x", &value));
  EXPECT_EQ("", value);

  CommandLine last(std::vector<std::string>{"odrel.exe", "-x"});
  value = "unchanged";
  EXPECT_FALSE(FindOptionValue(last.argc(), last.argv(), "-x", &value));
  EXPECT_EQ("unchanged", value);
}

TEST(OptionsTest, ShortCodeServers) {
  EXPECT_EQ(kDefault, ServerUrlForShortCode("ABCDEFG"));
  EXPECT_EQ(kDefault, ServerUrlForShortCode("abcdefg"));
  EXPECT_EQ(kEu, ServerUrlForShortCode("EUabcdefg"));
  EXPECT_EQ("", ServerUrlForShortCode(""));
  EXPECT_EQ("", ServerUrlForShortCode("ABCDEF@"));  // '@' precedes 'A'
  EXPECT_EQ("", ServerUrlForShortCode("ABCDEF["));  // '[' follows 'Z'
  EXPECT_EQ("", ServerUrlForShortCode("ABCDEF`"));  // '`' precedes 'a'
  EXPECT_EQ("", ServerUrlForShortCode("ABCDEF{"));  // '{' follows 'z'
}

TEST(OptionsTest, BuiltInServersAreSchemeAndHostOnly) {
  const std::string urls[] = {kDefault, kEu};
  for (size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(0u, urls[i].find("https://")) << urls[i];
    EXPECT_EQ(std::string::npos, urls[i].find('/', 8)) << urls[i];
  }
  EXPECT_STREQ("/download/odrelruntime.dll", kRuntimePath);
  EXPECT_STREQ("odrelruntime.dll", kRuntimeFileName);
}

}  // namespace
