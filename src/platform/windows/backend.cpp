#include "platform/windows/gdi.h"
#include "platform/windows/graphics.h"
#include "platform/windows/installed_fonts.h"
#include "platform/windows/process_memory.h"
#include "platform/windows/test_hooks.h"
#include "platform/windows/text_engine.h"
#include "platform/windows/windows_backend.h"

namespace kfp {
namespace windows_backend {
namespace {

class WindowsBackend final : public Backend {
 public:
  std::shared_ptr<TextEngine> createTextEngine() override {
    if (testFailInitialize()) return nullptr;
    return WindowsTextEngine::create();
  }

  std::shared_ptr<Graphics> createGraphics() override { return createWindowsGraphics(); }

  Gdi& gdi() override { return *gdi_; }

  uint64_t privateBytes() override { return readPrivateBytes(); }
  void releaseFreeMemory() override { releaseFreeHeap(); }
  bool listInstalledFonts(std::vector<InstalledFont>* fonts) override {
    return listSystemFonts(fonts);
  }

 private:
  std::unique_ptr<Gdi> gdi_ = createWindowsGdi();
};

}  // namespace
}  // namespace windows_backend

std::unique_ptr<Backend> createWindowsBackend() {
  return std::make_unique<windows_backend::WindowsBackend>();
}

}  // namespace kfp
