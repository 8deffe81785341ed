// COM for a thread while an apartment lives, and an owning interface pointer.
#pragma once

#include <objbase.h>

#include <memory>

namespace rt {

// COM for the calling thread while this lives (CoInitialize, and
// CoUninitialize when that succeeded); a thread that already has another
// apartment keeps it, and COM works there too.
class ComApartment {
 public:
  ComApartment() : hr_(CoInitialize(nullptr)) {}
  ~ComApartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  HRESULT hr_;
};

// An owning pointer to a COM interface: Release when it goes.
template <typename T>
struct ComReleaser {
  void operator()(T* p) const {
    if (p) p->Release();
  }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ComReleaser<T>>;

}  // namespace rt
