// The installation folder: made level by level, each level made noted in
// this_run(), and refused when it or any folder on its path below the drive
// is a reparse point (a junction or symbolic link would send every file of
// the package somewhere else). When it is ready the run's journal has begun
// in it: the folder and every level on its way are held until the run ends.
#pragma once

#include <optional>

#include "runtime/value/value.h"

namespace installer {

enum class FolderCheck {
  kReady,        // exists (now) as a real folder
  kLink,         // it or a folder above it is a reparse point
  kUnusable,     // a file is in the way, the drive does not exist, or it cannot be made
  kOpenToUsers,  // for every user: others may change it (or rename a folder above it)
};

// `for_every_user` ("scope" "machine"): the first level it makes outside
// Program Files gets an explicit, protected access list (administrators and
// SYSTEM change it, users read and run it); an existing installation folder
// others may change gets that list when it is empty, and is refused when it
// is not, as is a folder above it others may rename or empty.
// `made_above`: the outermost folder it made above the installation folder
// (the installation records it, to remove it and those below it when empty),
// empty when it made none there.
FolderCheck prepare_install_folder(const rt::Text& directory, bool for_every_user = false,
                                   rt::Text* made_above = nullptr);
// The folder Windows would use for a typed installation folder, as a plain
// drive path without trailing separator; nothing for anything else.
std::optional<rt::Text> full_install_folder(const rt::Text& directory);

// "无法使用安装目录“<directory>”，请选择其他文件夹后点击重新安装。"
rt::Text folder_message(const rt::Text& directory);
// "无法写入文件“<path>”，请关闭正在使用它的程序，或取消它的只读属性后点击重新安装。"
rt::Text file_message(const rt::Text& path);

}  // namespace installer
