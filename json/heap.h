// Where the document's blocks live. Every block comes zero-filled. The process
// heap serves nodes and their texts; a private heap belongs to one container,
// which frees all of its blocks at once by destroying the heap.
#pragma once

#include <cstddef>

namespace json {

class Heap {
 public:
  // The shared heap (never destroyed).
  static Heap* process();
  // A new private heap, or null when it cannot be made.
  static Heap* create();
  // Frees every block of a private heap and the heap itself; the process heap
  // and null are left alone.
  static void destroy(Heap* heap);

  // n zero bytes, or null on failure.
  void* alloc(std::size_t n);
  void free(void* block);
  // Grows (or shrinks) a block to n bytes keeping its content; bytes beyond
  // the old size are zero. Null on failure, the old block then stays valid.
  void* resize(void* block, std::size_t old_n, std::size_t n);
  bool is_private() const { return private_; }

 private:
  struct Block;
  explicit Heap(bool is_private) : private_(is_private) {}
  bool private_;
  Block* blocks_ = nullptr;  // private heaps: every live block, newest first
};

// Test seam: the n-th allocation from now on (1 = the next one) fails, and so
// does every one after it until the seam is turned off with 0.
void fail_allocations_after(long n);

}  // namespace json
