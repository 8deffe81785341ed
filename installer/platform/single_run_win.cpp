// The run lock is a mutex in Global\ whose name carries a secret: a salt of
// 32 random bytes kept in the registry where only those who share the lock
// can read or write it (the machine's administrators and the system; a
// person for their own installations). Any account may make objects in
// Global\, so a name it can work out could be taken or squatted before us;
// a private namespace would prevent that, but Wine 8 has none
// (CreatePrivateNamespaceW ends the process there).
//
// A secret name is not quite enough, and the rest is handled here:
// - Any account can list the names in Global\ while a run holds its lock, so
//   the holder writes a new salt before letting go: a name seen during a run
//   is worth nothing once the run is over.
// - A run that was killed (or a machine that lost power) leaves its salt as
//   it was; an account that saw the name may then make an object of it. A
//   salt therefore gives a few names (slots); one whose object is not ours
//   (another owner, no access for us, not a mutex) is stepped over, and the
//   first that is ours or free is taken. Then none of the other slots may
//   be held by one of ours: of two programs that stepped over differently,
//   the later one to look sees the other's and refuses.
// - Having taken its mutex, a program reads the salt again: when the
//   program before it wrote a new one meanwhile, it starts again with that.
#include <windows.h>
#include <ntsecapi.h>  // RtlGenRandom: advapi32, which the programs import anyway

#include <mutex>
#include <string>
#include <utility>

#include "installer/format/sha256.h"
#include "installer/platform/single_run.h"
#include "runtime/value/codepage.h"
#include "runtime/win/handles.h"
#include "runtime/win/lock_win.h"

namespace installer {

namespace {

constexpr wchar_t kSaltValue[] = L"RunLockSalt";
constexpr DWORD kSaltSize = 32;
// setup.exe and uninst.exe are 32-bit programs; a lock shared with any other
// build must look in the same view of HKEY_LOCAL_MACHINE.
constexpr REGSAM kView = KEY_WOW64_32KEY;
// Programs taking the lock together: how long one waits for the salt that
// the program which made the key writes just after (50 x 20 ms).
constexpr int kSaltWaits = 50;
constexpr DWORD kSaltWaitStep = 20;
// A run that ended while we were taking its lock renews the salt; we start
// again with the new one, a few times at most.
constexpr int kAttempts = 3;

struct Sid {
  alignas(DWORD) BYTE bytes[SECURITY_MAX_SID_SIZE] = {};
  PSID get() const { return const_cast<BYTE*>(bytes); }
};

bool well_known_sid(WELL_KNOWN_SID_TYPE type, Sid& out) {
  DWORD size = sizeof out.bytes;
  return CreateWellKnownSid(type, nullptr, out.get(), &size) != FALSE;
}

bool token_user_sid(Sid& out) {
  HANDLE raw = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) return false;
  rt::win::Kernel token(raw);
  alignas(DWORD) BYTE buffer[sizeof(TOKEN_USER) + SECURITY_MAX_SID_SIZE];
  DWORD size = 0;
  if (!GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size)) return false;
  return CopySid(sizeof out.bytes, out.get(), reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid) != FALSE;
}

// Owner `owner`; full `rights` for the owner and the system, nothing else
// and nothing inherited from above.
class Descriptor {
 public:
  Descriptor() = default;
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;

  bool make(PSID owner, PSID system, DWORD rights, DWORD ace_flags) {
    auto* acl = reinterpret_cast<ACL*>(acl_);
    ok_ = InitializeSecurityDescriptor(&sd_, SECURITY_DESCRIPTOR_REVISION) &&
          InitializeAcl(acl, sizeof acl_, ACL_REVISION) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, ace_flags, rights, owner) &&
          AddAccessAllowedAceEx(acl, ACL_REVISION, ace_flags, rights, system) &&
          SetSecurityDescriptorOwner(&sd_, owner, FALSE) && SetSecurityDescriptorDacl(&sd_, TRUE, acl, FALSE) &&
          SetSecurityDescriptorControl(&sd_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_ = {sizeof attributes_, &sd_, FALSE};
    return ok_;
  }
  SECURITY_ATTRIBUTES* attributes() { return ok_ ? &attributes_ : nullptr; }
  PSECURITY_DESCRIPTOR descriptor() { return &sd_; }

 private:
  bool ok_ = false;
  SECURITY_DESCRIPTOR sd_ = {};
  alignas(DWORD) BYTE acl_[2 * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE) + sizeof(ACL)] = {};
  SECURITY_ATTRIBUTES attributes_ = {};
};

// Those who share a lock. Their objects are owned by the administrators
// (machine) or the person (user), and only the owner and the system may use
// them. The person's mutex names them explicitly rather than taking the
// token's default list: an elevated run's default would leave out the same
// person's run without elevation (uninst.exe runs as invoked).
class Group {
 public:
  explicit Group(LockScope scope) : machine_(scope == LockScope::kMachine) {
    valid_ = (machine_ ? well_known_sid(WinBuiltinAdministratorsSid, owner_) : token_user_sid(owner_)) &&
             well_known_sid(WinLocalSystemSid, system_) &&
             mutex_.make(owner_.get(), system_.get(), MUTEX_ALL_ACCESS, 0) &&
             (!machine_ || key_.make(owner_.get(), system_.get(), KEY_ALL_ACCESS, CONTAINER_INHERIT_ACE));
  }
  Group(const Group&) = delete;
  Group& operator=(const Group&) = delete;

  bool valid() const { return valid_; }
  HKEY root() const { return machine_ ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }
  SECURITY_ATTRIBUTES* mutex_attributes() { return mutex_.attributes(); }
  // HKEY_LOCAL_MACHINE\SOFTWARE lets every account read the keys below it,
  // so the machine's keys get their own list; HKEY_CURRENT_USER\Software
  // already keeps other accounts out.
  Descriptor* key_descriptor() { return machine_ ? &key_ : nullptr; }

  // Whether an object is one of ours: owned by the group (only a member can
  // name the group as an object's owner).
  bool owns(HANDLE object) const {
    alignas(DWORD) BYTE buffer[sizeof(SECURITY_DESCRIPTOR_RELATIVE) + SECURITY_MAX_SID_SIZE];
    DWORD needed = 0;
    PSID owner = nullptr;
    BOOL defaulted = FALSE;
    return GetKernelObjectSecurity(object, OWNER_SECURITY_INFORMATION, buffer, sizeof buffer, &needed) &&
           GetSecurityDescriptorOwner(buffer, &owner, &defaulted) && owner && EqualSid(owner, owner_.get());
  }

 private:
  bool machine_;
  bool valid_ = false;
  Sid owner_, system_;
  Descriptor mutex_, key_;
};

// Opens `path` below `parent`, making it when missing (`made` says so).
rt::win::RegistryKey open_or_make_key(HKEY parent, const wchar_t* path, REGSAM access, Group& group, bool& made) {
  Descriptor* access_list = group.key_descriptor();
  HKEY raw = nullptr;
  DWORD disposition = 0;
  if (RegCreateKeyExW(parent, path, 0, nullptr, 0, access | kView | (access_list ? WRITE_DAC : 0),
                      access_list ? access_list->attributes() : nullptr, &raw, &disposition) != ERROR_SUCCESS)
    return {};
  rt::win::RegistryKey key(raw);
  made = disposition == REG_CREATED_NEW_KEY;
  // Said once more on the new key itself: Windows took it at creation, Wine
  // keeps only what is set afterwards.
  if (made && access_list &&
      RegSetKeySecurity(raw, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                        access_list->descriptor()) != ERROR_SUCCESS)
    return {};
  return key;
}

// "<root>\Software\Tarnel Setup\<digest of the software's name>", holding
// the salt. Making a key is what elects, between programs starting together,
// the one that writes the first salt: the system tells the one that made it,
// whereas a value is simply written over by each.
rt::win::RegistryKey open_salt_key(Group& group, const rt::Text& software_name, bool& made) {
  bool made_parent = false;
  rt::win::RegistryKey parent =
      open_or_make_key(group.root(), L"Software\\Tarnel Setup", KEY_CREATE_SUB_KEY, group, made_parent);
  if (!parent) return {};
  std::wstring name = rt::wide_path(sha256_hex(software_name.view()).substr(0, 32));
  return open_or_make_key(parent.get(), name.c_str(), KEY_QUERY_VALUE | KEY_SET_VALUE, group, made);
}

enum class Salt { kGood, kMissing, kDamaged };

Salt read_salt(HKEY key, rt::Bytes& salt) {
  BYTE bytes[kSaltSize];
  DWORD type = 0, size = sizeof bytes;
  LONG rc = RegQueryValueExW(key, kSaltValue, nullptr, &type, bytes, &size);
  if (rc == ERROR_FILE_NOT_FOUND) return Salt::kMissing;
  if (rc != ERROR_SUCCESS || type != REG_BINARY || size != kSaltSize) return Salt::kDamaged;
  salt = rt::Bytes(bytes, size);
  return Salt::kGood;
}

bool write_new_salt(HKEY key) {
  BYTE salt[kSaltSize];
  return RtlGenRandom(salt, sizeof salt) &&
         RegSetValueExW(key, kSaltValue, 0, REG_BINARY, salt, sizeof salt) == ERROR_SUCCESS;
}

rt::Bytes current_salt(HKEY key, bool made_key) {
  if (made_key) write_new_salt(key);
  rt::Bytes salt;
  Salt state = read_salt(key, salt);
  for (int wait = 0; state == Salt::kMissing && wait < kSaltWaits; ++wait) {
    Sleep(kSaltWaitStep);
    state = read_salt(key, salt);
  }
  // Still missing (its maker was killed) or of another kind or size: only
  // the group can write here (the access list above for the machine, the
  // person's own key for a person), so this is damage, not someone's planted
  // salt. Refusing would keep the software from ever being installed or
  // removed again, and a salt means nothing beyond the lock's name: it is
  // written over and read back.
  if (state != Salt::kGood && (!write_new_salt(key) || read_salt(key, salt) != Salt::kGood)) return {};
  return salt;
}

bool take_now(HANDLE mutex) {
  DWORD waited = WaitForSingleObject(mutex, 0);
  // Abandoned (its holder was killed): taken over; the journal puts right
  // whatever that run left.
  return waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

std::wstring slot_name(const rt::Bytes& salt, const rt::Text& software_name, int slot) {
  return rt::wide_path(run_lock_name(salt, software_name, slot).view());
}

// Takes the first slot whose object is not another account's, then makes
// sure no other slot is held by one of ours; empty when the lock is taken.
rt::win::Kernel take_slot(Group& group, const rt::Bytes& salt, const rt::Text& software_name) {
  rt::win::Kernel mine;
  int taken = 0;
  for (; taken < kRunLockSlots; ++taken) {
    SetLastError(ERROR_SUCCESS);
    HANDLE raw = CreateMutexW(group.mutex_attributes(), FALSE, slot_name(salt, software_name, taken).c_str());
    DWORD error = GetLastError();
    rt::win::Kernel mutex(raw);
    // No access for us, or an object of another kind: not ours.
    if (!mutex && (error == ERROR_ACCESS_DENIED || error == ERROR_INVALID_HANDLE)) continue;
    if (!mutex) return {};
    if (error == ERROR_ALREADY_EXISTS && !group.owns(mutex.get())) continue;
    if (!take_now(mutex.get())) return {};
    mine = std::move(mutex);
    break;
  }
  if (!mine) return {};
  for (int slot = 0; slot < kRunLockSlots; ++slot) {
    if (slot == taken) continue;
    rt::win::Kernel other(OpenMutexW(SYNCHRONIZE | MUTEX_MODIFY_STATE | READ_CONTROL, FALSE,
                                     slot_name(salt, software_name, slot).c_str()));
    if (!other || !group.owns(other.get())) continue;
    if (!take_now(other.get())) {
      ReleaseMutex(mine.get());
      return {};
    }
    ReleaseMutex(other.get());
  }
  return mine;
}

// The locks of this process, held or being taken: a mutex is granted again
// to the thread that holds it, so two objects of one program would otherwise
// both hold the same lock.
rt::Lock g_held_lock;

}  // namespace

struct SoftwareRunLock::Held {
  Held(LockScope lock_scope, const rt::Text& name) : scope(lock_scope), software_name(name) {
    std::lock_guard<rt::Lock> guard(g_held_lock);
    Held* same = first;
    while (same && !(same->scope == scope && same->software_name == software_name)) same = same->next;
    claimed = same == nullptr;
    if (claimed) {
      next = first;
      first = this;
    }
  }
  Held(const Held&) = delete;
  Held& operator=(const Held&) = delete;
  ~Held() {
    if (mutex) {
      // A new salt before letting go: the name this run used may have been
      // seen, and must not outlive the run.
      write_new_salt(key.get());
      ReleaseMutex(mutex.get());
    }
    if (!claimed) return;
    std::lock_guard<rt::Lock> guard(g_held_lock);
    Held** link = &first;
    while (*link != this) link = &(*link)->next;
    *link = next;
  }

  static Held* first;
  const LockScope scope;
  const rt::Text software_name;
  bool claimed = false;
  Held* next = nullptr;
  rt::win::RegistryKey key;
  rt::win::Kernel mutex;
};

SoftwareRunLock::Held* SoftwareRunLock::Held::first = nullptr;

SoftwareRunLock::SoftwareRunLock() = default;
SoftwareRunLock::~SoftwareRunLock() = default;

bool SoftwareRunLock::acquire(const rt::Text& software_name, LockScope scope) {
  if (held_) return true;
  auto held = std::make_unique<Held>(scope, software_name);
  if (!held->claimed) return false;
  Group group(scope);
  if (!group.valid()) return false;
  bool made_key = false;
  held->key = open_salt_key(group, software_name, made_key);
  if (!held->key) return false;
  for (int attempt = 0; attempt < kAttempts; ++attempt, made_key = false) {
    rt::Bytes salt = current_salt(held->key.get(), made_key);
    if (salt.empty()) return false;
    rt::win::Kernel mutex = take_slot(group, salt, software_name);
    if (!mutex) return false;
    rt::Bytes now;
    if (read_salt(held->key.get(), now) == Salt::kGood && now == salt) {
      held->mutex = std::move(mutex);
      held_ = std::move(held);
      return true;
    }
    ReleaseMutex(mutex.get());
  }
  return false;
}

}  // namespace installer
