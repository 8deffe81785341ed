#include "installer/format/record.h"

#include <string>

#include "installer/format/cipher.h"
#include "installer/format/format.h"
#include "json/document.h"

namespace installer::format {

namespace {

struct TextField {
  const char* key;
  rt::Text Record::*field;
};
// "installtype" is the one key that is not a plain text field.
constexpr TextField kTextFields[] = {
    {kKeySoftName, &Record::software_name},     {kKeySoftVersion, &Record::software_version},
    {kKeyPackageUrl, &Record::package_url},     {kKeyOfflineUrl, &Record::offline_url},
    {kKeyFramework, &Record::framework},        {kKeyMainFile, &Record::main_file},
    {kKeyCompanyName, &Record::company_name},   {kKeyCompanyUrl, &Record::company_url},
    {kKeyAgreementUrl, &Record::agreement_url}, {kKeySha256, &Record::package_sha256},
    {kKeyMirrors, &Record::mirrors},
};
static_assert(std::size(kTextFields) + 2 == std::size(kConfigKeys), "every key of format.h has its field");

}  // namespace

const char* install_type_text(InstallType type) {
  switch (type) {
    case InstallType::kNet: return kInstallTypeNet;
    case InstallType::kDisk: return kInstallTypeDisk;
    default: return "";
  }
}

// Compared exactly: "NET" is neither.
InstallType install_type_of(std::string_view text) {
  if (text == kInstallTypeNet) return InstallType::kNet;
  if (text == kInstallTypeDisk) return InstallType::kDisk;
  return InstallType::kUnknown;
}

const char* scope_text(Scope scope) {
  switch (scope) {
    case Scope::kUser: return kScopeUser;
    case Scope::kMachine: return kScopeMachine;
    case Scope::kDefault: return "";
    default: return "?";
  }
}

Scope scope_of(std::string_view text) {
  if (text.empty()) return Scope::kDefault;
  if (text == kScopeUser) return Scope::kUser;
  if (text == kScopeMachine) return Scope::kMachine;
  return Scope::kUnknown;
}

std::optional<Record> parse_record(std::string_view plain) {
  json::JsonDocument document;
  if (!document.parse(plain)) return std::nullopt;
  Record record;
  for (const TextField& f : kTextFields) record.*f.field = document.get_text(f.key);
  record.install_type = install_type_of(document.get_text(kKeyInstallType).view());
  record.scope = scope_of(document.get_text(kKeyScope).view());
  return record;
}

std::optional<Record> open_record(const rt::Bytes& sealed) {
  return parse_record(decrypt_record(sealed, kRecordPassPhrase, true).view());
}

rt::Bytes seal_record(const rt::Text& plain) { return encrypt_text(plain, kRecordPassPhrase, true); }

std::vector<rt::Text> split_mirrors(std::string_view mirrors) {
  std::vector<rt::Text> urls;
  while (!mirrors.empty()) {
    std::size_t end = mirrors.find_first_of(" \t\r\n");
    if (end != 0) urls.emplace_back(mirrors.substr(0, end));
    mirrors.remove_prefix(end == std::string_view::npos ? mirrors.size() : end + 1);
  }
  return urls;
}

std::vector<rt::Text> package_urls(const Record& record) {
  std::vector<rt::Text> urls = split_mirrors(record.mirrors.view());
  urls.insert(urls.begin(), record.package_url);
  return urls;
}

rt::Text record_value(const Record& record, std::string_view key) {
  if (key == kKeyInstallType) return install_type_text(record.install_type);
  if (key == kKeyScope) return scope_text(record.scope);
  for (const TextField& f : kTextFields)
    if (key == f.key) return record.*f.field;
  return {};
}

}  // namespace installer::format
