// Text formats and layouts on DirectWrite: line heights checked against the font's own tables,
// wrapping at spaces and hard breaks, emergency breaks and axis values.
#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "fonts/font_lookup_steps.h"
#include "platform/windows/font_collection.h"
#include "platform/windows/text_layout.h"
#include "platform/windows/windows_backend.h"
#include "support/installed_fonts.h"
#include "windows/windows_test_support.h"

namespace kfp {
namespace {

using windows_backend::ComPtr;
using windows_backend::WindowsFontCollection;

uint16_t readU16(const uint8_t* table, size_t offset) {
  return static_cast<uint16_t>(table[offset] << 8 | table[offset + 1]);
}
int16_t readI16(const uint8_t* table, size_t offset) {
  return static_cast<int16_t>(readU16(table, offset));
}

// A raw table of the face, copied out; empty when the face lacks it.
std::vector<uint8_t> fontTable(IDWriteFontFace* face, uint32_t tag) {
  const void* data = nullptr;
  UINT32 size = 0;
  void* context = nullptr;
  BOOL exists = FALSE;
  if (FAILED(face->TryGetFontTable(tag, &data, &size, &context, &exists)) || !exists) return {};
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::vector<uint8_t> copy(bytes, bytes + size);
  face->ReleaseFontTable(context);
  return copy;
}

constexpr uint32_t tableTag(char a, char b, char c, char d) {
  return axisTag(a, b, c, d);  // DirectWrite packs table tags the same way
}

// What a line of the font occupies, in font units, from 'head', 'hhea' and 'OS/2' as a text
// layout engine reads them: the typographic metrics when the font asks for them, otherwise the
// Windows ascent and descent with the horizontal header's line gap.
struct TableMetrics {
  int unitsPerEm = 0;
  int ascent = 0;
  int descent = 0;
  int lineGap = 0;
  float lineHeight(float fontSize) const {
    return float(ascent + descent + lineGap) / float(unitsPerEm) * fontSize;
  }
};

bool readTableMetrics(IDWriteFontFace* face, TableMetrics* out) {
  const std::vector<uint8_t> head = fontTable(face, tableTag('h', 'e', 'a', 'd'));
  const std::vector<uint8_t> hhea = fontTable(face, tableTag('h', 'h', 'e', 'a'));
  const std::vector<uint8_t> os2 = fontTable(face, tableTag('O', 'S', '/', '2'));
  if (head.size() < 54 || hhea.size() < 36 || os2.size() < 78) return false;
  out->unitsPerEm = readU16(head.data(), 18);
  const bool useTypoMetrics = readU16(os2.data(), 62) & 0x80;
  if (useTypoMetrics) {
    out->ascent = readI16(os2.data(), 68);
    out->descent = -readI16(os2.data(), 70);
    out->lineGap = readI16(os2.data(), 72);
  } else {
    out->ascent = readU16(os2.data(), 74);
    out->descent = readU16(os2.data(), 76);
    out->lineGap = readI16(hhea.data(), 8);
  }
  return out->unitsPerEm > 0;
}

class WindowsTextLayoutTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    backend_ = createWindowsBackend().release();
    engine_ = backend_->createTextEngine();
    if (!engine_) return;
    system_ = engine_->getSystemFontSet();
    if (!system_) return;
    dejaVu_ = collectionOf(u"DejaVuSans");
  }
  static void TearDownTestSuite() {
    dejaVu_.reset();
    system_.reset();
    engine_.reset();
    delete backend_;
  }

  // A one-face collection of the installed font with that PostScript name, or nullptr.
  static FontCollectionRef collectionOf(std::u16string_view postScriptName) {
    if (!system_) return nullptr;
    FontSetRef matched = system_->matchProperty({FontPropertyId::kPostScriptName, postScriptName});
    if (!matched || matched->fontCount() == 0) return nullptr;
    return engine_->createFontCollection(*matched);
  }

  void SetUp() override {
    ASSERT_TRUE(engine_);
    KFP_REQUIRE_INSTALLED_FONT(dejaVu_, "DejaVu Sans");
  }

  static std::unique_ptr<TextFormat> format(const FontCollectionRef& collection,
                                            std::u16string_view family, float fontSize) {
    TextFormatDescription request;
    request.familyName = family;
    request.fontCollection = collection;
    request.fontSize = fontSize;
    request.localeName = u"en-us";
    std::unique_ptr<TextFormat> made = engine_->createTextFormat(request);
    if (made) made->setWordWrapping(WordWrapping::kEmergencyBreak);
    return made;
  }

  // Lays the text out in DejaVu Sans and measures it; lineCount 0 when anything failed.
  static TextMetrics measure(std::u16string_view text, float fontSize, float width) {
    TextMetrics metrics{};
    std::unique_ptr<TextFormat> made = format(dejaVu_, u"DejaVu Sans", fontSize);
    if (!made) return metrics;
    std::unique_ptr<TextLayout> layout = engine_->createTextLayout(text, *made, width, 100000);
    if (!layout || !layout->getMetrics(&metrics)) return TextMetrics{};
    return metrics;
  }

  static IDWriteFontFace* dejaVuFace() {
    static ComPtr<IDWriteFontFace> face = [] {
      ComPtr<IDWriteFontFace> made;
      auto* collection = dynamic_cast<const WindowsFontCollection*>(dejaVu_.get());
      ComPtr<IDWriteFontFamily> family;
      ComPtr<IDWriteFont> font;
      if (collection &&
          SUCCEEDED(windows_backend::sdk::GetFontFamily(collection->get(), 0, family.put())) &&
          SUCCEEDED(family->GetFont(0, font.put()))) {
        font->CreateFontFace(made.put());
      }
      return made;
    }();
    return face.get();
  }

  // The advance of a run of text in DIPs, from the face's design metrics.
  static float advanceOf(std::u16string_view text, float fontSize) {
    IDWriteFontFace* face = dejaVuFace();
    std::vector<UINT32> codePoints(text.begin(), text.end());
    std::vector<UINT16> glyphs(text.size());
    std::vector<DWRITE_GLYPH_METRICS> metrics(text.size());
    DWRITE_FONT_METRICS fontMetrics{};
    face->GetMetrics(&fontMetrics);
    if (FAILED(face->GetGlyphIndices(codePoints.data(), UINT32(text.size()), glyphs.data())) ||
        FAILED(face->GetDesignGlyphMetrics(glyphs.data(), UINT32(text.size()), metrics.data()))) {
      return 0;
    }
    float units = 0;
    for (const DWRITE_GLYPH_METRICS& glyph : metrics) units += float(glyph.advanceWidth);
    return units / float(fontMetrics.designUnitsPerEm) * fontSize;
  }

  static inline Backend* backend_ = nullptr;
  static inline std::shared_ptr<TextEngine> engine_;
  static inline FontSetRef system_;
  static inline FontCollectionRef dejaVu_;
};

TEST_F(WindowsTextLayoutTest, LineHeightComesFromTheFontTables) {
  ASSERT_NE(dejaVuFace(), nullptr);
  TableMetrics tables;
  ASSERT_TRUE(readTableMetrics(dejaVuFace(), &tables));
  // DejaVu Sans: winAscent 1901, winDescent 483, no line gap, 2048 units per em.
  EXPECT_EQ(tables.unitsPerEm, 2048);
  EXPECT_EQ(tables.ascent + tables.descent + tables.lineGap, 1901 + 483);

  struct Row {
    std::u16string_view text;
    float fontSize;
    uint32_t lines;
  };
  const Row rows[] = {
      {u"Hg", 28, 1},     {u"", 28, 1},        {u"Hg", 12, 1},
      {u"Hg", 100, 1},    {u"a\nb", 28, 2},    {u"a\r\nb\rc", 28, 3},
      {u"a\n\nb", 28, 3}, {u"\u2029b", 28, 2}, {u"Hg\u0301", 28.5f, 1},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.text.begin(), row.text.end()) + " at " +
                 std::to_string(row.fontSize));
    const TextMetrics metrics = measure(row.text, row.fontSize, 1000);
    EXPECT_EQ(metrics.lineCount, row.lines);
    EXPECT_NEAR(metrics.height, row.lines * tables.lineHeight(row.fontSize), 0.01f);
  }
  // The worked example: (1901 + 483) / 2048 x 28 DIPs.
  EXPECT_NEAR(measure(u"Hg", 28, 1000).height, 32.59375f, 0.01f);
}

// A hard break at the very end still opens a line, and the line separator breaks like a newline.
TEST_F(WindowsTextLayoutTest, TrailingHardBreaksAndLineSeparatorsOpenLines) {
  struct Row {
    std::u16string_view text;
    uint32_t lines;
  };
  const Row rows[] = {
      {u"a\n", 2}, {u"a\r\n", 2}, {u"a\r", 2}, {u"a\u2028b", 2}, {u"a\u2028b\n", 3},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.text.begin(), row.text.end()));
    EXPECT_EQ(measure(row.text, 28, 1000).lineCount, row.lines);
  }
}

TEST_F(WindowsTextLayoutTest, WrapsAtSpacesWithinTheWidth) {
  const float word = advanceOf(u"word", 28);
  const float space = advanceOf(u" ", 28);
  ASSERT_GT(word, 28.0f);  // DIPs, not design units or pixels at another scale
  ASSERT_LT(word, 28.0f * 4);
  struct Row {
    const char* name;
    float width;
    uint32_t lines;
  };
  const Row rows[] = {
      {"all fit", 3 * word + 2 * space + 1, 1},
      {"trailing space may hang", 3 * word + 2 * space - 1, 2},
      {"two words a line", 2 * word + space + 1, 2},
      {"one word a line", word + 1, 3},
      {"just under two words", 2 * word + space - 1, 3},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(measure(u"word word word", 28, row.width).lineCount, row.lines);
  }
}

TEST_F(WindowsTextLayoutTest, BreaksInsideAWordWiderThanTheLine) {
  KFP_SKIP_UNDER_WINE("emergency breaks are not honoured");
  const float letter = advanceOf(u"w", 28);
  const TextMetrics metrics = measure(u"wwwwwwwwww", 28, 3 * letter + 1);
  EXPECT_EQ(metrics.lineCount, 4u);  // 3 + 3 + 3 + 1
}

TEST_F(WindowsTextLayoutTest, AFormatFromAnotherBackendsCollectionFails) {
  class ForeignCollection : public FontCollection {
   public:
    uint32_t familyCount() const override { return 1; }
    bool findFamilyName(std::u16string_view) const override { return true; }
    std::shared_ptr<const LocalizedStrings> familyNames(uint32_t) const override { return nullptr; }
  };
  EXPECT_EQ(format(std::make_shared<ForeignCollection>(), u"DejaVu Sans", 28), nullptr);
}

TEST_F(WindowsTextLayoutTest, AxisValuesAreAccepted) {
  std::unique_ptr<TextFormat> made = format(dejaVu_, u"DejaVu Sans", 28);
  ASSERT_TRUE(made);
  ASSERT_TRUE(made->supportsFontAxisValues());
  const AxisValue values[] = {{kWghtTag, 700}, {axisTag('w', 'd', 't', 'h'), 100}};
  EXPECT_TRUE(made->setFontAxisValues(values));
}

TEST_F(WindowsTextLayoutTest, AxisValuesChangeAVariableFontsAdvances) {
  KFP_SKIP_UNDER_WINE("SetFontAxisValues is accepted but ignored");
  FontCollectionRef inter = collectionOf(u"Inter");
  KFP_REQUIRE_INSTALLED_FONT(inter, "the variable Inter");
  // The same words wrap more often in the heaviest instance than in the lightest.
  auto linesAt = [&](float weight) {
    uint32_t total = 0;
    for (float width = 40; width <= 400; width += 20) {
      std::unique_ptr<TextFormat> made = format(inter, u"Inter", 28);
      const AxisValue values[] = {{kWghtTag, weight}};
      if (!made || !made->setFontAxisValues(values)) return 0u;
      std::unique_ptr<TextLayout> layout =
          engine_->createTextLayout(u"wide words wrap", *made, width, 100000);
      TextMetrics metrics{};
      if (!layout || !layout->getMetrics(&metrics)) return 0u;
      total += metrics.lineCount;
    }
    return total;
  };
  const uint32_t light = linesAt(100);
  ASSERT_GT(light, 0u);
  EXPECT_GT(linesAt(900), light);
}

}  // namespace
}  // namespace kfp
