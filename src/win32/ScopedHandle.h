#pragma once
// One move-only owner for every kind of Win32 handle; the traits say what is invalid and how it
// closes. Move-assignment closes the handle it replaces.

#include <windows.h>
#include <winhttp.h>

#include <utility>

template <typename Traits>
class ScopedHandle {
 public:
  using Handle = typename Traits::Handle;

  ScopedHandle() = default;
  explicit ScopedHandle(Handle handle) : handle_(handle) {}
  ~ScopedHandle() { Close(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&& other) noexcept : handle_(other.Release()) {}
  ScopedHandle& operator=(ScopedHandle&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  Handle Get() const { return handle_; }
  bool IsValid() const { return !Traits::IsInvalid(handle_); }
  explicit operator bool() const { return IsValid(); }
  Handle Release() { return std::exchange(handle_, Traits::Invalid()); }
  void Reset(Handle handle = Traits::Invalid()) {
    Close();
    handle_ = handle;
  }

 private:
  void Close() {
    if (IsValid()) Traits::Close(handle_);
    handle_ = Traits::Invalid();
  }
  Handle handle_ = Traits::Invalid();
};

// Kernel objects that report failure as NULL (processes, threads, events).
struct KernelHandleTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsInvalid(Handle h) { return h == nullptr || h == INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};
using UniqueHandle = ScopedHandle<KernelHandleTraits>;

// Files, which report failure as INVALID_HANDLE_VALUE.
using UniqueFile = ScopedHandle<KernelHandleTraits>;

struct ServiceHandleTraits {
  using Handle = SC_HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsInvalid(Handle h) { return h == nullptr; }
  static void Close(Handle h) { CloseServiceHandle(h); }
};
using UniqueServiceHandle = ScopedHandle<ServiceHandleTraits>;

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() { return nullptr; }
  static bool IsInvalid(Handle h) { return h == nullptr; }
  static void Close(Handle h) { RegCloseKey(h); }
};
using UniqueRegistryKey = ScopedHandle<RegistryKeyTraits>;

struct InternetHandleTraits {
  using Handle = HINTERNET;
  static Handle Invalid() { return nullptr; }
  static bool IsInvalid(Handle h) { return h == nullptr; }
  static void Close(Handle h) { WinHttpCloseHandle(h); }
};
using UniqueInternetHandle = ScopedHandle<InternetHandleTraits>;

struct EventSourceTraits {
  using Handle = HANDLE;
  static Handle Invalid() { return nullptr; }
  static bool IsInvalid(Handle h) { return h == nullptr; }
  static void Close(Handle h) { DeregisterEventSource(h); }
};
using UniqueEventSource = ScopedHandle<EventSourceTraits>;
