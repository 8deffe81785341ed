#include <windows.h>
#include <shellapi.h>

#include <optional>

#include "installer/platform/authenticode.h"
#include "installer/platform/launch.h"
#include "installer/platform/protected_folder.h"
#include "installer/platform/registry.h"
#include "installer/platform/run_log.h"
#include "installer/steps/dotnet.h"
#include "installer/steps/download.h"
#include "installer/steps/install_folder.h"
#include "installer/steps/progress.h"
#include "installer/steps/package_digest.h"
#include "installer/steps/run_file.h"
#include "runtime/value/codepage.h"
#include "runtime/win/confined.h"
#include "runtime/win/handles.h"

namespace installer {

namespace {
const char kV4FullKey[] = "SOFTWARE\\Microsoft\\NET Framework Setup\\NDP\\v4\\Full";
const char kV35Key[] = "Software\\Microsoft\\NET Framework Setup\\NDP\\v3.5";

PrerequisiteOutcome fail(InstallView& view, const rt::Text& message, unsigned long windows_error = 0) {
  log_failure(message.empty() ? std::string_view(kNetworkMessage) : message.view(), windows_error);
  if (message.empty()) view.show_network_message();
  else view.show_failure_message(message);
  view.show_page(kFailurePage);
  return PrerequisiteOutcome::kStopAfterMessage;
}

// The address's file name, without its query; a name Windows cannot take
// becomes a plain one.
rt::Text local_name_of(const rt::Text& url) {
  std::string name = file_name_of(url, true).str();
  name = name.substr(0, name.find_first_of("?#"));
  if (name.empty() || name.find_first_of("\\/:*\"<>|") != std::string::npos) name = "dotnet-setup.exe";
  return rt::Text(name);
}

// Whether the file is the genuine installer, through the reading handle that
// keeps writers out: Microsoft's signature under a pinned root and the
// file's own version information naming the framework's installer (the
// signature survives Microsoft re-signing its files), else a pinned digest.
bool proven(const RunFile& file, const format::DotnetPins& pins) {
  const std::u16string path = rt::wide_from_cp936(file.path_text().view());
  if (signature_proves(pins, verify_file_signature(file.handle(), path))) {
    auto reader = file.reader();
    std::optional<VersionStrings> version = reader ? read_version_strings(*reader) : std::nullopt;
    if (version && names_dotnet_installer(*version)) return true;
  }
  if (pins.digests.empty()) return false;
  auto reader = file.reader();
  return reader && digest_proves(pins, sha256_hex_of(*reader));
}
// "4.72", "4.8", "0" for the log.
std::string version_text(float version) {
  const int hundredths = int(version * 100 + 0.5f);
  std::string text = std::to_string(hundredths / 100);
  if (hundredths % 100 == 0) return text;
  text += '.';
  text += char('0' + hundredths % 100 / 10);
  if (hundredths % 10) text += char('0' + hundredths % 10);
  return text;
}
}  // namespace

WindowsRelease running_windows() {
  // RtlGetVersion gives the numbers as they are, whatever the manifest
  // declares; ntdll is in every process.
  RTL_OSVERSIONINFOEXW info = {};
  info.dwOSVersionInfoSize = sizeof info;
  using Get = LONG(WINAPI*)(RTL_OSVERSIONINFOEXW*);
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  auto get = ntdll ? reinterpret_cast<Get>(reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion"))) : nullptr;
  if (!get || get(&info) != 0) return WindowsRelease();
  return {info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber, info.wServicePackMajor};
}

float detect_dotnet_version() {
  // A 32-bit process reads the 32-bit view, where the framework's setup keys
  // are mirrored on 64-bit Windows.
  std::int32_t release = registry_read_int(kLocalMachine, kV4FullKey, "Release");
  bool v4 = registry_key_exists(kLocalMachine, kV4FullKey);
  bool v35 = !v4 && registry_key_exists(kLocalMachine, kV35Key);
  return dotnet_version_for(v4, release, v35);
}

PrerequisiteOutcome ensure_dotnet(const rt::Text& framework, InstallView& view, const format::DotnetPins& pins,
                                  const WindowsRelease& windows, const DownloadPatience& patience, bool unattended) {
  float required = required_framework_version(framework);
  const float present = detect_dotnet_version();
  log_line({".NET Framework: required ", framework.empty() ? "none" : framework.view(), ", present ",
            version_text(present)});
  if (present >= required) return PrerequisiteOutcome::kContinue;
  // Said before 120 MB are fetched for nothing.
  if (!windows_runs_dotnet(required, windows)) return fail(view, dotnet_windows_message(required));
  // The framework's installer demands administrator rights; nobody is there
  // to grant them to an unattended run.
  if (unattended && !running_elevated()) {
    fail(view, dotnet_administrator_message(required));
    return PrerequisiteOutcome::kStopNeedsAdministrator;
  }
  rt::Text url = dotnet_url_for(required, pins);

  view.set_progress_timer(1000);
  view.set_progress_bar(0);
  RunFile file;
  // Judged by this download's own figures, not by an earlier one's.
  reset_download_progress();
  if (!file.create(local_name_of(url))) return fail(view, folder_message(temp_directory()));
  // The same time-outs, cancel and resume as the package's download.
  PartialDownload partial;
  std::int32_t result =
      url.empty() ? kDownloadFailed : download_resuming({url}, file.handle(), on_download_progress, partial, patience);
  if (result == kDownloadCancelled) return PrerequisiteOutcome::kStopSilently;
  // The timer keeps showing the last figures behind the failure page.
  if (result != kDownloadOk || partial.received < std::uint64_t(kMinimumDownload)) {
    log_line({".NET Framework download from ", url.view(), " failed, bytes ", log_number(partial.received)});
    return fail(view, rt::Text());
  }
  log_line({".NET Framework downloaded from ", url.view(), ", bytes ", log_number(partial.received)});
  view.set_progress_timer(0);

  // Only a reading handle may be open when the system loads the program; it
  // refuses writers and deletion until the installer has ended, so what is
  // proven through it is what runs.
  if (!file.keep_for_reading()) return fail(view, kDotnetStartMessage);
  if (!proven(file, pins)) {
    file.remove();
    return fail(view, kDotnetUnverifiedMessage);
  }
  log_line({".NET Framework installer proven genuine"});

  // The shell, not CreateProcess: it asks for elevation where setup.exe
  // itself is not elevated, and the framework's installer demands it. Its
  // own folder (the run's, held) is its working folder.
  rt::win::ProgramStart how;
  how.through_shell = true;
  if (unattended) how.arguments = u"/q /norestart";
  rt::win::Kernel process = rt::win::start_held_program(file.folder(), file.name(), file.handle(), how);
  if (!process) return fail(view, kDotnetStartMessage, GetLastError());
  WaitForSingleObject(process.get(), INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.get(), &code)) code = DWORD(-1);
  file.remove();
  log_line({".NET Framework installer ended with code ", log_number(code)});
  switch (dotnet_end_of(code)) {
    case DotnetEnd::kRestartNeeded:
      // The framework is in place but loads only after the restart, and its
      // Release may not show before it: nothing more to look at.
      return PrerequisiteOutcome::kContinueRestartNeeded;
    case DotnetEnd::kInstalled:
      // An installer that ended well yet left an older framework has not installed it.
      if (detect_dotnet_version() < required) return fail(view, kDotnetMissingMessage);
      return PrerequisiteOutcome::kContinue;
    case DotnetEnd::kFailed:
      break;
  }
  return fail(view, dotnet_exit_message(code));
}

}  // namespace installer
