// The configuration path as the installer window runs it: the record
// resource decrypted with the record cipher, parsed into an empty document,
// and the ten keys (and the package digest) read with get_text. The first
// byte says whether the rest is the plain record (encrypted here first, so
// that mutations stay meaningful JSON) or the encrypted resource as stored.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "installer/format/cipher.h"
#include "json/document.h"
#include "runtime/value/value.h"

namespace {

void check(bool ok) {
  if (!ok) std::abort();
}

const char* const kKeys[] = {"softname",    "softversion", "urlremote",  "urlfull",    "framework", "mainfile",
                             "installtype", "companyname", "companyurl", "protocol",   "sha256"};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1 || size > 256 * 1024) return 0;
  bool plain = (data[0] & 1) == 0;
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  const rt::Text phrase(installer::format::kRecordPassPhrase);

  rt::Bytes resource;
  if (plain) {
    // The builder encrypts the record's text; a zero byte ends that text.
    rt::Text text(bytes.substr(0, bytes.find('\0')));
    resource = installer::encrypt_text(text, phrase, true);
    check(resource.size() == text.size());
  } else {
    resource = rt::Bytes(bytes);
  }

  rt::Text record = installer::decrypt_record(resource, phrase, true);
  check(record.size() <= resource.size());
  check(std::memchr(record.c_str(), 0, record.size()) == nullptr);
  if (plain) check(record.str() == bytes.substr(0, bytes.find('\0')));
  // Encrypting what came out gives back the stored bytes it came from.
  rt::Bytes again = installer::encrypt_text(record, phrase, true);
  check(again.size() == record.size());
  check(again.size() == 0 || std::memcmp(again.data(), resource.data(), again.size()) == 0);

  json::JsonDocument document;
  bool parsed = document.parse(record.view());
  for (const char* key : kKeys) {
    rt::Text value = document.get_text(key);
    // Whatever the record held, a failed parse leaves every key empty.
    if (!parsed) check(value.empty());
    check(std::memchr(value.c_str(), 0, value.size()) == nullptr);
  }
  document.destroy();
  return 0;
}
