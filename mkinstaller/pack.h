// Makes a package: a ZIP archive that holds every file of a folder as
// "{app}/" + its path below the folder, names in UTF-8.
#pragma once

#include <optional>
#include <string>

namespace mkinstaller {

struct PackResult {
  int files = 0;
  int folders = 0;
  bool added_uninstaller = false;
};

// Writes the archive to zip_path. `uninstaller` is added as
// "{app}/uninst.exe" when the folder has no uninst.exe of its own. On
// failure, *problem_file names the file at fault and *why says what.
bool pack_folder(const std::string& dir, const std::string& zip_path, const std::optional<std::string>& uninstaller,
                 PackResult* result, std::string* problem_file, std::string* why);

}  // namespace mkinstaller
