#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "installer/format/format.h"
#include "installer/format/installed_list.h"
#include "installer/platform/pe_image.h"
#include "installer/platform/resources.h"
#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"
#include "runtime/win/handles.h"
#include "runtime/zip/zip_fs.h"

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

namespace {

constexpr DWORD kListFileLimit = 256u << 20;

// A small file's bytes through a handle on the file itself (a link in its
// place is not followed); nothing when it is missing or too large to be ours.
std::optional<rt::Bytes> read_plain_file(const rt::win::Folder& folder, std::u16string_view name, DWORD limit) {
  rt::win::File file = folder ? folder.open_file(name, GENERIC_READ, FILE_SHARE_READ) : rt::win::File();
  LARGE_INTEGER size{};
  if (!file || !GetFileSizeEx(file.get(), &size) || size.QuadPart > limit) return std::nullopt;
  std::string bytes(std::size_t(size.QuadPart), '\0');
  DWORD got = 0;
  if (!bytes.empty() && (!ReadFile(file.get(), bytes.data(), DWORD(bytes.size()), &got, nullptr) || got != bytes.size()))
    return std::nullopt;
  return rt::Bytes(bytes);
}

std::u16string wide(std::string_view text) { return rt::wide_from_cp936(text); }

// The held folder of a program's path and the program's name.
rt::win::Folder folder_of(const rt::Text& program, std::u16string* name) {
  std::u16string folder;
  if (!rt::win::split_plain_parent(wide(program.view()), &folder, name)) return {};
  return rt::win::Folder::open(folder);
}

}  // namespace

rt::Text list_file_beside(const rt::Text& uninstaller_path) {
  std::string_view p = uninstaller_path.view();
  std::size_t cut = p.find_last_of("\\/");  // neither is the second byte of a character here: the name is ours
  return rt::text_concat({cut == std::string_view::npos ? std::string_view() : p.substr(0, cut + 1),
                          format::kListFileName});
}

rt::Text read_installed_list(const rt::Text& uninstaller_path) {
  std::u16string name;
  rt::win::Folder folder = folder_of(uninstaller_path, &name);
  if (!folder) return {};
  return read_installed_list(folder, name);
}

rt::Text read_installed_list(const rt::win::Folder& folder, std::u16string_view name) {
  if (auto file = read_plain_file(folder, wide(format::kListFileName), kListFileLimit))
    return format::open_installed_list(*file);
  // The resource, read where it lies in the program (nothing of it is loaded).
  rt::win::File program = folder.open_file(name, GENERIC_READ, FILE_SHARE_READ);
  LARGE_INTEGER size{};
  if (!program || !GetFileSizeEx(program.get(), &size)) return {};
  auto input = rt::zip_fs::input_from_handle(program.release(), std::uint64_t(size.QuadPart));
  auto sealed = read_pe_resource(*input, PeResourceId::of(wide(format::kListResourceType)),
                                 PeResourceId::of(wide(format::kListResourceName)), kListFileLimit);
  return sealed ? format::open_installed_list(rt::Bytes(*sealed)) : rt::Text();
}

rt::Text own_installed_list(const rt::Text& own_path, const rt::win::Folder* held) {
  std::u16string name;
  rt::win::Folder folder = held ? *held : folder_of(own_path, &name);
  if (auto file = read_plain_file(folder, wide(format::kListFileName), kListFileLimit))
    return format::open_installed_list(*file);
  return format::open_installed_list(load_resource_bytes(format::kListResourceType, format::kListResourceName));
}

bool carries_signature(const rt::win::Folder& folder, std::u16string_view program) {
  rt::win::File file = folder.open_file(program, GENERIC_READ, FILE_SHARE_READ);
  if (!file) return false;
  auto read_at = [&](LONG offset, void* into, DWORD n) {
    LARGE_INTEGER at;
    at.QuadPart = offset;
    DWORD got = 0;
    return SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN) && ReadFile(file.get(), into, n, &got, nullptr) &&
           got == n;
  };
  IMAGE_DOS_HEADER dos;
  IMAGE_NT_HEADERS32 nt;
  if (!read_at(0, &dos, sizeof dos) || dos.e_magic != IMAGE_DOS_SIGNATURE || dos.e_lfanew <= 0 ||
      !read_at(dos.e_lfanew, &nt, sizeof nt) || nt.Signature != IMAGE_NT_SIGNATURE ||
      nt.OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR32_MAGIC ||
      nt.OptionalHeader.NumberOfRvaAndSizes <= IMAGE_DIRECTORY_ENTRY_SECURITY)
    return false;
  return nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_SECURITY].Size > 0;
}

bool write_installed_list(const rt::Text& uninstaller_path, const rt::Text& list) {
  return write_resource(uninstaller_path, format::kListResourceType, format::kListResourceName, 0,
                        format::seal_installed_list(list));
}

}  // namespace installer
