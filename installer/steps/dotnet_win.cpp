#include <windows.h>
#include <shellapi.h>

#include "installer/format/sha256.h"
#include "installer/platform/launch.h"
#include "installer/platform/registry.h"
#include "installer/steps/dotnet.h"
#include "installer/steps/download.h"
#include "installer/steps/install_folder.h"
#include "installer/steps/progress.h"
#include "installer/steps/package_digest.h"
#include "installer/steps/run_file.h"
#include "runtime/value/codepage.h"

namespace installer {

namespace {
const char kV4FullKey[] = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
const char kV35Key[] = "Software\\Microsoft\\NET Framework Setup\\NDP\\v3.5";

PrerequisiteOutcome fail(InstallView& view, const rt::Text& message) {
  if (message.empty()) view.show_network_message();
  else view.show_failure_message(message);
  view.show_page(kFailurePage);
  return PrerequisiteOutcome::kStopAfterMessage;
}
}  // namespace

float detect_dotnet_version() {
  // A 32-bit process reads the 32-bit view, where the framework's setup keys
  // are mirrored on 64-bit Windows.
  std::int32_t release = registry_read_int(kLocalMachine, kV4FullKey, "Release");
  bool v4 = registry_key_exists(kLocalMachine, kV4FullKey);
  bool v35 = !v4 && registry_key_exists(kLocalMachine, kV35Key);
  return dotnet_version_for(v4, release, v35);
}

PrerequisiteOutcome ensure_dotnet(const rt::Text& framework, InstallView& view, const rt::Text& url,
                                  const rt::Text& sha256) {
  float required = required_framework_version(framework);
  if (detect_dotnet_version() >= required) return PrerequisiteOutcome::kContinue;

  view.set_progress_timer(1000);
  view.set_progress_bar(0);
  RunFile file;
  // Judged by this download's own figures, not by an earlier one's.
  reset_download_progress();
  // The address's file name, without its query; a name Windows cannot take becomes a plain one.
  std::string name = file_name_of(url, true).str();
  name = name.substr(0, name.find_first_of("?#"));
  if (name.empty() || name.find_first_of("\\/:*\"<>|") != std::string::npos) name = "dotnet-setup.exe";
  if (!file.create(rt::Text(name))) return fail(view, folder_message(temp_directory()));
  std::uint64_t received = 0;
  std::int32_t result = download_to(url, file.handle(), on_download_progress, &received);
  if (result == kDownloadCancelled) return PrerequisiteOutcome::kStopSilently;
  // The timer keeps showing the last figures behind the failure page.
  if (result != kDownloadOk || received < std::uint64_t(kMinimumDownload)) return fail(view, rt::Text());
  view.set_progress_timer(0);

  // Only a reading handle may be open when the system loads the program;
  // what it reads is checked through that handle, and it refuses writers
  // until the installer has ended.
  if (!file.keep_for_reading()) return fail(view, kDotnetStartMessage);
  auto reader = file.reader();
  if (!reader || !sha256_matches(sha256.view(), sha256_hex_of(*reader))) return fail(view, kDamagedPackageMessage);
  reader.reset();

  std::wstring program = rt::wide_path(file.path_text().view());
  std::wstring folder = program.substr(0, program.rfind(L'\\'));
  SHELLEXECUTEINFOW run = {};
  run.cbSize = sizeof run;
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  run.lpVerb = L"open";
  run.lpFile = program.c_str();
  run.lpDirectory = folder.c_str();
  run.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&run) || !run.hProcess) return fail(view, kDotnetStartMessage);
  WaitForSingleObject(run.hProcess, INFINITE);
  CloseHandle(run.hProcess);
  file.remove();
  if (detect_dotnet_version() < required) return fail(view, kDotnetMissingMessage);
  return PrerequisiteOutcome::kContinue;
}

}  // namespace installer
