#include <windows.h>

#include <string>
#include <vector>

#include "installer/format/format.h"
#include "installer/format/installed_list.h"
#include "installer/platform/resources.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

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
    rt::win::Module m(LoadLibraryExW(exe.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
    if (!m) return false;
    EnumResourceTypesW(m.get(), ResourceWalk::on_type, reinterpret_cast<LONG_PTR>(&walk));
  }
  if (!walk.found) return true;
  rt::win::ResourceUpdate update(BeginUpdateResourceW(exe.c_str(), TRUE));
  if (!update) return false;
  for (ResourceCopy& c : walk.kept)
    if (!UpdateResourceW(update.get(), c.type.get(), c.name.get(), c.language, c.data.data(), DWORD(c.data.size())))
      return false;
  return update.commit();
}

}  // namespace

rt::Bytes load_resource_bytes(const rt::Text& type, const rt::Text& name) {
  std::wstring wide_type = rt::wide_path(type.view());
  std::wstring wide_name = rt::wide_path(name.view());
  HRSRC found = FindResourceW(nullptr, wide_name.c_str(), wide_type.c_str());
  if (!found) return {};
  HGLOBAL loaded = LoadResource(nullptr, found);
  if (!loaded) return {};
  const void* data = LockResource(loaded);
  DWORD size = SizeofResource(nullptr, found);
  if (!data || size == 0) return {};
  return rt::Bytes(data, size);
}

rt::Bytes read_resource_of(const rt::Text& executable, const rt::Text& type, const rt::Text& name) {
  rt::win::Module m(LoadLibraryExW(rt::wide_path(executable.view()).c_str(), nullptr,
                                   LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  if (!m) return {};
  std::wstring wide_type = rt::wide_path(type.view()), wide_name = rt::wide_path(name.view());
  HRSRC found = FindResourceW(m.get(), wide_name.c_str(), wide_type.c_str());
  HGLOBAL loaded = found ? LoadResource(m.get(), found) : nullptr;
  const void* data = loaded ? LockResource(loaded) : nullptr;
  DWORD size = found ? SizeofResource(m.get(), found) : 0;
  if (!data || size == 0) return {};
  return rt::Bytes(data, size);
}

bool write_resource(const rt::Text& executable, const rt::Text& type, const rt::Text& name, int language,
                    const rt::Bytes& data) {
  rt::win::ResourceUpdate update(BeginUpdateResourceW(rt::wide_path(executable.view()).c_str(), FALSE));
  if (!update) return false;
  std::wstring wide_type = rt::wide_path(type.view()), wide_name = rt::wide_path(name.view());
  void* bytes = data.empty() ? nullptr : const_cast<std::uint8_t*>(data.data());
  if (!UpdateResourceW(update.get(), wide_type.c_str(), wide_name.c_str(), WORD(language), bytes, DWORD(data.size())))
    return false;
  if (!update.commit()) return false;
  return bytes || delete_resource(rt::wide_path(executable.view()), wide_type, wide_name, WORD(language));
}

rt::Text read_installed_list(const rt::Text& uninstaller_path) {
  return format::open_installed_list(
      read_resource_of(uninstaller_path, format::kListResourceType, format::kListResourceName));
}

bool write_installed_list(const rt::Text& uninstaller_path, const rt::Text& list) {
  return write_resource(uninstaller_path, format::kListResourceType, format::kListResourceName, 0,
                        format::seal_installed_list(list));
}

}  // namespace installer
