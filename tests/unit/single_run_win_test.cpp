// The run lock against the Wine prefix: its salt, its mutex, and objects
// another account could have made under its names. Wine runs every program
// as one account, so another account's objects are made here with its owner
// or access list written out.
#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "installer/format/sha256.h"
#include "installer/platform/single_run.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"

namespace {

using installer::LockScope;
using installer::SoftwareRunLock;

const wchar_t kParentKey[] = L"Software\\Tarnel Setup";
const wchar_t kOtherOwner[] = L"O:S-1-5-21-1-2-3-4D:(A;;GA;;;WD)";
const wchar_t kNoAccessForUs[] = L"D:P(A;;GA;;;S-1-5-21-1-2-3-4)";
const char kChildVariable[] = "TARNEL_RUN_LOCK_CHILD";

std::wstring salt_key(const std::string& software) {
  return std::wstring(kParentKey) + L"\\" + rt::wide_path(installer::sha256_hex(software).substr(0, 32));
}

// An object's owner and access list, in SDDL.
std::wstring sddl_of(HANDLE object,
                     SECURITY_INFORMATION wanted = OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION) {
  alignas(DWORD) BYTE sd[1024];
  DWORD size = 0;
  wchar_t* text = nullptr;
  if (!GetKernelObjectSecurity(object, wanted, sd, sizeof sd, &size) ||
      !ConvertSecurityDescriptorToStringSecurityDescriptorW(sd, SDDL_REVISION_1, wanted, &text, nullptr))
    return L"<unreadable>";
  std::wstring sddl = text;
  LocalFree(text);
  return sddl;
}

// A mutex (or event) made and kept by a thread of its own: to the thread
// under test, a mutex held by another program.
class Planted {
 public:
  Planted(const std::wstring& name, const std::wstring& sddl, bool event = false) {
    rt::win::Kernel ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    thread_ = std::thread([&, name, sddl, event] {
      PSECURITY_DESCRIPTOR sd = nullptr;
      if (!sddl.empty())
        ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &sd, nullptr);
      SECURITY_ATTRIBUTES attributes = {sizeof attributes, sd, FALSE};
      rt::win::Kernel object(event ? CreateEventW(&attributes, TRUE, FALSE, name.c_str())
                                   : CreateMutexW(&attributes, TRUE, name.c_str()));
      made_ = static_cast<bool>(object);
      SetEvent(ready.get());
      WaitForSingleObject(stop_.get(), INFINITE);
      LocalFree(sd);
    });
    WaitForSingleObject(ready.get(), INFINITE);
  }
  ~Planted() {
    SetEvent(stop_.get());
    thread_.join();
  }
  bool made() const { return made_; }

 private:
  rt::win::Kernel stop_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  bool made_ = false;
  std::thread thread_;
};

class RunLockTest : public testing::TestWithParam<LockScope> {
 protected:
  void SetUp() override {
    software_ = "TarnelLockTest-" + std::to_string(GetCurrentProcessId()) + "-" +
                testing::UnitTest::GetInstance()->current_test_info()->name();
    for (char& c : software_)
      if (c == '/') c = '-';
  }
  void TearDown() override {
    RegDeleteKeyExW(root(), salt_key(software_).c_str(), KEY_WOW64_32KEY, 0);
    RegDeleteKeyExW(root(), kParentKey, KEY_WOW64_32KEY, 0);  // once empty
  }

  HKEY root() const { return GetParam() == LockScope::kMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }
  bool acquire(SoftwareRunLock& lock) const { return lock.acquire(software_, GetParam()); }
  // The salt value as stored, and its type.
  std::string salt(DWORD* type = nullptr) const {
    BYTE bytes[256];
    DWORD size = sizeof bytes;
    if (RegGetValueW(root(), salt_key(software_).c_str(), L"RunLockSalt", RRF_RT_ANY | RRF_NOEXPAND, type, bytes,
                     &size) != ERROR_SUCCESS)
      return "<none>";
    return std::string(reinterpret_cast<char*>(bytes), size);
  }
  void store_salt(DWORD type, const std::string& bytes) const {
    std::wstring key = salt_key(software_);
    DWORD size = static_cast<DWORD>(bytes.size());
    ASSERT_EQ(RegSetKeyValueW(root(), key.c_str(), L"RunLockSalt", type, bytes.data(), size), ERROR_SUCCESS);
    if (type == REG_NONE) RegDeleteKeyValueW(root(), key.c_str(), L"RunLockSalt");
  }
  std::wstring slot_name(int slot) const {
    return rt::wide_path(installer::run_lock_name(rt::Bytes(salt()), software_, slot).view());
  }
  std::string software_;
};

INSTANTIATE_TEST_SUITE_P(Scopes, RunLockTest, testing::Values(LockScope::kMachine, LockScope::kUser),
                         [](const testing::TestParamInfo<LockScope>& info) {
                           return info.param == LockScope::kMachine ? "Machine" : "User";
                         });

// The name of old (worked out from the software's name alone) blocks
// nothing. The first run makes the salt, which only the administrators and
// the system may read or change on the machine; a second object of the same
// program is refused and changes nothing; the end of the run renews the
// salt, so the name it used is worth nothing to an account that saw it.
TEST_P(RunLockTest, OneHolderAtATimeAndANewSaltAfterEach) {
  Planted old_name(rt::wide_path("Global\\TarnelSetup-" + installer::sha256_hex(software_).substr(0, 32)), L"");
  ASSERT_TRUE(old_name.made());
  auto first = std::make_unique<SoftwareRunLock>();
  ASSERT_TRUE(acquire(*first));
  DWORD type = REG_NONE;
  std::string made = salt(&type);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  EXPECT_EQ(made.size(), 32u);
  if (GetParam() == LockScope::kMachine) {
    HKEY raw = nullptr;
    RegOpenKeyExW(root(), salt_key(software_).c_str(), 0, READ_CONTROL | KEY_WOW64_32KEY, &raw);
    EXPECT_EQ(sddl_of(rt::win::RegistryKey(raw).get(), DACL_SECURITY_INFORMATION), L"D:P(A;CI;KA;;;BA)(A;CI;KA;;;SY)");
  }
  SoftwareRunLock second;
  EXPECT_FALSE(acquire(second));
  EXPECT_EQ(salt(), made);

  first.reset();
  EXPECT_NE(salt(), made);
  EXPECT_EQ(salt().size(), 32u);
  SoftwareRunLock third;
  EXPECT_TRUE(acquire(third));
}

// The lock's mutex, and objects under the salt's names before the lock is
// taken: another account's are stepped over (up to the last slot); one of
// ours held on any slot means another program runs.
TEST_P(RunLockTest, ObjectsUnderItsNames) {
  std::wstring ours;
  {
    SoftwareRunLock makes_the_salt;
    ASSERT_TRUE(acquire(makes_the_salt));
    ours = sddl_of(rt::win::Kernel(OpenMutexW(READ_CONTROL, FALSE, slot_name(0).c_str())).get());
  }
  // Owned by those who share the lock (the administrators, or the person),
  // for them and the system only.
  std::wstring owner = ours.substr(2, ours.find(L"D:") - 2);
  EXPECT_EQ(ours, L"O:" + owner + L"D:P(A;;0x1f0001;;;" + owner + L")(A;;0x1f0001;;;SY)");
  EXPECT_EQ(owner == L"BA", GetParam() == LockScope::kMachine);
  struct Case {
    const char* what;
    int first, last;  // the slots planted
    std::wstring sddl;
    bool event, acquired;
  } cases[] = {
      {"another owner's mutex, held", 0, 0, kOtherOwner, false, true},
      {"a mutex we may not open", 0, 0, kNoAccessForUs, false, true},
      {"another account's on every slot", 0, installer::kRunLockSlots - 1, kOtherOwner, false, false},
      {"ours held on the first slot", 0, 0, ours, false, false},
      {"ours held on the second slot", 1, 1, ours, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::unique_ptr<Planted>> planted;
    for (int slot = c.first; slot <= c.last; ++slot) {
      planted.push_back(std::make_unique<Planted>(slot_name(slot), c.sddl, c.event));
      ASSERT_TRUE(planted.back()->made());
    }
    std::string before = salt();
    SoftwareRunLock lock;
    EXPECT_EQ(acquire(lock), c.acquired);
    if (!c.acquired) {
      EXPECT_EQ(salt(), before);
    }
  }
}

// A salt that is not 32 bytes of binary is written over: only those who
// share the lock can write there, so it is damage, not an attack.
TEST_P(RunLockTest, ADamagedSaltIsReplaced) {
  struct Case {
    const char* what;
    DWORD type;
    std::string bytes;
  } cases[] = {
      {"33 bytes", REG_BINARY, std::string(33, 'x')},
      {"text", REG_SZ, std::string("x\0x\0x\0x\0x\0x\0x\0x\0x\0x\0x\0x\0x\0x\0x\0\0\0", 32)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    store_salt(c.type, c.bytes);
    SoftwareRunLock lock;
    ASSERT_TRUE(acquire(lock));
    DWORD type = REG_NONE;
    EXPECT_EQ(salt(&type).size(), 32u);
    EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  }
}

// Held by another program: refused; once that program is killed, its
// abandoned mutex is taken over.
TEST_P(RunLockTest, AnotherProgramHoldsItUntilKilled) {
  std::wstring ready_name = rt::wide_path("Local\\" + software_ + "-ready");
  rt::win::Kernel ready(CreateEventW(nullptr, TRUE, FALSE, ready_name.c_str()));
  wchar_t self[MAX_PATH];
  ASSERT_GT(GetModuleFileNameW(nullptr, self, MAX_PATH), 0u);
  std::wstring command = L"\"" + std::wstring(self) + L"\" --gtest_filter=RunLockChild.*";
  SetEnvironmentVariableA(kChildVariable, ((GetParam() == LockScope::kMachine ? "m" : "u") + software_).c_str());
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION pi = {};
  BOOL started = CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &pi);
  SetEnvironmentVariableA(kChildVariable, nullptr);
  ASSERT_TRUE(started);
  rt::win::Process child(pi);
  HANDLE waits[] = {ready.get(), child.process.get()};
  ASSERT_EQ(WaitForMultipleObjects(2, waits, FALSE, 60000), WAIT_OBJECT_0);

  SoftwareRunLock refused;
  EXPECT_FALSE(acquire(refused));
  // Kept open, so that the mutex outlives its killed holder, abandoned.
  rt::win::Kernel kept(OpenMutexW(SYNCHRONIZE, FALSE, slot_name(0).c_str()));
  EXPECT_TRUE(kept);
  TerminateProcess(child.process.get(), 9);
  WaitForSingleObject(child.process.get(), 60000);
  SoftwareRunLock taken_over;
  EXPECT_TRUE(acquire(taken_over));
}

// The other program of the test above.
TEST(RunLockChild, HoldsUntilKilled) {
  const char* asked = std::getenv(kChildVariable);  // the scope's letter, then the software's name
  if (!asked) GTEST_SKIP() << "runs only as the other program of RunLockTest";
  std::string software = asked + 1;
  SoftwareRunLock lock;
  ASSERT_TRUE(lock.acquire(software, asked[0] == 'm' ? LockScope::kMachine : LockScope::kUser));
  rt::win::Kernel ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, rt::wide_path("Local\\" + software + "-ready").c_str()));
  SetEvent(ready.get());
  Sleep(INFINITE);
}

}  // namespace
