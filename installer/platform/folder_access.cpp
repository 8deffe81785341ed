#include "installer/platform/folder_access.h"

#include <algorithm>

namespace installer {

namespace {

// Writing, adding files or folders, extended attributes, deleting children,
// attributes, deleting, the access list, the owner, and the generic rights
// holding them.
constexpr std::uint32_t kChanges = 0x2 | 0x4 | 0x10 | 0x40 | 0x100 | 0x10000 | 0x40000 | 0x80000 | 0x10000000 |
                                   0x40000000;

// Deleting (renaming), deleting children, the access list, the owner, all.
constexpr std::uint32_t kRenames = 0x10000 | 0x40 | 0x40000 | 0x80000 | 0x10000000;

// CREATOR OWNER and CREATOR GROUP stand for whoever makes an item below: they
// give nothing to anyone who cannot make one.
bool placeholder(const std::string& sid) { return sid == "S-1-3-0" || sid == "S-1-3-1"; }

bool trusted_sid(const std::string& sid, const std::vector<std::string>& trusted) {
  return std::find(trusted.begin(), trusted.end(), sid) != trusted.end();
}

}  // namespace

std::vector<std::string> untrusted_writers(const FolderSecurity& folder, const std::vector<std::string>& trusted,
                                           bool above) {
  const std::uint32_t counted = above ? kRenames : kChanges;
  std::vector<std::string> others;
  auto add = [&](const std::string& sid) {
    if (std::find(others.begin(), others.end(), sid) == others.end()) others.push_back(sid);
  };
  if (!trusted_sid(folder.owner, trusted)) add(folder.owner);
  if (!folder.has_access_list) add("S-1-1-0");  // everyone
  for (const AccessGrant& g : folder.grants)
    if ((g.mask & counted) && !placeholder(g.sid) && !trusted_sid(g.sid, trusted)) add(g.sid);
  return others;
}

bool kept_for(const FolderSecurity& folder, const std::vector<std::string>& trusted) {
  if (!folder.has_access_list || !trusted_sid(folder.owner, trusted)) return false;
  for (const AccessGrant& g : folder.grants)
    if (g.mask && !placeholder(g.sid) && !trusted_sid(g.sid, trusted)) return false;
  return true;
}

}  // namespace installer
