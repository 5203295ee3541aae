// kfp-preview's choice of sample text from what fontconfig says a face covers.

#include <gtest/gtest.h>

#include "preview/sample_text.h"

namespace kfp::preview {
namespace {

const std::string kLatin = "The quick brown fox 0123";

FontCoverage coverage(std::string_view charset, std::string_view languages) {
  return {parseCharset(charset), parseLanguages(languages)};
}

TEST(PreviewSampleTest, ParsesFontconfigText) {
  EXPECT_EQ(
      parseCharset("20-7e a0 10920-10939"),
      (std::vector<std::pair<uint32_t, uint32_t>>{{0x20, 0x7e}, {0xa0, 0xa0}, {0x10920, 0x10939}}));
  EXPECT_TRUE(parseCharset("").empty());
  EXPECT_TRUE(parseCharset("20-xyz").empty());
  EXPECT_TRUE(parseCharset("7e-20").empty());
  EXPECT_EQ(parseLanguages("aa|en||hi"), (std::vector<std::string>{"aa", "en", "hi"}));
  const FontCoverage c = coverage("20-7e a0 400-4ff", "");
  for (uint32_t cp : {0x20u, 0x7eu, 0xa0u, 0x400u, 0x4ffu}) EXPECT_TRUE(c.covers(cp)) << cp;
  for (uint32_t cp : {0x1fu, 0x7fu, 0xa1u, 0x3ffu, 0x500u}) EXPECT_FALSE(c.covers(cp)) << cp;
  EXPECT_FALSE(c.coversText("\xFF"));  // invalid UTF-8 is never covered
}

TEST(PreviewSampleTest, ChoosesTheScriptTheFaceIsMadeFor) {
  struct Case {
    const char* name;
    const char* charset;
    const char* languages;
    const char* sampleName;
  } const cases[] = {
      {"a Latin face with Cyrillic", "20-7e a0-17f 400-4ff", "en|ru", "Latin"},
      {"a Devanagari face with ASCII", "20-7e 900-97f 200c-200d 25cc", "hi|mr", "Devanagari"},
      {"a Tibetan face", "20 a0 f00-fda 25cc", "bo|dz", "Tibetan"},
      {"Cyrillic only, no language", "20 400-4ff", "", "Cyrillic"},
      {"Latin without English", "20-7e", "", "Latin"},
      {"a script without a sample", "20 a0 10920-10939 1093f", "", "characters U+10920-U+1092F"},
      {"nothing usable", "20 a0", "", "Latin, not covered"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Sample sample = chooseSample(coverage(c.charset, c.languages), kLatin);
    EXPECT_EQ(sample.name, c.sampleName);
    if (sample.name == "Latin") {
      EXPECT_EQ(sample.text, kLatin);
    }
    // Whatever was chosen is drawable in the face, unless nothing is.
    if (sample.name != "Latin, not covered") {
      EXPECT_TRUE(coverage(c.charset, c.languages).coversText(sample.text)) << sample.text;
    }
  }
}

}  // namespace
}  // namespace kfp::preview
