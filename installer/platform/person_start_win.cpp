// Starting a program as the person at the desktop, not as the elevated
// installer: the desktop shell (Explorer) is asked to start it, so it runs
// with the shell's own, un-elevated rights.
#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlobj.h>

#include <string>

#include "installer/platform/launch.h"
#include "installer/platform/protected_folder.h"
#include "runtime/value/codepage.h"
#include "runtime/win/com.h"

namespace installer {

namespace {

// The shell's class and interface identifiers, spelt here: taking them from
// the toolchain's uuid library would bring its whole table of identifiers
// (35 KB) into setup.exe.
constexpr GUID kShellWindows = {0x9BA05972, 0xF6A8, 0x11CF, {0xA4, 0x42, 0x00, 0xA0, 0xC9, 0x0A, 0x8F, 0x39}};
constexpr GUID kIShellWindows = {0x85CB6900, 0x4D95, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
constexpr GUID kIServiceProvider = {0x6D5140C1, 0x7436, 0x11CE, {0x80, 0x34, 0x00, 0xAA, 0x00, 0x60, 0x09, 0xFA}};
constexpr GUID kTopLevelBrowser = {0x4C96BE40, 0x915C, 0x11CF, {0x99, 0xD3, 0x00, 0xAA, 0x00, 0x4A, 0xE8, 0x37}};
constexpr GUID kIShellBrowser = {0x000214E2, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x46}};
constexpr GUID kIShellFolderViewDual = {0xE7A1AF80, 0x4D96, 0x11CF, {0x96, 0x0C, 0x00, 0x80, 0xC7, 0xF4, 0xEE, 0x85}};
constexpr GUID kIShellDispatch2 = {0xA4C6892C, 0x3BA9, 0x11D2, {0x9D, 0xEA, 0x00, 0xC0, 0x4F, 0xB1, 0x61, 0x62}};

// Puts what a call gives through its out-parameter into its owner; false
// when the call failed or gave nothing.
template <typename T, typename Call>
bool take(rt::ComPtr<T>& owner, Call call) {
  T* raw = nullptr;
  HRESULT result = call(reinterpret_cast<void**>(&raw));
  owner.reset(raw);
  return SUCCEEDED(result) && raw;
}

struct Bstr {
  BSTR b;
  explicit Bstr(const std::wstring& s) : b(SysAllocString(s.c_str())) {}
  ~Bstr() { SysFreeString(b); }
};

// The shell's own ShellExecute, reached from the desktop window's view.
bool shell_execute_at_desktop(const std::wstring& file, const std::wstring& parameters, const std::wstring& folder) {
  rt::ComApartment apartment;
  rt::ComPtr<IShellWindows> windows;
  if (!take(windows, [](void** p) { return CoCreateInstance(kShellWindows, nullptr, CLSCTX_LOCAL_SERVER, kIShellWindows, p); }))
    return false;
  VARIANT location;
  VariantInit(&location);
  location.vt = VT_I4;
  location.lVal = CSIDL_DESKTOP;
  VARIANT empty;
  VariantInit(&empty);
  long hwnd = 0;
  rt::ComPtr<IDispatch> desktop;
  rt::ComPtr<IServiceProvider> provider;
  rt::ComPtr<IShellBrowser> browser;
  rt::ComPtr<IShellView> view;
  rt::ComPtr<IDispatch> background;
  rt::ComPtr<IShellFolderViewDual> folder_view;
  rt::ComPtr<IDispatch> application;
  rt::ComPtr<IShellDispatch2> shell;
  bool reached =
      take(desktop,
           [&](void** p) {
             HRESULT r = windows->FindWindowSW(&location, &empty, SWC_DESKTOP, &hwnd, SWFO_NEEDDISPATCH,
                                               reinterpret_cast<IDispatch**>(p));
             return r == S_OK ? r : E_FAIL;
           }) &&
      take(provider, [&](void** p) { return desktop->QueryInterface(kIServiceProvider, p); }) &&
      take(browser, [&](void** p) { return provider->QueryService(kTopLevelBrowser, kIShellBrowser, p); }) &&
      take(view, [&](void** p) { return browser->QueryActiveShellView(reinterpret_cast<IShellView**>(p)); }) &&
      take(background, [&](void** p) { return view->GetItemObject(SVGIO_BACKGROUND, kIDispatch, p); }) &&
      take(folder_view, [&](void** p) { return background->QueryInterface(kIShellFolderViewDual, p); }) &&
      take(application, [&](void** p) { return folder_view->get_Application(reinterpret_cast<IDispatch**>(p)); }) &&
      take(shell, [&](void** p) { return application->QueryInterface(kIShellDispatch2, p); });
  if (!reached) return false;
  Bstr name(file), args(parameters), dir(folder), verb(L"open");
  VARIANT v_args, v_dir, v_verb, v_show;
  VariantInit(&v_args);
  v_args.vt = VT_BSTR;
  v_args.bstrVal = args.b;
  VariantInit(&v_dir);
  v_dir.vt = VT_BSTR;
  v_dir.bstrVal = dir.b;
  VariantInit(&v_verb);
  v_verb.vt = VT_BSTR;
  v_verb.bstrVal = verb.b;
  VariantInit(&v_show);
  v_show.vt = VT_I4;
  v_show.lVal = SW_SHOWNORMAL;
  return SUCCEEDED(shell->ShellExecute(name.b, v_args, v_dir, v_verb, v_show));
}

}  // namespace

PersonStart start_as_person(const rt::Text& path, const rt::Text& parameters, ShellStart shell) {
  std::wstring file = rt::wide_path(path.view());
  std::size_t slash = file.rfind(L'\\');
  std::wstring folder = slash == std::wstring::npos ? std::wstring() : file.substr(0, slash);
  const bool elevated = running_elevated();
  if (elevated || shell) {
    bool started = shell ? shell(file, rt::wide_path(parameters.view()), folder)
                         : shell_execute_at_desktop(file, rt::wide_path(parameters.view()), folder);
    if (started) return PersonStart::kThroughShell;
  }
  // No desktop shell answers: an elevated program starts nothing itself (it
  // would run with administrator rights); the caller says where to start it.
  if (elevated) return PersonStart::kFailed;
  return launch_file(path, parameters, 0) ? PersonStart::kDirect : PersonStart::kFailed;
}

}  // namespace installer
