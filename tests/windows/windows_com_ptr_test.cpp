// The owning COM pointer: every reference taken is released exactly once.
#include <dwrite.h>

#include <utility>

#include "platform/windows/com_ptr.h"
#include "windows/windows_test_support.h"

namespace kfp {
namespace {

using windows_backend::ComPtr;

// An object that counts its references and answers only for IUnknown.
class Counted : public IUnknown {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (iid != __uuidof(IUnknown)) {
      *out = nullptr;
      return E_NOINTERFACE;
    }
    *out = static_cast<IUnknown*>(this);
    AddRef();
    return S_OK;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
  ULONG STDMETHODCALLTYPE Release() override { return --references; }
  ULONG references = 1;  // the reference handed to the first owner
};

TEST(ComPtr, ReleasesEachReferenceOnce) {
  Counted object;
  {
    ComPtr<IUnknown> first;
    *first.put() = &object;
    EXPECT_EQ(object.references, 1u);
    ComPtr<IUnknown> copy = first;
    EXPECT_EQ(object.references, 2u);
    ComPtr<IUnknown> moved = std::move(copy);
    EXPECT_EQ(object.references, 2u);
    EXPECT_FALSE(copy);
    moved = first;  // assigning the same object keeps one reference per owner
    EXPECT_EQ(object.references, 2u);
    moved = moved;
    EXPECT_EQ(object.references, 2u);
    moved.reset();
    EXPECT_EQ(object.references, 1u);
  }
  EXPECT_EQ(object.references, 0u);
}

TEST(ComPtr, PutReleasesTheOldReference) {
  Counted a;
  Counted b;
  ComPtr<IUnknown> owner;
  *owner.put() = &a;
  *owner.put() = &b;
  EXPECT_EQ(a.references, 0u);
  EXPECT_EQ(b.references, 1u);
  owner.reset();
  EXPECT_EQ(b.references, 0u);
}

TEST(ComPtr, QueryInterfaceReportsFailureAndLeavesNothing) {
  Counted object;
  ComPtr<IUnknown> owner;
  *owner.put() = &object;
  ComPtr<IUnknown> same;
  EXPECT_EQ(owner.queryInterface(&same), S_OK);
  EXPECT_EQ(object.references, 2u);
  ComPtr<IDWriteFactory> other;
  EXPECT_EQ(owner.queryInterface(&other), E_NOINTERFACE);
  EXPECT_FALSE(other);
  ComPtr<IUnknown> empty;
  EXPECT_EQ(empty.queryInterface(&same), E_POINTER);
  EXPECT_FALSE(same);
  EXPECT_EQ(object.references, 1u);
}

}  // namespace
}  // namespace kfp
