#include <windows.h>

#include <string>
#include <vector>

#include "installer/steps/host.h"
#include "installer/platform/paths.h"
#include "installer/platform/protected_folder.h"
#include "installer/steps/install_folder.h"
#include "runtime/value/codepage.h"

namespace installer {

rt::Text folder_message(const rt::Text& directory) {
  return rt::text_concat({kFolderMessageStart, directory.view(), kFolderMessageEnd});
}

rt::Text file_message(const rt::Text& path) { return rt::text_concat({kFileMessageStart, path.view(), kFileMessageEnd}); }

namespace {

// Program Files as this process and a 64-bit one see it.
bool inside_program_files(const std::wstring& folder) {
  for (const wchar_t* name : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
    wchar_t value[MAX_PATH + 1] = {};
    DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
    if (n == 0 || n > MAX_PATH) continue;
    if (path_is_inside(rt::Text(rt::cp936_from_wchar(folder.c_str())), rt::Text(rt::cp936_from_wchar(value))))
      return true;
  }
  return false;
}

}  // namespace

FolderCheck prepare_install_folder(const rt::Text& directory, bool for_every_user) {
  std::wstring given = rt::wide_path(directory.view());
  if (given.empty()) return FolderCheck::kUnusable;
  DWORD n = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (n == 0) return FolderCheck::kUnusable;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(given.c_str(), n, full.data(), nullptr);
  full.resize(n);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  // A drive path ("X:\..."); network and device paths are not installation folders.
  if (full.size() < 3 || full[1] != L':' || full[2] != L'\\') return FolderCheck::kUnusable;
  if (GetFileAttributesW(full.substr(0, 3).c_str()) == INVALID_FILE_ATTRIBUTES) return FolderCheck::kUnusable;
  std::vector<std::u16string> made;
  for (std::size_t i = 3; i <= full.size(); ++i) {
    if (i < full.size() && full[i] != L'\\') continue;
    if (full[i - 1] == L'\\') continue;
    std::wstring level = full.substr(0, i);
    DWORD a = GetFileAttributesW(level.c_str());
    if (a == INVALID_FILE_ATTRIBUTES) {
      // Made for every user outside Program Files: nobody but administrators
      // may change what is installed there (the levels below inherit it).
      bool protect = for_every_user && made.empty() && !inside_program_files(level);
      bool created = protect ? create_protected_folder(std::u16string(level.begin(), level.end()), FolderAccess::kInstalled)
                             : CreateDirectoryW(level.c_str(), nullptr) != FALSE;
      if (!created) return FolderCheck::kUnusable;
      made.emplace_back(level.begin(), level.end());
      this_run().created_folder(made.back());
      continue;
    }
    if (a & FILE_ATTRIBUTE_REPARSE_POINT) return FolderCheck::kLink;
    if (!(a & FILE_ATTRIBUTE_DIRECTORY)) return FolderCheck::kUnusable;
  }
  // From here on the folder and every level on its way are held, and each
  // change below it is journaled before it is made.
  if (!this_run().journal().begin(std::u16string(full.begin(), full.end()), made)) return FolderCheck::kUnusable;
  return FolderCheck::kReady;
}

}  // namespace installer
