// Stopping a run at a safe point and taking back what it made.
#include <windows.h>

#include <atomic>

#include "installer/steps/host.h"
#include "runtime/services/system_services.h"

namespace installer {

void InstallView::show_failure_message(const rt::Text& text) {
  rt::message_box(text, kFailureMessageStyle, kNetworkCaption);
}

void begin_install_run() {
  cancel_requested() = false;
  this_run().clear();
}

RunRecord& this_run() {
  static RunRecord record;
  return record;
}

bool RunRecord::creating(const std::u16string& path, bool folder) {
  if (journal_.covers(path)) return journal_.creating(path, folder);
  items_.push_back({path, folder});
  return true;
}

bool undo_this_run() {
  RunRecord& record = this_run();
  // The journal first: it lets go of the installation folder, which the
  // list in memory may then remove with the levels above it it made.
  bool all = record.journal().roll_back() != Recovery::kFailed;
  const auto& items = record.items();
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    const wchar_t* path = reinterpret_cast<const wchar_t*>(it->path.c_str());
    DWORD attributes = GetFileAttributesW(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) continue;  // already gone
    // Only what the run made is named here, so a link in its place is not
    // followed: the link itself goes, never what it points at.
    if (it->folder) {
      if (!RemoveDirectoryW(path)) all = false;  // not empty: something else lives there now
    } else {
      if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(path, attributes & ~FILE_ATTRIBUTE_READONLY);
      if (!DeleteFileW(path)) all = false;
    }
  }
  record.clear();
  return all;
}

}  // namespace installer
