// Makes a package: a ZIP archive that holds every file of a folder as
// "{app}/" + its path below the folder, names in UTF-8.
#pragma once

#include <functional>
#include <string>

namespace mkinstaller {

struct PackResult {
  int files = 0;
  int folders = 0;
  bool added_uninstaller = false;
};

struct PackOptions {
  // Called only when the folder has no uninst.exe of its own: the program to
  // add as "{app}/uninst.exe", or "" with the reason (then nothing is
  // written). Empty: the package is meant to have no uninstaller.
  std::function<std::string(std::string* why)> uninstaller;
};

// Writes the archive to zip_path. Every file is opened once, through the
// folders above it opened without following links, and checked to be what
// the listing saw, inside the folder: a file swapped for a link meanwhile is
// never packed from outside. Entry times are SOURCE_DATE_EPOCH's when it is
// set, else the files'. On failure, *problem_file names the file at fault
// and *why says what.
bool pack_folder(const std::string& dir, const std::string& zip_path, const PackOptions& options, PackResult* result,
                 std::string* problem_file, std::string* why);

}  // namespace mkinstaller
