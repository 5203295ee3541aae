// The font index under a fontconfig configuration of the test's own making (FONTCONFIG_FILE).

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <string>

#include "platform/linux/fonts/font_index.h"
#include "platform/linux/gdi/gdi.h"

namespace kfp::linux_backend {
namespace {

std::string writeConfig(const std::string& name, const std::string& body) {
  std::string dir = ::testing::TempDir();
  std::string path = dir + "/" + name + ".conf";
  std::ofstream(path) << "<?xml version=\"1.0\"?>\n<fontconfig>" << body << "<cachedir>" << dir
                      << "/fc-cache</cachedir></fontconfig>\n";
  return path;
}

TEST(FontIndexConfig, ListsWhatTheConfigurationListsAndKeepsStderrEmpty) {
  struct Case {
    const char* name;
    std::string body;
    bool expectDejaVuOnly;
  };
  const Case cases[] = {
      {"dejavu only", "<dir>/usr/share/fonts/truetype/dejavu</dir>", true},
      {"broken",
       "<include ignore_missing=\"no\">/nonexistent.conf</include><bogus/>"
       "<dir>/usr/share/fonts/truetype/dejavu</dir>",
       false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    setenv("FONTCONFIG_FILE", writeConfig(c.name, c.body).c_str(), 1);
    ::testing::internal::CaptureStderr();
    auto index = FontIndex::build();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    if (!c.expectDejaVuOnly) continue;
    ASSERT_NE(index, nullptr);
    ASSERT_GT(index->size(), 0u);
    for (uint32_t id = 0; id < index->size(); ++id) {
      EXPECT_NE(index->record(id).path.find("/dejavu/"), std::string::npos);
    }
    EXPECT_TRUE(index->byTypographicFamily(u"Inter").empty());
  }
  unsetenv("FONTCONFIG_FILE");
}

// Probing a family the GDI-style backend does not have selects a substitute from fontconfig's
// sans-serif rules; a configuration that warns must not reach stderr then either.
TEST(FontIndexConfig, GdiProbeOfUnknownFamiliesKeepsStderrEmpty) {
  setenv("FONTCONFIG_FILE",
         writeConfig("warning", "<bogus/><dir>/usr/share/fonts/truetype/dejavu</dir>").c_str(), 1);
  ::testing::internal::CaptureStderr();
  std::shared_ptr<FontIndex> index = FontIndex::build();
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  ASSERT_NE(index, nullptr);
  std::unique_ptr<Gdi> gdi = createLinuxGdi(FaceStore::create(), index);
  ASSERT_NE(gdi, nullptr);

  const std::u16string kFamilies[] = {u"No Such Family Kfp", u"Another Missing One", u"x"};
  for (const std::u16string& family : kFamilies) {
    SCOPED_TRACE(std::string(family.begin(), family.end()));
    GdiFontRequest request;
    request.height = -16;
    request.faceName = family;
    ::testing::internal::CaptureStderr();
    std::unique_ptr<GdiFont> font = gdi->createFont(request);
    std::unique_ptr<GdiDeviceContext> dc = gdi->createCompatibleDC();
    GdiTextMetrics metrics;
    const bool measured = font && dc->selectFont(*font) && dc->getTextMetrics(&metrics);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_TRUE(measured);
    EXPECT_GT(metrics.height, 0);
  }
  unsetenv("FONTCONFIG_FILE");
}

}  // namespace
}  // namespace kfp::linux_backend
