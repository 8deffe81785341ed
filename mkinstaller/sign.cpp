#include "mkinstaller/sign.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <memory>

#include "mkinstaller/certificate.h"
#include "mkinstaller/checks.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace mkinstaller {

namespace {

#ifdef _WIN32
const char kOsslsigncode[] = "osslsigncode.exe";
const char kNull[] = "NUL";
FILE* open_pipe(const std::string& command, const char* mode) {
  std::wstring wide = upath("\"" + command + "\"").wstring();
  return _wpopen(wide.c_str(), mode[0] == 'r' ? L"rb" : L"wb");
}
int close_pipe(FILE* f) { return _pclose(f); }
#else
const char kOsslsigncode[] = "osslsigncode";
const char kNull[] = "/dev/null";
FILE* open_pipe(const std::string& command, const char* mode) { return popen(command.c_str(), mode); }
int close_pipe(FILE* f) {
  int rc = pclose(f);
  return rc == -1 ? -1 : (WIFEXITED(rc) ? WEXITSTATUS(rc) : 128);
}
#endif

bool have_osslsigncode() {
  return run_command(std::string(kOsslsigncode) + " --version >" + kNull + " 2>" + kNull) == 0;
}

const char kInstallOsslsigncode[] = "(Debian: apt-get install osslsigncode)";

std::string trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  std::size_t start = s.find_first_not_of(" \t");
  return start == std::string::npos ? "" : s.substr(start);
}

bool contains(const std::string& text, const char* what) { return text.find(what) != std::string::npos; }

// The first line of `text` that contains `what`, trimmed; "" when none does.
std::string line_with(const std::string& text, const char* what) {
  std::size_t at = text.find(what);
  if (at == std::string::npos) return "";
  std::size_t start = text.rfind('\n', at);
  start = start == std::string::npos ? 0 : start + 1;
  return trim(text.substr(start, text.find('\n', at) - start));
}

// The password the options name: `*none` when there is none (no password
// option says so, or it names an empty file or variable).
bool password_of(const SignOptions& o, std::string* password, bool* none, std::string* why) {
  *none = true;
  if (!o.password_file.empty()) {
    auto text = read_file(o.password_file, why);
    if (!text) {
      *why = o.password_file + ": " + *why;
      return false;
    }
    *password = trim(*text);
  } else if (!o.password_env.empty()) {
    const char* value = std::getenv(o.password_env.c_str());
    *password = value ? value : "";
  }
  *none = password->empty();
  return true;
}

// Runs osslsigncode with `arguments`, the password (when there is one) on
// its standard input, never on a command line others can read. Its exit
// status; what it wrote to stderr in *errors.
int run_osslsigncode(const std::string& arguments, const SignOptions& o, const std::string& folder,
                     std::string* errors) {
  std::string password, why;
  bool none = true;
  if (!password_of(o, &password, &none, &why)) {
    *errors = why;
    return -1;
  }
  const std::string error_file = folder + "/osslsigncode.err";
  std::string command = std::string(kOsslsigncode) + " " + arguments + (none ? "" : " -readpass -") + " >" + kNull +
                        " 2>" + shell_quote(error_file);
  std::fflush(stdout);
  std::fflush(stderr);
  FILE* pipe = open_pipe(command, "w");
  if (!pipe) {
    *errors = "cannot start osslsigncode";
    return -1;
  }
  if (!none) std::fputs(password.c_str(), pipe);
  int rc = close_pipe(pipe);
  std::string ignored;
  *errors = read_file(error_file, &ignored).value_or("");
  std::error_code ec;
  std::filesystem::remove(upath(error_file), ec);
  return rc;
}

// Why osslsigncode could not sign with the .p12, from what it said.
std::string pkcs12_problem(const SignOptions& o, int rc, const std::string& errors) {
  std::string password, why;
  bool none = true;
  password_of(o, &password, &none, &why);
  if (contains(errors, "Wrong password") || contains(errors, "mac verify failure") ||
      contains(errors, "invalid password"))
    return none ? "it needs a password: give it with --sign-password-file or --sign-password-env"
                : "the password does not open it (a wrong password?)";
  if (contains(errors, "Failed to read key or certificates") || contains(errors, "Failed to parse PKCS#12"))
    return "not a PKCS#12 file holding a key and its certificate";
  std::string last = trim(errors);
  last = last.substr(last.rfind('\n') == std::string::npos ? 0 : last.rfind('\n') + 1);
  return "osslsigncode could not sign with it (exit status " + std::to_string(rc) +
         (last.empty() ? "" : ": " + last) + ")";
}

bool timestamp_failed(const std::string& errors) {
  return contains(errors, "timestamping failed") || contains(errors, "HTTP failure") ||
         contains(errors, "Timestamp") || contains(errors, "timestamp");
}

// What a time-stamp server did, from what osslsigncode (OpenSSL) said:
// "answered HTTP 500 (Internal Server Error)", "did not answer (connection
// refused)", ...
std::string timestamp_problem(const std::string& errors) {
  const std::size_t code = errors.find("code=");
  if (code != std::string::npos) {
    std::string status = errors.substr(code + 5, errors.find_first_not_of("0123456789", code + 5) - code - 5);
    const std::size_t reason = errors.find("reason=", code);
    std::string text = reason == std::string::npos ? "" : errors.substr(reason + 7);
    text = text.substr(0, text.find_first_of(":\n"));
    if (!status.empty()) return "answered HTTP " + status + (text.empty() ? "" : " (" + text + ")");
  }
  if (contains(errors, "Connection refused")) return "did not answer (connection refused)";
  if (contains(errors, "timed out") || contains(errors, "timeout")) return "did not answer in time";
  if (contains(errors, "HTTP failure") || contains(errors, "CURL failure")) {
    for (const char* what : {"HTTP failure", "CURL failure"}) {
      std::string line = line_with(errors, what);
      if (!line.empty()) return "did not answer (" + line + ")";
    }
  }
  return "gave no usable time-stamp";
}

// The certificate table of a signed program.
bool certificate_table(const std::string& path, std::string* table, std::string* why) {
  auto file = std::make_shared<InputFile>();
  if (!file->open(path, why)) return false;
  rt::PeResources pe;
  if (!pe.open(file, why)) return false;
  const rt::PeHeaderInfo& h = pe.header();
  table->assign(h.certificate_size, '\0');
  if (!h.certificate_size || !file->read_at(h.certificate_offset, table->data(), table->size())) {
    *why = "the program carries no signature";
    return false;
  }
  return true;
}

// Whether the program at `path` is `built` with only a signature added: the
// certificate table right after it (zeros between); the checksum and the
// table's directory entry may differ, nothing else. The table itself is
// verify_signature()'s to judge.
bool only_signature_added(const std::string& path, const BuiltProgram& built, std::string* why) {
  auto file = std::make_shared<InputFile>();
  if (!file->open(path, why)) return false;
  rt::PeResources pe;
  std::string error;
  if (!pe.open(file, &error)) {
    *why = "the signed file is no longer a program (" + error + ")";
    return false;
  }
  const rt::PeHeaderInfo& h = pe.header();
  const std::uint64_t at = h.certificate_offset;
  std::string padding(static_cast<std::size_t>(std::min<std::uint64_t>(at > built.size ? at - built.size : 0, 8)), '\0');
  if (h.certificate_size == 0)
    *why = "the signing left the file unsigned (it carries no signature)";
  else if (at < built.size || at - built.size >= 8)
    *why = "the signature does not follow the program as a signature must";
  else if (!file->read_at(built.size, padding.data(), padding.size()) ||
           padding.find_first_not_of('\0') != std::string::npos ||
           unsigned_digest(*file, built.size, built.fields) != built.digest)
    *why = "the signed file is not the program that was built (the signing changed it)";
  else
    return true;
  return false;
}

}  // namespace

bool check_sign_options(const SignOptions& o, std::string* why) {
  auto fail_with = [&](std::string message) {
    *why = std::move(message);
    return false;
  };
  if (!o.pkcs12.empty() && !o.command.empty()) return fail_with("give either --sign-pkcs12 or --sign-command, not both");
  if (!o.command.empty() && o.command.find("{file}") == std::string::npos)
    return fail_with("--sign-command needs {file} where the installer's path goes, e.g. 'signtool sign /a {file}'");
  const int passwords = !o.password_file.empty() + !o.password_env.empty() + o.no_password;
  if (o.pkcs12.empty() && (passwords || !o.timestamps.empty()))
    return fail_with(
        "--sign-password-file, --sign-password-env, --sign-no-password and --sign-timestamp go with --sign-pkcs12");
  if (!o.any() && !o.ca_file.empty()) return fail_with("--sign-ca-file goes with --sign-pkcs12 or --sign-command");
  if (passwords > 1)
    return fail_with("give one of --sign-password-file, --sign-password-env and --sign-no-password");
  if (!o.pkcs12.empty() && passwords == 0)
    return fail_with("--sign-pkcs12 needs its password: --sign-password-file FILE or --sign-password-env NAME, or "
                     "--sign-no-password for a .p12 without one");
  if (!o.password_env.empty() && !std::getenv(o.password_env.c_str()))
    return fail_with("--sign-password-env names " + o.password_env + ", which is not set");
  for (const std::string& t : o.timestamps)
    if (t.compare(0, 7, "http://") != 0 && t.compare(0, 8, "https://") != 0)
      return fail_with("--sign-timestamp needs an http:// or https:// address of a time-stamping server, not '" + t +
                       "'");
  std::error_code ec;
  for (const std::string& file : {o.pkcs12, o.password_file, o.ca_file})
    if (!file.empty() && !std::filesystem::is_regular_file(upath(file), ec)) return fail_with(file + ": no such file");
  // Every signature is verified with osslsigncode, whoever made it.
  if (o.any() && !have_osslsigncode())
    return fail_with("signing needs osslsigncode, which signs with --sign-pkcs12 and verifies every signature, and it "
                     "is not installed " + std::string(kInstallOsslsigncode));
  return true;
}

std::vector<Field> signature_fields(const rt::PeHeaderInfo& h) {
  return {{h.checksum_field, 4}, {h.certificate_entry, 8}};
}

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

std::string certificate_table_problem(rt::ResourceSource& file, const rt::PeHeaderInfo& h) {
  const std::uint64_t at = h.certificate_offset, size = h.certificate_size, end = at + size;
  const auto bytes = [](std::uint64_t n) { return plural(n, "byte", "bytes"); };
  if (size == 0) return "";
  if (end > file.size()) return "the certificate table runs " + bytes(end - file.size()) + " past the end of the file";
  if (end < file.size()) return "the file carries " + bytes(file.size() - end) + " after its certificate table";
  if (at < h.sections_end) return "the certificate table lies inside the program, not after it";
  if (at % 8 || size % 8) return "the certificate table does not start and end on 8-byte boundaries";
  // WIN_CERTIFICATE: dwLength, wRevision 0x0200, wCertificateType 2 (PKCS#7
  // SignedData), then the signature: a DER SEQUENCE, whose own length says
  // where it ends, whatever dwLength claims.
  unsigned char head[14] = {};
  if (!file.read_at(at, head, static_cast<std::size_t>(std::min<std::uint64_t>(size, sizeof head))))
    return "the certificate table cannot be read";
  const auto le32 = [](const unsigned char* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
  };
  const bool pkcs7 = size >= 10 && head[4] == 0 && head[5] == 2 && head[6] == 2 && head[7] == 0 && head[8] == 0x30;
  const std::size_t count = head[9] & 0x80 ? head[9] & 0x7F : 0;  // bytes of a long-form length
  if (!pkcs7 || head[9] == 0x80 || count > 4)
    return "the certificate table holds no Authenticode signature";
  std::uint64_t signature_end = 10 + count + (count ? 0 : head[9]);
  for (std::size_t i = 0; i < count; ++i) signature_end += std::uint64_t{head[10 + i]} << 8 * (count - 1 - i);
  const std::uint64_t length = le32(head), rounded = (signature_end + 7) / 8 * 8;
  if (length < signature_end)
    return "the signature runs past the length its WIN_CERTIFICATE gives (" + bytes(length) + ")";
  if (length > size)
    return "the WIN_CERTIFICATE's length (" + bytes(length) + ") runs past the certificate table (" + bytes(size) +
           ")";
  if (size > rounded) {
    // Named when another WIN_CERTIFICATE starts where the first one ends.
    const std::uint64_t next = (length + 7) / 8 * 8;
    unsigned char second[8];
    if (next + 8 <= size && file.read_at(at + next, second, 8) && le32(second) >= 8 && second[4] == 0 &&
        second[5] == 2)
      return "the certificate table holds more than one certificate";
    return "the certificate table holds " + bytes(size - rounded) + " after its signature";
  }
  char padding[8] = {};
  const std::size_t n = static_cast<std::size_t>(size - signature_end);
  if (!file.read_at(at + signature_end, padding, n) ||
      std::any_of(padding, padding + n, [](char c) { return c != '\0'; }))
    return "the padding after the signature is not zeros";
  return "";
}

std::string SignatureCheck::text(const std::string& ca_file) const {
  if (!present) return "not signed";
  std::string text = "signed" + (signer.empty() ? std::string() : " by " + signer);
  if (verified)
    return text + "; the signature verifies" + (ca_file.empty() ? "" : " against " + ca_file) +
           (timestamp.empty() ? ", not time-stamped" : ", time-stamped " + timestamp);
  return text + "; THE SIGNATURE DOES NOT VERIFY: " + problem;
}

SignatureCheck verify_signature(const std::string& path, const std::string& ca_file) {
  SignatureCheck check;
  check.present = true;
  {
    // The table first: osslsigncode verifies the signature its WIN_CERTIFICATE
    // starts with and overlooks any bytes after it there.
    auto file = std::make_shared<InputFile>();
    rt::PeResources pe;
    if (!file->open(path, &check.problem) || !pe.open(file, &check.problem)) {
      check.problem = "it cannot be read: " + check.problem;
      return check;
    }
    check.present = pe.header().certificate_size != 0;
    check.problem = certificate_table_problem(*file, pe.header());
    if (!check.present || !check.problem.empty()) return check;
  }
  if (!have_osslsigncode()) {
    check.problem = "osslsigncode, which verifies it, is not installed here " + std::string(kInstallOsslsigncode);
    return check;
  }
  std::string command = std::string(kOsslsigncode) + " verify -in " + shell_quote(path);
  if (!ca_file.empty()) command += " -CAfile " + shell_quote(ca_file) + " -TSA-CAfile " + shell_quote(ca_file);
  command += " 2>&1";
  std::fflush(stdout);
  FILE* pipe = open_pipe(command, "r");
  if (!pipe) {
    check.problem = "osslsigncode could not be started to verify it";
    return check;
  }
  std::string output;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  int rc = close_pipe(pipe);
  if (contains(output, "No signature found")) {
    check.present = false;
    return check;
  }
  std::size_t block = output.find("Signer's certificate:");
  std::size_t subject = block == std::string::npos ? block : output.find("Subject:", block);
  if (subject != std::string::npos)
    check.signer = trim(output.substr(subject + 8, output.find('\n', subject) - subject - 8));
  // What osslsigncode prints after a label, up to the end of its line.
  auto field = [&](const char* label) {
    std::size_t at = output.find(label);
    std::size_t colon = at == std::string::npos ? at : output.find(':', at);
    return colon == std::string::npos ? std::string()
                                      : trim(output.substr(colon + 1, output.find('\n', colon) - colon - 1));
  };
  check.timestamp = field("Timestamp time");
  if (rc == 0 && contains(output, "Signature verification: ok")) {
    check.verified = true;
    return check;
  }
  check.problem = "it does not verify";
  std::string current = field("Current message digest"), calculated = field("Calculated message digest");
  if (!current.empty() && current != calculated)
    check.problem = "the file was changed after it was signed";
  else if (contains(output, "certificate verify error") || contains(output, "Signature verification: failed")) {
    check.problem = "its certificate does not lead to a trusted authority, or may not sign code";
    check.untrusted = true;
  }
  return check;
}

const std::string& Signer::folder() {
  if (!folder_) folder_ = std::make_unique<PrivateFolder>();
  return folder_->path();
}

bool Signer::check_certificate(const std::string& sample, std::string* why, bool try_timestamps) {
  if (options_.pkcs12.empty()) return true;
  if (folder().empty()) {
    *why = "cannot make a temporary folder to try the certificate in";
    return false;
  }
  const std::string trial = folder() + "/trial.exe", signed_trial = folder() + "/trial-signed.exe";
  std::string errors;
  {
    InputFile in;
    TempFile copy;
    if (!in.open(sample, why) || !copy.create(trial, why) || !copy_into(in, copy, why) || !copy.commit(why)) {
      *why = "cannot copy " + sample + " to try the certificate: " + *why;
      return false;
    }
  }
  int rc = run_osslsigncode("sign -pkcs12 " + shell_quote(options_.pkcs12) + " -h sha256 -in " + shell_quote(trial) +
                                " -out " + shell_quote(signed_trial),
                            options_, folder(), &errors);
  if (rc != 0) {
    *why = pkcs12_problem(options_, rc, errors);
    return false;
  }
  std::string table;
  SignerCertificate certificate;
  if (!certificate_table(signed_trial, &table, why) || !signer_certificate(table, &certificate, why)) return false;
  *why = code_signing_problem(certificate, static_cast<std::int64_t>(std::time(nullptr)));
  if (!why->empty()) return false;
  // The time-stamp servers asked as signing will ask them.
  std::string unanswered;
  bool stamped = options_.timestamps.empty() || !try_timestamps;
  for (const std::string& server : try_timestamps ? options_.timestamps : std::vector<std::string>()) {
    const std::string stamped_trial = folder() + "/trial-stamped.exe";
    std::error_code gone;
    std::filesystem::remove(upath(stamped_trial), gone);
    if (run_osslsigncode("sign -pkcs12 " + shell_quote(options_.pkcs12) + " -h sha256 -ts " + shell_quote(server) +
                             " -in " + shell_quote(trial) + " -out " + shell_quote(stamped_trial),
                         options_, folder(), &errors) == 0)
      stamped = true;
    else
      unanswered += (unanswered.empty() ? "" : "; ") + server + " " + timestamp_problem(errors);
    std::filesystem::remove(upath(stamped_trial), gone);
  }
  if (!stamped) {
    *why = "time-stamping would fail: no time-stamp server gave a time-stamp: " + unanswered;
    return false;
  }
  if (!unanswered.empty()) timestamp_warning_ = "a time-stamp server would be passed over: " + unanswered;
  std::error_code ec;
  std::filesystem::remove(upath(trial), ec);
  std::filesystem::remove(upath(signed_trial), ec);
  return true;
}

bool Signer::sign_with_pkcs12(const std::string& path, std::string* why) {
  // osslsigncode writes a new file beside the one it signs (in the caller's
  // own folder), which then takes its place.
  const std::string signed_path = path + ".signed";
  const std::string base = "sign -pkcs12 " + shell_quote(options_.pkcs12) + " -h sha256";
  const std::string files = " -in " + shell_quote(path) + " -out " + shell_quote(signed_path);
  std::vector<std::string> servers = options_.timestamps;
  if (servers.empty()) servers.push_back("");
  std::string unanswered;
  for (const std::string& server : servers) {
    std::string errors;
    std::error_code ec;
    std::filesystem::remove(upath(signed_path), ec);
    int rc = run_osslsigncode(base + (server.empty() ? "" : " -ts " + shell_quote(server)) + files, options_,
                              folder(), &errors);
    if (rc == 0) {
      std::filesystem::rename(upath(signed_path), upath(path), ec);
      if (ec) *why = "cannot replace the file with the signed one";
      if (!server.empty()) note_ = ", time-stamped by " + server;
      return !ec;
    }
    if (server.empty() || !timestamp_failed(errors) || contains(errors, "Wrong password")) {
      *why = options_.pkcs12 + ": " + pkcs12_problem(options_, rc, errors);
      return false;
    }
    unanswered += (unanswered.empty() ? "" : "; ") + server + " " + timestamp_problem(errors);
  }
  *why = "time-stamping failed: no time-stamp server gave a time-stamp: " + unanswered + "; nothing was signed" +
         (servers.size() == 1 ? " (give a second server with another --sign-timestamp)" : "");
  return false;
}

bool Signer::sign(const std::string& path, const BuiltProgram& built, std::string* why) {
  note_.clear();
  if (!options_.command.empty()) {
    std::string command;
    for (std::size_t i = 0; i < options_.command.size();) {
      if (options_.command.compare(i, 6, "{file}") == 0) {
        command += shell_quote(path);
        i += 6;
      } else {
        command += options_.command[i++];
      }
    }
    int rc = run_command(command);
    if (rc != 0) {
      *why = "the signing command failed (exit status " + std::to_string(rc) + ")";
      return false;
    }
  } else if (!sign_with_pkcs12(path, why)) {
    return false;
  }
  // Proven, not assumed: whatever signed it, the file must be the program
  // built with a signature added, and that signature must verify.
  if (!only_signature_added(path, built, why)) {
    *why = "signing failed: " + *why;
    return false;
  }
  SignatureCheck check = verify_signature(path, options_.ca_file);
  if (!check.verified) {
    *why = "signing failed: " +
           (check.present ? "the signature does not verify: " + check.problem +
                                (options_.ca_file.empty() && check.untrusted
                                     ? " (for a private root, name it with --sign-ca-file)"
                                     : "")
                          : std::string("the signing left the file unsigned"));
    return false;
  }
  note_ = " by " + check.signer + note_;
  return true;
}

bool sign_copy(Signer& signer, const std::string& program, const std::string& folder, std::string* signed_copy,
               std::string* why) {
  *signed_copy = folder + "/" + ustr(upath(program).filename());
  BuiltProgram built;
  {
    auto in = std::make_shared<InputFile>();
    TempFile copy;
    rt::PeResources pe;
    if (!in->open(program, why) || !pe.open(in, why)) {
      *why = program + ": " + *why;
      return false;
    }
    if (!copy.create(*signed_copy, why) || !copy_into(*in, copy, why) || !copy.commit(why)) {
      *why = "cannot copy " + program + " to sign it: " + *why;
      return false;
    }
    built.size = in->size();
    built.fields = signature_fields(pe.header());
    built.digest = unsigned_digest(*in, built.size, built.fields);
  }
  if (signer.sign(*signed_copy, built, why)) return true;
  *why = program + ": " + *why;
  return false;
}

}  // namespace mkinstaller
