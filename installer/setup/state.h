// setup.exe's process-wide record: the configuration as read at start-up,
// the running worker and how the last run ended.
#pragma once

#include "installer/format/record.h"

namespace installer {

struct InstallerState {
  // Read by load_configuration on the window thread before any worker
  // starts; each run takes its own copy in its plan.
  format::Record record;
  // Set when an installation completed (files, shortcuts, entry).
  bool completed = false;
  // Another installation of the same software runs: this one only closes.
  bool refused = false;
  // The record could not be read: nothing installs, and closing says why.
  bool damaged = false;
  // The running worker's handle; closed by the worker itself.
  void* worker_thread = nullptr;
};

InstallerState& installer_state();
// Frees every field (the exit routine, and tests between cases).
void reset_installer_state();

}  // namespace installer
