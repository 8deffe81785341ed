#include "installer/steps/dotnet.h"
#include "installer/steps/download.h"
#include "installer/platform/launch.h"
#include "installer/steps/progress.h"
#include "installer/platform/registry.h"

namespace installer {

namespace {
const char kV4FullKey[] = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
const char kV35Key[] = "Software\\Microsoft\\NET Framework Setup\\NDP\\v3.5";
}  // namespace

float detect_dotnet_version() {
  // A 32-bit process reads the 32-bit view, where the framework's setup keys
  // are mirrored on 64-bit Windows.
  std::int32_t release = registry_read_int(kLocalMachine, kV4FullKey, "Release");
  bool v4 = registry_key_exists(kLocalMachine, kV4FullKey);
  bool v35 = !v4 && registry_key_exists(kLocalMachine, kV35Key);
  return dotnet_version_for(v4, release, v35);
}

PrerequisiteOutcome ensure_dotnet(const rt::Text& framework, InstallView& view, const rt::Text& url) {
  if (detect_dotnet_version() >= required_framework_version(framework)) return PrerequisiteOutcome::kContinue;

  view.set_progress_timer(1000);
  view.set_progress_bar(0);
  rt::Text local = rt::text_concat({temp_directory().view(), file_name_of(url, true).view()});
  // Judged by this download's own figures, not by an earlier one's.
  reset_download_progress();
  std::int32_t result = download_file(url, local, on_download_progress, 0, false);
  if (result == -1 || download_progress().received.load() < kMinimumDownload) {
    // The timer keeps showing the last figures behind the failure page.
    view.show_network_message();
    view.show_page(kFailurePage);
    return PrerequisiteOutcome::kStopAfterMessage;
  }
  view.set_progress_timer(0);
  // Not waited for: the framework installs alongside the application.
  if (!launch_file(local, "", 0)) return PrerequisiteOutcome::kStopSilently;
  return PrerequisiteOutcome::kContinue;
}

}  // namespace installer
