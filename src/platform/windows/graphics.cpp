#include "platform/windows/graphics.h"

#include <d2d1.h>
#include <wincodec.h>
#include <windows.h>

#include "platform/windows/text_layout.h"

namespace kfp::windows_backend {
namespace {

class WindowsBitmap final : public Bitmap {
 public:
  WindowsBitmap(ComPtr<IWICBitmap> bitmap, uint32_t width, uint32_t height)
      : bitmap_(std::move(bitmap)), width_(width), height_(height) {}

  bool lock(BitmapLock* out) override {
    const WICRect whole{0, 0, static_cast<INT>(width_), static_cast<INT>(height_)};
    // The lock stays held, and the pixels readable, until the next lock or the bitmap's end.
    if (FAILED(bitmap_->Lock(&whole, WICBitmapLockRead, lock_.put())) || !lock_) return false;
    UINT stride = 0;
    UINT size = 0;
    BYTE* data = nullptr;
    if (FAILED(lock_->GetStride(&stride)) || FAILED(lock_->GetDataPointer(&size, &data)) || !data) {
      return false;
    }
    out->data = data;
    out->stride = stride;
    out->bytesPerPixel = 4;
    out->alphaOffset = 3;  // blue, green, red, alpha
    return true;
  }

  IWICBitmap* get() const { return bitmap_.get(); }

 private:
  ComPtr<IWICBitmap> bitmap_;
  ComPtr<IWICBitmapLock> lock_;
  uint32_t width_;
  uint32_t height_;
};

class WindowsRenderTarget final : public RenderTarget {
 public:
  explicit WindowsRenderTarget(ComPtr<ID2D1RenderTarget> target) : target_(std::move(target)) {}

  void setGrayscaleTextAntialiasing() override {
    target_->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
  }

  bool createOpaqueWhiteBrush() override {
    const D2D1_COLOR_F white{1.0f, 1.0f, 1.0f, 1.0f};
    return SUCCEEDED(target_->CreateSolidColorBrush(white, brush_.put())) && brush_;
  }

  void beginDraw() override { target_->BeginDraw(); }

  void clear() override {
    const D2D1_COLOR_F transparent{0.0f, 0.0f, 0.0f, 0.0f};
    target_->Clear(transparent);
  }

  void drawTextLayout(const TextLayout& layout) override {
    const auto* own = dynamic_cast<const WindowsTextLayout*>(&layout);
    if (!own || !brush_) return;
    target_->DrawTextLayout(D2D1_POINT_2F{0.0f, 0.0f}, own->get(), brush_.get(),
                            D2D1_DRAW_TEXT_OPTIONS_ENABLE_COLOR_FONT);
  }

  bool endDraw() override { return SUCCEEDED(target_->EndDraw(nullptr, nullptr)); }

 private:
  ComPtr<ID2D1RenderTarget> target_;
  ComPtr<ID2D1SolidColorBrush> brush_;
};

class WindowsGraphics final : public Graphics {
 public:
  WindowsGraphics(ComPtr<ID2D1Factory> d2dFactory, ComPtr<IWICImagingFactory> wicFactory)
      : d2dFactory_(std::move(d2dFactory)), wicFactory_(std::move(wicFactory)) {}

  std::unique_ptr<Bitmap> createBitmap(uint32_t width, uint32_t height) override {
    // WIC implementations differ on empty bitmaps; none can be drawn into.
    if (width == 0 || height == 0) return nullptr;
    ComPtr<IWICBitmap> bitmap;
    // Cache on load: the memory is allocated now, so a later lock cannot fail for want of it.
    if (FAILED(wicFactory_->CreateBitmap(width, height, GUID_WICPixelFormat32bppPBGRA,
                                         WICBitmapCacheOnLoad, bitmap.put())) ||
        !bitmap) {
      return nullptr;
    }
    return std::make_unique<WindowsBitmap>(std::move(bitmap), width, height);
  }

  std::unique_ptr<RenderTarget> createRenderTarget(Bitmap& bitmap, float dpi) override {
    auto* own = dynamic_cast<WindowsBitmap*>(&bitmap);
    if (!own) return nullptr;
    // Software, so that the coverage does not depend on the graphics hardware.
    const D2D1_RENDER_TARGET_PROPERTIES properties{
        D2D1_RENDER_TARGET_TYPE_SOFTWARE,
        D2D1_PIXEL_FORMAT{DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED},
        dpi,
        dpi,
        D2D1_RENDER_TARGET_USAGE_NONE,
        D2D1_FEATURE_LEVEL_DEFAULT};
    ComPtr<ID2D1RenderTarget> target;
    if (FAILED(d2dFactory_->CreateWicBitmapRenderTarget(own->get(), properties, target.put())) ||
        !target) {
      return nullptr;
    }
    return std::make_unique<WindowsRenderTarget>(std::move(target));
  }

 private:
  ComPtr<ID2D1Factory> d2dFactory_;
  ComPtr<IWICImagingFactory> wicFactory_;
};

}  // namespace

std::shared_ptr<Graphics> createWindowsGraphics() {
  ComPtr<ID2D1Factory> d2dFactory;
  if (FAILED(D2D1CreateFactory(D2D1_FACTORY_TYPE_MULTI_THREADED, __uuidof(ID2D1Factory), nullptr,
                               reinterpret_cast<void**>(d2dFactory.put()))) ||
      !d2dFactory) {
    return nullptr;
  }
  ComPtr<IWICImagingFactory> wicFactory;
  if (FAILED(CoCreateInstance(CLSID_WICImagingFactory2, nullptr, CLSCTX_INPROC_SERVER,
                              __uuidof(IWICImagingFactory),
                              reinterpret_cast<void**>(wicFactory.put()))) ||
      !wicFactory) {
    return nullptr;
  }
  return std::make_shared<WindowsGraphics>(std::move(d2dFactory), std::move(wicFactory));
}

}  // namespace kfp::windows_backend
