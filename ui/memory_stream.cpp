#include "ui/memory_stream.h"

#include <cstring>

namespace ui {

MemoryStream::~MemoryStream() { Free(); }

// A copy must not free the block a second time: a copied (fixed) block is
// duplicated, and a stream that owns its block is shared by reference.
MemoryStream::MemoryStream(const MemoryStream& other) {
  if (other.owns_block_ && other.block_) {
    std::size_t n = GlobalSize(other.block_);
    const void* src = GlobalLock(other.block_);
    rt::Bytes bytes(src, src ? n : 0);
    GlobalUnlock(other.block_);
    Load(bytes, true);
  } else if (other.stream_) {
    stream_ = other.stream_;
    stream_->AddRef();
  }
}

void MemoryStream::Load(const rt::Bytes& bytes, bool copy) {
  Free();
  if (copy) {
    block_ = GlobalAlloc(GMEM_FIXED, bytes.size());
    if (!block_) return;
    if (void* p = GlobalLock(block_)) {
      if (!bytes.empty()) std::memcpy(p, bytes.data(), bytes.size());
      GlobalUnlock(block_);
    }
    owns_block_ = true;
    if (CreateStreamOnHGlobal(block_, FALSE, &stream_) != S_OK) stream_ = nullptr;
  } else {
    block_ = GlobalAlloc(GMEM_MOVEABLE, 0);
    if (!block_) return;
    owns_block_ = false;  // the stream deletes it on release
    if (CreateStreamOnHGlobal(block_, TRUE, &stream_) != S_OK) {
      stream_ = nullptr;
      GlobalFree(block_);
      block_ = nullptr;
    }
  }
}

void MemoryStream::Free() {
  if (stream_) stream_->Release();
  stream_ = nullptr;
  if (block_ && owns_block_) GlobalFree(block_);
  block_ = nullptr;
  owns_block_ = false;
}

}  // namespace ui
