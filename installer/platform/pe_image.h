// Reads resources of a PE file where it lies, a few bytes at a time, never
// loading or mapping the program: the uninstaller's list of installed files
// in its own program, and the version information of a downloaded program
// before it is started. The file may be hostile: every offset, size and count
// on the way is checked before it is used, and no byte past the end of the
// file is ever asked for.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "runtime/zip/zip_input.h"

namespace installer {

// A resource type or name: a number, or a text compared as Windows compares
// them (ASCII letters without case). An empty text stands for the number.
struct PeResourceId {
  std::u16string text;
  unsigned number = 0;
  static PeResourceId of(unsigned n);
  static PeResourceId of(std::u16string_view t);
};

// The bytes of the first language of resource (type, name) in the PE file
// `file` (32- or 64-bit); nullopt when the file is no PE image, has no such
// resource, or any offset, size or count in its way is out of bounds. At most
// `limit` bytes are returned (a larger resource is nullopt).
std::optional<std::string> read_pe_resource(rt::ZipInput& file, const PeResourceId& type, const PeResourceId& name,
                                            std::size_t limit);

// The strings of the file's version information (resource type 16, name 1,
// as Windows reads it), first string table; nullopt when it has none or it is
// damaged. A string the table lacks is empty.
struct VersionStrings {
  std::u16string company, product, description, original_filename, product_version, file_version;
};
std::optional<VersionStrings> read_version_strings(rt::ZipInput& file);

}  // namespace installer
