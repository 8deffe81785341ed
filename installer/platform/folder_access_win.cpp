#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "installer/platform/folder_access.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {

std::string sid_text(PSID sid) {
  LPSTR text = nullptr;
  if (!sid || !ConvertSidToStringSidA(sid, &text)) return {};
  std::string out(text);
  LocalFree(text);
  return out;
}

}  // namespace

bool read_security(void* handle, FolderSecurity* out) {
  PSID owner = nullptr;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(static_cast<HANDLE>(handle), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
                      &owner, nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS)
    return false;
  *out = FolderSecurity();
  out->owner = sid_text(owner);
  out->has_access_list = list != nullptr;
  for (DWORD i = 0; list && i < list->AceCount; ++i) {
    void* entry = nullptr;
    if (!GetAce(list, i, &entry)) continue;
    auto* header = static_cast<ACE_HEADER*>(entry);
    // Denying entries only take away: leaving them out can only make the
    // judgement stricter.
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(entry);
    out->grants.push_back({sid_text(&allowed->SidStart), allowed->Mask, (header->AceFlags & INHERIT_ONLY_ACE) != 0});
  }
  LocalFree(descriptor);
  return !out->owner.empty();
}

std::vector<std::string> trusted_owners() {
  std::vector<std::string> trusted = {"S-1-5-32-544", "S-1-5-18",
                                      "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464"};
  HANDLE raw = nullptr;
  if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &raw)) {
    rt::win::Kernel token(raw);
    unsigned char buffer[256];
    DWORD size = 0;
    if (GetTokenInformation(token.get(), TokenUser, buffer, sizeof buffer, &size))
      trusted.push_back(sid_text(reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid));
  }
  return trusted;
}

}  // namespace installer
