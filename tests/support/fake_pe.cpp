#include "tests/support/fake_pe.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "mkinstaller/pe_resources.h"

namespace testsupport {

namespace {
void put32(std::string& b, std::size_t o, std::uint32_t v) { std::memcpy(&b[o], &v, 4); }
void put16(std::string& b, std::size_t o, std::uint16_t v) { std::memcpy(&b[o], &v, 2); }

std::string build(const std::vector<FakeSection>& sections, bool with_checksum, bool wide) {
  // A 64-bit image's optional header is 16 bytes longer: the directories and
  // the section table move with it.
  const std::size_t dirs = wide ? kFakeDirs64 : kFakeDirs, table = wide ? kFakeTable64 : kFakeTable;
  std::string f(0x400, '\0');
  f[0] = 'M';
  f[1] = 'Z';
  put32(f, 0x3C, kFakePe);
  std::memcpy(&f[kFakePe], "PE\0\0", 4);
  put16(f, kFakePe + 4, wide ? 0x8664 : 0x14C);
  put16(f, kFakePe + 6, static_cast<std::uint16_t>(sections.size()));
  put16(f, kFakePe + 20, wide ? 240 : 224);
  put16(f, kFakePe + 22, wide ? 0x0022 : 0x0102);
  put16(f, kFakeOpt, wide ? 0x20B : 0x10B);
  put32(f, kFakeOpt + 16, 0x1000);  // entry point in the first section
  if (wide) {
    put32(f, kFakeOpt + 24, 0x40000000);  // image base 0x140000000, 8 bytes
    put32(f, kFakeOpt + 28, 0x1);
  } else {
    put32(f, kFakeOpt + 28, 0x400000);
  }
  put32(f, kFakeOpt + 32, 0x1000);
  put32(f, kFakeOpt + 36, 0x200);
  put32(f, kFakeOpt + 60, 0x400);
  put16(f, kFakeOpt + 68, 2);
  put32(f, wide ? kFakeOpt + 108 : kFakeOpt + 92, 16);
  std::uint32_t va = 0x1000;
  for (std::size_t i = 0; i < sections.size(); ++i) {
    const FakeSection& s = sections[i];
    std::size_t h = table + 40 * i;
    std::memcpy(&f[h], s.name.data(), std::min<std::size_t>(8, s.name.size()));
    std::uint32_t raw = static_cast<std::uint32_t>((s.data.size() + 0x1FF) / 0x200 * 0x200);
    put32(f, h + 8, static_cast<std::uint32_t>(s.data.size()));
    put32(f, h + 12, va);
    put32(f, h + 16, raw);
    put32(f, h + 20, static_cast<std::uint32_t>(f.size()));
    put32(f, h + 36, s.characteristics);
    if (s.directory >= 0) {
      put32(f, dirs + 8 * s.directory, va);
      put32(f, dirs + 8 * s.directory + 4, static_cast<std::uint32_t>(s.data.size()));
    }
    std::string padded = s.data;
    padded.resize(raw, '\0');
    f += padded;
    va += static_cast<std::uint32_t>((s.data.size() + 0xFFF) / 0x1000 * 0x1000);
  }
  put32(f, kFakeOpt + 56, va);
  if (with_checksum) put32(f, kFakeOpt + 64, rt::pe_checksum(f, kFakeOpt + 64));
  return f;
}
}  // namespace

std::string make_fake_pe(const std::vector<FakeSection>& sections, bool with_checksum) {
  return build(sections, with_checksum, false);
}

std::string make_fake_pe64(const std::vector<FakeSection>& sections) { return build(sections, false, true); }

std::string make_fake_program() {
  return make_fake_pe({{".text", std::string(0x300, '\xC3'), 0x60000020},
                       {".reloc", std::string("\x00\x10\x00\x00\x0C\x00\x00\x00\x04\x30\x08\x30", 12), 0x42000040, 5}});
}

std::string make_fake_resources(const std::vector<FakeResource>& resources, std::uint32_t rva) {
  using installer::PeResourceId;
  struct Name {
    PeResourceId id;
    std::vector<std::size_t> items;  // indexes into `resources`, one per language
    std::size_t at = 0, text_at = 0;
  };
  struct Type {
    PeResourceId id;
    std::vector<Name> names;
    std::size_t at = 0, text_at = 0;
  };
  auto same = [](const PeResourceId& a, const PeResourceId& b) { return a.text == b.text && a.number == b.number; };
  auto is_text = [](const PeResourceId& id) { return !id.text.empty(); };
  auto named = [&](const auto& x) { return is_text(x.id); };
  std::vector<Type> types;
  for (std::size_t i = 0; i < resources.size(); ++i) {
    auto t = std::find_if(types.begin(), types.end(), [&](const Type& x) { return same(x.id, resources[i].type); });
    if (t == types.end()) t = types.insert(types.end(), Type{resources[i].type, {}, 0, 0});
    auto n = std::find_if(t->names.begin(), t->names.end(), [&](const Name& x) { return same(x.id, resources[i].name); });
    if (n == t->names.end()) n = t->names.insert(t->names.end(), Name{resources[i].name, {}, 0, 0});
    n->items.push_back(i);
  }
  std::stable_partition(types.begin(), types.end(), named);
  for (Type& t : types) std::stable_partition(t.names.begin(), t.names.end(), named);

  // Where everything goes.
  std::size_t end = 16 + 8 * types.size();
  for (Type& t : types) t.at = std::exchange(end, end + 16 + 8 * t.names.size());
  for (Type& t : types)
    for (Name& n : t.names) n.at = std::exchange(end, end + 16 + 8 * n.items.size());
  std::vector<std::size_t> entry_at(resources.size()), data_at(resources.size());
  for (Type& t : types)
    for (Name& n : t.names)
      for (std::size_t r : n.items) entry_at[r] = std::exchange(end, end + 16);
  auto place_text = [&](const PeResourceId& id) { return std::exchange(end, end + (is_text(id) ? 2 + 2 * id.text.size() : 0)); };
  for (Type& t : types) {
    t.text_at = place_text(t.id);
    for (Name& n : t.names) n.text_at = place_text(n.id);
  }
  for (std::size_t r = 0; r < resources.size(); ++r) {
    data_at[r] = (end + 7) / 8 * 8;
    end = data_at[r] + resources[r].data.size();
  }

  std::string out(end, '\0');
  auto directory = [&](std::size_t at, std::size_t named_count, std::size_t count) {
    put16(out, at + 12, static_cast<std::uint16_t>(named_count));
    put16(out, at + 14, static_cast<std::uint16_t>(count - named_count));
    return at + 16;
  };
  auto entry = [&](std::size_t at, const PeResourceId& id, std::size_t text_at, std::uint32_t target) {
    put32(out, at, is_text(id) ? 0x80000000u | static_cast<std::uint32_t>(text_at) : id.number);
    put32(out, at + 4, target);
    if (is_text(id)) {
      put16(out, text_at, static_cast<std::uint16_t>(id.text.size()));
      for (std::size_t k = 0; k < id.text.size(); ++k) put16(out, text_at + 2 + 2 * k, id.text[k]);
    }
  };
  std::size_t e = directory(0, std::count_if(types.begin(), types.end(), named), types.size());
  for (Type& t : types) {
    entry(e, t.id, t.text_at, 0x80000000u | static_cast<std::uint32_t>(t.at));
    e += 8;
    std::size_t te = directory(t.at, std::count_if(t.names.begin(), t.names.end(), named), t.names.size());
    for (Name& n : t.names) {
      entry(te, n.id, n.text_at, 0x80000000u | static_cast<std::uint32_t>(n.at));
      te += 8;
      std::size_t ne = directory(n.at, 0, n.items.size());
      for (std::size_t r : n.items) {
        put32(out, ne, resources[r].language);
        put32(out, ne + 4, static_cast<std::uint32_t>(entry_at[r]));
        ne += 8;
        put32(out, entry_at[r], rva + static_cast<std::uint32_t>(data_at[r]));
        put32(out, entry_at[r] + 4, static_cast<std::uint32_t>(resources[r].data.size()));
        out.replace(data_at[r], resources[r].data.size(), resources[r].data);
      }
    }
  }
  return out;
}

namespace {
std::string utf16(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) out.append({static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)});
  return out;
}

// A block of version information: its length, its value's length (UTF-16
// units in a text), its type, its key, its value and the blocks inside, each
// at a multiple of 4.
std::string version_block(std::u16string_view key, const std::string& value, bool text,
                          const std::vector<std::string>& inner) {
  auto pad = [](std::string& s) { s.resize((s.size() + 3) / 4 * 4, '\0'); };
  std::string b(6, '\0');
  b += utf16(key) + std::string(2, '\0');
  pad(b);
  b += value;
  for (const std::string& i : inner) {
    pad(b);
    b += i;
  }
  put16(b, 0, static_cast<std::uint16_t>(b.size()));
  put16(b, 2, static_cast<std::uint16_t>(text ? value.size() / 2 : value.size()));
  put16(b, 4, text ? 1 : 0);
  return b;
}
}  // namespace

std::string make_fake_version_info(const std::vector<FakeStrings>& tables) {
  static const char16_t* const kLanguages[] = {u"040904b0", u"080404b0", u"040704b0", u"040c04b0"};
  std::vector<std::string> blocks;
  for (std::size_t t = 0; t < tables.size(); ++t) {
    std::vector<std::string> strings;
    for (const auto& [key, value] : tables[t])
      strings.push_back(version_block(key, utf16(value) + std::string(2, '\0'), true, {}));
    blocks.push_back(version_block(kLanguages[t % 4], "", true, strings));
  }
  std::string fixed(52, '\0');
  put32(fixed, 0, 0xFEEF04BD);
  return version_block(u"VS_VERSION_INFO", fixed, false,
                       {version_block(u"StringFileInfo", "", true, blocks),
                        version_block(u"VarFileInfo", "", true,
                                      {version_block(u"Translation", std::string("\x09\x04\xB0\x04", 4), false, {})})});
}

}  // namespace testsupport
