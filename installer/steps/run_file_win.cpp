#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "installer/format/format.h"
#include "installer/format/sha256.h"
#include "installer/platform/launch.h"
#include "installer/platform/protected_folder.h"
#include "installer/platform/removal.h"
#include "installer/steps/host.h"
#include "installer/steps/run_file.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"
#include "runtime/zip/zip_fs.h"

namespace installer {

namespace {

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

// Every run folder holds this file from its first moment: the mark of a
// folder this product made, which a later run may remove.
constexpr char16_t kRunMarker[] = u"~tarnel-setup.run";
constexpr char16_t kRunFolderPrefix[] = u"setup-";

std::atomic<bool> g_protected{false};

bool is_run_folder_name(const std::u16string& name) {
  const std::size_t prefix = std::char_traits<char16_t>::length(kRunFolderPrefix);
  if (name.size() != prefix + 16 || name.compare(0, prefix, kRunFolderPrefix) != 0) return false;
  for (std::size_t i = prefix; i < name.size(); ++i) {
    char16_t c = name[i];
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'))) return false;
  }
  return true;
}

}  // namespace

void protect_run_folders(bool protect) { g_protected = protect; }

void remove_stale_run_folders() {
  std::u16string temp = rt::wide_from_cp936(temp_directory().view());
  if (temp.empty()) return;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(w(temp + kRunFolderPrefix + u"*"), &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    std::u16string name(reinterpret_cast<const char16_t*>(found.cFileName));
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) || (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ||
        !is_run_folder_name(name))
      continue;
    std::u16string folder = temp + name;
    // An empty one is a run's that ended before its marker: nothing to check.
    if (RemoveDirectoryW(w(folder))) continue;
    if (GetFileAttributesW(w(folder + u"\\" + kRunMarker)) == INVALID_FILE_ATTRIBUTES) continue;
    // Its files (a run makes no folders in it), the marker last.
    std::vector<std::u16string> files;
    WIN32_FIND_DATAW inner;
    HANDLE contents = FindFirstFileW(w(folder + u"\\*"), &inner);
    if (contents == INVALID_HANDLE_VALUE) continue;
    bool only_files = true;
    do {
      std::u16string n(reinterpret_cast<const char16_t*>(inner.cFileName));
      if (n == u"." || n == u"..") continue;
      if ((inner.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(inner.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        only_files = false;
      else if (n != kRunMarker)
        files.push_back(folder + u"\\" + n);
    } while (FindNextFileW(contents, &inner));
    FindClose(contents);
    if (!only_files) continue;
    bool all = true;
    for (const std::u16string& f : files) all = delete_plain_file(f) && all;
    // A file a running installer holds keeps the folder, marker and all.
    if (all && delete_plain_file(folder + u"\\" + kRunMarker)) RemoveDirectoryW(w(folder));
  } while (FindNextFileW(search, &found));
  FindClose(search);
}

rt::Text RunFile::path_text() const { return rt::Text(rt::cp936_from_wide(path_)); }

bool RunFile::create(const rt::Text& file_name) {
  remove();
  std::u16string temp = rt::wide_from_cp936(temp_directory().view());
  if (temp.empty()) return false;
  // A new folder of an unpredictable name: one prepared by someone else is never used.
  folder_ = make_unique_folder(temp, kRunFolderPrefix, g_protected);
  if (folder_.empty()) return false;
  this_run().created_folder(folder_);
  // The mark that lets a later run remove this folder if this one is killed.
  std::u16string marker = folder_ + u"\\" + kRunMarker;
  rt::win::File mark(CreateFileW(w(marker), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!mark) return false;
  this_run().created_file(marker);
  path_ = folder_ + u"\\" + rt::wide_from_cp936(file_name.view());
  // Read and write for us; others may only read, never write or delete.
  file_.reset(CreateFileW(w(path_), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file_) return false;
  this_run().created_file(path_);
  return true;
}

bool RunFile::keep_for_reading() {
  if (!file_) return false;
  file_.reset();
  file_.reset(CreateFileW(w(path_), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr));
  return bool(file_);
}

std::unique_ptr<rt::ZipInput> RunFile::reader() const {
  if (!file_) return nullptr;
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), file_.get(), GetCurrentProcess(), &copy, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return nullptr;
  LARGE_INTEGER size;
  if (!GetFileSizeEx(copy, &size)) {
    CloseHandle(copy);
    return nullptr;
  }
  // Read through its own duplicate of the run file's handle, at offsets.
  return rt::zip_fs::input_from_handle(copy, std::uint64_t(size.QuadPart));
}

void RunFile::remove() {
  file_.reset();
  if (!path_.empty()) DeleteFileW(w(path_));
  if (!folder_.empty()) {
    DeleteFileW(w(folder_ + u"\\" + kRunMarker));
    RemoveDirectoryW(w(folder_));
  }
  path_.clear();
  folder_.clear();
}

namespace {

// Where the bytes at `data` (inside the loaded image) lie in the image's
// file; false when no section holds all `size` of them.
bool file_offset_of(const void* data, std::uint64_t size, std::uint64_t* offset) {
  auto base = reinterpret_cast<const unsigned char*>(GetModuleHandleW(nullptr));
  auto dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  std::uint64_t rva = std::uint64_t(static_cast<const unsigned char*>(data) - base);
  for (unsigned i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    std::uint64_t start = section->VirtualAddress, raw = section->SizeOfRawData;
    if (rva < start || rva - start > raw || size > raw - (rva - start)) continue;
    *offset = section->PointerToRawData + (rva - start);
    return true;
  }
  return false;
}

// The installer's own file, opened so that nobody can change, replace or
// delete it while it is open; the `size` bytes at `offset` of it.
std::unique_ptr<rt::ZipInput> own_file_input(std::uint64_t offset, std::uint64_t size) {
  std::wstring path(32768, L'\0');
  DWORD n = GetModuleFileNameW(nullptr, path.data(), DWORD(path.size()));
  if (n == 0 || n >= path.size()) return nullptr;
  path.resize(n);
  rt::win::File file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
  LARGE_INTEGER length;
  if (!file || !GetFileSizeEx(file.get(), &length) || offset > std::uint64_t(length.QuadPart) ||
      size > std::uint64_t(length.QuadPart) - offset)
    return nullptr;
  return rt::zip_fs::input_from_handle(file.release(), size, offset);
}

}  // namespace

std::unique_ptr<rt::ZipInput> package_resource_input(bool digest_checked) {
  std::wstring type = rt::wide_path(format::kResourceType), name = rt::wide_path(format::kPackageResource);
  HRSRC found = FindResourceW(nullptr, name.c_str(), type.c_str());
  if (!found) return nullptr;
  HGLOBAL loaded = LoadResource(nullptr, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = SizeofResource(nullptr, found);
  if (!data || size == 0) return nullptr;
  // Read from the file rather than through the image, so that the pages of
  // the package never become part of the process's memory. The file at the
  // program's path may no longer be the one that was started: the
  // publisher's digest, checked through this same locked handle before
  // anything is unpacked, proves its bytes. Without a digest, or when the
  // file cannot hold the package, the image (which nobody can change) is read
  // in place.
  std::uint64_t offset = 0;
  if (digest_checked && file_offset_of(data, size, &offset))
    if (auto input = own_file_input(offset, size)) return input;
  return std::make_unique<rt::ViewZipInput>(data, size);
}

}  // namespace installer
