#include "host/command_line.h"

#include <gtest/gtest.h>

#include <string>

#include "host/message_loop.h"

namespace kfp {
namespace {

struct ArgumentCase {
  const char* name;
  std::u16string_view commandLine;
  std::u16string_view arguments;
};

TEST(ArgumentText, IsWhatFollowsTheProgramName) {
  const ArgumentCase cases[] = {
      {"program name alone", u"renderer.exe", u""},
      {"empty command line", u"", u""},
      {"one argument", u"renderer.exe --version", u"--version"},
      {"blanks and tabs before the arguments", u"renderer.exe \t  a b", u"a b"},
      {"trailing blanks kept", u"renderer.exe a  ", u"a  "},
      {"quoted name with a blank", uR"("C:\Program Files\r.exe" --version)", u"--version"},
      {"quoted name without blanks after it", uR"("C:\a b\r.exe"--version)", u"--version"},
      {"the word inside a quoted name is not an argument", uR"("C:\--version\r.exe")", u""},
      {"the word inside an unquoted name is not an argument", uR"(C:\--version\r.exe x)", u"x"},
      {"unterminated quote swallows the line", uR"("C:\a b\r.exe --version)", u""},
      {"tab ends an unquoted name", u"r.exe\t--version", u"--version"},
      {"non-ASCII arguments kept as they are", u"r.exe \u00e9\u20ac\U0001F600",
       u"\u00e9\u20ac\U0001F600"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(std::u16string(argumentText(c.commandLine)), std::u16string(c.arguments));
  }
}

// The decision the Windows entry makes from the text above, after converting it to UTF-8.
TEST(ArgumentText, VersionRequestIsACaseSensitiveSubstring) {
  const std::pair<std::string_view, bool> cases[] = {
      {"--version", true},   {"x--versiony", true}, {"--verbose --version", true},
      {"--VERSION", false},  {"--Version", false},  {"-version", false},
      {"--versio n", false}, {"", false},           {"--vers\xC3\xA9ion --version", true},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(isVersionRequest(text), expected);
  }
}

}  // namespace
}  // namespace kfp
