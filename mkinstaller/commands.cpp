#include "mkinstaller/commands.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
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
#include "mkinstaller/options.h"
#include "mkinstaller/pack.h"
#include "mkinstaller/sign.h"

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
    "  list      show the installed-file list an installation recorded\n"
    "  help      show the help of a command\n"
    "\n"
    "Options:\n"
    "  -h, --help     show this help\n"
    "      --version  show the version\n"
    "\n"
    "Run 'mkinstaller <command> --help' for the options of a command.\n"
    "\n"
    "Environment:\n"
    "  MKINSTALLER_HOME   the folder holding setup.exe and uninst.exe (default:\n"
    "                     the folder of mkinstaller itself)\n"
    "  SOURCE_DATE_EPOCH  the time (seconds since 1970) pack gives every entry,\n"
    "                     for packages that are the same bytes from the same files\n"
    "\n"
    "Exit status: 0 when the command succeeded, 1 on any error (output that\n"
    "cannot be written completely included); inspect adds codes for what it\n"
    "finds wrong (see 'mkinstaller inspect --help').\n";

const char kBuildHelp[] =
    "Usage: mkinstaller build --config CONFIG.json [--logo LOGO.png] [--icon APP.ico]\n"
    "                         [--package PKG.zip | --package-dir DIR] [--sha256 HEX]\n"
    "                         [--scope user|machine] [--mirror URL]... [--copyright TEXT]\n"
    "                         [--stub setup.exe]\n"
    "                         [signing options] [--dry-run] --out OUT.exe\n"
    "\n"
    "Writes a configured installer: a copy of the stub program with the\n"
    "encrypted configuration, the logo and the package as its resources, a\n"
    "version resource and an icon; signed last when asked. Everything is\n"
    "checked first; on any error nothing is written. The installer appears\n"
    "under its name only when complete (and signed, and its signature proven).\n"
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
    "                          recorded (the installer carries no package)\n"
    "      --package-dir DIR   pack this folder as the package (see 'pack'; \"disk\")\n"
    "      --allow-empty       a \"disk\" installer without a package (it installs\n"
    "                          nothing) is meant; without it, that is an error\n"
    "      --no-uninstaller    with --package-dir: a package without uninst.exe is\n"
    "                          meant (see 'pack')\n"
    "      --allow-relative-entries  entries named without \"{app}/\" or \"{tmp}/\"\n"
    "                          are meant: the installer writes them below the\n"
    "                          folder it was started from (often Downloads), and\n"
    "                          uninstalling leaves them; without it, such an\n"
    "                          entry is an error\n"
    "      --sha256 HEX        the SHA-256 of a \"net\" package that is not at hand\n"
    "                          (64 hexadecimal digits); a package that is given\n"
    "                          must have it\n"
    "      --scope SCOPE       who the installation is for, recorded as \"scope\":\n"
    "                          \"user\": this person only, in their own folders,\n"
    "                          without administrator rights (the installer asks\n"
    "                          for none: asInvoker); \"machine\": every user of the\n"
    "                          computer, in Program Files (requireAdministrator).\n"
    "                          Without it the installer keeps the older layout (a\n"
    "                          warning says what it does)\n"
    "      --mirror URL        a further http:// or https:// address of the \"net\"\n"
    "                          package, tried when the ones before it fail; may be\n"
    "                          given more than once (in the order tried); recorded\n"
    "                          as \"mirrors\" (addresses separated by blanks), which\n"
    "                          must agree when the configuration has it. Every\n"
    "                          address must give the same package (\"sha256\")\n"
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
    "      --sign-password-file FILE  the .p12 file's password, in this file (an\n"
    "                                 empty file: it has none)\n"
    "      --sign-password-env NAME   ... or in this environment variable (empty:\n"
    "                                 none); never on the command line\n"
    "      --sign-no-password         ... or the .p12 file has no password\n"
    "      --sign-timestamp URL       an RFC 3161 time-stamping server; give it\n"
    "                                 again for a second server, tried when the\n"
    "                                 first gives no time-stamp (each failure is\n"
    "                                 named: no answer, or the HTTP status)\n"
    "      --sign-command 'CMD {file}'  sign with your own command instead (a\n"
    "                                 hardware token, a signing service); {file}\n"
    "                                 is the installer's path; it signs in place\n"
    "      --sign-ca-file PEM         the certificate authorities the signature\n"
    "                                 must lead to (a private root; default: the\n"
    "                                 system's)\n"
    "Every signature is proven with osslsigncode before the installer is put\n"
    "under its name: it must be there, verify, and leave the installer as built\n"
    "but for the signature; otherwise nothing is written. build, check and\n"
    "--dry-run open the .p12 file with its password first and check that its\n"
    "certificate is valid now and allowed for code signing.\n"
    "\n"
    "Configuration keys (all texts): softname, softversion, urlremote, urlfull,\n"
    "framework, mainfile, installtype, companyname, companyurl, protocol, and the\n"
    "optional sha256 of the package and scope. \"installtype\" is \"net\"\n"
    "(download the package from \"urlremote\") or \"disk\" (the package is inside\n"
    "the installer). \"urlremote\", \"urlfull\", \"companyurl\" and \"protocol\" are\n"
    "http:// or https:// addresses when not empty; \"softversion\" is required\n"
    "and begins with a version such as 1.2.3 (not v1.2.3); \"framework\" is empty\n"
    "or a .NET Framework version such as 4.8 or 4.72; \"scope\" is \"user\" or\n"
    "\"machine\". Texts must fit code page 936, and are written as they are: the\n"
    "installer leaves \\u escapes undecoded and reads \\n as CR LF, so build\n"
    "refuses a text it would read otherwise.\n"
    "\n"
    "The version resource (the file's properties, the elevation prompt):\n"
    "ProductName \"softname\", FileDescription \"softname\" + \" \xE5\xAE\x89\xE8\xA3\x85\xE7\xA8\x8B\xE5\xBA\x8F\",\n"
    "CompanyName \"companyname\", FileVersion and ProductVersion \"softversion\",\n"
    "LegalCopyright --copyright, OriginalFilename the name of --out.\n"
    "\n"
    "The installer checks its package against \"sha256\" before unpacking it and\n"
    "refuses one that differs. build fills \"sha256\" in from the package it is\n"
    "given, or from --sha256; a digest in the configuration that disagrees with\n"
    "either is an error. A \"net\" installer needs one of them (--package,\n"
    "--sha256 or \"sha256\"): build refuses to make one that would not check its\n"
    "download.\n"
    "\n"
    "Package entries are named below \"{app}/\" (the installation folder) or\n"
    "\"{tmp}/\" (the temporary folder); others only with --allow-relative-entries.\n"
    "An entry with a \"..\" component, a drive (\"C:\") or another \":\", a device\n"
    "name (CON, PRN, AUX, NUL, COM1-9, LPT1-9) or a first \"/\" is an error (the\n"
    "installer refuses such a package as damaged and writes nothing of it), and\n"
    "so is a name Windows cannot hold: one with < > \" | ? * or a control\n"
    "character, a name ending in a dot or a space, one over 255 characters, or\n"
    "two entries that differ only in upper and lower case.\n"
    "\n"
    "Example:\n"
    "  mkinstaller build --config app.json --logo logo.png --package app.zip \\\n"
    "      --scope machine --sign-pkcs12 cert.p12 --sign-password-env CERT_PASSWORD \\\n"
    "      --sign-timestamp http://timestamp.example.com --out app-setup.exe\n";

const char kCheckHelp[] =
    "Usage: mkinstaller check --config CONFIG.json [build's options]\n"
    "\n"
    "Runs every check of 'build' (configuration, logo, icon, package, stub,\n"
    "output name, signing options, the .p12 file opened with its password, and\n"
    "each --sign-timestamp server asked for a time-stamp: an error when none\n"
    "gives one, a warning naming any that does not) and writes nothing: 'build\n"
    "--dry-run'. --out is optional here. Exit status 0 when build would succeed.\n"
    "\n"
    "Options: those of 'mkinstaller build --help'.\n";

const char kPackHelp[] =
    "Usage: mkinstaller pack DIR --out PKG.zip [--no-uninstaller] [signing options]\n"
    "\n"
    "Makes a package from an application folder: every file and folder below\n"
    "DIR becomes an entry \"{app}/\" + its path, with \"/\" separators and UTF-8\n"
    "names, which the installer unpacks into the installation folder. When DIR\n"
    "has no uninst.exe, the uninstaller shipped with mkinstaller is added as\n"
    "\"{app}/uninst.exe\"; when there is none to add, pack fails unless\n"
    "--no-uninstaller says that a package without an uninstaller is meant.\n"
    "\n"
    "Every file is opened once, from its folder, never through a link that\n"
    "leads out of DIR: links to files inside DIR are packed as those files,\n"
    "others are left out with a warning, and a file changed into a link while\n"
    "packing fails the run. A name code page 936 cannot spell exactly is an\n"
    "error (the installer lists installed files in that code page), and so is\n"
    "a name Windows cannot hold or opens as a device (see 'mkinstaller build\n"
    "--help': con.txt, a<b>.txt, a\\b.txt, a final dot or space, two names that\n"
    "differ only in case): found while the folder is listed, before anything\n"
    "is written. Entries\n"
    "come in one fixed order, with the files' times, or with SOURCE_DATE_EPOCH\n"
    "when it is set: the same files then give the same bytes.\n"
    "\n"
    "Options:\n"
    "  -o, --out FILE      the ZIP archive to write (required)\n"
    "      --no-uninstaller  add no uninstaller\n"
    "  -h, --help          show this help\n"
    "  --sign-pkcs12 FILE, --sign-password-file FILE, --sign-password-env NAME,\n"
    "  --sign-no-password, --sign-timestamp URL, --sign-command 'CMD {file}',\n"
    "  --sign-ca-file PEM  sign the uninstaller pack adds, as 'build' signs (see\n"
    "                      'mkinstaller build --help'); the installer then keeps\n"
    "                      its list of installed files in uninst.dat beside it,\n"
    "                      so that the installed uninst.exe stays signed\n"
#ifndef MKINSTALLER_HAS_PACK
    "\n"
    "This Windows build of mkinstaller cannot pack: use the Linux build or any\n"
    "ZIP tool that stores UTF-8 names.\n"
#endif
    ;

const char kInspectHelp[] =
    "Usage: mkinstaller inspect [--ca-file CA.pem] [--json] INSTALLER.exe\n"
    "\n"
    "Shows the resources of an installer, whether it is signed, by whom and\n"
    "whether the signature verifies (with osslsigncode), its version resource\n"
    "and icon sizes, the administrator rights its manifest asks for, its\n"
    "decrypted configuration and scope, its logo, the entries and SHA-256 of its\n"
    "package, and whether the installer will accept that package. The file is\n"
    "read piece by piece: memory stays small whatever its size.\n"
    "\n"
    "Options:\n"
    "      --ca-file FILE   trust these certificate authorities (PEM) when\n"
    "                       verifying the signature (default: the system's)\n"
    "      --json           print the same as one JSON object, for scripts\n"
    "  -h, --help           show this help\n"
    "\n"
    "Exit status:\n"
    "  0  nothing wrong found (an unsigned installer included)\n"
    "  1  the file cannot be read or is not a program, a usage error, or the\n"
    "     report cannot be written completely (a full disk, a closed pipe)\n"
    "  otherwise the sum of the problems found:\n"
    "  2  the signature does not verify, or cannot be verified here\n"
    "  4  the installer will refuse its package: it is not the configuration's\n"
    "     \"sha256\", is damaged, or has an entry the installer refuses to write\n"
    "  8  the installer cannot install: it carries no configuration or one it\n"
    "     cannot read, or a .NET Framework download it could never start\n";

const char kListHelp[] =
    "Usage: mkinstaller list UNINST.exe | uninst.dat\n"
    "\n"
    "Shows the installed-file list that the installer recorded for an\n"
    "installed application, one path a line: from uninst.dat beside the\n"
    "uninstaller when there is one (a signed uninstaller keeps its list there,\n"
    "so that it stays signed), else from the uninstaller's own \"install\"/\"list\"\n"
    "resource, where installations without a signed uninstaller keep it.\n"
    "\n"
    "Options:\n"
    "  -h, --help   show this help\n";

const char kHelpHelp[] =
    "Usage: mkinstaller help [COMMAND]\n"
    "\n"
    "Shows the help of COMMAND (build, check, pack, inspect, list, help), or of\n"
    "the tool without one: the same as 'mkinstaller COMMAND --help'.\n";

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

// The signing options, shared by build, check and pack.
const std::vector<OptionSpec> kSignOptions = {
    {"sign-pkcs12"},      {"sign-password-file"}, {"sign-password-env"}, {"sign-no-password", 0, OptionSpec::kFlag},
    {"sign-timestamp", 0, OptionSpec::kRepeated}, {"sign-command"}, {"sign-ca-file"}};

std::vector<OptionSpec> with_signing(std::vector<OptionSpec> specs) {
  specs.insert(specs.end(), kSignOptions.begin(), kSignOptions.end());
  return specs;
}

const std::vector<OptionSpec> kBuildOptions = with_signing({{"config", 'c'},
                                                            {"logo", 'l'},
                                                            {"icon"},
                                                            {"package", 'p'},
                                                            {"package-dir"},
                                                            {"sha256"},
                                                            {"scope"},
                                                            {"mirror", 0, OptionSpec::kRepeated},
                                                            {"stub", 's'},
                                                            {"out", 'o'},
                                                            {"copyright"},
                                                            {"allow-empty", 0, OptionSpec::kFlag},
                                                            {"allow-relative-entries", 0, OptionSpec::kFlag},
                                                            {"no-uninstaller", 0, OptionSpec::kFlag},
                                                            {"dry-run", 0, OptionSpec::kFlag}});

const std::vector<OptionSpec> kPackOptions = with_signing({{"out", 'o'}, {"no-uninstaller", 0, OptionSpec::kFlag}});

SignOptions sign_options(const Parsed& p) {
  return SignOptions{p.value("sign-pkcs12"),    p.value("sign-password-file"), p.value("sign-password-env"),
                     p.has("sign-no-password"), p.values("sign-timestamp"),    p.value("sign-command"),
                     p.value("sign-ca-file")};
}

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

// Reads a file named on the command line; prints the error when it cannot.
std::optional<std::string> read_input(const std::string& path) {
  std::string why;
  auto bytes = read_file(path, &why);
  if (!bytes) fail(path, why);
  return bytes;
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

#ifdef MKINSTALLER_HAS_PACK
// The uninstaller a package gets when its folder has none: ours, signed
// (in `folder`) when signing is asked for; or the reason it gets none.
PackOptions uninstaller_for(bool no_uninstaller, Signer* signer, const std::string& folder) {
  PackOptions options;
  if (no_uninstaller) return options;
  options.uninstaller = [signer, folder](std::string* why) -> std::string {
    auto found = find_companion(format::kUninstallerFile);
    if (!found) {
      *why = std::string("the folder has no ") + format::kUninstallerFile +
             ", and there is none next to mkinstaller or in $MKINSTALLER_HOME to add: the installed files could not "
             "be uninstalled; add one, or give --no-uninstaller when a package without an uninstaller is meant";
      return "";
    }
    if (!signer || !signer->options().any()) return *found;
    std::string signed_copy;
    return sign_copy(*signer, *found, folder, &signed_copy, why) ? signed_copy : "";
  };
  return options;
}
#endif

// What one run of build (or check) works on, filled in step by step: the
// options, then each input read and checked, then the installer made.
struct BuildJob {
  std::string command;
  bool dry_run = false;
  std::string config_path, out_path, logo_path, icon_path, package_path, package_dir, stub_path, copyright;
  std::string given_digest;  // --sha256, lower case
  std::string given_scope;   // --scope
  std::string given_mirrors;  // each --mirror, separated by blanks
  bool allow_empty = false, no_uninstaller = false;
  bool allow_relative = false;  // --allow-relative-entries
  Signer signer{SignOptions{}};

  std::optional<std::string> config_text;
  std::optional<Config> config;
  std::string type;  // "net" or "disk"
  std::string scope;  // the record's "scope": "user", "machine" or "" (the older layout)
  std::optional<std::string> logo;
  Image logo_image;
  std::string logo_note;  // why the logo is carried scaled
  std::vector<IconImage> icon;
  PrivateFolder scratch;  // where --package-dir is packed and its uninstaller signed
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
  job.config_path = p.value("config");
  job.out_path = p.value("out");
  job.logo_path = p.value("logo");
  job.package_path = p.value("package");
  job.package_dir = p.value("package-dir");
  job.icon_path = p.value("icon");
  job.stub_path = p.value("stub");
  job.copyright = p.value("copyright");
  job.allow_empty = p.has("allow-empty");
  job.no_uninstaller = p.has("no-uninstaller");
  job.allow_relative = p.has("allow-relative-entries");
  if (job.config_path.empty()) return usage_error(job.command, "missing --config CONFIG.json");
  if (job.out_path.empty() && !job.dry_run) return usage_error(job.command, "missing --out OUT.exe");
  if (!job.package_path.empty() && !job.package_dir.empty())
    return usage_error(job.command, "give either --package or --package-dir, not both");
  if (job.no_uninstaller && job.package_dir.empty())
    return usage_error(job.command, "--no-uninstaller goes with --package-dir");
  job.given_digest = lower_ascii(p.value("sha256"));
  if (p.has("sha256") && !is_sha256(job.given_digest))
    return usage_error(job.command, "--sha256 needs 64 hexadecimal digits, not '" + p.value("sha256") + "' (" +
                                        std::to_string(job.given_digest.size()) + " characters)");
  job.given_scope = p.value("scope");
  if (p.has("scope") && job.given_scope != format::kScopeUser && job.given_scope != format::kScopeMachine)
    return usage_error(job.command, "--scope is " + std::string(format::kScopeUser) + " or " + format::kScopeMachine +
                                        ", not '" + job.given_scope + "'");
  for (const std::string& mirror : p.values("mirror")) {
    if (!is_http_address(mirror))
      return usage_error(job.command, "--mirror needs an http:// or https:// address, not '" + mirror + "'");
    job.given_mirrors += (job.given_mirrors.empty() ? "" : " ") + mirror;
  }
  job.signer = Signer(sign_options(p));
  std::string why;
  if (!check_sign_options(job.signer.options(), &why)) return usage_error(job.command, why);
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

// --package-dir packed into this run's own folder; *package_file names the
// archive. The uninstaller it adds is signed like the installer (not for a
// dry run, which writes nothing anywhere).
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
  PackOptions options = uninstaller_for(job.no_uninstaller, job.dry_run ? nullptr : &job.signer, job.scratch.path());
  if (!pack_folder(job.package_dir, *package_file, options, &packed, &file, &why)) return fail(file, why);
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
  if (job.type == format::kInstallTypeDisk && package_file.empty() && job.package_dir.empty() && !job.allow_empty)
    return fail(job.config_path, "install type " + in_quotes(format::kInstallTypeDisk) +
                                     " without a package: the installer would install nothing; give --package "
                                     "PKG.zip or --package-dir DIR, or --allow-empty when that is meant");
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
  why = entry_names_problem(job.entries, job.allow_relative);
  if (!why.empty()) return fail(job.package_name, why);
  job.package_digest = package_sha256(*job.package);
  if (job.package_digest.empty()) return fail(job.package_name, "cannot read the file");
  job.package_size = job.package->size();
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
  job.config = add_key(*job.config_text, format::kKeySha256, job.digest, &problem);
  if (job.config) job.config_text = rt::utf8_from_cp936(job.config->record_text);
  return job.config ? 0 : fail(job.config_path, problem.message);
}

// Who the installation is for: --scope, or the configuration's "scope"
// (they must agree).
int settle_scope(BuildJob& job) {
  const std::string configured = job.config->value(format::kKeyScope);
  if (!job.given_scope.empty() && !configured.empty() && job.given_scope != configured)
    return fail(job.config_path, in_quotes(format::kKeyScope) + " is " + in_quotes(configured) + " but --scope gives " +
                                     job.given_scope + "; they must agree");
  job.scope = configured.empty() ? job.given_scope : configured;
  return 0;
}

// The scope recorded in the configuration when only --scope says it (after
// "sha256", which the digest step may add).
int record_scope(BuildJob& job) {
  if (job.given_scope.empty() || job.config->values.count(format::kKeyScope)) return 0;
  Problem problem;
  job.config = add_key(*job.config_text, format::kKeyScope, job.scope, &problem);
  return job.config ? 0 : fail(job.config_path, problem.message);
}

// The package's further addresses when --mirror gives them: recorded as
// "mirrors", or the same as the configuration's.
int record_mirrors(BuildJob& job) {
  if (job.given_mirrors.empty()) return 0;
  const std::string key = in_quotes(format::kKeyMirrors);
  if (job.config->values.count(format::kKeyMirrors)) {
    if (format::split_mirrors(job.config->value(format::kKeyMirrors)) == format::split_mirrors(job.given_mirrors))
      return 0;
    return fail(job.config_path, key + " is " + in_quotes(job.config->value(format::kKeyMirrors)) +
                                     " but --mirror gives " + in_quotes(job.given_mirrors) + "; they must agree");
  }
  Problem problem;
  job.config = add_key(rt::utf8_from_cp936(job.config->record_text), format::kKeyMirrors, job.given_mirrors, &problem);
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
  // A "user" installer must not ask for administrator rights: its manifest
  // says asInvoker (without a level, Windows would elevate a program named
  // setup on its own).
  if (job.scope == format::kScopeUser && execution_level(job.pe).empty())
    return fail(job.stub_path, "its manifest names no requestedExecutionLevel, so a " + in_quotes(format::kScopeUser) +
                                   " installer made from it could still ask for administrator rights");
  return 0;
}

int check_out_name(BuildJob& job) {
  std::string why;
  const SignOptions& sign = job.signer.options();
  if (!job.out_path.empty() &&
      !check_output(job.out_path,
                    {job.config_path, job.logo_path, job.icon_path, job.package_path, job.stub_path, sign.pkcs12,
                     sign.password_file, sign.ca_file},
                    &why))
    return fail(job.out_path, why);
  return 0;
}

// The .p12 file opened with its password, its certificate fit to sign now:
// a mistake there is found before anything is written, and by check.
int check_signing(BuildJob& job) {
  std::string why;
  // check and --dry-run also ask each time-stamp server, as signing would.
  if (!job.signer.check_certificate(job.stub_path, &why, job.dry_run))
    return fail(job.dry_run && why.rfind("time-stamping", 0) == 0 ? "" : job.signer.options().pkcs12, why);
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
  if (!job.package_name.empty())
    for (const std::string& w : package_warnings(job.entries, *job.config)) warn(job.package_name, w);
  if (!job.dotnet.note.empty()) warn(job.stub_path, job.dotnet.note);
  if (!job.signer.timestamp_warning().empty()) warn("", job.signer.timestamp_warning());
  if (!job.logo && !pe.find(kSystem, kLogo)) warn("", "no --logo: the installer shows no logo");
  if (job.scope.empty())
    warn(job.config_path, "no --scope: the installer keeps the older layout: on Windows 8 and later it installs into "
                          "the person's roaming profile (%APPDATA%\\" + job.config->value(format::kKeySoftName) +
                          "), registers the program for the whole machine and asks for administrator rights; give "
                          "--scope user (this person only, no administrator rights) or --scope machine (every "
                          "user, in Program Files)");
}

// The stub's resources replaced by the installer's: logo, record, package
// (streamed when written), version, icon and the rights the manifest asks for.
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
  // it was checked is caught, not carried. A "net" installer downloads its
  // package and carries none (not even the stub's empty archive).
  if (job.type != format::kInstallTypeNet) {
    job.carried = std::make_shared<HashingSource>(job.package);
    pe.set_source(kSystem, kPackage, 0, job.carried);
  }
  job.file_name = job.out_path.empty() ? "setup.exe" : ustr(upath(job.out_path).filename());
  set_version(pe, version_info_for(*job.config, job.copyright, job.file_name));
  if (!job.icon.empty()) set_icon(pe, job.icon);
  // Only the level changes; the rest of the stub's manifest stays as it is.
  set_execution_level(pe, job.scope == format::kScopeUser ? "asInvoker" : "requireAdministrator");
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
  if (!job.scope.empty()) job.summary += ", scope " + job.scope;
  if (!job.dotnet.line.empty()) job.summary += "; " + job.dotnet.line;
}

// Whether the installer was made whole, with the package that was checked.
int check_written(BuildJob& job, const FileSink& sink) {
  if (!sink.why.empty()) return fail(job.out_path, sink.why);
  if (job.carried && job.carried->digest() != job.package_digest)
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
      plural(sink.size, "byte", "bytes") + job.summary + (job.signer.options().any() ? ", then signed" : "") +
      "; nothing was written\n");
  return 0;
}

// Signs the installer built at built_path and puts it under its name once
// the signature is proven; *size becomes the signed file's.
int sign_built(BuildJob& job, const std::string& built_path, FileSink& sink, std::uint64_t* size) {
  std::string why;
  if (!job.signer.sign(built_path, BuiltProgram{*size, sink.fields(), sink.digest()}, &why))
    return fail(job.out_path, why + "; nothing was written");
  InputFile signed_file;
  TempFile copy;
  if (!signed_file.open(built_path, &why) || !copy.create(job.out_path, &why) ||
      !copy_into(signed_file, copy, &why) || !copy.commit(&why))
    return fail(job.out_path, why);
  *size = signed_file.size();
  job.summary.insert(0, ", signed" + job.signer.note());
  return 0;
}

int write_installer(BuildJob& job) {
  // Signing, the last change, covers every resource written here; it
  // happens in a folder of this run's own, under the installer's name.
  const bool signing = job.signer.options().any();
  PrivateFolder sign_folder;
  const std::string built_path = signing ? sign_folder.path() + "/" + job.file_name : job.out_path;
  if (signing && !sign_folder.ok()) return fail("", "cannot make a temporary file to sign: no temporary folder");
  std::string why;
  TempFile built;
  if (!built.create(built_path, &why)) return fail(signing ? "" : job.out_path, why);
  FileSink sink(&built, signing ? signature_fields(job.pe.header()) : std::vector<Field>{});
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
  // Every check before anything is written, in this order: the certificate
  // before a package is packed (its uninstaller signed) or read.
  using Step = int (*)(BuildJob&);
  const Step checks[] = {read_configuration, read_logo,     read_icon,    settle_scope,   load_stub,
                         check_signing,      open_package,  settle_digest, record_scope, record_mirrors,
                         check_out_name,     make_record};
  for (Step step : checks)
    if (int rc = step(job)) return rc;
  make_icon(job);
  warn_about(job);
  put_resources(job);
  describe(job);
  return dry_run ? report_dry_run(job) : write_installer(job);
}

// Where `list` finds the installed-file list: uninst.dat beside the program
// (or named itself), else the program's own resource.
int read_installed_list(const std::string& path, rt::Text* list) {
  const std::filesystem::path named = upath(path);
  const bool is_list_file = lower_ascii(ustr(named.filename())) == format::kListFileName;
  const std::filesystem::path beside = named.parent_path() / format::kListFileName;
  std::error_code ec;
  if (is_list_file || std::filesystem::is_regular_file(beside, ec)) {
    const std::string file = is_list_file ? path : ustr(beside);
    auto sealed = read_input(file);
    if (!sealed) return 1;
    *list = format::open_installed_list(rt::Bytes(*sealed));
    return 0;
  }
  auto bytes = read_input(path);
  if (!bytes) return 1;
  rt::PeResources pe;
  std::string error;
  if (!pe.load(std::move(*bytes), &error)) return fail(path, error);
  const std::string* resource = pe.find(rt::ResourceId::of_text(format::kListResourceType),
                                        rt::ResourceId::of_text(format::kListResourceName));
  if (!resource)
    return fail(path, "no installed-file list (resource " + in_quotes(format::kListResourceType) + "/" +
                          in_quotes(format::kListResourceName) + ", nor " + format::kListFileName +
                          " beside it); the installer records it when it installs");
  *list = format::open_installed_list(rt::Bytes(*resource));
  return 0;
}

}  // namespace

const char* help_text(const std::string& command) {
  if (command.empty()) return kMainHelp;
  if (command == "build") return kBuildHelp;
  if (command == "check") return kCheckHelp;
  if (command == "pack") return kPackHelp;
  if (command == "inspect") return kInspectHelp;
  if (command == "list") return kListHelp;
  if (command == "help") return kHelpHelp;
  return "";
}

int run_build(const Args& args) {
  auto p = parse("build", args, kBuildOptions);
  if (!p) return 1;
  if (p->help) {
    out(kBuildHelp);
    return 0;
  }
  return build("build", *p, p->has("dry-run"));
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
  auto p = parse("pack", args, kPackOptions);
  if (!p) return 1;
  if (p->help) {
    out(kPackHelp);
    return 0;
  }
  if (p->operands.size() != 1)
    return usage_error("pack", p->operands.empty() ? "missing folder operand" : "too many operands");
  std::string out_path = p->value("out");
  if (out_path.empty()) return usage_error("pack", "missing --out PKG.zip");
#ifdef MKINSTALLER_HAS_PACK
  Signer signer(sign_options(*p));
  std::string file, why;
  if (!check_sign_options(signer.options(), &why)) return usage_error("pack", why);
  const SignOptions& sign = signer.options();
  if (!check_output(out_path, {sign.pkcs12, sign.password_file, sign.ca_file}, &why)) return fail(out_path, why);
  PrivateFolder folder;
  if (!folder.ok()) return fail("", "cannot make a temporary folder to sign the uninstaller in");
  PackResult packed;
  if (!pack_folder(p->operands[0], out_path, uninstaller_for(p->has("no-uninstaller"), &signer, folder.path()),
                   &packed, &file, &why))
    return fail(file, why);
  out("wrote " + out_path + ": " + plural(packed.files, "file", "files") + ", " +
      plural(packed.folders, "folder", "folders") +
      (packed.added_uninstaller ? std::string(", with the uninstaller added as {app}/") + format::kUninstallerFile +
                                      (sign.any() ? ", signed" + signer.note() : "")
                                : "") +
      "\n");
  return 0;
#else
  return fail("",
              "pack is not available in this Windows build; use the Linux build or a ZIP tool that stores UTF-8 names");
#endif
}

int run_list(const Args& args) {
  auto p = parse("list", args, {});
  if (!p) return 1;
  if (p->help) {
    out(kListHelp);
    return 0;
  }
  if (p->operands.size() != 1)
    return usage_error("list", p->operands.empty() ? "missing file operand" : "too many operands");
  rt::Text installed;
  if (int rc = read_installed_list(p->operands[0], &installed)) return rc;
  std::string lines;
  for (const format::ListedPath& line : format::ListLines(installed.view()))
    lines += rt::utf8_from_cp936(line.path) + "\n";
  if (lines.empty()) warn(p->operands[0], "the installed-file list is empty");
  out(lines);
  return 0;
}

}  // namespace mkinstaller
