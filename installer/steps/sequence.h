// The install sequence: the worker's steps in their order, driven by a plan
// made once on the window thread, reporting to the window only through its
// view. The controller starts it on the worker thread and acts on its end.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "installer/format/record.h"
#include "installer/steps/download.h"
#include "installer/steps/dotnet.h"
#include "installer/steps/host.h"
#include "runtime/value/value.h"
#include "runtime/zip/zip_input.h"

namespace installer {

// What one run installs: the record and the person's choices, taken once
// when the installation starts, so that the worker never reads a window.
struct InstallPlan {
  format::Record record;
  rt::Text install_directory;  // as the install-path box showed it, unchanged
  bool desktop_shortcut = false;
  rt::Text uninstaller_path;   // install_directory + "\uninst.exe"
};
// Whether a record can be installed at all: a known install type and scope,
// and for "net" the package's digest (a download nobody can check is never
// unpacked). Any other record is a damaged installer.
bool record_installable(const format::Record& record);

InstallPlan make_install_plan(const format::Record& record, const rt::Text& install_directory, bool desktop_shortcut);

// A download into the run's file: its result code (kDownloadOk, ...), the
// bytes written and their SHA-256 (lower-case hexadecimal, taken as they
// were written; empty when the download did not complete).
struct DownloadOutcome {
  std::int32_t result = -1;
  std::uint64_t received = 0;
  std::string sha256;
};

// The steps of the sequence, replaceable by tests.
struct InstallSteps {
  std::function<PrerequisiteOutcome(const rt::Text& framework, InstallView& view)> ensure_dotnet;
  // Downloads from the first of `urls` that gives it into the run's open
  // file (a HANDLE), continuing `partial` (kept current for a later run).
  std::function<DownloadOutcome(const std::vector<rt::Text>& urls, void* file, PartialDownload& partial)>
      download_package;
  // The "disk" package where it lies in the installer; null when absent.
  // `digest_checked`: the caller reads it whole to check its digest first.
  std::function<std::unique_ptr<rt::ZipInput>(bool digest_checked)> package_resource;
  // The package step; appends what it installed to `installed_files`.
  // `earlier_files`: the list an earlier installation in that folder
  // recorded, merged into this run's so that uninstalling removes both.
  std::function<PackageOutcome(std::unique_ptr<rt::ZipInput> package, const InstallPlan& plan,
                               const rt::Text& earlier_files, PackageStepHost& host, rt::Text& installed_files)>
      unpack_package;
  std::function<void(const InstallPlan& plan)> make_shortcuts;
  std::function<void(const InstallPlan& plan, const rt::Text& installed_files)> register_uninstall;
  // The finish button's start of the main file (the controller's, not the sequence's).
  std::function<bool(const rt::Text& path, const rt::Text& parameters, int show_mode)> launch_file;
};
// `unattended`: nobody answers anything (setup.exe /S): the .NET Framework's
// installer runs quietly.
InstallSteps default_install_steps(bool unattended = false);

// How a run ended.
enum class SequenceEnd {
  kCompleted,               // files, shortcuts and entry in place
  kCompletedRestartNeeded,  // the same; Windows must restart before the program runs (.NET Framework)
  kFailed,                  // its message and the failure page were shown; the run was taken back
  kFolderFailed,            // the same, for a folder that cannot be used: another must be chosen
  kFileInUse,               // the same, for a file a program holds or that cannot be replaced
  kNeedsAdministrator,      // the same: the .NET Framework needs rights an unattended run cannot ask for
  kDamaged,                 // the installer's own configuration cannot be installed: nothing was done
  kCancelled,               // stopped at the window's request and taken back; nothing shown
};
inline bool installed(SequenceEnd end) {
  return end == SequenceEnd::kCompleted || end == SequenceEnd::kCompletedRestartNeeded;
}

// Runs the sequence on the calling (worker) thread; returns on any road.
SequenceEnd run_install_sequence(const InstallPlan& plan, const InstallSteps& steps, InstallView& view);

}  // namespace installer
