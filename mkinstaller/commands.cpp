#include "mkinstaller/commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>

#include "installer/format/format.h"
#include "installer/format/installed_list.h"
#include "installer/format/record.h"
#include "installer/format/sha256.h"
#include "runtime/value/codepage.h"
#include "mkinstaller/checks.h"
#include "mkinstaller/dotnet_info.h"
#include "mkinstaller/files.h"
#include "mkinstaller/identity.h"
#include "mkinstaller/image.h"
#include "mkinstaller/sign.h"
#ifdef MKINSTALLER_HAS_PACK
#include "mkinstaller/pack.h"
#endif

namespace mkinstaller {

namespace format = installer::format;

namespace {

const char kMainHelp[] =
    "Usage: mkinstaller <command> [options]\n"
    "\n"
    "Makes configured installers: a copy of setup.exe that carries its\n"
    "configuration, logo and package as resources.\n"
    "\n"
    "Commands:\n"
    "  build     write a configured installer\n"
    "  check     run every check of build, write nothing\n"
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
    "Usage: mkinstaller build --config CONFIG.json [--logo LOGO.png] [--icon APP.ico]\n"
    "                         [--package PKG.zip | --package-dir DIR] [--sha256 HEX]\n"
    "                         [--copyright TEXT] [--stub setup.exe] [signing options]\n"
    "                         [--dry-run] --out OUT.exe\n"
    "\n"
    "Writes a configured installer: a copy of the stub program with the\n"
    "encrypted configuration, the logo and the package as its resources, a\n"
    "version resource and an icon; signed last when asked. Everything is\n"
    "checked first; on any error nothing is written. The installer appears\n"
    "under its name only when complete.\n"
    "\n"
    "Options:\n"
    "  -c, --config FILE       the configuration: a UTF-8 JSON object of texts\n"
    "                          (required; strict JSON: no comments, no trailing\n"
    "                          commas, no key twice)\n"
    "  -l, --logo FILE         the logo, a PNG image (shown 256 x 256); one that is\n"
    "                          not square, larger than 1024 x 1024 or carries data\n"
    "                          after its image is scaled to 256 x 256 (a warning\n"
    "                          says so)\n"
    "      --icon FILE         the installer's icon, an .ico file (default: made\n"
    "                          from the logo at 16, 24, 32, 48 and 256 pixels)\n"
    "  -p, --package FILE      the package, a ZIP archive whose entries are named\n"
    "                          \"{app}/...\"; carried inside a \"disk\" installer (at\n"
    "                          most 1024 MB: setup.exe is a 32-bit program); for\n"
    "                          \"net\", the archive you upload: only its SHA-256 is\n"
    "                          recorded\n"
    "      --package-dir DIR   pack this folder as the package (see 'pack'; \"disk\")\n"
    "      --sha256 HEX        the SHA-256 of a \"net\" package that is not at hand\n"
    "                          (64 hexadecimal digits); a package that is given\n"
    "                          must have it\n"
    "      --copyright TEXT    the LegalCopyright of the version resource\n"
    "  -s, --stub FILE         the installer program to start from (default:\n"
    "                          setup.exe next to mkinstaller or in $MKINSTALLER_HOME)\n"
    "  -o, --out FILE          the installer to write (required); never one of the\n"
    "                          inputs, a link, a folder or a device\n"
    "      --dry-run           check everything, write nothing (as 'check')\n"
    "  -h, --help              show this help\n"
    "\n"
    "Signing (Authenticode, SHA-256, the last step):\n"
    "      --sign-pkcs12 FILE         sign with this certificate and key (.p12/.pfx)\n"
    "                                 through osslsigncode\n"
    "      --sign-password-file FILE  the .p12 file's password, in this file\n"
    "      --sign-password-env NAME   ... or in this environment variable\n"
    "                                 (never on the command line)\n"
    "      --sign-timestamp URL       an RFC 3161 time-stamping server\n"
    "      --sign-command 'CMD {file}'  sign with your own command instead (a\n"
    "                                 hardware token, a signing service); {file}\n"
    "                                 is the installer's path; it signs in place\n"
    "\n"
    "Configuration keys (all texts): softname, softversion, urlremote, urlfull,\n"
    "framework, mainfile, installtype, companyname, companyurl, protocol, and the\n"
    "optional sha256 of the package. \"installtype\" is \"net\" (download the\n"
    "package from \"urlremote\") or \"disk\" (the package is inside the\n"
    "installer). \"urlremote\", \"urlfull\", \"companyurl\" and \"protocol\" are\n"
    "http:// or https:// addresses when not empty; \"softversion\" begins with a\n"
    "version such as 1.2.3; \"framework\" is empty or a .NET Framework version\n"
    "such as 4.8 or 4.72. Texts must fit code page 936, and are written as\n"
    "they are: the installer leaves \\u escapes undecoded and reads \\n as CR LF,\n"
    "so build refuses a text it would read otherwise.\n"
    "\n"
    "The version resource (the file's properties, the elevation prompt):\n"
    "ProductName \"softname\", FileDescription \"softname\" + \" \xE5\xAE\x89\xE8\xA3\x85\xE7\xA8\x8B\xE5\xBA\x8F\",\n"
    "CompanyName \"companyname\", FileVersion and ProductVersion \"softversion\",\n"
    "LegalCopyright --copyright, OriginalFilename the name of --out.\n"
    "\n"
    "The installer checks its package against \"sha256\" before unpacking it and\n"
    "refuses one that differs. build fills \"sha256\" in from the package it is\n"
    "given (for \"disk\" without a package, the empty archive it carries), or\n"
    "from --sha256; a digest in the configuration that disagrees with either is\n"
    "an error. A \"net\" installer needs one of them (--package, --sha256 or\n"
    "\"sha256\"): build refuses to make one that would not check its download.\n"
    "\n"
    "Example:\n"
    "  mkinstaller build --config app.json --logo logo.png --package app.zip \\\n"
    "      --sign-pkcs12 cert.p12 --sign-password-env CERT_PASSWORD --out app-setup.exe\n";

const char kCheckHelp[] =
    "Usage: mkinstaller check --config CONFIG.json [build's options]\n"
    "\n"
    "Runs every check of 'build' (configuration, logo, icon, package, stub,\n"
    "output name, signing options) and writes nothing: 'build --dry-run'.\n"
    "--out is optional here. Exit status 0 when build would succeed.\n"
    "\n"
    "Options: those of 'mkinstaller build --help'.\n";

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
    "Usage: mkinstaller inspect [--ca-file CA.pem] INSTALLER.exe\n"
    "\n"
    "Shows the resources of an installer, whether it is signed, by whom and\n"
    "whether the signature verifies (with osslsigncode), its version resource\n"
    "and icon sizes, its decrypted configuration, its logo, the entries and\n"
    "SHA-256 of its package, and whether the package has the configuration's\n"
    "\"sha256\".\n"
    "\n"
    "Options:\n"
    "      --ca-file FILE   trust these certificate authorities (PEM) when\n"
    "                       verifying the signature (default: the system's)\n"
    "  -h, --help           show this help\n";

const char kListHelp[] =
    "Usage: mkinstaller list UNINST.exe\n"
    "\n"
    "Shows the installed-file list that the installer recorded, encrypted, in\n"
    "the uninstaller of an installed application (its \"install\"/\"list\"\n"
    "resource), one path a line.\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this help\n";

const rt::ResourceId kSystem = rt::ResourceId::of_text(format::kResourceType);
const rt::ResourceId kLogo = rt::ResourceId::of_text(format::kLogoResource);
const rt::ResourceId kRecord = rt::ResourceId::of_text(format::kRecordResource);
const rt::ResourceId kPackage = rt::ResourceId::of_text(format::kPackageResource);

// "SYSTEM/102": a resource of setup.exe as inspect names it.
std::string system_resource_name(const char* name) { return std::string(format::kResourceType) + "/" + name; }

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
int on_program(const std::string& command, const Args& args, const char* help, Body body,
               std::vector<OptionSpec> specs = {}, Parsed* parsed = nullptr) {
  auto p = parse(command, args, specs);
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
  if (parsed) *parsed = *p;
  return body(path, pe);
}

std::string describe_package(std::uint64_t size, const std::vector<std::string>& names) {
  return "ZIP archive, " + std::to_string(names.size()) + (names.size() == 1 ? " entry, " : " entries, ") +
         std::to_string(size) + " bytes";
}

// The record as setup.exe reads it: every key, as JSON writes it.
std::string describe_record(const format::Record& record) {
  std::string text = "{";
  for (const char* key : format::kConfigKeys)
    text += std::string(text.size() > 1 ? ",\n  " : "\n  ") + in_quotes(key) + ": " +
            json_quoted(rt::utf8_from_cp936(format::record_value(record, key).view()));
  return text + "\n}\n";
}

// What the installer will do with the record's "sha256".
std::string package_check(const format::Record& record, const std::string* package) {
  const std::string label = std::string(format::kKeySha256) + ": ";
  std::string digest = lower_ascii(record.package_sha256.str());
  if (digest.empty()) return label + "none, the package is not checked\n";
  if (record.install_type != format::InstallType::kDisk)
    return label + digest + ", the downloaded package must have it\n";
  std::string carried = package ? installer::sha256_hex(*package) : installer::sha256_hex("");
  return carried == digest ? label + digest + ", the carried package has it\n"
                           : label + digest + ", but the carried package has " + carried +
                                 ": this installer will refuse its package\n";
}

}  // namespace

const char* help_text(const std::string& command) {
  if (command.empty()) return kMainHelp;
  if (command == "build") return kBuildHelp;
  if (command == "check") return kCheckHelp;
  if (command == "pack") return kPackHelp;
  if (command == "inspect") return kInspectHelp;
  if (command == "list") return kListHelp;
  return "";
}

namespace {

// Where a PNG image's last chunk (IEND) ends: data after it is not part of
// the image.
std::size_t png_end(const std::string& png) {
  std::size_t at = 8;
  while (at + 12 <= png.size()) {
    std::size_t length = std::size_t{static_cast<unsigned char>(png[at])} << 24 |
                         std::size_t{static_cast<unsigned char>(png[at + 1])} << 16 |
                         std::size_t{static_cast<unsigned char>(png[at + 2])} << 8 |
                         static_cast<unsigned char>(png[at + 3]);
    if (length > png.size() - at - 12) break;
    bool end = png.compare(at + 4, 4, "IEND") == 0;
    at += 12 + length;
    if (end) return at;
  }
  return png.size();
}

std::string plural(std::uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

const std::vector<OptionSpec> kBuildOptions = {
    {"config", 'c'},        {"logo", 'l'},          {"icon", 0},
    {"package", 'p'},       {"package-dir", 0},     {"sha256", 0},
    {"stub", 's'},          {"out", 'o'},           {"copyright", 0},
    {"sign-pkcs12", 0},     {"sign-password-file", 0}, {"sign-password-env", 0},
    {"sign-timestamp", 0},  {"sign-command", 0}};

// The largest package a "disk" installer carries. setup.exe is a 32-bit
// program: Windows maps the whole file, package included, into one range of
// its 2 GB address space, beside the libraries and heaps it needs. Under
// Wine an 1800 MB package still started and 1950 MB did not (see
// docs/reliability.md); 1 GB leaves room for what installing loads and for
// Windows placing its libraries elsewhere than Wine.
constexpr std::uint64_t kDiskPackageLimit = std::uint64_t{1024} << 20;

std::string megabytes(std::uint64_t bytes) {
  char text[64];
  if (bytes % (1 << 20) == 0)
    std::snprintf(text, sizeof text, "%llu MB", static_cast<unsigned long long>(bytes >> 20));
  else
    std::snprintf(text, sizeof text, "%.1f MB (%llu bytes)", static_cast<double>(bytes) / (1 << 20),
                  static_cast<unsigned long long>(bytes));
  return text;
}

// The package as the writer copies it, hashed on the way; the writer reads
// it once, from its start to its end.
class HashingSource : public rt::ResourceSource {
 public:
  explicit HashingSource(std::shared_ptr<rt::ResourceSource> source)
      : source_(std::move(source)), progress_("writing the installer", source_->size()) {}
  std::uint64_t size() const override { return source_->size(); }
  bool read_at(std::uint64_t offset, void* buffer, std::size_t n) override {
    if (!source_->read_at(offset, buffer, n)) return false;
    if (offset != next_) in_order_ = false;
    hash_.update(buffer, n);
    next_ = offset + n;
    progress_.step(n);
    return true;
  }
  // The digest of what was read, "" when it was not read once in order.
  std::string digest() {
    progress_.end();
    if (digest_.empty() && in_order_ && next_ == size()) digest_ = hash_.hex_digest();
    return digest_;
  }

 private:
  std::shared_ptr<rt::ResourceSource> source_;
  ByteProgress progress_;
  installer::Sha256 hash_;
  std::uint64_t next_ = 0;
  bool in_order_ = true;
  std::string digest_;
};

// Bytes a signature may change: their file offset and length.
struct Field {
  std::uint64_t at = 0;
  std::size_t size = 0;
};

// Hashes bytes at `at` onwards with the fields' bytes taken as zeros.
void hash_without(installer::Sha256& hash, std::uint64_t at, const char* data, std::size_t n,
                  const std::vector<Field>& fields) {
  std::string copy;
  for (const Field& f : fields) {
    if (!f.at || f.at + f.size <= at || f.at >= at + n) continue;
    if (copy.empty()) copy.assign(data, n);
    for (std::uint64_t i = std::max(f.at, at); i < std::min<std::uint64_t>(f.at + f.size, at + n); ++i)
      copy[static_cast<std::size_t>(i - at)] = '\0';
  }
  hash.update(copy.empty() ? data : copy.data(), n);
}

// Where the installer goes (nowhere for a dry run): counted, and hashed for
// the comparison with its signed form.
class FileSink : public rt::ByteSink {
 public:
  FileSink(TempFile* file, std::vector<Field> fields) : file_(file), fields_(std::move(fields)) {}
  bool write(const char* data, std::size_t n) override {
    if (!fields_.empty()) hash_without(hash_, size, data, n, fields_);
    size += n;
    return !file_ || file_->write(data, n, &why);
  }
  bool write_at(std::uint64_t offset, const char* data, std::size_t n) override {
    return !file_ || file_->write_at(offset, data, n, &why);
  }
  std::string digest() { return hash_.hex_digest(); }

  std::uint64_t size = 0;
  std::string why;
  const std::vector<Field>& fields() const { return fields_; }

 private:
  TempFile* file_;
  std::vector<Field> fields_;
  installer::Sha256 hash_;
};

// The digest FileSink gives, of the first `n` bytes of a file.
std::string unsigned_digest(rt::ResourceSource& file, std::uint64_t n, const std::vector<Field>& fields) {
  installer::Sha256 hash;
  std::string buffer(1 << 20, '\0');
  for (std::uint64_t done = 0; done < n;) {
    std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), n - done));
    if (!file.read_at(done, buffer.data(), piece)) return "";
    hash_without(hash, done, buffer.data(), piece, fields);
    done += piece;
  }
  return hash.hex_digest();
}

bool copy_into(rt::ResourceSource& from, TempFile& to, std::string* why) {
  std::string buffer(1 << 20, '\0');
  for (std::uint64_t done = 0; done < from.size();) {
    std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), from.size() - done));
    if (!from.read_at(done, buffer.data(), piece)) {
      *why = "cannot read the signed file";
      return false;
    }
    if (!to.write(buffer.data(), piece, why)) return false;
    done += piece;
  }
  return true;
}

// What one run of build (or check) works on, filled in step by step: the
// options, then each input read and checked, then the installer made.
struct BuildJob {
  std::string command;
  bool dry_run = false;
  std::string config_path, out_path, logo_path, icon_path, package_path, package_dir, stub_path, copyright;
  std::string given_digest;  // --sha256, lower case
  SignOptions sign;

  std::optional<std::string> config_text;
  std::optional<Config> config;
  std::string type;  // "net" or "disk"
  std::optional<std::string> logo;
  Image logo_image;
  std::string logo_note;  // why the logo is carried scaled
  std::vector<IconImage> icon;
  PrivateFolder scratch;  // where --package-dir is packed
  std::shared_ptr<rt::ResourceSource> package = std::make_shared<StringSource>(empty_zip());
  std::string package_name;  // the package as messages name it
  std::vector<std::string> entries;
  std::uint64_t package_size = 0;
  std::string package_digest;  // of the package given (or the empty archive)
  std::string digest;          // the record's "sha256"
  rt::PeResources pe;          // the stub, then the installer
  rt::Bytes record;

  std::shared_ptr<HashingSource> carried;  // the package as it is written
  std::string file_name;                   // the installer's file name
  std::string summary;                     // what the last line reports
  DotnetPlan dotnet;                       // the prerequisite it fetches and how it checks it
};

// A configuration problem, at its line when it has one.
int fail_at(const std::string& path, const Problem& problem) {
  return fail(path + (problem.line ? ":" + std::to_string(problem.line) : ""), problem.message);
}

// The options, each named once; the errors a command line alone shows.
int settle_options(BuildJob& job, const Parsed& p) {
  if (!p.operands.empty()) return usage_error(job.command, "unexpected operand '" + p.operands[0] + "'");
  job.config_path = option(p, "config");
  job.out_path = option(p, "out");
  job.logo_path = option(p, "logo");
  job.package_path = option(p, "package");
  job.package_dir = option(p, "package-dir");
  job.icon_path = option(p, "icon");
  job.stub_path = option(p, "stub");
  job.copyright = option(p, "copyright");
  if (job.config_path.empty()) return usage_error(job.command, "missing --config CONFIG.json");
  if (job.out_path.empty() && !job.dry_run) return usage_error(job.command, "missing --out OUT.exe");
  if (!job.package_path.empty() && !job.package_dir.empty())
    return usage_error(job.command, "give either --package or --package-dir, not both");
  job.given_digest = lower_ascii(option(p, "sha256"));
  if (p.options.count("sha256") && !is_sha256(job.given_digest))
    return usage_error(job.command, "--sha256 needs 64 hexadecimal digits, not '" + option(p, "sha256") + "' (" +
                                        std::to_string(job.given_digest.size()) + " characters)");
  job.sign = SignOptions{option(p, "sign-pkcs12"), option(p, "sign-password-file"), option(p, "sign-password-env"),
                         option(p, "sign-timestamp"), option(p, "sign-command")};
  std::string why;
  if (!check_sign_options(job.sign, &why)) return usage_error(job.command, why);
  return 0;
}

int read_configuration(BuildJob& job) {
  job.config_text = read_input(job.config_path);
  if (!job.config_text) return 1;
  Problem problem;
  job.config = check_config(*job.config_text, &problem);
  if (!job.config) return fail_at(job.config_path, problem);
  job.type = job.config->value(format::kKeyInstallType);
  return 0;
}

// The logo as the installer will draw it: 256 x 256 at most, square.
int read_logo(BuildJob& job) {
  if (job.logo_path.empty()) return 0;
  job.logo = read_input(job.logo_path);
  if (!job.logo) return 1;
  std::string why;
  unsigned w = 0, h = 0;
  if (!check_png(*job.logo, &w, &h, &why) || !decode_png_image(*job.logo, &job.logo_image, &why))
    return fail(job.logo_path, why);
  std::size_t end = png_end(*job.logo);
  std::string reason = w != h                   ? "is not square"
                       : (w > 1024 || h > 1024) ? "is larger than 1024 x 1024"
                       : end < job.logo->size() ? "carries " + plural(job.logo->size() - end, "byte", "bytes") +
                                                      " after its image"
                                                : "";
  if (!reason.empty()) {
    job.logo_image = fit_square(job.logo_image, 256);
    job.logo = encode_png(job.logo_image);
    job.logo_note = "the logo (" + std::to_string(w) + " x " + std::to_string(h) + ") " + reason +
                    ": the installer carries it scaled to 256 x 256 (" + plural(job.logo->size(), "byte", "bytes") +
                    ")";
  }
  return 0;
}

int read_icon(BuildJob& job) {
  if (job.icon_path.empty()) return 0;
  auto bytes = read_input(job.icon_path);
  if (!bytes) return 1;
  std::string why;
  if (!parse_ico(*bytes, &job.icon, &why)) return fail(job.icon_path, why);
  return 0;
}

// --package-dir packed into this run's own folder; *package_file names the archive.
int pack_package_dir(BuildJob& job, std::string* package_file) {
  if (job.type == format::kInstallTypeNet)
    return usage_error(job.command, "install type " + in_quotes(format::kInstallTypeNet) +
                                        " downloads its package: pack the folder with 'mkinstaller pack', "
                                        "upload the archive, and give it with --package for its digest");
#ifdef MKINSTALLER_HAS_PACK
  if (!job.scratch.ok()) return fail("", "cannot make a temporary folder to pack in");
  std::string file, why;
  *package_file = job.scratch.path() + "/package.zip";
  PackResult packed;
  if (!pack_folder(job.package_dir, *package_file, find_companion(format::kUninstallerFile), &packed, &file, &why))
    return fail(file, why);
  job.package_name = job.package_dir;
  return 0;
#else
  return usage_error(job.command, "--package-dir is not available in this Windows build; pack with the Linux build");
#endif
}

// The package: carried by "disk"; for "net" only its digest is taken. It is
// read where it lies, piece by piece (it may be large): checked, hashed, and
// copied into the installer through the same open file.
int open_package(BuildJob& job) {
  job.package_name = job.package_path;
  std::string package_file = job.package_path, why;
  if (!job.package_dir.empty())
    if (int rc = pack_package_dir(job, &package_file)) return rc;
  if (!package_file.empty()) {
    auto file = std::make_shared<InputFile>();
    if (!file->open(package_file, &why)) return fail(job.package_name, why);
    job.package = std::move(file);
  }
  if (job.type == format::kInstallTypeDisk && job.package->size() > kDiskPackageLimit)
    return fail(job.package_name,
                "the package is " + megabytes(job.package->size()) + "; a " + in_quotes(format::kInstallTypeDisk) +
                    " installer carries at most " + megabytes(kDiskPackageLimit) +
                    " (setup.exe is a 32-bit program, which Windows maps whole into its 2 GB of address space). "
                    "Use install type " + in_quotes(format::kInstallTypeNet) +
                    ": upload the package and give its address in " + in_quotes(format::kKeyPackageUrl));
  if (!check_package(*job.package, &job.entries, &why)) return fail(job.package_name, why);
  job.package_digest = package_sha256(*job.package);
  if (job.package_digest.empty()) return fail(job.package_name, "cannot read the file");
  job.package_size = job.package->size();
  // "net" carries the empty archive: its package is downloaded.
  if (job.type == format::kInstallTypeNet) job.package = std::make_shared<StringSource>(empty_zip());
  return 0;
}

// The digest the installer will check its package against: the package's
// own when the builder has it ("disk" always has one, at worst the empty
// archive), else --sha256, else the configuration's. A digest the publisher
// wrote that disagrees is an error; a missing "sha256" is added to the
// configuration.
int settle_digest(BuildJob& job) {
  const std::string sha256 = in_quotes(format::kKeySha256);
  const std::string& given = job.given_digest;
  const bool has_configured = job.config->values.count(format::kKeySha256) > 0;
  const std::string configured = lower_ascii(job.config->value(format::kKeySha256));
  if (!given.empty() && has_configured && given != configured)
    return fail(job.config_path, sha256 + " is " + configured + " but --sha256 gives " + given + "; they must agree");
  const std::string wanted = given.empty() ? configured : given;
  if (!job.package_name.empty() || job.type == format::kInstallTypeDisk) {
    job.digest = job.package_digest;
    if (!wanted.empty() && wanted != job.digest) {
      std::string source = given.empty() ? job.config_path + " has " + sha256 + " " : "--sha256 gives ";
      return fail(job.package_name.empty() ? job.config_path : job.package_name,
                  (job.package_name.empty() ? "the empty package carried without --package has SHA-256 "
                                            : "the package's SHA-256 is ") +
                      job.digest + ", but " + source + wanted);
    }
  } else {
    job.digest = wanted;
  }
  // A downloaded package is always checked: without its digest anyone on
  // the way could hand the installer another one.
  if (job.digest.empty())
    return fail(job.config_path,
                "install type " + in_quotes(format::kInstallTypeNet) +
                    " needs the SHA-256 of the package it downloads, so that the installer can check it: "
                    "give the package you upload with --package PKG.zip (build computes its digest), or its digest "
                    "with --sha256 HEX or as " + sha256 + " in the configuration (sha256sum PKG.zip prints it)");
  if (has_configured) return 0;
  Problem problem;
  job.config = add_sha256(*job.config_text, job.digest, &problem);
  return job.config ? 0 : fail(job.config_path, problem.message);
}

int load_stub(BuildJob& job) {
  if (job.stub_path.empty()) {
    auto found = find_companion("setup.exe");
    if (!found) return fail("", "no setup.exe next to mkinstaller or in $MKINSTALLER_HOME; name one with --stub");
    job.stub_path = *found;
  }
  auto stub = read_input(job.stub_path);
  if (!stub) return 1;
  std::string why;
  if (!check_stub(*stub, &job.pe, &why)) return fail(job.stub_path, why);
  // Which .NET Framework installer it fetches for "framework", and how it proves it.
  job.dotnet = dotnet_plan(*stub, job.config->value(format::kKeyFramework), false);
  if (!job.dotnet.problem.empty()) return fail(job.stub_path, job.dotnet.problem);
  return 0;
}

int check_out_name(BuildJob& job) {
  std::string why;
  if (!job.out_path.empty() &&
      !check_output(job.out_path,
                    {job.config_path, job.logo_path, job.icon_path, job.package_path, job.stub_path, job.sign.pkcs12,
                     job.sign.password_file},
                    &why))
    return fail(job.out_path, why);
  return 0;
}

// The record sealed, and read back as setup.exe reads it.
int make_record(BuildJob& job) {
  Problem problem;
  std::optional<rt::Bytes> sealed = seal_checked_record(*job.config, &problem);
  if (!sealed) return fail_at(job.config_path, problem);
  job.record = std::move(*sealed);
  return 0;
}

// Made from the logo; without one, from the logo the stub shows.
void make_icon(BuildJob& job) {
  if (!job.icon.empty()) return;
  Image source = job.logo_image;
  const std::string* standard = job.pe.find(kSystem, kLogo);
  std::string why;
  if (!job.logo && standard && !decode_png_image(*standard, &source, &why)) source = Image{};
  if (source.width) job.icon = icon_from_image(fit_square(source, 256));
}

// Warnings only once every check has passed.
void warn_about(const BuildJob& job) {
  const rt::PeResources& pe = job.pe;
  if (!pe.find(kSystem, kRecord) || !pe.find(kSystem, kPackage))
    warn(job.stub_path,
         "not the setup.exe of mkinstaller (it lacks the installer's resources); the result may not install");
  else if (!pe.find(kSystem, kRecord)->empty())
    warn(job.stub_path, "already a configured installer; its configuration, logo and package are replaced");
  if (!job.logo_note.empty()) warn(job.logo_path, job.logo_note);
  if (job.type == format::kInstallTypeDisk && job.package_name.empty())
    warn(job.config_path, "install type " + in_quotes(format::kInstallTypeDisk) +
                              " without --package: the installer carries an empty package");
  if (!job.package_name.empty())
    for (const std::string& w : package_warnings(job.entries, *job.config)) warn(job.package_name, w);
  if (!job.dotnet.note.empty()) warn(job.stub_path, job.dotnet.note);
  if (!job.logo && !pe.find(kSystem, kLogo)) warn("", "no --logo: the installer shows no logo");
}

// The stub's resources replaced by the installer's: logo, record, package
// (streamed when written), version and icon.
void put_resources(BuildJob& job) {
  rt::PeResources& pe = job.pe;
  // Any language the stub had for these names would shadow ours.
  if (job.logo) {
    pe.remove(kSystem, kLogo);
    pe.set(kSystem, kLogo, 0, *job.logo);
  }
  pe.remove(kSystem, kRecord);
  pe.set(kSystem, kRecord, 0, std::string(job.record.view()));
  pe.remove(kSystem, kPackage);
  // The bytes copied are hashed again on the way: a package changed since
  // it was checked is caught, not carried.
  job.carried = std::make_shared<HashingSource>(job.package);
  pe.set_source(kSystem, kPackage, 0, job.carried);
  job.file_name = job.out_path.empty() ? "setup.exe" : ustr(upath(job.out_path).filename());
  set_version(pe, version_info_for(*job.config, job.copyright, job.file_name));
  if (!job.icon.empty()) set_icon(pe, job.icon);
}

// What the installer holds, for the last line.
void describe(BuildJob& job) {
  const Config& config = *job.config;
  std::string version = config.value(format::kKeySoftVersion);
  job.summary = "): " + in_quotes(config.value(format::kKeySoftName)) + (version.empty() ? "" : " " + version) +
                ", install type " + job.type;
  if (job.type == format::kInstallTypeNet)
    job.summary += ", package downloaded from " + config.value(format::kKeyPackageUrl);
  else
    job.summary += ", package " + describe_package(job.package_size, job.entries);
  if (job.logo)
    job.summary += ", logo " + std::to_string(job.logo_image.width) + " x " + std::to_string(job.logo_image.height);
  job.summary += ", " + in_quotes(format::kKeySha256) + " " + job.digest;
  if (!job.dotnet.line.empty()) job.summary += "; " + job.dotnet.line;
}

// Whether the installer was made whole, with the package that was checked.
int check_written(BuildJob& job, const FileSink& sink) {
  if (!sink.why.empty()) return fail(job.out_path, sink.why);
  const std::string carried_digest =
      job.type == format::kInstallTypeNet ? installer::sha256_hex(empty_zip()) : job.package_digest;
  if (job.carried->digest() != carried_digest)
    return fail(job.package_name, "the package changed while the installer was being written; nothing was written");
  return 0;
}

int report_dry_run(BuildJob& job) {
  // Written nowhere, but every byte made and counted.
  FileSink sink(nullptr, {});
  std::string why;
  if (!job.pe.save(sink, &why)) return fail(job.stub_path, "cannot take the resources: " + why);
  if (int rc = check_written(job, sink)) return rc;
  out("checked: " + (job.out_path.empty() ? std::string("the installer") : job.out_path) + " would be written (" +
      plural(sink.size, "byte", "bytes") + job.summary + (job.sign.any() ? ", then signed" : "") +
      "; nothing was written\n");
  return 0;
}

// Signs the installer built at built_path and puts it under its name, once
// the signed file is shown to carry what was built; *size becomes the
// signed file's.
int sign_built(BuildJob& job, const std::string& built_path, FileSink& sink, std::uint64_t* size) {
  std::string why;
  if (!sign_file(built_path, job.sign, &why)) return fail(job.out_path, why);
  // The signature may change the checksum and its directory entry and
  // append itself; anything else means the signing changed the installer.
  InputFile signed_file;
  if (!signed_file.open(built_path, &why)) return fail(job.out_path, why);
  if (signed_file.size() < *size || unsigned_digest(signed_file, *size, sink.fields()) != sink.digest())
    return fail(job.out_path, "the signed file is not the installer that was built (the signing changed it)");
  TempFile copy;
  if (!copy.create(job.out_path, &why) || !copy_into(signed_file, copy, &why) || !copy.commit(&why))
    return fail(job.out_path, why);
  *size = signed_file.size();
  job.summary.insert(0, ", signed");
  return 0;
}

int write_installer(BuildJob& job) {
  // Signing, the last change, covers every resource written here; it
  // happens in a folder of this run's own, under the installer's name.
  const bool signing = job.sign.any();
  PrivateFolder sign_folder;
  const std::string built_path = signing ? sign_folder.path() + "/" + job.file_name : job.out_path;
  if (signing && !sign_folder.ok()) return fail("", "cannot make a temporary file to sign: no temporary folder");
  std::string why;
  TempFile built;
  if (!built.create(built_path, &why)) return fail(signing ? "" : job.out_path, why);
  const rt::PeHeaderInfo& header = job.pe.header();
  FileSink sink(&built, signing ? std::vector<Field>{{header.checksum_field, 4}, {header.certificate_entry, 8}}
                                : std::vector<Field>{});
  if (!job.pe.save(sink, &why))
    return sink.why.empty() ? fail(job.stub_path, "cannot take the resources: " + why) : fail(job.out_path, sink.why);
  if (int rc = check_written(job, sink)) return rc;
  job.pe = rt::PeResources();
  std::uint64_t size = sink.size;
  if (!signing) {
    if (!built.commit(&why)) return fail(job.out_path, why);
  } else {
    if (!built.commit(&why)) return fail("", "cannot make a temporary file to sign: " + why);
    if (int rc = sign_built(job, built_path, sink, &size)) return rc;
  }
  // Runnable where the stub was (Wine runs programs with the execute bit).
  std::error_code ec;
  std::filesystem::permissions(upath(job.out_path), std::filesystem::status(upath(job.stub_path), ec).permissions(),
                               ec);
  out("wrote " + job.out_path + " (" + plural(size, "byte", "bytes") + job.summary + "\n");
  return 0;
}

// build, and check (build --dry-run): every check, then the installer
// written (unless a dry run), signed last.
int build(const std::string& command, const Parsed& p, bool dry_run) {
  BuildJob job;
  job.command = command;
  job.dry_run = dry_run;
  if (int rc = settle_options(job, p)) return rc;
  // Every check before anything is written, in this order.
  using Step = int (*)(BuildJob&);
  const Step checks[] = {read_configuration, read_logo, read_icon,      open_package,
                         settle_digest,      load_stub, check_out_name, make_record};
  for (Step step : checks)
    if (int rc = step(job)) return rc;
  make_icon(job);
  warn_about(job);
  put_resources(job);
  describe(job);
  return dry_run ? report_dry_run(job) : write_installer(job);
}

}  // namespace

int run_build(const Args& args) {
  // --dry-run takes no value.
  Args rest;
  bool dry_run = false;
  for (const std::string& a : args) {
    if (a == "--dry-run")
      dry_run = true;
    else
      rest.push_back(a);
  }
  auto p = parse("build", rest, kBuildOptions);
  if (!p) return 1;
  if (p->help) {
    out(kBuildHelp);
    return 0;
  }
  return build("build", *p, dry_run);
}

int run_check(const Args& args) {
  auto p = parse("check", args, kBuildOptions);
  if (!p) return 1;
  if (p->help) {
    out(kCheckHelp);
    return 0;
  }
  return build("check", *p, true);
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
  auto uninstaller = find_companion(format::kUninstallerFile);
  std::string file, why;
  if (!check_output(out_path, {}, &why)) return fail(out_path, why);
  PackResult packed;
  if (!pack_folder(p->operands[0], out_path, uninstaller, &packed, &file, &why)) return fail(file, why);
  if (!uninstaller)
    warn(p->operands[0], std::string("no ") + format::kUninstallerFile +
                             " in the folder, and none next to mkinstaller or in $MKINSTALLER_HOME to add: the "
                             "installed files cannot be uninstalled");
  out("wrote " + out_path + ": " + plural(packed.files, "file", "files") + ", " +
      plural(packed.folders, "folder", "folders") +
      (packed.added_uninstaller ? std::string(", with the uninstaller added as {app}/") + format::kUninstallerFile
                                : "") +
      "\n");
  return 0;
#else
  return fail("",
              "pack is not available in this Windows build; use the Linux build or a ZIP tool that stores UTF-8 names");
#endif
}

int run_inspect(const Args& args) {
  Parsed parsed;
  return on_program("inspect", args, kInspectHelp, [&](const std::string& path, const rt::PeResources& pe) {
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
    const rt::PeHeaderInfo& h = pe.header();
    text += "signature: " +
            (h.certificate_size ? describe_signature(path, option(parsed, "ca-file")) : std::string("not signed")) + "\n";
    for (const rt::ResourceInfo& r : pe.list()) {
      VersionInfo info;
      if (!(r.type == rt::ResourceId::of_number(16)) || !read_version_resource(*pe.find(r.type, r.name), &info))
        continue;
      text += "version (#16/" + r.name.display() + "):\n";
      for (const auto& [key, value] : info.strings) text += "  " + key + ": " + value + "\n";
      break;
    }
    std::vector<IconImage> icon = program_icon(pe);
    if (!icon.empty()) {
      text += "icon:";
      for (const IconImage& i : icon)
        text += " " + std::to_string(i.width) + "x" + std::to_string(i.height) +
                (i.data.compare(0, 4, "\x89PNG") == 0 ? " (PNG)" : "");
      text += "\n";
    }
    if (const std::string* logo = pe.find(kSystem, kLogo)) {
      unsigned w = 0, h = 0;
      std::string why;
      text += "logo (" + system_resource_name(format::kLogoResource) + "): " +
              (check_png(*logo, &w, &h, &why) ? "PNG image " + std::to_string(w) + " x " + std::to_string(h) : why) +
              ", " + std::to_string(logo->size()) + " bytes\n";
    }
    const std::string* package = pe.find(kSystem, kPackage);
    if (package) {
      std::vector<std::string> names;
      std::string why;
      bool ok = check_package(*package, &names, &why);
      text += "package (" + system_resource_name(format::kPackageResource) +
              "): " + (ok ? describe_package(package->size(), names) : why) + ", sha256 " +
              installer::sha256_hex(*package) + "\n";
      for (const std::string& n : names) text += "  " + n + "\n";
    }
    const std::string record_name = system_resource_name(format::kRecordResource);
    if (const std::string* sealed = pe.find(kSystem, kRecord)) {
      std::optional<format::Record> record = format::open_record(rt::Bytes(*sealed));
      text += "configuration (" + record_name + ", " + std::to_string(sealed->size()) + " bytes encrypted)";
      if (record)
        text += ", as the installer reads it:\n" + describe_record(*record) + package_check(*record, package) +
                dotnet_inspect_text(path, rt::utf8_from_cp936(record->framework.view()));
      else
        text += sealed->empty() ? ": empty, the installer is not configured\n"
                                : ": the installer cannot read it (not a JSON object)\n";
    } else {
      text += "no configuration (" + record_name + "): this is not a configured installer\n";
    }
    out(text);
    return 0;
  }, {{"ca-file", 0}}, &parsed);
}

int run_list(const Args& args) {
  return on_program("list", args, kListHelp, [](const std::string& path, const rt::PeResources& pe) {
    const std::string* list = pe.find(rt::ResourceId::of_text(format::kListResourceType),
                                      rt::ResourceId::of_text(format::kListResourceName));
    if (!list)
      return fail(path, "no installed-file list (resource " + in_quotes(format::kListResourceType) + "/" +
                            in_quotes(format::kListResourceName) + "); the installer records it when it installs");
    const rt::Text installed = format::open_installed_list(rt::Bytes(*list));
    std::string lines;
    for (const format::ListedPath& line : format::ListLines(installed.view()))
      lines += rt::utf8_from_cp936(line.path) + "\n";
    if (lines.empty()) warn(path, "the installed-file list is empty");
    out(lines);
    return 0;
  });
}

}  // namespace mkinstaller
