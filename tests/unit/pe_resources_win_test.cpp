// Files written by the portable resource writer, read by Windows itself
// (FindResource, LoadResource, the loader starting the program), and the
// other way round: what Windows' own UpdateResource writes, read by ours.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "runtime/value/codepage.h"
#include "mkinstaller/pe_resources.h"
#include "tests/support/paths.h"
#include "tests/support/windows_win.h"

using rt::PeResources;
using rt::ResourceId;

namespace {

std::wstring wide(const std::string& s) { return rt::wide_path(s); }

std::string own_path() {
  wchar_t buf[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, buf, MAX_PATH);
  return rt::cp936_from_wide(std::u16string(reinterpret_cast<const char16_t*>(buf), n));
}

// Copies `from` into a scratch folder after setting the given resources.
std::string configured_copy(const std::string& from, const std::string& name,
                            const std::vector<std::pair<std::string, std::string>>& system_resources) {
  std::string bytes = testsupport::read_file(from);
  PeResources pe;
  std::string error, out;
  EXPECT_TRUE(pe.load(bytes, &error)) << from << ": " << error;
  for (const auto& [res, data] : system_resources) pe.set(ResourceId::of_text("SYSTEM"), ResourceId::of_text(res), 0, data);
  EXPECT_TRUE(pe.save(&out, &error)) << error;
  std::string path = testsupport::scratch_dir("pe_win") + "\\" + name;
  EXPECT_TRUE(testsupport::write_file(path, out));
  return path;
}

// Runs a program to its end; its exit code, or -1 when it did not start.
long run(const std::string& exe, const std::string& args) {
  return testsupport::run_program(L"\"" + wide(exe) + L"\" " + wide(args));
}

// The bytes of a resource as Windows finds them in a module.
std::string windows_resource(HMODULE module, const wchar_t* type, const wchar_t* name) {
  HRSRC found = FindResourceW(module, name, type);
  if (!found) return "<missing>";
  HGLOBAL loaded = LoadResource(module, found);
  const char* data = static_cast<const char*>(LockResource(loaded));
  return std::string(data, SizeofResource(module, found));
}

std::string probe_path() { return testsupport::binary_dir() + "\\mkinstaller\\pe_probe.exe"; }

TEST(PeResourcesWindows, ChangedProgramStartsAndFindsItsResources) {
  std::string package(300000, 'P');
  std::string exe = configured_copy(probe_path(), "probe.exe", {{"101", "\x89PNG"}, {"102", "record"}, {"103", package}});
  EXPECT_EQ(run(exe, "SYSTEM 103 300000 P"), 0);
  EXPECT_EQ(run(exe, "system 101 4"), 0) << "found case-insensitively";
  EXPECT_EQ(run(exe, "SYSTEM 102 6 r"), 0);
  EXPECT_EQ(run(exe, "#10 ALPHA 3 a"), 0) << "the linker's resources are still there";
  EXPECT_EQ(run(exe, "TEXTDATA ZETA 2 z"), 0);
  EXPECT_EQ(run(exe, "SYSTEM 104 1"), 2);
}

TEST(PeResourcesWindows, ProgramWithoutResourcesGetsASectionAndStillRuns) {
  PeResources own;
  std::string error;
  ASSERT_TRUE(own.load(testsupport::read_file(own_path()), &error)) << error;
  std::string exe = configured_copy(own_path(), "self.exe", {{"102", std::string(5000, 'r')}});
  EXPECT_EQ(run(exe, "--gtest_filter=NoSuchTest.Nothing"), 0);
}

TEST(PeResourcesWindows, LoaderMapsTheInstallerWithItsNewResources) {
  std::string logo(9116, 'L'), record(266, 'R');
  std::string package = std::string("PK\x05\x06", 4) + std::string(18, '\0');
  std::string exe = configured_copy(testsupport::binary_dir() + "\\app\\setup.exe", "setup.exe",
                                    {{"101", logo}, {"102", record}, {"103", package}});
  // Mapped as an image (sections placed by address), not as a data file.
  HMODULE m = LoadLibraryExW(wide(exe).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(m, nullptr) << GetLastError();
  EXPECT_EQ(windows_resource(m, L"SYSTEM", L"101"), logo);
  EXPECT_EQ(windows_resource(m, L"SYSTEM", L"102"), record);
  EXPECT_EQ(windows_resource(m, L"SYSTEM", L"103"), package);
  EXPECT_NE(windows_resource(m, MAKEINTRESOURCEW(16), MAKEINTRESOURCEW(1)), "<missing>") << "version kept";
  FreeLibrary(m);
}

TEST(PeResourcesWindows, OurReaderReadsWhatWindowsWrites) {
  std::string exe = testsupport::scratch_dir("pe_win") + "\\probe.exe";
  ASSERT_TRUE(CopyFileW(wide(probe_path()).c_str(), wide(exe).c_str(), FALSE));
  std::string list = "C:\\Apps\\Foo\\Foo.exe\r\n";
  HANDLE h = BeginUpdateResourceW(wide(exe).c_str(), FALSE);
  ASSERT_NE(h, nullptr);
  ASSERT_TRUE(UpdateResourceW(h, L"install", L"list", 0, list.data(), static_cast<DWORD>(list.size())));
  ASSERT_TRUE(EndUpdateResourceW(h, FALSE));

  PeResources pe;
  std::string error;
  ASSERT_TRUE(pe.load(testsupport::read_file(exe), &error)) << error;
  const std::string* found = pe.find(ResourceId::of_text("install"), ResourceId::of_text("list"), 0);
  ASSERT_NE(found, nullptr);
  EXPECT_EQ(*found, list);
  ASSERT_NE(pe.find(ResourceId::of_text("TEXTDATA"), ResourceId::of_text("PROBE")), nullptr);

  // And after our writer has been through it, Windows still finds it.
  pe.set(ResourceId::of_text("SYSTEM"), ResourceId::of_text("102"), 0, "x");
  std::string out;
  ASSERT_TRUE(pe.save(&out, &error)) << error;
  ASSERT_TRUE(testsupport::write_file(exe, out));
  EXPECT_EQ(run(exe, "INSTALL LIST " + std::to_string(list.size()) + " C"), 0);
  EXPECT_EQ(run(exe, "SYSTEM 102 1 x"), 0);
}

}  // namespace
