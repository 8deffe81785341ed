// The uninstall entry: the application in Windows' list of installed
// programs, under HKEY_LOCAL_MACHINE. Runs on the install worker thread as
// the last step; a failure is silent.
#pragma once

#include <vector>

#include "runtime/value/value.h"

namespace installer {

struct UninstallInfo {
  rt::Text software_name;      // "softname"
  rt::Text software_version;   // "softversion"
  rt::Text install_directory;  // the install-path box's text when the step runs, unchanged
  rt::Text company_name;       // "companyname"
  rt::Text company_url;        // "companyurl"
};

struct UninstallValue {
  rt::Text name;
  int type;  // REG_SZ 1, REG_BINARY 3
  rt::Bytes data;
};

// "SOFTWARE\[WOW6432Node\]Microsoft\Windows\CurrentVersion\Uninstall\Tarnel<name>\".
rt::Text uninstall_key_path(bool windows_64bit, const rt::Text& software_name);
// The nine values in the order they are written. Texts are code page 936
// without a terminating NUL; the registry access stores them as UTF-16.
// The icon is named after the software, the uninstaller is
// <installation directory>\uninst.exe.
std::vector<UninstallValue> uninstall_values(const UninstallInfo& info);

// True on 64-bit Windows (the 32-bit installer runs under WOW64 there).
bool is_64bit_windows();
// Replaces any earlier entry of the same name with a fresh one. False only
// when the key could not be made; single values are not checked.
bool register_uninstall(const UninstallInfo& info);

}  // namespace installer
