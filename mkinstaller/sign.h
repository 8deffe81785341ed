// Authenticode signing of a built installer, the last step of `build`: with
// osslsigncode and a PKCS#12 file, or with the publisher's own command (a
// hardware token, a signing service). And what `inspect` says of a signature.
#pragma once

#include <string>

namespace mkinstaller {

struct SignOptions {
  std::string pkcs12;         // --sign-pkcs12 FILE
  std::string password_file;  // --sign-password-file FILE
  std::string password_env;   // --sign-password-env NAME
  std::string timestamp;      // --sign-timestamp URL (RFC 3161)
  std::string command;        // --sign-command 'CMD {file}'
  bool any() const { return !pkcs12.empty() || !command.empty(); }
};

// Checks the options before anything is built; false with the message.
bool check_sign_options(const SignOptions& options, std::string* why);
// Signs the file at `path`, in a folder of this run's own, in place
// (SHA-256). False with the reason.
bool sign_file(const std::string& path, const SignOptions& options, std::string* why);

// "signed by ..., the signature verifies" or why not; `ca_file` may name the
// certificate authorities to trust (else the system's).
std::string describe_signature(const std::string& path, const std::string& ca_file);

}  // namespace mkinstaller
