#pragma once
// Turning one JSON font descriptor into a registered-font record.

#include <string_view>

#include "fonts/registered_font.h"

namespace kfp {

class JsonObject;

// Always returns a complete record; unusable axis data only
// drops axis values. Only allocation failure escapes.
RegisteredFont parseFontDescriptor(const JsonObject& descriptor);

// Keyword rules on the style name: substring search after ASCII lower-casing, first rule wins.
int weightFromStyleName(std::u16string_view styleName);
int stretchFromStyleName(std::u16string_view styleName);
int styleFromStyleName(std::u16string_view styleName);

}  // namespace kfp
