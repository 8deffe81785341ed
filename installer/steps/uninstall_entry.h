// The uninstall entry: the application in Windows' list of installed
// programs, under HKEY_LOCAL_MACHINE. Runs on the install worker thread as
// the last step; a failure is silent.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "runtime/value/value.h"

namespace installer {

struct UninstallInfo {
  rt::Text software_name;      // "softname"
  rt::Text software_version;   // "softversion"
  rt::Text install_directory;  // the install-path box's text when the step runs, unchanged
  rt::Text company_name;       // "companyname"
  rt::Text company_url;        // "companyurl"
  rt::Text main_file;          // "mainfile", relative to the installation directory
  std::uint32_t estimated_size_kib = 0;  // what the installation takes, in KiB
  rt::Text install_date;       // yyyymmdd
  bool per_user = false;       // "scope" "user": the person's list of programs (HKEY_CURRENT_USER)
};

struct UninstallValue {
  rt::Text name;
  int type;  // REG_SZ 1, REG_BINARY 3, REG_DWORD 4
  rt::Bytes data;
};

// "SOFTWARE\[WOW6432Node\]Microsoft\Windows\CurrentVersion\Uninstall\Tarnel<name>\".
rt::Text uninstall_key_path(bool windows_64bit, const rt::Text& software_name);
// Where an entry lives: the root code and key path. The person's own list
// (HKEY_CURRENT_USER) is never redirected, so it has no 32-bit view.
struct EntryPlace {
  int root;
  rt::Text key;
};
EntryPlace uninstall_entry_place(bool per_user, const rt::Text& software_name);
// The twelve values in the order they are written. Texts are code page 936
// ending with their terminating NUL (REG_SZ's rule: readers that trust the
// stored length show garbage without it); the registry access stores them as
// UTF-16. The icon is the main file; the uninstaller is
// <installation directory>\uninst.exe. Program paths are quoted, so that a
// folder with blanks ("C:\Program Files\...") never runs C:\Program.exe.
std::vector<UninstallValue> uninstall_values(const UninstallInfo& info);

// True on 64-bit Windows (the 32-bit installer runs under WOW64 there).
bool is_64bit_windows();
// Replaces any earlier entry of the same name with a fresh one. False only
// when the key could not be made; single values are not checked.
bool register_uninstall(const UninstallInfo& info);
// The folder the entry of `software_name` names ("InstallLocation"), in the
// person's list (`per_user`) or the machine's, never the other; empty when
// there is none.
rt::Text installed_location(const rt::Text& software_name, bool per_user);
// The version the same entry names ("DisplayVersion"); empty when none.
rt::Text installed_version(const rt::Text& software_name, bool per_user);
// Versions compared as people write them: dot-separated parts, each a number
// by its value ("1.10" after "1.9"; a missing part is 0, so "2.0" is "2")
// and then what follows it: a pre-release ("1.0-beta", "1.0~rc1") before
// the release, another suffix ("1.0a") after it, suffixes between them as
// text. Negative, zero or positive as `a` is older, the same or newer.
int compare_versions(std::string_view a, std::string_view b);
// The KiB the listed files take (each rounded up; folders and missing files
// count nothing), and today's local date as yyyymmdd.
std::uint32_t installed_size_kib(const rt::Text& installed_files);
rt::Text today_yyyymmdd();

}  // namespace installer
