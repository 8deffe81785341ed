// Entry names from the archive to the path a file is written at: the name
// stored in a one-entry archive goes through the reader's clean-up and
// description and the unsafe-name refusal, then, still in UTF-16 as the
// package step keeps it, the "{app}/" and "{tmp}/" macros. That exact text
// is what the file call receives: no code page conversion lies between the
// check and the call. Whatever the name, a path that is written must stay
// inside the installation directory, the temporary directory or the
// installer's own folder once Windows has resolved it, and no component of
// it that came from the name may be a device name as Windows reads them.
// First byte: bit 0 marks the name as UTF-8, bits 1-2 put "{app}/" or
// "{tmp}/" in front of it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "installer/steps/path_macros.h"
#include "runtime/value/codepage.h"
#include "runtime/zip/zip_reader.h"

namespace {

const char16_t kInstall[] = u"C:\\Users\\me\\AppData\\Roaming\\Foo";
const char16_t kTemp[] = u"C:\\Users\\me\\Temp\\";
const char16_t kOwnFolder[] = u"C:\\Downloads";  // relative targets land here

void put16(std::string& s, unsigned v) {
  s += char(v & 0xFF);
  s += char(v >> 8 & 0xFF);
}
void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

// One stored, empty entry with the given raw name.
std::string one_entry_archive(const std::string& name, bool utf8) {
  unsigned flags = utf8 ? 0x800 : 0;
  std::string z;
  put32(z, 0x04034b50);
  put16(z, 20), put16(z, flags), put16(z, 0), put32(z, 0), put32(z, 0), put32(z, 0), put32(z, 0);
  put16(z, unsigned(name.size())), put16(z, 0);
  z += name;
  std::uint32_t central = std::uint32_t(z.size());
  put32(z, 0x02014b50);
  put16(z, 20), put16(z, 20), put16(z, flags), put16(z, 0), put32(z, 0), put32(z, 0), put32(z, 0), put32(z, 0);
  put16(z, unsigned(name.size())), put16(z, 0), put16(z, 0), put16(z, 0), put16(z, 0), put32(z, 0), put32(z, 0);
  z += name;
  std::uint32_t central_size = std::uint32_t(z.size()) - central;
  put32(z, 0x06054b50);
  put16(z, 0), put16(z, 0), put16(z, 1), put16(z, 1), put32(z, central_size), put32(z, central), put16(z, 0);
  return z;
}

bool separator(char16_t c) { return c == u'\\' || c == u'/'; }

std::vector<std::u16string> components(const std::u16string& path) {
  std::vector<std::u16string> out;
  std::u16string part;
  for (char16_t c : path + u'\\') {
    if (!separator(c)) {
      part += c;
      continue;
    }
    // Windows drops a component's trailing dots and blanks: "..", ".. " and
    // "..." may all climb, "." and " " stay where they are.
    std::size_t dots = 0, others = 0;
    for (char16_t d : part) {
      if (d == u'.') ++dots;
      else if (d != u' ') ++others;
    }
    if (others == 0 && dots >= 2) {
      if (out.size() <= 1) std::abort();  // above the drive's root
      out.pop_back();
    } else if (!part.empty() && !(others == 0 && dots <= 1)) {
      out.push_back(part);
    }
    part.clear();
  }
  return out;
}

std::u16string lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = char16_t(c + 32);
  return s;
}

// Windows' own reading, written independently of the reader's check: the
// part before the first dot, trailing blanks dropped, compared without case;
// the port digits include the superscripts ¹ ² ³.
bool windows_device(const std::u16string& component) {
  std::u16string base = lower(component.substr(0, component.find(u'.')));
  while (!base.empty() && base.back() == u' ') base.pop_back();
  for (const char16_t* d : {u"con", u"prn", u"aux", u"nul", u"conin$", u"conout$"})
    if (base == d) return true;
  if (base.size() != 4 || (base.compare(0, 3, u"com") != 0 && base.compare(0, 3, u"lpt") != 0)) return false;
  char16_t n = base[3];
  return (n >= u'1' && n <= u'9') || n == u'\u00B9' || n == u'\u00B2' || n == u'\u00B3';
}

bool within(const std::vector<std::u16string>& path, const std::u16string& root) {
  std::vector<std::u16string> r = components(root);
  if (path.size() < r.size()) return false;  // the folder itself is fine
  for (std::size_t i = 0; i < r.size(); ++i)
    if (lower(path[i]) != lower(r[i])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 4096) return 0;
  bool utf8 = data[0] & 1;
  std::string name(reinterpret_cast<const char*>(data + 1), size - 1);
  if ((data[0] >> 1 & 3) == 1) name = "{app}/" + name;
  if ((data[0] >> 1 & 3) == 2) name = "{tmp}/" + name;

  rt::ZipReader reader;
  // A name may hold bytes that read as an end record (a ZIP64 locator just
  // before the real one): such an archive is refused, which is fine.
  if (reader.open(std::make_unique<rt::MemoryZipInput>(one_entry_archive(name, utf8)))) return 0;
  rt::ZipEntry entry;
  reader.describe(0, entry);
  if (entry.name.size() > 259) std::abort();
  if (rt::is_unsafe_entry_name(entry.wide_name)) return 0;  // refused: nothing written

  // The package step expands the macros on the wide name and hands the
  // result to the file call as it is.
  std::size_t base = 0;
  std::u16string path = installer::expand_path_macros(entry.wide_name, std::u16string(kInstall) + u"\\",
                                                      std::u16string(kTemp), &base);
  path = path.substr(0, path.find(u'\0'));  // where a wide Windows call stops reading
  if (path.empty()) return 0;
  std::u16string part;
  for (char16_t c : path.substr(base < path.size() ? base : path.size()) + u'/') {
    if (!separator(c)) {
      part += c;
    } else {
      if (windows_device(part)) std::abort();
      part.clear();
    }
  }

  std::u16string full;
  if (path.size() >= 3 && path[1] == u':' && separator(path[2])) {
    full = path;
  } else if (separator(path[0]) || (path.size() >= 2 && path[1] == u':')) {
    std::abort();  // root-, drive- or UNC-relative: not below any of our folders
  } else {
    full = std::u16string(kOwnFolder) + u"\\" + path;
  }
  std::vector<std::u16string> parts = components(full);
  if (!within(parts, kInstall) && !within(parts, kTemp) && !within(parts, kOwnFolder)) std::abort();
  return 0;
}
