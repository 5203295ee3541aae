#pragma once
// The fonts a renderer can resolve, as it lists them itself: `kest-font-preview-renderer
// --list-fonts` prints one descriptor per line from its own font index, so that registering them
// resolves each to the face it was listed for.

#include <string>
#include <string_view>
#include <vector>

#include "requests.h"

namespace kfp::client {

// Runs the renderer at `rendererPath` with --list-fonts and reads every line. Font ids are left
// empty: the host names its fonts. False with `error` set when the renderer cannot be started,
// ends with a failure, or prints a line that is not a descriptor.
bool listInstalledFonts(const std::string& rendererPath, std::vector<FontDescriptor>& fonts,
                        std::string& error);
// The same through a launcher (an emulator, a wrapper): runs `program` with `leadingArgs` (the
// renderer's path among them) followed by --list-fonts.
bool listInstalledFonts(const std::string& program, const std::vector<std::string>& leadingArgs,
                        std::vector<FontDescriptor>& fonts, std::string& error);

// One line of that output; false when it is not a JSON object with a string familyName, or its
// axis arrays do not pair up.
bool parseInstalledFontLine(std::string_view line, FontDescriptor& font);

}  // namespace kfp::client
