// The identity Windows shows for an installer: its version resource (the
// file's properties, the elevation prompt) and its icon.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "mkinstaller/checks.h"
#include "mkinstaller/image.h"
#include "mkinstaller/pe_resources.h"

namespace mkinstaller {

struct VersionInfo {
  VersionNumber file_version, product_version;
  // Name -> value (UTF-8): ProductName, FileDescription, CompanyName, ...
  std::map<std::string, std::string> strings;
};

// The fields as a configuration fills them in.
VersionInfo version_info_for(const Config& config, const std::string& copyright, const std::string& file_name);
// An RT_VERSION resource (VS_VERSIONINFO, Chinese (PRC), UTF-16 strings).
std::string version_resource(const VersionInfo& info);
// Reads one back; false when it is not a version resource.
bool read_version_resource(const std::string& data, VersionInfo* info);

// Replaces every version resource of the program with this one.
void set_version(rt::PeResources& pe, const VersionInfo& info);
// Replaces the program's icons with one icon of these images.
void set_icon(rt::PeResources& pe, const std::vector<IconImage>& images);
// The images of the program's first icon (sizes only, for `inspect`).
std::vector<IconImage> program_icon(const rt::PeResources& pe);

// The requestedExecutionLevel of the program's manifest (RT_MANIFEST 1):
// "asInvoker", "requireAdministrator", ...; "" when it names none.
std::string execution_level(const rt::PeResources& pe);
// Sets that level, the rest of the manifest kept byte for byte; false when
// the program has no manifest naming a level.
bool set_execution_level(rt::PeResources& pe, const std::string& level);

}  // namespace mkinstaller
