// One installation or uninstallation of a software at a time: setup.exe and
// uninst.exe take the same named lock, made from the software's name, and a
// second program of either kind refuses to run while one holds it.
#pragma once

#include "runtime/value/value.h"

namespace installer {

class SoftwareRunLock {
 public:
  SoftwareRunLock() = default;
  ~SoftwareRunLock();
  SoftwareRunLock(const SoftwareRunLock&) = delete;
  SoftwareRunLock& operator=(const SoftwareRunLock&) = delete;

  // Takes the lock of `software_name`, held until this object goes; false
  // when another program holds it (or it cannot be made).
  bool acquire(const rt::Text& software_name);

 private:
  void* handle_ = nullptr;
};

// The lock's object name: not the software's name itself (which may hold
// any character), but a digest of it.
rt::Text run_lock_name(const rt::Text& software_name);

// "“<name>”的安装或卸载程序正在运行，请等它结束后再试。"
rt::Text another_run_message(const rt::Text& software_name);

}  // namespace installer
