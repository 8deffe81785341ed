// Who may change a folder, judged from its owner and access list.
#include "installer/platform/folder_access.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using installer::AccessGrant;
using installer::FolderSecurity;

const std::string kAdmins = "S-1-5-32-544", kSystem = "S-1-5-18", kUsers = "S-1-5-32-545", kEveryone = "S-1-1-0",
                  kCreator = "S-1-3-0", kPerson = "S-1-5-21-1-2-3-1001", kOther = "S-1-5-21-1-2-3-1002";
const std::vector<std::string> kTrusted = {kAdmins, kSystem, kPerson};
constexpr std::uint32_t kFull = 0x1F01FF, kReadRun = 0x1200A9, kAddFolder = 0x4, kModify = 0x1301BF;

TEST(FolderAccessTest, OthersWhoMayChangeOrRenameAreNamed) {
  const struct {
    const char* what;
    FolderSecurity folder;
    bool above;
    std::vector<std::string> others;
    bool kept;
  } cases[] = {
      {"the working folders' list", {kAdmins, true, {{kAdmins, kFull}, {kSystem, kFull}}}, false, {}, true},
      {"users read and run", {kAdmins, true, {{kAdmins, kFull}, {kUsers, kReadRun}}}, false, {}, false},
      {"users modify (a folder made in C:\\)", {kAdmins, true, {{kAdmins, kFull}, {kUsers, kModify, true}}}, false,
       {kUsers}, false},
      {"a person's own folder", {kOther, true, {{kOther, kFull}}}, false, {kOther}, false},
      {"no access list at all", {kAdmins, false, {}}, false, {kEveryone}, false},
      {"CREATOR OWNER gives nothing by itself", {kAdmins, true, {{kAdmins, kFull}, {kCreator, kFull, true}}}, false, {},
       true},
      // Above the installation folder only renaming, deleting and the list count.
      {"users may add folders to C:\\", {kSystem, true, {{kAdmins, kFull}, {kUsers, kAddFolder}}}, true, {}, false},
      {"users may delete in the folder above", {kAdmins, true, {{kUsers, 0x40}}}, true, {kUsers}, false},
      {"the person's own, as the person", {kPerson, true, {{kPerson, kFull}, {kSystem, kFull}}}, false, {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(installer::untrusted_writers(c.folder, kTrusted, c.above), c.others);
    EXPECT_EQ(installer::kept_for(c.folder, kTrusted), c.kept);
  }
}

}  // namespace
