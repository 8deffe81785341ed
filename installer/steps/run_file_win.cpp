#include <windows.h>

#include <atomic>
#include <string>
#include <vector>

#include "installer/format/format.h"
#include "installer/format/sha256.h"
#include "installer/platform/launch.h"
#include "installer/platform/folder_access.h"
#include "installer/platform/protected_folder.h"
#include "installer/platform/removal.h"
#include "installer/steps/host.h"
#include "installer/steps/run_file.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"
#include "runtime/zip/zip_fs.h"

namespace installer {

namespace {

constexpr char16_t kRunFolderPrefix[] = u"setup-";

}  // namespace

rt::Text RunFile::path_text() const {
  if (!folder_) return {};
  return rt::Text(rt::cp936_from_wide(folder_.path() + u"\\" + name_));
}

bool RunFile::create(const rt::Text& file_name) {
  remove();
  // A new folder of an unpredictable name: one prepared by someone else is never used.
  folder_ = make_working_folder(kRunFolderPrefix);
  if (!folder_) return false;
  name_ = rt::wide_from_cp936(file_name.view());
  // Read and write for us; others may only read, never write or delete.
  file_ = folder_.create_file(name_, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ);
  return bool(file_);
}

bool RunFile::keep_for_reading() {
  if (!file_) return false;
  file_ = rt::win::reopen_for_reading(file_);
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
  if (folder_) {
    if (!name_.empty()) folder_.remove(name_);
    folder_.remove(kWorkingFolderMarker);
    // Let go, then removed through the folder above, which is still held.
    rt::win::Folder above = folder_.above();
    std::u16string folder, name;
    rt::win::split_plain_parent(folder_.path(), &folder, &name);
    folder_ = rt::win::Folder();
    above.remove_folder(name);
  }
  name_.clear();
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
  std::u16string folder, name;
  if (!rt::win::split_plain_parent(std::u16string(path.begin(), path.begin() + n), &folder, &name)) return nullptr;
  rt::win::Folder held = rt::win::Folder::open(folder);
  rt::win::File file = held ? held.open_file(name, GENERIC_READ, FILE_SHARE_READ) : rt::win::File();
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
