// Files of the builder, named by UTF-8 paths on every system, and messages.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace mkinstaller {

std::filesystem::path upath(const std::string& utf8);
std::string ustr(const std::filesystem::path& p);

// The whole file, or nothing with the system's reason in *why.
std::optional<std::string> read_file(const std::string& path, std::string* why);
// Writes through a temporary file next to the target and renames it, so a
// failed run never leaves a half-written file behind.
bool write_file_atomically(const std::string& path, const std::string& bytes, std::string* why);

// A file shipped with the tool: next to the tool's own program, or only in
// the folder MKINSTALLER_HOME names when that is set.
std::optional<std::string> find_companion(const std::string& file_name);

// "mkinstaller: error: FILE: MESSAGE" on stderr; returns exit status 1.
int fail(const std::string& file, const std::string& message);
int usage_error(const std::string& command, const std::string& message);
void warn(const std::string& file, const std::string& message);
void out(const std::string& text);  // UTF-8 to stdout

}  // namespace mkinstaller
