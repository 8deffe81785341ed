// The installer's process-wide record: configuration values, derived paths,
// progress values, installed-file list, worker handle.
#pragma once

#include "runtime/value/value.h"

namespace installer {

struct InstallerState {
  // From the configuration record, written on the window thread before any
  // worker starts and only read afterwards.
  rt::Text software_name;
  rt::Text software_version;
  rt::Text package_url;
  rt::Text required_framework;
  rt::Text main_file;
  rt::Text install_type;
  rt::Text company_name;
  rt::Text company_url;
  rt::Text agreement_url;
  // Optional SHA-256 of the package in hexadecimal; empty: not checked.
  rt::Text package_sha256;
  // The person's choices, taken once when the installation starts, on the
  // window thread, so that the worker never reads a window that may be gone.
  rt::Text install_directory;
  bool desktop_shortcut = false;
  // The list an earlier installation in that folder recorded (its uninst.exe),
  // merged into this run's so that uninstalling removes both.
  rt::Text earlier_files;
  // Set by the worker when the installation completed (files, shortcuts, entry).
  bool completed = false;
  // Derived paths.
  rt::Text package_path;
  rt::Text uninstaller_path;
  // Every unpacked target path followed by CR LF; only appended to.
  rt::Text installed_files;
  // The running worker's handle; closed by the worker itself.
  void* worker_thread = nullptr;
  // The progress values of the current download live in download_progress()
  // (installer/progress.h).
};

InstallerState& installer_state();
// Frees every field (the exit routine, and tests between cases).
void reset_installer_state();

}  // namespace installer
