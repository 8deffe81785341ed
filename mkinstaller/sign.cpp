#include "mkinstaller/sign.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "mkinstaller/files.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace mkinstaller {

namespace {

#ifdef _WIN32
const char kOsslsigncode[] = "osslsigncode.exe";
FILE* open_pipe(const std::string& command, const char* mode) {
  std::wstring wide = upath("\"" + command + "\"").wstring();
  return _wpopen(wide.c_str(), mode[0] == 'r' ? L"rb" : L"wb");
}
int close_pipe(FILE* f) { return _pclose(f); }
#else
const char kOsslsigncode[] = "osslsigncode";
FILE* open_pipe(const std::string& command, const char* mode) { return popen(command.c_str(), mode); }
int close_pipe(FILE* f) {
  int rc = pclose(f);
  return rc == -1 ? -1 : (WIFEXITED(rc) ? WEXITSTATUS(rc) : 128);
}
#endif

bool have_osslsigncode() {
#ifdef _WIN32
  return run_command(std::string(kOsslsigncode) + " --version >NUL 2>NUL") == 0;
#else
  return run_command(std::string(kOsslsigncode) + " --version >/dev/null 2>&1") == 0;
#endif
}

std::string trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ' || s.back() == '\t')) s.pop_back();
  std::size_t start = s.find_first_not_of(" \t");
  return start == std::string::npos ? "" : s.substr(start);
}

}  // namespace

bool check_sign_options(const SignOptions& o, std::string* why) {
  if (!o.pkcs12.empty() && !o.command.empty()) {
    *why = "give either --sign-pkcs12 or --sign-command, not both";
    return false;
  }
  if (!o.command.empty() && o.command.find("{file}") == std::string::npos) {
    *why = "--sign-command needs {file} where the installer's path goes, e.g. 'signtool sign /a {file}'";
    return false;
  }
  bool password = !o.password_file.empty() || !o.password_env.empty();
  if (o.pkcs12.empty() && (password || !o.timestamp.empty())) {
    *why = "--sign-password-file, --sign-password-env and --sign-timestamp go with --sign-pkcs12";
    return false;
  }
  if (!o.password_file.empty() && !o.password_env.empty()) {
    *why = "give either --sign-password-file or --sign-password-env, not both";
    return false;
  }
  if (!o.password_env.empty() && !std::getenv(o.password_env.c_str())) {
    *why = "--sign-password-env names " + o.password_env + ", which is not set";
    return false;
  }
  if (!o.timestamp.empty() && o.timestamp.compare(0, 7, "http://") != 0 && o.timestamp.compare(0, 8, "https://") != 0) {
    *why = "--sign-timestamp needs an http:// or https:// address of a time-stamping server";
    return false;
  }
  if (!o.pkcs12.empty()) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(upath(o.pkcs12), ec)) {
      *why = o.pkcs12 + ": no such file";
      return false;
    }
    if (!have_osslsigncode()) {
      *why = "--sign-pkcs12 signs with osslsigncode, which is not installed (Debian: apt-get install osslsigncode)";
      return false;
    }
  }
  return true;
}

bool sign_file(const std::string& path, const SignOptions& o, std::string* why) {
  if (!o.command.empty()) {
    std::string command;
    for (std::size_t i = 0; i < o.command.size();) {
      if (o.command.compare(i, 6, "{file}") == 0) {
        command += shell_quote(path);
        i += 6;
      } else {
        command += o.command[i++];
      }
    }
    int rc = run_command(command);
    if (rc != 0) {
      *why = "the signing command failed (exit status " + std::to_string(rc) + ")";
      return false;
    }
    return true;
  }
  // osslsigncode writes a new file, beside the one it signs (in the caller's
  // own folder), which then takes its place.
  std::string signed_path = path + ".signed";
  std::string command = std::string(kOsslsigncode) + " sign -pkcs12 " + shell_quote(o.pkcs12) + " -h sha256";
  if (!o.timestamp.empty()) command += " -ts " + shell_quote(o.timestamp);
  // The password never goes on a command line, where others can read it.
  command += " -readpass " + (o.password_file.empty() ? std::string("-") : shell_quote(o.password_file));
  command += " -in " + shell_quote(path) + " -out " + shell_quote(signed_path);
#ifdef _WIN32
  command += " >NUL";
#else
  command += " >/dev/null";
#endif
  int rc;
  if (o.password_file.empty()) {
    FILE* pipe = open_pipe(command, "w");
    if (!pipe) {
      *why = "cannot start osslsigncode";
      return false;
    }
    const char* password = o.password_env.empty() ? "" : std::getenv(o.password_env.c_str());
    if (password) std::fputs(password, pipe);
    rc = close_pipe(pipe);
  } else {
    rc = run_command(command);
  }
  if (rc != 0) {
    *why = "osslsigncode could not sign it (exit status " + std::to_string(rc) +
           "; a wrong password, or a certificate without its key?)";
    return false;
  }
  std::error_code ec;
  std::filesystem::rename(upath(signed_path), upath(path), ec);
  if (ec) *why = "cannot replace the file with the signed one";
  return !ec;
}

std::string describe_signature(const std::string& path, const std::string& ca_file) {
  if (!have_osslsigncode()) return "signed (install osslsigncode to verify the signature here)";
  std::string command = std::string(kOsslsigncode) + " verify -in " + shell_quote(path);
  if (!ca_file.empty()) command += " -CAfile " + shell_quote(ca_file) + " -TSA-CAfile " + shell_quote(ca_file);
  command += " 2>&1";
  FILE* pipe = open_pipe(command, "r");
  if (!pipe) return "signed (osslsigncode could not be started to verify it)";
  std::string output;
  char buffer[4096];
  while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe)) output.append(buffer, n);
  int rc = close_pipe(pipe);
  std::string signer;
  std::size_t block = output.find("Signer's certificate:");
  std::size_t subject = block == std::string::npos ? block : output.find("Subject:", block);
  if (subject != std::string::npos) signer = trim(output.substr(subject + 8, output.find('\n', subject) - subject - 8));
  std::string text = "signed" + (signer.empty() ? std::string() : " by " + signer);
  // What osslsigncode prints after a label, up to the end of its line.
  auto field = [&](const char* label) {
    std::size_t at = output.find(label);
    std::size_t colon = at == std::string::npos ? at : output.find(':', at);
    return colon == std::string::npos ? std::string()
                                      : trim(output.substr(colon + 1, output.find('\n', colon) - colon - 1));
  };
  std::string stamp = field("Timestamp time");
  if (rc == 0 && output.find("Signature verification: ok") != std::string::npos)
    return text + "; the signature verifies" + (ca_file.empty() ? "" : " against " + ca_file) +
           (stamp.empty() ? ", not time-stamped" : ", time-stamped " + stamp);
  std::string reason = "it does not verify";
  std::string current = field("Current message digest"), calculated = field("Calculated message digest");
  if (!current.empty() && current != calculated)
    reason = "the file was changed after it was signed";
  else if (output.find("certificate verify error") != std::string::npos ||
           output.find("Signature verification: failed") != std::string::npos)
    reason = "its certificate does not lead to a trusted authority" +
             std::string(ca_file.empty() ? " (name one with --ca-file)" : "");
  return text + "; THE SIGNATURE DOES NOT VERIFY: " + reason;
}

}  // namespace mkinstaller
