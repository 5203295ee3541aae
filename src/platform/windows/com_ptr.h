#pragma once
// An owning reference to a COM object: releases it once, copies add a reference.

#include <unknwn.h>

#include <utility>

namespace kfp::windows_backend {

template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(const ComPtr& other) : ptr_(other.ptr_) {
    if (ptr_) ptr_->AddRef();
  }
  ComPtr(ComPtr&& other) noexcept : ptr_(std::exchange(other.ptr_, nullptr)) {}
  ComPtr& operator=(ComPtr other) noexcept {
    std::swap(ptr_, other.ptr_);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const { return ptr_; }
  T* operator->() const { return ptr_; }
  explicit operator bool() const { return ptr_ != nullptr; }

  // The address to receive a new reference through an out parameter; the old one is released.
  T** put() {
    reset();
    return &ptr_;
  }
  void reset() {
    if (T* old = std::exchange(ptr_, nullptr)) old->Release();
  }

  // The same object through another interface; a failure code and an empty pointer when the
  // object does not offer it.
  template <typename U>
  HRESULT queryInterface(ComPtr<U>* out) const {
    void** slot = reinterpret_cast<void**>(out->put());
    if (!ptr_) return E_POINTER;
    return ptr_->QueryInterface(__uuidof(U), slot);
  }

 private:
  T* ptr_ = nullptr;
};

}  // namespace kfp::windows_backend
