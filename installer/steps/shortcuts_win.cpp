#include <windows.h>
// The shell headers build on windows.h.
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cwctype>
#include <memory>
#include <string>

#include "installer/platform/launch.h"
#include "installer/platform/library_search.h"
#include "installer/steps/run_file.h"
#include "installer/steps/shortcuts.h"
#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"
#include "runtime/services/com_services.h"

namespace installer {
namespace {

bool contains_ignoring_case(std::wstring text, const wchar_t* sought) {
  for (wchar_t& c : text)
    if (c < 0x80) c = static_cast<wchar_t>(std::towlower(c));
  return text.find(sought) != std::wstring::npos;
}

// The shell saves a shortcut by its path: it is made in the run's own
// working folder (nobody else can change it), then its bytes are put into
// the shell folder through a hold on that folder, under a new name beside
// its own that then takes the name (a shortcut there goes, never what a link
// in its place points to).
class LinkMaker {
 public:
  bool begin() { return work_.create("shortcut.lnk") && work_.release_file(); }
  rt::Text path() const { return work_.path_text(); }
  // The shortcut at `link_path` goes (a read-only one too), through a hold
  // on its folder.
  static void remove(const rt::Text& link_path) {
    std::u16string folder, name;
    if (rt::win::split_plain_parent(rt::wide_from_cp936(link_path.view()), &folder, &name))
      if (rt::win::Folder held = rt::win::Folder::open_followed(folder)) held.remove(name);
  }
  bool put(const rt::Text& link_path) {
    std::u16string folder, name;
    if (!rt::win::split_plain_parent(rt::wide_from_cp936(link_path.view()), &folder, &name)) return false;
    rt::win::Folder into = rt::win::Folder::open_followed(folder);
    rt::win::File made = work_.folder().open_file(work_.name(), GENERIC_READ, FILE_SHARE_READ);
    LARGE_INTEGER size{};
    if (!into || !made || !GetFileSizeEx(made.get(), &size) || size.QuadPart <= 0 || size.QuadPart > (1 << 20))
      return false;
    std::string bytes(std::size_t(size.QuadPart), '\0');
    DWORD got = 0, put = 0;
    if (!ReadFile(made.get(), bytes.data(), DWORD(bytes.size()), &got, nullptr) || got != bytes.size()) return false;
    const std::u16string part = name + u".~part";
    into.remove(part);
    rt::win::File file = into.create_file(part, GENERIC_WRITE | DELETE, 0);
    bool ok = file && WriteFile(file.get(), bytes.data(), got, &put, nullptr) && put == got;
    // A read-only shortcut of the same name is replaced too.
    if (ok) {
      DWORD attributes = 0;
      if (into.look(name, &attributes) == rt::win::FileStatus::kOk && (attributes & FILE_ATTRIBUTE_READONLY))
        into.remove(name);
      ok = rt::win::rename_through(file.get(), into, name, true) == rt::win::FileStatus::kOk;
    }
    if (!ok && file) rt::win::delete_through(file.get());
    return ok;
  }

 private:
  RunFile work_;
};

}  // namespace

bool create_desktop_shortcut(rt::Text& name, const rt::Text& target, const rt::Text& arguments,
                             const std::optional<rt::Text>& icon_location, int window_style,
                             const rt::Text& description, const rt::Text& hotkey, bool all_users) {
  // A full path given as the name still lands on the desktop.
  if (rt::wide_path(name.view()).find(L'\\') != std::wstring::npos) name = file_name_of(name, false);
  // Without the desktop's path the name alone would put the shortcut into
  // whatever the current folder is.
  rt::Text desktop = all_users ? special_folder(0, kCsidlCommonDesktop, true) : special_folder(kFolderDesktop);
  if (desktop.empty()) return false;
  rt::Text link = rt::text_concat({desktop.view(), name.view()});
  if (!contains_ignoring_case(rt::wide_path(name.view()), L".lnk")) link += ".lnk";
  LinkMaker maker;
  maker.remove(link);
  if (!maker.begin()) return false;

  // Work on UTF-16 so that a trail byte 0x5C of a Chinese character is never
  // taken for a backslash.
  std::wstring wide_target = rt::wide_path(target.view());
  std::size_t last_backslash = wide_target.rfind(L'\\');
  if (last_backslash == std::wstring::npos) return false;
  std::wstring working_directory = wide_target.substr(0, last_backslash + 1);

  rt::ComApartment apartment;
  rt::ComObject shortcut;
  {
    rt::ComObject shell;
    // The Script Host's type library by its full system path: by bare name
    // it would be looked for beside the program first.
    rt::Text library(rt::cp936_from_wchar(system_file(L"wshom.ocx").c_str()));
    if (rt::com_create(shell, "WshShell", library)) {
      rt::ComValue made = rt::com_call_method(shell, "CreateShortcut", {maker.path()});
      if (auto* object = std::get_if<rt::ComObject>(&made)) shortcut = std::move(*object);
    }
  }
  if (shortcut.empty()) return false;

  if (rt::com_set_property(shortcut, "TargetPath", target)) {
    // Each of these is best-effort: a shortcut without its icon still starts
    // the application.
    rt::com_set_property(shortcut, "WorkingDirectory", rt::Text(rt::cp936_from_wchar(working_directory.c_str())));
    rt::Text icon;
    if (icon_location)
      icon = *icon_location;
    else if (extension_of(target).empty())
      icon = "SHELL32.dll,4";
    else
      icon = rt::text_concat({target.view(), ",0"});
    rt::com_set_property(shortcut, "IconLocation", icon);
    rt::com_set_property(shortcut, "WindowStyle", std::int32_t{window_style});
    rt::com_set_property(shortcut, "Description", description);
    rt::com_set_property(shortcut, "Arguments", arguments);
    rt::com_set_property(shortcut, "Hotkey", hotkey);
    rt::com_call_method(shortcut, "Save");
  }
  shortcut = rt::ComObject();
  maker.put(link);
  return true;
}

bool create_shell_link(const rt::Text& link_path, const rt::Text& target, const std::optional<rt::Text>& description,
                       const std::optional<rt::Text>& arguments, const std::optional<rt::Text>& working_directory,
                       const std::optional<rt::Text>& icon_location) {
  // The header's CLSID_ShellLink lives in libuuid's 35 KB of identifiers.
  constexpr CLSID kShellLink = {0x00021401, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
  IShellLinkW* raw_link = nullptr;
  if (FAILED(CoCreateInstance(kShellLink, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IShellLinkW),
                              reinterpret_cast<void**>(&raw_link))))
    return false;
  rt::ComPtr<IShellLinkW> link(raw_link);
  IPersistFile* raw_file = nullptr;
  if (FAILED(link->QueryInterface(__uuidof(IPersistFile), reinterpret_cast<void**>(&raw_file)))) return false;
  rt::ComPtr<IPersistFile> file(raw_file);

  link->SetPath(rt::wide_path(target.view()).c_str());
  link->SetShowCmd(SW_SHOW);
  if (description) link->SetDescription(rt::wide_path(description->view()).c_str());
  if (arguments) link->SetArguments(rt::wide_path(arguments->view()).c_str());
  if (working_directory) link->SetWorkingDirectory(rt::wide_path(working_directory->view()).c_str());
  if (icon_location) {
    std::wstring icon = rt::wide_path(icon_location->view());
    std::size_t comma = icon.rfind(L',');
    int index = 0;
    if (comma != std::wstring::npos && comma + 1 < icon.size() &&
        icon.find_first_not_of(L"-0123456789", comma + 1) == std::wstring::npos) {
      index = _wtoi(icon.c_str() + comma + 1);
      icon.resize(comma);
    }
    link->SetIconLocation(icon.c_str(), index);
  }

  // Only the file name decides whether ".lnk" is missing: a dot in a folder
  // name (C:\Users\john.doe\...) does not make a shortcut file of "Foo".
  std::wstring path = rt::wide_path(link_path.view());
  std::size_t name_start = path.rfind(L'\\');
  name_start = name_start == std::wstring::npos ? 0 : name_start + 1;
  if (path.find(L'.', name_start) == std::wstring::npos) path += L".lnk";
  LinkMaker maker;
  return maker.begin() && SUCCEEDED(file->Save(rt::wide_path(maker.path().view()).c_str(), TRUE)) &&
         maker.put(rt::Text(rt::cp936_from_wchar(path.c_str())));
}

void make_shortcuts(const ShortcutRequest& request) {
  // The Start-menu shortcut needs COM on this worker thread whether or not
  // the desktop one (which brings its own initialisation) is made.
  rt::ComApartment apartment;
  rt::Text target = rt::text_concat({request.install_directory.view(), "\\", request.main_file.view()});
  rt::Text icon = extension_of(target).empty() ? rt::Text("SHELL32.dll,4") : rt::text_concat({target.view(), ",0"});
  if (request.desktop) {
    rt::Text name = request.software_name;
    create_desktop_shortcut(name, target, rt::Text(), icon, 0, rt::Text(), rt::Text(), request.all_users);
  }
  // The Start-menu shortcut starts the program as the desktop one does: in
  // its own folder (it may look for its files there) and with its icon.
  std::wstring wide_target = rt::wide_path(target.view());
  rt::Text working_directory(rt::cp936_from_wchar(wide_target.substr(0, wide_target.rfind(L'\\') + 1).c_str()));
  rt::Text programs =
      request.all_users ? special_folder(0, kCsidlCommonPrograms, true) : special_folder(kFolderPrograms);
  if (!programs.empty())
    create_shell_link(rt::text_concat({programs.view(), request.software_name.view(), ".lnk"}), target, std::nullopt,
                      std::nullopt, working_directory, icon);
}

}  // namespace installer
