#include <windows.h>
#include <restartmanager.h>

#include <string>
#include <vector>

#include "installer/platform/files_in_use.h"
#include "installer/platform/library_search.h"
#include "installer/platform/removal.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

const wchar_t* w(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

rt::Text file_name(const std::wstring& path) {
  std::size_t cut = path.find_last_of(L"\\/");
  return rt::Text(rt::cp936_from_wchar(path.substr(cut == std::wstring::npos ? 0 : cut + 1).c_str()));
}

void add_once(std::vector<rt::Text>& names, const rt::Text& name) {
  for (const rt::Text& n : names)
    if (lstrcmpiW(rt::wide_path(n.view()).c_str(), rt::wide_path(name.view()).c_str()) == 0) return;
  names.push_back(name);
}

using StartSession = DWORD(WINAPI*)(DWORD*, DWORD, WCHAR*);
using RegisterResources = DWORD(WINAPI*)(DWORD, UINT, LPCWSTR*, UINT, RM_UNIQUE_PROCESS*, UINT, LPCWSTR*);
using GetList = DWORD(WINAPI*)(DWORD, UINT*, UINT*, RM_PROCESS_INFO*, LPDWORD);
using EndSession = DWORD(WINAPI*)(DWORD);

// The Restart Manager's answer; false when it cannot be asked (before
// Windows Vista, or a partial one) so that the fallback decides alone.
bool ask_restart_manager(const std::vector<std::u16string>& files, std::vector<rt::Text>& names) {
  rt::win::Module library(LoadLibraryW(system_file(L"rstrtmgr.dll").c_str()));
  if (!library) return false;
  auto start = reinterpret_cast<StartSession>(reinterpret_cast<void*>(GetProcAddress(library.get(), "RmStartSession")));
  auto add = reinterpret_cast<RegisterResources>(
      reinterpret_cast<void*>(GetProcAddress(library.get(), "RmRegisterResources")));
  auto list = reinterpret_cast<GetList>(reinterpret_cast<void*>(GetProcAddress(library.get(), "RmGetList")));
  auto end = reinterpret_cast<EndSession>(reinterpret_cast<void*>(GetProcAddress(library.get(), "RmEndSession")));
  if (!start || !add || !list || !end) return false;
  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (start(&session, 0, key) != ERROR_SUCCESS) return false;
  std::vector<LPCWSTR> paths;
  for (const std::u16string& f : files) paths.push_back(w(f));
  bool asked = false;
  if (add(session, UINT(paths.size()), paths.data(), 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
    UINT needed = 0, count = 0;
    DWORD reasons = 0;
    DWORD r = list(session, &needed, &count, nullptr, &reasons);
    std::vector<RM_PROCESS_INFO> info(needed);
    count = needed;
    if (r == ERROR_MORE_DATA) r = list(session, &needed, &count, info.data(), &reasons);
    if (r == ERROR_SUCCESS) {
      asked = true;
      for (UINT i = 0; i < count && i < info.size(); ++i) {
        rt::win::Kernel process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, info[i].Process.dwProcessId));
        wchar_t image[MAX_PATH * 2] = {};
        DWORD n = MAX_PATH * 2;
        if (process && QueryFullProcessImageNameW(process.get(), 0, image, &n)) add_once(names, file_name(image));
        else add_once(names, rt::Text(rt::cp936_from_wchar(info[i].strAppName)));
      }
    }
  }
  end(session);
  return asked;
}

}  // namespace

std::vector<rt::Text> programs_holding(const std::vector<std::u16string>& files) {
  std::vector<rt::Text> names;
  if (files.empty()) return names;
  ask_restart_manager(files, names);
  // Wine's Restart Manager names nobody, and an older Windows has none: a
  // file still held is named itself (a program's own file is that program).
  if (names.empty()) {
    HeldFolders folders;
    for (const std::u16string& f : files)
      if (in_use(rt::Text(rt::cp936_from_wide(f)), folders)) add_once(names, file_name(std::wstring(w(f))));
  }
  return names;
}

rt::Text close_programs_message(const std::vector<rt::Text>& programs) {
  std::string list;
  for (const rt::Text& p : programs) {
    if (!list.empty()) list += "、";
    list += rt::text_concat({"“", p.view(), "”"}).view();
  }
  return rt::text_concat({"请先关闭", list, "后点击重新安装。"});
}

}  // namespace installer
