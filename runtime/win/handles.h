// Owners of Windows handles: each closes its handle when it goes, exactly
// once, and can give it up (release) or be emptied early (reset). One
// template, one small traits type per kind of handle.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <utility>

namespace rt::win {

template <typename Traits>
class Owner {
 public:
  using Handle = typename Traits::Handle;
  Owner() = default;
  explicit Owner(Handle h) : h_(h) {}
  Owner(const Owner&) = delete;
  Owner& operator=(const Owner&) = delete;
  Owner(Owner&& o) noexcept : h_(o.release()) {}
  Owner& operator=(Owner&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }
  ~Owner() { reset(); }

  Handle get() const { return h_; }
  explicit operator bool() const { return h_ != Traits::invalid(); }
  Handle release() { return std::exchange(h_, Traits::invalid()); }
  // Closes the handle now; true when there was none or closing succeeded.
  bool reset(Handle h = Traits::invalid()) {
    Handle old = std::exchange(h_, h);
    return old == Traits::invalid() || Traits::close(old);
  }

 private:
  Handle h_ = Traits::invalid();
};

// Files from CreateFile (INVALID_HANDLE_VALUE when none).
struct FileTraits {
  using Handle = HANDLE;
  static Handle invalid() { return INVALID_HANDLE_VALUE; }
  static bool close(Handle h) { return CloseHandle(h) != FALSE; }
};
using File = Owner<FileTraits>;

// Processes, threads, events and the other kernel objects (null when none).
struct KernelTraits {
  using Handle = HANDLE;
  static Handle invalid() { return nullptr; }
  static bool close(Handle h) { return CloseHandle(h) != FALSE; }
};
using Kernel = Owner<KernelTraits>;

struct RegistryKeyTraits {
  using Handle = HKEY;
  static Handle invalid() { return nullptr; }
  static bool close(Handle h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};
using RegistryKey = Owner<RegistryKeyTraits>;

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle invalid() { return nullptr; }
  static bool close(Handle h) { return FreeLibrary(h) != FALSE; }
};
using Module = Owner<ModuleTraits>;

// Sessions, connections and requests of WinINet.
struct InternetTraits {
  using Handle = HINTERNET;
  static Handle invalid() { return nullptr; }
  static bool close(Handle h) { return InternetCloseHandle(h) != FALSE; }
};
using Internet = Owner<InternetTraits>;

// A resource update from BeginUpdateResource: discarded unless committed.
class ResourceUpdate {
 public:
  explicit ResourceUpdate(HANDLE h) : h_(h) {}
  ResourceUpdate(const ResourceUpdate&) = delete;
  ResourceUpdate& operator=(const ResourceUpdate&) = delete;
  ~ResourceUpdate() {
    if (h_) EndUpdateResourceW(h_, TRUE);  // the file stays as it was
  }
  HANDLE get() const { return h_; }
  explicit operator bool() const { return h_ != nullptr; }
  // Writes the changes into the file; true on success.
  bool commit() { return h_ && EndUpdateResourceW(std::exchange(h_, nullptr), FALSE) != FALSE; }

 private:
  HANDLE h_;
};

// The process and thread handles of a started program.
struct Process {
  Kernel process, thread;
  explicit Process(const PROCESS_INFORMATION& pi) : process(pi.hProcess), thread(pi.hThread) {}
};

}  // namespace rt::win
