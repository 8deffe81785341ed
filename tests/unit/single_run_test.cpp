#include "installer/platform/single_run.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "installer/format/sha256.h"

namespace {

using installer::run_lock_name;

const rt::Bytes kSaltA(std::string(32, 'a'));
const rt::Bytes kSaltB(std::string(32, 'b'));

bool is_lock_name(const std::string& name) {
  const std::string prefix = "Global\\TarnelSetup-";
  return name.size() == prefix.size() + 64 && name.compare(0, prefix.size(), prefix) == 0 &&
         name.find_first_not_of("0123456789abcdef", prefix.size()) == std::string::npos;
}

// The digest of the salt followed by the name: nothing of the name shows,
// and without the salt it cannot be worked out.
TEST(RunLockNameTest, DigestOfSaltAndName) {
  std::string name = run_lock_name(kSaltA, "Demo").str();
  EXPECT_TRUE(is_lock_name(name)) << name;
  EXPECT_EQ(name, "Global\\TarnelSetup-" + installer::sha256_hex(std::string(32, 'a') + "Demo"));
  EXPECT_EQ(run_lock_name(kSaltA, "Demo").str(), name);  // every program works out the same
}

// Salts, names and slots: each pair gives a name of its own, all of the same
// shape (a name of any characters or length, or an empty one, included).
TEST(RunLockNameTest, EachSaltNameAndSlotGivesItsOwnName) {
  std::set<std::string> names;
  int count = 0;
  for (const rt::Bytes* salt : {&kSaltA, &kSaltB}) {
    for (const char* software : {"Demo", "Demo ", "", "演示软件\\..\\x", "Demo\x01"}) {
      for (int slot = 0; slot < installer::kRunLockSlots; ++slot) {
        std::string name = run_lock_name(*salt, software, slot).str();
        EXPECT_TRUE(is_lock_name(name)) << name;
        names.insert(name);
        ++count;
      }
    }
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(count));
}

TEST(RunLockNameTest, MessageNamesTheSoftware) {
  EXPECT_EQ(installer::another_run_message("Demo").str(), "“Demo”的安装或卸载程序正在运行，请等它结束后再试。");
}

}  // namespace
