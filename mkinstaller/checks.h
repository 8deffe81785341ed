// What the builder checks before it writes anything: the configuration, the
// logo, the package and the installer program it starts from.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "installer/format/record.h"
#include "installer/format/format.h"
#include "mkinstaller/pe_resources.h"

namespace mkinstaller {

// setup.exe's resources as the PE writer and reader name them.
inline const rt::ResourceId kSystem = rt::ResourceId::of_text(installer::format::kResourceType);
inline const rt::ResourceId kLogo = rt::ResourceId::of_text(installer::format::kLogoResource);
inline const rt::ResourceId kRecord = rt::ResourceId::of_text(installer::format::kRecordResource);
inline const rt::ResourceId kPackage = rt::ResourceId::of_text(installer::format::kPackageResource);

// A key or value as messages show it: in double quotes.
inline std::string in_quotes(const std::string& text) { return "\"" + text + "\""; }
// A UTF-8 text as a JSON string: quoted, with quotes, backslashes and
// control characters escaped.
std::string json_quoted(const std::string& utf8);

// The configuration as the strict parser read it (the keys are those of
// installer/format/format.h).
struct Config {
  std::string record_text;                    // the file's text in code page 936: the record's plain text
  std::map<std::string, std::string> values;  // key -> value (UTF-8)
  std::string value(const std::string& key) const;
};

// A problem found in a file: where (a line, 0 when not tied to one) and what.
struct Problem {
  int line = 0;
  std::string message;
};

// The longest "softname", in characters (UTF-16 units): it names the
// installation folder (below "C:\Program Files (x86)\" or, for one person,
// "C:\Users\NAME\AppData\Local\Programs\", some 55 characters with a long
// user name), its Start-menu shortcut and its uninstall entry; 64 leaves
// 140 characters of Windows' 260-character paths to the application's own
// files below the folder.
inline constexpr std::size_t kSoftNameLimit = 64;

// Reads a UTF-8 configuration file's text. On failure returns nothing and
// says why in *problem.
std::optional<Config> check_config(const std::string& utf8_text, Problem* problem);

// Whether setup.exe reads the record as the strict parser read the file:
// every key of the record (the installer's reading, from the sealed bytes
// or nothing when its parser refused them) against the configuration's value
// in code page 936. False, naming the first key read otherwise, when they
// disagree: the installer would show or use something the publisher did not
// write (a \u escape it leaves as it is, a \n it reads as CR LF).
bool same_reading(const Config& config, const std::optional<installer::format::Record>& record, Problem* problem);
// The record sealed as the installer carries it, after the same comparison.
std::optional<rt::Bytes> seal_checked_record(const Config& config, Problem* problem);

// The numeric part of "softversion": up to four numbers 0-65535 with dots,
// then optionally a suffix that starts with neither a digit nor a dot. An
// empty text is 0.0.0.0 (the configuration check refuses it).
struct VersionNumber {
  std::uint16_t parts[4] = {};
};
bool parse_version(const std::string& text, VersionNumber* version);

std::string lower_ascii(std::string s);
// Whether a text is a SHA-256 digest: 64 hexadecimal digits, either case.
bool is_sha256(const std::string& text);
// An http:// or https:// address with a host and no blank, quote or backslash.
bool is_http_address(const std::string& url);
// The configuration text with `key` added as the object's last key (a text
// value), the publisher's own text otherwise unchanged; checked again as a
// whole.
std::optional<Config> add_key(const std::string& utf8_text, const std::string& key, const std::string& value,
                              Problem* problem);

// Where the first character lies (and *length its UTF-16 units) that code
// page 936 cannot spell exactly, as the installer converts texts and names;
// npos when every one can. And such a character as messages show it:
// "¹" (U+00B9).
std::size_t first_unspellable(std::u16string_view wide, std::size_t* length);
std::string unspellable_text(std::u16string_view character);

// Decodes a PNG image completely; its size, or why it is not one.
bool check_png(const std::string& bytes, unsigned* width, unsigned* height, std::string* why);
// The decoding itself (png_decode.cpp: the same on every system).
bool decode_png(const std::string& bytes, unsigned* width, unsigned* height, std::string* why);

// The names of a package's entries (UTF-8, as stored), after reading every
// entry once as the installer will, piece by piece; or why the file is not a
// usable ZIP archive or has a name the installer refuses.
bool check_package(rt::ResourceSource& package, std::vector<std::string>* names, std::string* why);
bool check_package(const std::string& bytes, std::vector<std::string>* names, std::string* why);
// The SHA-256 of a package read piece by piece (hexadecimal), "" when it
// cannot be read.
std::string package_sha256(rt::ResourceSource& package);
// The name Windows files a UTF-16 unit under: its simple upper case (ASCII,
// Latin-1 and Latin Extended-A, Greek, Cyrillic, Roman numerals, circled
// and full-width letters: every letter code page 936 holds), as Windows
// compares names without case.
char16_t windows_upper(char16_t c);
// Why the installer refuses a name as stored ("has a \"..\" component", ...)
// as a damaged package; "" when it does not.
std::string refused_name_reason(std::u16string_view stored);
// Why the builder refuses an entry name as stored: one the installer
// refuses, one not below "{app}/" or "{tmp}/" (unless `allow_relative`:
// the installer writes it below the folder it was started from), or a name
// Windows cannot hold (a character it forbids, a final dot or space, a
// component over 255 characters). A message naming the entry, or "".
std::string entry_name_problem(std::u16string_view stored, bool allow_relative);
// The first two entries (UTF-8, as stored) that name the same file or
// folder on Windows, which does not tell case apart: one would be lost. A
// message naming both, or "".
std::string same_name_problem(const std::vector<std::string>& names);
// Both, for every entry of a package.
std::string entry_names_problem(const std::vector<std::string>& names, bool allow_relative);

// Warnings about what a package lacks for this configuration.
std::vector<std::string> package_warnings(const std::vector<std::string>& names, const Config& config);

// Loads an installer program; false with the reason when it is not a PE32
// program.
bool check_stub(const std::string& bytes, rt::PeResources* pe, std::string* why);

// "ZIP archive, 5 entries, 1234 bytes".
std::string describe_package(std::uint64_t size, const std::vector<std::string>& names);
// "3 files", "1 file".
std::string plural(std::uint64_t n, const char* one, const char* many);

// The 22-byte ZIP archive without entries that a "disk" installer built with
// --allow-empty carries ("net" carries no package at all).
std::string empty_zip();

}  // namespace mkinstaller
