// Stopping a run at a safe point and taking back what it made.
#include <windows.h>

#include <atomic>

#include "installer/steps/host.h"
#include "installer/steps/run_file.h"
#include "runtime/win/confined.h"
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

namespace {
struct FolderHold : RunRecord::Hold {
  explicit FolderHold(rt::win::Folder f) : folder(std::move(f)) {}
  rt::win::Folder folder;
};
}  // namespace

std::unique_ptr<RunRecord::Hold> hold_of(rt::win::Folder folder) {
  if (!folder) return nullptr;
  return std::make_unique<FolderHold>(std::move(folder));
}

const rt::win::Folder* held_folder(const RunRecord::Hold* hold) {
  return hold ? &static_cast<const FolderHold*>(hold)->folder : nullptr;
}

bool RunRecord::creating(const std::u16string& path, bool folder) {
  if (journal_.covers(path)) return journal_.creating(path, folder);
  // Outside the installation folder: the folder it is made in, held from
  // now until the run ends (never a path looked up again to take it back).
  std::u16string parent, name;
  rt::win::Folder held;
  if (rt::win::split_plain_parent(path, &parent, &name)) held = rt::win::Folder::open(parent);
  created(path, folder, hold_of(std::move(held)));
  return true;
}

bool undo_this_run() {
  RunRecord& record = this_run();
  // The journal first: it lets go of the installation folder, which the
  // list in memory may then remove with the levels above it it made.
  bool all = record.journal().roll_back() != Recovery::kFailed;
  std::vector<RunRecord::Item> items = record.take_items();
  for (auto it = items.rbegin(); it != items.rend(); ++it) {
    std::u16string parent, name;
    if (!rt::win::split_plain_parent(it->path, &parent, &name)) continue;
    rt::win::Folder reopened;
    const rt::win::Folder* folder = held_folder(it->parent.get());
    if (!folder) {
      reopened = rt::win::Folder::open(parent);
      folder = &reopened;
    }
    // Only what the run made is named here, through the folder it was made
    // in: a link in its place goes itself, never what it points at; a
    // folder goes only when empty (something else lives there now).
    rt::win::FileStatus s = it->folder ? folder->remove_folder(name) : folder->remove(name);
    if (s != rt::win::FileStatus::kOk && s != rt::win::FileStatus::kMissing) all = false;
    // Its hold goes with it: the folder it was made in may be the next to go.
    it->parent.reset();
  }
  record.clear();
  return all;
}

}  // namespace installer
