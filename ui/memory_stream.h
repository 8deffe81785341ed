// A stream over one global memory block, for decoders that read IStream.
#pragma once

#include <objidl.h>
#include <windows.h>

#include "runtime/value/value.h"

namespace ui {

class MemoryStream {
 public:
  MemoryStream() = default;
  ~MemoryStream();                        // frees the block
  MemoryStream(const MemoryStream& other);  // duplicates both fields (the stream gains a reference)
  MemoryStream& operator=(const MemoryStream&) = delete;

  // With copy: a fixed block holding the bytes, kept when the stream is
  // released; without: an empty movable block that the stream owns.
  void Load(const rt::Bytes& bytes, bool copy);
  void Free();  // GlobalFree of the block
  IStream* Stream() const { return stream_; }
  HGLOBAL Block() const { return block_; }

 private:
  HGLOBAL block_ = nullptr;
  IStream* stream_ = nullptr;
  bool owns_block_ = false;
};

}  // namespace ui
