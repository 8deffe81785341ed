// The run's own working file: a folder made for this run under the temporary
// folder (a new name; one that exists is never taken) and one file in it,
// opened once, shared for reading only, so that nobody else can change or
// replace it while it is checked and used. Both go when the object does.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "runtime/value/value.h"
#include "runtime/win/handles.h"
#include "runtime/zip/zip_input.h"

namespace installer {

class RunFile {
 public:
  RunFile() = default;
  ~RunFile() { remove(); }
  RunFile(const RunFile&) = delete;
  RunFile& operator=(const RunFile&) = delete;

  // Makes the folder and creates `file_name` in it for reading and writing.
  // Both are noted in this_run(). False when either cannot be made.
  bool create(const rt::Text& file_name);
  // The open file.
  HANDLE handle() const { return file_.get(); }
  const std::u16string& path() const { return path_; }
  rt::Text path_text() const;
  // Gives up write access for a reading handle that still refuses writers
  // and deletion (a program is started from the file that way). The file
  // may have changed in the instant between: check it afterwards.
  bool keep_for_reading();
  // A reader over the same open file (a duplicate of its handle).
  std::unique_ptr<rt::ZipInput> reader() const;
  // Closes the file and deletes it and the folder (the folder only when empty).
  void remove();

 private:
  rt::win::File file_;
  std::u16string folder_, path_;
};

// Whether run folders are made for administrators and SYSTEM alone (an
// elevated run: the temporary folder may be one a person can write).
void protect_run_folders(bool protect);

// Removes the run folders under the temporary folder that runs killed
// before their end left (named as this product names them, holding its
// marker; never through a link). A folder a running installer still uses
// keeps the file it holds, and so itself.
void remove_stale_run_folders();

// The package resource; null when the program carries none. When the caller
// checks the publisher's digest through the returned input before using it,
// it is read from the program's file (a handle that keeps the file as it
// is), else in place in the loaded image.
std::unique_ptr<rt::ZipInput> package_resource_input(bool digest_checked);

}  // namespace installer
