// Paths as the installer's programs compare and confine them: code page 936
// texts, "\" and "/" alike, ASCII letters without case.
#pragma once

#include "runtime/value/value.h"

namespace installer {

// "C:\..." or "\\server\...".
bool is_absolute_path(std::string_view path);
// Whether a component of the path is "..".
bool path_climbs(std::string_view path);
// The number of separators of a normalized path (its depth).
std::size_t path_depth(const rt::Text& path);

// "/" becomes "\", runs of "\" become one (a UNC path keeps its leading
// pair), a trailing "\" is dropped except after a drive ("C:\").
rt::Text normalize_path(const rt::Text& path);
// Same path by the list's one comparison key (format::listed_path_key).
bool same_path(const rt::Text& a, const rt::Text& b);
// True when `path` lies below `folder` (not the folder itself).
bool path_is_inside(const rt::Text& path, const rt::Text& folder);
// The folder of a path, without trailing backslash; empty for a root.
rt::Text parent_folder(const rt::Text& path);
// The program path of an "UninstallString": quotes around it are removed,
// and after a closing quote anything (arguments) is dropped.
rt::Text command_program(const rt::Text& uninstall_string);

}  // namespace installer
