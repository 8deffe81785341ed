#include "mkinstaller/pe_resources.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/fake_pe.h"
#include "tests/support/paths.h"

using rt::PeResources;
using rt::ResourceId;

namespace {

std::uint32_t get32(const std::string& b, std::size_t o) {
  std::uint32_t v = 0;
  std::memcpy(&v, b.data() + o, 4);
  return v;
}
void put32(std::string& b, std::size_t o, std::uint32_t v) { std::memcpy(&b[o], &v, 4); }
void put16(std::string& b, std::size_t o, std::uint16_t v) { std::memcpy(&b[o], &v, 2); }

using testsupport::FakeSection;
constexpr std::size_t kPe = testsupport::kFakePe, kOpt = testsupport::kFakeOpt, kDirs = testsupport::kFakeDirs,
                      kTable = testsupport::kFakeTable;

std::string make_image(const std::vector<FakeSection>& sections, bool with_checksum = false) {
  return testsupport::make_fake_pe(sections, with_checksum);
}

const FakeSection kText{".text", std::string(0x300, '\xC3'), 0x60000020};
const FakeSection kReloc{".reloc", std::string("\x00\x10\x00\x00\x0C\x00\x00\x00\x04\x30\x08\x30", 12), 0x42000040, 5};

ResourceId id(const char* s) { return ResourceId::of_text(s); }

PeResources load_ok(const std::string& bytes) {
  PeResources pe;
  std::string error;
  EXPECT_TRUE(pe.load(bytes, &error)) << error;
  return pe;
}

std::string save_ok(const PeResources& pe) {
  std::string out, error;
  EXPECT_TRUE(pe.save(&out, &error)) << error;
  return out;
}

struct SectionView {
  std::string name;
  std::uint32_t vsize, va, raw_size, raw_ptr;
};
std::vector<SectionView> sections_of(const std::string& f) {
  std::vector<SectionView> out;
  std::size_t n = static_cast<unsigned char>(f[kPe + 6]);
  for (std::size_t i = 0; i < n; ++i) {
    std::size_t h = kTable + 40 * i;
    out.push_back({std::string(f.data() + h, strnlen(f.data() + h, 8)), get32(f, h + 8), get32(f, h + 12),
                   get32(f, h + 16), get32(f, h + 20)});
  }
  return out;
}

// What a loader relies on: addresses ascending without overlap, file data
// inside the file, image size covering every section.
void expect_consistent_layout(const std::string& f) {
  auto secs = sections_of(f);
  std::uint32_t end = 0;
  for (const SectionView& s : secs) {
    EXPECT_GE(s.va, end) << s.name;
    EXPECT_EQ(s.va % 0x1000, 0u) << s.name;
    EXPECT_EQ(s.raw_ptr % 0x200, 0u) << s.name;
    EXPECT_LE(std::size_t{s.raw_ptr} + s.raw_size, f.size()) << s.name;
    end = s.va + (s.vsize + 0xFFF) / 0x1000 * 0x1000;
  }
  EXPECT_EQ(get32(f, kOpt + 56), end);
}

TEST(PeResources, ImageWithoutResourcesSavesUnchanged) {
  std::string image = make_image({kText, kReloc});
  PeResources pe = load_ok(image);
  EXPECT_TRUE(pe.list().empty());
  EXPECT_EQ(save_ok(pe), image);
  EXPECT_FALSE(pe.header().pe32_plus);
  EXPECT_EQ(pe.header().machine, 0x14C);
  EXPECT_TRUE(pe.header().is_executable());
  EXPECT_FALSE(pe.header().is_dll());
}

TEST(PeResources, AddedResourcesGoBeforeTheRelocationsWhichMoveUp) {
  std::string image = make_image({kText, kReloc}, /*with_checksum=*/true);
  PeResources pe = load_ok(image);
  std::string big(0x2345, 'p');
  pe.set(id("SYSTEM"), id("103"), 0, big);
  pe.set(id("SYSTEM"), id("101"), 0, "logo");
  std::string out = save_ok(pe);

  auto secs = sections_of(out);
  ASSERT_EQ(secs.size(), 3u);
  EXPECT_EQ(secs[1].name, ".rsrc");
  EXPECT_EQ(secs[2].name, ".reloc");
  EXPECT_EQ(get32(out, kDirs + 8 * 2), secs[1].va);
  EXPECT_EQ(get32(out, kDirs + 8 * 5), secs[2].va) << "relocation directory follows its section";
  EXPECT_EQ(out.substr(secs[2].raw_ptr, 12), kReloc.data);
  expect_consistent_layout(out);
  EXPECT_EQ(get32(out, kOpt + 64), rt::pe_checksum(out, kOpt + 64));

  PeResources back = load_ok(out);
  ASSERT_NE(back.find(id("system"), id("103")), nullptr) << "types and names match case-insensitively";
  EXPECT_EQ(*back.find(id("SYSTEM"), id("103")), big);
  EXPECT_EQ(*back.find(id("SYSTEM"), id("101"), 0), "logo");
  EXPECT_EQ(back.find(id("SYSTEM"), id("101"), 1033), nullptr);
  EXPECT_EQ(save_ok(back), out) << "a file we wrote round-trips byte for byte";
}

// A large resource (a package) read from its source only while the file is
// written, through a sink: the same bytes and checksum as held in memory.
class Source : public rt::ResourceSource {
 public:
  Source(std::string bytes, bool fails) : bytes_(std::move(bytes)), fails_(fails) {}
  std::uint64_t size() const override { return bytes_.size(); }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    if (fails_ || offset + n > bytes_.size()) return false;
    std::memcpy(buffer, bytes_.data() + offset, n);
    return true;
  }

 private:
  std::string bytes_;
  bool fails_;
};
struct Sink : rt::ByteSink {
  std::string bytes;
  bool write(const char* data, std::size_t n) override {
    bytes.append(data, n);
    return true;
  }
  bool write_at(std::uint64_t offset, const char* data, std::size_t n) override {
    bytes.replace(offset, n, data, n);
    return true;
  }
};

TEST(PeResources, AResourceFromASourceIsStreamedIntoTheSameBytes) {
  std::string image = make_image({kText, kReloc}, /*with_checksum=*/true);
  std::string big(3 * (1 << 20) + 5, '\0');  // more than one piece of the writer's buffer, odd-sized
  for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4096);
  PeResources held = load_ok(image), streamed = load_ok(image);
  held.set(id("SYSTEM"), id("103"), 0, big);
  held.set(id("SYSTEM"), id("104"), 0, "after");
  streamed.set_source(id("SYSTEM"), id("103"), 0, std::make_shared<Source>(big, false));
  streamed.set(id("SYSTEM"), id("104"), 0, "after");
  EXPECT_EQ(streamed.find(id("SYSTEM"), id("103")), nullptr) << "its bytes are not held";
  EXPECT_EQ(streamed.list()[0].size, big.size());
  Sink sink;
  std::string error;
  ASSERT_TRUE(streamed.save(sink, &error)) << error;
  std::string out = save_ok(held);
  EXPECT_TRUE(sink.bytes == out) << "the same file";
  EXPECT_EQ(get32(out, kOpt + 64), rt::pe_checksum(out, kOpt + 64));
  expect_consistent_layout(out);
  EXPECT_EQ(sections_of(out)[1].raw_ptr % 0x1000, 0u) << "a large tree starts on a page of the file";
  EXPECT_EQ(*load_ok(out).find(id("SYSTEM"), id("104")), "after");
  std::string again;
  ASSERT_TRUE(streamed.save(&again, &error)) << error;
  EXPECT_TRUE(again == out);

  PeResources broken = load_ok(image);
  broken.set_source(id("SYSTEM"), id("103"), 0, std::make_shared<Source>(big, true));
  EXPECT_FALSE(broken.save(&again, &error));
  EXPECT_EQ(error, "cannot read the data of a resource");
}

TEST(PeResources, ResourceSectionGrowsAndShrinksInPlace) {
  PeResources pe = load_ok(make_image({kText, kReloc}));
  pe.set(id("SYSTEM"), id("102"), 0, "record");
  std::string first = save_ok(pe);
  PeResources again = load_ok(first);
  again.set(id("SYSTEM"), id("103"), 0, std::string(0x11000, 'z'));
  std::string grown = save_ok(again);
  EXPECT_EQ(sections_of(grown).size(), 3u) << "the resource section is reused, not duplicated";
  EXPECT_EQ(sections_of(grown)[1].raw_ptr % 0x1000, 0u) << "a large tree starts on a page of the file";
  EXPECT_EQ(*load_ok(grown).find(id("SYSTEM"), id("103")), std::string(0x11000, 'z'));
  expect_consistent_layout(grown);
  EXPECT_EQ(get32(grown, kOpt + 64), 0u) << "a zero checksum stays zero";

  PeResources shrink = load_ok(grown);
  EXPECT_EQ(shrink.remove(id("SYSTEM"), id("103")), 1);
  std::string shrunk = save_ok(shrink);
  EXPECT_EQ(shrunk, first) << "removing what was added gives the earlier file back, alignment included";
}

TEST(PeResources, ResourceSectionAtTheEndIsReplaced) {
  PeResources pe = load_ok(make_image({kText}));
  pe.set(id("A"), id("B"), 0, "1");
  std::string one = save_ok(pe);
  PeResources two = load_ok(one);
  two.set(id("A"), id("B"), 0, std::string(0x3000, '2'));
  std::string out = save_ok(two);
  auto secs = sections_of(out);
  ASSERT_EQ(secs.size(), 2u);
  EXPECT_EQ(secs[1].vsize, get32(out, kDirs + 8 * 2 + 4));
  expect_consistent_layout(out);
  EXPECT_EQ(*load_ok(out).find(id("A"), id("B")), std::string(0x3000, '2'));
}

TEST(PeResources, SectionThatCannotMoveKeepsItsAddress) {
  // Thread-local data after the resources: code refers to it, so it stays.
  FakeSection tls{".tls", std::string(0x40, 't'), 0xC0000040, 9};
  PeResources small = load_ok(make_image({kText, kText, tls}));
  small.set(id("A"), id("B"), 0, "x");
  std::string first = save_ok(small);
  auto secs = sections_of(first);
  ASSERT_EQ(secs.size(), 4u);
  EXPECT_EQ(secs[2].name, ".tls");
  EXPECT_EQ(secs[3].name, ".rsrc") << "a new section after everything";

  // Growing within the room before the next section keeps every address.
  PeResources grow = load_ok(make_image({kText, FakeSection{".rsrc", std::string(16, '\0'), 0x40000040, 2}, tls}));
  std::string room = save_ok(grow);
  PeResources g = load_ok(room);
  g.set(id("A"), id("B"), 0, std::string(0x700, 'g'));
  std::string grown = save_ok(g);
  ASSERT_EQ(sections_of(grown).size(), 3u);
  EXPECT_EQ(sections_of(grown)[2].va, sections_of(room)[2].va);
  EXPECT_EQ(grown.substr(sections_of(grown)[2].raw_ptr, 0x40), tls.data) << "its data moved in the file";
  expect_consistent_layout(grown);

  // Beyond that room the resources move to a new section at the end.
  g.set(id("A"), id("B"), 0, std::string(0x1800, 'g'));
  std::string moved = save_ok(g);
  auto msecs = sections_of(moved);
  ASSERT_EQ(msecs.size(), 4u);
  EXPECT_EQ(msecs[2].va, sections_of(room)[2].va);
  EXPECT_EQ(get32(moved, kDirs + 8 * 2), msecs[3].va);
  EXPECT_EQ(*load_ok(moved).find(id("A"), id("B")), std::string(0x1800, 'g'));
}

TEST(PeResources, ASignatureIsDroppedWithTheChange) {
  std::string image = make_image({kText});
  std::uint32_t cert_at = static_cast<std::uint32_t>(image.size());
  image += std::string(0x80, 's');
  put32(image, kDirs + 8 * 4, cert_at);
  put32(image, kDirs + 8 * 4 + 4, 0x80);
  PeResources pe = load_ok(image);
  pe.set(id("A"), id("B"), 0, "x");
  std::string out = save_ok(pe);
  EXPECT_EQ(get32(out, kDirs + 8 * 4), 0u);
  EXPECT_EQ(get32(out, kDirs + 8 * 4 + 4), 0u);
  EXPECT_EQ(out.find(std::string(0x80, 's')), std::string::npos);
}

TEST(PeResources, TreeKeepsWindowsOrderAndPrunesEmptyDirectories) {
  PeResources pe = load_ok(make_image({kText}));
  pe.set(ResourceId::of_number(16), ResourceId::of_number(1), 1033, "version");
  pe.set(id("zeta"), id("n"), 0, "z");
  pe.set(id("ALPHA"), id("#7"), 0, "seven");
  pe.set(id("ALPHA"), id("name"), 2052, "zh");
  pe.set(id("ALPHA"), id("name"), 0, "neutral");
  auto list = load_ok(save_ok(pe)).list();
  ASSERT_EQ(list.size(), 5u);
  // Names before numbers, names in upper-case order, languages ascending.
  EXPECT_EQ(list[0].type.display(), "ALPHA");
  EXPECT_EQ(list[0].name.display(), "NAME");
  EXPECT_EQ(list[0].language, 0);
  EXPECT_EQ(list[1].language, 2052);
  EXPECT_EQ(list[2].name.display(), "#7");
  EXPECT_EQ(list[3].type.display(), "ZETA");
  EXPECT_EQ(list[4].type.display(), "#16");

  EXPECT_EQ(pe.remove(id("ALPHA"), id("NAME")), 2);
  EXPECT_EQ(pe.remove(id("ALPHA"), id("#7"), 5), 0) << "another language stays";
  EXPECT_EQ(pe.remove(id("ALPHA"), id("#7"), 0), 1);
  EXPECT_EQ(pe.remove(id("ALPHA"), id("#7")), 0);
  auto left = load_ok(save_ok(pe)).list();
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0].type.display(), "ZETA");
}

TEST(PeResources, RefusesWhatIsNotAUsablePeImage) {
  std::string good = make_image({kText});
  struct Case {
    const char* what;
    std::string bytes;
    const char* error;
  };
  std::string no_pe = good;
  no_pe[kPe] = 'X';
  std::string far_header = good;
  put32(far_header, 0x3C, 0x7FFFFFF0);
  std::string magic = good;
  put16(magic, kOpt, 0x107);
  std::string beyond = good;
  put32(beyond, kTable + 16, 0x10000);
  std::string sections = good;
  put16(sections, kPe + 6, 0);
  std::vector<Case> cases = {
      {"empty", "", "not a PE file: no MZ signature"},
      {"text", "hello, this is not a program at all; it is plain text padded out " + std::string(64, '.'),
       "not a PE file: no MZ signature"},
      {"no PE signature", no_pe, "not a PE file: no PE signature"},
      {"header offset past the end", far_header, "not a PE file: no PE signature"},
      {"unknown optional header", magic, "unknown optional header kind"},
      {"section beyond the end", beyond, "section .text extends beyond the end of the file"},
      {"no sections", sections, "bad section table"},
      {"truncated", good.substr(0, kOpt + 50), "truncated optional header"},
  };
  for (const Case& c : cases) {
    PeResources pe;
    std::string error;
    EXPECT_FALSE(pe.load(c.bytes, &error)) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
  }
}

TEST(PeResources, HostileResourceTreesAreRefused) {
  // A resource section whose root claims entries beyond its end, one whose
  // directory refers to itself at the leaf level, and a data entry that
  // points outside the file.
  auto with_tree = [](std::string tree) { return make_image({kText, FakeSection{".rsrc", tree, 0x40000040, 2}}); };
  std::string overlong(16, '\0');
  put16(overlong, 14, 0xFFFF);
  std::string self(24, '\0');
  put16(self, 14, 1);
  put32(self, 20, 0x80000000u);  // every level is the root again
  std::string outside(48, '\0');
  put16(outside, 14, 1);
  put32(outside, 16, 0x80000000u | 0x7FFFFFF0u);  // a name far outside
  put32(outside, 20, 0x80000000u | 24);
  // Level 2 and 3 of a chain that ends in a data entry at 0x7FFF0000.
  std::string chain(96, '\0');
  put16(chain, 14, 1);
  put32(chain, 20, 0x80000000u | 24);
  put16(chain, 24 + 14, 1);
  put32(chain, 24 + 20, 0x80000000u | 48);
  put16(chain, 48 + 14, 1);
  put32(chain, 48 + 20, 72);
  put32(chain, 72, 0x7FFF0000u);
  put32(chain, 76, 16);
  for (const std::string& tree : {overlong, self, outside, chain}) {
    PeResources pe;
    std::string error;
    EXPECT_FALSE(pe.load(with_tree(tree), &error));
    EXPECT_FALSE(error.empty());
  }
}

TEST(PeResources, WhatIsWrittenStaysNearTheSizeOfWhatWasRead) {
  // Fuzzer findings: headers that claim to be far larger than the file made
  // the writer pad a few hundred bytes to up to 250 MB.
  for (const char* name : {"slow-resave.exe", "slow-save-84mb.exe", "slow-save-over-60s.exe"}) {
    std::string bytes = testsupport::read_file(testsupport::native_path(testsupport::source_dir() + "/fuzz/findings/pe/" + name));
    ASSERT_FALSE(bytes.empty()) << name;
    PeResources pe;
    std::string out, error;
    if (!pe.load(bytes, &error)) continue;
    pe.set(id("SYSTEM"), id("102"), 0, "record");
    EXPECT_FALSE(pe.save(&out, &error)) << name << ": " << out.size() << " bytes";
    EXPECT_EQ(error, "headers extend beyond the end of the file") << name;
  }
  // A root whose 4,000 entries all share one long name and one sub-tree: a
  // small file that would be written out at thousands of times its size.
  constexpr std::size_t kEntries = 4000, kNameChars = 300;
  std::string tree(16 + 8 * kEntries, '\0');
  put16(tree, 12, static_cast<std::uint16_t>(kEntries));
  std::size_t name_at = tree.size(), sub_at = name_at + 2 + 2 * kNameChars;
  tree.resize(sub_at + 3 * 24 + 16 + 8, '\0');
  put16(tree, name_at, kNameChars);
  for (std::size_t k = 0; k < kNameChars; ++k) put16(tree, name_at + 2 + 2 * k, 'N');
  for (std::size_t i = 0; i < kEntries; ++i) {
    put32(tree, 16 + 8 * i, 0x80000000u | static_cast<std::uint32_t>(name_at));
    put32(tree, 16 + 8 * i + 4, 0x80000000u | static_cast<std::uint32_t>(sub_at));
  }
  put16(tree, sub_at + 14, 1);  // level 2: one numbered name, then one language
  put32(tree, sub_at + 16, 1);
  put32(tree, sub_at + 20, 0x80000000u | static_cast<std::uint32_t>(sub_at + 24));
  put16(tree, sub_at + 24 + 14, 1);
  put32(tree, sub_at + 24 + 20, static_cast<std::uint32_t>(sub_at + 48));
  put32(tree, sub_at + 48, 0x2000 + static_cast<std::uint32_t>(name_at));  // 8 bytes of the name as data
  put32(tree, sub_at + 52, 8);
  std::string image = make_image({kText, FakeSection{".rsrc", tree, 0x40000040, 2}});
  PeResources pe;
  std::string error;
  EXPECT_FALSE(pe.load(image, &error)) << image.size() << "-byte image read";
  EXPECT_EQ(error, "resource data too large");
}

TEST(PeResources, NoRoomForAnotherSectionHeaderIsAnError) {
  std::vector<FakeSection> many(16, kText);  // 16 headers end at 0x3F8 of 0x400
  PeResources pe = load_ok(make_image(many));
  pe.set(id("A"), id("B"), 0, "x");
  std::string out, error;
  EXPECT_FALSE(pe.save(&out, &error));
  EXPECT_EQ(error, "no room for another section header");
}

TEST(PeResources, NumberedIdentifiers) {
  EXPECT_EQ(id("#101").number, 101);
  EXPECT_FALSE(id("#101").is_name());
  EXPECT_TRUE(id("101").is_name()) << "a bare number is a name, as FindResource reads it";
  EXPECT_TRUE(id("#70000").is_name());
  EXPECT_TRUE(id("#1a").is_name());
  EXPECT_EQ(id("install").display(), "INSTALL");
}

TEST(PeResources, ChecksumMatchesTheKnownValueOfASmallImage) {
  // Words 0x0201 + 0x0403 + length 4, the checksum field outside the data.
  EXPECT_EQ(rt::pe_checksum(std::string("\x01\x02\x03\x04", 4), 100), 0x0604u + 4);
  // The field itself does not count.
  EXPECT_EQ(rt::pe_checksum(std::string("\x01\x02\x03\x04\xFF\xFF\xFF\xFF", 8), 4), 0x0604u + 8);
  // Carries fold back into 16 bits.
  EXPECT_EQ(rt::pe_checksum(std::string("\xFF\xFF\x02\x00", 4), 100), 0x0002u + 4);
}

// Programs the linker made: an unchanged tree rebuilds to the same bytes.
TEST(PeResources, LinkerMadeProgramsRoundTripByteForByte) {
  std::vector<std::string> files;
  for (const char* rel : {"/app/setup.exe", "/mkinstaller/pe_probe.exe"}) {
    std::string p = testsupport::binary_dir() + rel;
    if (std::filesystem::exists(std::filesystem::path(testsupport::native_path(p)))) files.push_back(p);
  }
  std::string dist = testsupport::source_dir() + "/dist/setup.exe";
  if (std::filesystem::exists(std::filesystem::path(dist))) files.push_back(dist);
  if (files.empty()) GTEST_SKIP() << "no Windows program built in this tree";
  for (const std::string& f : files) {
    std::string bytes = testsupport::read_file(f);
    PeResources pe = load_ok(bytes);
    EXPECT_FALSE(pe.list().empty()) << f;
    EXPECT_EQ(save_ok(pe), bytes) << f;
    // setup.exe carries a default "102"; other programs have none.
    const std::string* had = pe.find(id("SYSTEM"), id("102"), 0);
    std::optional<std::string> before = had ? std::optional<std::string>(*had) : std::nullopt;
    pe.set(id("SYSTEM"), id("102"), 0, "x");
    std::string changed = save_ok(pe);
    EXPECT_EQ(*load_ok(changed).find(id("SYSTEM"), id("102")), "x") << f;
    if (before)
      pe.set(id("SYSTEM"), id("102"), 0, *before);
    else
      pe.remove(id("SYSTEM"), id("102"));
    EXPECT_EQ(save_ok(pe), bytes) << f;
  }
}

}  // namespace
