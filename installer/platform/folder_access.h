// Who may change a folder: read from its owner and access list (through a
// held handle), judged against those trusted to change what an elevated
// program uses (administrators, SYSTEM, the system's installer service and
// this program's own user). The decision is portable and tested natively.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace installer {

// One allowing entry of an access list: whom it names (a SID as text), what
// it allows, and whether it applies only to what is made below.
struct AccessGrant {
  std::string sid;
  std::uint32_t mask = 0;
  bool inherit_only = false;
};
struct FolderSecurity {
  std::string owner;  // a SID as text
  bool has_access_list = true;  // no list at all lets everyone do everything
  std::vector<AccessGrant> grants;
};

// Everyone besides the trusted who may change what the folder holds (write,
// add, delete, change its attributes, access list or owner), for it or for
// what is made below it; for a folder above (`above`), who may rename or
// delete it or what it holds, or change its access list or owner (adding a
// folder beside ours takes nothing from us). An untrusted owner may always
// rewrite the access list, so counts too. Empty: only the trusted may.
std::vector<std::string> untrusted_writers(const FolderSecurity& folder, const std::vector<std::string>& trusted,
                                           bool above = false);
// Whether the list names nobody but the trusted, for anything at all, and
// the owner is trusted: a folder kept for the trusted alone (the protected
// working folders of a run).
bool kept_for(const FolderSecurity& folder, const std::vector<std::string>& trusted);

// ---- Windows ----
// The owner and access list of what `handle` (READ_CONTROL) is open on.
bool read_security(void* handle, FolderSecurity* out);
// Administrators, SYSTEM, TrustedInstaller and the user of this program's
// token.
std::vector<std::string> trusted_owners();

}  // namespace installer
