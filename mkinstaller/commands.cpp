#include "mkinstaller/commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

#include "installer/format/cipher.h"
#include "installer/format/sha256.h"
#include "runtime/value/codepage.h"
#include "mkinstaller/pe_resources.h"
#include "mkinstaller/checks.h"
#include "mkinstaller/files.h"
#ifdef MKINSTALLER_HAS_PACK
#include "mkinstaller/pack.h"
#endif

namespace mkinstaller {

namespace {

const char kMainHelp[] =
    "Usage: mkinstaller <command> [options]\n"
    "\n"
    "Makes configured installers: a copy of setup.exe that carries its\n"
    "configuration, logo and package as resources.\n"
    "\n"
    "Commands:\n"
    "  build     write a configured installer\n"
    "  pack      make a package (a ZIP archive) from an application folder\n"
    "  inspect   show the configuration and resources of an installer\n"
    "  list      show the installed-file list recorded in an uninstaller\n"
    "  help      show the help of a command\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help\n"
    "      --version  show the version\n"
    "\n"
    "Run 'mkinstaller <command> --help' for the options of a command.\n"
    "\n"
    "Environment:\n"
    "  MKINSTALLER_HOME  the folder holding setup.exe and uninst.exe (default:\n"
    "                    the folder of mkinstaller itself)\n"
    "\n"
    "Exit status: 0 when the command succeeded, 1 on any error.\n";

const char kBuildHelp[] =
    "Usage: mkinstaller build --config CONFIG.json [--logo LOGO.png]\n"
    "                         [--package PKG.zip | --package-dir DIR]\n"
    "                         [--sha256 HEX] [--stub setup.exe] --out OUT.exe\n"
    "\n"
    "Writes a configured installer: a copy of the stub program with the\n"
    "encrypted configuration, the logo and the package as its resources.\n"
    "Everything is checked first; on any error nothing is written.\n"
    "\n"
    "Options:\n"
    "  -c, --config FILE       the configuration: a UTF-8 JSON object of texts\n"
    "                          (required)\n"
    "  -l, --logo FILE         the logo, a PNG image (shown 256 x 256)\n"
    "  -p, --package FILE      the package, a ZIP archive whose entries are named\n"
    "                          \"{app}/...\"; carried inside the installer\n"
    "      --package-dir DIR   pack this folder as the package (see 'pack')\n"
    "      --sha256 HEX        the SHA-256 of a \"net\" package that is not at hand\n"
    "                          (64 hexadecimal digits); a package that is given\n"
    "                          must have it\n"
    "  -s, --stub FILE         the installer program to start from (default:\n"
    "                          setup.exe next to mkinstaller or in $MKINSTALLER_HOME)\n"
    "  -o, --out FILE          the installer to write (required)\n"
    "  -h, --help              show this help\n"
    "\n"
    "Configuration keys (all texts): softname, softversion, urlremote, urlfull,\n"
    "framework, mainfile, installtype, companyname, companyurl, protocol, and the\n"
    "optional sha256 of the package. \"installtype\" is \"net\" (download the\n"
    "package from \"urlremote\", an http:// or https:// address) or \"disk\" (the\n"
    "package is inside the installer). Texts must fit code page 936.\n"
    "\n"
    "The installer checks its package against \"sha256\" before unpacking it and\n"
    "refuses one that differs. build fills \"sha256\" in from the package it is\n"
    "given (for \"disk\" without a package, the empty archive it carries), or\n"
    "from --sha256; a digest in the configuration that disagrees with either is\n"
    "an error. A \"net\" installer without either is not checked.\n"
    "\n"
    "Example:\n"
    "  mkinstaller build --config app.json --logo logo.png --package app.zip \\\n"
    "      --out app-setup.exe\n";

const char kPackHelp[] =
    "Usage: mkinstaller pack DIR --out PKG.zip\n"
    "\n"
    "Makes a package from an application folder: every file and folder below\n"
    "DIR becomes an entry \"{app}/\" + its path, with \"/\" separators and UTF-8\n"
    "names, which the installer unpacks into the installation folder. When DIR\n"
    "has no uninst.exe, the uninstaller shipped with mkinstaller is added as\n"
    "\"{app}/uninst.exe\" (a warning says so when none is found).\n"
    "\n"
    "Options:\n"
    "  -o, --out FILE   the ZIP archive to write (required)\n"
    "  -h, --help       show this help\n"
#ifndef MKINSTALLER_HAS_PACK
    "\n"
    "This Windows build of mkinstaller cannot pack: use the Linux build or any\n"
    "ZIP tool that stores UTF-8 names.\n"
#endif
    ;

const char kInspectHelp[] =
    "Usage: mkinstaller inspect INSTALLER.exe\n"
    "\n"
    "Shows the resources of an installer, its decrypted configuration, its logo,\n"
    "the entries and SHA-256 of its package, and whether the package has the\n"
    "configuration's \"sha256\".\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this help\n";

const char kListHelp[] =
    "Usage: mkinstaller list UNINST.exe\n"
    "\n"
    "Shows the installed-file list that the installer recorded, encrypted, in\n"
    "the uninstaller of an installed application (its \"install\"/\"list\"\n"
    "resource), one path a line.\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this help\n";

const rt::ResourceId kSystem = rt::ResourceId::of_text(installer::format::kResourceType);
const rt::ResourceId kLogo = rt::ResourceId::of_text(installer::format::kLogoResource);
const rt::ResourceId kRecord = rt::ResourceId::of_text(installer::format::kRecordResource);
const rt::ResourceId kPackage = rt::ResourceId::of_text(installer::format::kPackageResource);

// Options of one command: long name -> value; "-h" and "--help" give help.
struct Parsed {
  std::map<std::string, std::string> options;
  std::vector<std::string> operands;
  bool help = false;
};

struct OptionSpec {
  const char* name;
  char short_name;
};

std::optional<Parsed> parse(const std::string& command, const Args& args, std::vector<OptionSpec> specs) {
  Parsed p;
  bool options_end = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (options_end || a.size() < 2 || a[0] != '-') {
      p.operands.push_back(a);
      continue;
    }
    if (a == "--") {
      options_end = true;
      continue;
    }
    if (a == "-h" || a == "--help") {
      p.help = true;
      continue;
    }
    std::string name = a, value;
    bool has_value = false;
    if (a.compare(0, 2, "--") == 0) {
      name = a.substr(2);
      std::size_t eq = name.find('=');
      if (eq != std::string::npos) {
        value = name.substr(eq + 1);
        name.resize(eq);
        has_value = true;
      }
    }
    auto spec = std::find_if(specs.begin(), specs.end(), [&](const OptionSpec& s) {
      return name == s.name || (a.size() == 2 && a[1] == s.short_name);
    });
    if (spec == specs.end()) {
      usage_error(command, "unknown option '" + a + "'");
      return std::nullopt;
    }
    if (!has_value) {
      if (i + 1 >= args.size()) {
        usage_error(command, "option '" + a + "' needs a value");
        return std::nullopt;
      }
      value = args[++i];
    }
    if (p.options.count(spec->name)) {
      usage_error(command, "option '--" + std::string(spec->name) + "' given twice");
      return std::nullopt;
    }
    p.options[spec->name] = value;
  }
  return p;
}

std::string option(const Parsed& p, const std::string& name) {
  auto it = p.options.find(name);
  return it == p.options.end() ? std::string() : it->second;
}

// Reads a file named on the command line; prints the error when it cannot.
std::optional<std::string> read_input(const std::string& path) {
  std::string why;
  auto bytes = read_file(path, &why);
  if (!bytes) fail(path, why);
  return bytes;
}

// A command that reads one program named by its only operand: parses the
// arguments, shows the help or reads the program, then runs `body` on it.
template <typename Body>
int on_program(const std::string& command, const Args& args, const char* help, Body body) {
  auto p = parse(command, args, {});
  if (!p) return 1;
  if (p->help) {
    out(help);
    return 0;
  }
  if (p->operands.size() != 1)
    return usage_error(command, p->operands.empty() ? "missing file operand" : "too many operands");
  const std::string& path = p->operands[0];
  auto bytes = read_input(path);
  if (!bytes) return 1;
  rt::PeResources pe;
  std::string error;
  if (!pe.load(*bytes, &error)) return fail(path, error);
  return body(path, pe);
}

std::string describe_package(const std::string& bytes, const std::vector<std::string>& names) {
  return "ZIP archive, " + std::to_string(names.size()) + (names.size() == 1 ? " entry, " : " entries, ") +
         std::to_string(bytes.size()) + " bytes";
}

// The digest the installer will check its package against: the package's
// own when the builder has it ("disk" always has one, at worst the empty
// archive), else --sha256, else the configuration's. A digest the publisher
// wrote that disagrees is an error; a missing "sha256" is added to *config.
// Prints the error and returns false.
bool settle_digest(const std::string& config_text, const std::string& config_path, const std::string& type,
                   const std::string& package, const std::string& package_name, const std::string& given,
                   std::optional<Config>* config, std::string* digest) {
  const bool has_configured = (*config)->values.count("sha256") > 0;
  const std::string configured = lower_ascii((*config)->value("sha256"));
  if (!given.empty() && has_configured && given != configured) {
    fail(config_path, "\"sha256\" is " + configured + " but --sha256 gives " + given + "; they must agree");
    return false;
  }
  std::string wanted = given.empty() ? configured : given;
  if (!package_name.empty() || type == "disk") {
    *digest = installer::sha256_hex(package);
    if (!wanted.empty() && wanted != *digest) {
      std::string source = given.empty() ? config_path + " has \"sha256\" " : "--sha256 gives ";
      fail(package_name.empty() ? config_path : package_name,
           (package_name.empty() ? "the empty package carried without --package has SHA-256 "
                                 : "the package's SHA-256 is ") +
               *digest + ", but " + source + wanted);
      return false;
    }
  } else {
    *digest = wanted;
  }
  if (digest->empty() || has_configured) return true;
  Problem problem;
  *config = add_sha256(config_text, *digest, &problem);
  if (!*config) fail(config_path, problem.message);
  return config->has_value();
}

// What the installer will do with the record's "sha256".
std::string package_check(const Config& config, const std::string* package) {
  std::string digest = lower_ascii(config.value("sha256"));
  if (digest.empty()) return "sha256: none, the package is not checked\n";
  if (config.value("installtype") != "disk") return "sha256: " + digest + ", the downloaded package must have it\n";
  std::string carried = package ? installer::sha256_hex(*package) : installer::sha256_hex("");
  return carried == digest ? "sha256: " + digest + ", the carried package has it\n"
                           : "sha256: " + digest + ", but the carried package has " + carried +
                                 ": this installer will refuse its package\n";
}

}  // namespace

const char* help_text(const std::string& command) {
  if (command.empty()) return kMainHelp;
  if (command == "build") return kBuildHelp;
  if (command == "pack") return kPackHelp;
  if (command == "inspect") return kInspectHelp;
  if (command == "list") return kListHelp;
  return "";
}

int run_build(const Args& args) {
  auto p = parse("build", args,
                 {{"config", 'c'},
                  {"logo", 'l'},
                  {"package", 'p'},
                  {"package-dir", 0},
                  {"sha256", 0},
                  {"stub", 's'},
                  {"out", 'o'}});
  if (!p) return 1;
  if (p->help) {
    out(kBuildHelp);
    return 0;
  }
  if (!p->operands.empty()) return usage_error("build", "unexpected operand '" + p->operands[0] + "'");
  std::string config_path = option(*p, "config"), out_path = option(*p, "out");
  std::string logo_path = option(*p, "logo"), package_path = option(*p, "package");
  std::string package_dir = option(*p, "package-dir");
  if (config_path.empty()) return usage_error("build", "missing --config CONFIG.json");
  if (out_path.empty()) return usage_error("build", "missing --out OUT.exe");
  if (!package_path.empty() && !package_dir.empty())
    return usage_error("build", "give either --package or --package-dir, not both");
  const bool has_given_digest = p->options.count("sha256") > 0;
  std::string given_digest = lower_ascii(option(*p, "sha256"));
  if (has_given_digest && !is_sha256(given_digest))
    return usage_error("build", "--sha256 needs 64 hexadecimal digits, not '" + option(*p, "sha256") + "' (" +
                                    std::to_string(given_digest.size()) + " characters)");

  auto config_text = read_input(config_path);
  if (!config_text) return 1;
  Problem problem;
  auto config = check_config(*config_text, &problem);
  if (!config) return fail(config_path + (problem.line ? ":" + std::to_string(problem.line) : ""), problem.message);

  std::optional<std::string> logo;
  unsigned width = 0, height = 0;
  if (!logo_path.empty()) {
    logo = read_input(logo_path);
    if (!logo) return 1;
    std::string why;
    if (!check_png(*logo, &width, &height, &why)) return fail(logo_path, why);
  }

  std::string package = empty_zip();
  std::string package_name = package_path;
  if (!package_dir.empty()) {
#ifdef MKINSTALLER_HAS_PACK
    std::string temp = out_path + ".package.zip", file, why;
    PackResult packed;
    bool ok = pack_folder(package_dir, temp, find_companion("uninst.exe"), &packed, &file, &why);
    if (!ok) return fail(file, why);
    auto bytes = read_input(temp);
    std::error_code ec;
    std::filesystem::remove(upath(temp), ec);
    if (!bytes) return 1;
    package = *bytes;
    package_name = package_dir;
#else
    return usage_error("build", "--package-dir is not available in this Windows build; pack with the Linux build");
#endif
  } else if (!package_path.empty()) {
    auto bytes = read_input(package_path);
    if (!bytes) return 1;
    package = *bytes;
  }
  std::vector<std::string> entries;
  std::string why;
  if (!check_package(package, &entries, &why)) return fail(package_name, why);

  const std::string type = config->value("installtype");
  std::string digest;
  if (!settle_digest(*config_text, config_path, type, package, package_name, given_digest, &config, &digest)) return 1;

  std::string stub_path = option(*p, "stub");
  if (stub_path.empty()) {
    auto found = find_companion("setup.exe");
    if (!found) return fail("", "no setup.exe next to mkinstaller or in $MKINSTALLER_HOME; name one with --stub");
    stub_path = *found;
  }
  auto stub = read_input(stub_path);
  if (!stub) return 1;
  rt::PeResources pe;
  if (!check_stub(*stub, &pe, &why)) return fail(stub_path, why);

  rt::Bytes record = installer::encrypt_text(rt::Text(config->record_text), installer::format::kRecordPassPhrase, true);
  if (record.empty()) return fail(config_path, "the configuration is empty");

  // Warnings only once every check has passed.
  if (type == "disk" && package_name.empty())
    warn(config_path, "install type \"disk\" without --package: the installer carries an empty package");
  if (type == "net" && !package_name.empty())
    warn(package_name, "install type \"net\" downloads its package from \"urlremote\"; this one is carried unused");
  if (!package_name.empty())
    for (const std::string& w : package_warnings(entries, *config))
      warn(package_name.empty() ? config_path : package_name, w);
  if (!logo && !pe.find(kSystem, kLogo)) warn("", "no --logo: the installer shows no logo");

  // Any language the stub had for these names would shadow ours.
  if (logo) {
    pe.remove(kSystem, kLogo);
    pe.set(kSystem, kLogo, 0, *logo);
  }
  pe.remove(kSystem, kRecord);
  pe.set(kSystem, kRecord, 0, std::string(record.view()));
  pe.remove(kSystem, kPackage);
  pe.set(kSystem, kPackage, 0, package);
  std::string result;
  if (!pe.save(&result, &why)) return fail(stub_path, "cannot take the resources: " + why);
  if (!write_file_atomically(out_path, result, &why)) return fail(out_path, why);
  // Runnable where the stub was (Wine runs programs with the execute bit).
  std::error_code ec;
  std::filesystem::permissions(upath(out_path), std::filesystem::status(upath(stub_path), ec).permissions(), ec);

  std::string version = config->value("softversion");
  std::string summary = "wrote " + out_path + " (" + std::to_string(result.size()) + " bytes): \"" +
                        config->value("softname") + "\"" + (version.empty() ? "" : " " + version) + ", install type " +
                        type + ", package " + describe_package(package, entries);
  if (logo) summary += ", logo " + std::to_string(width) + " x " + std::to_string(height);
  summary += digest.empty() ? ", no \"sha256\"" : ", \"sha256\" " + digest;
  out(summary + "\n");
  return 0;
}

int run_pack(const Args& args) {
  auto p = parse("pack", args, {{"out", 'o'}});
  if (!p) return 1;
  if (p->help) {
    out(kPackHelp);
    return 0;
  }
  if (p->operands.size() != 1)
    return usage_error("pack", p->operands.empty() ? "missing folder operand" : "too many operands");
  std::string out_path = option(*p, "out");
  if (out_path.empty()) return usage_error("pack", "missing --out PKG.zip");
#ifdef MKINSTALLER_HAS_PACK
  auto uninstaller = find_companion("uninst.exe");
  std::string file, why;
  PackResult packed;
  if (!pack_folder(p->operands[0], out_path, uninstaller, &packed, &file, &why)) return fail(file, why);
  if (!uninstaller)
    warn(p->operands[0],
         "no uninst.exe in the folder, and none next to mkinstaller or in $MKINSTALLER_HOME to add: the installed files cannot be "
         "uninstalled");
  out("wrote " + out_path + ": " + std::to_string(packed.files) + " files, " + std::to_string(packed.folders) +
      " folders" + (packed.added_uninstaller ? ", with the uninstaller added as {app}/uninst.exe" : "") + "\n");
  return 0;
#else
  return fail("",
              "pack is not available in this Windows build; use the Linux build or a ZIP tool that stores UTF-8 names");
#endif
}

int run_inspect(const Args& args) {
  return on_program("inspect", args, kInspectHelp, [](const std::string& path, const rt::PeResources& pe) {
    std::string text = path + ": " + (pe.header().pe32_plus ? "PE32+" : "PE32") +
                       (pe.header().is_dll() ? " library" : " program") + ", " + std::to_string(pe.list().size()) +
                       " resources\n";
    char line[200];
    std::snprintf(line, sizeof line, "  %-16s %-16s %8s %10s\n", "type", "name", "language", "bytes");
    text += line;
    for (const rt::ResourceInfo& r : pe.list()) {
      std::snprintf(line, sizeof line, "  %-16s %-16s %8u %10zu\n", r.type.display().c_str(), r.name.display().c_str(),
                    static_cast<unsigned>(r.language), r.size);
      text += line;
    }
    if (const std::string* logo = pe.find(kSystem, kLogo)) {
      unsigned w = 0, h = 0;
      std::string why;
      text += "logo (SYSTEM/101): " +
              (check_png(*logo, &w, &h, &why) ? "PNG image " + std::to_string(w) + " x " + std::to_string(h) : why) +
              ", " + std::to_string(logo->size()) + " bytes\n";
    }
    const std::string* package = pe.find(kSystem, kPackage);
    if (package) {
      std::vector<std::string> names;
      std::string why;
      bool ok = check_package(*package, &names, &why);
      text += "package (SYSTEM/103): " + (ok ? describe_package(*package, names) : why) + ", sha256 " +
              installer::sha256_hex(*package) + "\n";
      for (const std::string& n : names) text += "  " + n + "\n";
    }
    if (const std::string* record = pe.find(kSystem, kRecord)) {
      rt::Text plain = installer::decrypt_record(rt::Bytes(*record), installer::format::kRecordPassPhrase, true);
      std::string utf8 = rt::utf8_from_cp936(plain.view());
      text += "configuration (SYSTEM/102, " + std::to_string(record->size()) + " bytes encrypted):\n" + utf8 + "\n";
      Problem problem;
      if (auto config = check_config(utf8, &problem)) text += package_check(*config, package);
    } else {
      text += "no configuration (SYSTEM/102): this is not a configured installer\n";
    }
    out(text);
    return 0;
  });
}

int run_list(const Args& args) {
  return on_program("list", args, kListHelp, [](const std::string& path, const rt::PeResources& pe) {
    const std::string* list = pe.find(rt::ResourceId::of_text(installer::format::kListResourceType),
                                          rt::ResourceId::of_text(installer::format::kListResourceName));
    if (!list)
      return fail(path,
                  "no installed-file list (resource \"install\"/\"list\"); the installer records it when it installs");
    rt::Text plain = installer::decrypt_record(rt::Bytes(*list), installer::format::kRecordPassPhrase, true);
    std::string text = rt::utf8_from_cp936(plain.view());
    std::string lines;
    for (char c : text)
      if (c != '\r') lines += c;
    if (lines.empty()) warn(path, "the installed-file list is empty");
    out(lines);
    return 0;
  });
}

}  // namespace mkinstaller
