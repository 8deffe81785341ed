// The installer's own registry operations. Keys are addressed by a root code
// and a path; every operation opens and closes what it needs.
#pragma once

#include "runtime/value/value.h"

namespace installer {

// Root codes of these operations (the runtime's registry reads number them
// differently).
enum RegistryRoot : int {
  kClassesRoot = 1,
  kCurrentUser = 2,
  kLocalMachine = 3,
  kUsers = 4,
  kCurrentConfig = 5,
};

struct RegistryValue {
  rt::Bytes data;  // empty when nothing was read
  int type = -1;   // registry type, -1 when the key or the value could not be read
};

bool registry_key_exists(int root, const rt::Text& path);
RegistryValue registry_read_value(int root, const rt::Text& path, const rt::Text& name);
int registry_read_int(int root, const rt::Text& path, const rt::Text& name);
// A text value (REG_SZ or REG_EXPAND_SZ, as stored) up to its first NUL;
// empty for anything else.
rt::Text registry_read_text(int root, const rt::Text& path, const rt::Text& name);
// True only when the key did not exist and was made.
bool registry_create_key(int root, const rt::Text& path);
bool registry_write_value(int root, const rt::Text& path, const rt::Text& name, int type, const rt::Bytes& data);
// Empties `out`, then fills it with the subkey names; returns their count.
int registry_list_subkeys(int root, const rt::Text& path, rt::Array<rt::Text>& out);
// Deletes the key and everything below it; refuses empty and backslash-only paths.
bool registry_delete_tree(int root, const rt::Text& path);

}  // namespace installer
