// Paths the tests share: the source and build trees, scratch folders, and the
// mapping of Unix paths to what a program under Wine sees (drive Z:).
#pragma once

#include <string>

namespace testsupport {

std::string source_dir();
std::string binary_dir();
// A fresh, empty scratch folder under the build tree, unique per call.
// Returned as a native path (a Windows path under Wine).
std::string scratch_dir(const std::string& name);
// "/a/b" -> "Z:\a\b" under Windows; unchanged natively.
std::string native_path(const std::string& unix_path);
// Reads/writes a whole file (native path); throws nothing, "" when missing.
std::string read_file(const std::string& path);
bool write_file(const std::string& path, const std::string& bytes);

}  // namespace testsupport
