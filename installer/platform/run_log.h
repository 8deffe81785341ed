// The run's log, for administrators who ask for one (/LOG=<file>): UTF-8,
// one line per step, each with its local time. Nothing is written while no
// log is open, so the steps log unconditionally. Any thread may write; lines
// never interleave. Nothing secret goes in: the steps log what they did,
// never the configuration record itself.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace installer {

// Opens the log file at `path` (made full against the current folder, so
// before a program changes it), replacing an earlier log there
// or, with `append`, continuing it. Its folder is held as itself and the
// file opened below it as itself, so an elevated run never writes through a
// link someone prepared there; and since whoever starts an elevated run may
// not be the administrator who agreed to it, the name must end in ".log" or
// ".txt" and an existing file is taken only when it is such a log: no
// program, library or anybody's document is ever replaced or written into.
// False when the file cannot be used so.
bool open_run_log(const std::u16string& path, bool append = false);
// The full path of the log opened last (empty before one was).
std::u16string run_log_path();
// Every log's first line carries this.
inline constexpr char kRunLogTitle[] = "Tarnel Setup log";
void close_run_log();
bool run_log_open();

// One line of program text (code page 936), from its parts.
void log_line(std::initializer_list<std::string_view> parts);
// A failure: its message and the Windows error code that went with it (0: none).
void log_failure(std::string_view message, unsigned long windows_error);
// A number's decimal digits, as a part of a line.
struct LogNumber {
  char digits[24];
  unsigned char size;
  operator std::string_view() const { return std::string_view(digits, size); }
};
LogNumber log_number(unsigned long long value);
// The last line of a run: "end: exit code <code>".
void log_end(int code);

}  // namespace installer
