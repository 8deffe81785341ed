// The configuration path as setup.exe runs it: the record resource opened
// (decrypted with the record cipher, parsed with our JSON document) and
// every key of format.h read. The first byte says whether the rest is the
// plain record (sealed here first, so that mutations stay meaningful JSON)
// or the sealed resource as stored.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "installer/format/cipher.h"
#include "installer/format/format.h"
#include "installer/format/record.h"
#include "json/document.h"
#include "runtime/value/value.h"

namespace {

namespace format = installer::format;

void check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 256 * 1024) return 0;
  bool plain = (data[0] & 1) == 0;
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const rt::Text phrase(format::kRecordPassPhrase);

  rt::Bytes resource;
  if (plain) {
    // The builder seals the record's text; a zero byte ends that text.
    rt::Text text(bytes.substr(0, bytes.find('\0')));
    resource = format::seal_record(text);
    check(resource.size() == text.size());
  } else {
    resource = rt::Bytes(bytes);
  }

  rt::Text record = installer::decrypt_record(resource, phrase, true);
  check(record.size() <= resource.size());
  check(std::memchr(record.c_str(), 0, record.size()) == nullptr);
  if (plain) check(record.str() == bytes.substr(0, bytes.find('\0')));
  // Sealing what came out gives back the stored bytes it came from.
  rt::Bytes again = format::seal_record(record);
  check(again.size() == record.size());
  check(again.size() == 0 || std::memcmp(again.data(), resource.data(), again.size()) == 0);

  std::optional<format::Record> opened = format::open_record(resource);
  std::optional<format::Record> parsed = format::parse_record(record.view());
  json::JsonDocument document;
  // Whatever the record held, a failed parse gives no record; a record
  // holds what the document read.
  check(document.parse(record.view()) == parsed.has_value());
  check(opened.has_value() == parsed.has_value());
  for (const char* key : format::kConfigKeys) {
    rt::Text value = parsed ? format::record_value(*parsed, key) : rt::Text();
    check(!opened || format::record_value(*opened, key) == value);
    check(std::memchr(value.c_str(), 0, value.size()) == nullptr);
    if (!parsed) continue;
    const std::string stored = document.get_text(key).str();
    if (std::string_view(key) == format::kKeyInstallType) {
      // A known type reads as itself; any other text is a type nobody installs.
      const bool known = stored == format::kInstallTypeNet || stored == format::kInstallTypeDisk;
      check(known ? value.str() == stored : parsed->install_type == format::InstallType::kUnknown && value.empty());
    } else if (std::string_view(key) == format::kKeyScope) {
      // Missing is the default; a known scope reads as itself; any other is damaged.
      const bool known = stored.empty() || stored == format::kScopeUser || stored == format::kScopeMachine;
      check(known ? value.str() == stored : parsed->scope == format::Scope::kUnknown && value.str() == "?");
      check(format::scope_of(value.view()) == parsed->scope || !known);
    } else {
      check(value == document.get_text(key));
    }
  }
  document.destroy();
  return 0;
}
