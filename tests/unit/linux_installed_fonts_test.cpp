// The installed-font listing of the Linux backend, fed back through the renderer's own descriptor
// parsing and font lookup: every listed face must resolve to itself.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/json.h"
#include "fonts/descriptor_parser.h"
#include "fonts/font_lookup.h"
#include "fonts/font_registry.h"
#include "host/command_line.h"
#include "platform/linux/fonts/font_collection.h"
#include "platform/linux/fonts/font_index_names.h"
#include "platform/linux/fonts/installed_fonts.h"
#include "platform/linux/linux_backend.h"
#include "platform/platform_services.h"
#include "support/registered_fonts.h"

namespace kfp::linux_backend {
namespace {

std::string utf8(const std::u16string& text) {
  return std::string(text.begin(), text.end());  // traces only: names in the test fonts are ASCII
}

RegisteredFont parsedListing(const InstalledFont& font) {
  return parseFontDescriptor(JsonObject::parse(installedFontJson(font)));
}

class InstalledFontsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    backend_ = createLinuxBackend();
    platform_ = std::make_unique<PlatformServices>(*backend_);
    ASSERT_TRUE(platform_->acquire());
    index_ = FontIndex::build();
    ASSERT_TRUE(index_);
    listed_ = listIndexedFonts(index_);
    std::vector<InstalledFont> fromBackend;
    ASSERT_TRUE(backend_->listInstalledFonts(&fromBackend));
    ASSERT_EQ(fromBackend.size(), listed_.size());
    // Faces left out are those no descriptor reaches; they are few.
    EXPECT_GT(listed_.size(), index_->size() * 95 / 100);
  }

  // The index's record, names included, of the face a resolved font holds (its handle keeps none).
  const FontRecord& indexedRecord(const FontRecord& face) const {
    for (uint32_t id = 0; id < index_->size(); ++id) {
      const FontRecord& record = index_->record(id);
      if (record.path == face.path && record.faceIndex == face.faceIndex &&
          record.namedInstance == face.namedInstance) {
        return record;
      }
    }
    return face;
  }

  std::unique_ptr<Backend> backend_;
  std::unique_ptr<PlatformServices> platform_;
  std::shared_ptr<const FontIndex> index_;
  std::vector<IndexedFont> listed_;
};

TEST_F(InstalledFontsTest, EveryListedFaceResolvesToItself) {
  ASSERT_GT(listed_.size(), 100u) << "the test font packages are missing";
  std::vector<std::pair<std::u16string, RegisteredFont>> registered;
  for (size_t i = 0; i < listed_.size(); ++i) {
    std::u16string id = u"f";
    for (char c : std::to_string(i)) id.push_back(char16_t(c));
    registered.emplace_back(std::move(id), parsedListing(listed_[i].font));
  }
  FontRegistry registry;
  testing::activateFonts(registry, registered);

  size_t variable = 0, bitmap = 0, misses = 0;
  for (size_t i = 0; i < listed_.size(); ++i) {
    const FontRecord& record = index_->record(listed_[i].recordId);
    const InstalledFont& font = listed_[i].font;
    SCOPED_TRACE(record.path + " #" + std::to_string(record.faceIndex) + "/" +
                 std::to_string(record.namedInstance) + " " + utf8(font.fullName));
    ResolvedFont entry;
    resolveFontEntry(*platform_, registry, registered[i].first, entry);
    ASSERT_TRUE(entry.found) << entry.error;
    if (!record.scalable) {
      ++bitmap;
      EXPECT_EQ(entry.kind, FontKind::kGdi);
      EXPECT_EQ(entry.familyName, font.familyName);
      continue;
    }
    variable += record.axes.empty() ? 0 : 1;
    ASSERT_EQ(entry.kind, FontKind::kDirectWrite);
    const auto* collection = dynamic_cast<const LinuxFontCollection*>(entry.fontCollection.get());
    ASSERT_NE(collection, nullptr);
    const std::shared_ptr<FaceHandle> face =
        collection->faceFor(entry.familyName, entry.weight, entry.stretch, entry.style);
    ASSERT_NE(face, nullptr);
    if (!sameFace(indexedRecord(face->record()), record)) {
      ++misses;
      ADD_FAILURE() << "resolved to " << face->record().path << " #"
                    << face->record().namedInstance;
    }
  }
  EXPECT_EQ(misses, 0u);
  // The listing covers what the lookup has to tell apart: named instances and bitmap-only faces.
  EXPECT_GT(variable, 10u);
  EXPECT_GT(bitmap, 0u);
}

}  // namespace
}  // namespace kfp::linux_backend
