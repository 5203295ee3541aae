#include "platform/linux/gdi/gdi_default_family.h"

#include <unicode/ustring.h>

#include "platform/linux/c_handles.h"

namespace kfp::linux_backend {
namespace {

std::u16string fromUtf8(const char* text) {
  std::u16string out(256, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strFromUTF8Lenient(out.data(), int32_t(out.size()), &length, text, -1, &status);
  if (status == U_BUFFER_OVERFLOW_ERROR) {
    out.resize(size_t(length));
    status = U_ZERO_ERROR;
    u_strFromUTF8Lenient(out.data(), length, &length, text, -1, &status);
  }
  if (U_FAILURE(status)) return {};
  out.resize(size_t(length));
  return out;
}

}  // namespace

std::vector<std::u16string> defaultSansFamilies(FcConfig& config) {
  FcPatternPtr pattern(FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif")));
  if (!pattern) return {};
  if (!FcConfigSubstitute(&config, pattern.get(), FcMatchPattern)) return {};
  FcDefaultSubstitute(pattern.get());

  std::vector<std::u16string> families;
  FcChar8* family = nullptr;
  for (int i = 0; FcPatternGetString(pattern.get(), FC_FAMILY, i, &family) == FcResultMatch; ++i) {
    std::u16string name = fromUtf8(reinterpret_cast<const char*>(family));
    if (!name.empty() && name != u"sans-serif") families.push_back(std::move(name));
  }
  return families;
}

}  // namespace kfp::linux_backend
