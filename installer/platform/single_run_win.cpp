#include <windows.h>

#include "installer/platform/single_run.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"

namespace installer {

SoftwareRunLock::~SoftwareRunLock() {
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

bool SoftwareRunLock::acquire(const rt::Text& software_name) {
  if (handle_) return true;
  rt::win::Kernel mutex(CreateMutexW(nullptr, FALSE, rt::wide_path(run_lock_name(software_name).view()).c_str()));
  if (!mutex) return false;
  // Held by another program: refused. Abandoned (its holder was killed):
  // taken over; the journal puts right whatever that run left.
  DWORD waited = WaitForSingleObject(mutex.get(), 0);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) return false;
  handle_ = mutex.release();
  return true;
}

}  // namespace installer
