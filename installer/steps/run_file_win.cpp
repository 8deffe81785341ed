#include <windows.h>

#include "installer/format/format.h"
#include "installer/format/sha256.h"
#include "installer/platform/launch.h"
#include "installer/steps/host.h"
#include "installer/steps/run_file.h"
#include "runtime/value/codepage.h"
#include "runtime/zip/zip_fs.h"

namespace installer {

namespace {

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

}  // namespace

rt::Text RunFile::path_text() const { return rt::Text(rt::cp936_from_wide(path_)); }

bool RunFile::create(const rt::Text& file_name) {
  remove();
  std::u16string temp = rt::wide_from_cp936(temp_directory().view());
  if (temp.empty()) return false;
  // A new folder of an unpredictable name; CreateDirectory refuses one that
  // exists, whoever made it, so a folder prepared by someone else is never used.
  for (int attempt = 0; attempt < 16 && folder_.empty(); ++attempt) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long mix = (unsigned long long)now.QuadPart * 6364136223846793005ull ^
                             (unsigned long long)GetCurrentProcessId() << 32 ^ GetTickCount() ^ attempt;
    wchar_t name[32];
    wsprintfW(name, L"setup-%08lx%08lx", (unsigned long)(mix >> 32), (unsigned long)mix);
    std::u16string folder = temp + reinterpret_cast<const char16_t*>(name);
    if (CreateDirectoryW(w(folder), nullptr)) folder_ = folder;
    else if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  if (folder_.empty()) return false;
  this_run().created_folder(folder_);
  path_ = folder_ + u"\\" + rt::wide_from_cp936(file_name.view());
  // Read and write for us; others may only read, never write or delete.
  HANDLE h = CreateFileW(w(path_), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  this_run().created_file(path_);
  return true;
}

bool RunFile::keep_for_reading() {
  if (!handle_) return false;
  CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  HANDLE h = CreateFileW(w(path_), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  handle_ = h;
  return true;
}

std::unique_ptr<rt::ZipInput> RunFile::reader() const {
  if (!handle_) return nullptr;
  HANDLE copy = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), static_cast<HANDLE>(handle_), GetCurrentProcess(), &copy, 0, FALSE,
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
  if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
  handle_ = nullptr;
  if (!path_.empty()) DeleteFileW(w(path_));
  if (!folder_.empty()) RemoveDirectoryW(w(folder_));
  path_.clear();
  folder_.clear();
}

std::string sha256_hex_of(rt::ZipInput& input) {
  Sha256 digest;
  std::string piece(1 << 16, '\0');
  for (std::uint64_t at = 0, size = input.size(); at < size;) {
    std::size_t n = std::size_t(size - at < piece.size() ? size - at : piece.size());
    if (!input.read_at(at, piece.data(), n)) return {};
    digest.update(piece.data(), n);
    at += n;
  }
  return digest.hex_digest();
}

std::unique_ptr<rt::ZipInput> package_resource_input() {
  std::wstring type = rt::wide_path(format::kResourceType), name = rt::wide_path(format::kPackageResource);
  HRSRC found = FindResourceW(nullptr, name.c_str(), type.c_str());
  if (!found) return nullptr;
  HGLOBAL loaded = LoadResource(nullptr, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = SizeofResource(nullptr, found);
  if (!data || size == 0) return nullptr;
  // The image stays mapped for the life of the process: read in place.
  return std::make_unique<rt::ViewZipInput>(data, size);
}

}  // namespace installer
