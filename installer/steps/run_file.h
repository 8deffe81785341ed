// The run's own working file: a folder made for this run where only this
// program's user (for an elevated run, administrators) may write, of a new
// name (one that exists is never taken), held while it is used, and one file
// in it, opened once, shared for reading only, so that nobody else can
// change or replace it while it is checked and used. Both go when the
// object does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "installer/steps/host.h"
#include "runtime/value/value.h"
#include "runtime/win/confined.h"
#include "runtime/win/handles.h"
#include "runtime/zip/zip_input.h"

namespace installer {

class RunFile {
 public:
  RunFile() = default;
  ~RunFile() { remove(); }
  RunFile(const RunFile&) = delete;
  RunFile& operator=(const RunFile&) = delete;

  // Makes the folder (with this program's working access list) in the
  // working folders' place and creates `file_name` in it for reading and
  // writing. False when either cannot be made.
  bool create(const rt::Text& file_name);
  // The open file.
  HANDLE handle() const { return file_.get(); }
  // Its folder, held while this object lives, and its name there.
  const rt::win::Folder& folder() const { return folder_; }
  const std::u16string& name() const { return name_; }
  rt::Text path_text() const;
  // Gives up write access for a reading handle that refuses writers and
  // deletion from then on (a program is started from the file that way),
  // reopened through the handle, never by name.
  bool keep_for_reading();
  // Closes the file, keeping it and its held folder (a program that opens
  // it by name may then work on it: nobody else can change that folder).
  bool release_file() {
    file_.reset();
    return bool(folder_);
  }
  // A reader over the same open file (a duplicate of its handle).
  std::unique_ptr<rt::ZipInput> reader() const;
  // Closes the file and deletes it, the marker and the folder through their
  // holds (the folder only when empty).
  void remove();

 private:
  rt::win::Folder folder_;
  rt::win::File file_;
  std::u16string name_;
};

// A hold on the folder an item of this run was made in, and the folder it holds.
std::unique_ptr<RunRecord::Hold> hold_of(rt::win::Folder folder);
const rt::win::Folder* held_folder(const RunRecord::Hold* hold);

// The package resource; null when the program carries none. When the caller
// checks the publisher's digest through the returned input before using it,
// it is read from the program's file (a handle that keeps the file as it
// is), else in place in the loaded image.
std::unique_ptr<rt::ZipInput> package_resource_input(bool digest_checked);

}  // namespace installer
