// The programs' own stand-ins for the C++ library's static guards and
// operator new, compiled into this test program as into the programs.
#include "app/lean_runtime.cpp"

#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <vector>

namespace {

std::atomic<int> g_constructions{0};

struct Slow {
  Slow() {
    ++g_constructions;
    Sleep(50);  // long enough for every other thread to arrive and wait
    value = 42;
  }
  int value = 0;
};

Slow& shared_slow() {
  static Slow slow;
  return slow;
}

DWORD WINAPI read_shared(void* out) {
  *static_cast<int*>(out) = shared_slow().value;
  return 0;
}

TEST(LeanRuntimeTest, LocalStaticIsBuiltOnceWhileOtherThreadsWait) {
  constexpr int kThreads = 8;
  int seen[kThreads] = {};
  std::vector<HANDLE> threads;
  for (int& s : seen) threads.push_back(CreateThread(nullptr, 0, read_shared, &s, 0, nullptr));
  WaitForMultipleObjects(kThreads, threads.data(), TRUE, 30000);
  for (HANDLE t : threads) CloseHandle(t);
  EXPECT_EQ(g_constructions.load(), 1);
  for (int s : seen) EXPECT_EQ(s, 42);
  EXPECT_EQ(shared_slow().value, 42);
  EXPECT_EQ(g_constructions.load(), 1);
}

int g_handler_calls = 0;
void give_up() {
  ++g_handler_calls;
  std::set_new_handler(nullptr);
}

TEST(LeanRuntimeTest, NothrowNewAsksTheHandlerThenGivesNull) {
  std::size_t too_big = 0x7FFFFFF0;  // more than a 32-bit process can have in one block
  std::set_new_handler(give_up);
  void* p = operator new(too_big, std::nothrow);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(g_handler_calls, 1);
  EXPECT_EQ(operator new[](too_big, std::nothrow), nullptr);

  int* small = new int[1000];
  small[999] = 7;
  EXPECT_EQ(small[999], 7);
  delete[] small;
  int* one = new (std::nothrow) int(5);  // the nothrow form of an ordinary size succeeds
  ASSERT_NE(one, nullptr);
  delete one;
}

}  // namespace
