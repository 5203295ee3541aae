#include "host/command_line.h"

#include <gtest/gtest.h>

#include <string>

#include "base/json.h"
#include "fonts/descriptor_parser.h"
#include "host/message_loop.h"
#include "support/fake_backend.h"
#include "support/memory_stream.h"

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

TEST(ListFonts, RequestIsACaseSensitiveSubstringBesideVersion) {
  const std::pair<std::string_view, bool> cases[] = {
      {"--list-fonts", true}, {"a --list-fonts b", true}, {"--LIST-FONTS", false},
      {"--list-font", false}, {"-list-fonts", false},     {"", false},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(text);
    EXPECT_EQ(isListFontsRequest(text), expected);
  }
}

InstalledFont interBold() {
  InstalledFont font;
  font.familyName = u"Inter";
  font.fullName = u"Inter Bold";
  font.styleName = u"Bold";
  font.postScriptName = u"Inter-Bold";
  font.axes = {{axisTag('w', 'g', 'h', 't'), 100, 900, 700},
               {axisTag('o', 'p', 's', 'z'), 14, 32, 14.5f}};
  return font;
}

TEST(ListFonts, EachFaceIsOneDescriptorLine) {
  struct Case {
    const char* name;
    InstalledFont font;
    std::string_view line;
  };
  InstalledFont quoted;
  quoted.familyName = u"A \"B\"\\C";
  quoted.nativeFamilyName = u"\u6e38\u30b4\u30b7\u30c3\u30af";
  quoted.fullName = u"Tab\there";
  const Case cases[] = {
      {"variable face with its coordinates", interBold(),
       R"({"familyName":"Inter","nativeFamilyName":"","fullName":"Inter Bold","nativeFullName":"",)"
       R"("styleName":"Bold","nativeStyleName":"","postScriptName":"Inter-Bold","designAxesData":)"
       R"([{"tag":"wght","min":100,"max":900},{"tag":"opsz","min":14,"max":32}],)"
       R"("designVector":[700,14.5]})"},
      {"static face, names escaped", quoted,
       "{\"familyName\":\"A \\\"B\\\"\\\\C\",\"nativeFamilyName\":"
       "\"\xE6\xB8\xB8\xE3\x82\xB4\xE3\x82\xB7\xE3\x83\x83\xE3\x82\xAF\",\"fullName\":"
       "\"Tab\\there\",\"nativeFullName\":\"\",\"styleName\":\"\",\"nativeStyleName\":\"\","
       "\"postScriptName\":\"\",\"designAxesData\":[],\"designVector\":[]}"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(installedFontJson(c.font), c.line);
  }
}

// What the renderer reads back from a line is what the backend listed.
TEST(ListFonts, LineParsesBackToTheListedDescriptor) {
  const RegisteredFont font =
      parseFontDescriptor(JsonObject::parse(installedFontJson(interBold())));
  EXPECT_EQ(font.familyName, u"Inter");
  EXPECT_EQ(font.fullName, u"Inter Bold");
  EXPECT_EQ(font.postScriptName, u"Inter-Bold");
  EXPECT_EQ(font.weight, 700);
  const AxisValues expected = {{axisTag('w', 'g', 'h', 't'), 700},
                               {axisTag('o', 'p', 's', 'z'), 14.5f}};
  EXPECT_EQ(font.axisValues, expected);
}

TEST(ListFonts, WritesEveryFaceOrFailsWithAnExitCode) {
  struct Case {
    const char* name;
    size_t faces;
    bool listingFails;
    size_t failAfter;
    int exitCode;
  };
  const Case cases[] = {
      {"no fonts: no lines", 0, false, SIZE_MAX, kExitOk},
      {"one line per face, across write batches", 400, false, SIZE_MAX, kExitOk},
      {"fonts cannot be enumerated: nothing written", 3, true, SIZE_MAX, kExitInitializeFailed},
      {"output fails", 400, false, 1000, kExitBadHandles},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::FakeBackend backend;
    backend.installedFonts.assign(c.faces, interBold());
    backend.failListing = c.listingFails;
    testing::MemoryWriter out(c.failAfter);
    EXPECT_EQ(writeInstalledFontList(backend, out), c.exitCode);
    if (c.exitCode != kExitOk) {
      if (c.listingFails) {
        EXPECT_EQ(out.data, "");
      }
      continue;
    }
    const std::string line = installedFontJson(interBold()) + "\n";
    std::string expected;
    for (size_t i = 0; i < c.faces; ++i) expected += line;
    EXPECT_EQ(out.data, expected);
  }
}

}  // namespace
}  // namespace kfp
