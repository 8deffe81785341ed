#include "installer/platform/launch.h"
#include "installer/steps/path_macros.h"
#include "runtime/services/registry_services.h"
#include "runtime/services/system_services.h"

namespace installer {

rt::Text named_folder(int index) {
  static const FolderSources kSystem{
      [](const rt::Text& name) { return rt::read_env(name); },
      [](int root, const rt::Text& path) { return rt::read_registry_text(root, path); },
      [] { return rt::run_directory(); }};
  return named_folder(index, kSystem);
}

rt::Text expand_path_macros(const rt::Text& entry_name, const rt::Text& install_dir) {
  return expand_path_macros(entry_name, install_dir, temp_directory());
}

}  // namespace installer
