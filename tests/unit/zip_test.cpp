// The archive reader and its services on archives the tests make byte by
// byte: the sound ones, the damaged ones and the hostile ones. Runs natively
// and under Wine (where extraction goes through the wide Windows calls).
#include "runtime/zip/zip.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <zlib.h>

#include "runtime/value/codepage.h"
#include "tests/support/paths.h"
#include "tests/support/zip_maker.h"

using namespace rt;
using testsupport::make_zip;
using testsupport::ZipMakerEntry;
using testsupport::ZipMakerOptions;
namespace fs = std::filesystem;

namespace {

// Plain literals are code page 936 (the program's texts); u8 literals UTF-8.
std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }
// Paths in the tests are UTF-8.
fs::path u8(const std::string& utf8) { return fs::path(wide_from_utf8(utf8)); }

std::string read_all(ZipReader& r, std::int64_t index, std::uint32_t& result,
                     const std::optional<std::string>& password = std::nullopt) {
  std::string out;
  result = r.begin_entry(index, password);
  if (result) return out;
  char buf[1000];
  while (std::size_t n = r.read_entry(buf, sizeof buf, result)) out.append(buf, n);
  return out;
}

std::unique_ptr<ZipReader> open_memory(const std::string& bytes, std::uint32_t* result = nullptr) {
  auto r = std::make_unique<ZipReader>();
  std::uint32_t code = r->open(std::make_unique<MemoryZipInput>(bytes));
  if (result) *result = code;
  return r;
}

ZipMakerOptions with_zip64(bool on = true) {
  ZipMakerOptions o;
  o.zip64 = on;
  return o;
}

std::string text_of(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += char('a' + (i * 7 + i / 13) % 26);
  return s;
}

// A scratch folder with an archive written into it.
struct Scratch {
  std::string dir;
  std::string archive;
  explicit Scratch(const std::string& bytes, const char* name = "zip") {
    dir = testsupport::scratch_dir(name);
    archive = (fs::path(dir) / "a.zip").string();
    testsupport::write_file(archive, bytes);
  }
  fs::path at(const std::string& rel) const { return fs::path(dir) / u8(rel); }
  Text dest(const std::string& rel) const { return Text(cp936_from_wide((fs::path(dir) / u8(rel)).u16string())); }
};

// Reads a whole file by its wide path (Chinese names under Wine too).
std::string read_path(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool is_read_only(const fs::path& p) {
#ifdef _WIN32
  DWORD a = GetFileAttributesW(p.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
#else
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 && !(st.st_mode & 0200);
#endif
}

// The file's modification time in seconds since 1970 (UTC).
long long modified_unix_time(const fs::path& p) {
#ifdef _WIN32
  WIN32_FILE_ATTRIBUTE_DATA d;
  if (!GetFileAttributesExW(p.c_str(), GetFileExInfoStandard, &d)) return -1;
  unsigned long long ft = (unsigned long long)d.ftLastWriteTime.dwHighDateTime << 32 | d.ftLastWriteTime.dwLowDateTime;
  return (long long)(ft / 10000000ull) - 11644473600ll;
#else
  struct stat st;
  return ::stat(p.c_str(), &st) == 0 ? (long long)st.st_mtime : -1;
#endif
}

void make_writable(const fs::path& p) {
  std::error_code ec;
  fs::permissions(p, fs::perms::owner_write, fs::perm_options::add, ec);
}

TEST(ZipNameTest, CleanUpDropsDrivesLeadingSeparatorsAndParentReferences) {
  struct Case { const char16_t* stored; const char16_t* cleaned; };
  for (Case c : {Case{u"..\\..\\Windows\\evil.dll", u"Windows\\evil.dll"}, Case{u"../../Windows/evil.dll", u"Windows/evil.dll"},
                 Case{u"C:/x/y.txt", u"x/y.txt"}, Case{u"C:\\x\\y.txt", u"x\\y.txt"}, Case{u"/etc/passwd", u"etc/passwd"},
                 Case{u"\\\\server\\share\\f", u"server\\share\\f"}, Case{u"a/b\\..\\c/../d.txt", u"d.txt"},
                 Case{u"{app}/../x.dll", u"x.dll"}, Case{u"C:C:/\\x", u"x"}, Case{u"plain/name.txt", u"plain/name.txt"},
                 Case{u"..\\x", u"..\\x"}})
    EXPECT_EQ(clean_entry_name(c.stored), c.cleaned) << rt::utf8_from_wide(c.stored);
}

TEST(ZipNameTest, NamesThatStillClimbOrNameAStreamAreUnsafe) {
  for (const char16_t* bad : {u"..", u"../x", u"..\\x", u"a/.. /b", u"...\\x", u"a/..", u"x.txt:stream", u"a\\. .\\b"})
    EXPECT_TRUE(is_unsafe_entry_name(bad)) << rt::utf8_from_wide(bad);
  for (const char16_t* good : {u"a..b/c", u".hidden", u"a/./b", u"x/y.txt", u"{app}/uninst.exe", u"..x"})
    EXPECT_FALSE(is_unsafe_entry_name(good)) << rt::utf8_from_wide(good);
}

TEST(ZipAttributeTest, MappedByTheHostSystem) {
  EXPECT_EQ(entry_attributes(0x0014, 0x21), kAttrArchive | kAttrReadOnly);  // MS-DOS
  EXPECT_EQ(entry_attributes(0x0B14, 0x16 | 0x100), kAttrHidden | kAttrSystem | kAttrDirectory);  // NTFS
  EXPECT_EQ(entry_attributes(0x0E14, 0x22), kAttrArchive | kAttrHidden);  // VFAT
  EXPECT_EQ(entry_attributes(0x031E, 0100444u << 16), kAttrArchive | kAttrReadOnly);
  EXPECT_EQ(entry_attributes(0x031E, 0100644u << 16), std::uint32_t(kAttrArchive));
  EXPECT_EQ(entry_attributes(0x031E, 040755u << 16), kAttrArchive | kAttrDirectory);
  EXPECT_EQ(entry_attributes(0x1314, 0x21), kAttrArchive | kAttrReadOnly);  // OS X: owner bit clear
}

TEST(ZipReaderTest, EmptyArchiveOfTwentyTwoBytesOpensWithNoEntries) {
  std::string empty = make_zip({});
  ASSERT_EQ(empty.size(), 22u);
  std::uint32_t r;
  auto reader = open_memory(empty, &r);
  EXPECT_EQ(r, kZipOk);
  EXPECT_EQ(reader->count(), 0u);
  ZipEntry e;
  EXPECT_EQ(reader->describe(0, e), kZipBadArgument);
}

TEST(ZipReaderTest, ReadsStoredAndDeflatedEntriesBehindACommentOrAStub) {
  std::string big = text_of(200000);
  ZipMakerEntry stored{"s.txt", "stored text", 0};
  std::vector<ZipMakerEntry> entries = {stored, {"d.txt", big}, {"empty.txt", ""}};
  std::string comment(65535, 'c');
  comment.replace(100, 4, "PK\x05\x06");  // a signature inside the comment must not confuse the search
  std::vector<ZipMakerOptions> layouts(4);
  layouts[1].comment = comment;
  layouts[2].prefix = "MZ stub bytes";
  layouts[3] = with_zip64();
  layouts[3].comment = "note";
  layouts[3].prefix = "stub";
  for (const ZipMakerOptions& o : layouts) {
    std::uint32_t r;
    auto reader = open_memory(make_zip(entries, o), &r);
    ASSERT_EQ(r, kZipOk) << o.comment.size() << " " << o.prefix;
    ASSERT_EQ(reader->count(), 3u);
    EXPECT_EQ(read_all(*reader, 0, r), "stored text");
    EXPECT_EQ(r, kZipOk);
    EXPECT_TRUE(read_all(*reader, 1, r) == big);
    EXPECT_EQ(r, kZipOk);
    EXPECT_EQ(read_all(*reader, 2, r), "");
    EXPECT_EQ(r, kZipOk);
  }
}

TEST(ZipReaderTest, DescribesNamesSizesAttributesAndTimes) {
  ZipMakerEntry dir{"{app}/data/", ""};
  dir.method = 0;
  dir.external = testsupport::unix_mode(040755);
  ZipMakerEntry ro{"{app}/ro.txt", "read only"};
  ro.external = testsupport::unix_mode(0100444);
  ro.central_extra = testsupport::extended_timestamp(3, {1700000000});  // central copy: modification only
  ZipMakerEntry all{"C:/x/y.txt", "y"};
  all.central_extra = testsupport::extended_timestamp(7, {1600000000, 1600000100, 1500000000});
  auto reader = open_memory(make_zip({dir, ro, all}));
  ZipEntry e;
  ASSERT_EQ(reader->describe(0, e), kZipOk);
  EXPECT_EQ(e.name, "{app}/data/");
  EXPECT_EQ(e.attributes, kAttrDirectory | kAttrArchive);
  ASSERT_EQ(reader->describe(1, e), kZipOk);
  EXPECT_EQ(e.index, 1);
  EXPECT_EQ(e.attributes, kAttrArchive | kAttrReadOnly);
  EXPECT_EQ(e.uncompressed_size, 9);
  EXPECT_EQ(e.modification_time, (1700000000ull + 11644473600ull) * 10000000ull);
  EXPECT_EQ(e.access_time, e.creation_time);  // both from the DOS time
  ASSERT_EQ(reader->describe(2, e), kZipOk);
  EXPECT_EQ(e.name, "x/y.txt");
  EXPECT_EQ(e.access_time, (1600000100ull + 11644473600ull) * 10000000ull);
  EXPECT_EQ(e.creation_time, (1500000000ull + 11644473600ull) * 10000000ull);
  EXPECT_EQ(reader->describe(3, e), kZipBadArgument);
  EXPECT_EQ(reader->describe(-1, e), kZipBadArgument);
}

TEST(ZipReaderTest, NamesFlaggedUtf8OrCarryingAUnicodePathAreConverted) {
  std::string chinese = U8(u8"中文目录/数据.txt");
  ZipMakerEntry flagged{chinese, "a"};
  flagged.flags = 0x800;
  ZipMakerEntry plain{cp936_from_utf8(chinese), "b"};  // unflagged: code page 936
  ZipMakerEntry info_zip{"raw-name.txt", "c"};
  {  // Info-ZIP's Unicode path extra field, made for the stored name
    std::string utf8 = U8(u8"说明.txt");
    uLong crc = crc32(0, reinterpret_cast<const Bytef*>(info_zip.name.data()), uInt(info_zip.name.size()));
    std::string x = "\x75\x70";
    x += char((5 + utf8.size()) & 0xff);
    x += '\0';
    x += '\1';
    for (int i = 0; i < 4; ++i) x += char((crc >> (8 * i)) & 0xff);
    info_zip.central_extra = x + utf8;
  }
  ZipMakerEntry outside{U8(u8"Straße😀.txt"), "d"};  // characters code page 936 lacks
  outside.flags = 0x800;
  auto reader = open_memory(make_zip({flagged, plain, info_zip, outside}));
  ZipEntry e;
  ASSERT_EQ(reader->describe(0, e), kZipOk);
  EXPECT_EQ(e.name, cp936_from_utf8(chinese));
  EXPECT_FALSE(e.name_lossy);
  ASSERT_EQ(reader->describe(1, e), kZipOk);
  EXPECT_EQ(e.name, cp936_from_utf8(chinese));
  ASSERT_EQ(reader->describe(2, e), kZipOk);
  EXPECT_EQ(e.name, "说明.txt");
  ASSERT_EQ(reader->describe(3, e), kZipOk);
  EXPECT_TRUE(e.name_lossy);
  const std::u16string expected = u"Straße😀.txt";
  EXPECT_EQ(e.wide_name, expected);
}

TEST(ZipReaderTest, DamagedDataIsReportedAndNeverYieldsMoreThanDeclared) {
  std::string data = text_of(5000);
  ZipMakerEntry short_claim{"short", data};
  short_claim.uncompressed_size = 10;
  ZipMakerEntry long_claim{"long", data};
  long_claim.uncompressed_size = 6000;
  ZipMakerEntry bad_crc{"crc", data};
  bad_crc.crc = 0x12345678;
  ZipMakerEntry broken{"broken", data};
  broken.raw_data = testsupport::deflate_raw(data);
  (*broken.raw_data)[broken.raw_data->size() / 2] ^= 0x55;
  (*broken.raw_data)[broken.raw_data->size() / 2 + 1] ^= 0xAA;
  ZipMakerEntry cut{"cut", data};
  cut.raw_data = testsupport::deflate_raw(data).substr(0, 40);
  auto reader = open_memory(make_zip({short_claim, long_claim, bad_crc, broken, cut}));
  std::uint32_t r;
  EXPECT_EQ(read_all(*reader, 0, r), data.substr(0, 10));
  EXPECT_EQ(r, kZipDamaged);
  EXPECT_TRUE(read_all(*reader, 1, r) == data);
  EXPECT_EQ(r, kZipDamaged);
  EXPECT_TRUE(read_all(*reader, 2, r) == data);
  EXPECT_EQ(r, kZipDamaged);
  EXPECT_LE(read_all(*reader, 3, r).size(), data.size());
  EXPECT_EQ(r, kZipDamaged);
  read_all(*reader, 4, r);
  EXPECT_EQ(r, kZipDamaged);
}

TEST(ZipReaderTest, ArchivesWhoseEntriesOverlapAreRefused) {
  std::string one = make_zip({{"x.bin", std::string(1 << 20, '\0')}});
  std::uint32_t r = 0;
  // One record: the archive as written opens.
  auto reader = open_memory(testsupport::zip_with_shared_records(one, 1), &r);
  EXPECT_EQ(r, kZipOk);
  // Many names for one record: refused before anything is unpacked.
  reader = open_memory(testsupport::zip_with_shared_records(one, 50), &r);
  EXPECT_EQ(r, kZipCannotOpen);
  EXPECT_EQ(reader->count(), 0u);
  // A record that begins inside the data of the one before it.
  std::string two = make_zip({{"a", std::string(5000, 'a'), 0}, {"b", std::string(5000, 'b'), 0}});
  std::size_t second_local = two.find("PK\x03\x04", 4);
  std::size_t second_central = two.find("PK\x01\x02", two.find("PK\x01\x02") + 4);
  ASSERT_NE(second_local, std::string::npos);
  ASSERT_NE(second_central, std::string::npos);
  std::string inside = two;
  std::uint32_t offset = static_cast<std::uint32_t>(second_local - 100);  // inside a's 5,000 bytes
  for (int k = 0; k < 4; ++k) inside[second_central + 42 + k] = char(offset >> (8 * k));
  reader = open_memory(inside, &r);
  EXPECT_EQ(r, kZipCannotOpen);
  reader = open_memory(two, &r);
  EXPECT_EQ(r, kZipOk);
  EXPECT_EQ(reader->count(), 2u);
}

TEST(ZipReaderTest, UnsupportedMethodsAndBrokenLocalHeadersFailWithACode) {
  ZipMakerEntry aes{"aes", "x"};
  aes.method = 99;
  aes.flags = 1;
  ZipMakerEntry bzip2{"bz", "x"};
  bzip2.method = 12;
  ZipMakerEntry mismatch{"m", "x"};
  mismatch.local_method = 0;
  ZipMakerEntry stored_lie{"s", "0123456789"};
  stored_lie.method = 0;
  stored_lie.uncompressed_size = 4;
  auto reader = open_memory(make_zip({aes, bzip2, mismatch, stored_lie}));
  std::uint32_t r;
  EXPECT_EQ(read_all(*reader, 0, r), "");
  EXPECT_EQ(r, kZipDamaged);
  EXPECT_EQ(read_all(*reader, 1, r), "");
  EXPECT_EQ(r, kZipDamaged);
  read_all(*reader, 2, r);
  EXPECT_EQ(r, kZipBadLocalHeader);
  EXPECT_EQ(read_all(*reader, 3, r), "");
  EXPECT_EQ(r, kZipDamaged);
}

TEST(ZipReaderTest, TruncatedArchivesNeverOpenOrReadPastTheirEnd) {
  std::string whole = make_zip({{"a.txt", text_of(3000)}, {"b.txt", text_of(100)}});
  for (std::size_t keep = 0; keep < whole.size(); keep += 7) {
    std::uint32_t r;
    auto reader = open_memory(whole.substr(0, keep), &r);
    if (r != kZipOk) continue;
    for (std::size_t i = 0; i < reader->count(); ++i) read_all(*reader, std::int64_t(i), r);
  }
  // Cut inside the data but with the directory intact: the entry's local
  // data runs past the end.
  std::string data = whole;
  std::size_t cd = data.find("PK\x01\x02");
  std::string gap = data.substr(0, 40) + data.substr(cd);
  std::uint32_t r;
  open_memory(gap, &r);
  EXPECT_NE(r, kZipOk);  // the directory no longer sits where the end record says
}

TEST(ZipReaderTest, ACountTheDirectoryCannotHoldIsRefused) {
  ZipMakerOptions lie;
  lie.declared_count = 5;
  std::uint32_t r;
  open_memory(make_zip({{"a", "1"}, {"b", "2"}}, lie), &r);
  EXPECT_EQ(r, kZipCannotOpen);
  lie.declared_count = 60000;
  open_memory(make_zip({{"a", "1"}}, lie), &r);
  EXPECT_EQ(r, kZipCannotOpen);
}

TEST(ZipReaderTest, SeventyThousandEntriesOpenWithZip64AndWithAWrappedCount) {
  std::vector<ZipMakerEntry> many;
  for (int i = 0; i < 70000; ++i) {
    ZipMakerEntry e{"f" + std::to_string(i), std::to_string(i)};
    e.method = 0;
    many.push_back(e);
  }
  // A writer without ZIP64 lets the count wrap.
  for (const ZipMakerOptions& o : {with_zip64(true), with_zip64(false)}) {
    std::uint32_t r;
    auto reader = open_memory(make_zip(many, o), &r);
    ASSERT_EQ(r, kZipOk);
    EXPECT_EQ(reader->count(), 70000u);
    ZipEntry e;
    ASSERT_EQ(reader->describe(69999, e), kZipOk);
    EXPECT_EQ(e.name, "f69999");
    EXPECT_EQ(read_all(*reader, 69999, r), "69999");
    EXPECT_EQ(r, kZipOk);
  }
}

TEST(ZipReaderTest, AnEntryTooLargeForTheRecordFailsWithACode) {
  ZipMakerEntry huge{"huge.bin", "x"};
  huge.method = 8;
  huge.uncompressed_size = 5ull << 30;
  auto reader = open_memory(make_zip({huge}, with_zip64()));
  ZipEntry e;
  EXPECT_EQ(reader->describe(0, e), kZipBadArgument);
  EXPECT_EQ(e.name, "huge.bin");
  std::uint32_t r;
  read_all(*reader, 0, r);
  EXPECT_EQ(r, kZipBadArgument);
}

TEST(ZipReaderTest, AnArchiveLargerThanFourGibibytesOpens) {
  // The entry lies beyond 4 GiB in a sparse file: only ZIP64 offsets reach it.
  const std::uint64_t at = 5ull << 30;
  ZipMakerOptions o = with_zip64();
  o.offset_base = at;
  std::string bytes = make_zip({{"far.txt", "far away"}}, o);
  fs::path dir = testsupport::scratch_dir("zip64big");
  fs::path file = dir / "big.zip";
  std::ofstream(file, std::ios::binary).close();
  fs::resize_file(file, at);
  {
    std::fstream f(file, std::ios::in | std::ios::out | std::ios::binary);
    f.seekp(std::streamoff(at));
    f.write(bytes.data(), std::streamsize(bytes.size()));
  }
  ZipVariable a;
  ASSERT_TRUE(zip_open(a, Text(file.string())));
  EXPECT_EQ(zip_extract_entry(a, 0, Text((dir / "far.txt").string())), kZipOk);
  EXPECT_EQ(read_path(dir / "far.txt"), "far away");
  zip_close(a);
  fs::remove(file);
}

// ---- the services, extracting to disk ---------------------------------------

TEST(ZipServiceTest, ExtractsFoldersAndFilesBelowTheGivenPaths) {
  std::string big = text_of(100000);
  ZipMakerEntry dir{"{app}/data/", ""};
  dir.method = 0;
  dir.external = testsupport::unix_mode(040755);
  Scratch s(make_zip({dir, {"{app}/data/sub/a.txt", big}, {"top.txt", "top"}}));
  ZipVariable a;
  ASSERT_TRUE(zip_open(a, Text(s.archive)));
  EXPECT_EQ(zip_entry_count(a), 3);
  EXPECT_EQ(zip_entry_info(a, 1).name, "{app}/data/sub/a.txt");
  EXPECT_EQ(zip_extract_entry(a, 0, s.dest("app/data/")), kZipOk);
  EXPECT_TRUE(fs::is_directory(s.at("app/data")));
  // Every missing folder on the way is made, with either separator.
  EXPECT_EQ(zip_extract_entry(a, 1, s.dest("app\\deep/er\\a.txt")), kZipOk);
  EXPECT_TRUE(read_path(s.at("app/deep/er/a.txt")) == big);
  EXPECT_EQ(zip_extract_entry(a, 2, s.dest("top.txt")), kZipOk);
  EXPECT_EQ(read_path(s.at("top.txt")), "top");
  // Replaces an existing file.
  EXPECT_EQ(zip_extract_entry(a, 2, s.dest("app/deep/er/a.txt")), kZipOk);
  EXPECT_EQ(read_path(s.at("app/deep/er/a.txt")), "top");
  EXPECT_EQ(zip_extract_entry(a, 3, s.dest("x")), kZipBadArgument);
  zip_close(a);
  EXPECT_FALSE(a);
  zip_close(a);  // an empty variable is left alone
  EXPECT_EQ(zip_extract_entry(a, 0, s.dest("x")), kZipNoArchive);
  EXPECT_EQ(zip_entry_info(a, 0).index, -1);
}

TEST(ZipServiceTest, AFolderThatCannotBeMadeIsReportedNotClaimed) {
  ZipMakerEntry dir{"data/", "", 0};
  dir.external = testsupport::unix_mode(040755);
  Scratch s(make_zip({dir, {"data/x.txt", "x"}}));
  std::ofstream(s.at("data"), std::ios::binary) << "a file in the way";
  ZipVariable a;
  ASSERT_TRUE(zip_open(a, Text(s.archive)));
  EXPECT_EQ(zip_extract_entry(a, 0, s.dest("data/")), kZipCannotOpen);
  EXPECT_EQ(zip_extract_entry(a, 1, s.dest("data/x.txt")), kZipCannotOpen);
}

TEST(ZipServiceTest, RelativeDestinationsAreTakenBelowTheDirectoryCurrentAtOpening) {
  Scratch s(make_zip({{"a/b.txt", "b"}}));
  fs::path before = fs::current_path();
  fs::current_path(s.dir);
  ZipVariable a;
  bool opened = zip_open(a, Text(s.archive));
  fs::current_path(before);
  ASSERT_TRUE(opened);
  EXPECT_EQ(zip_extract_entry(a, 0, "x\\y/b.txt"), kZipOk);
  EXPECT_EQ(read_path(s.at("x/y/b.txt")), "b");
}

TEST(ZipServiceTest, NamesThatWouldClimbAreRefusedAndWriteNothing) {
  std::vector<ZipMakerEntry> hostile = {{"../evil.txt", "x"}, {"..\\evil.txt", "x"}, {"a/.. /evil.txt", "x"},
                                        {"safe.txt:stream", "x"}, {"\\..\\..\\ok.txt", "fine"}};
  Scratch s(make_zip(hostile));
  fs::create_directories(s.at("in"));
  ZipVariable a;
  ASSERT_TRUE(zip_open(a, Text(s.archive)));
  for (int i = 0; i < 4; ++i) {
    std::string name = zip_entry_info(a, i).name.str();
    EXPECT_EQ(zip_extract_entry(a, i, s.dest("in/" + name)), kZipBadArgument) << name;
  }
  EXPECT_EQ(zip_entry_info(a, 4).name, "ok.txt");
  EXPECT_EQ(zip_extract_entry(a, 4, s.dest("in/ok.txt")), kZipOk);
  std::vector<std::string> left;
  for (auto& p : fs::recursive_directory_iterator(s.dir)) left.push_back(p.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"a.zip", "in", "ok.txt"}));
}

TEST(ZipServiceTest, DamagedEntriesReportButNeverWriteMoreThanDeclared) {
  std::string data = text_of(70000);
  ZipMakerEntry lying{"lying.bin", data};
  lying.uncompressed_size = 20000;
  ZipMakerEntry crc{"crc.bin", data};
  crc.crc = 1;
  ZipMakerEntry aes{"aes.bin", "x"};
  aes.method = 99;
  Scratch s(make_zip({lying, crc, aes}));
  ZipVariable a;
  ASSERT_TRUE(zip_open(a, Text(s.archive)));
  EXPECT_EQ(zip_extract_entry(a, 0, s.dest("lying.bin")), kZipDamaged);
  EXPECT_EQ(fs::file_size(s.at("lying.bin")), 20000u);
  EXPECT_EQ(zip_extract_entry(a, 1, s.dest("crc.bin")), kZipDamaged);
  EXPECT_EQ(zip_extract_entry(a, 2, s.dest("aes.bin")), kZipDamaged);
  EXPECT_FALSE(fs::exists(s.at("aes.bin")));  // no garbage, not even an empty file
}

TEST(ZipServiceTest, ChineseNamesLandWithTheirRealNames) {
  std::string chinese = U8(u8"程序/说明文档.txt");
  ZipMakerEntry flagged{chinese, "utf8"};
  flagged.flags = 0x800;
  ZipMakerEntry plain{"程序/数据.txt", "cp936"};
  ZipMakerEntry outside{U8(u8"Straße😀.txt"), "exact"};
  outside.flags = 0x800;
  Scratch s(make_zip({flagged, plain, outside}));
  ZipVariable a;
  ASSERT_TRUE(zip_open(a, Text(s.archive)));
  std::string base = cp936_from_wide(fs::path(s.dir).u16string()) + "\\";
  for (int i = 0; i < 3; ++i) {
    Text name = zip_entry_info(a, i).name;
    EXPECT_EQ(zip_extract_entry(a, i, Text(base + name.str())), kZipOk) << i;
  }
  EXPECT_EQ(read_path(s.at(chinese)), "utf8");
  EXPECT_EQ(read_path(s.at(U8(u8"程序/数据.txt"))), "cp936");
  const std::string outside_name = U8(u8"Straße😀.txt");
  EXPECT_EQ(read_path(s.at(outside_name)), "exact");
}

TEST(ZipServiceTest, AttributesAndTimesReachTheFile) {
  ZipMakerEntry ro{"ro.txt", "r"};
  ro.external = testsupport::unix_mode(0100444);
  ro.central_extra = testsupport::extended_timestamp(1, {1700000000});
  ZipMakerEntry rw{"rw.txt", "w"};
  rw.external = testsupport::unix_mode(0100644);
  Scratch s(make_zip({ro, rw}));
  ZipVariable a;
  ASSERT_TRUE(zip_open(a, Text(s.archive)));
  ASSERT_EQ(zip_extract_entry(a, 0, s.dest("ro.txt")), kZipOk);
  ASSERT_EQ(zip_extract_entry(a, 1, s.dest("rw.txt")), kZipOk);
  EXPECT_TRUE(is_read_only(s.at("ro.txt")));
  EXPECT_FALSE(is_read_only(s.at("rw.txt")));
  // An existing read-only file is not replaced.
  EXPECT_EQ(zip_extract_entry(a, 1, s.dest("ro.txt")), kZipCannotOpen);
  EXPECT_EQ(modified_unix_time(s.at("ro.txt")), 1700000000);
  make_writable(s.at("ro.txt"));
  // The DOS time is local time: the record shows it unchanged.
  ZipEntryInfo info = zip_entry_info(a, 1);
  EXPECT_DOUBLE_EQ(info.modification_time, 45658.5);  // 2025-01-01 12:00:00
}

TEST(ZipServiceTest, ReadAheadInflatesOnASecondThreadWhileTheWriterNotesAndWritesInOrder) {
  // Entries larger than one piece, stored and deflated, a folder, an empty
  // file, one whose CRC lies and one after it.
  const std::string big = text_of(900000), mid = text_of(300001);
  ZipMakerEntry stored{"s/stored.bin", mid, 0};
  ZipMakerEntry lying{"z/lying.bin", big};
  lying.crc = 1;
  Scratch s(make_zip({{"d/", ""}, {"d/big.txt", big}, stored, {"d/small.txt", "small"}, {"empty.txt", ""}, lying,
                      {"after.txt", "after"}}),
            "zip-ahead");
  const std::u16string base = fs::path(s.dir).u16string() + u"/";
  std::vector<std::u16string> noted;
  ExtractNotes notes;
  notes.creating = [&](const std::u16string& path, bool) {
    noted.push_back(path);
    return true;
  };
  auto extract = [&](ZipArchive& a, int i) {
    ZipEntry e;
    EXPECT_EQ(a.describe(i, e), kZipOk) << i;
    return a.extract_exact(i, base + e.wide_name, notes);
  };
  {
    ZipArchive a;
    ASSERT_EQ(a.open(Text(s.archive)), kZipOk);
    ASSERT_TRUE(a.read_ahead());
    for (int i = 0; i < 5; ++i) EXPECT_EQ(extract(a, i), kZipOk) << i;
    EXPECT_EQ(read_path(s.at("d/big.txt")), big);
    EXPECT_EQ(read_path(s.at("s/stored.bin")), mid);
    EXPECT_EQ(read_path(s.at("d/small.txt")), "small");
    EXPECT_EQ(read_path(s.at("empty.txt")), "");
    // The lying entry is reported and leaves nothing, not even its temporary file.
    EXPECT_EQ(extract(a, 5), kZipDamaged);
    EXPECT_FALSE(fs::exists(s.at("z/lying.bin")));
    EXPECT_FALSE(fs::exists(s.at("z/lying.bin.~0.part")));
    // The read-ahead stopped there; what follows is inflated by the writer.
    EXPECT_EQ(extract(a, 6), kZipOk);
    EXPECT_EQ(read_path(s.at("after.txt")), "after");
  }
  // Every file was noted under its temporary name, then under its own,
  // entry after entry: the notes came from the writing thread, in order.
  std::vector<std::string> order;
  for (const std::u16string& p : noted) {
    std::string name = utf8_from_wide(p.substr(base.size()));
    std::replace(name.begin(), name.end(), '\\', '/');
    order.push_back(name);
  }
  const std::vector<std::string> expected = {
      "d",           "d/big.txt.~0.part", "d/big.txt",      "s",           "s/stored.bin.~0.part", "s/stored.bin",
      "d/small.txt.~0.part", "d/small.txt", "empty.txt.~0.part", "empty.txt", "z", "z/lying.bin.~0.part",
      "after.txt.~0.part", "after.txt"};
  EXPECT_EQ(order, expected);

  // Asked out of its order the archive still gives every entry, and closing
  // while inflated pieces wait ends the second thread.
  for (const char* name : {"d/big.txt", "s/stored.bin", "d/small.txt"}) fs::remove(s.at(name));
  ZipArchive b;
  ASSERT_EQ(b.open(Text(s.archive)), kZipOk);
  ASSERT_TRUE(b.read_ahead());
  EXPECT_EQ(extract(b, 3), kZipOk);
  EXPECT_EQ(extract(b, 1), kZipOk);
  EXPECT_EQ(read_path(s.at("d/big.txt")), big);
  ASSERT_TRUE(b.read_ahead(1));
  EXPECT_EQ(extract(b, 1), kZipOk);
  b.close();
  EXPECT_EQ(read_path(s.at("d/small.txt")), "small");
  EXPECT_EQ(read_path(s.at("d/big.txt")), big);
}

}  // namespace
