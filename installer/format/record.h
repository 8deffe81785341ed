// The configuration record as a value: what setup.exe reads from its resource
// "102" and the builder writes there. One table of keys and fields (record.cpp)
// serves both directions, so that the builder can read back what it sealed
// and compare it key by key with what its strict parser read.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "runtime/value/value.h"

namespace installer::format {

// "installtype": anything but the two known texts installs nothing.
enum class InstallType { kUnknown, kNet, kDisk };
// "scope": missing is the unscoped layout; any other text than the two
// known ones is a damaged record.
enum class Scope { kDefault, kUser, kMachine, kUnknown };

// Every field is a code page 936 text; a key that is missing, or whose value
// is not a text, number or boolean, reads as an empty text.
struct Record {
  rt::Text software_name;     // "softname"
  rt::Text software_version;  // "softversion"
  rt::Text package_url;       // "urlremote"
  rt::Text offline_url;       // "urlfull"
  rt::Text framework;         // "framework"
  rt::Text main_file;         // "mainfile"
  InstallType install_type = InstallType::kUnknown;  // "installtype"
  rt::Text company_name;      // "companyname"
  rt::Text company_url;       // "companyurl"
  rt::Text agreement_url;     // "protocol"
  rt::Text package_sha256;    // "sha256": the package's digest, hexadecimal; empty: none
  Scope scope = Scope::kDefault;  // "scope"
  rt::Text mirrors;           // "mirrors": further addresses, separated by blanks
};

// The addresses a "net" package is downloaded from, in the order tried:
// "urlremote", then each of "mirrors".
std::vector<rt::Text> package_urls(const Record& record);
// The addresses of a "mirrors" text (split at blanks, tabs and line breaks).
std::vector<rt::Text> split_mirrors(std::string_view mirrors);

// The record sealed in the resource: decrypted, then parsed as JSON. Nothing
// when it is not a JSON object (a damaged installer); a record whose install
// type is kUnknown when "installtype" names neither known type.
std::optional<Record> open_record(const rt::Bytes& sealed);
// The same from the plain text (the builder's read-back, tests).
std::optional<Record> parse_record(std::string_view plain);
// The plain JSON text sealed as the resource holds it. The builder keeps the
// publisher's own text, so this takes text, not a Record.
rt::Bytes seal_record(const rt::Text& plain);

// A field by its key, as text ("installtype" gives "net", "disk" or "";
// "scope" "user", "machine" or ""); an unknown key gives an empty text.
rt::Text record_value(const Record& record, std::string_view key);
// "net" / "disk" / "" and back.
const char* install_type_text(InstallType type);
InstallType install_type_of(std::string_view text);
// "user" / "machine" / "" and back ("" is the default; kUnknown gives "?").
const char* scope_text(Scope scope);
Scope scope_of(std::string_view text);

}  // namespace installer::format
