// inspect: what an installer carries and whether it will work, read from
// the file where it lies (the package, however large, is read piece by piece
// and never held), as text or as one JSON object; the exit status sums the
// problems found, so that CI can stop on them.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>

#include "installer/format/format.h"
#include "installer/format/record.h"
#include "runtime/value/codepage.h"
#include "mkinstaller/checks.h"
#include "mkinstaller/commands.h"
#include "mkinstaller/dotnet_info.h"
#include "mkinstaller/files.h"
#include "mkinstaller/identity.h"
#include "mkinstaller/options.h"
#include "mkinstaller/sign.h"
#include <nlohmann/json.hpp>

namespace mkinstaller {

namespace format = installer::format;

namespace {

using Json = nlohmann::ordered_json;

// The problems inspect reports in its exit status (documented in its help
// and README): their sum, with 1 kept for errors.
constexpr int kBadSignature = 2;
constexpr int kPackageRefused = 4;
constexpr int kCannotInstall = 8;

constexpr std::uint16_t kRtVersion = 16;
// Larger logos are not read to be shown (the installer shows 256 x 256).
constexpr std::uint64_t kLargestLogoShown = 16u << 20;

// "SYSTEM/102": a resource of setup.exe as inspect names it.
std::string system_resource_name(const char* name) { return std::string(format::kResourceType) + "/" + name; }

// What inspect found: the text, the same as JSON, and the problems.
struct Report {
  std::string text;
  Json json = Json::object();
  int status = 0;
  std::vector<std::string> problems;

  void problem(int code, const std::string& what) {
    status |= code;
    problems.push_back(what);
  }
};

// The bytes of a small resource, wherever they lie; nothing when larger.
std::optional<std::string> small_resource(const rt::PeResources& pe, const rt::ResourceId& type,
                                          const rt::ResourceId& name, std::uint64_t largest) {
  if (const std::string* held = pe.find(type, name)) return *held;
  auto source = pe.source(type, name);
  if (!source || source->size() > largest) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(source->size()), '\0');
  if (!source->read_at(0, bytes.data(), bytes.size())) return std::nullopt;
  return bytes;
}

// The program's own bytes, its large resources (a package) left out: where
// the .NET download settings are looked for.
std::string program_bytes(InputFile& file, const rt::PeResources& pe) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> skipped;
  for (const rt::ResourceInfo& r : pe.list())
    if (r.file_offset && r.size >= (1u << 20)) skipped.emplace_back(r.file_offset, r.file_offset + r.size);
  std::sort(skipped.begin(), skipped.end());
  std::string bytes;
  std::uint64_t at = 0;
  skipped.emplace_back(file.size(), file.size());
  for (const auto& [from, to] : skipped) {
    if (from > at) {
      std::string piece(static_cast<std::size_t>(from - at), '\0');
      if (!file.read_at(at, piece.data(), piece.size())) break;
      bytes += piece;
      bytes += '\0';  // no text runs across what was left out
    }
    at = std::max(at, to);
  }
  return bytes;
}

void show_resources(const std::string& path, const rt::PeResources& pe, Report& r) {
  const rt::PeHeaderInfo& h = pe.header();
  const std::string kind = std::string(h.pe32_plus ? "PE32+" : "PE32") + (h.is_dll() ? " library" : " program");
  const std::vector<rt::ResourceInfo> list = pe.list();
  r.text += path + ": " + kind + ", " + std::to_string(list.size()) + " resources\n";
  char line[200];
  std::snprintf(line, sizeof line, "  %-16s %-16s %8s %10s\n", "type", "name", "language", "bytes");
  r.text += line;
  r.json["file"] = path;
  r.json["kind"] = kind;
  Json resources = Json::array();
  for (const rt::ResourceInfo& i : list) {
    std::snprintf(line, sizeof line, "  %-16s %-16s %8u %10zu\n", i.type.display().c_str(), i.name.display().c_str(),
                  static_cast<unsigned>(i.language), i.size);
    r.text += line;
    resources.push_back({{"type", i.type.display()}, {"name", i.name.display()}, {"language", i.language},
                         {"bytes", i.size}});
  }
  r.json["resources"] = resources;
}

void show_signature(const std::string& path, const rt::PeResources& pe, const std::string& ca_file, Report& r) {
  SignatureCheck check;
  if (pe.header().certificate_size) check = verify_signature(path, ca_file);
  if (check.untrusted && ca_file.empty()) check.problem += " (name the authority with --ca-file)";
  r.text += "signature: " + check.text(ca_file) + "\n";
  Json s = {{"signed", check.present}, {"verifies", check.verified}};
  if (!check.signer.empty()) s["signer"] = check.signer;
  if (!check.timestamp.empty()) s["timestamp"] = check.timestamp;
  if (check.present && !check.verified) {
    s["problem"] = check.problem;
    r.problem(kBadSignature, "the signature does not verify: " + check.problem);
  }
  r.json["signature"] = s;
}

void show_identity(const rt::PeResources& pe, const std::string& scope, bool configured, Report& r) {
  for (const rt::ResourceInfo& i : pe.list()) {
    VersionInfo info;
    if (!(i.type == rt::ResourceId::of_number(kRtVersion)) || !read_version_resource(*pe.find(i.type, i.name), &info))
      continue;
    r.text += "version (#16/" + i.name.display() + "):\n";
    Json version = Json::object();
    for (const auto& [key, value] : info.strings) {
      r.text += "  " + key + ": " + value + "\n";
      version[key] = value;
    }
    r.json["version"] = version;
    break;
  }
  const std::string level = execution_level(pe);
  const std::string wanted = scope == format::kScopeUser ? "asInvoker" : "requireAdministrator";
  r.text += "manifest: " +
            (level.empty() ? std::string("no requestedExecutionLevel")
                           : "requestedExecutionLevel " + level +
                                 (level == "asInvoker" ? " (asks for no administrator rights)"
                                                       : level == "requireAdministrator" ? " (asks for administrator rights)"
                                                                                         : "")) +
            (configured && level != wanted ? "; the scope wants " + wanted : "") + "\n";
  r.json["execution_level"] = level;
  std::vector<IconImage> icon = program_icon(pe);
  if (icon.empty()) return;
  Json sizes = Json::array();
  r.text += "icon:";
  for (const IconImage& i : icon) {
    std::string size = std::to_string(i.width) + "x" + std::to_string(i.height);
    r.text += " " + size + (i.data.compare(0, 4, "\x89PNG") == 0 ? " (PNG)" : "");
    sizes.push_back(size);
  }
  r.text += "\n";
  r.json["icon"] = sizes;
}

void show_logo(const rt::PeResources& pe, Report& r) {
  auto source = pe.source(kSystem, kLogo);
  if (!source) return;
  auto logo = small_resource(pe, kSystem, kLogo, kLargestLogoShown);
  unsigned w = 0, h = 0;
  std::string why = "too large to be shown";
  const bool ok = logo && check_png(*logo, &w, &h, &why);
  r.text += "logo (" + system_resource_name(format::kLogoResource) + "): " +
            (ok ? "PNG image " + std::to_string(w) + " x " + std::to_string(h) : why) + ", " +
            std::to_string(source->size()) + " bytes\n";
  r.json["logo"] = ok ? Json{{"width", w}, {"height", h}, {"bytes", source->size()}}
                      : Json{{"problem", why}, {"bytes", source->size()}};
}

// The package carried, checked entry by entry and hashed as it lies.
struct CarriedPackage {
  bool present = false, usable = false;
  std::string sha256, problem;
};

CarriedPackage show_package(const rt::PeResources& pe, Report& r) {
  CarriedPackage carried;
  auto package = pe.source(kSystem, kPackage);
  if (!package) return carried;
  carried.present = true;
  std::vector<std::string> names;
  carried.usable = check_package(*package, &names, &carried.problem);
  carried.sha256 = package_sha256(*package);
  r.text += "package (" + system_resource_name(format::kPackageResource) +
            "): " + (carried.usable ? describe_package(package->size(), names) : carried.problem) + ", sha256 " +
            carried.sha256 + "\n";
  for (const std::string& n : names) r.text += "  " + n + "\n";
  Json p = {{"bytes", package->size()}, {"sha256", carried.sha256}, {"entries", names}};
  if (!carried.usable) p["problem"] = carried.problem;
  r.json["package"] = p;
  return carried;
}

// What the installer will do with the record's "sha256".
void show_digest_check(const format::Record& record, const CarriedPackage& carried, Report& r) {
  const std::string label = std::string(format::kKeySha256) + ": ";
  const std::string digest = lower_ascii(record.package_sha256.str());
  const bool disk = record.install_type == format::InstallType::kDisk;
  std::string text;
  if (digest.empty())
    text = "none, the package is not checked";
  else if (!disk)
    text = digest + ", the downloaded package must have it";
  else if (carried.sha256 == digest || (!carried.present && digest == installer::sha256_hex("")))
    text = digest + ", the carried package has it";
  else
    text = digest + ", but the carried package has " + (carried.present ? carried.sha256 : installer::sha256_hex("")) +
           ": this installer will refuse its package";
  r.text += label + text + "\n";
  r.json["sha256_check"] = text;
  if (disk && text.find("will refuse") != std::string::npos)
    r.problem(kPackageRefused, "the carried package is not the one the configuration's \"sha256\" names");
  else if (disk && carried.present && !carried.usable)
    r.problem(kPackageRefused, "the carried package cannot be installed: " + carried.problem);
}

std::string scope_meaning(format::Scope scope) {
  switch (scope) {
    case format::Scope::kUser:
      return "user: installs for this person only, in their own folders, without administrator rights";
    case format::Scope::kMachine:
      return "machine: installs for every user, in Program Files, with administrator rights";
    case format::Scope::kDefault:
      return "none: the older layout: the person's roaming profile on Windows 8 and later, registered for the whole "
             "machine, with administrator rights";
    default:
      return "unknown: the installer refuses this record";
  }
}

// The record as setup.exe reads it; what its scope, digest and "framework"
// lead to.
void show_configuration(const rt::PeResources& pe, const CarriedPackage& carried, const std::string& program,
                        Report& r) {
  const std::string record_name = system_resource_name(format::kRecordResource);
  const std::string* sealed = pe.find(kSystem, kRecord);
  if (!sealed) {
    r.text += "no configuration (" + record_name + "): this is not a configured installer\n";
    r.json["configuration"] = nullptr;
    r.problem(kCannotInstall, "no configuration: this is not a configured installer");
    return;
  }
  const std::optional<format::Record> read = format::open_record(rt::Bytes(*sealed));
  r.text += "configuration (" + record_name + ", " + std::to_string(sealed->size()) + " bytes encrypted)";
  if (!read) {
    const std::string why = sealed->empty() ? "empty, the installer is not configured"
                                            : "the installer cannot read it (not a JSON object)";
    r.text += ": " + why + "\n";
    r.json["configuration"] = nullptr;
    r.problem(kCannotInstall, "configuration: " + why);
    return;
  }
  const format::Record& record = *read;
  Json values = Json::object();
  std::string text = "{";
  for (const char* key : format::kConfigKeys) {
    const std::string value = rt::utf8_from_cp936(format::record_value(record, key).view());
    text += std::string(text.size() > 1 ? ",\n  " : "\n  ") + in_quotes(key) + ": " + json_quoted(value);
    values[key] = value;
  }
  r.text += ", as the installer reads it:\n" + text + "\n}\n";
  r.json["configuration"] = values;
  r.text += "scope: " + scope_meaning(record.scope) + "\n";
  r.json["scope"] = format::scope_text(record.scope);
  if (record.scope == format::Scope::kUnknown) r.problem(kCannotInstall, "the record's \"scope\" is unknown");
  show_digest_check(record, carried, r);
  const std::string framework = rt::utf8_from_cp936(record.framework.view());
  if (framework.empty()) {
    r.text += "dotnet: none required (\"framework\" is empty), nothing is downloaded\n";
    r.json["dotnet"] = {{"required", false}};
    return;
  }
  DotnetPlan plan = dotnet_plan(program, framework, true);
  r.text += "dotnet: " + plan.line + "\n" +
            (plan.problem.empty() ? "" : "  this installer cannot install it: " + plan.problem + "\n");
  r.json["dotnet"] = {{"required", true}, {"plan", plan.line}};
  if (!plan.problem.empty()) {
    r.json["dotnet"]["problem"] = plan.problem;
    r.problem(kCannotInstall, ".NET Framework: " + plan.problem);
  }
}

}  // namespace

int run_inspect(const Args& args) {
  auto p = parse("inspect", args, {{"ca-file"}, {"json", 0, OptionSpec::kFlag}});
  if (!p) return 1;
  if (p->help) {
    out(help_text("inspect"));
    return 0;
  }
  if (p->operands.size() != 1)
    return usage_error("inspect", p->operands.empty() ? "missing file operand" : "too many operands");
  const std::string& path = p->operands[0];
  auto file = std::make_shared<InputFile>();
  std::string why;
  if (!file->open(path, &why)) return fail(path, why);
  rt::PeResources pe;
  if (!pe.open(file, &why)) return fail(path, why);

  Report r;
  show_resources(path, pe, r);
  show_signature(path, pe, p->value("ca-file"), r);
  const std::string* sealed = pe.find(kSystem, kRecord);
  std::optional<format::Record> peek = sealed ? format::open_record(rt::Bytes(*sealed)) : std::nullopt;
  const std::string scope = peek ? format::scope_text(peek->scope) : "";
  show_identity(pe, scope, peek.has_value(), r);
  show_logo(pe, r);
  CarriedPackage carried = show_package(pe, r);
  show_configuration(pe, carried, program_bytes(*file, pe), r);
  r.json["problems"] = r.problems;
  r.json["exit_status"] = r.status;
  if (!r.problems.empty()) {
    r.text += "problems (exit status " + std::to_string(r.status) + "):\n";
    for (const std::string& problem : r.problems) r.text += "  " + problem + "\n";
  }
  out(p->has("json") ? r.json.dump(2, ' ', false, Json::error_handler_t::replace) + "\n" : r.text);
  return r.status;
}

}  // namespace mkinstaller
