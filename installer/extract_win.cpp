#include <windows.h>

#include <string>
#include <vector>

#include "installer/cipher.h"
#include "installer/extract.h"
#include "installer/path_macros.h"
#include "runtime/codepage.h"
#include "runtime/zip.h"

namespace installer {

namespace {

struct ResourceUpdate {
  HANDLE h;
  bool committed = false;
  ~ResourceUpdate() {
    if (h && !committed) EndUpdateResourceW(h, TRUE);  // discard: the file stays as it was
  }
};

// A resource type or name: a string, or a number in a pointer.
struct ResourceId {
  std::wstring text;
  WORD number = 0;
  explicit ResourceId(LPCWSTR id) {
    if (IS_INTRESOURCE(id)) number = LOWORD(reinterpret_cast<ULONG_PTR>(id));
    else text = id;
  }
  LPCWSTR get() const { return text.empty() ? MAKEINTRESOURCEW(number) : text.c_str(); }
  bool is(const std::wstring& s) const { return !text.empty() && lstrcmpiW(text.c_str(), s.c_str()) == 0; }
};

struct ResourceCopy {
  ResourceId type, name;
  WORD language;
  std::string data;
};

struct Module {
  HMODULE h;
  ~Module() {
    if (h) FreeLibrary(h);
  }
};

// Collects every resource of a module except one (type, name, language).
struct ResourceWalk {
  std::wstring type, name;
  WORD language;
  std::vector<ResourceCopy> kept;
  bool found = false;

  static BOOL CALLBACK on_language(HMODULE m, LPCWSTR t, LPCWSTR n, WORD lang, LONG_PTR self) {
    auto& w = *reinterpret_cast<ResourceWalk*>(self);
    ResourceId type(t), name(n);
    if (type.is(w.type) && name.is(w.name) && lang == w.language) {
      w.found = true;
      return TRUE;
    }
    HRSRC r = FindResourceExW(m, t, n, lang);
    HGLOBAL g = r ? LoadResource(m, r) : nullptr;
    const char* bytes = g ? static_cast<const char*>(LockResource(g)) : nullptr;
    w.kept.push_back({type, name, lang, bytes ? std::string(bytes, SizeofResource(m, r)) : std::string()});
    return TRUE;
  }
  static BOOL CALLBACK on_name(HMODULE m, LPCWSTR t, LPWSTR n, LONG_PTR self) {
    EnumResourceLanguagesW(m, t, n, on_language, self);
    return TRUE;
  }
  static BOOL CALLBACK on_type(HMODULE m, LPWSTR t, LONG_PTR self) {
    EnumResourceNamesW(m, t, on_name, self);
    return TRUE;
  }
};

// Deletes one resource by writing all the others afresh. Wine 8 ignores
// UpdateResource's deletion request (null data, length 0), so this is
// where an empty list goes when the plain request left the resource.
bool delete_resource(const std::wstring& exe, const std::wstring& type, const std::wstring& name, WORD language) {
  ResourceWalk walk{type, name, language, {}};
  {
    Module m{LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
    if (!m.h) return false;
    EnumResourceTypesW(m.h, ResourceWalk::on_type, reinterpret_cast<LONG_PTR>(&walk));
  }
  if (!walk.found) return true;
  ResourceUpdate update{BeginUpdateResourceW(exe.c_str(), TRUE)};
  if (!update.h) return false;
  for (ResourceCopy& c : walk.kept)
    if (!UpdateResourceW(update.h, c.type.get(), c.name.get(), c.language, c.data.data(), DWORD(c.data.size())))
      return false;
  update.committed = true;
  return EndUpdateResourceW(update.h, FALSE) != 0;
}

}  // namespace

PackageOutcome unpack_package(const rt::Text& package_path, const rt::Text& uninstaller_path,
                              rt::Text& installed_files, PackageStepHost& host) {
  PackageOutcome outcome;
  host.set_progress(0);
  rt::ZipVariable archive;
  if (rt::zip_open(archive, package_path)) {
    outcome.opened = true;
    int n = rt::zip_entry_count(archive);
    outcome.entries = n;
    std::string list = installed_files.str();
    int shown = 0;
    for (int i = 1; i <= n; ++i) {
      rt::Text name = rt::zip_entry_info(archive, i - 1).name;
      // The directory is read afresh for every entry, as the box shows it.
      rt::Text target = expand_path_macros(name, host.install_directory());
      // A failed entry is skipped (and still listed), as the Part says; the
      // outcome remembers it.
      if (rt::zip_extract_entry(archive, i - 1, target) != rt::kZipOk) ++outcome.failed;
      // The bar lives on the window's thread: only a change is worth the trip.
      int percent = int(double(i) / double(n) * 100.0);
      if (percent != shown) host.set_progress(shown = percent);
      list += target.str();
      list += "\r\n";
    }
    outcome.all_extracted = outcome.failed == 0;
    installed_files = rt::Text(list);
    rt::zip_close(archive);
  }
  // The package goes whether or not it could be read.
  DeleteFileW(rt::wide_path(package_path.view()).c_str());

  std::string list = installed_files.str();
  for (char& c : list)
    if (c == '/') c = '\\';  // '/' is never the second byte of a character
  installed_files = rt::Text(list);
  // An empty list removes an earlier one. Without an uninstaller the list is
  // not kept; the outcome says so.
  outcome.list_recorded = write_resource(uninstaller_path, kListResourceType, kListResourceName, 0,
                                         encrypt_text(installed_files, kRecordPassPhrase, true));
  host.package_step_ended(outcome);
  rt::zip_close(archive);
  return outcome;
}

bool write_resource(const rt::Text& executable, const rt::Text& type, const rt::Text& name, int language,
                    const rt::Bytes& data) {
  ResourceUpdate update{BeginUpdateResourceW(rt::wide_path(executable.view()).c_str(), FALSE)};
  if (!update.h) return false;
  std::wstring wide_type = rt::wide_path(type.view()), wide_name = rt::wide_path(name.view());
  void* bytes = data.empty() ? nullptr : const_cast<std::uint8_t*>(data.data());
  if (!UpdateResourceW(update.h, wide_type.c_str(), wide_name.c_str(), WORD(language), bytes, DWORD(data.size())))
    return false;
  update.committed = true;
  if (!EndUpdateResourceW(update.h, FALSE)) return false;
  return bytes || delete_resource(rt::wide_path(executable.view()), wide_type, wide_name, WORD(language));
}

}  // namespace installer
