// The C++ library's operator new and static guards, replaced by smaller ones
// that need neither the unwinder nor MinGW's POSIX thread layer. Linked as an
// object of each program so that these take the place of the library's own.
#include <windows.h>

#include <cstdlib>
#include <new>

// operator new: the new-handler is asked as the standard says; where the
// library would throw bad_alloc, which nothing catches, the program ends;
// the nothrow forms give nullptr as before.
namespace {
void* allocate(std::size_t n) noexcept {
  for (;;) {
    if (void* p = std::malloc(n ? n : 1)) return p;
    std::new_handler handler = std::get_new_handler();
    if (!handler) return nullptr;
    handler();
  }
}
void* allocate_or_end(std::size_t n) {
  if (void* p = allocate(n)) return p;
  std::abort();
}
}  // namespace

void* operator new(std::size_t n) { return allocate_or_end(n); }
void* operator new[](std::size_t n) { return allocate_or_end(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept { return allocate(n); }

// Guards of function-local statics. The library's use POSIX condition
// variables and throw on recursion. Byte 0 of a guard says "initialised"
// (the compiler tests it inline); bytes 4-7 hold the thread initialising.
namespace {
bool initialised(long long* guard) { return __atomic_load_n(reinterpret_cast<char*>(guard), __ATOMIC_ACQUIRE) != 0; }
volatile LONG* owner(long long* guard) { return reinterpret_cast<volatile LONG*>(reinterpret_cast<char*>(guard) + 4); }
}  // namespace

extern "C" int __cxa_guard_acquire(long long* guard) {
  LONG me = static_cast<LONG>(GetCurrentThreadId());
  for (;;) {
    if (initialised(guard)) return 0;
    LONG holder = InterlockedCompareExchange(owner(guard), me, 0);
    if (holder == 0) {
      if (!initialised(guard)) return 1;
      InterlockedExchange(owner(guard), 0);
      return 0;
    }
    if (holder == me) std::abort();  // the object's initialisation needs the object
    Sleep(1);
  }
}

extern "C" void __cxa_guard_release(long long* guard) {
  __atomic_store_n(reinterpret_cast<char*>(guard), 1, __ATOMIC_RELEASE);
  InterlockedExchange(owner(guard), 0);
}

extern "C" void __cxa_guard_abort(long long* guard) { InterlockedExchange(owner(guard), 0); }
