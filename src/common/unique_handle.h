// One small owner for every kind of Windows handle: a traits type per kind says how to close it.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>
#include <winhttp.h>

#include <utility>

template <typename Traits>
class unique_handle {
 public:
  using pointer = typename Traits::pointer;

  unique_handle() noexcept = default;
  explicit unique_handle(pointer value) noexcept : value_(value) {}
  unique_handle(const unique_handle&) = delete;
  unique_handle& operator=(const unique_handle&) = delete;
  unique_handle(unique_handle&& other) noexcept : value_(other.release()) {}
  unique_handle& operator=(unique_handle&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ~unique_handle() { reset(); }

  pointer get() const noexcept { return value_; }
  explicit operator bool() const noexcept { return value_ != Traits::invalid(); }

  pointer release() noexcept { return std::exchange(value_, Traits::invalid()); }

  void reset(pointer value = Traits::invalid()) noexcept {
    pointer old = std::exchange(value_, value);
    if (old != Traits::invalid()) Traits::close(old);
  }

  // For out-parameters of the API: closes what is held and lends the slot.
  pointer* put() noexcept {
    reset();
    return &value_;
  }

 private:
  pointer value_ = Traits::invalid();
};

struct kernel_handle_traits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { ::CloseHandle(value); }
};

// CreateFileW and FindFirstFileW report failure as INVALID_HANDLE_VALUE, not null.
struct file_handle_traits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(pointer value) noexcept { ::CloseHandle(value); }
};

struct local_memory_traits {
  using pointer = HLOCAL;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { ::LocalFree(value); }
};

struct co_task_memory_traits {
  using pointer = void*;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { ::CoTaskMemFree(value); }
};

template <typename Interface>
struct com_traits {
  using pointer = Interface*;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { value->Release(); }
};

struct gdi_object_traits {
  using pointer = HGDIOBJ;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { ::DeleteObject(value); }
};

// A FindFirstFileExW listing.
struct find_handle_traits {
  using pointer = HANDLE;
  static pointer invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void close(pointer value) noexcept { ::FindClose(value); }
};

struct registry_key_traits {
  using pointer = HKEY;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { ::RegCloseKey(value); }
};

// Sessions, connections and requests alike.
struct internet_handle_traits {
  using pointer = HINTERNET;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { ::WinHttpCloseHandle(value); }
};

struct bcrypt_algorithm_traits {
  using pointer = BCRYPT_ALG_HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { ::BCryptCloseAlgorithmProvider(value, 0); }
};

struct bcrypt_hash_traits {
  using pointer = BCRYPT_HASH_HANDLE;
  static pointer invalid() noexcept { return nullptr; }
  static void close(pointer value) noexcept { ::BCryptDestroyHash(value); }
};

using unique_kernel_handle = unique_handle<kernel_handle_traits>;
using unique_file_handle = unique_handle<file_handle_traits>;
using unique_local_memory = unique_handle<local_memory_traits>;
using unique_co_task_memory = unique_handle<co_task_memory_traits>;
using unique_gdi_object = unique_handle<gdi_object_traits>;
using unique_find_handle = unique_handle<find_handle_traits>;
using unique_registry_key = unique_handle<registry_key_traits>;
using unique_internet_handle = unique_handle<internet_handle_traits>;
using unique_bcrypt_algorithm = unique_handle<bcrypt_algorithm_traits>;
using unique_bcrypt_hash = unique_handle<bcrypt_hash_traits>;
template <typename Interface>
using unique_com = unique_handle<com_traits<Interface>>;
