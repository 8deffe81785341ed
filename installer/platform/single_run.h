// One installation or uninstallation of a software at a time: setup.exe and
// uninst.exe take the same lock, named from a secret of those who share it
// and the software's name, and a second program of either kind refuses to
// run while one holds it.
#pragma once

#include <memory>

#include "runtime/value/value.h"

namespace installer {

// Who shares a lock: an installation for every user (and the older layout
// without a scope) with the administrators of the machine; one for a person
// with that person only.
enum class LockScope { kMachine, kUser };

class SoftwareRunLock {
 public:
  SoftwareRunLock();
  ~SoftwareRunLock();
  SoftwareRunLock(const SoftwareRunLock&) = delete;
  SoftwareRunLock& operator=(const SoftwareRunLock&) = delete;

  // Takes the lock of `software_name` for `scope`, held until this object
  // goes (on the thread that took it); false when another program, or
  // another object of this one, holds it, or the lock cannot be made (a
  // machine's lock needs an administrator).
  bool acquire(const rt::Text& software_name, LockScope scope);

 private:
  struct Held;
  std::unique_ptr<Held> held_;
};

// Names a salt gives one software's lock: the first that no other account
// has taken is used.
inline constexpr int kRunLockSlots = 4;

// The lock's object name: "Global\TarnelSetup-" and the 64 hexadecimal
// digits of SHA-256(salt || software name); for the slots after the first,
// a NUL and the slot's number follow the name. Without the salt the name
// cannot be worked out.
rt::Text run_lock_name(const rt::Bytes& salt, const rt::Text& software_name, int slot = 0);

// "“<name>”的安装或卸载程序正在运行，请等它结束后再试。"
rt::Text another_run_message(const rt::Text& software_name);

}  // namespace installer
