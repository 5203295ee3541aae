#pragma once
// The command line: the argument text of a command line that arrives as one string (as on Windows),
// and the --list-fonts mode that sits beside --version.

#include <string>
#include <string_view>

namespace kfp {

class Backend;
class ByteWriter;
struct InstalledFont;

// Everything after the program name, which ends at its closing quote when it starts with one and at
// the first blank or tab otherwise. Quotes inside the program name cannot be escaped. Empty when
// the command line holds only the program name.
std::u16string_view argumentText(std::u16string_view commandLine);

// "--list-fonts" anywhere in the argument text (case-sensitive). --version is decided first.
bool isListFontsRequest(std::string_view argumentText);

// Writes one font descriptor per line, without a font id, for every face the backend's installed
// fonts hold. Returns the process's exit code: kExitOk; kExitInitializeFailed when the fonts
// cannot be enumerated (nothing is written); kExitBadHandles when the output fails.
int writeInstalledFontList(Backend& backend, ByteWriter& out);

// One line's JSON text, without the newline: the descriptor fields the renderer reads, names
// always present (empty when unknown), axes as designAxesData with the face's designVector.
std::string installedFontJson(const InstalledFont& font);

}  // namespace kfp
