// Archives made by the tools publishers use (Info-ZIP zip, Python's zipfile,
// minizip, 7-Zip, bsdtar), read back with our reader: names, sizes,
// attributes, times and contents. Native only: the tools are Linux programs.
#ifndef _WIN32

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <utime.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>

#include "runtime/value/codepage.h"
#include "runtime/zip/zip.h"
#include "tests/support/paths.h"

using namespace rt;
namespace fs = std::filesystem;

namespace {

constexpr long long kTime = 1700000000;  // 2023-11-14 22:13:20 UTC
constexpr long long kFileTime = (kTime + 11644473600ll) * 10000000ll;

std::string U8(const char8_t* s) { return reinterpret_cast<const char*>(s); }

std::string read_path(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void write_path(const fs::path& p, const std::string& bytes) {
  fs::create_directories(p.parent_path());
  std::ofstream(p, std::ios::binary) << bytes;
  utimbuf t{kTime, kTime};
  ::utime(p.c_str(), &t);
}

int run(const std::string& command) { return std::system(("(" + command + ") >/dev/null 2>&1").c_str()); }

// The tree every tool archives: text, incompressible data, a read-only
// file, an empty folder and a Chinese name (UTF-8 on the Linux disk).
struct Tree {
  std::string root = testsupport::scratch_dir("ziptools");
  fs::path src = fs::path(root) / "src";
  std::string random;
  std::map<std::string, std::string> files;  // UTF-8 name -> content
  Tree() {
    std::mt19937 rng(5);
    for (int i = 0; i < 300000; ++i) random += char(rng());
    files = {{"a.txt", "hello, archive\n"}, {"bin/data.bin", random}, {"ro.txt", "read only\n"},
             {U8(u8"中文/文件.txt"), "zh\n"}};
    for (auto& [name, content] : files) write_path(src / name, content);
    fs::create_directories(src / "empty");
    ::chmod((src / "ro.txt").c_str(), 0444);
    // TZ is set far from UTC so that local DOS times are really converted.
    setenv("TZ", "Asia/Shanghai", 1);
    tzset();
  }
  std::string archive(const std::string& name) const { return (fs::path(root) / name).string(); }
};

Tree& tree() {
  static Tree t;
  return t;
}

struct Extracted {
  std::map<std::string, ZipEntry> entries;  // by name, "./" dropped, UTF-8
  fs::path out;
};

// Opens the archive, describes and extracts every entry below a fresh folder.
Extracted extract_all(const std::string& archive, const std::optional<Text>& password = std::nullopt) {
  Extracted x;
  x.out = fs::path(testsupport::scratch_dir("ziptools-out"));
  ZipArchive a;
  EXPECT_EQ(a.open(Text(archive), password), kZipOk) << archive;
  for (std::size_t i = 0; i < a.count(); ++i) {
    ZipEntry e;
    EXPECT_EQ(a.describe(std::int64_t(i), e), kZipOk);
    std::string name = utf8_from_cp936(e.name);
    if (name.rfind("./", 0) == 0) name.erase(0, 2);  // bsdtar's prefix
    Text dest(cp936_from_wide((x.out / wide_from_utf8(name)).u16string()));
    EXPECT_EQ(a.extract(std::int64_t(i), dest), kZipOk) << name;
    x.entries[name] = e;
  }
  return x;
}

// What every tool's archive must give back.
void expect_tree(const Extracted& x, bool keeps_modes, bool keeps_folders = true) {
  for (auto& [name, content] : tree().files) {
    ASSERT_TRUE(x.entries.count(name)) << name;
    const ZipEntry& e = x.entries.at(name);
    EXPECT_EQ(e.uncompressed_size, std::int32_t(content.size())) << name;
    EXPECT_TRUE(read_path(x.out / fs::path(wide_from_utf8(name))) == content) << name;
    // DOS times have two-second steps; the "UT" block is exact.
    EXPECT_LE(std::llabs((long long)e.modification_time - kFileTime), 20000000ll) << name;
    struct stat st;
    ASSERT_EQ(::stat((x.out / fs::path(wide_from_utf8(name))).c_str(), &st), 0);
    EXPECT_LE(std::llabs((long long)st.st_mtime - kTime), 2) << name;
  }
  if (keeps_modes) {
    EXPECT_EQ(x.entries.at("ro.txt").attributes & (kAttrReadOnly | kAttrArchive), kAttrReadOnly | kAttrArchive);
    EXPECT_EQ(x.entries.at("a.txt").attributes & kAttrReadOnly, 0u);
    struct stat st;
    ::stat((x.out / "ro.txt").c_str(), &st);
    EXPECT_EQ(st.st_mode & 0222, 0u);
  }
  if (keeps_folders) {
    ASSERT_TRUE(x.entries.count("empty/"));
    EXPECT_TRUE(x.entries.at("empty/").is_directory());
    EXPECT_TRUE(fs::is_directory(x.out / "empty"));
  }
}

std::string in_src(const std::string& command) { return "cd '" + tree().src.string() + "' && " + command; }

TEST(ZipToolsTest, InfoZipWithExtendedTimestampsAndUnflaggedUtf8Names) {
  std::string zip = tree().archive("infozip.zip");
  ASSERT_EQ(run(in_src("zip -qr '" + zip + "' .")), 0);
  Extracted x = extract_all(zip);
  expect_tree(x, true);
  EXPECT_EQ(x.entries.at("a.txt").modification_time, std::uint64_t(kFileTime));  // from "UT"
}

TEST(ZipToolsTest, InfoZipStreamedWithDataDescriptors) {
  std::string zip = tree().archive("stream.zip");
  ASSERT_EQ(run(in_src("zip -qr - . | cat > '" + zip + "'")), 0);
  expect_tree(extract_all(zip), true);
}

TEST(ZipToolsTest, InfoZipEncryptedNeedsTheRightPassword) {
  std::string zip = tree().archive("secret.zip");
  ASSERT_EQ(run(in_src("zip -qr -P 'pass word' '" + zip + "' a.txt bin")), 0);
  Extracted x = extract_all(zip, Text("pass word"));
  EXPECT_TRUE(read_path(x.out / "bin/data.bin") == tree().random);
  ZipArchive a;
  ASSERT_EQ(a.open(Text(zip), Text("wrong")), kZipOk);
  fs::path out = fs::path(testsupport::scratch_dir("ziptools-pw"));
  EXPECT_EQ(a.extract(0, Text((out / "a.txt").string())), kZipWrongPassword);
  EXPECT_TRUE(fs::exists(out / "a.txt"));  // created before the check, left empty
  EXPECT_EQ(fs::file_size(out / "a.txt"), 0u);
  ZipArchive none;
  ASSERT_EQ(none.open(Text(zip)), kZipOk);
  EXPECT_EQ(none.extract(0, Text((out / "b.txt").string())), kZipWrongPassword);
}

TEST(ZipToolsTest, PythonZipfileWithFlaggedNamesDescriptorsAndZip64) {
  std::string zip = tree().archive("python.zip");
  std::string script = R"(
import os, sys, zipfile
src, out = sys.argv[1], sys.argv[2]
with open(out, 'wb') as raw:
    class Unseekable:  # forces data descriptors
        def write(self, b): return raw.write(b)
        def flush(self): raw.flush()
    with zipfile.ZipFile(Unseekable(), 'w', zipfile.ZIP_DEFLATED) as z:
        for root, dirs, files in os.walk(src):
            for d in dirs:
                p = os.path.join(root, d)
                z.write(p, os.path.relpath(p, src))
            for f in files:
                p = os.path.join(root, f)
                with open(p, 'rb') as fh, z.open(zipfile.ZipInfo.from_file(p, os.path.relpath(p, src)), 'w', force_zip64=True) as w:
                    w.write(fh.read())
)";
  std::string py = tree().archive("make.py");
  std::ofstream(py) << script;
  ASSERT_EQ(run("python3 '" + py + "' '" + tree().src.string() + "' '" + zip + "'"), 0);
  expect_tree(extract_all(zip), true);
}

TEST(ZipToolsTest, Minizip) {
  std::string zip = tree().archive("minizip.zip");
  ASSERT_EQ(run(in_src("minizip -o -9 '" + zip + "' a.txt bin/data.bin ro.txt")), 0);
  Extracted x = extract_all(zip);
  EXPECT_EQ(x.entries.size(), 3u);
  EXPECT_TRUE(read_path(x.out / "bin/data.bin") == tree().random);
  EXPECT_EQ(read_path(x.out / "a.txt"), "hello, archive\n");
  // minizip records MS-DOS attributes of 0: a plain file.
  EXPECT_EQ(x.entries.at("ro.txt").attributes, 0u);
  // Debian's minizip 1.1 program writes a wrong check byte when it encrypts:
  // unzip, 7-Zip and Python refuse its password too.
  std::string secret = tree().archive("minizip-secret.zip");
  ASSERT_EQ(run(in_src("minizip -o -p secret '" + secret + "' a.txt")), 0);
  ASSERT_NE(run("unzip -P secret -t '" + secret + "'"), 0);
  ZipArchive a;
  ASSERT_EQ(a.open(Text(secret), Text("secret")), kZipOk);
  EXPECT_EQ(a.extract(0, Text(tree().archive("minizip-secret.txt"))), kZipWrongPassword);
}

TEST(ZipToolsTest, SevenZipPlainAndZipCrypto) {
  std::string zip = tree().archive("7z.zip");
  ASSERT_EQ(run(in_src("7z a -tzip '" + zip + "' .")), 0);
  expect_tree(extract_all(zip), true);
  std::string secret = tree().archive("7z-secret.zip");
  ASSERT_EQ(run(in_src("7z a -tzip -pTarnel -mem=ZipCrypto '" + secret + "' .")), 0);
  expect_tree(extract_all(secret, Text("Tarnel")), true);
  // 7-Zip's own AES encryption is a method we do not read: a code, no file.
  std::string aes = tree().archive("7z-aes.zip");
  ASSERT_EQ(run(in_src("7z a -tzip -pTarnel -mem=AES256 '" + aes + "' a.txt")), 0);
  ZipArchive a;
  ASSERT_EQ(a.open(Text(aes), Text("Tarnel")), kZipOk);
  fs::path out = fs::path(testsupport::scratch_dir("ziptools-aes"));
  EXPECT_EQ(a.extract(0, Text((out / "a.txt").string())), kZipDamaged);
  EXPECT_FALSE(fs::exists(out / "a.txt"));
}

TEST(ZipToolsTest, BsdtarWithDotPrefixesAndDescriptors) {
  std::string zip = tree().archive("bsdtar.zip");
  ASSERT_EQ(run("bsdtar --format zip -cf '" + zip + "' -C '" + tree().src.string() + "' ."), 0);
  expect_tree(extract_all(zip), true);
}

}  // namespace

#endif  // !_WIN32
