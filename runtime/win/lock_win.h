// A mutex for the Windows-only code: a slim reader/writer lock taken
// exclusively. std::mutex would bring MinGW's POSIX thread layer (about
// 30 KB) into the programs.
#pragma once

#include <windows.h>

namespace rt {

class Lock {
 public:
  constexpr Lock() = default;
  Lock(const Lock&) = delete;
  Lock& operator=(const Lock&) = delete;
  void lock() { AcquireSRWLockExclusive(&lock_); }
  void unlock() { ReleaseSRWLockExclusive(&lock_); }

 private:
  SRWLOCK lock_ = SRWLOCK_INIT;
};

}  // namespace rt
