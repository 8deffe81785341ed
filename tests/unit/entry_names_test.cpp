// Entry names an attacker controls, from the stored bytes to the path a file
// is written at: regressions of what fuzzing the name path found.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "installer/steps/path_macros.h"
#include "runtime/value/codepage.h"
#include "runtime/zip/zip_reader.h"
#include "tests/support/zip_maker.h"

namespace {

rt::ZipEntry described(const std::string& stored_name) {
  rt::ZipReader reader;
  rt::ZipEntry entry;
  std::string zip = testsupport::make_zip({{stored_name, "x"}});
  if (reader.open(std::make_unique<rt::MemoryZipInput>(zip)) == rt::kZipOk) reader.describe(0, entry);
  return entry;
}

// A zero byte ends the name where Windows reads it, so it must end it for
// the checks too: "..\0" was passed as safe and reached the destination as
// "..", one level above the folder it was extracted into.
TEST(EntryNameTest, AZeroByteEndsTheNameBeforeItIsChecked) {
  for (const std::string& stored : {std::string("..\0", 3), std::string("{app}/..\0/x", 11),
                                    std::string("a/.. \0b", 7), std::string("..\0/", 4)}) {
    rt::ZipEntry e = described(stored);
    EXPECT_EQ(e.name.find('\0'), std::string::npos) << e.name;
    EXPECT_EQ(e.wide_name.find(u'\0'), std::u16string::npos);
    EXPECT_TRUE(rt::is_unsafe_entry_name(e.wide_name)) << e.name;
  }
  rt::ZipEntry fine = described(std::string("{app}/ok.txt\0../../evil", 23));
  EXPECT_EQ(fine.name, "{app}/ok.txt");
  EXPECT_FALSE(rt::is_unsafe_entry_name(fine.wide_name));
}

// Windows opens a device for these names in any folder, whatever follows
// the dot: an entry may not write to a serial port or a printer.
TEST(EntryNameTest, DeviceNamesAreUnsafeInAnyFolderAndWithAnyExtension) {
  for (const char16_t* name : {u"CON", u"a/nul", u"sub\\Com1.txt", u"LPT9.log", u"aux .txt", u"PRN", u"conout$", u"con/",
                               u"COM\u00B9.txt", u"lpt\u00B2", u"a/COM\u00B3"})
    EXPECT_TRUE(rt::is_unsafe_entry_name(name)) << rt::cp936_from_wide(name);
  for (const char16_t* name : {u"CONSOLE.txt", u"COM0", u"COM10", u"a/LPT", u"nul_file", u"auxiliary/x",
                               u"c\u00BAn.txt", u"COM\u2074", u"LPT\u00B9\u00B9"})
    EXPECT_FALSE(rt::is_unsafe_entry_name(name)) << rt::cp936_from_wide(name);
}

// Every name that passes the check expands below the installation
// directory, the temporary directory or (without a macro) a relative path.
TEST(EntryNameTest, NamesThatPassExpandBelowTheirFolder) {
  const std::string install = "C:\\Apps\\Foo", temp = "C:\\Temp\\";
  for (const char* stored : {"{app}/a/../../b", "{tmp}/..\\..\\b", "C:\\Windows\\x.dll", "\\\\host\\share\\x",
                             "/etc/passwd", "{app}/sub/", "C:x", "{app}/\xB5\\x"}) {
    rt::ZipEntry e = described(stored);
    if (rt::is_unsafe_entry_name(e.wide_name)) continue;
    std::string target = installer::expand_path_macros(rt::Text(e.name), install, temp).str();
    bool below = target.rfind(install + "\\", 0) == 0 || target.rfind(temp, 0) == 0 ||
                 (target.find(':') == std::string::npos && target[0] != '\\' && target[0] != '/');
    EXPECT_TRUE(below) << stored << " -> " << target;
  }
}

}  // namespace
