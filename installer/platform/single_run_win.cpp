#include <windows.h>

#include "installer/platform/single_run.h"
#include "runtime/value/codepage.h"

namespace installer {

SoftwareRunLock::~SoftwareRunLock() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

bool SoftwareRunLock::acquire(const rt::Text& software_name) {
  if (handle_) return true;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, rt::wide_path(run_lock_name(software_name).view()).c_str());
  if (!mutex) return false;
  // An abandoned lock (its holder was killed) is taken over: the journal
  // puts right whatever that run left.
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    DWORD waited = WaitForSingleObject(mutex, 0);
    if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
      CloseHandle(mutex);
      return false;
    }
  } else if (WaitForSingleObject(mutex, 0) == WAIT_FAILED) {
    CloseHandle(mutex);
    return false;
  }
  handle_ = mutex;
  return true;
}

}  // namespace installer
