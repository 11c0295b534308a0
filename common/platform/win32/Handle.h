#pragma once
// Owners for Windows handles and COM interfaces. Each kind of handle names its "none" value and
// its closer once, here, so no error path closes anything by hand.

#include <cstddef>
#include <utility>

#include "common/platform/win32/Win.h"

#include <unknwn.h>

namespace zorvek {

// Traits: `Handle` (the type), `invalid()` (the "none" value), `close(h)` (called only for a
// handle other than invalid()).
template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() = default;
  explicit UniqueHandle(Handle h) : h_(h) {}
  UniqueHandle(UniqueHandle&& o) noexcept : h_(o.release()) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    reset(o.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { reset(); }

  Handle get() const { return h_; }
  [[nodiscard]] Handle release() { return std::exchange(h_, Traits::invalid()); }
  void reset(Handle h = Traits::invalid()) {
    // Adopt first: a closer that reaches this owner again (or a self-reset) sees the new value.
    const Handle old = std::exchange(h_, h);
    if (old != Traits::invalid() && old != h) Traits::close(old);
  }
  // For APIs that hand the handle back through a pointer: closes what is held first.
  Handle* put() {
    reset();
    return &h_;
  }
  explicit operator bool() const { return h_ != Traits::invalid(); }

 private:
  Handle h_ = Traits::invalid();
};

// Events, processes, threads, tokens, mutexes: functions that fail with NULL.
struct KernelTraits {
  using Handle = HANDLE;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { ::CloseHandle(h); }
};

// CreateFileW and CreateNamedPipeW fail with INVALID_HANDLE_VALUE, not NULL.
struct FileTraits {
  using Handle = HANDLE;
  static Handle invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Handle h) { ::CloseHandle(h); }
};

struct ServiceTraits {
  using Handle = SC_HANDLE;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { ::CloseServiceHandle(h); }
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { ::RegCloseKey(h); }
};

// Memory the system allocated for the caller with LocalAlloc (security descriptors, SIDs,
// FormatMessage text), typed as the API returns it.
template <typename Pointer>
struct LocalTraits {
  using Handle = Pointer;
  static Handle invalid() { return nullptr; }
  static void close(Handle p) { ::LocalFree(p); }
};

struct FindTraits {
  using Handle = HANDLE;
  static Handle invalid() { return INVALID_HANDLE_VALUE; }
  static void close(Handle h) { ::FindClose(h); }
};

// Pens, brushes, fonts, bitmaps, regions. Deselect an object from every DC before its owner goes:
// GDI refuses to delete an object still selected into one.
template <typename Object>
struct GdiTraits {
  using Handle = Object;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { ::DeleteObject(h); }
};

// DCs from CreateCompatibleDC; window DCs from GetDC go back with ReleaseDC instead.
struct MemoryDcTraits {
  using Handle = HDC;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { ::DeleteDC(h); }
};

// Icons the program created or loaded unshared; shared icons (LR_SHARED) are never destroyed.
struct IconTraits {
  using Handle = HICON;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { ::DestroyIcon(h); }
};

struct MenuTraits {
  using Handle = HMENU;
  static Handle invalid() { return nullptr; }
  static void close(Handle h) { ::DestroyMenu(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelTraits>;
using UniqueFile = UniqueHandle<FileTraits>;
using UniqueServiceHandle = UniqueHandle<ServiceTraits>;
using UniqueRegKey = UniqueHandle<RegKeyTraits>;
template <typename Pointer = HLOCAL>
using UniqueLocal = UniqueHandle<LocalTraits<Pointer>>;
using UniqueFind = UniqueHandle<FindTraits>;
template <typename Object = HGDIOBJ>
using UniqueGdiObject = UniqueHandle<GdiTraits<Object>>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueIcon = UniqueHandle<IconTraits>;
using UniqueMenu = UniqueHandle<MenuTraits>;

// One counted reference to a COM object.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  // Shares the object: takes a reference of its own.
  explicit ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& o) : ComPtr(o.p_) {}
  ComPtr(ComPtr&& o) noexcept : p_(o.detach()) {}
  ComPtr& operator=(ComPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~ComPtr() { reset(); }

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

  void reset() {
    if (T* p = detach()) p->Release();
  }
  // Takes over a reference the caller already owns (no AddRef).
  void attach(T* p) {
    reset();
    p_ = p;
  }
  // Hands the reference to the caller, who must Release it.
  [[nodiscard]] T* detach() { return std::exchange(p_, nullptr); }
  // Out-parameter of CoCreateInstance, QueryInterface and get_ properties: releases what is held.
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }

  // QueryInterface for U into `out`.
  template <typename U>
  HRESULT as(ComPtr<U>& out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(__uuidof(U), out.putVoid());
  }

 private:
  T* p_ = nullptr;
};

}  // namespace zorvek
