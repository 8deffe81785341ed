#include "mkinstaller/identity.h"

#include "installer/format/format.h"
#include "runtime/value/codepage.h"

namespace mkinstaller {

namespace format = installer::format;

namespace {

constexpr std::uint16_t kRtIcon = 3, kRtGroupIcon = 14, kRtVersion = 16, kRtManifest = 24;
constexpr std::uint16_t kLanguage = 0x0804;  // Chinese (PRC), the installer's language
constexpr char kTable[] = "080404b0";        // that language, UTF-16 strings

void put16(std::string& s, std::uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& s, std::uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}
std::uint32_t get16(const std::string& s, std::size_t o) {
  return static_cast<unsigned char>(s[o]) | static_cast<unsigned char>(s[o + 1]) << 8;
}
std::uint32_t get32(const std::string& s, std::size_t o) { return get16(s, o) | get16(s, o + 2) << 16; }
void pad4(std::string& s) {
  while (s.size() % 4) s += '\0';
}
std::string utf16z(const std::string& utf8) {
  std::string out;
  for (char16_t c : rt::wide_from_utf8(utf8)) put16(out, c);
  put16(out, 0);
  return out;
}

// One node of the version tree: header, key, value, children, each aligned
// to 4 bytes; wValueLength counts characters for texts, bytes otherwise.
std::string node(const std::string& key, const std::string& value, bool text,
                 const std::vector<std::string>& children) {
  std::string body;
  put16(body, 0);
  put16(body, static_cast<std::uint32_t>(text ? value.size() / 2 : value.size()));
  put16(body, text ? 1 : 0);
  body += utf16z(key);
  pad4(body);
  body += value;
  for (const std::string& child : children) {
    pad4(body);
    body += child;
  }
  body[0] = static_cast<char>(body.size() & 0xFF);
  body[1] = static_cast<char>(body.size() >> 8);
  return body;
}

std::uint32_t high(const VersionNumber& v) { return std::uint32_t{v.parts[0]} << 16 | v.parts[1]; }
std::uint32_t low(const VersionNumber& v) { return std::uint32_t{v.parts[2]} << 16 | v.parts[3]; }

std::string numeric(const VersionNumber& v) {
  return std::to_string(v.parts[0]) + "." + std::to_string(v.parts[1]) + "." + std::to_string(v.parts[2]) + "." +
         std::to_string(v.parts[3]);
}

// Reads a node at `at` (within `end`); its key, value and children's range.
struct Node {
  std::size_t length = 0, value_at = 0, value_size = 0, children_at = 0;
  bool text = false;
  std::string key;
};
bool read_node(const std::string& d, std::size_t at, std::size_t end, Node* n) {
  if (at + 6 > end) return false;
  n->length = get16(d, at);
  std::size_t value_length = get16(d, at + 2);
  n->text = get16(d, at + 4) == 1;
  if (n->length < 6 || at + n->length > end) return false;
  std::size_t p = at + 6;
  std::u16string key;
  while (p + 2 <= at + n->length && get16(d, p)) {
    key += static_cast<char16_t>(get16(d, p));
    p += 2;
  }
  p += 2;
  p = (p + 3) & ~std::size_t{3};
  n->key = rt::utf8_from_wide(key);
  n->value_at = p;
  n->value_size = n->text ? value_length * 2 : value_length;
  if (p + n->value_size > at + n->length) n->value_size = p > at + n->length ? 0 : at + n->length - p;
  n->children_at = (p + n->value_size + 3) & ~std::size_t{3};
  return true;
}

}  // namespace

VersionInfo version_info_for(const Config& config, const std::string& copyright, const std::string& file_name) {
  VersionInfo info;
  std::string version = config.value(format::kKeySoftVersion);
  parse_version(version, &info.file_version);
  info.product_version = info.file_version;
  std::string name = config.value(format::kKeySoftName);
  info.strings["ProductName"] = name;
  info.strings["FileDescription"] = name + " " + rt::utf8_from_wide(u"安装程序");
  std::string company = config.value(format::kKeyCompanyName);
  if (!company.empty()) info.strings["CompanyName"] = company;
  info.strings["FileVersion"] = numeric(info.file_version);
  info.strings["ProductVersion"] = version.empty() ? numeric(info.product_version) : version;
  if (!copyright.empty()) info.strings["LegalCopyright"] = copyright;
  info.strings["OriginalFilename"] = file_name;
  return info;
}

std::string version_resource(const VersionInfo& info) {
  std::string fixed;
  put32(fixed, 0xFEEF04BD);
  put32(fixed, 0x00010000);
  put32(fixed, high(info.file_version));
  put32(fixed, low(info.file_version));
  put32(fixed, high(info.product_version));
  put32(fixed, low(info.product_version));
  put32(fixed, 0x3F);     // flags mask
  put32(fixed, 0);        // flags
  put32(fixed, 0x40004);  // VOS_NT_WINDOWS32
  put32(fixed, 1);        // VFT_APP
  put32(fixed, 0);
  put32(fixed, 0);
  put32(fixed, 0);
  std::vector<std::string> strings;
  for (const auto& [key, value] : info.strings) strings.push_back(node(key, utf16z(value), true, {}));
  std::string translation;
  put16(translation, kLanguage);
  put16(translation, 1200);
  return node("VS_VERSION_INFO", fixed, false,
              {node("StringFileInfo", "", true, {node(kTable, "", true, strings)}),
               node("VarFileInfo", "", true, {node("Translation", translation, false, {})})});
}

bool read_version_resource(const std::string& d, VersionInfo* info) {
  Node root;
  if (!read_node(d, 0, d.size(), &root) || root.key != "VS_VERSION_INFO" || root.value_size < 52 ||
      get32(d, root.value_at) != 0xFEEF04BD)
    return false;
  auto version = [&](std::size_t o) {
    VersionNumber v;
    std::uint32_t hi = get32(d, o), lo = get32(d, o + 4);
    v.parts[0] = static_cast<std::uint16_t>(hi >> 16);
    v.parts[1] = static_cast<std::uint16_t>(hi);
    v.parts[2] = static_cast<std::uint16_t>(lo >> 16);
    v.parts[3] = static_cast<std::uint16_t>(lo);
    return v;
  };
  info->file_version = version(root.value_at + 8);
  info->product_version = version(root.value_at + 16);
  // StringFileInfo -> each table -> each string.
  auto each_child = [&](const Node& parent, std::size_t parent_at, auto&& body) {
    std::size_t end = parent_at + parent.length;
    for (std::size_t at = parent.children_at; at < end;) {
      Node child;
      if (!read_node(d, at, end, &child)) return;
      body(child, at);
      at = (at + child.length + 3) & ~std::size_t{3};
    }
  };
  each_child(root, 0, [&](const Node& block, std::size_t block_at) {
    if (block.key != "StringFileInfo") return;
    each_child(block, block_at, [&](const Node& table, std::size_t table_at) {
      each_child(table, table_at, [&](const Node& s, std::size_t) {
        std::u16string value;
        for (std::size_t p = s.value_at; p + 2 <= s.value_at + s.value_size && get16(d, p); p += 2)
          value += static_cast<char16_t>(get16(d, p));
        info->strings[s.key] = rt::utf8_from_wide(value);
      });
    });
  });
  return true;
}

void set_version(rt::PeResources& pe, const VersionInfo& info) {
  rt::ResourceId type = rt::ResourceId::of_number(kRtVersion);
  for (const rt::ResourceInfo& r : pe.list())
    if (r.type == type) pe.remove(r.type, r.name);
  pe.set(type, rt::ResourceId::of_number(1), kLanguage, version_resource(info));
}

void set_icon(rt::PeResources& pe, const std::vector<IconImage>& images) {
  for (const rt::ResourceInfo& r : pe.list())
    if (r.type == rt::ResourceId::of_number(kRtIcon) || r.type == rt::ResourceId::of_number(kRtGroupIcon))
      pe.remove(r.type, r.name);
  // GRPICONDIR: the .ico directory with resource numbers for file offsets.
  std::string group;
  put16(group, 0);
  put16(group, 1);
  put16(group, static_cast<std::uint32_t>(images.size()));
  for (std::size_t i = 0; i < images.size(); ++i) {
    const IconImage& img = images[i];
    group += static_cast<char>(img.width >= 256 ? 0 : img.width);
    group += static_cast<char>(img.height >= 256 ? 0 : img.height);
    group += '\0';  // colours
    group += '\0';
    put16(group, img.planes);
    put16(group, img.bit_count);
    put32(group, static_cast<std::uint32_t>(img.data.size()));
    put16(group, static_cast<std::uint32_t>(i + 1));
    pe.set(rt::ResourceId::of_number(kRtIcon), rt::ResourceId::of_number(static_cast<std::uint16_t>(i + 1)), 0,
           img.data);
  }
  pe.set(rt::ResourceId::of_number(kRtGroupIcon), rt::ResourceId::of_number(1), 0, group);
}

std::vector<IconImage> program_icon(const rt::PeResources& pe) {
  std::vector<IconImage> images;
  for (const rt::ResourceInfo& r : pe.list()) {
    if (!(r.type == rt::ResourceId::of_number(kRtGroupIcon))) continue;
    const std::string* group = pe.find(r.type, r.name);
    if (!group || group->size() < 6) break;
    std::size_t count = get16(*group, 4);
    for (std::size_t i = 0; i < count && 6 + 14 * (i + 1) <= group->size(); ++i) {
      std::size_t e = 6 + 14 * i;
      IconImage img;
      img.width = static_cast<unsigned char>((*group)[e]) ? static_cast<unsigned char>((*group)[e]) : 256;
      img.height = static_cast<unsigned char>((*group)[e + 1]) ? static_cast<unsigned char>((*group)[e + 1]) : 256;
      img.bit_count = static_cast<std::uint16_t>(get16(*group, e + 6));
      const std::string* data = pe.find(rt::ResourceId::of_number(kRtIcon),
                                        rt::ResourceId::of_number(static_cast<std::uint16_t>(get16(*group, e + 12))));
      if (data) img.data = *data;
      images.push_back(std::move(img));
    }
    break;
  }
  return images;
}

namespace {

// Where the value of the level attribute of the manifest's
// requestedExecutionLevel element lies (comments skipped); false when the
// manifest has none.
bool level_at(const std::string& manifest, std::size_t* at, std::size_t* length) {
  const std::string element = "<requestedExecutionLevel";
  std::size_t from = 0;
  while (true) {
    std::size_t found = manifest.find(element, from);
    std::size_t comment = manifest.find("<!--", from);
    if (found == std::string::npos) return false;
    if (comment != std::string::npos && comment < found) {
      std::size_t end = manifest.find("-->", comment + 4);
      if (end == std::string::npos) return false;
      from = end + 3;
      continue;
    }
    std::size_t close = manifest.find('>', found);
    std::size_t attribute = manifest.find(" level=", found);
    if (attribute == std::string::npos || attribute > close) attribute = manifest.find("\tlevel=", found);
    if (attribute == std::string::npos || attribute > close || attribute + 8 >= manifest.size()) return false;
    char quote = manifest[attribute + 7];
    if (quote != '"' && quote != '\'') return false;
    std::size_t end = manifest.find(quote, attribute + 8);
    if (end == std::string::npos || end > close) return false;
    *at = attribute + 8;
    *length = end - *at;
    return true;
  }
}

}  // namespace

std::string execution_level(const rt::PeResources& pe) {
  const std::string* manifest = pe.find(rt::ResourceId::of_number(kRtManifest), rt::ResourceId::of_number(1));
  std::size_t at = 0, length = 0;
  return manifest && level_at(*manifest, &at, &length) ? manifest->substr(at, length) : std::string();
}

bool set_execution_level(rt::PeResources& pe, const std::string& level) {
  const rt::ResourceId type = rt::ResourceId::of_number(kRtManifest), name = rt::ResourceId::of_number(1);
  for (const rt::ResourceInfo& r : pe.list()) {
    if (!(r.type == type) || !(r.name == name)) continue;
    std::string manifest = *pe.find(type, name, r.language);
    std::size_t at = 0, length = 0;
    if (!level_at(manifest, &at, &length)) return false;
    manifest.replace(at, length, level);
    pe.set(type, name, r.language, manifest, r.codepage);
    return true;
  }
  return false;
}

}  // namespace mkinstaller
