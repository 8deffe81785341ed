// What an installer does for the .NET Framework prerequisite, read from the
// pins its program carries (installer/format/dotnet_pins.h): which offline
// installer it downloads for the configuration's "framework" and what must
// prove that download before it is started. `build` checks it, `build` and
// `inspect` say it.
#pragma once

#include <string>
#include <string_view>

namespace mkinstaller {

struct DotnetPlan {
  std::string line;     // what happens, for the output; empty when "framework" is empty
  std::string problem;  // why the installer could never start the framework's installer; empty when it can
  std::string note;     // a warning: the program carries no pins (not our setup.exe), so nothing is known
};

// `program` is the stub (build) or the installer (inspect); `detailed` names
// the pinned roots and digests themselves (inspect).
DotnetPlan dotnet_plan(std::string_view program, const std::string& framework, bool detailed);

}  // namespace mkinstaller
