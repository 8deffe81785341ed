// The PE resource reader on fake images: resources found by text and number,
// version strings, and hostile images, which give nothing and never make the
// reader ask for a byte past the end of the file.
#include "installer/platform/pe_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_pe.h"

using installer::PeResourceId;
using testsupport::FakeResource;

namespace {

void put32(std::string& b, std::size_t o, std::uint32_t v) { std::memcpy(&b[o], &v, 4); }
void put16(std::string& b, std::size_t o, std::uint16_t v) { std::memcpy(&b[o], &v, 2); }

// The file's bytes; asking for any past the end fails the test, since every
// offset is to be checked before it is read.
class StrictInput : public rt::ZipInput {
 public:
  explicit StrictInput(std::string bytes) : bytes_(std::move(bytes)) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    if (offset > bytes_.size() || n > bytes_.size() - offset) {
      ADD_FAILURE() << "read of " << n << " bytes at " << offset << " in " << bytes_.size();
      return false;
    }
    std::memcpy(buffer, bytes_.data() + offset, n);
    return true;
  }

 private:
  std::string bytes_;
};

std::optional<std::string> read(const std::string& image, const PeResourceId& type, const PeResourceId& name,
                                std::size_t limit = 1 << 20) {
  StrictInput in(image);
  return installer::read_pe_resource(in, type, name, limit);
}

std::string image_of(const std::vector<FakeResource>& resources, bool wide = false) {
  std::vector<testsupport::FakeSection> sections = {
      {".text", std::string(0x300, '\xC3'), 0x60000020},
      {".rsrc", testsupport::make_fake_resources(resources, 0x2000), 0x40000040, 2}};
  return wide ? testsupport::make_fake_pe64(sections) : testsupport::make_fake_pe(sections);
}

std::string version_info(std::u16string_view company, std::u16string_view product) {
  return testsupport::make_fake_version_info({{{u"CompanyName", std::u16string(company)},
                                               {u"FileDescription", u"Setup"},
                                               {u"FileVersion", u"4.8.4115.0"},
                                               {u"ProductName", std::u16string(product)},
                                               {u"OriginalFilename", u"Setup.exe"},
                                               {u"ProductVersion", u"4.8.4115.0"}},
                                              {{u"CompanyName", u"Other"}}});
}

const std::vector<FakeResource> kResources = {
    {PeResourceId::of(u"INSTALL"), PeResourceId::of(u"LIST"), 0x409, "files"},
    {PeResourceId::of(u"INSTALL"), PeResourceId::of(u"LIST"), 0x804, "second language"},
    {PeResourceId::of(u"INSTALL"), PeResourceId::of(u"OTHER"), 0, "other"},
    {PeResourceId::of(6), PeResourceId::of(7), 0, "numbered"},
    {PeResourceId::of(u"SIX"), PeResourceId::of(7), 0, "named type"},
};

TEST(PeImage, FindsResourcesByTextAndNumber) {
  struct {
    bool wide;
    PeResourceId type, name;
    std::optional<std::string> want;
  } const rows[] = {
      {false, PeResourceId::of(u"install"), PeResourceId::of(u"list"), "files"},
      {false, PeResourceId::of(u"INSTALL"), PeResourceId::of(u"List"), "files"},
      {false, PeResourceId::of(u"Install"), PeResourceId::of(u"other"), "other"},
      {false, PeResourceId::of(6), PeResourceId::of(7), "numbered"},
      {false, PeResourceId::of(u"six"), PeResourceId::of(7), "named type"},
      {true, PeResourceId::of(u"install"), PeResourceId::of(u"LIST"), "files"},
      {true, PeResourceId::of(6), PeResourceId::of(7), "numbered"},
      {false, PeResourceId::of(u"install"), PeResourceId::of(u"lists"), std::nullopt},
      {false, PeResourceId::of(u"instal"), PeResourceId::of(u"list"), std::nullopt},
      {false, PeResourceId::of(6), PeResourceId::of(8), std::nullopt},
      {false, PeResourceId::of(6 + 0x10000), PeResourceId::of(7), std::nullopt},
      {false, PeResourceId::of(u"6"), PeResourceId::of(7), std::nullopt},
      {false, PeResourceId::of(u"LIST"), PeResourceId::of(u"INSTALL"), std::nullopt},
  };
  for (std::size_t i = 0; i < std::size(rows); ++i)
    EXPECT_EQ(read(image_of(kResources, rows[i].wide), rows[i].type, rows[i].name), rows[i].want) << "row " << i;
  std::string image = image_of(kResources);
  EXPECT_EQ(read(image, PeResourceId::of(u"INSTALL"), PeResourceId::of(u"LIST"), 5), "files");
  EXPECT_EQ(read(image, PeResourceId::of(u"INSTALL"), PeResourceId::of(u"LIST"), 4), std::nullopt);
}

TEST(PeImage, ReadsTheFirstStringTableOfTheVersionInformation) {
  for (bool wide : {false, true}) {
    StrictInput in(image_of({{PeResourceId::of(16), PeResourceId::of(1), 0x409,
                              version_info(u"Microsoft Corporation", u"Microsoft .NET Framework")}},
                            wide));
    std::optional<installer::VersionStrings> v = installer::read_version_strings(in);
    ASSERT_TRUE(v) << wide;
    EXPECT_EQ(v->company, u"Microsoft Corporation");
    EXPECT_EQ(v->product, u"Microsoft .NET Framework");
    EXPECT_EQ(v->description, u"Setup");
    EXPECT_EQ(v->original_filename, u"Setup.exe");
    EXPECT_EQ(v->product_version, u"4.8.4115.0");
    EXPECT_EQ(v->file_version, u"4.8.4115.0");
  }
}

TEST(PeImage, DamagedVersionInformationGivesNothing) {
  const std::string good = version_info(u"Microsoft Corporation", u"Microsoft .NET Framework");
  const std::size_t kStringFileInfo = 92;
  ASSERT_EQ(good.substr(kStringFileInfo + 6, 4), std::string("S\0t\0", 4));
  struct {
    const char* what;
    std::function<void(std::string&)> damage;
  } const rows[] = {
      {"root longer than the resource", [](std::string& v) { put16(v, 0, static_cast<std::uint16_t>(v.size() + 4)); }},
      {"root shorter than its key", [](std::string& v) { put16(v, 0, 20); }},
      {"another key", [](std::string& v) { v[6] = 'X'; }},
      {"string table longer than the root",
       [&](std::string& v) { put16(v, kStringFileInfo, static_cast<std::uint16_t>(v.size())); }},
      {"no string table", [&](std::string& v) { v[kStringFileInfo + 6] = 'X'; }},
  };
  for (const auto& row : rows) {
    std::string v = good;
    row.damage(v);
    StrictInput in(image_of({{PeResourceId::of(16), PeResourceId::of(1), 0, v}}));
    EXPECT_FALSE(installer::read_version_strings(in)) << row.what;
  }
  StrictInput none(image_of(kResources));
  EXPECT_FALSE(installer::read_version_strings(none));
}

TEST(PeImage, HostileImagesGiveNothing) {
  const std::string good = image_of({{PeResourceId::of(u"INSTALL"), PeResourceId::of(u"LIST"), 0, "files"}});
  const PeResourceId type = PeResourceId::of(u"INSTALL"), name = PeResourceId::of(u"LIST");
  ASSERT_EQ(read(good, type, name), "files");
  // The resource section is the second: at 0x800 in the file, 0x2000 in
  // memory; its tree ends with the data, 125 bytes in.
  constexpr std::size_t kTree = 0x800, kTreeSize = 125, kRsrcHeader = testsupport::kFakeTable + 40;
  constexpr std::size_t kDirs = testsupport::kFakeDirs, kNames = 24, kLanguages = 48, kData = 72;
  ASSERT_EQ(good.find("files"), kTree + kTreeSize - 5);
  struct {
    const char* what;
    std::function<void(std::string&)> damage;
  } const rows[] = {
      {"no MZ", [](std::string& f) { f[0] = 'X'; }},
      {"PE header past the end", [](std::string& f) { put32(f, 0x3C, 0xFFFFFFF0); }},
      {"unknown optional header", [](std::string& f) { put16(f, testsupport::kFakeOpt, 0x10C); }},
      {"two data directories", [](std::string& f) { put32(f, testsupport::kFakeOpt + 92, 2); }},
      {"64-bit magic in a 32-bit header", [](std::string& f) { put16(f, testsupport::kFakeOpt, 0x20B); }},
      {"sections past the end", [](std::string& f) { put16(f, testsupport::kFakePe + 6, 96); }},
      {"too many sections", [](std::string& f) { put16(f, testsupport::kFakePe + 6, 0xFFFF); }},
      {"resource directory outside every section", [](std::string& f) { put32(f, kDirs + 16, 0x9000); }},
      {"resource directory across its section's end", [](std::string& f) { put32(f, kRsrcHeader + 8, 40); }},
      {"section at the top of the address space", [](std::string& f) { put32(f, kRsrcHeader + 12, 0xFFFFF000); }},
      {"directory smaller than its entries", [](std::string& f) { put32(f, kDirs + 20, 30); }},
      {"entry count beyond the directory", [](std::string& f) { put16(f, kTree + 14, 0xFFFF); }},
      {"name offset past the end", [](std::string& f) { put32(f, kTree + 16, 0xFFFFFFF0); }},
      {"name letters past the end",
       [](std::string& f) {
         put32(f, kTree + 16, 0x80000000 | (kTreeSize - 2));
         put16(f, kTree + kTreeSize - 2, 7);
       }},
      {"name directory pointing at itself", [](std::string& f) { put32(f, kTree + kNames + 20, 0x80000000 | kNames); }},
      {"languages pointing back at the root", [](std::string& f) { put32(f, kTree + kLanguages + 20, 0x80000000); }},
      {"data entry past the directory", [](std::string& f) { put32(f, kTree + kLanguages + 20, 0x7FFFFFF8); }},
      {"data outside every section", [](std::string& f) { put32(f, kTree + kData, 0x9000); }},
      {"data wrapping around", [](std::string& f) { put32(f, kTree + kData, 0xFFFFFFFE); }},
      {"data larger than the file", [](std::string& f) { put32(f, kTree + kData + 4, 0x7FFFFFFF); }},
  };
  for (const auto& row : rows) {
    std::string f = good;
    row.damage(f);
    EXPECT_EQ(read(f, type, name, SIZE_MAX), std::nullopt) << row.what;
  }
  // Cut anywhere before its last byte, the file gives nothing either.
  std::size_t end = good.find("files") + 5;
  for (std::size_t n = 0; n < end; ++n) EXPECT_EQ(read(good.substr(0, n), type, name), std::nullopt) << n;
}

}  // namespace
