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
// The decoding itself: libpng natively, GDI+ on Windows.
bool decode_png(const std::string& bytes, unsigned* width, unsigned* height, std::string* why);

// The names of a package's entries (UTF-8), after reading every entry once
// as the installer will, piece by piece; or why the file is not a usable
// ZIP archive.
bool check_package(rt::ResourceSource& package, std::vector<std::string>* names, std::string* why);
bool check_package(const std::string& bytes, std::vector<std::string>* names, std::string* why);
// The SHA-256 of a package read piece by piece (hexadecimal), "" when it
// cannot be read.
std::string package_sha256(rt::ResourceSource& package);
// Warnings about what a package lacks for this configuration.
std::vector<std::string> package_warnings(const std::vector<std::string>& names, const Config& config);

// Loads an installer program; false with the reason when it is not a PE32
// program.
bool check_stub(const std::string& bytes, rt::PeResources* pe, std::string* why);

// "ZIP archive, 5 entries, 1234 bytes".
std::string describe_package(std::uint64_t size, const std::vector<std::string>& names);
// "3 files", "1 file".
std::string plural(std::uint64_t n, const char* one, const char* many);

// The 22-byte ZIP archive without entries that a "net" installer carries.
std::string empty_zip();

}  // namespace mkinstaller
