#include "platform/windows/text_layout.h"

namespace kfp::windows_backend {

bool WindowsTextLayout::getMetrics(TextMetrics* metrics) const {
  DWRITE_TEXT_METRICS measured{};
  if (FAILED(layout_->GetMetrics(&measured))) return false;
  metrics->height = measured.height;
  metrics->lineCount = measured.lineCount;
  return true;
}

}  // namespace kfp::windows_backend
