#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "installer/steps/host.h"
#include "installer/platform/paths.h"
#include "installer/platform/folder_access.h"
#include "installer/platform/protected_folder.h"
#include "installer/steps/install_folder.h"
#include "installer/steps/run_file.h"
#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"

namespace installer {

rt::Text folder_message(const rt::Text& directory) {
  return rt::text_concat({kFolderMessageStart, directory.view(), kFolderMessageEnd});
}

rt::Text file_message(const rt::Text& path) { return rt::text_concat({kFileMessageStart, path.view(), kFileMessageEnd}); }

namespace {

// Program Files as this process and a 64-bit one see it.
bool inside_program_files(const std::u16string& folder) {
  for (const wchar_t* name : {L"ProgramFiles", L"ProgramFiles(x86)", L"ProgramW6432"}) {
    wchar_t value[MAX_PATH + 1] = {};
    DWORD n = GetEnvironmentVariableW(name, value, MAX_PATH);
    if (n == 0 || n > MAX_PATH) continue;
    if (path_is_inside(rt::Text(rt::cp936_from_wide(folder)), rt::Text(rt::cp936_from_wchar(value)))) return true;
  }
  return false;
}

// For every user: nobody but administrators may change the installation
// folder, nor rename or delete it or a folder above it. An existing empty
// installation folder is given the protected list first; anything else
// others may change is refused.
bool kept_from_users(const rt::win::Folder& level, bool installation, const std::vector<std::string>& trusted) {
  FolderSecurity security;
  if (!read_security(level.handle(), &security)) return false;
  if (untrusted_writers(security, trusted, !installation).empty()) return true;
  return installation && level.list(1).empty() && protect_folder(level, FolderAccess::kInstalled) &&
         read_security(level.handle(), &security) && untrusted_writers(security, trusted).empty();
}

}  // namespace

std::optional<rt::Text> full_install_folder(const rt::Text& directory) {
  std::wstring given = rt::wide_path(directory.view());
  if (given.empty()) return std::nullopt;
  // The folder Windows would use for the text typed (trailing dots and
  // blanks dropped, "." and ".." resolved): from then on every path below it
  // is plain.
  DWORD n = GetFullPathNameW(given.c_str(), 0, nullptr, nullptr);
  if (n == 0) return std::nullopt;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(given.c_str(), n, full.data(), nullptr);
  full.resize(n);
  while (full.size() > 3 && full.back() == L'\\') full.pop_back();
  // A drive path ("X:\..."); network and device paths are not installation folders.
  std::u16string wide(full.begin(), full.end());
  if (!rt::win::plain_path(wide)) return std::nullopt;
  return rt::Text(rt::cp936_from_wide(wide));
}

FolderCheck prepare_install_folder(const rt::Text& directory, bool for_every_user, rt::Text* made_above) {
  std::optional<rt::Text> full_text = full_install_folder(directory);
  if (!full_text) return FolderCheck::kUnusable;
  const std::u16string full = rt::wide_from_cp936(full_text->view());
  std::vector<std::u16string_view> names;
  rt::win::split_plain_path(full, &names);
  rt::win::FileStatus status = rt::win::FileStatus::kOk;
  rt::win::Folder level = rt::win::Folder::open(full.substr(0, 3), &status);
  if (!level) return FolderCheck::kUnusable;
  const std::vector<std::string> trusted = for_every_user ? trusted_owners() : std::vector<std::string>();
  std::vector<std::u16string> made;
  std::u16string path = full.substr(0, 3);
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::u16string name(names[i]);
    if (path.back() != u'\\') path += u'\\';
    path += name;
    DWORD attributes = 0;
    rt::win::FileStatus there = level.look(name, &attributes);
    if (there == rt::win::FileStatus::kMissing) {
      // Made for every user outside Program Files: nobody but administrators
      // may change what is installed there (the levels below inherit it).
      const bool protect = for_every_user && made.empty() && !inside_program_files(path);
      rt::win::Folder next = protect ? make_protected_folder(level, name, FolderAccess::kInstalled, &status)
                                     : level.make_folder(name, nullptr, &status);
      if (!next) return FolderCheck::kUnusable;
      made.push_back(path);
      this_run().created(path, true, hold_of(level));
      level = std::move(next);
      continue;
    }
    if (there == rt::win::FileStatus::kRefused || (there == rt::win::FileStatus::kOk &&
                                                   (attributes & FILE_ATTRIBUTE_REPARSE_POINT)))
      return FolderCheck::kLink;
    if (there != rt::win::FileStatus::kOk || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) return FolderCheck::kUnusable;
    level = level.open_folder(name, &status);
    if (!level) return status == rt::win::FileStatus::kRefused ? FolderCheck::kLink : FolderCheck::kUnusable;
    if (for_every_user && !kept_from_users(level, i + 1 == names.size(), trusted)) return FolderCheck::kOpenToUsers;
  }
  // From here on the folder and every level on its way are held, and each
  // change below it is journaled before it is made.
  if (!this_run().journal().begin(full, made)) return FolderCheck::kUnusable;
  if (made_above && made.size() > 1) *made_above = rt::Text(rt::cp936_from_wide(made.front()));
  return FolderCheck::kReady;
}

}  // namespace installer
