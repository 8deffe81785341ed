#include "json/heap.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace json {

namespace {
std::atomic<long> g_allocations_left{0};  // 0: the seam is off

bool forced_failure() {
  long left = g_allocations_left.load(std::memory_order_relaxed);
  if (left == 0) return false;
  if (left == 1) return true;  // stays failed until turned off
  g_allocations_left.fetch_sub(1, std::memory_order_relaxed);
  return false;
}
}  // namespace

void fail_allocations_after(long n) { g_allocations_left.store(n < 0 ? 0 : n); }

// Private blocks carry a header that links them into their heap, so that the
// heap can free them all when it is destroyed.
struct alignas(std::max_align_t) Heap::Block {
  Block* prev;
  Block* next;
};

Heap* Heap::process() {
  static Heap shared(false);
  return &shared;
}

Heap* Heap::create() {
  if (forced_failure()) return nullptr;
  return new (std::nothrow) Heap(true);
}

void Heap::destroy(Heap* heap) {
  if (!heap || !heap->private_) return;
  Block* b = heap->blocks_;
  while (b) {
    Block* next = b->next;
    std::free(b);
    b = next;
  }
  delete heap;
}

void* Heap::alloc(std::size_t n) {
  if (forced_failure()) return nullptr;
  if (!private_) return std::calloc(1, n ? n : 1);
  auto* b = static_cast<Block*>(std::calloc(1, sizeof(Block) + n));
  if (!b) return nullptr;
  b->next = blocks_;
  if (blocks_) blocks_->prev = b;
  blocks_ = b;
  return b + 1;
}

void Heap::free(void* block) {
  if (!block) return;
  if (!private_) {
    std::free(block);
    return;
  }
  Block* b = static_cast<Block*>(block) - 1;
  if (b->prev) b->prev->next = b->next;
  else blocks_ = b->next;
  if (b->next) b->next->prev = b->prev;
  std::free(b);
}

void* Heap::resize(void* block, std::size_t old_n, std::size_t n) {
  if (!block) return alloc(n);
  if (forced_failure()) return nullptr;
  if (!private_) {
    void* p = std::realloc(block, n ? n : 1);
    if (p && n > old_n) std::memset(static_cast<char*>(p) + old_n, 0, n - old_n);
    return p;
  }
  void* p = alloc(n);
  if (!p) return nullptr;
  std::memcpy(p, block, old_n < n ? old_n : n);
  free(block);
  return p;
}

}  // namespace json
