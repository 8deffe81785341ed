// The removal engine over the confined file layer: a held root, its levels
// opened relative to each other, every item acted on through its own handle.
#include <windows.h>
#include <objidl.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <string>
#include <vector>

#include "installer/platform/removal.h"
#include "runtime/value/codepage.h"
#include "runtime/win/com.h"

namespace installer {

namespace {

using rt::win::FileStatus;
using rt::win::Folder;

// More held levels than this and the oldest are let go (they are opened
// again, and checked again, when next needed).
constexpr std::size_t kHeldLevels = 256;
// A shortcut larger than this is none of ours.
constexpr DWORD kMaxShortcut = 1u << 20;

std::u16string wide(const rt::Text& t) { return rt::wide_from_cp936(t.view()); }
rt::Text text(std::u16string_view w) { return rt::Text(rt::cp936_from_wide(w)); }

bool same_name(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         CompareStringOrdinal(reinterpret_cast<LPCWCH>(a.data()), int(a.size()), reinterpret_cast<LPCWCH>(b.data()),
                              int(b.size()), TRUE) == CSTR_EQUAL;
}

std::u16string upper(std::u16string_view s) {
  std::u16string out(s);
  if (!out.empty()) CharUpperBuffW(reinterpret_cast<wchar_t*>(out.data()), DWORD(out.size()));
  return out;
}

bool split_last(const std::u16string& path, std::u16string* folder, std::u16string* name) {
  return rt::win::split_plain_parent(path, folder, name);
}

// The names of `path` past the names of `folder`, when it lies there.
bool names_past(std::u16string_view folder, std::u16string_view path, std::vector<std::u16string_view>* rest) {
  std::vector<std::u16string_view> base, all;
  if (folder.empty() || !rt::win::split_plain_path(folder, &base) || !rt::win::split_plain_path(path, &all) ||
      !same_name(folder.substr(0, 1), path.substr(0, 1)) || all.size() < base.size())
    return false;
  for (std::size_t i = 0; i < base.size(); ++i)
    if (!same_name(base[i], all[i])) return false;
  rest->assign(all.begin() + std::ptrdiff_t(base.size()), all.end());
  return true;
}

}  // namespace

rt::Text own_program_path() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = GetModuleFileNameW(nullptr, buffer.data(), DWORD(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      break;
    }
    buffer.resize(buffer.size() * 2);
  }
  std::u16string path(buffer.begin(), buffer.end()), folder, name;
  // The long form, as the system names the file through a hold on its folder.
  if (split_last(path, &folder, &name))
    if (Folder held = Folder::open(folder))
      if (rt::win::File file = held.open_file(name, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
        std::u16string real = rt::win::final_path(file.get());
        if (!real.empty()) return text(real);
      }
  return text(path);
}

bool path_exists(const rt::Text& path) {
  std::u16string folder, name;
  if (!split_last(wide(path), &folder, &name)) return rt::win::plain_path(wide(path)) && bool(Folder::open(wide(path)));
  Folder held = Folder::open(folder);
  if (!held) return false;
  FileStatus s = held.look(name, nullptr);
  return s == FileStatus::kOk || s == FileStatus::kRefused;  // a link is something there too
}

Root Root::hold(const std::u16string& folder, bool deletable) {
  Root root;
  root.root_ = Folder::open(folder, nullptr, deletable);
  if (root.root_) root.given_ = folder;
  return root;
}

Root Root::hold(const rt::Text& folder, bool deletable) { return hold(wide(folder), deletable); }

rt::Text Root::path() const { return text(root_.path()); }

bool Root::names_below(const std::u16string& path, std::vector<std::u16string_view>* names) const {
  return root_ && (names_past(given_, path, names) || names_past(root_.path(), path, names));
}

bool Root::covers(const std::u16string& path) const {
  std::vector<std::u16string_view> names;
  return names_below(path, &names) && !names.empty();
}

bool Root::covers(const rt::Text& path) const { return covers(wide(path)); }

Folder Root::folder_at(const std::u16string& path, FileStatus* status) {
  std::vector<std::u16string_view> names;
  if (!names_below(path, &names)) {
    if (status) *status = FileStatus::kRefused;
    return {};
  }
  Folder level = root_;
  std::u16string key;
  for (std::u16string_view name : names) {
    key += upper(name);
    key += u'\\';
    auto known = levels_.find(key);
    if (known != levels_.end()) {
      level = known->second;
      continue;
    }
    level = level.open_folder(name, status);
    if (!level) return {};
    if (levels_.size() >= kHeldLevels) levels_.clear();
    levels_[key] = level;
  }
  if (status) *status = FileStatus::kOk;
  return level;
}

void Root::let_go(const std::u16string& path) {
  std::vector<std::u16string_view> names;
  if (!names_below(path, &names) || names.empty()) return;
  std::u16string key;
  for (std::u16string_view name : names) {
    key += upper(name);
    key += u'\\';
  }
  for (auto it = levels_.lower_bound(key); it != levels_.end() && it->first.compare(0, key.size(), key) == 0;)
    it = levels_.erase(it);
}

std::optional<Root::Place> Root::place(const std::u16string& path, FileStatus* status) {
  std::u16string folder, name;
  if (!covers(path) || !split_last(path, &folder, &name)) {
    if (status) *status = FileStatus::kRefused;
    return std::nullopt;
  }
  Folder held = folder_at(folder, status);
  if (!held) return std::nullopt;
  return Place{std::move(held), std::move(name)};
}

std::optional<Root::Place> Root::place(const rt::Text& path, FileStatus* status) { return place(wide(path), status); }

Removal removal_of(FileStatus status) {
  switch (status) {
    case FileStatus::kOk:
    case FileStatus::kMissing: return Removal::kGone;
    case FileStatus::kInUse: return Removal::kInUse;
    case FileStatus::kRefused: return Removal::kRefused;
    default: return Removal::kFailed;
  }
}

Removal remove_inside(const std::u16string& path, Root& root) {
  root.let_go(path);
  FileStatus s = FileStatus::kOk;
  auto at = root.place(path, &s);
  if (!at) return removal_of(s);
  return removal_of(at->folder.remove(at->name));
}

Removal remove_inside(const rt::Text& path, Root& root) { return remove_inside(wide(path), root); }

std::string file_mark(HANDLE file) {
  unsigned long long index = 0;
  FILE_BASIC_INFO basic = {};
  if (!rt::win::file_index(file, &index) || !GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic))
    return {};
  char mark[64];
  wsprintfA(mark, "id=%08lx%08lx:%08lx%08lx", (unsigned long)(index >> 32), (unsigned long)index,
            (unsigned long)((unsigned long long)basic.CreationTime.QuadPart >> 32),
            (unsigned long)basic.CreationTime.QuadPart);
  return mark;
}

Removal remove_marked(const rt::Text& path, const std::string& mark, Root& root) {
  FileStatus s = FileStatus::kOk;
  auto at = root.place(path, &s);
  if (!at) return removal_of(s);
  rt::win::File file = at->folder.open_file(at->name, DELETE | FILE_WRITE_ATTRIBUTES,
                                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &s);
  if (!file) return removal_of(s);
  if (mark.empty() || file_mark(file.get()) != mark) return Removal::kRefused;
  return removal_of(rt::win::delete_through(file.get()));
}

Removal move_inside(const std::u16string& from, const std::u16string& to, Root& root) {
  root.let_go(from);
  FileStatus s = FileStatus::kOk;
  auto source = root.place(from, &s);
  if (!source) return removal_of(s);
  auto target = root.place(to, &s);
  if (!target) return s == FileStatus::kMissing ? Removal::kFailed : removal_of(s);
  return removal_of(source->folder.rename(source->name, target->folder, target->name, false));
}

rt::Array<rt::Text> folder_contents(const rt::Text& folder, Root& root, std::size_t limit) {
  rt::Array<rt::Text> names;
  Folder held = root.folder_at(wide(folder));
  if (!held) return names;
  for (const Folder::Entry& e : held.list(limit)) names.push_back(text(e.name));
  return names;
}

bool copy_into(const Folder& from, std::u16string_view name, HANDLE target) {
  rt::win::File source = from.open_file(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE);
  if (!source) return false;
  std::vector<char> buffer(1 << 16);
  for (;;) {
    DWORD got = 0, put = 0;
    if (!ReadFile(source.get(), buffer.data(), DWORD(buffer.size()), &got, nullptr)) return false;
    if (got == 0) return true;
    if (!WriteFile(target, buffer.data(), got, &put, nullptr) || put != got) return false;
  }
}

bool copy_file(const Folder& from, std::u16string_view name, const Folder& to, std::u16string_view to_name) {
  rt::win::File target = to.create_file(to_name, GENERIC_WRITE, 0);
  return target && copy_into(from, name, target.get());
}

Folder HeldFolders::at(const std::u16string& folder) {
  std::u16string key = upper(folder);
  while (key.size() > 3 && (key.back() == u'\\' || key.back() == u'/')) key.pop_back();
  auto known = held_.find(key);
  if (known != held_.end()) return known->second;
  std::u16string above, name;
  Folder held = split_last(folder, &above, &name) ? at(above).open_folder(name) : Folder::open(folder);
  // Not kept when missing: it may be made later.
  if (held) held_[key] = held;
  return held;
}

std::optional<Root::Place> HeldFolders::place(const std::u16string& path) {
  std::u16string folder, name;
  if (!split_last(path, &folder, &name)) return std::nullopt;
  Folder held = at(folder);
  if (!held) return std::nullopt;
  return Root::Place{std::move(held), std::move(name)};
}

bool in_use(const rt::Text& path, HeldFolders& folders) {
  auto at = folders.place(wide(path));
  if (!at) return false;
  FileStatus s = FileStatus::kOk;
  at->folder.open_file(at->name, FILE_WRITE_DATA | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &s);
  return s == FileStatus::kInUse;
}

bool in_use(const rt::Text& path, Root& root) {
  FileStatus s = FileStatus::kOk;
  auto at = root.place(path, &s);
  if (!at) return false;
  at->folder.open_file(at->name, FILE_WRITE_DATA | DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &s);
  return s == FileStatus::kInUse;
}

// The item list comes first: the stored path text may hold only the ANSI
// form of a name (Wine keeps it so), while the item list resolves to the
// real path.
rt::Text shortcut_target(const Folder& folder, std::u16string_view name) {
  rt::win::File file = folder.open_file(name, GENERIC_READ, FILE_SHARE_READ);
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart <= 0 || size.QuadPart > kMaxShortcut) return {};
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, SIZE_T(size.QuadPart));
  if (!memory) return {};
  void* bytes = GlobalLock(memory);
  DWORD got = 0;
  bool read = bytes && ReadFile(file.get(), bytes, DWORD(size.QuadPart), &got, nullptr) && got == size.QuadPart;
  if (bytes) GlobalUnlock(memory);
  IStream* raw_stream = nullptr;
  if (!read || FAILED(CreateStreamOnHGlobal(memory, TRUE, &raw_stream))) {
    GlobalFree(memory);
    return {};
  }
  rt::ComPtr<IStream> stream(raw_stream);
  // The identifiers are spelt out here: libuuid's object holding them brings
  // some hundred kilobytes of others along.
  static constexpr GUID kShellLinkClass = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  IShellLinkW* raw_link = nullptr;
  if (FAILED(CoCreateInstance(kShellLinkClass, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkW),
                              reinterpret_cast<void**>(&raw_link))))
    return {};
  rt::ComPtr<IShellLinkW> link(raw_link);
  IPersistStream* raw_persist = nullptr;
  if (FAILED(link->QueryInterface(__uuidof(IPersistStream), reinterpret_cast<void**>(&raw_persist)))) return {};
  rt::ComPtr<IPersistStream> persist(raw_persist);
  if (FAILED(persist->Load(stream.get()))) return {};
  wchar_t target[MAX_PATH + 1] = {};
  PIDLIST_ABSOLUTE items = nullptr;
  if (SUCCEEDED(link->GetIDList(&items)) && items) {
    BOOL resolved = SHGetPathFromIDListW(items, target);
    CoTaskMemFree(items);
    if (resolved && target[0]) return rt::Text(rt::cp936_from_wchar(target));
  }
  if (FAILED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH))) return {};
  return rt::Text(rt::cp936_from_wchar(target));
}

}  // namespace installer
